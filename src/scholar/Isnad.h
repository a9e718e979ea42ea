#pragma once

// Chains of narrators (isnad) at the head of hadith reports, and read-only
// queries over the narrator graph that the book installer stores in the
// library database (`narrators`, `isnad_edges`).
//
// The text side is pure: the installer stores `edges` of every page it
// installs (none when `hasIsnad` is false), each pair of neighbouring places
// of a chain as edges with the earlier name as student and the later as
// teacher. The graph side only reads, through the caller's
// connection, and yields empty results when a query fails.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>

namespace quorvel {

class SQLiteDB;

namespace Isnad {

// The version of the chain rules. A library stores it beside the narrators
// and edges it read with them, and one stored under another version reads
// its pages again: raise it whenever chains() reads any page differently.
inline constexpr int rulesVersion = 9;

// Names shorter than this many code points are not narrators.
inline constexpr qsizetype minNameLength = 2;
// Names of this many code points or more are not narrators.
inline constexpr qsizetype maxNameLength = 56;
// Names of this many words or more are not narrators.
inline constexpr qsizetype maxNameWords = 10;

struct Narrator
{
    std::int64_t id = 0;
    QString name;  // as the page writes him («أبيه»), or as the graph files him
    QString filed; // as the graph files him (بريدة)
    bool operator==(const Narrator&) const = default;
};

struct LinkedNarrator
{
    std::int64_t id = 0;
    QString name;
    std::int64_t count = 0; // edges joining this narrator to the one asked about
    bool operator==(const LinkedNarrator&) const = default;
};

struct Links
{
    QList<LinkedNarrator> teachers; // narrators this one narrates from
    QList<LinkedNarrator> students; // narrators who narrate from this one
};

// `text` without the Arabic vowel marks, shadda, sukun, tanwin, tatweel,
// superscript alef, Quranic annotation signs and direction marks; a hamza or
// madda written as a mark is composed with its carrier as the normal form
// composes it (ا + U+0654: أ).
QString stripTashkeel(const QString& text);

// Whether a transmission verb that opens a chain occurs in `text` (marks
// ignored). Cheap: one strip and one search.
bool hasIsnad(const QString& text);

// Whether `word` is itself a transmission verb that opens a chain (حدثنا,
// أخبرني, ثنا, سمعت), marks and hamza seats ignored.
bool opensChain(const QString& word);

// Whether `word` links the narrators of a chain: a transmission verb or its
// abbreviation (حدثنا, أخبرني, ثنا), عن, or a word of saying between them
// (قال, يقول, أنه). Marks and hamza seats are ignored.
bool isLinkWord(const QString& word);

// One piece of a chain reduced to a bare name: cut at a colon, honorific
// formulas removed, cut where the report's text begins, non-letters turned
// into spaces, a trailing lone و dropped, words joined by single spaces. May
// be empty.
QString cleanNarrator(const QString& piece);

// A narrator's name as the graph files it: a leading kunya in the nominative
// (أبا هريرة, أبي هريرة: أبو هريرة) and a given name without the
// accusative's alif (جابرا: جابر, عمرا: عمرو), so that one man is one
// narrator whatever his case in the sentence.
QString filedName(const QString& name);

// One place of a chain: the narrators named together there ("A and B" are
// two), one or more.
using Link = QStringList;
// One chain: its places, nearest to the book's author first.
using Chain = QList<Link>;

// Every chain in `text`, in order. A chain ends where its report's text
// begins (or the next report's number), and the next one starts at the next
// حدثنا, أخبرنا, أنبأنا or ثنا (نا, أنا and ثنى link, but start none).
// After ح (a change of route) a parallel chain starts, and once its routes
// meet (قالا, قالوا, جميعا, or the same narrator reached) the narrators that
// follow belong to every route. «أن فلانا أخبره», «أنه سمع» and «قال: قال
// فلان» go on to the narrator they name. Words that only describe the report
// or a name (قالوا, رفعه, بإسناده, نحوه, the compiler's remarks) are no
// narrators, and a gloss (يعني, هو) completes the name it follows. Names
// are filed (filedName); «أبيه/أبي» stays as the page words it. A route
// opened inside a report with «وحدثني/فحدثنا» after «قال فلان» begins with
// him where a chain read before it on the page names him; a note's closing
// bracket at a line's end ends the chain it quotes.
QList<Chain> chains(const QString& text);

// The chains as the graph files them: each «أبيه/أبي» is the father of the
// narrator before it, the father his name gives («سليمان بن بريدة»: بريدة),
// or else "والد" and his name, never one narrator for every father; one
// that opens a route, with no narrator before it, is left out.
QList<Chain> filedChains(const QString& text);
// The same of chains that chains() read already, without reading them again.
QList<Chain> filedChains(QList<Chain> read);

// The narrator names of the first chain that `text` opens (not the end of
// one a page before began, which `chains` lists first), nearest to the book's
// author first; empty when there is no chain. Repeated names are kept.
QStringList chain(const QString& text);

// Every (student, teacher) pair of neighbouring places in the filed chains
// of `text`, each pair once, in order of first appearance. Nobody is his own
// teacher.
QList<std::pair<QString, QString>> edges(const QString& text);

// The fathers a library's narrator names give: «سهيل بن أبي صالح» names
// the father of every «سهيل».
class FatherNames {
public:
    FatherNames() = default;
    explicit FatherNames(const QStringList& names);
    // The narrator among the names whom a kin word's fallback («والد سهيل»)
    // stands for: every «سهيل بن …» gives one father, and he is filed
    // himself (أبو صالح). Empty when the names do not tell.
    QString of(const QString& fallback) const;

private:
    QHash<QString, QString> byKey_;          // each name by its spelling key
    QHash<QString, QStringList> fathers_;    // by the son's spelling key
};

// The narrators of `names` filed under a kin word's fallback («والد سهيل»)
// whom the library names after all: every «سهيل بن …» among `names` gives
// one father, and he is filed himself (أبو صالح). Keyed by the fallback.
QHash<QString, QString> namedFallbacks(const QStringList& names);

// The key under which the graph holds spellings of one name as one narrator
// (the merge after installs keeps one of them).
QString spellingKey(const QString& name);

// The narrators a library files, found by any name the chain reader gives
// them: the stored name, another spelling the installer merged into it, or a
// kin word's fallback filed under the man the library names.
class Filing {
public:
    explicit Filing(SQLiteDB& db);
    // The narrator filed for `name`; nothing when the library holds none.
    std::optional<Narrator> of(const QString& name) const;
    // Each link of the chains of `text` (a page's content) as the library
    // files it, each once, in order; links to a name it does not hold are
    // left out.
    QList<std::pair<Narrator, Narrator>> links(const QString& text) const;

private:
    QHash<QString, Narrator> byKey_;
    FatherNames fathers_;
};

// The narrators that the page's edges mention, in order of first mention,
// each named as the page names him («أبيه» for the father filed by name).
// `filing`: the library's, when the caller holds one already (it reads every
// narrator), else read here if the page needs it.
QList<Narrator> narrators(SQLiteDB& db, std::int64_t pageId, const Filing* filing = nullptr);

// The links the library stores for a page, each (student, teacher) once, in
// the order it stored them, each narrator under the name the graph files.
QList<std::pair<Narrator, Narrator>> storedLinks(SQLiteDB& db, std::int64_t pageId);

// One narrator's name; nothing when there is no such narrator or the name is
// null.
std::optional<QString> name(SQLiteDB& db, std::int64_t narratorId);

// The narrator's teachers and students with edge counts, each list ordered by
// name in SQLite's binary order.
Links links(SQLiteDB& db, std::int64_t narratorId);

} // namespace Isnad
} // namespace quorvel
