#include "core/ArabicPlain.h"

#include "core/Arabic.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QStringTokenizer>

#include <algorithm>
#include <optional>

namespace quorvel::Arabic {

namespace {

constexpr char16_t kTatweel = 0x0640;
constexpr char16_t kFatha = 0x064E;
constexpr char16_t kDamma = 0x064F;
constexpr char16_t kKasra = 0x0650;
constexpr char16_t kSukun = 0x0652;
constexpr char16_t kMadda = 0x0653;
constexpr char16_t kHamzaAbove = 0x0654;
constexpr char16_t kSuperscriptAlef = 0x0670;
constexpr char16_t kWasla = 0x0671;
constexpr char16_t kSmallWaw = 0x06E5;
constexpr char16_t kSmallYeh = 0x06E6;
constexpr char16_t kSmallHighYeh = 0x06E7;
constexpr char16_t kRoundedZero = 0x06DF;
constexpr char16_t kHamza = 0x0621;
constexpr char16_t kAlef = 0x0627;
constexpr char16_t kAlefMadda = 0x0622;
constexpr char16_t kAlefHamza = 0x0623;
constexpr char16_t kAlefHamzaBelow = 0x0625;
constexpr char16_t kWawHamza = 0x0624;
constexpr char16_t kYehHamza = 0x0626;
constexpr char16_t kWaw = 0x0648;
constexpr char16_t kAlefMaqsura = 0x0649;
constexpr char16_t kYeh = 0x064A;
constexpr char16_t kHeh = 0x0647;

// The words whose plain spelling leaves the superscript alef unwritten too,
// as letters with the alef marked «~» (alef forms folded): هٰذا، هٰؤلاء،
// ذٰلك، لٰكن، إلٰه، اللّٰهم، الرحمٰن، أولٰئك.
const QStringList& unwritten()
{
    static const QStringList stems = {QStringLiteral(u"ه~ذ"), QStringLiteral(u"ه~ؤلا"), QStringLiteral(u"ذ~لك"), QStringLiteral(u"ل~كن"), QStringLiteral(u"ال~ه"), QStringLiteral(u"الل~ه"), QStringLiteral(u"الرحم~ن"), QStringLiteral(u"اول~ئك")};
    return stems;
}

bool isLetter(char16_t u)
{
    return !isMark(u) && u != kTatweel;
}

// The ordinals of the word's superscript alefs that stay marks.
QSet<int> keptAlefs(const QString& word)
{
    QString skeleton;
    QList<int> ordinal; // per skeleton unit: the alef's ordinal, or -1
    int alefs = 0;
    for (const QChar c : word) {
        const char16_t u = c.unicode();
        if (u == kSuperscriptAlef) {
            skeleton.append(u'~');
            ordinal.append(alefs++);
        } else if (isLetter(u)) {
            skeleton.append(u == alefWasla || isHamzaAlef(u) ? QChar(kAlef) : c);
            ordinal.append(-1);
        }
    }
    QSet<int> kept;
    for (const QString& stem : unwritten())
        for (qsizetype at = skeleton.indexOf(stem); at >= 0; at = skeleton.indexOf(stem, at + 1))
            kept.insert(ordinal[at + stem.indexOf(u'~')]);
    return kept;
}

// The seat of a hamza written as a mark on a tatweel, by its vowel and the
// letter before it; an alif after it is taken into the seat (مآب، الآخرة).
QString hamzaSeat(char16_t vowel, std::optional<char16_t> before, bool alefAfter)
{
    if (!before)
        return QString(QChar(vowel == kKasra ? kAlefHamzaBelow : alefAfter ? kAlefMadda : kAlefHamza));
    if (vowel == kDamma)
        return QString(QChar(kWawHamza));
    if (vowel == kKasra || *before == kYeh || *before == kAlefMaqsura)
        return QString(QChar(kYehHamza));
    if (alefAfter)
        return QString(QChar(kAlefMadda));
    return QString(QChar(kAlefHamza));
}

// Writes what a tatweel carries (a hamza by its seat, a small yeh as a yeh)
// and returns the index of the last character it took.
qsizetype writeOnTatweel(const QString& word, qsizetype i, QString& out, std::optional<char16_t>& before,
                         qsizetype& beforeAt)
{
    const qsizetype n = word.size();
    const char16_t next = i + 1 < n ? word[i + 1].unicode() : 0;
    // The marks on the tatweel, and whether they hold a hamza.
    qsizetype end = i + 1;
    char16_t vowel = 0;
    bool hamza = false;
    while (end < n && isMark(word[end].unicode())) {
        const char16_t m = word[end].unicode();
        hamza = hamza || m == kHamzaAbove;
        if (!vowel && (m == kFatha || m == kDamma || m == kKasra || (m >= 0x064B && m <= 0x064D)))
            vowel = m;
        ++end;
    }
    if (hamza) {
        const bool alefAfter = end < n && word[end].unicode() == kAlef && (vowel == kFatha || vowel == 0);
        const QString seat = hamzaSeat(vowel, before, alefAfter);
        out += seat;
        if (vowel)
            out += QChar(vowel);
        before = seat[0].unicode();
        beforeAt = out.size() - 1 - (vowel ? 1 : 0);
        return (seat[0].unicode() == kAlefMadda && alefAfter) ? end : end - 1;
    }
    if (next == kSmallHighYeh) {
        out += QChar(kYeh);
        before = kYeh;
        return i + 1;
    }
    return i;
}

bool isShortVowel(char16_t u)
{
    return u == kFatha || u == kDamma || u == kKasra;
}

// The seat a hamza written on the line inside a word takes after a letter
// read with a short vowel or none: by the stronger of its own vowel and the
// letter's (kasra, then damma, then fatha), as أرأيتم، يستهزئون، أئذا. After
// a long vowel the line is its seat in the plain spelling too (جاءهم).
std::optional<char16_t> lineHamzaSeat(const QString& out, qsizetype beforeAt, char16_t own)
{
    if (beforeAt < 0)
        return std::nullopt;
    const char16_t letter = out[beforeAt].unicode();
    char16_t vowel = 0;
    for (qsizetype k = beforeAt + 1; k < out.size(); ++k)
        if (isShortVowel(out[k].unicode()) || out[k].unicode() == kSukun)
            vowel = out[k].unicode();
    const bool longVowel = letter == kAlef || letter == kAlefMadda || ((letter == kWaw || letter == kYeh || letter == kAlefMaqsura) && !vowel);
    if (longVowel || !vowel || (vowel == kSukun && !isShortVowel(own)))
        return std::nullopt;
    if (vowel == kKasra || own == kKasra)
        return kYehHamza;
    if (vowel == kDamma || own == kDamma)
        return kWawHamza;
    return kAlefHamza;
}

// A superscript alef at word[i] (`kept`: one the plain spelling keeps too).
// Returns whether it turned the waw before it into the alif it stands for.
bool writeSuperscriptAlef(const QString& word, qsizetype i, bool kept, QString& out, std::optional<char16_t>& before,
                          qsizetype beforeAt)
{
    if (kept) {
        out += QChar(kSuperscriptAlef);
    } else if (before == kWaw && beforeAt == out.size() - 1) {
        // صلوٰة: the waw stands for the alif.
        out[beforeAt] = QChar(kAlef);
        return true;
    } else if (before == kAlefMaqsura) {
        // At the end of a word the yeh-shaped alif stays (على);
        // before a suffix it is written as alif (ءاتىٰهم).
        const bool suffix = std::any_of(word.begin() + i + 1, word.end(), [](QChar c) { return isLetter(c.unicode()); });
        if (suffix)
            out[beforeAt] = QChar(kAlef);
    } else {
        out += QChar(kAlef);
    }
    return false;
}

// A hamza on the line with a fatha and an alif after it, at word[i]: the
// alif with madda, or a verb's last ā written ى. Where the read goes on from,
// or nothing when word[i] is no such hamza. Only as the mushaf writes it,
// vowelled: a book's unvowelled جزءا stays.
std::optional<qsizetype> writeHamzaAlef(const QString& word, qsizetype i, QString& out,
                                        std::optional<char16_t>& before, qsizetype& beforeAt)
{
    const qsizetype alefAt = i + 2;
    if (word[i].unicode() != kHamza || alefAt >= word.size() || word[i + 1].unicode() != kFatha
        || word[alefAt].unicode() != kAlef)
        return std::nullopt;
    if (before && std::none_of(word.begin() + alefAt + 1, word.end(), [](QChar c) { return isLetter(c.unicode()); })) {
        // A verb's last ā after a hamza is written ى (رءا: رأى، تراءى).
        out += QChar(lineHamzaSeat(out, beforeAt, kFatha).value_or(kHamza));
        out += QChar(kFatha);
        out += QChar(kAlefMaqsura);
        before = kAlefMaqsura;
        beforeAt = out.size() - 1;
        return alefAt;
    }
    // ءا is the alif with madda (ءامنوا، القرءان).
    out += QChar(kAlefMadda);
    before = kAlefMadda;
    beforeAt = out.size() - 1;
    return i + 2;
}

// One word of Uthmani script in the plain spelling; a vocative «يا»/«ها»
// written joined to the next word comes back as its own word.
QString plainWord(const QString& word)
{
    const QSet<int> kept = keptAlefs(word);
    QString out;
    std::optional<char16_t> before; // the last letter written
    qsizetype beforeAt = -1;        // where it was written
    int alefs = 0;
    bool wawTurned = false;         // a waw written as the alif it stands for
    const qsizetype n = word.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = word[i].unicode();
        const char16_t next = i + 1 < n ? word[i + 1].unicode() : 0;
        if (u == kTatweel) {
            i = writeOnTatweel(word, i, out, before, beforeAt);
            continue;
        }
        if (u == kSuperscriptAlef) {
            wawTurned = writeSuperscriptAlef(word, i, kept.contains(alefs++), out, before, beforeAt) || wawTurned;
            continue;
        }
        if (u == kMadda || u == kSmallWaw || (u >= 0x06D6 && u <= 0x06ED && u != kSmallYeh && u != kSmallHighYeh))
            continue;
        if (u == kSmallYeh || u == kSmallHighYeh) {
            // The lengthened vowel of a pronoun's ه is recited, not written.
            if (before && *before != kHeh) {
                out += QChar(kYeh);
                before = kYeh;
                beforeAt = out.size() - 1;
            }
            continue;
        }
        if (const std::optional<qsizetype> past = writeHamzaAlef(word, i, out, before, beforeAt)) {
            i = *past;
            continue;
        }
        if (u == kHamzaAbove && before && beforeAt >= 0) {
            // A hamza written as a mark over a letter sits on it: the seat
            // the normal form composes (ؤ → ؤ), else, as on the dotless yeh
            // Unicode leaves apart, the yeh seat (ىٔ → ئ).
            const char16_t composed = composeSeat(*before, u);
            const char16_t seat = composed ? composed : kYehHamza;
            out[beforeAt] = QChar(seat);
            before = seat;
            continue;
        }
        if (isMark(u)) {
            out += QChar(u);
            continue;
        }
        if (u == kAlef && wawTurned && next == kRoundedZero) {
            // The silent alif after صلوٰة's kind of waw (الربوٰا).
            wawTurned = false;
            continue;
        }
        char16_t letter = u == kWasla ? kAlef : u;
        if (u == kHamza && !before)
            letter = next == kKasra ? kAlefHamzaBelow : kAlefHamza;
        const bool medial = std::any_of(word.begin() + i + 1, word.end(), [](QChar c) { return isLetter(c.unicode()); });
        if (u == kHamza && before && medial)
            letter = lineHamzaSeat(out, beforeAt, next).value_or(letter);
        // The dotless yeh that is a consonant or follows a kasra is a yeh in
        // the plain spelling (الحيّ، في); the alif-shaped one stays (على، هدى).
        if (u == kAlefMaqsura && ((next >= kFatha && next <= kSukun) || (!out.isEmpty() && out.back().unicode() == kKasra)))
            letter = kYeh;
        out += QChar(letter);
        before = letter;
        beforeAt = out.size() - 1;
        wawTurned = false;
    }
    return out;
}

// Where a vocative «يا» or «ها» is written joined to the word after it: the
// length of the vocative in the word, or 0.
qsizetype vocativeLength(const QString& word, qsizetype from = 0)
{
    if (word.size() < from + 4 || (word[from].unicode() != kYeh && word[from].unicode() != kHeh) ||
        word[from + 1].unicode() != kFatha)
        return 0;
    qsizetype i = from + 2;
    if (word[i].unicode() == kTatweel)
        ++i;
    if (i >= word.size() || word[i].unicode() != kSuperscriptAlef)
        return 0;
    ++i;
    if (i < word.size() && word[i].unicode() == kMadda)
        ++i;
    qsizetype letters = 0;
    for (qsizetype j = i; j < word.size(); ++j)
        letters += isLetter(word[j].unicode()) ? 1 : 0;
    // يٰس is a word of two letters; هٰؤلاء and هٰذا keep their ه.
    if (letters < 2)
        return 0;
    if (word[from].unicode() == kHeh && (i >= word.size() || word[i].unicode() != kAlefHamza))
        return 0;
    return i;
}

// The length of a conjunction «و» or «ف» with its fatha that opens a joined
// vocative (ويا قوم), or 0.
qsizetype conjunctionLength(const QString& word)
{
    const bool conjunction = word.size() > 2 && (word[0].unicode() == kWaw || word[0].unicode() == 0x0641) &&
                             word[1].unicode() == kFatha;
    return conjunction && vocativeLength(word, 2) > 0 ? 2 : 0;
}

} // namespace

