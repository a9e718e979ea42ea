#pragma once

// The chain reader's patterns and its reading of one segment of text between two
// link words. Internal to src/scholar/Isnad*.cpp.

#include "core/PyRegex.h"
#include "scholar/Isnad.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace quorvel::Isnad::detail {

struct Patterns
{
    // A transmission verb that opens a chain.
    PyRegex::Regex opener = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|حدثناه|حدثنيه|حدثتنا|حدثتني|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]خبرناه|ثنا|سمعت)\\b"));
    // The link words between two narrators, with the white space after them.
    // The full verbs need no boundary in front; عن and the abbreviations,
    // which end many other words (معن), do. An editor may bracket a verb he
    // supplied («قال: [حدثنا] أحمد»).
    PyRegex::Regex link = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|حدثناه|حدثنيه|حدثتني|حدثتنا|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]خبرناه|[اأإ]خبرتني|"
        u"[اأإ]نب[اأ]نا|ثنا|سمعت)\\]?\\s+|(?<![\u0621-\u064A])[وف]?عن\\s+|\\b(?:نا|[اأ]نا|ثنى|ثني|[اأ]نبا|سمع)\\s+"));
    PyRegex::Regex honor = PyRegex::compile(QStringLiteral(
        u"رضي\\s+الله\\s+(?:تعالى\\s+)?عنه(?:ما|م|ا)?|رحمه\\s+الله|صلى\\s+الله\\s+عليه\\s+وسلم|عليه\\s+السلام"));
    // The words that begin the report's text inside a narrator piece.
    PyRegex::Regex matnCut = PyRegex::compile(QStringLiteral(
        u"\\b(?:قال(?:ت)?|[أا]نه?|[أا]نها|[أا]نهم)\\b"));
};

const Patterns& patterns();

inline bool isArabicLetter(char32_t c) { return c >= 0x0621 && c <= 0x064A; }

// The words a text's own chains write as names: either side of «بن», the
// word after one that carries a name on («أبو», «عبد», «مولى»), and the word
// after a link word where a name closes after it («عن قتادة، عن», «حدثنا
// زكريا قال»; not «عن غير واحد»). A name goes on only with such words,
// joining and kin words, and by-names with «ال»: any other word is the
// report's sentence. Built without a text, it holds every word.
class PageNames {
public:
    PageNames() = default;
    explicit PageNames(const QStringList& tokens);
    // Whether `word` may stand in a name on this text.
    bool holds(const QString& word) const;
    // Whether the text writes `word` where a name begins or stands whole.
    bool opensName(const QString& word) const;
    // «واسع بن حبان»: the text names the whole word and not what follows
    // its «و», which is then no "and".
    bool ownWaw(const QString& word) const;

private:
    void collect(const QStringList& tokens, const QSet<QString>& known);

    QSet<QString> named_;  // folded, beside «بن» or after a joining word
    QSet<QString> opened_; // folded, after a link word with the name closed
    bool every_ = true;
};

// What one piece of text between two link words holds.
struct Piece
{
    QList<Link> places;      // the places it names, in chain order
    bool textBegins = false; // the report's text starts in it: the chain ends
    bool reportEnds = false; // the next report starts in it: so does a new chain set
    bool tahwil = false;     // it ends with ح: a parallel route follows
    bool joint = false;      // the routes meet here (قالا, قالوا, جميعا)
    bool unnamed = false;    // an unnamed man comes next («عمن حدثه»): no link to him or past him
    QStringList beside;      // a doubt's other narrator at the piece's own place («حميد أو ثابت»)
};

// The words of a piece and the stops between them: "." for a full stop,
// ":" for a colon, "*" for the mark before a report's text, "\"" for a
// quotation mark, "," for a comma. Brackets and digits only separate words.
QStringList tokens(const QString& text);

bool isStop(const QString& token);

// A name in `t` from `i` of at most `most` words; empty when there is none
// or it is longer.
QString nameAt(const QStringList& t, qsizetype& i, qsizetype most);

// What one piece between two link words names, and whether the chain goes on past it.
// `names`: the words the whole text writes as names.
Piece readPiece(QString piece, QStringView nextLink, bool beforeOpener, bool afterVerb, const PageNames& names);

} // namespace quorvel::Isnad::detail
