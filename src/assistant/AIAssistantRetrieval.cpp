#include "assistant/AIAssistant.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "search/HybridSearch.h"
#include "search/SearchEngine.h"
#include "search/SharedMeaningIndex.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvel::AIAssistant {

namespace {

// A term shorter than this is never a content word.
constexpr int kMinTermChars = 3;
// A term of at least this length that starts with the article is searched
// without it, so that the article's clitic forms (بال، وال، لل) reach it.
constexpr int kArticleStemChars = 5;

// The hybrid step: hits asked for, the fusion constant and the lexical pool.
constexpr int kHybridK = 40;
constexpr int kHybridRRF = 60;
constexpr int kHybridPool = 60;

const QString ftsStatement = QStringLiteral(
    "SELECT page_id, book_id, bm25(pages_fts) FROM pages_fts WHERE pages_fts MATCH ? "
    "ORDER BY bm25(pages_fts) LIMIT 300");

// The line of ten underscores that opens a page's footnotes, and what the
// model and the reader are shown in its place.
const QString footnoteMarker = QStringLiteral("__________");
const QString footnoteLabel = QStringLiteral("\n[الحاشية]\n");

bool isWindowBreak(QChar c) { return c == u' ' || c == u'\n'; }

// Each search word is also tried behind these clitics; the first is the word alone.
constexpr std::array<const char16_t*, 9> kPrefixes{u"", u"ال", u"و", u"وال", u"ب", u"بال", u"ل", u"لل", u"ف"};

// The FTS5 group of one term: the stem's beginnings, as quoted prefix queries.
QString termGroup(const QString& term, TermReach reach)
{
    const QString stem = term.size() >= kArticleStemChars && term.startsWith(QStringLiteral("ال"))
        ? term.mid(2)
        : term;
    QStringList alternatives;
    if (reach == TermReach::everyForm) {
        for (const QString& head : Arabic::wordHeads(stem))
            alternatives << SearchEngine::quote(head) + u'*';
    } else {
        for (const char16_t* prefix : kPrefixes)
            alternatives << SearchEngine::quote(QString::fromUtf16(prefix) + stem) + u'*';
    }
    return u'(' + alternatives.join(QStringLiteral(" OR ")) + u')';
}

} // namespace

const QSet<QString>& stop()
{
    static const QSet<QString> words{
        QStringLiteral("في"), QStringLiteral("من"), QStringLiteral("عن"), QStringLiteral("ما"), QStringLiteral("ماذا"), QStringLiteral("هل"), QStringLiteral("هو"), QStringLiteral("هي"), QStringLiteral("ان"),
        QStringLiteral("او"), QStringLiteral("ثم"), QStringLiteral("كيف"), QStringLiteral("لماذا"), QStringLiteral("متي"), QStringLiteral("اين"), QStringLiteral("التي"), QStringLiteral("الذي"),
        QStringLiteral("الذين"), QStringLiteral("هذا"), QStringLiteral("هذه"), QStringLiteral("ذلك"), QStringLiteral("تلك"), QStringLiteral("كان"), QStringLiteral("قال"), QStringLiteral("مع"),
        QStringLiteral("كل"), QStringLiteral("بعض"), QStringLiteral("عند"), QStringLiteral("حكم"), QStringLiteral("يجوز"), QStringLiteral("لي"), QStringLiteral("انا"), QStringLiteral("نحن"),
        QStringLiteral("اذا"), QStringLiteral("لا"), QStringLiteral("لم"), QStringLiteral("لن"), QStringLiteral("قد"), QStringLiteral("بين"), QStringLiteral("حتي"), QStringLiteral("اي"),
        QStringLiteral("العلماء"), QStringLiteral("راي"), QStringLiteral("اقوال"), QStringLiteral("قول"),
        // Never met: normalised words end in ي, not ى.
        QStringLiteral("على"), QStringLiteral("الى"),
    };
    return words;
}

const QStringList& rulingMarks()
{
    static const QStringList marks{
        QStringLiteral("هل يجوز"), QStringLiteral("يجوز لي"), QStringLiteral("هل يحل"), QStringLiteral("هل يصح"), QStringLiteral("ما حكم"), QStringLiteral("حكم "),
        QStringLiteral("هل يحرم"), QStringLiteral("هل يجب"), QStringLiteral("هل علي"), QStringLiteral("ماذا يجب"), QStringLiteral("هل تصح"), QStringLiteral("هل يلزم"),
    };
    return marks;
}

QStringList terms(const QString& text)
{
    QStringList kept;
    for (const QString& word : Arabic::tokens(text)) {
        if (Characters::count(word, kMinTermChars) < kMinTermChars)
            continue;
        if (stop().contains(word) || kept.contains(word))
            continue;
        kept << word;
    }
    return kept;
}