QString plainSpelling(const QString& uthmani)
{
    QStringList words;
    for (const QString& word : uthmani.split(u' ', Qt::SkipEmptyParts)) {
        const qsizetype conjunction = conjunctionLength(word);
        const qsizetype vocative = vocativeLength(word, conjunction);
        if (vocative > 0) {
            words << word.left(conjunction) + QString(word[conjunction]) + QChar(kFatha) + QChar(kAlef);
            const QString rest = word.mid(vocative);
            // يٰـَٔادم: the hamza opens the word after the vocative.
            words << plainWord(rest);
            continue;
        }
        const QString written = plainWord(word);
        if (std::any_of(written.begin(), written.end(), [](QChar c) { return isLetter(c.unicode()); }))
            words << written;
    }
    return words.join(u' ');
}

bool mushafSpelling(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == kWasla || u == kSuperscriptAlef || markGroup(u) == MarkGroup::Quranic)
            return true;
        // ءَا, the mushaf's آ.
        if (u == kHamza && i + 2 < text.size() && text[i + 1].unicode() == kFatha && text[i + 2].unicode() == kAlef)
            return true;
        if (u == kHamzaAbove) {
            // Back over the vowel marks to what carries the hamza.
            qsizetype k = i - 1;
            while (k >= 0 && markGroup(text[k].unicode()) == MarkGroup::Harakat)
                --k;
            if (k >= 0 && text[k].unicode() == kTatweel)
                return true;
        }
    }
    return false;
}

