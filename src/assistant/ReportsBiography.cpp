#include "assistant/Reports.h"
#include "assistant/ReportsBiographyText.h"

#include "assistant/Intent.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/PyRegex.h"
#include "search/SearchEngine.h"

#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace quorvel::Reports {

namespace {

constexpr int kBioChars = 1400;
constexpr int kWorksListed = 40;

// Biographical pages: at most this many are quoted, found among the pages
// the search for the name as a phrase returns and those retrieval ranks
// best; a sentence longer than the longest quotation is cut around the name.
constexpr int kNameQuoted = 8;
constexpr int kNamePool = 40;
constexpr int kNamePoolPerBook = 4;
constexpr int kNamePhraseVariantsMax = 16;
constexpr qsizetype kQuotedCharsMax = 420;
constexpr qsizetype kQuotedBefore = 120;
constexpr qsizetype kPassageContext = 300;
// Enough of the page before's end to hold its last word.
constexpr qsizetype kCarriedChars = 64;
// A word met this often before «بن» opening a name is a given name.
constexpr int kGivenNameMet = 2;
constexpr int kGivenNameLettersMin = 3;

// How many fathers an author's catalogue name must give to be sought in his own books.
constexpr qsizetype kOwnNameFathers = 2;

// Said under the card when no page of the library names the man.
const QString noTextNote = QStringLiteral("لم أجد اسمه في نصوص كتب المكتبة، فالبطاقة وحدها من فهرسها.\n");

QString nonEmpty(const std::optional<QString>& s) { return s.value_or(QString()); }

} // namespace

