#include "scholar/Isnad.h"
#include "scholar/IsnadWords.h"

#include "core/Arabic.h"
#include "core/Py.h"
#include "core/PyRegex.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace quorvel::Isnad {

using namespace detail;

namespace {

struct Patterns
{
    // A transmission verb that opens a chain.
    PyRegex::Regex opener = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|حدثناه|حدثنيه|حدثتنا|حدثتني|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]خبرناه|ثنا|سمعت)\\b"));
    // The link words between two narrators, with the white space after them.
    // The full verbs need no boundary in front; عن and the abbreviations,
    // which end many other words (معن), do.
    PyRegex::Regex link = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|حدثناه|حدثنيه|حدثتني|حدثتنا|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]خبرناه|[اأإ]خبرتني|"
        u"[اأإ]نب[اأ]نا|ثنا|سمعت)\\s+|(?<![\u0621-\u064A])[وف]?عن\\s+|\\b(?:نا|[اأ]نا|ثنى|ثني|[اأ]نبا|سمع)\\s+"));
    PyRegex::Regex honor = PyRegex::compile(QStringLiteral(
        u"رضي\\s+الله\\s+(?:تعالى\\s+)?عنه(?:ما|م|ا)?|رحمه\\s+الله|صلى\\s+الله\\s+عليه\\s+وسلم|عليه\\s+السلام"));
    // The words that begin the report's text inside a narrator piece.
    PyRegex::Regex matnCut = PyRegex::compile(QStringLiteral(
        u"\\b(?:قال(?:ت)?|[أا]نه?|[أا]نها|[أا]نهم)\\b"));
};

const Patterns& patterns()
{
    static const Patterns compiled;
    return compiled;
}

// Pieces that clean to one of these are particles, never names.
const QSet<QString>& fragments()
{
    static const QSet<QString> set{QStringLiteral(u"ال"), QStringLiteral(u"و"),
                                   QStringLiteral(u"ف"), QStringLiteral(u"ب")};
    return set;
}

// Narrower than Arabic::isDrop, the extended marks staying: the chains, and
// the narrator tables every installed library holds, are defined on this set.
bool isTashkeel(char16_t u)
{
    const Arabic::MarkGroup group = Arabic::markGroup(u);
    return group == Arabic::MarkGroup::Harakat || group == Arabic::MarkGroup::SuperscriptAlef
        || group == Arabic::MarkGroup::Quranic || u == 0x0640;
}

// Whether the opener can match in the stripped text `t`: each of its verbs
// contains one of these letter runs. A page with none of them needs no run
// of the pattern, and searching for them costs far less.
bool mayOpenChain(QStringView t)
{
    return t.contains(u"\u062B\u0646") // ثن: حدثنا حدثني حدثنى ثنا
        || t.contains(u"\u062B\u062A\u0646") // ثتن: حدثتنا حدثتني
        || t.contains(u"\u062E\u0628\u0631\u0646") // خبرن: اخبرنا اخبرني
        || t.contains(u"\u0633\u0645\u0639\u062A"); // سمعت
}

bool isArabicLetter(char32_t c) { return c >= 0x0621 && c <= 0x064A; }

// Up to the first match of `re`, or the whole text.
QString before(const PyRegex::Regex& re, const QString& text)
{
    const auto match = PyRegex::firstMatch(re, text);
    return match ? text.left(match->start) : text;
}

} // namespace

namespace {

// The direction marks an editor may leave inside a word («مح\u200Fمد»): no
// letters, dropped as the tatweel is.
constexpr bool isDirectionMark(char16_t u)
{
    return u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// `text` without its marks where a hamza or madda is written as a mark or a
// direction mark stands in a word: each carrier becomes the letter it and
// its seat marks compose to, as the normal form composes them, so that a
// page's chains do not depend on how its hamza is encoded.
constexpr qsizetype kMostMarksOnALetter = 8;

QString composedWithoutMarks(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (isTashkeel(u) || Arabic::isSeatMark(u) || isDirectionMark(u))
            continue;
        // A letter carries a few marks; a longer run is no writing, and
        // composing it would cost the square of its length.
        qsizetype marks = 0;
        while (i + 1 + marks < text.size() && marks <= kMostMarksOnALetter
               && Arabic::markGroup(text[i + 1 + marks].unicode()) != Arabic::MarkGroup::None)
            ++marks;
        out.append(marks <= kMostMarksOnALetter ? QChar(Arabic::writtenAt(text, i)) : text[i]);
    }
    return out;
}

bool needsComposing(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return Arabic::isSeatMark(c.unicode()) || isDirectionMark(c.unicode());
    });
}

} // namespace

QString stripTashkeel(const QString& text)
{
    if (needsComposing(text))
        return composedWithoutMarks(text);
    QString out(text.size(), Qt::Uninitialized);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    char16_t* kept = reinterpret_cast<char16_t*>(out.data());
    qsizetype length = 0;
    // Every unit is written and only the kept ones advance: no branch on
    // the text, which mixes letters and marks unit by unit.
    for (qsizetype i = 0; i < text.size(); ++i) {
        kept[length] = in[i];
        length += !isTashkeel(in[i]);
    }
    out.truncate(length);
    return out;
}

