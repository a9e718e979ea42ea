#include "scholar/IsnadWords.h"

#include <algorithm>

// The word lists of the chain reader: what may stand in a name, between
// narrators, or where the report's text begins.

namespace quorvel::Isnad::detail {

// Words after which a name goes on: a word after them that begins with و
// is part of the name (بن وهب, أبو وائل), not a second narrator.
bool continuesName(const QString& word)
{
    // «ابن لأبي واقد»: the ل of belonging before a kunya.
    const QString f = fold(word);
    if (f.startsWith(u'\u0644') && isOneOf(f.mid(1), {u"ابو", u"ابي", u"ابا", u"ام"}))
        return true;
    // Folded: «بن أبى وقاص» goes on as «بن أبي وقاص» does.
    return isOneOf(f, {u"بن", u"ابن", u"بنت", u"ابنه", u"ابو", u"ابي", u"ابا", u"ام", u"عبد", u"ذو", u"ذي", u"مولي",
                       u"اخو", u"اخي", u"ال"});
}

// Names that begin with و themselves.
bool isWawName(const QString& word)
{
    return isOneOf(word, {u"وكيع", u"وهب", u"وهيب", u"وائل", u"واصل", u"واقد", u"ورقاء", u"وحشي", u"وبرة",
                          u"وضاح", u"وردان", u"وابصة", u"وثيمة"});
}

// Words of saying and of "that he", which stand between a narrator and the
// next link word without ending the chain ("قال حدثنا", "يقول أخبرني",
// "أنه سمع", "أنهما أخبراه").
bool isGlue(const QString& f)
{
    return isOneOf(f, {u"قال", u"قالت", u"يقول", u"تقول", u"يقولان", u"يقولون", u"يذكر", u"تذكر", u"يحدث", u"تحدث",
                       u"يخبر", u"تخبر", u"انه", u"انها", u"انهم", u"انهما", u"ان", u"او"});
}

// "أن فلانا أخبره": the verb after which the named man is the next narrator.
bool isToldVerb(const QString& f)
{
    return isOneOf(f, {u"اخبره", u"اخبرها", u"اخبرهم", u"اخبراه", u"اخبرته", u"اخبرتها", u"اخبرتهم", u"حدثه",
                       u"حدثها", u"حدثهم", u"حدثاه", u"حدثته", u"حدثتها", u"حدثتهم"});
}

bool isJoint(const QString& f) { return isOneOf(f, {u"قالا", u"قالوا", u"جميعا", u"كلاهما", u"كلهم", u"كلهن"}); }

bool isToldOn(const QString& f) { return isOneOf(f, {u"يحدثونه", u"يخبرونه", u"يحدثه", u"يخبره"}); }

bool isAsked(const QString& f) { return isOneOf(f, {u"سال", u"سالت", u"سالا", u"سالوا"}); }

// The compiler's remarks and doubts between a narrator and the next link
// word ("وأنا لحديثه أتقن", "وهذا لفظه", "المعنى", "واللفظ له", "أظنه"): no
// name and no report.
bool isAside(const QString& f)
{
    return isOneOf(f, {u"انا", u"وانا", u"هذا", u"وهذا", u"اللفظ", u"واللفظ", u"اظنه", u"احسبه", u"اراه", u"عني",
                       u"حديث", u"وحديث"});
}

// «وهذا لفظه المعنى»: the meaning; «المعني» with its ya is a nisba.
bool isAsideWord(const QString& word) { return isAside(fold(word)) || word == u"\u0627\u0644\u0645\u0639\u0646\u0649"; }

// The words of a name, its «بن» aside: a long lineage is one man.
qsizetype nameWordCount(const QStringList& words)
{
    return std::count_if(words.cbegin(), words.cend(), [](const QString& w) { return !isLineageWord(fold(w)); });
}

// The transmission verbs and their abbreviations, folded.
bool isLinkVerb(const QString& f)
{
    return isOneOf(f, {u"حدثنا", u"حدثني", u"حدثنيه", u"حدثناه", u"حدثتني", u"حدثتنا", u"اخبرنا", u"اخبرني",
                       u"اخبرناه", u"اخبرتني", u"انبانا", u"ثنا", u"نا", u"ثني", u"سمعت", u"انبا"});
}

// Words no narrator's name holds: they describe the report or the route
// ("رفعه", "بإسناده مثله", "فذكر نحوه"), or begin the report's text.
bool isNotNameWord(const QString& f)
{
    // A link word the pattern left whole (at the end of the text), or one
    // that names the report ("حدثناه").
    if (isLinkVerb(f))
        return true;
    return isGlue(f) || isToldVerb(f) || isJoint(f) || isAsked(f)
        || isOneOf(f, {u"رفعه", u"يرفعه", u"يرفعانه", u"رفعاه", u"يرفع", u"يرفعان", u"باسناده", u"باسناد",
                       u"باسنادهما", u"باسنادها", u"بمعناه", u"بمعني", u"معناه", u"ذكر", u"ذكره", u"مثله", u"بمثله",
                       u"مثل", u"بمثل", u"نحوه", u"بنحوه", u"نحو", u"بنحو", u"زاد", u"ايضا", u"في", u"الذي", u"كان",
                       u"قد", u"خطيبا", u"قام", u"وهو", u"وهي", u"الي", u"مع", u"ما", u"لا", u"لم", u"اذا", u"ثم",
                       u"حتي", u"قالتا", u"لما", u"لو", u"كما", u"انما", u"قلت", u"يبلغ", u"يبلغه",
                       u"روايه", u"عن", u"وعن", u"بما", u"مما", u"عما", u"قرات", u"قراته", u"قراءه", u"قراءتي", u"بعضه", u"عرضا", u"يرويه", u"يروي", u"فيما", u"يقرا",
                       u"يخطب", u"اتيت", u"املاه", u"املاء", u"سمعته", u"عمن", u"احدهما", u"الاخر", u"ثلاثه", u"اربعه",
                       u"خمسه", u"سته", u"سبعه", u"عشره", u"اثنان", u"بالذي", u"بالتي", u"كانت",
                       // The report named («بهذا الحديث», «وحديثه أتم») and particles no name holds.
                       u"بهذا", u"بهذ", u"الحديث", u"حديثه", u"بحديث", u"بحديثين", u"لولا", u"الا", u"لقد", u"هلا",
                       // Demonstratives and what the report says of the men («كلهم يحدثونه», «وكانا شهدا»,
                       // «يسأل ابن عباس»): the sentence, never a man's name.
                       u"ذلك", u"ذاك", u"هذه", u"تلك", u"هؤلاء", u"هذان", u"هاتان", u"هذين", u"اولئك", u"بذلك",
                       u"بتلك", u"بهذه", u"كل", u"كانا", u"كانتا", u"كانوا", u"يسال", u"تسال",
                       u"يسالون", u"يسالان", u"ساله", u"سالها", u"ومن", u"فمن", u"ليس"});
}

// The words above, also with a conjunction in front ("ورفعه", "فحدثني").
bool isNotName(const QString& f)
{
    return isNotNameWord(f)
        || ((f.startsWith(u'\u0648') || f.startsWith(u'\u0641')) && f.size() > 2 && isNotNameWord(f.mid(1)));
}

bool beginsSaying(const QString& word, const QString& last, const QString& next)
{
    if (last.isEmpty())
        return fold(word) == u"من";
    // «عليا على منبر الكوفة», but «أبو على» and «أبو الحسن على بن محمد»
    // where an edition writes على for علي; a one-letter word is a split «بن».
    if (word == u"\u0639\u0644\u0649")
        return !continuesName(last) && last.size() > 1 && !isLineageWord(next);
    const QString f = fold(word);
    return f.startsWith(u'\u0644') && isOneOf(f.mid(1), {u"رجل", u"امراه"});
}

bool isProphet(const QString& name)
{
    const QString first = fold(name.section(u' ', 0, 0));
    return isOneOf(first, {u"رسول", u"النبي", u"نبي"});
}

} // namespace quorvel::Isnad::detail