namespace {

// A unit of an Arabic word as the plain spelling reads it: a letter, a mark
// or a tatweel (digits and punctuation stand between words).
bool wordUnit(char16_t u)
{
    return (u >= 0x0621 && u <= 0x065F) || (u >= kSuperscriptAlef && u <= 0x06D3) || (u >= 0x06D6 && u <= 0x06ED) ||
           (u >= 0x08D3 && u <= 0x08FF);
}

// Calls `word(start, end)` for each word of the lines of `text` in the
// mushaf's spelling and `other(start, end)` for what stands between them,
// then `lineEnd()` after each such line.
// The plain spelling of one line, word by word, what stands between the
// words kept.
QString plainLine(QStringView line)
{
    QString plain;
    for (qsizetype i = 0; i < line.size();) {
        const bool inWord = wordUnit(line[i].unicode());
        qsizetype j = i;
        while (j < line.size() && wordUnit(line[j].unicode()) == inWord)
            ++j;
        plain += inWord ? plainSpelling(line.mid(i, j - i).toString()) : line.mid(i, j - i).toString();
        i = j;
    }
    return plain;
}

// The plain spelling of a line in the mushaf's spelling, where it differs
// from the line in the normal form.
std::optional<QString> readOtherwise(QStringView line)
{
    if (!mushafSpelling(line))
        return std::nullopt;
    QString plain = plainLine(line);
    if (normalize(plain, true) == normalize(line.toString(), true))
        return std::nullopt;
    return plain;
}

// Calls `word(start, end)` for each word of the lines of `text` whose plain
// spelling differs from the mushaf's in the normal form, `other(start, end)`
// for what stands between them and `lineEnd(plain)` after each such line
// with its plain spelling.
template <typename Word, typename Other, typename LineEnd>
void mushafWords(const QString& text, Word word, Other other, LineEnd lineEnd)
{
    qsizetype lineStart = 0;
    while (lineStart <= text.size()) {
        qsizetype stop = text.indexOf(u'\n', lineStart);
        if (stop < 0)
            stop = text.size();
        const QStringView line = QStringView(text).mid(lineStart, stop - lineStart);
        if (const std::optional<QString> plain = readOtherwise(line)) {
            for (qsizetype i = lineStart; i < stop;) {
                const bool inWord = wordUnit(text[i].unicode());
                qsizetype j = i;
                while (j < stop && wordUnit(text[j].unicode()) == inWord)
                    ++j;
                inWord ? word(i, j) : other(i, j);
                i = j;
            }
            lineEnd(*plain);
        }
        lineStart = stop + 1;
    }
}

} // namespace