bool isRuling(const QString& question)
{
    const QString padded = u' ' + Arabic::normalize(question) + u' ';
    static const QStringList normalisedMarks = [] {
        QStringList out;
        for (const QString& mark : rulingMarks())
            out << Arabic::normalize(mark);
        return out;
    }();
    return std::any_of(normalisedMarks.begin(), normalisedMarks.end(),
                       [&](const QString& mark) { return padded.contains(mark); });
}

QString window(const QString& text, const QStringList& words, int max)
{
    if (Characters::count(text, max) <= max)
        return text;

    const Arabic::Index idx = Arabic::index(text);
    QList<qsizetype> offsets;
    for (const QString& term : words) {
        for (const Arabic::Range& r : Arabic::ranges(term, idx, Arabic::Match::anywhere))
            offsets << r.location;
    }
    std::sort(offsets.begin(), offsets.end());

    // The first offset with the most hits in the half window from it; the
    // offsets are sorted, so the hits are counted with a second index.
    qsizetype centre = 0;
    qsizetype best = 0;
    qsizetype last = 0;
    for (qsizetype i = 0; i < offsets.size(); ++i) {
        last = std::max(last, i);
        while (last < offsets.size() && offsets[last] < offsets[i] + max / 2)
            ++last;
        if (last - i > best) {
            best = last - i;
            centre = offsets[i];
        }
    }

    const qsizetype length = text.size();
    qsizetype start = std::max<qsizetype>(0, centre - max / 3);
    qsizetype end = std::min<qsizetype>(length, start + max);
    start = std::max<qsizetype>(0, end - max);
    while (start > 0 && !isWindowBreak(text[start - 1]))
        --start;
    while (end < length && !isWindowBreak(text[end]))
        ++end;

    QString out;
    if (start > 0)
        out += QStringLiteral("… ");
    out += QStringView(text).mid(start, end - start);
    if (end < length)
        out += QStringLiteral(" …");
    return out;
}

QStringList termGroups(const QStringList& terms, TermReach reach)
{
    QStringList groups;
    groups.reserve(terms.size());
    for (const QString& term : terms)
        groups << termGroup(term, reach);
    return groups;
}

QList<Passage> retrieve(const Library& lib, const QString& question, int k, const BookScope& scope,
                        int perBook, TermReach reach)
{
    const QStringList t = terms(question);
    if (t.isEmpty())
        return {};
    // A kept connection: its page cache and memory map are warm from the last
    // question, which a fresh one would spend most of a short search rebuilding.
    std::shared_ptr<SQLiteDB> db = lib.takeSearchConnection();
    if (!db)
        return {};

    const QStringList groups = termGroups(t, reach);
    const auto inScope = [&](std::int64_t bookId) { return !scope || scope->contains(bookId); };

    QList<std::pair<std::int64_t, std::int64_t>> candidates; // (page id, book id) as found
    if (const auto index = SharedMeaningIndex::index()) {
        for (const HybridHit& hit : hybridSearch(*db, index.get(), question, kHybridK, kHybridRRF, kHybridPool)) {
            if (inScope(hit.bookId))
                candidates.append({hit.pageId, hit.bookId});
        }
    }
    for (const QString& joiner : {QStringLiteral(" AND "), QStringLiteral(" OR ")}) {
        if (candidates.size() >= k)
            break;
        std::optional<Statement> statement = db->prepare(ftsStatement);
        if (!statement)
            break;
        statement->bind({groups.join(joiner)});
        while (statement->step()) {
            const std::optional<std::int64_t> pageId = statement->integer(0);
            const std::optional<std::int64_t> bookId = statement->integer(1);
            if (!pageId || !bookId || !inScope(*bookId))
                continue;
            candidates.append({*pageId, *bookId});
        }
    }
    // Every statement is finished: the connection goes back as it was found.
    lib.returnSearchConnection(std::move(db));

    const QHash<std::int64_t, Book> books = lib.bookById();
    QList<Passage> passages;
    QSet<std::int64_t> met;
    QHash<std::int64_t, int> perBookCount;
    for (const auto& [pageId, bookId] : candidates) {
        if (met.contains(pageId))
            continue;
        met.insert(pageId);
        if (perBookCount.value(bookId) >= perBook)
            continue;
        const std::optional<Page> page = lib.page(pageId);
        if (!page)
            continue;
        const auto book = books.constFind(bookId);
        if (book == books.cend())
            continue;
        ++perBookCount[bookId];

        QString content = page->content;
        content.replace(footnoteMarker, footnoteLabel);
        passages.append(Passage::of(lib, *book, *page, window(content, t, windowChars.load()), int(passages.size()) + 1));
        if (passages.size() >= k)
            break;
    }
    return passages;
}

} // namespace quorvel::AIAssistant
