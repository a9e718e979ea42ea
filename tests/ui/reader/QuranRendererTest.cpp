#include "ui/reader/ReaderTestSupport.h"

#include "core/Arabic.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranRenderer.h"
#include "ui/shell/AppDelegate.h"

#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// The flat indices carried by the runs of a document, in order of appearance
// (each once), and the runs with a background.
struct Runs {
    QList<int> keys;
    QSet<int> highlighted;
    int marked = 0; // runs with the hit background
};

Runs runsOf(const QTextDocument& document)
{
    Runs runs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const QVariant key = format.property(TextProperty::ayahKey);
            if (key.isValid() && (runs.keys.isEmpty() || runs.keys.last() != key.toInt()))
                runs.keys.append(key.toInt());
            if (format.hasProperty(QTextFormat::BackgroundBrush)) {
                if (format.background().color() == Theme::hitMark())
                    ++runs.marked;
                else if (key.isValid())
                    runs.highlighted.insert(key.toInt());
            }
        }
    return runs;
}

class QuranRendererTest : public ::testing::Test {
protected:
    QuranRendererTest() : prefs({Settings::indicDigitsKey})
    {
        AppDelegate::prepareApplication();
        if (sample.lib)
            q = QuranText::load(*sample.lib);
        uthmani = QuranText::readUthmani(QStringLiteral(QUORVEL_TEST_DATA "/quran/quran-uthmani.txt"));
    }

    QuranRenderer renderer(int sura, int selected, bool uthmaniShown = true)
    {
        QuranRenderer::State state;
        state.q = q.get();
        state.sura = sura;
        state.selected = selected;
        state.uthmaniWanted = uthmaniShown;
        state.uthmani = &uthmani;
        return QuranRenderer(state);
    }

    // The text of block n of a document.
    static QString block(const QTextDocument& document, int n) { return document.findBlockByNumber(n).text(); }

    test::PreferenceGuard prefs;
    test::SampleLib sample;
    std::shared_ptr<const QuranText> q;
    QHash<int, QString> uthmani;
};

} // namespace

TEST_F(QuranRendererTest, suraHeadingsBasmalaAndVerseKeys)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    for (const auto& [s, count] : {std::pair{1, u"٧ آيات"}, std::pair{9, u"١٢٩ آية"}}) {
        QuranRenderer r = renderer(s, q->index(s, 1));
        const auto document = r.render();
        EXPECT_EQ(block(*document, 0), QStringLiteral(u"سورة ") + QuranText::name(s));
        EXPECT_EQ(block(*document, 1), QString::fromUtf16(count));
        // The verses follow the count line at once.
        EXPECT_TRUE(RichText::formatAt(*document, document->findBlockByNumber(2).position())
                        .hasProperty(TextProperty::ayahKey))
            << s;
        EXPECT_EQ(document->blockCount(), 3);
    }

    QuranRenderer r = renderer(27, q->index(27, 30));
    const auto document = r.render();
    ASSERT_EQ(document->blockCount(), 4);
    EXPECT_EQ(block(*document, 2), *QuranText::uthmaniBasmala());
    EXPECT_FALSE(RichText::formatAt(*document, document->findBlockByNumber(2).position())
                     .hasProperty(TextProperty::ayahKey));
    // Every verse of the sura once, in order; 27:30 as stored, with the
    // basmala inside it.
    const Runs runs = runsOf(*document);
    ASSERT_EQ(runs.keys.size(), q->count(27));
    EXPECT_EQ(runs.keys.first(), q->index(27, 1));
    EXPECT_EQ(runs.keys.last(), q->index(27, q->count(27)));
    EXPECT_EQ(r.display(q->index(27, 30)), uthmani.value(27030));
    EXPECT_TRUE(block(*document, 3).contains(uthmani.value(27030)));
    EXPECT_EQ(runs.highlighted, QSet<int>{q->index(27, 30)});
}

TEST_F(QuranRendererTest, versesMarksFollowTheScriptAndItsDigits)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    Settings::setIndicDigits(false);
    const int i = q->index(2, 255);
    QuranRenderer shown = renderer(2, i);
    const QString sura2 = shown.render()->toPlainText();
    // Uthmani marks are Arabic-Indic whatever the preference.
    EXPECT_TRUE(sura2.contains(QStringLiteral(u" ۝٢٥٥ "))) << qPrintable(sura2.left(80));
    EXPECT_FALSE(sura2.contains(QStringLiteral(u"255")));

    QuranRenderer plain = renderer(2, i, false);
    const QString plainText = plain.render()->toPlainText();
    EXPECT_TRUE(plainText.contains(QStringLiteral(u" ﴿255﴾ ")));
    // The plain switch shows the plain spelling, though the library's text
    // is the Uthmani one.
    EXPECT_TRUE(Arabic::normalize(plain.display(i), false).startsWith(QStringLiteral(u"الله لا اله الا هو الحي القيوم لا تاخذه سنه")))
        << plain.display(i).toStdString();
    EXPECT_TRUE(Arabic::stripMarks(plain.display(i)).contains(QStringLiteral(u"ما في السماوات"))) << plain.display(i).toStdString();
    EXPECT_FALSE(plainText.contains(QChar(0x0671)));

    // No Uthmani text: the plain one, even with the script asked for.
    const QHash<int, QString> none;
    QuranRenderer missing = renderer(2, i, true);
    missing.state().uthmani = &none;
    EXPECT_FALSE(missing.uthmaniShown());
    const auto document = missing.render();
    EXPECT_TRUE(document->toPlainText().contains(QStringLiteral(u" ﴿255﴾ ")));
    EXPECT_EQ(block(*document, 2), QuranText::basmala());

    // A verse missing from the Uthmani map falls back alone.
    QHash<int, QString> partial = uthmani;
    partial.remove(2255);
    QuranRenderer holes = renderer(2, i);
    holes.state().uthmani = &partial;
    EXPECT_EQ(holes.display(i), q->ayat[i].text);
    EXPECT_EQ(holes.display(i + 1), uthmani.value(2256));
}