bool hasIsnad(const QString& text)
{
    const QString t = stripTashkeel(text);
    return mayOpenChain(t) && PyRegex::firstMatch(patterns().opener, t).has_value();
}

bool opensChain(const QString& word)
{
    const QString t = stripTashkeel(word);
    const std::optional<PyRegex::Range> m = PyRegex::firstMatch(patterns().opener, t);
    return m && m->start == 0 && m->length == t.size();
}

QString cleanNarrator(const QString& piece)
{
    const Patterns& p = patterns();
    // The first ":" or "؛" ends the name.
    qsizetype colon = 0;
    while (colon < piece.size() && piece[colon] != u':' && piece[colon] != u'\u061B')
        ++colon;
    QString text = piece.left(colon);
    // Every honorific formula contains الله or عليه, and every word that
    // begins the report's text contains قال, ان or أن: without them the
    // patterns cannot match, and pieces are many.
    if (text.contains(u"\u0627\u0644\u0644\u0647") || text.contains(u"\u0639\u0644\u064A\u0647"))
        text = PyRegex::sub(p.honor, QStringLiteral(" "), text);
    if (text.contains(u"\u0642\u0627\u0644") || text.contains(u"\u0627\u0646") || text.contains(u"\u0623\u0646"))
        text = before(p.matnCut, text);

    // Only Arabic letters and white space survive; each other code point
    // (digits, punctuation, Latin, a surviving mark) becomes one space.
    std::u32string kept;
    kept.reserve(size_t(text.size()));
    for (char32_t c : Py::scalars(text))
        kept.push_back(isArabicLetter(c) || Py::isSpace(c) ? c : U' ');

    // The joined name is Arabic letters and single spaces, so a lone
    // conjunction left at its end is exactly a final " و".
    QString joined = Py::split(Py::string(kept)).join(QLatin1Char(' '));
    if (joined.endsWith(u" \u0648"))
        joined.chop(2);
    return joined;
}

namespace {

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

bool validName(const QString& name)
{
    if (name.isEmpty() || fragments().contains(name))
        return false;
    const qsizetype length = Py::len(name);
    return length >= minNameLength && length < maxNameLength && nameWordCount(Py::split(name)) < maxNameWords;
}

// The words of a piece and the stops between them: "." for a full stop,
// ":" for a colon, "*" for the mark before a report's text, "\"" for a
// quotation mark, "," for a comma. Brackets and digits only separate words.
QStringList tokens(const QString& text)
{
    QStringList out;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty())
            out.append(std::exchange(word, QString()));
    };
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (isArabicLetter(u)) {
            word.append(c);
            continue;
        }
        flush();
        switch (u) {
        case u'.': case u'\u06D4': out.append(QStringLiteral(".")); break;
        case u':': case u'\u061B': out.append(QStringLiteral(":")); break;
        case u'*': out.append(QStringLiteral("*")); break;
        case u'"': case u'\u00AB': case u'\u00BB': case u'\u201C': case u'\u201D': out.append(QStringLiteral("\"")); break;
        case u'?': case u'\u061F': case u'!': out.append(QStringLiteral(".")); break;
        case u',': case u'\u060C': out.append(QStringLiteral(",")); break;
        default: break;
        }
    }
    flush();
    return out;
}

bool isStop(const QString& token) { return !token.isEmpty() && !isArabicLetter(token[0].unicode()); }

// The words of the name that starts at t[i], up to a stop or a word that
// no name holds; `i` ends past them. A gloss that completes the name ("يعني
// بن سعيد", "هو ابن مقسم", "هو الإفريقي") stays without its word; any other
// gloss ("يعني أباه") or remark is dropped up to the next stop or the word
// where the routes meet.
QStringList nameWords(const QStringList& t, qsizetype& i, QList<qsizetype>* commas = nullptr)
{
    QStringList words;
    for (; i < t.size() && (t[i] == u',' || !isStop(t[i])); ++i) {
        if (t[i] == u',') {
            if (commas)
                commas->append(words.size());
            continue;
        }
        const QString f = fold(t[i]);
        if (isGloss(f) || isAsideWord(t[i])) {
            const bool completes = isGloss(f) && !words.isEmpty() && i + 1 < t.size() && !isStop(t[i + 1])
                && (t[i + 1].startsWith(u"\u0627\u0644") || isOneOf(fold(t[i + 1]), {u"بن", u"ابن"}));
            if (completes)
                continue;
            while (i < t.size() && (t[i] == u',' || !isStop(t[i])) && !isJoint(fold(t[i])))
                ++i;
            break;
        }
        // "… ح و(حدثنا)": the change of route after the name.
        if (f == u"\u062D") {
            qsizetype k = i + 1;
            while (k < t.size() && (t[k] == u"\u0648" || t[k] == u"." || t[k] == u","))
                ++k;
            if (k == t.size())
                break;
        }
        const QString next = i + 1 < t.size() && !isStop(t[i + 1]) ? fold(t[i + 1]) : QString();
        // "قال لي رسول الله", «قال لنا ابن عباس»: to me, to us; «حدثنا
        // بذلك مسلم»: the report told. No part of the name.
        if (words.isEmpty() && isOneOf(f, {u"لي", u"لنا", u"بذلك", u"بهذا", u"به"}))
            continue;
        // "عبيد الله وهو ابن عمر": a gloss that completes the name.
        if (f == u"وهو" && !words.isEmpty() && isOneOf(next, {u"بن", u"ابن"}))
            continue;
        // "فلان، رجل من أهل الكوفة، عن …", "عباد بن زياد من ولد المغيرة":
        // what he was, not more of his name (an unnamed man's "من" aside).
        // «عن أبي عثمان وليس بالنهدي»: which man he is not.
        if (!words.isEmpty()
            && ((f == u"رجل" && next == u"من") || (f == u"وليس" && next.startsWith(u'\u0628'))
                || (f == u"من" && !isOneOf(fold(words.first()), {u"رجل", u"امراه", u"شيخ", u"بعض", u"ناس"})))) {
            // «إياس بن الحارث وجده من قبل أمه أبو ذباب»: the kin word
            // begins the remark.
            if (words.size() > 1 && words.last().startsWith(u'\u0648') && isKinWord(words.last().mid(1)))
                words.removeLast();
            while (i < t.size() && (t[i] == u',' || !isStop(t[i])) && !isJoint(fold(t[i])))
                ++i;
            break;
        }
        if (isNotName(f) || beginsSaying(t[i], words.isEmpty() ? QString() : words.last(), next))
            break;
        words.append(t[i]);
    }
    while (!words.isEmpty() && words.last() == u"\u0648")
        words.removeLast();
    return words;
}

