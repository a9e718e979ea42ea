#include "ui/ViewTestSupport.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Page.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/RichTextBuilder.h"

#include <QTextBrowser>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

Passage passage(int n, long long book, long long seq, const QString& text)
{
    Passage p;
    p.n = n;
    p.bookId = book;
    p.seq = seq;
    p.pageId = book * 1000 + seq;
    p.bookTitle = QStringLiteral(u"موطأ الإمام مالك");
    p.author = QStringLiteral(u"مالك بن أنس");
    p.pageNum = seq;
    p.text = text;
    return p;
}

const QString zakat = QStringLiteral(
    u"قال مالك: الأمر المجتمع عليه عندنا أن الزكاة لا تجب في مال حتى يحول عليه الحول، وأن النصاب شرط في وجوبها، "
    u"ولا زكاة على من لم يملك نصابا كاملا من الذهب أو الورق أو الماشية أو الحرث، ومن ملكه حولا كاملا وجبت عليه "
    u"الزكاة في ماله كله، ولا زكاة في العروض حتى تدار للتجارة ويحول عليها الحول من يوم زكاها أو ملكها، وهذا قول أهل "
    u"العلم ببلدنا لا اختلاف فيه.");

AIAnswer answerWith(AIMode mode, QList<Passage> passages)
{
    AIAnswer a{mode, QStringLiteral(u"ما شروط وجوب الزكاة؟"), std::move(passages)};
    a.topic = QStringLiteral(u"شروط وجوب الزكاة");
    return a;
}

struct Rendered {
    std::unique_ptr<QTextDocument> doc;
    QString text;

    // Where `needle` begins; -1 when it does not occur.
    qsizetype at(const QString& needle, qsizetype from = 0) const { return text.indexOf(needle, from); }
    QTextCharFormat format(qsizetype position) const { return RichText::formatAt(*doc, position); }
    QString href(qsizetype position) const { return RichText::hrefAt(*doc, position); }
    QStringList links() const
    {
        QStringList out;
        QString last;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QString h = href(i);
            if (!h.isEmpty() && h != last)
                out << h;
            last = h;
        }
        return out;
    }
};

Rendered render(const AIAnswer& a, AnswerRenderer::Options options = {})
{
    RichTextBuilder out;
    AnswerRenderer::render(out, a, options);
    Rendered r;
    r.text = out.text();
    r.doc = out.take();
    return r;
}

class AnswerRendererTest : public ::testing::Test {
protected:
    void SetUp() override { test::preparePanels(); }
};

} // namespace

TEST_F(AnswerRendererTest, answerWithoutPassagesHasNoCountSourcesOrSuggestions)
{
    AIAnswer a = answerWith(AIMode::answer, {});
    a.text = QStringLiteral(u"لم أجد في الكتب ما يجيب عن هذا [1].");
    const Rendered r = render(a);
    EXPECT_TRUE(r.text.startsWith(AIMode(AIMode::answer).title() + u'\n'));
    EXPECT_EQ(r.at(QStringLiteral(u"راجعت")), -1);
    EXPECT_EQ(r.at(QStringLiteral(u"المصادر")), -1);
    EXPECT_EQ(r.at(QStringLiteral(u"اسأل أيضا")), -1);
    // The number names no passage: shown without a link.
    EXPECT_GE(r.at(u'[' + Arabic::num(1) + u']'), 0);
    EXPECT_TRUE(r.links().isEmpty());
}

TEST_F(AnswerRendererTest, modelAnswerGetsTheRulingLineOnlyWithoutTheMuftiWord)
{
    AIAnswer a = answerWith(AIMode::answer, {passage(1, 1, 40, zakat)});
    a.tier = 1;
    a.isRuling = true;
    a.text = QStringLiteral(u"تجب الزكاة بالنصاب والحول «لا تجب في مال حتى يحول عليه الحول» [1]. فاسأل مفتيا.");
    Rendered r = render(a);
    // A citation after a quotation points at the quoted words on its page.
    const qsizetype quotedCite = r.at(u'[' + Arabic::num(1) + u']');
    ASSERT_GE(quotedCite, 0);
    EXPECT_EQ(r.href(quotedCite), AnswerRenderer::pageLink(1, 40, QStringLiteral(u"لا تجب في مال حتى يحول عليه الحول")));
    EXPECT_EQ(r.text.count(QStringLiteral(u"مفت")), 1);
    EXPECT_TRUE(r.text.startsWith(AIMode(AIMode::answer).title()));
    EXPECT_GE(r.at(QStringLiteral(u" · كتبه النموذج المحلي\n")), 0);

    a.text = QStringLiteral(u"تجب الزكاة بالنصاب والحول [1].");
    r = render(a);
    EXPECT_GE(r.at(QStringLiteral(u"\n\nولتطبيق ذلك على حالتك بعينها، الأولى سؤال مفت مؤهل أو جهة إفتاء رسمية.")), 0);
    // The quotation is marked; the citation is a link with its tooltip, to
    // the passage's words where it follows no quotation.
    const qsizetype cite = r.at(u'[' + Arabic::num(1) + u']');
    ASSERT_GE(cite, 0);
    EXPECT_EQ(r.href(cite), AnswerRenderer::pageLink(1, 40, zakat));
    EXPECT_EQ(r.format(cite).toolTip(), a.passages[0].citation());
    EXPECT_GE(r.at(QStringLiteral(u"\nالمصادر\n")), 0);
}