TEST_F(QuranRendererTest, restyleMovesTheHighlightBetweenTwoVerses)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    const int from = q->index(2, 3);
    const int to = q->index(2, 200);
    QuranRenderer r = renderer(2, from);
    const auto document = r.render();
    EXPECT_EQ(runsOf(*document).highlighted, QSet<int>{from});
    const QString before = document->toPlainText();
    r.state().selected = to;
    r.restyle(*document, from);
    r.restyle(*document, to);
    EXPECT_EQ(runsOf(*document).highlighted, QSet<int>{to});
    EXPECT_EQ(document->toPlainText(), before);
    // The highlighted runs are exactly the verse's body and mark.
    const auto ranges = r.ranges(to);
    ASSERT_EQ(ranges.size(), 1);
    EXPECT_EQ(document->toPlainText().mid(ranges[0].first, ranges[0].second),
              uthmani.value(2200) + QStringLiteral(u" ۝٢٠٠ "));
}

TEST_F(QuranRendererTest, resultListCountsLimitsAndMarksBySkeleton)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    auto results = [&](int count, const QStringList& terms) {
        QuranRenderer r = renderer(1, 0);
        QList<int> list;
        for (int i = 0; i < count; ++i)
            list.append(i);
        r.state().results = list;
        r.state().terms = terms;
        r.state().searchText = QStringLiteral(u"نص");
        auto document = r.render();
        return std::make_pair(std::move(document), r.resultStatus());
    };
    const auto [five, fiveStatus] = results(500, {});
    EXPECT_EQ(fiveStatus, QStringLiteral(u"٥٠٠ آية تطابق «نص» · انقر آية للانتقال إليها"));
    EXPECT_EQ(runsOf(*five).keys.size(), 500);
    const auto [over, overStatus] = results(501, {});
    EXPECT_EQ(overStatus, QStringLiteral(u"٥٠١ آية تطابق «نص» (يعرض أول ٥٠٠) · انقر آية للانتقال إليها"));
    EXPECT_EQ(runsOf(*over).keys.size(), 500);
    // Results are never highlighted as selected.
    EXPECT_TRUE(runsOf(*over).highlighted.isEmpty());

    const auto [none, noneStatus] = results(0, {});
    EXPECT_EQ(block(*none, 0), QStringLiteral(u"لا آية تطابق البحث"));
    EXPECT_TRUE(noneStatus.startsWith(QStringLiteral(u"٠ آية تطابق")));

    // A plain search word marks the Uthmani words that hold it; a word of
    // alifs alone marks nothing.
    const auto [marked, s1] = results(7, {Arabic::normalize(QStringLiteral(u"الرحمن"))});
    EXPECT_EQ(runsOf(*marked).marked, 2); // 1:1 and 1:3
    const auto [alif, s2] = results(7, {QStringLiteral(u"اا")});
    EXPECT_EQ(runsOf(*alif).marked, 0);
    // The citation of each result carries its verse.
    EXPECT_TRUE(marked->toPlainText().contains(QStringLiteral(u" [الفاتحة: ٣]")));

    // The Throne Verse found by four of its words: those words are marked,
    // not every word sharing a letter with «لا» once alifs are left out.
    QuranRenderer throne = renderer(2, 0);
    const int verse = 7 + 254;
    throne.state().results = QList<int>{verse};
    throne.state().terms = Arabic::normalize(QStringLiteral(u"الحي القيوم لا تأخذه"), true).split(u' ');
    throne.state().searchText = QStringLiteral(u"الحي القيوم لا تأخذه");
    const auto doc = throne.render();
    QStringList shown;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().background().color() == Theme::hitMark())
                for (const QString& word : it.fragment().text().split(u' ', Qt::SkipEmptyParts))
                    shown << QuranText::fold(word);
    for (const char16_t* word : {u"الحي", u"القيوم", u"لا", u"تأخذه"})
        EXPECT_TRUE(shown.contains(QuranText::fold(QString::fromUtf16(word)))) << shown.join(u' ').toStdString();
    for (const char16_t* word : {u"الله", u"إله", u"إلا", u"الأرض", u"الذى", u"يعلم", u"هو"})
        EXPECT_FALSE(shown.contains(QuranText::fold(QString::fromUtf16(word)))) << QString::fromUtf16(word).toStdString();
}