// A name in `t` from `i` of at most `most` words; empty when there is none
// or it is longer.
QString nameAt(const QStringList& t, qsizetype& i, qsizetype most)
{
    const QStringList words = withoutKinWord(nameWords(t, i), false);
    const QString name = words.join(QLatin1Char(' '));
    return words.size() <= most && validName(name) ? filedName(name) : QString();
}

// The abbreviated link words, which a colon before them makes the report's
// own words ("قالت: أنا …").
bool isWeakLink(QStringView linkWord)
{
    const QString f = fold(linkWord.trimmed().toString());
    return isOneOf(f, {u"نا", u"انا", u"ثني", u"سمع", u"انبا"});
}

// The tokens after a piece's names, read step by step: each step tells
// whether it settled what the rest of the piece says.
class Rest {
public:
    Rest(const QStringList& all, qsizetype from, QStringView nextLink, Piece& out)
        : t_(all.sliced(std::min(from, all.size()))), nextLink_(nextLink), out_(out)
    {
        t_.removeAll(QStringLiteral(","));
        // "أن فلانا أخبره * أنه سمع": the mark after the verb opens no report.
        for (qsizetype k = 1; k < t_.size(); ++k)
            if (t_[k] == u'*' && isToldVerb(fold(t_[k - 1])))
                t_.removeAt(k--);
        while (i_ < t_.size() && t_[i_] == u'.')
            ++i_;
    }

    void read()
    {
        if (i_ == t_.size())
            return;
        starred_ = t_.sliced(i_).contains(QStringLiteral("*"));
        if (routeChanges() || routesMeet() || namedSpeaker() || speakerStood())
            return;
        if (starred_) {
            out_.textBegins = true;
            return;
        }
        if (toldSomeone() || readTo() || modeOfHearing() || unnamedMan() || doubt() || raisedTo() || describesNarrator() || toldBy() || askedOne())
            return;
        sayingOnly();
    }

private:
    QString word(qsizetype k) const { return k < t_.size() && !isStop(t_[k]) ? fold(t_[k]) : QString(); }
    bool only(qsizetype start, std::initializer_list<const char16_t*> allowed) const
    {
        for (qsizetype k = start; k < t_.size(); ++k)
            if (!isOneOf(t_[k], allowed))
                return false;
        return true;
    }

    // "ح و(حدثنا)": a parallel route.
    bool routeChanges()
    {
        if (word(i_) != u"\u062D" || !only(i_ + 1, {u"\u0648", u"."}))
            return false;
        out_.tahwil = true;
        return true;
    }

    // "قالا ثنا", "قالوا: ثنا", "جميعا عن": the routes meet; with words
    // after it, "they said" opens the report.
    bool routesMeet()
    {
        if (!isJoint(word(i_)))
            return false;
        // «كلهم يحدثونه عن أبي هريرة»: all of them tell it from the next one.
        qsizetype k = i_ + 1;
        while (!nextLink_.isEmpty() && (isGlue(word(k)) || isToldOn(word(k))))
            ++k;
        if (only(k, {u":", u".", u"\u0648"}))
            out_.joint = true;
        else
            out_.textBegins = true;
        return true;
    }

    // "قال: قال علي: …": the narrator he names speaks the report; "قال قال
    // ربيعة حدثني …" goes on with him.
    bool namedSpeaker()
    {
        if (word(i_) != u"قال")
            return false;
        qsizetype k = i_ + 1;
        if (k < t_.size() && t_[k] == u':')
            ++k;
        if (word(k) != u"قال" && word(k) != u"قالت")
            return false;
        ++k;
        const QString name = nameAt(t_, k, 5);
        const bool goesOn = k == t_.size() && !nextLink_.isEmpty() && !isWeakLink(nextLink_);
        if (name.isEmpty() || isProphet(name) || !(goesOn || (k < t_.size() && (t_[k] == u':' || t_[k] == u'*'))))
            return false;
        out_.places.append({name});
        out_.textBegins = !goesOn;
        return true;
    }

