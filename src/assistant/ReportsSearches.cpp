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
// Biographical pages: at most this many are quoted, found among the pages
// the search for the name as a phrase returns and those retrieval ranks
// best; a sentence longer than the longest quotation is cut around the name.
constexpr int kNameQuoted = 8;
constexpr int kNamePhraseHits = 300;
constexpr int kNamePool = 40;
constexpr int kNamePoolPerBook = 4;
constexpr int kNamePhraseVariantsMax = 16;
constexpr qsizetype kQuotedCharsMax = 420;
constexpr qsizetype kQuotedBefore = 120;
constexpr qsizetype kPassageContext = 300;

constexpr std::array<const char16_t*, 9> kPrefixes{u"", u"ال", u"و", u"وال", u"ب", u"بال", u"ل", u"لل", u"ف"};

const QString footnoteMarker = QStringLiteral("__________");

// "١٢ كلمة": how many first words takhrij searches, in the user's digits.
QString firstWords()
{
    static const CountedNoun words(QStringLiteral("كلمة"), QStringLiteral("كلمتان"), QStringLiteral("كلمات"),
                                   QStringLiteral("كلمة"));
    return words.count(kTakhrijWords, CountedNoun::Case::genitive);
}
const QString footnoteLabel = QStringLiteral("\n[الحاشية]\n");

QString nonEmpty(const std::optional<QString>& s) { return s.value_or(QString()); }

// Words that join a man to his father or forefather, in normal form; «ابن»
// is read as «بن».
const QString& sonOf()
{
    static const QString word = QStringLiteral("بن");
    return word;
}
bool isLineage(const QString& word)
{
    return word == sonOf() || word == QStringLiteral("ابن") || word == QStringLiteral("بنت");
}
QString foldedWord(const QString& word) { return word == QStringLiteral("ابن") ? sonOf() : word; }

// Letters joined to the front of a word: and, so, with, for.
const QStringList& proclitics()
{
    static const QStringList letters{QStringLiteral("و"),  QStringLiteral("ف"),  QStringLiteral("ب"),
                                     QStringLiteral("ل"),  QStringLiteral("وب"), QStringLiteral("ول"),
                                     QStringLiteral("فب"), QStringLiteral("فل")};
    return letters;
}

// An entry number, or a source symbol, before a dictionary entry's name.
bool isEntryNumber(const QString& word)
{
    return std::all_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
}
bool isEntryMark(const QString& word) { return word.size() == 1 || isEntryNumber(word); }

// How plainly a sentence is the name's own entry: a numbered line that opens
// with the name is a dictionary's entry; a line that opens with it unnumbered
// may be a cross-reference or a note on someone unnamed; any other sentence
// only mentions the name.
enum class Entry { none, unnumbered, numbered };

// Where a sentence holds the name as written (marks, hamza forms and «ابن»
// aside) and not as someone's father or forefather: its stretch in the
// sentence, and how plainly the sentence is the name's entry.
struct NameAt {
    qsizetype start = 0;
    qsizetype end = 0;
    Entry entry = Entry::none;
};

std::optional<NameAt> nameIn(const QString& sentence, const QStringList& name)
{
    if (name.isEmpty())
        return std::nullopt;
    const Arabic::Index idx = Arabic::index(sentence);
    QStringList words;
    QList<qsizetype> at; // each word's first unit in the normal form
    qsizetype from = 0;
    for (const QString& w : idx.norm.split(u' ')) {
        words << foldedWord(w);
        at << from;
        from += w.size() + 1;
    }
    std::optional<NameAt> found;
    for (qsizetype i = 0; i + name.size() <= words.size(); ++i) {
        const QString& first = words[i];
        bool joined = false;
        if (first != name[0]) {
            joined = !isLineage(name[0]) && std::any_of(proclitics().begin(), proclitics().end(), [&](const QString& c) {
                return first.size() == c.size() + name[0].size() && first.startsWith(c) && first.endsWith(name[0]);
            });
            if (!joined)
                continue;
        }
        bool whole = true;
        for (qsizetype j = 1; j < name.size() && whole; ++j)
            whole = words[i + j] == name[j];
        if (!whole || (i > 0 && !joined && isLineage(words[i - 1])))
            continue;
        const qsizetype lastUnit = at[i + name.size() - 1] + words[i + name.size() - 1].size() - 1;
        if (at[i] >= idx.map.size() || lastUnit >= idx.map.size())
            continue;
        NameAt here{idx.map[at[i]], std::min<qsizetype>(idx.map[lastUnit] + 1, sentence.size()), Entry::none};
        if (!joined && std::all_of(words.begin(), words.begin() + i, isEntryMark)) {
            here.entry = std::any_of(words.begin(), words.begin() + i, isEntryNumber) ? Entry::numbered
                                                                                      : Entry::unnumbered;
        }
        if (!found || here.entry > found->entry)
            found = here;
    }
    return found;
}

