#include "scholar/PanelText.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Theme.h"
#include "scholar/Collate.h"
#include "scholar/Concordance.h"
#include "scholar/Genealogy.h"
#include "scholar/Isnad.h"
#include "scholar/NarratorFullName.h"
#include "scholar/Morph.h"
#include "scholar/NameWords.h"
#include "scholar/TextReuse.h"
#include "search/SharedMeaningIndex.h"

#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace quorvel::PanelText {

namespace {

// Shared passages are counted by the fingerprints two pages have in common.
const CountedNoun& fingerprints()
{
    static const CountedNoun noun(QString::fromUtf8("بصمة"), QString::fromUtf8("بصمتان"), QString::fromUtf8("بصمات"),
                                  QString::fromUtf8("بصمة"));
    return noun;
}

// The lists a panel shows are capped, and quoted text is cut.
constexpr int kTopBooks = 6;
constexpr int kNarratorLinks = 6;
constexpr int kCardNames = 40;
constexpr int kSources = 12;
constexpr int kSourceMinShared = 3;
constexpr int kSourcePhraseCharacters = 220;
constexpr int kEditions = 6;
constexpr double kEditionMinFrac = 0.4;
constexpr int kRelatedWords = 10;
// How many more near words are read than shown, for those that are names.
constexpr int kRelatedPool = 3;
constexpr int kGenealogyQueryCharacters = 60;
constexpr int kGenealogySnippetCharacters = 160;
constexpr double kCollateShade = 0.18;

constexpr double kHeadSize = 15;
constexpr double kSmallSize = 12;
constexpr double kReadingSize = 16;
constexpr double kTinySize = 6;

bool kept(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
        return true;
    default:
        return false;
    }
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The author of a hit: the catalogue's when it knows the book, else the
// hit's own.
QString authorOf(Library& lib, std::int64_t bookId, const std::optional<QString>& own)
{
    const auto books = lib.bookById();
    const auto it = books.constFind(bookId);
    if (it != books.constEnd())
        return lib.authorName(*it);
    return own.value_or(QString());
}

// A book as tabs and citations name it, told apart from the catalogue's
// other books of its title; `shown` when the catalogue does not know it.
QString titleOf(Library& lib, std::int64_t bookId, const QString& shown)
{
    const QString label = BookTitles::label(*lib.catalog(), bookId);
    return label.isEmpty() ? shown : label;
}

} // namespace

QString Text::plain() const
{
    QString all;
    for (const Run& run : runs)
        all += run.text;
    return all;
}

QString pageURL(std::int64_t bookId, std::int64_t seq)
{
    return QString::fromLatin1(pageScheme) + QString::number(bookId) + QLatin1Char('/') + QString::number(seq);
}

namespace {

// `text` kept as searchURL keeps it, after `scheme`.
QString encodedURL(const char* scheme, const QString& text)
{
    QString encoded;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype width = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        } else if (text[i].isSurrogate()) {
            // Not a character: the text cannot be encoded, so it goes as it is.
            return QString::fromLatin1(scheme) + text;
        }
        const QString piece = text.mid(i, width);
        if (kept(c)) {
            encoded += piece;
        } else {
            for (const char byte : piece.toUtf8())
                encoded += QStringLiteral("%%1").arg(int(static_cast<unsigned char>(byte)), 2, 16, QLatin1Char('0')).toUpper();
        }
        i += width - 1;
    }
    return QString::fromLatin1(scheme) + encoded;
}

} // namespace

QString searchURL(const QString& text)
{
    return encodedURL(searchScheme, text);
}

QString narratorURL(std::int64_t narratorId)
{
    return QString::fromLatin1(narratorScheme) + QString::number(narratorId);
}

QString askURL(const QString& question)
{
    return encodedURL(askScheme, question);
}

