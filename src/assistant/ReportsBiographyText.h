#pragma once

// The reading of names that the biography report and its search for a
// man's own dictionary entry share: names in normal form, the sentence of a
// page that holds a name, and the pages that name it.

#include "assistant/Reports.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <functional>
#include <optional>

namespace quorvel::Reports::BiographyText {

// The pages of the scope read for a name given as a phrase, at most.
inline constexpr int kNamePhraseHits = 300;
// The pages of a dictionary read for its index lines and for the entries of a full name.
inline constexpr int kDictionaryPagesRead = 3000;

// Words that join a man to his father or forefather, in normal form; «ابن»
// is read as «بن».
const QString& sonOf();
bool isLineage(const QString& word);
QStringList foldedTokens(const QString& text);
// Letters joined to the front of a word: and, so, with, for.
const QStringList& proclitics();
// An entry number, or a source symbol, before a dictionary entry's name.
bool isEntryNumber(const QString& word);
bool isEntryMark(const QString& word);
// A kunya's first word, in normal form: «أبو فلان», «أم فلان».
bool isKunya(const QString& word);
// A word that a name's next word completes: «عبد الله», «أبي بكر», «بن …».
bool isOpenEnded(const QString& word);

// How plainly a sentence is the name's own entry: a numbered line that opens
// with the name, or with a kunya and then the name, is a dictionary's entry;
// a line that opens with it unnumbered may be a cross-reference or a note on
// someone unnamed; any other sentence only mentions the name.
enum class Entry { none, unnumbered, numbered };

// The name asked for, read as a reader reads it in a sentence: its words in
// normal form with «ابن» read as «بن» and, when it is a short form asked
// alone, the given names that before «بن X» make the words another son of X
// and beside a kunya or nisba make it another man's. When the form's bearer
// is known, `own` holds the words of his entry's heading and `ism` his given
// name: a name word beside the form that is not his makes it a namesake's.
struct Reading {
    QStringList name;
    QSet<QString> given;
    QSet<QString> own{};
    QStringList ism{};
};

// A page's best sentence about the name: its stretch in the page text (the
// stretch around the name when the sentence is too long to quote whole) and
// how plainly it is the name's entry.
struct Quoted {
    qsizetype start = 0;
    qsizetype end = 0;
    Entry entry = Entry::none;
};

// A page read as a passage about the name: the stretch of the page around its
// sentence about the name, and that sentence.
struct AboutName {
    Passage passage;
    QString sentence;
    Entry entry = Entry::none;
    QStringList filedAs; // the full name a dictionary's index led to, if any
    QString sharedWith{}; // another man the library knows by the short form, as his entry names him
};

// Nothing when no sentence of the text holds the name. `carriedAtStart`
// gives the words the page before ends with, asked for only when the text's
// first sentence holds the name.
std::optional<Quoted> sentenceAbout(const QString& text, const Reading& reading,
                                    const std::function<QStringList()>& carriedAtStart = {});
std::optional<AboutName> passageAt(const Library& lib, const Book& book, const Page& page, const QString& content,
                                   const Quoted& q);
// The last word of the page before, when that page stops inside a sentence.
QStringList carriedInto(const Library& lib, const Page& page);
// The full-text query for the name as a phrase, «بن» also written «ابن».
QString namePhrase(const QStringList& name);
// The pages of the scope that hold the name as a phrase, best ranked first,
// at most `limit`, as (page id, book id).
QList<std::pair<std::int64_t, std::int64_t>> pagesNaming(const Library& lib, const QStringList& name,
                                                          const BookScope& scope, int limit = kNamePhraseHits);
// How many pages of the library name the words as a phrase.
std::int64_t pagesCount(const Library& lib, const QStringList& words);

// A man asked for by a short form alone: a nisba or epithet, a kunya
// without his father, «ابن X» or «أم X».
bool isShortForm(const QStringList& name);
// The words of a numbered entry that name the man: its heading, before what
// is said of him or the account of whom he heard and who heard him; with
// `withAlternatives`, the other readings of his name too («ويقال …»).
QStringList entryName(const QStringList& words, bool withAlternatives = false);

// A name's parts, as a dictionary heads an entry or a chain names a man; see
// ReportsBiographyNames.cpp.
struct NameParts {
    QStringList ism;               // his given name: «سعيد», «عبد الله»
    QList<QStringList> fathers;    // his father's, grandfather's … names
    QList<QStringList> otherFathers; // his father as another reading of his name gives him («ويقال …»)
    QList<QStringList> kunyas;     // his own kunyas, not his father's
    QStringList nisbas;            // his nisbas and epithets with the article
};
NameParts nameParts(const QStringList& words);
// Whether two names may be one man's: nothing disagrees and at least
// `agreeing` parts agree, the words `besides` (a short form both hold) aside.
bool oneMan(const NameParts& a, const NameParts& b, int agreeing, const QStringList& besides = {});
// A word that makes the name after it another man's («أخي الزهري»).
bool isRelation(const QString& word);
// Whether two entry headings (their name words) are one man's, who bears the form.
bool sameMan(const QStringList& a, const QStringList& b, const QStringList& form);

// The lines of a text as stretches, line breaks left out.
QList<std::pair<qsizetype, qsizetype>> linesOf(const QString& text);
// Whether the words hold `word`, also with a letter joined to its front («الملقب بالأشتر»).
bool holdsWord(const QStringList& words, const QString& word);
// How the dictionary ranks the man its entry (its folded words) is of: 0
// little known, discarded or weak, 2 famous, 1 otherwise.
int standing(const QStringList& words);
// The entry a dictionary's own index of nisbas, kunyas and short names
// points to from the name asked for; see ReportsBiographyIndex.cpp.
std::optional<AboutName> indexedEntry(const Library& lib, const QStringList& asked,
                                      const QSet<std::int64_t>& dictionaries);

// The dictionaries of the set that grade the men they file.
QSet<std::int64_t> gradingDictionaries(const Library& lib, const QSet<std::int64_t>& dictionaries);

// Of a short form's bearers (the headings of their entries), the one the
// chains that name him by the form alone plainly mean; see
// ReportsBiographyChains.cpp.
inline constexpr qsizetype kNoEntry = -1;
struct ChainsMan {
    qsizetype heading = kNoEntry; // kNoEntry: a man no heading names
    QList<qsizetype> his{};       // the other headings that are his
    bool plain = true;            // the chains decide; else they only lean to him
};
std::optional<ChainsMan> chainsBearer(const Library& lib, const QStringList& form, const QList<QStringList>& headings);

// The entry to quote first for the name (its words `folded`), searched in
// the dictionaries; see ReportsBiographyEntries.cpp.
// With the card author's `lineage`, a short form is his, and an entry filed
// under another man's name is none.
// `unentered` is set when the chains mean by the form a man no entry is of;
// `alsoHis` receives a short form's bearer's entries in the other dictionaries.
std::optional<AboutName> firstEntry(const Library& lib, const QStringList& folded,
                                    const QSet<std::int64_t>& dictionaries, bool entered,
                                    const QStringList& lineage, bool* unentered = nullptr,
                                    QList<AboutName>* alsoHis = nullptr);

} // namespace quorvel::Reports::BiographyText