bool isBreak(QChar c) { return c == u' ' || c == u'\n'; }
bool isQuoteTrimmed(QChar c) { return c == u' ' || c == QChar(0x2026) || c == u'\n' || c == u'\r' || c == u'\t'; }

// `from` moved forward to the start of a word, `to` back to the end of one.
std::pair<qsizetype, qsizetype> atWords(const QString& text, qsizetype from, qsizetype to, qsizetype start,
                                        qsizetype end)
{
    if (from > 0)
        while (from < start && !isBreak(text[from - 1]))
            ++from;
    if (to < text.size())
        while (to > end && !isBreak(text[to]))
            --to;
    return {from, to};
}

// A page's best sentence about the name: its stretch in the page text (the
// stretch around the name when the sentence is too long to quote whole) and
// how plainly it is the name's entry. Nothing when no sentence of the page
// holds the name.
struct Quoted {
    qsizetype start = 0;
    qsizetype end = 0;
    Entry entry = Entry::none;
};

std::optional<Quoted> sentenceAbout(const QString& text, const QStringList& name)
{
    static const PyRegex::Regex sentence = PyRegex::compile(QStringLiteral("[^.؟!؛\n]+[.؟!؛]?"));
    // Most pages and sentences lack the name's last word: they are passed
    // over before their words are mapped.
    if (name.isEmpty())
        return std::nullopt;
    const QString& last = name.last();
    if (!Arabic::normalize(text).contains(last))
        return std::nullopt;
    std::optional<Quoted> best;
    for (const PyRegex::Range& r : PyRegex::allMatches(sentence, text)) {
        const QString s = text.mid(r.start, r.length);
        if (!Arabic::normalize(s).contains(last))
            continue;
        const std::optional<NameAt> at = nameIn(s, name);
        if (!at || Arabic::tokens(s).size() <= name.size())
            continue;
        Quoted q{r.start, r.start + r.length, at->entry};
        if (Characters::count(s, kQuotedCharsMax + 1) > kQuotedCharsMax) {
            const qsizetype from = std::max<qsizetype>(0, at->start - kQuotedBefore);
            const qsizetype to = std::min<qsizetype>(s.size(), from + Characters::endOfFirst(s.mid(from), kQuotedCharsMax));
            const auto [a, b] = atWords(s, from, to, at->start, at->end);
            q.start = r.start + a;
            q.end = r.start + b;
        }
        if (!best || q.entry > best->entry)
            best = q;
    }
    return best;
}

// A page read as a passage about the name: the stretch of the page around its
// sentence about the name, and that sentence.
struct AboutName {
    Passage passage;
    QString sentence;
    Entry entry = Entry::none;
};