    // "قال قام معاوية خطيبا فقال … سمعت رسول الله": the man who stood
    // heard the report.
    bool speakerStood()
    {
        qsizetype k = i_ + 1;
        if (word(i_) != u"قال" || starred_ || !nextLink_.startsWith(u"\u0633\u0645\u0639\u062A")
            || !isOneOf(word(k), {u"قام", u"خطب", u"خطبنا", u"خطبهم"}))
            return false;
        ++k;
        if (word(k) == u"فينا")
            ++k;
        const QString name = nameAt(t_, k, 5);
        if (!name.isEmpty() && !isProphet(name))
            out_.places.append({name});
        out_.textBegins = true;
        return true;
    }

    // "عن سعد الطائي وكان ثقة عن …": a word about the narrator, and the
    // chain goes on.
    bool describesNarrator() const
    {
        return isOneOf(word(i_), {u"وكان", u"وهو"}) && !nextLink_.isEmpty() && t_.size() - i_ <= 3
            && std::none_of(t_.cbegin() + i_, t_.cend(), isStop);
    }

    // "أن فلانا أخبره أنه سمع …": he is the next narrator.
    bool toldBy()
    {
        if (word(i_) != u"ان")
            return false;
        qsizetype k = i_ + 1;
        const QString name = nameAt(t_, k, 6);
        // "أن عبد الله يرفع الحديث": he is the last narrator.
        if (!name.isEmpty() && isOneOf(word(k), {u"يرفع", u"يرفعه", u"رفعه", u"يبلغ"})) {
            out_.places.append({name});
            out_.textBegins = true;
            return true;
        }
        if (name.isEmpty() || !isToldVerb(word(k)))
            return false;
        out_.places.append({name});
        Rest(t_, k + 1, nextLink_, out_).read();
        return true;
    }

    // "أن امرأة سألت عائشة قالت: …": the one asked gives the report.
    bool askedOne()
    {
        if (word(i_) != u"ان")
            return false;
        for (qsizetype k = i_ + 1; k <= i_ + 3 && k < t_.size() && !isStop(t_[k]); ++k) {
            if (isAsked(word(k))) {
                ++k;
                const QString asked = nameAt(t_, k, 5);
                if (!asked.isEmpty() && !isProphet(asked))
                    out_.places.append({asked});
                out_.textBegins = true;
                return true;
            }
        }
        return false;
    }

    // Words of saying alone before the next link word; a colon before an
    // abbreviated link word opens the report ("قالت: أنا …").
    // «محمد بن كعب قال قلت له، يعني لعمر: حدثني ابن عباس»: he goes on with
    // the man who told him.
    bool toldSomeone() const
    {
        if (word(i_) != u"قال" || word(i_ + 1) != u"قلت" || starred_
            || !isOneOf(fold(nextLink_.trimmed().toString()), {u"حدثني", u"اخبرني", u"سمعت"}))
            return false;
        return std::none_of(t_.cbegin() + i_, t_.cend(), [](const QString& token) { return token == u':'; });
    }

    // «أحمد بن صالح قرأت على عبد الله بن نافع»: he heard it from the man
    // he read it to. «حدثنا فلان وقرأته على فلان»: the compiler heard it
    // from both, side by side.
    bool readTo()
    {
        const bool besides = isOneOf(word(i_), {u"قراته", u"وقراته"});
        if ((word(i_) != u"قرات" && !besides) || word(i_ + 1) != u"علي")
            return false;
        qsizetype k = i_ + 2;
        const QString teacher = nameAt(t_, k, 8);
        if (teacher.isEmpty())
            return false;
        if (besides)
            out_.beside.append(teacher);
        else
            out_.places.append({teacher});
        Rest(t_, k, nextLink_, out_).read();
        return true;
    }

    // «مالك قراءة عليه», «وبعضه قراءة عليه وأنا أسمع», «أملاه علي»: how he
    // heard it, and the chain goes on.
    bool modeOfHearing() const
    {
        if (!isOneOf(word(i_), {u"قراءه", u"قرائه", u"بعضه", u"وبعضه", u"املاه", u"املاء", u"عرضا"}))
            return false;
        for (qsizetype k = i_; k < t_.size(); ++k)
            if (t_[k] != u'.' && !isOneOf(word(k), {u"قراءه", u"قرائه", u"عليه", u"علي", u"بعضه", u"وبعضه", u"املاه",
                                                     u"املاء", u"وانا", u"اسمع", u"عرضا"}))
                return false;
        return true;
    }

    // «عكرمة يرفع الحديث فيما أرى إلى ابن عباس»: the man he raised it to
    // heard it before him, unless that is the Prophet.
    bool raisedTo()
    {
        if (!isOneOf(word(i_), {u"يرفع", u"يرفعه", u"رفعه", u"رفع"}))
            return false;
        for (qsizetype k = i_ + 1; k < t_.size() && k <= i_ + 5 && !isStop(t_[k]); ++k) {
            if (word(k) != u"الي")
                continue;
            ++k;
            const QString name = nameAt(t_, k, 5);
            if (!name.isEmpty() && !isProphet(name))
                out_.places.append({name});
            break;
        }
        out_.textBegins = true;
        return true;
    }