std::optional<QString> decodeSearch(const QString& encoded)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != QLatin1Char('%')) {
            bytes += encoded.mid(i, 1).toUtf8();
            continue;
        }
        if (i + 2 >= encoded.size())
            return std::nullopt;
        const int high = hexValue(encoded[i + 1]);
        const int low = hexValue(encoded[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString pageLabel(const std::optional<QString>& vol, std::optional<std::int64_t> num, std::int64_t seq)
{
    QString label;
    if (vol)
        label = QString::fromUtf8("ج") + Arabic::digits(*vol) + QLatin1Char(' ');
    return label + QString::fromUtf8("ص") + Arabic::num(num.value_or(seq));
}

QString leftCharacters(const QString& text, int count)
{
    return text.left(Characters::endOfFirst(text, count));
}

Run head(const QString& text)
{
    Run run;
    run.text = text + QLatin1Char('\n');
    run.size = kHeadSize;
    run.weight = QFont::Bold;
    run.tone = Tone::emerald;
    return run;
}

Run text(const QString& text, Tone tone, double size)
{
    Run run;
    run.text = text;
    run.tone = tone;
    run.size = size;
    return run;
}

Run link(const QString& text, const QString& target)
{
    Run run;
    run.text = text;
    run.weight = QFont::Medium;
    run.tone = Tone::emerald;
    run.link = target;
    return run;
}

Run reading(const QString& text)
{
    Run run;
    run.text = text;
    run.face = Face::reader;
    run.size = kReadingSize;
    run.tone = Tone::ink;
    return run;
}

std::optional<QString> wordOf(const QString& text)
{
    QString bare = Arabic::stripMarks(text);
    // A footnote's number glued to the word's end is not part of it.
    if (const std::optional<QString> stripped = Arabic::stripTrailingDigits(bare))
        bare = *stripped;
    const bool letters = std::any_of(bare.begin(), bare.end(), [](QChar c) { return c.isLetter(); });
    const bool blank = std::any_of(bare.begin(), bare.end(), [](QChar c) { return c.isSpace(); });
    if (!letters || blank || Arabic::hasDigit(bare))
        return std::nullopt;
    return bare;
}

Text word(Library& lib, const QString& word)
{
    const MorphResult r = Morph::analyze(word);
    Text t;
    t += head(QString::fromUtf8("«") + word + QString::fromUtf8("»"));
    t += text(QString::fromUtf8("الجذر: "), Tone::gold);
    t += text(r.root.isEmpty() ? QString::fromUtf8("غير معروف") : r.root);
    t += text(QString::fromUtf8("   الأصل: "), Tone::gold);
    t += text(r.stem);
    t += text(QString::fromUtf8("   النوع: "), Tone::gold);
    t += text(r.pos == QString::fromUtf8("—") ? QString::fromUtf8("غير محدد") : r.pos);
    t += text(QStringLiteral("\n"));

    QStringList affixes;
    for (const auto& part : r.prefix)
        affixes << part.t + QString::fromUtf8(": ") + part.g;
    for (const auto& part : r.suffix)
        affixes << part.t + QString::fromUtf8(": ") + part.g;
    if (!affixes.isEmpty())
        t += text(QString::fromUtf8("اللواصق: ") + affixes.join(QString::fromUtf8(" · ")) + QLatin1Char('\n'), Tone::secondary, kSmallSize);

    const Concordance::Result found = Concordance::lookup(lib.main(), word, kTopBooks);
    t += text(QString::fromUtf8("\nورودها في المكتبة: "), Tone::gold);
    t += link(CountedNoun::pages().count(found.pages) + QString::fromUtf8(" في ")
                  + CountedNoun::books().count(found.books, CountedNoun::Case::genitive),
              searchURL(word));
    t += text(QStringLiteral("\n"));
    QList<std::int64_t> topBooks;
    for (const Concordance::BookCount& top : found.top)
        topBooks.append(top.bookId);
    const QHash<std::int64_t, QString> titles = BookTitles::catalogLabels(*lib.catalog(), topBooks);
    for (const Concordance::BookCount& top : found.top) {
        const auto it = titles.constFind(top.bookId);
        if (it == titles.constEnd())
            continue;
        t += text(QString::fromUtf8("  ") + *it + QString::fromUtf8(": ") + Arabic::num(top.count) + QLatin1Char('\n'), Tone::secondary,
                  kSmallSize);
    }

    if (const auto shared = SharedMeaningIndex::index()) {
        // Names stand beside the words they are used with, so the index finds
        // them near; the library's narrators and authors are left out, and
        // so are numbers.
        NameWords names(lib);
        auto near = shared->related(Arabic::normalize(word, true), kRelatedWords * kRelatedPool);
        std::erase_if(near, [&](const auto& w) { return wordOf(w.word) != w.word || names.contains(w.word); });
        if (near.size() > size_t(kRelatedWords))
            near.resize(size_t(kRelatedWords));
        if (!near.empty()) {
            t += text(QString::fromUtf8("\nكلمات قريبة المعنى في الكتب: "), Tone::gold);
            for (size_t i = 0; i < near.size(); ++i) {
                if (i > 0)
                    t += text(QString::fromUtf8("، "));
                t += link(near[i].word, searchURL(near[i].word));
            }
            t += text(QStringLiteral("\n"));
        }
    }
    return t;
}

namespace {

// How many narrators' cards the isnad panel shows before it counts the rest.
constexpr int kPanelNarrators = 60;

const CountedNoun& narratorsNoun()
{
    static const CountedNoun noun(QString::fromUtf8("راوٍ"), QString::fromUtf8("راويان"), QString::fromUtf8("رواة"),
                                  QString::fromUtf8("راوياً"));
    return noun;
}

// The page's chains, each name a link to the card of the narrator the
// library files it under («أبيه» opens the father's card).
void appendChains(Text& t, const QList<Isnad::Chain>& read, const QList<Isnad::Chain>& filed, const Isnad::Filing& filing)
{
    for (qsizetype i = 0; i < read.size(); ++i) {
        t += text(read.size() == 1 ? QString::fromUtf8("السلسلة: ")
                                   : QString::fromUtf8("السلسلة ") + Arabic::num(i + 1) + QString::fromUtf8(": "),
                  Tone::gold);
        for (qsizetype p = 0; p < read[i].size(); ++p) {
            if (p > 0)
                t += reading(QString::fromUtf8(" ← "));
            // Narrators named together at one place read "A وB".
            for (qsizetype n = 0; n < read[i][p].size(); ++n) {
                if (n > 0)
                    t += reading(QString::fromUtf8(" و"));
                Run name = reading(read[i][p][n]);
                if (const auto narrator = filing.of(filed.value(i).value(p).value(n, read[i][p][n])))
                    name.link = narratorURL(narrator->id);
                t += name;
            }
        }
        t += reading(QStringLiteral("\n"));
    }
}

} // namespace

Text isnad(Library& lib, const Page& page)
{
    Text t;
    t += head(QString::fromUtf8("الإسناد في هذه الصفحة"));
    const QString mainText = Library::splitFootnotes(page.content).first;
    const QList<Isnad::Chain> chains = Isnad::chains(mainText);
    const Isnad::Filing filing(lib.main());
    appendChains(t, chains, Isnad::filedChains(chains), filing);
    if (!chains.isEmpty())
        t += text(QStringLiteral("\n"));
    const QList<Isnad::Narrator> narrators = Isnad::narrators(lib.main(), page.id, &filing);
    if (chains.isEmpty() && narrators.isEmpty()) {
        t += text(QString::fromUtf8("لا يوجد إسناد مستخرج في هذه الصفحة.\n"), Tone::secondary);
        return t;
    }
    auto names = [](const QList<Isnad::LinkedNarrator>& list) {
        QStringList out;
        for (const auto& n : list.mid(0, kNarratorLinks))
            out << n.name;
        return out.join(QString::fromUtf8("، "));
    };
    for (const Isnad::Narrator& narrator : narrators.mid(0, kPanelNarrators)) {
        const Isnad::Links links = Isnad::links(lib.main(), narrator.id);
        // «بريدة (أبيه)»: the man the page's word stands for.
        const bool worded = !narrator.filed.isEmpty() && narrator.filed != narrator.name;
        t += link(worded ? narrator.filed : narrator.name, narratorURL(narrator.id));
        if (worded)
            t += text(QString::fromUtf8(" («") + narrator.name + QString::fromUtf8("»)"), Tone::secondary, kSmallSize);
        t += text(QStringLiteral("\n"), Tone::label, kTinySize);
        if (!links.teachers.isEmpty())
            t += text(QString::fromUtf8("  روى عن: ") + names(links.teachers) + QLatin1Char('\n'), Tone::secondary, kSmallSize);
        if (!links.students.isEmpty())
            t += text(QString::fromUtf8("  وعنه: ") + names(links.students) + QLatin1Char('\n'), Tone::secondary, kSmallSize);
    }
    if (narrators.size() > kPanelNarrators)
        t += text(QString::fromUtf8("وفي الصفحة غيرهم: ") + narratorsNoun().count(narrators.size() - kPanelNarrators)
                      + QLatin1Char('\n'),
                  Tone::secondary);
    return t;
}

Text narrator(Library& lib, std::int64_t narratorId)
{
    const QString name = Isnad::name(lib.main(), narratorId).value_or(QString());
    Text t;
    t += head(name.isEmpty() ? QString::fromUtf8("راوٍ غير معروف") : name);
    if (name.isEmpty())
        return t;
    const Isnad::Links links = Isnad::links(lib.main(), narratorId);
    // Those he is linked with most often first; each name opens its own card.
    const auto list = [&](const char* label, QList<Isnad::LinkedNarrator> linked) {
        if (linked.isEmpty())
            return;
        std::stable_sort(linked.begin(), linked.end(),
                         [](const auto& a, const auto& b) { return a.count > b.count; });
        t += text(QString::fromUtf8(label), Tone::gold);
        for (qsizetype i = 0; i < std::min<qsizetype>(linked.size(), kCardNames); ++i) {
            if (i > 0)
                t += text(QString::fromUtf8("، "));
            t += link(linked[i].name, narratorURL(linked[i].id));
        }
        if (linked.size() > kCardNames)
            t += text(QString::fromUtf8("، …"));
        t += text(QStringLiteral("\n"));
    };
    list("روى عن: ", links.teachers);
    list("وعنه: ", links.students);
    if (links.teachers.isEmpty() && links.students.isEmpty())
        t += text(QString::fromUtf8("لا شيوخ له ولا تلاميذ في أسانيد المكتبة.\n"), Tone::secondary);
    t += text(QStringLiteral("\n"));
    // Asked by the bare name the chains call him, the dictionaries answer with every namesake.
    t += link(QString::fromUtf8("ترجمته في كتب التراجم"),
              askURL(QString::fromUtf8("من هو ") + Isnad::fullName(lib.main(), narratorId) + QString::fromUtf8("؟")));
    t += text(QStringLiteral("\n"));
    return t;
}

Text reuse(Library& lib, std::int64_t pageId)
{
    Text t;
    t += head(QString::fromUtf8("مصادر هذا النصّ ونقوله في المكتبة"));
    const QList<TextReuse::ReuseHit> hits = TextReuse::sources(lib.main(), pageId, kSourceMinShared, kSources);
    // Without the data no page has sources: that is not the same as none found.
    if (hits.isEmpty() && !TextReuse::installed(lib.main())) {
        t += text(QString::fromUtf8("بيانات «مصادر النص» غير مثبّتة في هذه المكتبة، فلا يمكن البحث عن النصوص المشتركة.\n"
                                    "لتثبيتها: افتح نافذة التنزيلات (Ctrl+D)، وفعّل «مصادر النص» للكتب المنزّلة، ثم احذف الكتب ونزّلها من جديد.\n"),
                  Tone::secondary);
        return t;
    }
    if (hits.isEmpty()) {
        t += text(QString::fromUtf8("لم يُعثر على نصوص مشتركة مع هذه الصفحة في كتب المكتبة.\n"), Tone::secondary);
        return t;
    }
    t += text(QString::fromUtf8("كل سطر: كتاب يشارك هذه الصفحة عبارات متّصلة، مرتّبة بعدد البصمات المشتركة.\n\n"), Tone::secondary,
              kSmallSize);
    for (const TextReuse::ReuseHit& hit : hits) {
        t += link(titleOf(lib, hit.bookId, hit.bookTitle) + QString::fromUtf8(" · ") + pageLabel(hit.vol, hit.pageNum, hit.seq),
                  pageURL(hit.bookId, hit.seq));
        const QString author = authorOf(lib, hit.bookId, hit.author);
        if (!author.isEmpty())
            t += text(QString::fromUtf8(CountedNoun::separator) + author, Tone::secondary, kSmallSize);
        t += text(QString::fromUtf8("  (") + fingerprints().count(hit.shared) + QString::fromUtf8(")\n"), Tone::gold, kSmallSize);
        if (!hit.phrase.isEmpty())
            t += reading(QString::fromUtf8("«") + leftCharacters(hit.phrase, kSourcePhraseCharacters) + QString::fromUtf8("»\n\n"));
    }
    return t;
}

Text editions(Library& lib, const Book& book, std::int64_t pageId)
{
    Text t;
    t += head(QString::fromUtf8("طبعات ونسخ أخرى من «") + book.title + QString::fromUtf8("»"));
    // The editions the shared passages find, then those the catalogue knows
    // (same title and author) that they miss, as in a library installed
    // without shared-passage data.
    const QList<TextReuse::EditionHit> hits = TextReuse::editions(lib.main(), book.id, kEditionMinFrac, kEditions);
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    QList<std::int64_t> ids;
    QHash<std::int64_t, std::int64_t> pct;
    for (const TextReuse::EditionHit& hit : hits) {
        ids.append(hit.bookId);
        pct.insert(hit.bookId, hit.pct);
    }
    for (const std::int64_t id : BookTitles::otherEditions(*catalog, book.id))
        if (!ids.contains(id))
            ids.append(id);
    if (ids.isEmpty()) {
        t += text(QString::fromUtf8("لم يُعثر على طبعة أخرى لهذا الكتاب في المكتبة.\n"), Tone::secondary);
        return t;
    }
    const QHash<std::int64_t, QString> labels = BookTitles::labels(*catalog, QList<std::int64_t>{book.id} + ids);
    const std::optional<Page> page = lib.page(pageId);
    const bool pageHasShingles = !TextReuse::pageHashes(lib.main(), pageId).isEmpty();
    const bool bookHasShingles = pageHasShingles || TextReuse::hasShingles(lib.main(), book.id);
    for (const std::int64_t id : std::as_const(ids)) {
        const std::optional<Page> other = page ? Collate::counterpart(lib, *page, id) : std::nullopt;
        const QString title = labels.value(id);
        if (other)
            t += link(title + QString::fromUtf8(" · ") + pageLabel(other->vol, other->num, other->seq), pageURL(id, other->seq));
        else
            t += link(title, pageURL(id, 1));
        if (pct.contains(id))
            t += text(QString::fromUtf8("  تشابه\u00A0") + Arabic::num(pct.value(id)) + QString::fromUtf8("٪"), Tone::gold, kSmallSize);
        if (other && pageHasShingles) {
            t += text(QStringLiteral("  "));
            t += link(QString::fromUtf8("قابل هذه الصفحة بها"), QString::fromLatin1(collateScheme) + QString::number(pageId) +
                                                                       QLatin1Char('/') + QString::number(id));
        }
        t += text(QStringLiteral("\n"));
        // Why the link opens the edition at its beginning.
        if (!other) {
            const char* why = !bookHasShingles ? "لا تُقابَل الصفحات: ثُبّت الكتاب دون بيانات النصوص المشتركة، ولا في الطبعة باب بعنوان باب هذه الصفحة، فتُفتح من أولها.\n"
                              : !pageHasShingles ? "هذه الصفحة أقصر من أن تُقابَل بصفحة من طبعة أخرى، فتُفتح الطبعة من أولها.\n"
                                                 : "لم يرد نصّ هذه الصفحة في هذه الطبعة، فتُفتح من أولها.\n";
            t += text(QString::fromUtf8(why), Tone::secondary, kSmallSize);
        }
    }
    return t;
}

Text collate(Library& lib, std::int64_t pageId, std::int64_t otherBook)
{
    Text t;
    t += head(QString::fromUtf8("مقابلة النسختين"));
    const std::optional<CollateResult> r = Collate::run(lib.main(), pageId, otherBook);
    if (!r) {
        t += text(QString::fromUtf8("لم تُعثر على صفحة مقابلة في النسخة الأخرى.\n"), Tone::secondary);
        return t;
    }
    t += text(QString::fromUtf8("مقابلة بـ "), Tone::secondary);
    t += link(titleOf(lib, r->otherBookId, r->otherTitle) + QString::fromUtf8(" · ص") + Arabic::num(r->otherPageNum.value_or(r->otherSeq)),
              pageURL(r->otherBookId, r->otherSeq));
    // A no-break space keeps the share with its words: alone on a line it reads as nothing.
    t += text(QString::fromUtf8(" ") + QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8("تطابق\u00A0الكلمات\u00A0")
                  + Arabic::num(r->ratio) + QString::fromUtf8("٪\n\n"),
              Tone::gold);

    QColor removed = Theme::hit();
    removed.setAlphaF(kCollateShade);
    QColor added = Theme::emerald();
    added.setAlphaF(kCollateShade);
    auto only = [&](const QString& words, const QColor& shade, bool strike) {
        Run run = reading(words + QLatin1Char(' '));
        run.background = shade;
        run.strike = strike;
        t += run;
    };
    for (const CollateOp& op : r->ops) {
        if (op.tag == QLatin1String("equal")) {
            t += reading(op.a + QLatin1Char(' '));
        } else if (op.tag == QLatin1String("delete")) {
            only(op.a, removed, true);
        } else if (op.tag == QLatin1String("insert")) {
            only(op.b, added, false);
        } else {
            only(op.a, removed, true);
            only(op.b, added, false);
        }
    }
    t += text(QString::fromUtf8("\n\nالأحمر المشطوب في هذه النسخة وحدها، والأخضر في الأخرى.\n"), Tone::secondary, kSmallSize);
    return t;
}

Text genealogy(Library& lib, const QString& query)
{
    Text t;
    const std::optional<GenealogyResult> r = Genealogy::run(lib.main(), query);
    const QString asked = r ? r->query : Genealogy::phrase(query);
    t += head(QString::fromUtf8("شجرة المسألة: «") + leftCharacters(asked.isEmpty() ? query : asked, kGenealogyQueryCharacters)
              + QString::fromUtf8("»"));
    if (r && r->particles) {
        t += text(Genealogy::particlesNote(r->query) + QLatin1Char('\n'), Tone::secondary);
        return t;
    }
    if (!r || r->nodes.isEmpty()) {
        t += text(QString::fromUtf8("لم تُعثر على مواضع كافية لهذه العبارة.\n"), Tone::secondary);
        return t;
    }
    t += text(QString::fromUtf8("الكتب مرتّبة بوفاة مؤلّفيها، والسهم يعني نقلاً ثابتاً ببصمات مشتركة.\n\n"), Tone::secondary,
              kSmallSize);
    for (const GenealogyNode& node : r->nodes) {
        t += text(node.deathYear ? Arabic::num(*node.deathYear) + QString::fromUtf8("هـ  ") : QString::fromUtf8("؟  "), Tone::gold);
        t += link(titleOf(lib, node.bookId, node.title) + QString::fromUtf8(" · ص") + Arabic::num(node.pageNum.value_or(node.seq)), pageURL(node.bookId, node.seq));
        const QString author = authorOf(lib, node.bookId, node.author);
        if (!author.isEmpty())
            t += text(QString::fromUtf8(CountedNoun::separator) + author, Tone::secondary, kSmallSize);
        t += text(QStringLiteral("\n"));
        if (!node.snippet.isEmpty())
            t += text(QString::fromUtf8("   ") + leftCharacters(node.snippet, kGenealogySnippetCharacters) + QLatin1Char('\n'),
                      Tone::secondary, kSmallSize);
    }
    if (!r->edges.isEmpty()) {
        t += text(QString::fromUtf8("\nالنقول:\n"), Tone::gold);
        for (const GenealogyEdge& edge : r->edges)
            t += text(QString::fromUtf8("  ") + titleOf(lib, edge.from, edge.fromTitle) + QString::fromUtf8(" ← ")
                          + titleOf(lib, edge.to, edge.toTitle) + QString::fromUtf8(" (")
                          + fingerprints().count(edge.shared) + QString::fromUtf8(")\n"),
                      Tone::label, kSmallSize);
    }
    return t;
}

} // namespace quorvel::PanelText