std::optional<AboutName> pageAbout(const Library& lib, const QHash<std::int64_t, Book>& byId, std::int64_t pageId,
                                   const QStringList& name)
{
    const std::optional<Page> page = lib.page(pageId);
    if (!page)
        return std::nullopt;
    const auto book = byId.constFind(page->bookId);
    if (book == byId.cend())
        return std::nullopt;
    QString content = page->content;
    content.replace(footnoteMarker, footnoteLabel);
    const std::optional<Quoted> q = sentenceAbout(content, name);
    if (!q)
        return std::nullopt;
    const QString said = Characters::trim(QStringView(content).sliced(q->start, q->end - q->start), isQuoteTrimmed)
                             .toString()
                             .replace(u'\n', u' ');
    if (said.isEmpty())
        return std::nullopt;
    const auto [a, b] = atWords(content, std::max<qsizetype>(0, q->start - kPassageContext),
                                std::min<qsizetype>(content.size(), q->end + kPassageContext), q->start, q->end);
    return AboutName{Passage::of(lib, *book, *page,
                                 (a > 0 ? QStringLiteral("… ") : QString()) + content.mid(a, b - a)
                                     + (b < content.size() ? QStringLiteral(" …") : QString())),
                     said, q->entry};
}

// The full-text query for the name as a phrase, «بن» also written «ابن».
QString namePhrase(const QStringList& name)
{
    QStringList variants{QString()};
    for (const QString& w : name) {
        const QStringList spellings = w == sonOf() ? QStringList{w, QStringLiteral("ابن")} : QStringList{w};
        QStringList grown;
        for (const QString& v : variants) {
            for (const QString& spelling : spellings) {
                if (grown.size() < kNamePhraseVariantsMax)
                    grown << (v.isEmpty() ? spelling : v + u' ' + spelling);
            }
        }
        variants = grown;
    }
    QStringList quoted;
    for (const QString& v : variants)
        quoted << SearchEngine::quote(v);
    return quoted.join(QStringLiteral(" OR "));
}

// The pages of the scope that hold the name as a phrase, best ranked first,
// as (page id, book id).
QList<std::pair<std::int64_t, std::int64_t>> pagesNaming(const Library& lib, const QStringList& name,
                                                          const BookScope& scope)
{
    if (scope && scope->isEmpty())
        return {};
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return {};
    QString sql = QStringLiteral("SELECT page_id, book_id FROM pages_fts WHERE pages_fts MATCH ?");
    if (scope) {
        QStringList ids;
        for (const std::int64_t id : *scope)
            ids << QString::number(id);
        sql += QStringLiteral(" AND book_id IN (") + ids.join(u',') + u')';
    }
    sql += QStringLiteral(" ORDER BY bm25(pages_fts) LIMIT ") + QString::number(kNamePhraseHits);
    QList<std::pair<std::int64_t, std::int64_t>> out;
    for (const Statement::Row& row : conn->rows(sql, {namePhrase(name)})) {
        const std::optional<std::int64_t> page = row.integer(0);
        const std::optional<std::int64_t> book = row.integer(1);
        if (page && book)
            out.append({*page, *book});
    }
    return out;
}

// The pages of the scope about the name: those retrieval ranks best for it,
// then the rest of those naming it, each page read whole and kept only when
// a sentence of it holds the name itself; the name's entries in the
// biographical dictionaries first, one page per book. (A numbered line of
// another book, a hadith say, is no entry.)
QList<AboutName> aboutName(const Library& lib, const QString& asked, const QStringList& name, const BookScope& scope,
                           const QSet<std::int64_t>& dictionaries)
{
    QList<std::pair<std::int64_t, std::int64_t>> pages;
    for (const Passage& p : AIAssistant::retrieve(lib, asked, kNamePool, scope, kNamePoolPerBook))
        pages.append({p.pageId, p.bookId});
    pages << pagesNaming(lib, name, scope);
    const QHash<std::int64_t, Book> byId = lib.bookById();
    QSet<std::int64_t> read;
    // A book whose page is kept needs no other page, unless it is a
    // dictionary whose entry of the name may still come.
    QSet<std::int64_t> settled;
    QList<AboutName> found;
    for (const auto& [id, bookId] : pages) {
        if (read.contains(id) || settled.contains(bookId))
            continue;
        read.insert(id);
        std::optional<AboutName> a = pageAbout(lib, byId, id, name);
        if (!a)
            continue;
        const bool dictionary = dictionaries.contains(bookId);
        if (!dictionary)
            a->entry = Entry::none;
        if (!dictionary || a->entry == Entry::numbered)
            settled.insert(bookId);
        found << *a;
    }
    std::stable_sort(found.begin(), found.end(), [](const AboutName& a, const AboutName& b) { return a.entry > b.entry; });
    QList<AboutName> out;
    QSet<std::int64_t> booksMet;
    for (const AboutName& a : found) {
        if (!booksMet.contains(a.passage.bookId)) {
            booksMet.insert(a.passage.bookId);
            out << a;
        }
    }
    return out;
}

} // namespace