    // «عن فلان عمن حدثه عن …»: the route stops before the man not named,
    // and what he heard is a route of its own.
    bool unnamedMan()
    {
        if (word(i_) != u"عمن")
            return false;
        out_.unnamed = true;
        return true;
    }

    // «أبو حاتم أو رجل عنده», «عن الفضل أو أحدهما عن الآخر»: a doubt about
    // whom he heard keeps the chain; a named other («حميد أو ثابت») heard at
    // the same place.
    bool doubt()
    {
        if (word(i_) != u"او")
            return false;
        qsizetype k = i_ + 1;
        if (isOneOf(word(k), {u"رجل", u"غيره", u"احدهما", u"غير", u"امراه"})) {
            out_.textBegins = t_.sliced(k).contains(QStringLiteral("*"));
            return true;
        }
        const QString other = nameAt(t_, k, 6);
        if (other.isEmpty() || isProphet(other))
            return false;
        out_.beside.append(other);
        Rest(t_, k, nextLink_, out_).read();
        return true;
    }

    void sayingOnly()
    {
        qsizetype words = 0;
        for (qsizetype k = i_; k < t_.size(); ++k) {
            if (t_[k] == u':') {
                if (k + 1 < t_.size() || isWeakLink(nextLink_)) {
                    out_.textBegins = true;
                    return;
                }
            } else if (t_[k] == u'.') {
                continue;
            } else if (isStop(t_[k]) || !(isGlue(fold(t_[k])) || isToldVerb(fold(t_[k]))) || ++words > 3) {
                out_.textBegins = true;
                return;
            }
        }
    }

    QStringList t_;
    QStringView nextLink_;
    Piece& out_;
    qsizetype i_ = 0;
    bool starred_ = false;
};

// What follows a piece's names (its tokens from `from` on) says whether the
// chain goes on, and may name one more narrator.
void readRest(const QStringList& all, qsizetype from, QStringView nextLink, Piece& out)
{
    Rest(all, from, nextLink, out).read();
}

// «عن عمرو وعاصم ابني سفيان»: two sons of one father, whose name comes off
// the words and is returned.
QString takeSonsOf(QStringList& words)
{
    for (qsizetype d = 1; d + 1 < words.size(); ++d)
        if (isOneOf(fold(words[d]), {u"ابني", u"ابنا"})) {
            const QString father = words.sliced(d + 1).join(u' ');
            words.resize(d);
            return father;
        }
    return {};
}

// Whether a piece's tokens name no one at their head: «حدثني من سمع عطاء»,
// «أخبرني من أصدق», a man not named, like «عمن حدثه». Else they are made
// ready for reading: «سمعت من رسول الله» without its «من», «رجل من أهل
// الشام، يقال له: عبد الجليل» without the colon before his name.
bool namesNoOne(QStringList& t)
{
    for (qsizetype k = 2; k < t.size(); ++k)
        if (t[k] == u':' && fold(t[k - 1]) == u"له" && fold(t[k - 2]) == u"يقال")
            t.removeAt(k);
    if (t.isEmpty() || !isOneOf(fold(t.first()), {u"من", u"ممن"}))
        return false;
    if (t.size() < 2 || !isProphet(t[1]))
        return true;
    t.removeFirst();
    return false;
}

