#include "assistant/Reports.h"

#include "assistant/Intent.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/PyRegex.h"
#include "search/SearchEngine.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"

#include <algorithm>
#include <array>

namespace quorvel::Reports {

namespace {

// Takhrij searches the text's first words only, and lists the first books.
constexpr int kTakhrijWords = 12;
constexpr int kTakhrijHitLimit = 50000;
constexpr int kTakhrijBooks = 25;
constexpr int kTakhrijWindowChars = 700;
constexpr int kTakhrijWindowWords = 3;
constexpr int kWidestBooks = 25;
constexpr int kOldestBooks = 8;
constexpr int kSamples = 4;

// "١٢ كلمة": how many first words takhrij searches, in the user's digits.
QString firstWords()
{
    static const CountedNoun words(QStringLiteral("كلمة"), QStringLiteral("كلمتان"), QStringLiteral("كلمات"),
                                   QStringLiteral("كلمة"));
    return words.count(kTakhrijWords, CountedNoun::Case::genitive);
}

} // namespace

Built takhrij(Library& lib, const QString& q, const BookScope& scope)
{
    const QStringList tokens = Arabic::tokens(q);
    if (tokens.size() < 2)
        return {{}, QStringLiteral("اكتب نصا من كلمتين على الأقل."), QString()};
    const bool cut = tokens.size() > kTakhrijWords;
    const QString phrase = tokens.mid(0, kTakhrijWords).join(u' ');

    SearchQuery query;
    query.andPhrases = {phrase};
    query.inNotes = false;
    if (scope)
        query.scope = QList<std::int64_t>(scope->cbegin(), scope->cend());
    QList<SearchHit> hits;
    SearchEngine engine(lib);
    engine.run(query, kTakhrijHitLimit, [&](const QList<SearchHit>& batch, bool) {
        for (const SearchHit& hit : batch) {
            if (hit.kind == SearchHit::Kind::page)
                hits.append(hit);
        }
    });
    if (hits.isEmpty()) {
        return {{},
                QStringLiteral("لم يرد النص بلفظه في كتب المكتبة")
                    + (cut ? QStringLiteral(" (بحث بأول ") + firstWords() + QStringLiteral(" منه)") : QString())
                    + QStringLiteral(". جرب جزءا أقصر منه."),
                QString()};
    }

    QHash<std::int64_t, int> perBook;
    QHash<std::int64_t, SearchHit> first;
    for (const SearchHit& hit : hits) {
        ++perBook[hit.bookId];
        const auto it = first.constFind(hit.bookId);
        if (it == first.cend() || hit.seq < it->seq)
            first.insert(hit.bookId, hit);
    }
    QList<Book> hitBooks;
    for (const Book& b : lib.books()) {
        if (first.contains(b.id))
            hitBooks << b;
    }

    const QHash<std::int64_t, Book> byId = lib.bookById();
    const QStringList around = tokens.mid(0, kTakhrijWindowWords);
    const QString normPhrase = Arabic::normalize(phrase);
    QList<Passage> P;
    for (qsizetype i = 0; i < std::min<qsizetype>(hitBooks.size(), kTakhrijBooks); ++i) {
        const SearchHit& h = first[hitBooks[i].id];
        const std::optional<Page> page = lib.page(h.pageId);
        const auto book = byId.constFind(hitBooks[i].id);
        if (!page || book == byId.cend())
            continue;
        Passage p = Passage::of(lib, *book, *page, footnotesLabelled(page->content), int(P.size()) + 1);
        // The page's own text of the hadith is quoted, not the chapter
        // heading that repeats its words (and may be all that has them
        // verbatim): a page of headings alone keeps them.
        if (const QList<Passage> bare = withoutHeadings(lib, {p}); !bare.isEmpty())
            p = bare.first();
        p.text = AIAssistant::window(p.text, around, kTakhrijWindowChars);
        P.append(p);
    }

    QList<std::int64_t> hitIds;
    for (const Book& b : hitBooks)
        hitIds << b.id;
    // A work's editions quoting the phrase alike are listed once.
    const qsizetype built = P.size();
    QHash<std::int64_t, QList<std::int64_t>> editions;
    P = onePerWork(lib, phrase, P, normPhrase, &editions);
    const QHash<std::int64_t, QString> titles = shownTitles(lib, P);

    QString text = QStringLiteral("## الخلاصة\nورد النص بلفظه في ") + CountedNoun::pages().count(hits.size(), CountedNoun::Case::genitive)
        + QStringLiteral(" من ") + worksCount(lib, hitIds, CountedNoun::Case::genitive);
    if (P.size() >= 2) {
        text += QStringLiteral("؛ أقدم من أورده ") + whereFrom(P.first(), titles.value(P.first().bookId))
            + QStringLiteral("، وآخرهم ") + whereFrom(P.last(), titles.value(P.last().bookId));
    }
    text += u'.' + (cut ? QStringLiteral(" (بحث بأول ") + firstWords() + QStringLiteral(" من النص.)") : QString())
        + QStringLiteral("\n## المواضع مرتبة بوفاة المؤلفين\n");
    for (const Passage& p : P) {
        // A work in several editions has the places of the edition that has most.
        const QList<std::int64_t> books = editions.value(p.pageId, {p.bookId});
        int k = 1;
        for (const std::int64_t b : books)
            k = std::max(k, perBook.value(b, 1));
        const qsizetype e = books.size();
        text += QStringLiteral("- ") + whereFrom(p, titles.value(p.bookId))
            + (k > 1 ? QStringLiteral(" (") + mawadi().count(k, CountedNoun::Case::genitive) + u')' : QString())
            + (e > 1 ? QStringLiteral(" (في ") + tabaat().count(e, CountedNoun::Case::genitive) + u')' : QString())
            + QStringLiteral(": ") + quote(phrase, p, normPhrase) + u'\n';
    }
    if (built < hitBooks.size()) {
        text += QStringLiteral("وفي ") + CountedNoun::books().count(hitBooks.size() - built, CountedNoun::Case::genitive)
            + QStringLiteral(" أخرى؛ افتح «البحث» بالنص نفسه لتراها كلها.\n");
    }
    return {P, text, QString()};
}

QStringList wordGroups(const QStringList& words)
{
    QStringList groups;
    for (const QString& word : words) {
        const std::shared_ptr<const Arabic::FormSet> all = Arabic::wordForms(word);
        QStringList forms(all->cbegin(), all->cend());
        std::sort(forms.begin(), forms.end());
        for (QString& f : forms)
            f = SearchEngine::quote(f);
        groups << u'(' + forms.join(QStringLiteral(" OR ")) + u')';
    }
    return groups;
}

Built sources(const Library& lib, const QString& q, const BookScope& scope)
{
    const QStringList terms = AIAssistant::terms(q);
    if (terms.isEmpty())
        return {};
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return {};

    const QStringList groups = wordGroups(keys(q));

    const QHash<std::int64_t, Book> byId = lib.bookById();
    QList<std::pair<Book, std::int64_t>> L;
    for (const QString& joiner : {QStringLiteral(" AND "), QStringLiteral(" OR ")}) {
        if (!L.isEmpty())
            break;
        const QList<Statement::Row> rows = conn->rows(
            QStringLiteral("SELECT book_id, count(*) FROM pages_fts WHERE pages_fts MATCH ? GROUP BY book_id ORDER BY 2 DESC"),
            {groups.join(joiner)});
        for (const Statement::Row& row : rows) {
            const std::optional<std::int64_t> id = row.integer(0);
            if (!id || (scope && !scope->contains(*id)) || !byId.contains(*id))
                continue;
            L.append({byId[*id], row.integer(1).value_or(0)});
        }
    }
    if (L.isEmpty())
        return {};

    std::int64_t total = 0;
    QList<std::int64_t> ids;
    for (const auto& entry : L) {
        total += entry.second;
        ids << entry.first.id;
    }
    // Each edition of a work is its own line, told apart by its edition.
    const QHash<std::int64_t, QString> titles = BookTitles::labels(*lib.catalog(), ids);
    const auto bookLine = [&](int i, const Book& b, std::int64_t c) {
        QString x;
        const QString author = lib.authorName(b);
        const std::optional<std::int64_t> death = lib.deathYear(b);
        if (!author.isEmpty())
            x = QStringLiteral(" · ") + author;
        else if (death && *death >= 2)
            x = QStringLiteral(" (ت ") + Arabic::num(*death) + u')';
        // The count stands alone after the dash: nominative ("صفحتان").
        return Arabic::num(i) + QStringLiteral(". ") + titles.value(b.id, b.title) + x + QString::fromUtf8(CountedNoun::separator) + CountedNoun::pages().count(c, CountedNoun::Case::nominative) + u'\n';
    };

    QString text = QStringLiteral("## الخلاصة\nورد «") + q + QStringLiteral("» في ") + CountedNoun::pages().count(total, CountedNoun::Case::genitive)
        + QStringLiteral(" من ") + worksCount(lib, ids, CountedNoun::Case::genitive)
        + QStringLiteral(". هذه أوسعها تناولا، ثم أقدمها، ثم نماذج من نصوصها.\n## أوسع الكتب تناولا للموضوع\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(L.size(), kWidestBooks); ++i)
        text += bookLine(int(i) + 1, L[i].first, L[i].second);

    QList<std::pair<Book, std::int64_t>> oldest = L;
    std::stable_sort(oldest.begin(), oldest.end(), [&](const auto& a, const auto& b) {
        return lib.deathYear(a.first).value_or(Library::undatedYear) < lib.deathYear(b.first).value_or(Library::undatedYear);
    });
    text += QStringLiteral("## أقدم ما فيه من الكتب\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(oldest.size(), kOldestBooks); ++i)
        text += bookLine(int(i) + 1, oldest[i].first, oldest[i].second);

    // A book's sample is its best page that holds the words as words.
    constexpr int kSamplePages = 4;
    QList<Passage> picked;
    for (qsizetype i = 0; i < std::min<qsizetype>(L.size(), kSamples); ++i) {
        // Any of the terms will do, as it did for the books.
        const QList<Passage> pages = AIAssistant::retrieve(lib, q, kSamplePages, QSet<std::int64_t>{L[i].first.id}, kSamplePages,
                                                           AIAssistant::TermReach::everyForm);
        const auto held = std::find_if(pages.begin(), pages.end(), [&](const Passage& p) {
            return std::any_of(terms.begin(), terms.end(), [&](const QString& t) { return !holdingWords(t, {p}).isEmpty(); });
        });
        if (held == pages.end())
            continue;
        Passage p = *held;
        p.n = int(picked.size()) + 1;
        picked << p;
    }
    // Two editions of one work giving the same sample are quoted once.
    picked = onePerWork(lib, q, picked);
    if (!picked.isEmpty()) {
        const QHash<std::int64_t, QString> sampled = shownTitles(lib, picked);
        text += QStringLiteral("## نماذج من نصوصها\n");
        for (const Passage& p : picked)
            text += QStringLiteral("- ") + whereFrom(p, sampled.value(p.bookId)) + QStringLiteral(": ") + quote(q, p) + u'\n';
    }
    return {picked, text, QString()};
}

} // namespace quorvel::Reports