Built biography(const Library& lib, const QString& q, const BookScope& scope)
{
    // The name asked for, without the question's words; its words in normal
    // form with «ابن» read as «بن» are what a quoted sentence must hold.
    const QString name = Intent::person(q);
    QStringList folded;
    for (const QString& word : Arabic::tokens(name))
        folded << foldedWord(word);
    QStringList W;
    for (const QString& word : Arabic::tokens(name)) {
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
            // The words in the order asked: أنس بن مالك is not مالك بن أنس.
            const QString authorName = Arabic::normalize(author.name);
            qsizetype from = 0;
            if (!std::all_of(W.begin(), W.end(), [&](const QString& w) {
                    const qsizetype at = authorName.indexOf(w, from);
                    from = at + w.size();
                    return at >= 0;
                }))
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

    // A name's own dictionary entries first, then the other pages in the
    // order of their authors' deaths; a sentence two editions share is quoted once.
    const QSet<std::int64_t> T = sub(scope, books(lib, tarajimKeys()));
    QList<AboutName> R = aboutName(lib, name, folded, T, T);
    if (R.size() < 3) {
        QSet<std::int64_t> met;
        for (const AboutName& a : R)
            met.insert(a.passage.pageId);
        for (const AboutName& a : aboutName(lib, name, folded, scope, T)) {
            if (!met.contains(a.passage.pageId))
                R << a;
        }
    }
    QList<AboutName> kept;
    QSet<QString> said;
    for (const AboutName& a : R) {
        const QString norm = Arabic::normalize(a.sentence);
        if (kept.size() < kNameQuoted && !said.contains(norm)) {
            said.insert(norm);
            kept << a;
        }
    }
    QList<Passage> numbered;
    QList<Passage> unnumbered;
    QList<Passage> others;
    QHash<std::int64_t, QString> sentenceOf;
    for (const AboutName& a : kept) {
        (a.entry == Entry::numbered ? numbered : a.entry == Entry::unnumbered ? unnumbered : others) << a.passage;
        sentenceOf.insert(a.passage.pageId, a.sentence);
    }
    const QList<Passage> P = renumber(chrono(numbered) + chrono(unnumbered) + chrono(others));

    QString section;
    if (!P.isEmpty()) {
        section += QStringLiteral("## ما ورد عنه في كتب التراجم والتاريخ\n");
        for (const Passage& p : P) {
            section += QStringLiteral("- ") + who(p) + QStringLiteral(" في «") + p.bookTitle + QStringLiteral("»: «")
                + sentenceOf.value(p.pageId) + QStringLiteral("» [") + QString::number(p.n) + QStringLiteral("]\n");
        }
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
    QList<Passage> P;
    for (qsizetype i = 0; i < std::min<qsizetype>(hitBooks.size(), kTakhrijBooks); ++i) {
        const SearchHit& h = first[hitBooks[i].id];
        const std::optional<Page> page = lib.page(h.pageId);
        const auto book = byId.constFind(hitBooks[i].id);
        if (!page || book == byId.cend())
            continue;
        QString content = page->content;
        content.replace(footnoteMarker, footnoteLabel);
        P.append(Passage::of(lib, *book, *page, AIAssistant::window(content, around, kTakhrijWindowChars),
                             int(P.size()) + 1));
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
    text += u'.' + (cut ? QStringLiteral(" (بحث بأول ") + firstWords() + QStringLiteral(" من النص.)") : QString())
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