Piece readPiece(QString piece, QStringView nextLink, bool beforeOpener, bool afterVerb)
{
    const Patterns& p = patterns();
    Piece out;
    if (const qsizetype boundary = reportBoundary(piece, beforeOpener); boundary >= 0) {
        out.reportEnds = true;
        piece.truncate(boundary);
    }
    if (piece.contains(u"\u0627\u0644\u0644\u0647") || piece.contains(u"\u0639\u0644\u064A\u0647"))
        piece = PyRegex::sub(p.honor, QStringLiteral(" "), piece);
    QStringList t = tokens(piece);
    const bool noOne = namesNoOne(t);
    if (cutAtHeading(t))
        out.reportEnds = true;
    if (noOne) {
        out.unnamed = true;
        return out;
    }

    qsizetype i = 0;
    QList<qsizetype> commas;
    QStringList words = nameWords(t, i, &commas);
    // "عن خالد بن يزيد. وعقيل، عن …": a second narrator after a full stop.
    while (!words.isEmpty() && i + 1 < t.size() && t[i] == u'.' && t[i + 1].startsWith(u'\u0648')
           && t[i + 1].size() > 2) {
        qsizetype k = i + 1;
        const QStringList more = nameWords(t, k);
        if (more.isEmpty() || k != t.size())
            break;
        words += more;
        i = k;
    }

    Piece rest;
    readRest(t, i, nextLink, rest);
    // A name too long for one man ends at its first comma: what follows
    // describes him ("عبد الرحمن بن سعد، مؤذن رسول الله").
    if (words.size() >= maxNameWords && !rest.tahwil && !rest.joint)
        for (const qsizetype comma : std::as_const(commas))
            if (comma >= 2 && comma < maxNameWords) {
                words.resize(comma);
                break;
            }
    // Too many words for names joined by و: the report's text.
    if (nameWordCount(words) >= maxNameWords && !rest.tahwil && !rest.joint) {
        out.textBegins = true;
        return out;
    }
    Link place;
    QStringList name;
    bool tooLong = false;
    const auto flush = [&] {
        // "رجل من بني الديل يقال له بسر بن محجن": the name he is given.
        const qsizetype called = name.indexOf(QStringLiteral(u"يقال"));
        if (called > 0 && called + 2 < name.size() && fold(name[called + 1]).startsWith(u"\u0644\u0647"))
            name = name.sliced(called + 2);
        const QString joined = withoutKinWord(name, afterVerb && place.isEmpty()).join(QLatin1Char(' '));
        name.clear();
        if (joined.isEmpty())
            return;
        if (validName(joined))
            place.append(filedName(joined));
        else if (Py::len(joined) >= maxNameLength || nameWordCount(Py::split(joined)) >= maxNameWords)
            tooLong = true;
    };
    const QString sonsOf = takeSonsOf(words);
    for (const QString& word : std::as_const(words)) {
        // "يحيى بن سعيد ومحمد بن جعفر" names two narrators, and so does
        // "أبي وأبو معاوية": a name never goes on with و and a kunya.
        // «أبي نعيم وهب بن كيسان»: a kunya and then his name, which begins
        // with و; a second narrator would be written «ووهب».
        const bool namedAfterKunya = isWawName(word) && name.size() == 2
            && isOneOf(fold(name.first()), {u"ابو", u"ابي", u"ابا", u"ام"});
        if (!name.isEmpty() && word.startsWith(u'\u0648') && word.size() > 2 && !namedAfterKunya
            && (!continuesName(name.last()) || continuesName(word.mid(1)))) {
            flush();
            name.append(isWawName(word) ? word : word.mid(1));
            continue;
        }
        name.append(word);
    }
    flush();
    if (!sonsOf.isEmpty())
        for (QString& son : place)
            son += QStringLiteral(u" بن ") + sonsOf;
    // Words too many for a name are the report's text, unless they stand
    // beside narrators who heard together (a long name among several).
    if (tooLong && (place.isEmpty() || !(rest.joint || rest.tahwil))) {
        out.textBegins = true;
        return out;
    }
    if (!place.isEmpty())
        out.places.append(place + rest.beside);
    out.places += rest.places;
    out.unnamed = rest.unnamed;
    out.textBegins = out.textBegins || rest.textBegins;
    out.tahwil = rest.tahwil;
    out.joint = rest.joint;
    return out;
}

// The link words after which a new chain may start once the last one has
// ended: the full verbs of hearing that head a route, not عن or سمعت, and
// never an abbreviation that the report's own words may hold.
bool restartsChain(QStringView linkWord)
{
    const QString f = fold(linkWord.trimmed().toString());
    return f.startsWith(u"\u062D\u062F\u062B\u0646") // حدثن
        || f.startsWith(u"\u062D\u062F\u062B\u062A\u0646") // حدثتن
        || f.startsWith(u"\u0627\u062E\u0628\u0631\u0646") // اخبرن
        || f == u"\u0627\u0646\u0628\u0627\u0646\u0627" // انبانا
        || f == u"\u062B\u0646\u0627"; // ثنا
}

// «قال الزهري: فحدثني فلان», «قال أبو كريب وحدثنا وكيع»: the narrator who
// opens a second route inside a report with «و/ف» and a link word at `at`,
// read from the text since `from`; empty when no one is named so.
QString routeSpeaker(const QString& s, qsizetype from, qsizetype at)
{
    qsizetype j = at - 1;
    // An editor's bracket may stand between them: «قال نصر ]: و [ حدثنا».
    while (j >= from && (s[j].isSpace() || s[j] == u'['))
        --j;
    if (j < from || !isOneOf(QString(s[j]), {u"\u0648", u"\u0641"}) || (j > 0 && isArabicLetter(s[j - 1].unicode())))
        return {};
    // Only the last few words can name him.
    const qsizetype start = std::max(from, j - 160);
    QString tail = s.mid(start, j - start);
    // Words before a number belong to another report (or a note's mark).
    for (qsizetype k = tail.size() - 1; k >= 0; --k)
        if (tail[k].isDigit() || tail[k] == u'\\') {
            tail.remove(0, k + 1);
            break;
        }
    QStringList t = tokens(tail);
    while (!t.isEmpty() && (t.last() == u':' || t.last() == u','))
        t.removeLast();
    // «قال أبو الحسن أي القطان»: the editor's «أي» explains the name.
    for (qsizetype k = 1; k < t.size(); ++k)
        if (fold(t[k]) == u"اي") {
            t.resize(k);
            break;
        }
    for (qsizetype k = t.size() - 2; k >= 0 && k >= t.size() - 7 && !isStop(t[k]); --k) {
        if (fold(t[k]) != u"قال")
            continue;
        qsizetype i = k + 1;
        const QString name = nameAt(t, i, 5);
        return i == t.size() && !isProphet(name) ? name : QString();
    }
    return {};
}