namespace BiographyText {

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
// A kunya's «أبو» is read in every case: «عن أبي سعيد», «رأيت أبا سعيد».
QString foldedWord(const QString& word)
{
    if (word == QStringLiteral("ابن"))
        return sonOf();
    if (word == QStringLiteral("ابي") || word == QStringLiteral("ابا"))
        return QStringLiteral("ابو");
    return word;
}

// «عبدالله», as some copies join it, is read «عبد الله»: where the word is
// so joined, the length of its «عبد»; 0 otherwise.
qsizetype joinedServant(const QString& word)
{
    static const QString servant = QStringLiteral("عبد");
    return word.size() > servant.size() + 2 && word.startsWith(servant + QStringLiteral("ال")) ? servant.size() : 0;
}

QStringList foldedTokens(const QString& text)
{
    QStringList words;
    for (const QString& w : Arabic::tokens(text)) {
        if (const qsizetype servant = joinedServant(w)) {
            words << w.left(servant) << w.mid(servant);
            continue;
        }
        words << foldedWord(w);
    }
    return words;
}

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

// A kunya's first word, in normal form: «أبو فلان», «أم فلان».
bool isKunya(const QString& word) { return word == QStringLiteral("ابو") || word == QStringLiteral("ام"); }
// A word that a name's next word completes: «عبد الله», «أبي بكر», «بن …».
bool isOpenEnded(const QString& word)
{
    return isLineage(word) || isKunya(word) || word == QStringLiteral("ابي") || word == QStringLiteral("عبد");
}

// How plainly a sentence is the name's own entry: a numbered line that opens
// with the name, or with a kunya and then the name, is a dictionary's entry;
// a line that opens with it unnumbered may be a cross-reference or a note on
// someone unnamed; any other sentence only mentions the name.


Entry entryOpening(const QStringList& before)
{
    qsizetype marks = 0;
    while (marks < before.size() && isEntryMark(before[marks]))
        ++marks;
    const bool numbered = std::any_of(before.begin(), before.begin() + marks, isEntryNumber);
    const qsizetype rest = before.size() - marks;
    if (rest == 0)
        return numbered ? Entry::numbered : Entry::unnumbered;
    // «123 أبو فلان X بن Y سمع …»: the kunya, of one word or «عبد …», before the name.
    if (numbered && isKunya(before[marks])
        && (rest == 2 || (rest == 3 && before[marks + 1] == QStringLiteral("عبد"))))
        return Entry::numbered;
    return Entry::none;
}

// The name asked for, read as a reader reads it in a sentence: its words in
// normal form with «ابن» read as «بن» and, when it is «ابن X» asked alone,
// the given names that before «بن X» make the words another son of X.

// A given name, also with «و» before it («وسلم بن قتيبة»).
bool isGivenName(const QString& word, const QSet<QString>& given)
{
    return given.contains(word) || (word.startsWith(u'و') && given.contains(word.mid(1)));
}

// «ابن X» preceded by the given name of X's son the form means: his own name.
bool namedAsHim(const QStringList& words, qsizetype at, const Reading& reading)
{
    const QStringList& ism = reading.ism;
    return !ism.isEmpty() && at >= ism.size() && words.mid(at - ism.size(), ism.size()) == ism;
}

// A short form whose bearer is known, with a name word beside it that is not
// his: a namesake's («أبو سعيد الأشج», «… بن أبي وقاص الزهري»).
bool besideAnotherName(const QStringList& words, qsizetype at, bool joined, const Reading& reading)
{
    if (reading.own.isEmpty())
        return false;
    const auto alien = [&](const QString& w) {
        if (reading.own.contains(w))
            return false;
        return isLineage(w) || isGivenName(w, reading.given)
            || (w.startsWith(QStringLiteral("ال")) && w.size() > 3 && w != QStringLiteral("الله"));
    };
    const qsizetype after = at + reading.name.size();
    // «ابن X بن Y» is his own lineage only where he is named by his own name.
    if (after < words.size() && alien(words[after]) && !(isLineage(words[after]) && namedAsHim(words, at, reading)))
        return true;
    return at > 0 && !joined && reading.name.first() != sonOf() && alien(words[at - 1]);
}

// Where a sentence holds the name as written (marks, hamza forms and «ابن»
// aside) and not as someone's father or forefather: its stretch in the
// sentence, and how plainly the sentence is the name's entry.
struct NameAt {
    qsizetype start = 0;
    qsizetype end = 0;
    Entry entry = Entry::none;
};

// `carried`: the words, in normal form, that the page before ends with when
// the sentence opens a page inside the sentence or entry begun there.
std::optional<NameAt> nameIn(const QString& sentence, const Reading& reading, const QStringList& carried)
{
    const QStringList& name = reading.name;
    if (name.isEmpty())
        return std::nullopt;
    const bool sonOfAsked = name.first() == sonOf();
    const Arabic::Index idx = Arabic::index(sentence);
    QStringList words = carried;
    QList<qsizetype> at(carried.size(), 0); // each word's first unit in the normal form
    QSet<qsizetype> splitAt;                // the words read from a joined «عبدال…»
    qsizetype from = 0;
    for (const QString& w : idx.norm.split(u' ')) {
        if (const qsizetype servant = joinedServant(w)) {
            splitAt.insert(words.size());
            words << w.left(servant) << w.mid(servant);
            at << from << from + servant;
        } else {
            words << foldedWord(w);
            at << from;
        }
        from += w.size() + 1;
    }
    std::optional<NameAt> found;
    for (qsizetype i = carried.size(); i + name.size() <= words.size(); ++i) {
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
        if (!whole)
            continue;
        if (i > 0 && !joined) {
            const QString& before = words[i - 1];
            // «ابن عم عبدالرحمن»: a name so joined after a kinsman's word is the kinsman's.
            if (isLineage(before) || (splitAt.contains(i) && isRelation(before))
                || (sonOfAsked && isGivenName(before, reading.given) && !namedAsHim(words, i, reading)))
                continue;
        }
        if (besideAnotherName(words, i, joined, reading))
            continue;
        const qsizetype lastUnit = at[i + name.size() - 1] + words[i + name.size() - 1].size() - 1;
        if (at[i] >= idx.map.size() || lastUnit >= idx.map.size())
            continue;
        NameAt here{idx.map[at[i]], std::min<qsizetype>(idx.map[lastUnit] + 1, sentence.size()), Entry::none};
        // «ابن X بن Y» opens the entry of a son of another X.
        const bool longerLineage = sonOfAsked && i + name.size() < words.size() && isLineage(words[i + name.size()]);
        if (!joined && !longerLineage) {
            here.entry = entryOpening(words.mid(carried.size(), i - carried.size()));
            // A line that goes on from the page before opens no entry.
            if (!carried.isEmpty() && here.entry == Entry::unnumbered)
                here.entry = Entry::none;
        }
        if (!found || here.entry > found->entry)
            found = here;
    }
    return found;
}

bool isBreak(QChar c) { return c == u' ' || c == u'\n'; }

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

// `carriedAtStart` gives the words the page before ends with, asked for
// only when the text's first sentence holds the name.
std::optional<Quoted> sentenceAbout(const QString& text, const Reading& reading,
                                    const std::function<QStringList()>& carriedAtStart)
{
    static const PyRegex::Regex sentence = PyRegex::compile(QStringLiteral("[^.؟!؛\n]+[.؟!؛]?"));
    // Most pages and sentences lack the name's last word: they are passed
    // over before their words are mapped.
    const QStringList& name = reading.name;
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
        const bool opensText = std::all_of(text.begin(), text.begin() + r.start, [](QChar c) { return c.isSpace(); });
        const std::optional<NameAt> at =
            nameIn(s, reading, opensText && carriedAtStart ? carriedAtStart() : QStringList());
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

std::optional<AboutName> passageAt(const Library& lib, const Book& book, const Page& page, const QString& content,
                                   const Quoted& q)
{
    const QString said = quotedStretch(content, q.start, q.end);
    if (said.isEmpty())
        return std::nullopt;
    const auto [a, b] = atWords(content, std::max<qsizetype>(0, q.start - kPassageContext),
                                std::min<qsizetype>(content.size(), q.end + kPassageContext), q.start, q.end);
    return AboutName{Passage::of(lib, book, page,
                                 (a > 0 ? QStringLiteral("… ") : QString()) + content.mid(a, b - a)
                                     + (b < content.size() ? QStringLiteral(" …") : QString())),
                     said, q.entry, {}, {}};
}

// The last word of the page before, when that page stops inside a sentence
// (the page opens inside what it began); nothing when it ends one.
QStringList carriedInto(const Library& lib, const Page& page)
{
    const std::optional<Page> before = lib.page(page.bookId, page.seq - 1);
    if (!before)
        return {};
    const QString text = Characters::trim(Library::splitFootnotes(before->content).first, [](QChar c) {
                             return c.isSpace();
                         }).toString();
    if (text.isEmpty() || QStringLiteral(".؟!").contains(text.back()))
        return {};
    const QStringList words = Arabic::tokens(text.right(kCarriedChars));
    return words.isEmpty() ? QStringList() : QStringList{foldedWord(words.last())};
}

std::optional<AboutName> pageAbout(const Library& lib, const QHash<std::int64_t, Book>& byId, std::int64_t pageId,
                                   const Reading& reading)
{
    const std::optional<Page> page = lib.page(pageId);
    if (!page)
        return std::nullopt;
    const auto book = byId.constFind(page->bookId);
    if (book == byId.cend())
        return std::nullopt;
    const QString content = footnotesLabelled(page->content);
    const std::optional<Quoted> q = sentenceAbout(content, reading, [&] { return carriedInto(lib, *page); });
    if (!q)
        return std::nullopt;
    return passageAt(lib, *book, *page, content, *q);
}

// The full-text query for the name as a phrase, «بن» also written «ابن»,
// «أبو» in every case and «عبد الله» also joined «عبدالله».
QString namePhrase(const QStringList& name)
{
    static const QString servant = QStringLiteral("عبد");
    QStringList variants{QString()};
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QString& w = name[i];
        const bool joinable = w == servant && i + 1 < name.size();
        const QStringList spellings = w == sonOf()               ? QStringList{w, QStringLiteral("ابن")}
            : w == QStringLiteral("ابو") ? QStringList{w, QStringLiteral("ابي"), QStringLiteral("ابا")}
            : joinable                   ? QStringList{w + u' ' + name[i + 1], w + name[i + 1]}
                                         : QStringList{w};
        if (joinable)
            ++i;
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
// at most `limit`, as (page id, book id).
QList<std::pair<std::int64_t, std::int64_t>> pagesNaming(const Library& lib, const QStringList& name,
                                                          const BookScope& scope, int limit)
{
    if (name.isEmpty() || (scope && scope->isEmpty()))
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
    sql += QStringLiteral(" ORDER BY bm25(pages_fts) LIMIT ") + QString::number(limit);
    QList<std::pair<std::int64_t, std::int64_t>> out;
    for (const Statement::Row& row : conn->rows(sql, {namePhrase(name)})) {
        const std::optional<std::int64_t> page = row.integer(0);
        const std::optional<std::int64_t> book = row.integer(1);
        if (page && book)
            out.append({*page, *book});
    }
    return out;
}

// How many pages of the library name the words as a phrase.
std::int64_t pagesCount(const Library& lib, const QStringList& words)
{
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return 0;
    const QList<Statement::Row> rows =
        conn->rows(QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"), {namePhrase(words)});
    return rows.isEmpty() ? 0 : rows.first().integer(0).value_or(0);
}

} // namespace BiographyText

namespace {

using namespace BiographyText;

// The pages of the scope about the name: those retrieval ranks best for it,
// then the rest of those naming it, each page read whole and kept only when
// a sentence of it holds the name itself; the name's entries in the
// biographical dictionaries first, one page per book. (A numbered line of
// another book, a hadith say, is no entry.)
QList<AboutName> aboutName(const Library& lib, const QString& asked, const Reading& reading, const BookScope& scope,
                           const QSet<std::int64_t>& dictionaries)
{
    QList<std::pair<std::int64_t, std::int64_t>> pages;
    for (const Passage& p : AIAssistant::retrieve(lib, asked, kNamePool, scope, kNamePoolPerBook))
        pages.append({p.pageId, p.bookId});
    pages << pagesNaming(lib, reading.name, scope);
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
        std::optional<AboutName> a = pageAbout(lib, byId, id, reading);
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

// The given names of the library's men: the word before the first «بن» of
// the dictionaries' numbered entries («3490 عبد الله بن عمر» gives «الله»)
// and before every «بن» of the narrators' names, each met at least twice; a
// word of two letters (a gloss's «هو») is none.
QSet<QString> givenNames(const Library& lib, const QSet<std::int64_t>& dictionaries)
{
    static const QRegularExpression opening(QStringLiteral("(?:^| )[0-9٠-٩]+ (?:(\\S+) )?(\\S+) بن "));
    QHash<QString, int> met;
    const auto count = [&](const QString& first, const QString& word) {
        if (Characters::count(word, kGivenNameLettersMin) >= kGivenNameLettersMin && !isOpenEnded(word)
            && !isLineage(first))
            ++met[word];
    };
    if (!dictionaries.isEmpty()) {
        const QList<std::int64_t> ids(dictionaries.begin(), dictionaries.end());
        const QList<Statement::Row> rows = lib.main().rows(
            QStringLiteral("SELECT content_norm FROM pages WHERE book_id IN (") + SQLiteDB::marks(ids.size()) + u')',
            argsOf(ids));
        for (const Statement::Row& row : rows) {
            for (auto it = opening.globalMatch(row.str(0).value_or(QString())); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                count(m.captured(1), m.captured(2));
            }
        }
    }
    for (const Statement::Row& row :
         lib.main().rows(QStringLiteral("SELECT name FROM narrators WHERE name LIKE '% بن %'"))) {
        // Fathers' and forefathers' names too: «… بن عياض بن مسعود» is no «ابن مسعود».
        const QStringList words = foldedTokens(row.str(0).value_or(QString()));
        for (qsizetype j = 0; j + 1 < words.size(); ++j) {
            if (words[j + 1] == sonOf())
                count(QString(), words[j]);
        }
    }
    QSet<QString> names;
    for (auto it = met.cbegin(); it != met.cend(); ++it) {
        if (it.value() >= kGivenNameMet)
            names.insert(it.key());
    }
    return names;
}

// The leading part of a catalogue full name that names the man and his
// fathers («أبو محمد عبد الله بن مسلم بن قتيبة الدينوري» gives «عبد الله بن
// مسلم بن قتيبة»); nothing when it names no father.
QStringList lineageOf(const QString& fullName)
{
    const QStringList words = foldedTokens(fullName.section(QRegularExpression(QStringLiteral("[،,]")), 0, 0));
    qsizetype i = 0;
    const auto element = [&] {
        if (i < words.size() && isOpenEnded(words[i]) && !isLineage(words[i]))
            ++i;
        if (i < words.size())
            ++i;
    };
    if (i < words.size() && isKunya(words[i]))
        element();
    const qsizetype from = i;
    element();
    while (i + 1 < words.size() && words[i] == sonOf()) {
        ++i;
        element();
    }
    const QStringList lineage = words.mid(from, i - from);
    return lineage.size() >= 3 && lineage.first() != sonOf() ? lineage : QStringList();
}

// The author of the catalogue the name asked for is: of those whose name
// holds its words in order (أنس بن مالك is not مالك بن أنس), the one with
// the most works, then the shorter name, the earlier death, the smaller id.
std::optional<Author> cardAuthor(const Library& lib, const QStringList& nameWords,
                                 const QHash<std::int64_t, QList<Book>>& works)
{
    if (nameWords.isEmpty())
        return std::nullopt;
    const auto better = [&](const Author& a, const Author& b) {
        const qsizetype wa = works.value(a.id).size();
        const qsizetype wb = works.value(b.id).size();
        if (wa != wb)
            return wa > wb;
        const qsizetype la = Characters::count(a.name);
        const qsizetype lb = Characters::count(b.name);
        if (la != lb)
            return la < lb;
        const std::int64_t da = a.death.value_or(Library::undatedYear);
        const std::int64_t db = b.death.value_or(Library::undatedYear);
        if (da != db)
            return da < db;
        return a.id < b.id;
    };
    std::optional<Author> chosen;
    for (const Author& author : lib.authors()) {
        const QString authorName = Arabic::normalize(author.name);
        qsizetype from = 0;
        if (!std::all_of(nameWords.begin(), nameWords.end(), [&](const QString& w) {
                const qsizetype at = authorName.indexOf(w, from);
                from = at + w.size();
                return at >= 0;
            }))
            continue;
        if (!chosen || better(author, *chosen))
            chosen = author;
    }
    return chosen;
}

// The author's works in the library, a work in several editions listed once.
QString worksList(const Library& lib, const QList<Book>& works)
{
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    QList<std::int64_t> ownWorks;
    QHash<std::int64_t, QString> workTitle;
    QHash<std::int64_t, int> editions;
    for (const Book& b : works) {
        const std::int64_t w = BookTitles::work(*catalog, b.id);
        if (!editions.contains(w)) {
            ownWorks << w;
            workTitle.insert(w, b.title);
        }
        ++editions[w];
    }
    if (ownWorks.isEmpty())
        return {};
    QString out = QStringLiteral("## مؤلفاته في المكتبة (") + Arabic::num(ownWorks.size()) + QStringLiteral(")\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(ownWorks.size(), kWorksListed); ++i) {
        const int e = editions.value(ownWorks[i]);
        out += QStringLiteral("- ") + workTitle.value(ownWorks[i])
            + (e > 1 ? QStringLiteral(" (في ") + tabaat().count(e, CountedNoun::Case::genitive) + u')' : QString()) + u'\n';
    }
    return out;
}

// The library card of the author: name, death, biography and works; the
// names of him and his fathers from the catalogue's full name in `lineage`.
QString libraryCard(const Library& lib, const Author& author, const QList<Book>& works, QStringList& lineage)
{
    const QList<Statement::Row> rows =
        lib.main().rows(QStringLiteral("SELECT full_name, bio, death_text FROM authors WHERE id=?"), {author.id});
    const Statement::Row* row = rows.isEmpty() ? nullptr : &rows.first();
    QString card = QStringLiteral("## بطاقة العلم في المكتبة\n");
    const QString fullName = row ? nonEmpty(row->str(0)) : QString();
    lineage = lineageOf(fullName);
    card += QStringLiteral("الاسم: ") + (fullName.isEmpty() ? author.name : fullName) + u'\n';
    const QString deathText = row ? nonEmpty(row->str(2)) : QString();
    if (author.death && *author.death >= 2) {
        card += QStringLiteral("الوفاة: سنة ") + Arabic::num(*author.death) + QStringLiteral("هـ (")
            + century(author.death) + QStringLiteral(")\n");
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
    return card + worksList(lib, works);
}

// A short form's bearer as the reading of the form knows him: the words of
// his entry's heading, his lineage words aside, and his given name.
void readAsBearer(Reading& reading, const AboutName& entry)
{
    for (const QString& w : entryName(foldedTokens(entry.sentence))) {
        if (!isLineage(w))
            reading.own.insert(w);
    }
    const qsizetype son = entry.filedAs.indexOf(sonOf());
    if (son > 0)
        reading.ism = entry.filedAs.mid(0, son);
}

// A dictionary's numbered entry of another man than the bearer's: a
// namesake's, his father's, brother's or son's, or one that names him only
// in its account. His own entry in another dictionary is his.
bool anotherMansEntry(const AboutName& a, const AboutName& bearer, const QStringList& form,
                      const QSet<std::int64_t>& dictionaries)
{
    if (!dictionaries.contains(a.passage.bookId) || a.passage.pageId == bearer.passage.pageId)
        return false;
    const QStringList words = foldedTokens(a.sentence);
    if (words.isEmpty() || !isEntryNumber(words.first()))
        return false;
    return !sameMan(entryName(words, true), entryName(foldedTokens(bearer.sentence), true), form);
}

bool isNumberedEntry(const AboutName& a, const QSet<std::int64_t>& dictionaries)
{
    const QStringList words = foldedTokens(a.sentence);
    return dictionaries.contains(a.passage.bookId) && !words.isEmpty() && isEntryNumber(words.first());
}

// A dictionary's numbered entry whose heading does not hold the short form:
// another man's, naming him only in its account («وذكرها ابن فلان»).
bool namesHimOnlyInItsAccount(const AboutName& a, const QStringList& form, const QSet<std::int64_t>& dictionaries)
{
    if (!isNumberedEntry(a, dictionaries))
        return false;
    const QStringList heading = entryName(foldedTokens(a.sentence), true);
    for (qsizetype at = 0; at + form.size() <= heading.size(); ++at)
        if (heading.mid(at, form.size()) == form)
            return false;
    return true;
}

// The pages about the man asked for: his first entry, his dictionary
// entries, other pages when these are few, and an author's own books under
// his catalogue name. A short form is read as its bearer's, and another
// man's entry is none of his.
QList<AboutName> gathered(const Library& lib, const QString& name, const QStringList& folded, const BookScope& scope,
                          const QStringList& lineage, const QList<Book>& ownBooks, std::optional<AboutName>& first)
{
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    const QSet<std::int64_t> dictionaries = sub(scope, books(lib, tarajimKeys()));
    const bool shortForm = isShortForm(folded);
    // The chains mean by the form a man no entry is of: what the dictionaries say of it is of namesakes.
    bool unentered = false;
    Reading reading{folded, shortForm ? givenNames(lib, dictionaries) : QSet<QString>(), {}, {}};
    // A short form's bearer known, another man's entry is none of his.
    const auto withoutOtherMen = [&](QList<AboutName> found) {
        if (shortForm && first)
            found.removeIf([&](const AboutName& a) { return anotherMansEntry(a, *first, folded, dictionaries); });
        else if (shortForm)
            found.removeIf([&](const AboutName& a) {
                return namesHimOnlyInItsAccount(a, folded, dictionaries) || (unentered && dictionaries.contains(a.passage.bookId));
            });
        return found;
    };
    QList<AboutName> inDictionaries;
    QList<AboutName> hisOtherEntries;
    if (shortForm) {
        first = firstEntry(lib, folded, dictionaries, false, lineage, &unentered, &hisOtherEntries);
        if (first)
            readAsBearer(reading, *first);
        inDictionaries = withoutOtherMen(aboutName(lib, name, reading, dictionaries, dictionaries));
    } else {
        inDictionaries = aboutName(lib, name, reading, dictionaries, dictionaries);
        // A name that opens a dictionary's numbered entry is that man's; an
        // index line from it points to a namesake filed under another name.
        const bool entered = std::any_of(inDictionaries.begin(), inDictionaries.end(),
                                         [](const AboutName& a) { return a.entry == Entry::numbered; });
        first = firstEntry(lib, folded, dictionaries, entered, lineage);
    }
    const std::optional<std::int64_t> firstWork =
        first ? std::optional(BookTitles::work(*catalog, first->passage.bookId)) : std::nullopt;
    QList<AboutName> about;
    QSet<std::int64_t> met;
    const auto admit = [&](const QList<AboutName>& found) {
        for (const AboutName& a : found) {
            if (!met.contains(a.passage.pageId)
                && (!firstWork || BookTitles::work(*catalog, a.passage.bookId) != *firstWork)) {
                met.insert(a.passage.pageId);
                about << a;
            }
        }
    };
    if (first) {
        met.insert(first->passage.pageId);
        about << *first;
    }
    admit(hisOtherEntries);
    admit(inDictionaries);
    if (about.size() < 3)
        admit(withoutOtherMen(aboutName(lib, name, reading, scope, dictionaries)));
    // With his grandfather the name is his own in his books; «محمد بن يزيد»
    // alone is also a narrator's there.
    if (lineage.count(sonOf()) >= kOwnNameFathers && lineage != folded) {
        QSet<std::int64_t> own;
        for (const Book& b : ownBooks)
            own.insert(b.id);
        admit(aboutName(lib, lineage.join(u' '), Reading{lineage, {}, {}, {}}, sub(scope, own), {}));
    }
    return about;
}

// A sentence is quoted once, and a report two editions of a work both give
// once, in the longer of their two readings; at most kNameQuoted.
QList<AboutName> distinctQuotations(const Library& lib, const QList<AboutName>& about)
{
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    QList<AboutName> kept;
    for (const AboutName& a : about) {
        const QString norm = Arabic::normalize(a.sentence);
        const QStringList words = norm.split(u' ', Qt::SkipEmptyParts);
        const std::int64_t work = BookTitles::work(*catalog, a.passage.bookId);
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const AboutName& k) {
            const QString kNorm = Arabic::normalize(k.sentence);
            return kNorm == norm
                || (BookTitles::work(*catalog, k.passage.bookId) == work
                    && readAlike(kNorm.split(u' ', Qt::SkipEmptyParts), words));
        });
        if (same == kept.end()) {
            if (kept.size() < kNameQuoted)
                kept << a;
        } else if (same->entry == a.entry && Characters::count(a.sentence) > Characters::count(same->sentence)) {
            *same = a;
        }
    }
    return kept;
}

// The quotations in order (the first entry, then the numbered entries of
// dictionaries that grade their men, the other numbered entries, other
// entries and other pages, each by their authors' deaths) and their section.
std::pair<QList<Passage>, QString> quotedSection(const Library& lib, const QList<AboutName>& kept,
                                                 const std::optional<AboutName>& referred, bool withCard,
                                                 const QSet<std::int64_t>& grading)
{
    QList<Passage> first;
    QList<Passage> graded;
    QList<Passage> numbered;
    QList<Passage> unnumbered;
    QList<Passage> others;
    QHash<std::int64_t, QString> sentenceOf;
    for (const AboutName& a : kept) {
        const bool isReferred = referred && a.passage.pageId == referred->passage.pageId;
        // An entry that judges him before one that only lists whom he heard.
        QList<Passage>& entries = grading.contains(a.passage.bookId) ? graded : numbered;
        (isReferred ? first : a.entry == Entry::numbered ? entries : a.entry == Entry::unnumbered ? unnumbered : others)
            << a.passage;
        sentenceOf.insert(a.passage.pageId, a.sentence);
    }
    const QList<Passage> quoted =
        renumber(first + chrono(graded) + chrono(numbered) + chrono(unnumbered) + chrono(others));
    const QHash<std::int64_t, QString> titles = shownTitles(lib, quoted);
    QString section;
    if (!quoted.isEmpty()) {
        section += QStringLiteral("## ما ورد عنه في كتب التراجم والتاريخ\n");
        if (referred && !referred->sharedWith.isEmpty())
            section += QStringLiteral("ويعرف بهذا الاسم أيضا ") + referred->sharedWith
                + QStringLiteral("، والنصوص هنا عن الأشهر به.\n");
        for (const Passage& p : quoted) {
            section += QStringLiteral("- ") + whereFrom(p, titles.value(p.bookId)) + QStringLiteral(": «")
                + sentenceOf.value(p.pageId) + QStringLiteral("» [") + QString::number(p.n)
                + QStringLiteral("]\n");
        }
        section += QStringLiteral("تنبيه: قد يشترك في الاسم أكثر من علم؛ راجع كل نص في صفحته قبل النقل.\n");
    } else if (withCard) {
        section += noTextNote;
    }
    return {quoted, section};
}

} // namespace

Built biography(const Library& lib, const QString& q, const BookScope& scope)
{
    // The name asked for, without the question's words; its words in normal
    // form with «ابن» read as «بن» are what a quoted sentence must hold.
    const QString name = Intent::person(q);
    const QStringList folded = foldedTokens(name);
    QStringList nameWords;
    for (const QString& word : Arabic::tokens(name)) {
        if (Characters::count(word, 2) > 1)
            nameWords << word;
    }
    QHash<std::int64_t, QList<Book>> works;
    for (const Book& b : lib.books()) {
        if (b.authorId)
            works[*b.authorId].append(b);
    }
    const std::optional<Author> chosen = cardAuthor(lib, nameWords, works);
    QString card;
    QStringList lineage;
    if (chosen)
        card = libraryCard(lib, *chosen, works.value(chosen->id), lineage);
    std::optional<AboutName> first;
    const QList<AboutName> about =
        gathered(lib, name, folded, scope, lineage, chosen ? works.value(chosen->id) : QList<Book>(), first);
    const auto [quoted, section] = quotedSection(lib, distinctQuotations(lib, about), first, !card.isEmpty(),
                                                 gradingDictionaries(lib, sub(scope, books(lib, tarajimKeys()))));
    return {quoted, card + section, card};
}

} // namespace quorvel::Reports
