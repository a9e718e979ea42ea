#include "assistant/Reports.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "search/SearchEngine.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"

#include <algorithm>
#include <array>

namespace quorvel::Reports {

namespace {

constexpr int kBioChars = 1400;
constexpr int kWorksListed = 40;
constexpr std::int64_t kNoDeath = 99999;
constexpr std::int64_t kUndated = 9999;
// Takhrij searches the text's first words only, and lists the first books.
constexpr int kTakhrijWords = 12;
constexpr int kTakhrijHitLimit = 50000;
constexpr int kTakhrijBooks = 25;
constexpr int kTakhrijWindowChars = 700;
constexpr int kTakhrijWindowWords = 3;
constexpr int kWidestBooks = 25;
constexpr int kOldestBooks = 8;
constexpr int kSamples = 4;
// Biographical pages: those kept, and for a name of several words the wider
// pool they are chosen from; reordered names are sought up to six words.
constexpr int kNamePassages = 10;
constexpr int kNamePool = 40;
constexpr int kNamePoolPerBook = 4;
constexpr qsizetype kReorderedWordsMax = 6;

constexpr std::array<const char16_t*, 9> kPrefixes{u"", u"ال", u"و", u"وال", u"ب", u"بال", u"ل", u"لل", u"ف"};

const QString footnoteMarker = QStringLiteral("__________");
const QString footnoteLabel = QStringLiteral("\n[الحاشية]\n");

QString citedLine(const QString& q, const Passage& p)
{
    return QStringLiteral("- ") + who(p) + QStringLiteral(" في «") + p.bookTitle + QStringLiteral("»: ") + quote(q, p)
        + u'\n';
}

QString nonEmpty(const std::optional<QString>& s) { return s.value_or(QString()); }

// The same words in another order name another man (أنس بن مالك is not
// مالك بن أنس), so a name of two or more words is looked for as a phrase.
bool holdsReordered(const QString& norm, QStringList words)
{
    const QString asWritten = words.join(u' ');
    std::sort(words.begin(), words.end());
    do {
        const QString phrase = words.join(u' ');
        if (phrase != asWritten && norm.contains(phrase))
            return true;
    } while (std::next_permutation(words.begin(), words.end()));
    return false;
}

// The biographical passages of the scope: for a one-word name the best pages,
// one per book; for a longer one a wider pool, from which the pages holding
// the name as written come first and those holding its words only reordered
// are left out, still one page per book.
QList<Passage> aboutName(const Library& lib, const QString& q, const QStringList& name, const BookScope& scope)
{
    if (name.size() < 2)
        return relevant(q, AIAssistant::retrieve(lib, q, kNamePassages, scope, 1));
    const QString asWritten = name.join(u' ');
    QList<Passage> holding;
    QList<Passage> others;
    for (const Passage& p : relevant(q, AIAssistant::retrieve(lib, q, kNamePool, scope, kNamePoolPerBook))) {
        const QString norm = Arabic::normalize(p.text);
        if (norm.contains(asWritten))
            holding << p;
        else if (name.size() > kReorderedWordsMax || !holdsReordered(norm, name))
            others << p;
    }
    QList<Passage> out;
    QSet<std::int64_t> booksMet;
    for (const Passage& p : holding + others) {
        if (out.size() >= kNamePassages)
            break;
        if (!booksMet.contains(p.bookId)) {
            booksMet.insert(p.bookId);
            out << p;
        }
    }
    return out;
}

// Two editions of one book carry the same line: it is quoted once.
QList<Passage> onePerSentence(const QString& q, const QList<Passage>& passages)
{
    QList<Passage> out;
    QSet<QString> quoted;
    for (const Passage& p : passages) {
        Passage unnumbered = p;
        unnumbered.n = 0;
        const QString sentence = Arabic::normalize(quote(q, unnumbered));
        if (!quoted.contains(sentence)) {
            quoted.insert(sentence);
            out << p;
        }
    }
    return out;
}

} // namespace

Built biography(const Library& lib, const QString& q, const BookScope& scope)
{
    QStringList W;
    for (const QString& word : Arabic::tokens(q)) {
        if (Characters::count(word, 2) > 1)
            W << word;
    }

    const QList<Book> catalogue = lib.books();
    QHash<std::int64_t, QList<Book>> works;
    for (const Book& b : catalogue) {
        if (b.authorId)
            works[*b.authorId].append(b);
    }

    std::optional<Author> chosen;
    if (!W.isEmpty()) {
        const auto better = [&](const Author& a, const Author& b) {
            const qsizetype wa = works.value(a.id).size();
            const qsizetype wb = works.value(b.id).size();
            if (wa != wb)
                return wa > wb;
            const qsizetype la = Characters::count(a.name);
            const qsizetype lb = Characters::count(b.name);
            if (la != lb)
                return la < lb;
            const std::int64_t da = a.death.value_or(kNoDeath);
            const std::int64_t db = b.death.value_or(kNoDeath);
            if (da != db)
                return da < db;
            return a.id < b.id;
        };
        for (const Author& author : lib.authors()) {
            const QString name = Arabic::normalize(author.name);
            if (!std::all_of(W.begin(), W.end(), [&](const QString& w) { return name.contains(w); }))
                continue;
            if (!chosen || better(author, *chosen))
                chosen = author;
        }
    }

    QString card;
    if (chosen) {
        const QList<Statement::Row> rows =
            lib.main().rows(QStringLiteral("SELECT full_name, bio, death_text FROM authors WHERE id=?"), {chosen->id});
        const Statement::Row* row = rows.isEmpty() ? nullptr : &rows.first();
        card += QStringLiteral("## بطاقة العلم في المكتبة\n");
        const QString fullName = row ? nonEmpty(row->str(0)) : QString();
        card += QStringLiteral("الاسم: ") + (fullName.isEmpty() ? chosen->name : fullName) + u'\n';
        const QString deathText = row ? nonEmpty(row->str(2)) : QString();
        if (chosen->death && *chosen->death >= 2) {
            card += QStringLiteral("الوفاة: سنة ") + Arabic::num(*chosen->death) + QStringLiteral("هـ (")
                + century(chosen->death) + QStringLiteral(")\n");
        } else if (!deathText.isEmpty()) {
            card += QStringLiteral("الوفاة: ") + deathText + u'\n';
        }
        const QString bio = row ? nonEmpty(row->str(1)) : QString();
        if (!bio.isEmpty()) {
            const qsizetype cut = Characters::endOfFirst(bio, kBioChars);
            QString shown = bio.left(cut).replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
            if (cut < bio.size())
                shown += QStringLiteral(" …");
            card += shown + u'\n';
        }
        // A work in several editions is one work, listed once.
        const std::shared_ptr<const Catalog> catalog = lib.catalog();
        QList<std::int64_t> ownWorks;
        QHash<std::int64_t, QString> workTitle;
        QHash<std::int64_t, int> editions;
        for (const Book& b : works.value(chosen->id)) {
            const std::int64_t w = BookTitles::work(*catalog, b.id);
            if (!editions.contains(w)) {
                ownWorks << w;
                workTitle.insert(w, b.title);
            }
            ++editions[w];
        }
        if (!ownWorks.isEmpty()) {
            card += QStringLiteral("## مؤلفاته في المكتبة (") + Arabic::num(ownWorks.size()) + QStringLiteral(")\n");
            for (qsizetype i = 0; i < std::min<qsizetype>(ownWorks.size(), kWorksListed); ++i) {
                const int e = editions.value(ownWorks[i]);
                card += QStringLiteral("- ") + workTitle.value(ownWorks[i])
                    + (e > 1 ? QStringLiteral(" (في ") + tabaat().count(e, CountedNoun::Case::genitive) + u')' : QString()) + u'\n';
            }
        }
    }

    const QSet<std::int64_t> T = sub(scope, books(lib, tarajimKeys()));
    QList<Passage> R = aboutName(lib, q, W, T);
    if (R.size() < 3) {
        QSet<std::int64_t> met;
        for (const Passage& p : R)
            met.insert(p.pageId);
        for (const Passage& p : aboutName(lib, q, W, scope)) {
            if (!met.contains(p.pageId))
                R << p;
        }
    }
    const QList<Passage> P = chrono(onePerSentence(q, R).mid(0, 8));

    QString section;
    if (!P.isEmpty()) {
        section += QStringLiteral("## ما ورد عنه في كتب التراجم والتاريخ\n");
        for (const Passage& p : P)
            section += citedLine(q, p);
        section += QStringLiteral("تنبيه: قد يشترك في الاسم أكثر من علم؛ راجع كل نص في صفحته قبل النقل.\n");
    }
    return {P, card + section, card};
}

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
        // The fixed "١٢" is part of the message as written, whatever the digits preference.
        return {{},
                QStringLiteral("لم يرد النص بلفظه في كتب المكتبة")
                    + (cut ? QStringLiteral(" (بحث بأول ١٢ كلمة منه)") : QString())
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
    QList<Passage> P;
    for (qsizetype i = 0; i < std::min<qsizetype>(hitBooks.size(), kTakhrijBooks); ++i) {
        const SearchHit& h = first[hitBooks[i].id];
        const std::optional<Page> page = lib.page(h.pageId);
        const auto book = byId.constFind(hitBooks[i].id);
        if (!page || book == byId.cend())
            continue;
        QString content = page->content;
        content.replace(footnoteMarker, footnoteLabel);
        P.append(Passage{
            .n = int(P.size()) + 1,
            .pageId = h.pageId,
            .bookId = book->id,
            .seq = page->seq,
            .vol = page->vol,
            .pageNum = page->num,
            .bookTitle = book->title,
            .author = lib.authorName(*book),
            .edition = book->edition,
            .text = AIAssistant::window(content, around, kTakhrijWindowChars),
            .death = lib.deathYear(*book),
        });
    }

    QList<std::int64_t> hitIds;
    for (const Book& b : hitBooks)
        hitIds << b.id;
    // A work's editions quoting the phrase alike are listed once.
    const QString normPhrase = Arabic::normalize(phrase);
    const qsizetype built = P.size();
    QHash<std::int64_t, int> editions;
    P = onePerWork(lib, phrase, P, normPhrase, &editions);
    const QHash<std::int64_t, QString> titles = shownTitles(lib, P);

    QString text = QStringLiteral("## الخلاصة\nورد النص بلفظه في ") + CountedNoun::pages().count(hits.size(), CountedNoun::Case::genitive)
        + QStringLiteral(" من ") + worksCount(lib, hitIds, CountedNoun::Case::genitive);
    if (P.size() >= 2) {
        text += QStringLiteral("؛ أقدم من أورده ") + who(P.first()) + QStringLiteral(" في «") + titles.value(P.first().bookId)
            + QStringLiteral("»، وآخرهم ") + who(P.last()) + QStringLiteral(" في «") + titles.value(P.last().bookId)
            + QStringLiteral("»");
    }
    text += u'.' + (cut ? QStringLiteral(" (بحث بأول ١٢ كلمة من النص.)") : QString())
        + QStringLiteral("\n## المواضع مرتبة بوفاة المؤلفين\n");
    for (const Passage& p : P) {
        const int k = perBook.value(p.bookId, 1);
        const int e = editions.value(p.pageId, 1);
        text += QStringLiteral("- ") + who(p) + QStringLiteral(" في «") + titles.value(p.bookId) + QStringLiteral("»")
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

Built sources(const Library& lib, const QString& q, const BookScope& scope)
{
    const QStringList terms = AIAssistant::terms(q);
    if (terms.isEmpty())
        return {};
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return {};

    QStringList groups;
    for (const QString& term : terms) {
        const QString stem = term.startsWith(QStringLiteral("ال")) && Characters::count(term, 5) >= 5 ? term.mid(2) : term;
        QStringList forms;
        for (const char16_t* prefix : kPrefixes)
            forms << SearchEngine::quote(QString::fromUtf16(prefix) + stem) + u'*';
        groups << u'(' + forms.join(QStringLiteral(" OR ")) + u')';
    }

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
        return Arabic::num(i) + QStringLiteral(". ") + titles.value(b.id, b.title) + x + QString::fromUtf8(CountedNoun::separator) + CountedNoun::pages().count(c, CountedNoun::Case::genitive) + u'\n';
    };

    QString text = QStringLiteral("## الخلاصة\nورد «") + q + QStringLiteral("» في ") + CountedNoun::pages().count(total, CountedNoun::Case::genitive)
        + QStringLiteral(" من ") + worksCount(lib, ids, CountedNoun::Case::genitive)
        + QStringLiteral(". هذه أوسعها تناولا، ثم أقدمها، ثم نماذج من نصوصها.\n## أوسع الكتب تناولا للموضوع\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(L.size(), kWidestBooks); ++i)
        text += bookLine(int(i) + 1, L[i].first, L[i].second);

    QList<std::pair<Book, std::int64_t>> oldest = L;
    std::stable_sort(oldest.begin(), oldest.end(), [&](const auto& a, const auto& b) {
        return lib.deathYear(a.first).value_or(kUndated) < lib.deathYear(b.first).value_or(kUndated);
    });
    text += QStringLiteral("## أقدم ما فيه من الكتب\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(oldest.size(), kOldestBooks); ++i)
        text += bookLine(int(i) + 1, oldest[i].first, oldest[i].second);

    QList<Passage> picked;
    for (qsizetype i = 0; i < std::min<qsizetype>(L.size(), kSamples); ++i) {
        const QList<Passage> one = AIAssistant::retrieve(lib, q, 1, QSet<std::int64_t>{L[i].first.id}, 1);
        if (one.isEmpty())
            continue;
        Passage p = one.first();
        p.n = int(picked.size()) + 1;
        picked << p;
    }
    // Two editions of one work giving the same sample are quoted once.
    picked = onePerWork(lib, q, picked);
    if (!picked.isEmpty()) {
        const QHash<std::int64_t, QString> sampled = shownTitles(lib, picked);
        text += QStringLiteral("## نماذج من نصوصها\n");
        for (const Passage& p : picked)
            text += QStringLiteral("- ") + who(p) + QStringLiteral(" في «") + sampled.value(p.bookId) + QStringLiteral("»: ")
                + quote(q, p) + u'\n';
    }
    return {picked, text, QString()};
}

} // namespace quorvel::Reports