// The narrator of the chains read so far whom `speaker` names: himself, or
// the one whose name begins with his words («قيس» after «قيس بن أبي حازم»).
// Empty when none is: a speaker no chain names is not taken for a narrator.
QString namedBefore(const QList<Chain>& read, const QString& speaker)
{
    if (speaker.isEmpty())
        return {};
    const QString words = fold(speaker) + u' ';
    for (const Chain& route : read)
        for (const Link& place : route)
            for (const QString& name : place)
                if (fold(name) == fold(speaker) || fold(name).startsWith(words))
                    return name;
    return {};
}

// Given names that end in an alif of their own: the accusative's alif
// comes off every other one.
bool endsInOwnAlif(const QString& folded)
{
    return isOneOf(folded, {u"زكريا", u"يحيا", u"موسا", u"عيسا"});
}

} // namespace

QString filedName(const QString& name)
{
    QStringList words = name.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return name;
    const QString first = fold(words.first());
    // A kunya is filed in the nominative: أبا هريرة and أبي هريرة are أبو هريرة.
    // «أبي بن كعب» is a name before «بن», no kunya.
    if (words.size() > 1 && (first == u"ابا" || first == u"ابي") && !isLineageWord(fold(words[1]))) {
        words.first() = words.first().first(2) + QChar(0x0648);
    } else if (Py::len(first) >= 4 && first.endsWith(u'\u0627') && !first.startsWith(u"\u0627\u0644")
               && !first.endsWith(u"\u0627\u0627") && !first.endsWith(u"\u0647\u0627") && !endsInOwnAlif(first)
               && (words.size() == 1 || !isLineageWord(fold(words[1])))) {
        // The accusative's alif (جابرا, أنسا, عليا), not a pronoun's (أباها);
        // عمرو writes it in place of his waw.
        words.first().chop(1);
        if (first == u"عمرا")
            words.first().append(QChar(0x0648));
    }
    return words.join(u' ');
}

// «عن فلان، عن فلان …» at a page's head: where a chain the page before began
// goes on; the text's size when it does not.
static qsizetype carriedOverFrom(const QString& t)
{
    const qsizetype lead = std::find_if(t.cbegin(), t.cend(), [](QChar c) { return !c.isSpace(); }) - t.cbegin();
    const QStringView head = QStringView(t).mid(lead);
    return head.startsWith(u"\u0639\u0646 ") || head.startsWith(u"\u0648\u0639\u0646 ") ? lead : t.size();
}

// «… كما حدثنا به أبو هريرة», «أخبرني بالذي سمعت»: after the report's text
// has begun, a verb of telling that a word of the sentence governs (a
// relative, «أن», «كان», a negation) is the report's own, opening no chain.
static bool saidWithinReport(const QString& s, qsizetype at)
{
    // «كان يحدثنا»: the verb inside a longer word, unless after و or ف.
    qsizetype lead = at;
    while (lead > 0 && isArabicLetter(s[lead - 1].unicode()))
        --lead;
    if (lead < at)
        return !isOneOf(s.mid(lead, at - lead), {u"\u0648", u"\u0641"});
    qsizetype end = at;
    while (end > 0 && s[end - 1].isSpace())
        --end;
    qsizetype start = end;
    while (start > 0 && isArabicLetter(s[start - 1].unicode()))
        --start;
    return isOneOf(fold(s.mid(start, end - start)),
                   {u"ما", u"بما", u"كما", u"مما", u"فيما", u"عما", u"الذي", u"التي", u"بالذي", u"الذين", u"ان",
                    u"انه", u"كان", u"كانوا", u"قد", u"لقد", u"لم", u"لا", u"حتي", u"لو", u"ممن", u"من"});
}

// «ثنا وكيع ح وحدثنا فلان ثنا أبو نعيم ثنا زمعة»: a route that stopped at ح
// without meeting another goes on as the last one does past the place where
// it stopped.
static void carryStoppedRoutes(QList<Chain>& routes)
{
    for (qsizetype r = 0; r + 1 < routes.size(); ++r)
        if (!routes[r].isEmpty() && routes[r].size() < routes.last().size() && routes[r].last() != routes.last().last())
            routes[r] += routes.last().mid(routes[r].size());
}

// Whether the last route, after ح, reaches at `place` the narrator where an
// earlier route stopped: from there on it goes on with it.
static bool reachesAStop(const QList<Chain>& routes, const Link& place)
{
    for (qsizetype r = 0; r + 1 < routes.size(); ++r)
        if (!routes[r].isEmpty())
            for (const QString& name : place)
                for (const QString& reached : routes[r].last())
                    if (sameNarrator(reached, name))
                        return true;
    return false;
}

