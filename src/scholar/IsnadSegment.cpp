#include "scholar/IsnadSegment.h"
#include "scholar/IsnadWords.h"

#include "core/Arabic.h"
#include "core/Py.h"

#include <QSet>

#include <algorithm>

namespace quorvel::Isnad::detail {

namespace {

// Pieces that clean to one of these are particles, never names.
const QSet<QString>& fragments()
{
    static const QSet<QString> set{QStringLiteral(u"ال"), QStringLiteral(u"و"),
                                   QStringLiteral(u"ف"), QStringLiteral(u"ب")};
    return set;
}


bool validName(const QString& name)
{
    if (name.isEmpty() || fragments().contains(name))
        return false;
    const qsizetype length = Py::len(name);
    return length >= minNameLength && length < maxNameLength && nameWordCount(Py::split(name)) < maxNameWords;
}

} // namespace

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

namespace {

// «رجل من بني الديل», «بعض أصحابه»: a man not named, whom the words after describe.
bool isUnnamedMan(const QString& f) { return isOneOf(f, {u"رجل", u"امراه", u"شيخ", u"بعض", u"ناس"}); }

// Where a name's words would end before the first word the text writes in
// no name: that many words, the token there. None when `words` is negative.
struct NameEnd
{
    qsizetype words = -1;
    qsizetype token = 0;
};

// Whether a word with «و» closes a second name: what follows it ends a name
// («وشعبة قالا», «وعباد عن»).
bool closesSecondName(const QStringList& t, qsizetype k)
{
    if (k + 1 >= t.size() || isStop(t[k + 1]))
        return true;
    const QString f = fold(t[k + 1]);
    return isJoint(f) || isLineageWord(f) || continuesName(t[k + 1]);
}

// The words of the name that starts at t[i], up to a stop or a word that
// no name holds; `i` ends past them. A gloss that completes the name ("يعني
// بن سعيد", "هو ابن مقسم", "هو الإفريقي") stays without its word; any other
// gloss ("يعني أباه") or remark is dropped up to the next stop or the word
// where the routes meet.
// `end`, when given, learns where the words would end by `names`.
QStringList nameWords(const QStringList& t, qsizetype& i, QList<qsizetype>* commas = nullptr,
                      const PageNames& names = PageNames(), NameEnd* end = nullptr)
{
    // A later word, or the name it and a «و» begin, must be one the text writes as a name.
    const auto goesOn = [&](qsizetype k) {
        const QString& word = t[k];
        const bool and_ = word.startsWith(u'\u0648') && word.size() > 2;
        return names.holds(word) || (and_ && (names.holds(word.mid(1)) || closesSecondName(t, k)));
    };
    QStringList words;
    bool told = false; // the words of the report told, or of whom it was told to, came first
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
        if (words.isEmpty() && isOneOf(f, {u"لي", u"لنا", u"بذلك", u"بهذا", u"به"})) {
            told = true;
            continue;
        }
        // «أخبرني به عنك»: after them, only a word the text writes as a name names anyone.
        if (told && words.isEmpty() && !names.holds(t[i]))
            break;
        // "عبيد الله وهو ابن عمر": a gloss that completes the name.
        if (f == u"وهو" && !words.isEmpty() && isOneOf(next, {u"بن", u"ابن"}))
            continue;
        // "فلان، رجل من أهل الكوفة، عن …", "عباد بن زياد من ولد المغيرة":
        // what he was, not more of his name (an unnamed man's "من" aside).
        // «عن أبي عثمان وليس بالنهدي»: which man he is not.
        if (!words.isEmpty()
            && ((f == u"رجل" && next == u"من") || (f == u"وليس" && next.startsWith(u'\u0628'))
                || (f == u"من" && !isUnnamedMan(fold(words.first()))))) {
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
        if (end && end->words < 0 && !words.isEmpty() && !isUnnamedMan(fold(words.first()))
            && !isRelation(words.first()) && !goesOn(i))
            *end = {words.size(), i};
        words.append(t[i]);
    }
    while (!words.isEmpty() && words.last() == u"\u0648")
        words.removeLast();
    return words;
}

} // namespace

QString nameAt(const QStringList& t, qsizetype& i, qsizetype most)
{
    const QStringList words = withoutKinWord(nameWords(t, i), false);
    const QString name = words.join(QLatin1Char(' '));
    return words.size() <= most && validName(name) ? filedName(name) : QString();
}

namespace {

// The abbreviated link words, which a colon before them makes the report's
// own words ("قالت: أنا …").
bool isWeakLink(QStringView linkWord)
{
    const QString f = fold(linkWord.trimmed().toString());
    return isOneOf(f, {u"نا", u"انا", u"ثني", u"سمع", u"انبا"});
}

// A full verb of telling or hearing, not an abbreviation the report's own
// words may hold.
bool restartsOrHears(QStringView linkWord)
{
    const QString f = fold(linkWord.trimmed().toString().remove(u']'));
    return !isWeakLink(linkWord) && isLinkVerb(f) && f.size() > 3;
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
            askedAtTheStart();
            out_.textBegins = true;
            return;
        }
        if (toldSomeone() || doubtedLink() || readTo() || modeOfHearing() || verseExplained() || unnamedMan()
            || doubt() || raisedTo() || describesNarrator() || toldBy() || askedOne() || toldBeforeHim())
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

    // «عن أبيه أنه قال * سئل أسامة بن زيد وأنا جالس»: the report opens
    // with the man asked, who gives it.
    void askedAtTheStart()
    {
        qsizetype k = i_;
        while (k < t_.size() && (t_[k] == u'*' || t_[k] == u':' || isGlue(word(k))))
            ++k;
        if (word(k) != u"سئل")
            return;
        ++k;
        const QString asked = nameAt(t_, k, 5);
        if (!asked.isEmpty() && !isProphet(asked))
            out_.places.append({asked});
    }