QString plainLines(const QString& text)
{
    if (!mushafSpelling(text))
        return {};
    QStringList plain;
    mushafWords(
        text, [](qsizetype, qsizetype) {}, [](qsizetype, qsizetype) {}, [&](const QString& line) { plain << line; });
    return plain.join(u'\n');
}

bool hasPlainLines(const QString& text)
{
    if (!mushafSpelling(text))
        return false;
    for (const QStringView line : QStringView(text).split(u'\n'))
        if (readOtherwise(line))
            return true;
    return false;
}

QString searchedText(const QString& text)
{
    const QString plain = plainLines(text);
    return plain.isEmpty() ? text : text + u'\n' + plain;
}

PlainWords plainWords(const QString& origin)
{
    PlainWords out;
    if (!mushafSpelling(origin))
        return out;
    const auto separate = [&](qsizetype at) {
        out.text += u' ';
        out.source.append({at, at});
    };
    mushafWords(
        origin,
        [&](qsizetype start, qsizetype end) {
            const QString written = plainSpelling(origin.mid(start, end - start));
            out.text += written;
            for (qsizetype k = 0; k < written.size(); ++k)
                out.source.append({start, end});
        },
        [&](qsizetype start, qsizetype) { separate(start); }, [&](const QString&) { separate(origin.size()); });
    return out;
}

} // namespace quorvel::Arabic