// The chains of `text`; with `fromPageHead`, also one the page before began.
static QList<Chain> readChains(const QString& text, bool fromPageHead)
{
    const Patterns& p = patterns();
    const QString t = stripTashkeel(text);
    if (!mayOpenChain(t))
        return {};
    const auto opener = PyRegex::firstMatch(p.opener, t);
    if (!opener)
        return {};
    const QString s = t.mid(fromPageHead ? std::min(opener->start, carriedOverFrom(t)) : opener->start);
    const QList<PyRegex::Range> linkWords = PyRegex::allMatches(p.link, s);
    const auto linkWord = [&](qsizetype k) {
        return k >= 0 && k < linkWords.size() ? QStringView(s).mid(linkWords[k].start, linkWords[k].length)
                                              : QStringView();
    };

    QList<Chain> result;
    QList<Chain> routes; // the routes of the chain being read
    bool open = true;    // inside a chain
    bool shared = false; // the routes have met: a name goes to each
    // The route read before a «وعن» route, in `result`, and whether the
    // «وعن» stood beside its last teacher (-1: none).
    qsizetype andAfter = -1;
    bool andBeside = false;
    const auto finish = [&] {
        if (andAfter >= 0 && routes.size() == 1)
            joinAndRoute(result[andAfter], routes, andBeside);
        andAfter = -1;
        carryStoppedRoutes(routes);
        for (Chain& route : routes)
            if (!route.isEmpty())
                result.append(std::move(route));
        routes.clear();
        shared = false;
    };
    routes.append(Chain());
    for (qsizetype k = -1; k < linkWords.size(); ++k) {
        const AndFrom andFromHere = k >= 0 ? andFrom(s, linkWord(k), linkWords[k].start) : AndFrom::no;
        // «… وعن سهيل»: a route of its own until it is seen where it joins.
        const bool andRoute = open && !shared && routes.size() == 1 && !routes.last().isEmpty()
            && (andFromHere == AndFrom::ownRoute || andFromHere == AndFrom::besides);
        if (andRoute || (open && andFromHere == AndFrom::ownRoute)) {
            finish();
            routes.append(Chain());
            if (andRoute) {
                andAfter = result.size() - 1;
                andBeside = andFromHere == AndFrom::besides;
            }
        }
        if (!open) {
            if ((!restartsChain(linkWord(k)) || saidWithinReport(s, linkWords[k].start))
                && !opensReportWithAnd(s, linkWords, k))
                continue;
            open = true;
            routes.append(Chain());
            const QString speaker =
                namedBefore(result, routeSpeaker(s, k > 0 ? linkWords[k - 1].end() : 0, linkWords[k].start));
            if (!speaker.isEmpty())
                routes.last().append({speaker});
        }
        const qsizetype from = k < 0 ? 0 : linkWords[k].end();
        const qsizetype to = k + 1 < linkWords.size() ? linkWords[k + 1].start : s.size();
        const Piece piece = readPiece(s.mid(from, to - from), linkWord(k + 1), restartsChain(linkWord(k + 1)),
                                      !linkWord(k).trimmed().endsWith(u"\u0639\u0646"));
        bool besides = andFromHere == AndFrom::besides && !routes.last().isEmpty();
        for (const Link& place : piece.places) {
            if (std::exchange(besides, false)) {
                for (Chain& route : routes)
                    if (!route.isEmpty() && (shared || &route == &routes.last()))
                        route.last() += place;
                continue;
            }
            if (shared) {
                // A route that reached this narrator already does not reach him twice.
                for (Chain& route : routes)
                    if (route.isEmpty() || route.last().size() != 1 || place.size() != 1
                        || !sameNarrator(route.last().first(), place.first()))
                        route.append(place);
                continue;
            }
            shared = reachesAStop(routes, place);
            routes.last().append(place);
        }
        if (piece.joint && routes.size() > 1)
            shared = true;
        if (piece.textBegins || piece.reportEnds) {
            finish();
            open = false;
        } else if (piece.tahwil) {
            routes.append(Chain());
            shared = false;
        } else if (piece.unnamed) {
            finish();
            routes.append(Chain());
        }
    }
    finish();
    return result;
}

QList<Chain> chains(const QString& text)
{
    return readChains(text, true);
}

QList<Chain> filedChains(const QString& text)
{
    return filedChains(chains(text));
}

QList<Chain> filedChains(QList<Chain> read)
{
    QStringList onPage;
    QSet<QString> seen;
    for (const Chain& route : read)
        for (const Link& place : route)
            for (const QString& name : place)
                if (!isKinWord(name) && !seen.contains(name)) {
                    seen.insert(name);
                    onPage.append(name);
                }
    for (Chain& route : read)
        nameKin(route, onPage);
    return read;
}

QStringList chain(const QString& text)
{
    // The first chain the page's text opens, not the end of one the page
    // before began.
    const QList<Chain> all = readChains(text, false);
    QStringList names;
    if (!all.isEmpty())
        for (const Link& link : all.first())
            names += link;
    return names;
}

QList<std::pair<QString, QString>> edges(const QString& text)
{
    QList<std::pair<QString, QString>> pairs;
    QSet<std::pair<QString, QString>> seen;
    for (const Chain& route : filedChains(text))
        for (qsizetype i = 0; i + 1 < route.size(); ++i)
            for (const QString& student : route[i])
                for (const QString& teacher : route[i + 1])
                    if (student != teacher && !seen.contains({student, teacher})) {
                        seen.insert({student, teacher});
                        pairs.append({student, teacher});
                    }
    return pairs;
}

bool isLinkWord(const QString& word)
{
    const QString f = fold(stripTashkeel(word));
    return isLinkVerb(f) || isGlue(f) || f == u"عن";
}

} // namespace quorvel::Isnad