    // «سمعت عباد بن تميم يحدث أبي عن عمه»: he told another in the
    // narrator's hearing, and the chain goes on to the one he told it from.
    bool toldBeforeHim() const
    {
        constexpr qsizetype mostWords = 4;
        if (!isOneOf(word(i_), {u"يحدث", u"يخبر"}) || fold(nextLink_.trimmed().toString()) != u"عن"
            || t_.size() - i_ - 1 > mostWords)
            return false;
        return std::none_of(t_.cbegin() + i_, t_.cend(), isStop);
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

    // «عن عطاء قال هلال لا أعلمه إلا عن أبي سعيد», «عن الزهري قال ابن
    // عيينة أراه عن عروة»: a narrator doubts the next link, and the chain
    // goes on through it.
    bool doubtedLink() const
    {
        if (word(i_) != u"قال" || fold(nextLink_.trimmed().toString()) != u"عن")
            return false;
        qsizetype end = t_.size();
        if (t_.last() == u':')
            --end;
        qsizetype doubtAt = end - 1;
        if (end - 3 > i_ && word(end - 3) == u"لا" && word(end - 2) == u"اعلمه" && word(end - 1) == u"الا")
            doubtAt = end - 3;
        else if (!isOneOf(word(end - 1), {u"اراه", u"احسبه", u"اظنه"}))
            return false;
        // Between them only the one who doubts, named in a few words.
        constexpr qsizetype mostWords = 5;
        if (doubtAt <= i_ || doubtAt - i_ - 1 > mostWords + 1)
            return false;
        for (qsizetype k = i_ + 1; k < doubtAt; ++k)
            if (t_[k] != u':' && isStop(t_[k]))
                return false;
        return true;
    }

    // «عن ابن أبي نجيح في قوله عز وجل: {…} قال: سمعت مجاهدا»: the verse
    // the report explains, named between two links of its chain, which goes on.
    bool verseExplained() const
    {
        const qsizetype last = t_.size() - (t_.last() == u':' ? 2 : 1);
        return word(i_) == u"في" && word(i_ + 1) == u"قوله" && last > i_ + 1 && word(last) == u"قال"
            && restartsOrHears(nextLink_);
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
        if (isSonsOf(fold(words[d]))) {
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

// «قتادة قوله عز وجل», «أم سلمة زوج النبي»: where the report's text begins
// in a piece anyway, the name ends before the first word the text writes in
// no name. Where the chain goes on past the piece, or the words are too many
// for any name, they stand as read («محمد بن سليمان لوين وبعضه قراءة عليه»).
void shortenToNames(const QStringList& t, QStringList& words, const NameEnd& end, QStringView nextLink, Piece& rest)
{
    if (end.words < 0 || end.words >= words.size() || nameWordCount(words) >= maxNameWords)
        return;
    Piece shortened;
    readRest(t, end.token, nextLink, shortened);
    if (!rest.textBegins && shortened.textBegins)
        return;
    words.resize(end.words);
    rest = shortened;
}

// «عن رجل من أهل مصر عن سرق»: a man described, not named, like «عمن
// حدثه»; «عن غير واحد عن أنس»: neither word, nor what follows its «و», is
// one the text writes as a name, and the chain goes on past the men it does
// not name.
bool namesMenNotNamed(const QStringList& words, const PageNames& names, QStringView nextLink, const Piece& rest)
{
    if (!words.isEmpty() && isUnnamedMan(fold(words.first())) && !words.contains(QStringLiteral(u"يقال")))
        return true;
    const auto named = [&](const QString& w) {
        return names.opensName(w) || (w.startsWith(u'\u0648') && w.size() > 2 && names.opensName(w.mid(1)));
    };
    return words.size() == 2 && words[1].startsWith(u'\u0648') && std::none_of(words.cbegin(), words.cend(), named)
        && !nextLink.isEmpty() && !rest.textBegins && !rest.tahwil && !rest.joint;
}

// The narrators `words` name at one place: "يحيى بن سعيد ومحمد بن جعفر"
// are two. `tooLong`: some words are too many for any one name.
Link namesOf(QStringList words, bool afterVerb, const PageNames& names, bool& tooLong)
{
    Link place;
    QStringList name;
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
        // «حدثنا فلان ثنا أبي ومحمد بن بشر»: my father, whom no name follows.
        const bool myFather = afterVerb && place.isEmpty() && name.size() == 1 && fold(name.first()) == u"ابي";
        const bool second = !name.isEmpty() && (!continuesName(name.last()) || continuesName(word.mid(1)) || myFather);
        // «عن عمه واسع بن حبان»: after a kin word, his name, where the text
        // names the whole word and not what follows its «و».
        if (second && word.startsWith(u'\u0648') && word.size() > 2 && !namedAfterKunya
            && !(isKinWord(name.last()) && names.ownWaw(word))) {
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
    return place;
}

} // namespace

Piece readPiece(QString piece, QStringView nextLink, bool beforeOpener, bool afterVerb, const PageNames& names)
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
    NameEnd end;
    QStringList words = nameWords(t, i, &commas, names, &end);
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
    if (namesMenNotNamed(words, names, nextLink, rest)) {
        out.unnamed = true;
        return out;
    }
    shortenToNames(t, words, end, nextLink, rest);
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
    bool tooLong = false;
    const Link place = namesOf(words, afterVerb, names, tooLong);
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

} // namespace quorvel::Isnad::detail