TEST_F(AnswerRendererTest, aModelAnswerCitesOnlyItsCheckedQuotationsOnTheirOwnLines)
{
    const QString fasting = QStringLiteral(u"الصيام جنة فإذا كان يوم صوم أحدكم فلا يرفث ولا يصخب");
    const QList<Passage> passages{passage(1, 1, 40, zakat), passage(2, 1, 41, fasting)};
    const QString kept = QStringLiteral(u"«لا تجب في مال حتى يحول عليه الحول»");
    const QString invented = QStringLiteral(u"«كلام لم يرد في أي كتاب من الكتب»");
    // Each reply keeps the quotation of passage 1; whatever it wrote after
    // the quotations, passage 2 is cited by nothing that survives.
    const QStringList replies{
        QStringLiteral(u"تجب بالحول. ") + kept + QStringLiteral(u" [1] وقيل ") + invented + QStringLiteral(u" [2]"),
        QStringLiteral(u"تجب بالحول. ") + kept + QStringLiteral(u" [١]\nوقيل ") + invented + QStringLiteral(u"[2][2]."),
        QStringLiteral(u"تجب بالحول. ") + kept + QStringLiteral(u"\t[2] والله أعلم."),
    };
    for (const QString& reply : replies) {
        SCOPED_TRACE(reply.toStdString());
        const AIAssistant::Grounded g = AIAssistant::ground(reply, passages);
        ASSERT_EQ(g.quotes, 1);
        AIAnswer a = answerWith(AIMode::answer, passages);
        a.tier = 1;
        a.text = g.text;
        a.quoteCount = g.quotes;
        const Rendered r = render(a);
        const qsizetype sources = r.at(QStringLiteral(u"\nالمصادر\n"));
        ASSERT_GE(sources, 0);
        EXPECT_EQ(r.at(u'[' + Arabic::num(2) + u']'), -1);
        EXPECT_GE(r.at(u'[' + Arabic::num(1) + QStringLiteral(u"] "), sources), 0);
        // The marker stands on its quotation's line, never alone.
        for (const QString& line : r.text.left(sources).split(u'\n'))
            EXPECT_FALSE(line.trimmed().startsWith(u'[')) << line.toStdString();
        const qsizetype quote = r.at(kept);
        ASSERT_GE(quote, 0);
        EXPECT_EQ(r.text.indexOf(u'[', quote), quote + kept.size() + 1);
    }

    // The picture of the first, for a person to look at.
    AIAnswer shown = answerWith(AIMode::answer, passages);
    shown.tier = 1;
    shown.text = AIAssistant::ground(replies[0], passages).text;
    shown.quoteCount = 1;
    shown.note = QStringLiteral(u"حُذف اقتباس واحد لم يطابق مصادره.");
    QTextBrowser view;
    view.resize(760, 520);
    view.setDocument(render(shown).doc.release());
    view.document()->setParent(&view);
    EXPECT_TRUE(view.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/answer-removed-quotation.png")));
}

TEST_F(AnswerRendererTest, verifiedWithoutQuotationsShowsTheNoteInsteadOfTheVerifiedLine)
{
    AIAnswer a = answerWith(AIMode::answer, {passage(1, 1, 40, zakat)});
    a.tier = 1;
    a.verifiedAll = true;
    a.quoteCount = 0;
    a.text = QStringLiteral(u"الزكاة تجب بشروط [1].");
    a.note = QStringLiteral(u"لم يقتبس النموذج نصا");
    Rendered r = render(a);
    EXPECT_EQ(r.at(QStringLiteral(u"موثق")), -1);
    const qsizetype note = r.at(*a.note);
    ASSERT_GE(note, 0);
    EXPECT_EQ(r.format(note).foreground().color(), Theme::emerald());

    // With quotations, the verified line, and what was left out of the
    // reply said under it rather than kept from the reader.
    a.quoteCount = 2;
    a.note = QStringLiteral(u"حُذف من كلام النموذج ما لا تسنده المصادر.");
    r = render(a);
    const qsizetype verified =
        r.at(QStringLiteral(u"موثق: كل الاقتباسات (") + Arabic::num(2) + QStringLiteral(u") طابقت مصادرها"));
    EXPECT_GE(verified, 0);
    EXPECT_GT(r.at(*a.note), verified);
}

TEST_F(AnswerRendererTest, extractFallbackQuotesThreePassagesWithLinksButNoSources)
{
    QList<Passage> passages;
    for (int n = 1; n <= 4; ++n)
        passages << passage(n, 1, 40 + n, zakat);
    AIAnswer a = answerWith(AIMode::answer, passages);
    const Rendered r = render(a);
    EXPECT_GE(r.at(QStringLiteral(u"ما وجدته في الكتب:\n")), 0);
    EXPECT_EQ(r.text.count(u'«'), 3);
    EXPECT_EQ(r.at(QStringLiteral(u"المصادر")), -1);
    EXPECT_EQ(r.links().mid(0, 3),
              (QStringList{AnswerRenderer::pageLink(1, 41, zakat.left(260)), AnswerRenderer::pageLink(1, 42, zakat.left(260)),
                           AnswerRenderer::pageLink(1, 43, zakat.left(260))}));
    // Each quotation is the passage's first 260 characters, without an ellipsis.
    const qsizetype open = r.at(QStringLiteral(u"«"));
    const qsizetype close = r.at(QStringLiteral(u"»"), open);
    EXPECT_EQ(r.text.mid(open + 1, close - open - 1), zakat.left(260));
    EXPECT_GE(r.at(QStringLiteral(u"هذه مقتطفات حرفية من الكتب.")), 0);
    EXPECT_EQ(render(a, {false, false, true}).at(QStringLiteral(u"هذه مقتطفات حرفية")), -1);
}

TEST_F(AnswerRendererTest, extractsListTheirSourcesAndFollowUps)
{
    AIAnswer a = answerWith(AIMode::answer, {passage(1, 1, 40, zakat), passage(2, 1, 41, zakat)});
    a.extractive = {{QStringLiteral(u"الزكاة لا تجب في مال حتى يحول عليه الحول"), 2}};
    a.routed = true;
    const Rendered r = render(a);
    EXPECT_TRUE(r.text.startsWith(AIMode(AIMode::answer).title() + QStringLiteral(u" · اختير من صيغة سؤالك · راجعت ")));
    const qsizetype sources = r.at(QStringLiteral(u"\nالمصادر\n"));
    ASSERT_GE(sources, 0);
    // Only the cited passage is a source.
    const qsizetype line = r.at(u'[' + Arabic::num(2) + QStringLiteral(u"] "), sources);
    ASSERT_GE(line, 0);
    EXPECT_EQ(r.href(line), AnswerRenderer::pageLink(1, 41, zakat));
    EXPECT_EQ(r.at(u'[' + Arabic::num(1) + QStringLiteral(u"] "), sources), -1);
    // Follow-up questions on the topic, each an ask link.
    const QStringList suggestions = Intent::suggestions(AIMode::answer, a.topic);
    ASSERT_FALSE(suggestions.isEmpty());
    QStringList expected;
    for (const QString& s : suggestions)
        expected << AnswerRenderer::askLink(s);
    EXPECT_EQ(r.links().filter(QString::fromLatin1(AnswerRenderer::askLinkPrefix)), expected);
    EXPECT_GE(r.at(QStringLiteral(u"\nاسأل أيضا:  ") + suggestions.first()), 0);
}

TEST_F(AnswerRendererTest, unknownCitationsStayAsWrittenAndHeadingsTakeAtMostThreeHashes)
{
    AIAnswer a = answerWith(AIMode::report, {passage(3, 5, 9, zakat)});
    a.structured = true;
    a.text = QStringLiteral(u"#### شروط الزكاة\nالنصاب [3] والحول [7] و[١].\n## الخلاصة");
    const Rendered r = render(a);
    const qsizetype heading = r.at(QStringLiteral(u"# شروط الزكاة"));
    ASSERT_GE(heading, 0);
    EXPECT_EQ(r.format(heading + 2).font().pointSizeF(), Theme::reader(22, true).pointSizeF());
    EXPECT_TRUE(r.format(heading + 2).font().bold());
    EXPECT_EQ(r.at(QStringLiteral(u"## الخلاصة")), -1);
    EXPECT_GE(r.at(QStringLiteral(u"\nالخلاصة")), 0);
    const qsizetype unknown = r.at(u'[' + Arabic::num(7) + u']');
    ASSERT_GE(unknown, 0);
    EXPECT_TRUE(r.href(unknown).isEmpty());
    const qsizetype indic = r.at(QStringLiteral(u"[١]"));
    ASSERT_GE(indic, 0);
    EXPECT_TRUE(r.href(indic + 1).isEmpty());
    const qsizetype known = r.at(u'[' + Arabic::num(3) + u']');
    ASSERT_GE(known, 0);
    EXPECT_EQ(r.href(known), AnswerRenderer::pageLink(5, 9, zakat));
    EXPECT_GE(r.at(QStringLiteral(u"\nكل الاقتباسات منقولة حرفيا من صفحاتها")), 0);
}

TEST_F(AnswerRendererTest, dataTablesBecomeMarkersWhileExportingForWord)
{
    AIAnswer a = answerWith(AIMode::data, {});
    a.structured = true;
    a.text = QStringLiteral(u"عدد الكتب في كل قرن:");
    DataTable t;
    t.title = QStringLiteral(u"الكتب بحسب القرون");
    t.columns = {QStringLiteral(u"القرن"), QStringLiteral(u"الكتب")};
    t.rows = {{QStringLiteral(u"الثاني"), QStringLiteral(u"٣")}};
    t.note = QStringLiteral(u"عدت الكتب المثبتة وحدها");
    a.tables = {t, t};

    const Rendered shown = render(a);
    EXPECT_GE(shown.at(t.title), 0);
    EXPECT_GE(shown.at(QStringLiteral(u"صدر الجدول إلى إكسل")), 0);
    EXPECT_GE(shown.at(QStringLiteral(u" · محسوب من فهرس المكتبة مباشرة")), 0);

    const Rendered word = render(a, {true, true, false});
    EXPECT_GE(word.at(QStringLiteral("\nQUORVEL-TABLE-0\n")), 0);
    EXPECT_GE(word.at(QStringLiteral("\nQUORVEL-TABLE-1\n")), 0);
    EXPECT_EQ(word.at(t.title), -1);
    EXPECT_EQ(word.at(*t.note), -1);
    EXPECT_EQ(word.at(QStringLiteral(u"صدر الجدول")), -1);
}

TEST_F(AnswerRendererTest, askLinksKeepLettersMarksAndDigitsOfAnyScript)
{
    EXPECT_EQ(AnswerRenderer::askLink(QStringLiteral(u"ما معنى الغَرر؟ ٣")),
              QStringLiteral(u"quorvel://ask/ما%20معنى%20الغَرر%D8%9F%20٣"));
    EXPECT_EQ(AnswerRenderer::askLink(QStringLiteral(u"«a/b»")), QStringLiteral(u"quorvel://ask/%C2%ABa%2Fb%C2%BB"));
    QString lone = QStringLiteral(u"سؤال");
    lone += QChar(0xD800);
    EXPECT_EQ(AnswerRenderer::askLink(lone), QStringLiteral("quorvel://ask/"));

    const QString q = QStringLiteral(u"أقوال العلماء في «قراءة الفاتحة» خلف الإمام؟");
    const QString tail = AnswerRenderer::askLink(q).mid(QString::fromLatin1(AnswerRenderer::askLinkPrefix).size());
    EXPECT_EQ(AnswerRenderer::percentDecoded(tail), q);
    EXPECT_FALSE(AnswerRenderer::percentDecoded(QStringLiteral("%G1")));
    EXPECT_FALSE(AnswerRenderer::percentDecoded(QStringLiteral("%D8")));  // half a character
    EXPECT_FALSE(AnswerRenderer::percentDecoded(QStringLiteral("abc%2")));
}

TEST_F(AnswerRendererTest, aVerseOfTheQuranIsCitedBySuraAndVerseNotByPage)
{
    test::SmallLib small;
    ASSERT_TRUE(small.lib);
    Book quran;
    quran.id = 90;
    quran.title = QStringLiteral(u"القرآن الكريم");
    Page page;
    page.id = 9050;
    page.seq = 50;
    page.num = 50;
    const Passage throne = Passage::of(*small.lib, quran, page,
                                       QStringLiteral(u"2|255|اللَّهُ لَا إِلَٰهَ إِلَّا هُوَ الْحَيُّ الْقَيُّومُ\n2|256|لَا إِكْرَاهَ فِي الدِّينِ"), 1);
    EXPECT_EQ(throne.citation(), QStringLiteral(u"القرآن الكريم · البقرة: ") + Arabic::num(255) + QChar(0x2013) + Arabic::num(256));
    AIAnswer a = answerWith(AIMode::answer, {throne});
    a.extractive = {{QStringLiteral(u"اللَّهُ لَا إِلَٰهَ إِلَّا هُوَ الْحَيُّ الْقَيُّومُ"), 1}};
    const Rendered r = render(a);
    const qsizetype sources = r.at(QStringLiteral(u"\nالمصادر\n"));
    ASSERT_GE(sources, 0);
    EXPECT_GE(r.at(throne.citation(), sources), 0) << r.text.toStdString();
    EXPECT_EQ(r.at(QStringLiteral(u" · ص"), sources), -1) << r.text.toStdString();
    // A report's line names the verse, not the book twice.
    EXPECT_EQ(Reports::whereFrom(throne, quran.title),
              QStringLiteral(u"القرآن الكريم (البقرة: ") + Arabic::num(255) + QChar(0x2013) + Arabic::num(256) + u')');
    EXPECT_EQ(Reports::whereFrom(passage(1, 1, 40, zakat), QStringLiteral(u"الموطأ")),
              QStringLiteral(u"مالك بن أنس في «الموطأ»"));
    // A book's page stays cited by its page.
    EXPECT_TRUE(passage(1, 1, 40, zakat).citation().endsWith(QStringLiteral(u" · ص") + Arabic::num(40)));
}

TEST_F(AnswerRendererTest, quotationsOfAPageShowItsNumbersInTheDigitsTheReaderShows)
{
    struct RestoreDigits {
        ~RestoreDigits() { Preferences::standard().remove(QString::fromLatin1(Settings::indicDigitsKey)); }
    } restore;
    // A hadith of «سنن أبي داود» as the page stores it, its number in Latin digits.
    const QString hadith = QStringLiteral(
        u"3551 حدثنا مؤمل بن الفضل الحراني ثنا محمد بن شعيب أخبرني الأوزاعي عن الزهري عن عروة عن جابر أن النبي صلى "
        u"الله عليه وسلم قال * من أعمر عمرى فهي له ولعقبه يرثها من يرثه من عقبه");
    Passage source = passage(1, 4, 935, hadith);
    source.bookTitle = QStringLiteral(u"سنن أبي داود");
    source.author = QStringLiteral(u"أبو داود السجستاني");
    AIAnswer report = answerWith(AIMode::report, {source});
    report.structured = true;
    report.text = QStringLiteral(u"## العمرى\nفي «سنن أبي داود»: «") + hadith + QStringLiteral(u"» [1]\nوعدد طرقه 2.");
    AIAnswer extracts = answerWith(AIMode::answer, {source});
    extracts.extractive = {{hadith, 1}};
    const QString stored = report.text;
    const auto latin = [](const QString& text) {
        return std::count_if(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };

    for (const bool indic : {true, false}) {
        SCOPED_TRACE(indic);
        Settings::setIndicDigits(indic);
        for (const AIAnswer* a : {&report, &extracts}) {
            const Rendered r = render(*a);
            // The quotation is the page's text but for its digits, and still cites its page.
            const qsizetype quote = r.at(u'«' + Arabic::digits(hadith) + QStringLiteral(u"» [") + Arabic::num(1) + u']');
            ASSERT_GE(quote, 0) << r.text.toStdString();
            EXPECT_EQ(r.href(r.text.indexOf(u'[', quote) + 1), AnswerRenderer::pageLink(4, 935, hadith));
            if (indic)
                EXPECT_EQ(latin(r.text), 0) << r.text.toStdString();
            else
                EXPECT_GE(r.at(QStringLiteral(u"«3551 حدثنا مؤمل")), 0);
        }
    }
    // Only the showing changed: the answer keeps the page's own text.
    EXPECT_EQ(report.text, stored);

    // The picture, for a person to look at.
    Settings::setIndicDigits(true);
    QTextBrowser view;
    view.resize(760, 420);
    view.setDocument(render(report).doc.release());
    view.document()->setParent(&view);
    EXPECT_TRUE(view.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/answer-quotation-digits.png")));
}
