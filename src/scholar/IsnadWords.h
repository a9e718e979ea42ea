#pragma once

// The word tests the chain reader and its kin-word filing share. Internal to
// src/scholar/Isnad*.cpp.

#include "core/Arabic.h"
#include "core/PyRegex.h"
#include "scholar/Isnad.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>

namespace quorvel::Isnad::detail {

inline bool isOneOf(const QString& word, std::initializer_list<const char16_t*> list)
{
    for (const char16_t* item : list)
        if (word == QStringView(item))
            return true;
    return false;
}

// A word with its alef forms, final ya and ta marbuta folded as the normal
// form folds them, for the word lists: texts spell them either way.
inline QString fold(const QString& word)
{
    QString out = word;
    for (QChar& c : out)
        c = QChar(Arabic::mapped(c.unicode()).value_or(c.unicode()));
    return out;
}

inline bool isLineageWord(const QString& folded) { return isOneOf(folded, {u"بن", u"ابن", u"بنت", u"ابنه"}); }

// A by-name or nisba with «ال» («الأنصاري», «الناقد»), not the article alone.
inline bool isByName(const QString& folded) { return folded.startsWith(u"\u0627\u0644") && folded.size() > 3; }

// «عمرو وعاصم ابني سفيان»: the sons of one father, named after both.
inline bool isSonsOf(const QString& folded) { return isOneOf(folded, {u"ابني", u"ابنا"}); }

inline bool isGloss(const QString& folded) { return isOneOf(folded, {u"يعني", u"يعنيان", u"هو"}); }


// The word lists of the chain reader (IsnadWords.cpp); `f` is a folded word.
bool continuesName(const QString& word);
bool isWawName(const QString& word);
bool isGlue(const QString& f);
bool isToldVerb(const QString& f);
bool isJoint(const QString& f);
// «كلهم يحدثونه عن …»: after a joint word, the routes tell it on from the next narrator.
bool isToldOn(const QString& f);
bool isAsked(const QString& f);
bool isAside(const QString& f);
bool isAsideWord(const QString& word);
qsizetype nameWordCount(const QStringList& words);
bool isLinkVerb(const QString& f);
bool isNotNameWord(const QString& f);
bool isNotName(const QString& f);
// Whether `word` after a name's words (`last` the name's last word so far,
// empty before the first; `next` the folded word after it) begins the
// report's sentence: «من» opening a name («من التابعين»), or a preposition
// after a name («عليا على المنبر», «فلان لرجل من أصحابه»).
bool beginsSaying(const QString& word, const QString& last, const QString& next);
bool isProphet(const QString& name);

// Where the next report begins inside a piece of a chain: after the "\ 57 \"
// that ends a report, at the number of the next one just before its link
// word (`beforeOpener`), at a numbered chapter line, or past a note's closing
// bracket at a line's end. -1 when it does not.
qsizetype reportBoundary(const QString& piece, bool beforeOpener);

// A chapter's heading among a piece's tokens («باب …», «كتاب …», «آخر كتاب
// النكاح») ends the reports before it: the tokens are cut where it begins.
// Whether one did.
bool cutAtHeading(QStringList& tokens);

// How a «وعن» at `at` in `s` goes on from what came before it: «عن نافع
// وعن عبد الله بن دينار», two teachers of one student; «… عن أبي هريرة. وعن
// سهيل، عن أبيه …» after a full stop or at a line's start, a route of its
// own.
enum class AndFrom { no, besides, ownRoute };
AndFrom andFrom(const QString& s, QStringView linkWord, qsizetype at);

// «وعن فلان عن …» or «عن فلان عن …» opening a line: a report whose chain
// names no one before its first narrator («وعن المسافر …» in a report's
// text names no route).
bool opensReportWithAnd(const QString& s, const QList<PyRegex::Range>& links, qsizetype k);

// Two spellings of one narrator: the same words, hamza seats, ibn and bin
// aside.
bool sameNarrator(const QString& a, const QString& b);

// The one route read since a «وعن» (`routes`), settled against the route
// read before it: joined to that route's narrator whose teachers both are,
// where it ends as that one does; else, when the «وعن» stood beside the
// last teacher (`beside`), merged into `earlier` there (and `routes`
// emptied); else a route of its own.
void joinAndRoute(Chain& earlier, QList<Chain>& routes, bool beside);

// Whether `word` names a relative of the narrator before it («أبيه», «جده»,
// «أمه», «أخيه», «حدثني أبي»).
bool isKinWord(const QString& word);
// Whether `word` is a kin word or a relation written without a pronoun
// («عم», «أخت»), which «له» or a name with the ل of belonging follows.
bool isRelation(const QString& word);

// A name written after a kin word («عن أبيه سعد بن أبي وقاص», «عن عمه أبي
// سهيل», «حدثني أبي عبد الملك»): the man named, without the kin word. A
// kin word before «بن/بنت» describes the relative («جدته بنت سعيد») and
// stays. `afterVerb`: the link word before it was a verb of telling, after
// which «أبي» is my father, not a kunya's genitive.
QStringList withoutKinWord(const QStringList& words, bool afterVerb);

// Each kin word of a route becomes the relative of the narrator before it:
// the one his own name gives («سليمان بن بريدة عن أبيه»: بريدة), or the
// name the page gives him in full where it names him bare (`onPage`, every
// name of the page's chains), or else the relation and his name («والد
// سالم», «جد المقبري»), one narrator per student and never one for every
// student's relative. Kin words that open the route, with no student before
// them, come off it; past a name's bounds the route ends.
void nameKin(Chain& route, const QStringList& onPage);

} // namespace quorvel::Isnad::detail
