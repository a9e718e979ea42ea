#include "scholar/Morph.h"

#include "core/Arabic.h"
#include "core/Py.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel::Morph {

namespace {

// Affixes must leave at least this much of the word.
constexpr std::size_t kMinRest = 3;

struct Tables
{
    using Gloss = std::unordered_map<std::u32string, QString>;
    using Letters = std::unordered_set<char32_t>;
    using Forms = std::unordered_set<std::u32string>;

    // The three affix lists are tried in this order; the first fit wins.
    std::vector<std::u32string> def{U"وبال", U"فبال", U"وكال", U"بال", U"كال",
                                    U"فال",  U"وال",  U"لل",   U"ال"};
    std::vector<std::u32string> clit{U"است", U"وسي", U"فسي", U"سي", U"سن", U"ست",
                                     U"و",   U"ف",   U"ب",   U"ك",  U"ل"};
    std::vector<std::u32string> suff{
        U"كموها", U"تموها", U"كموه", U"ناها", U"تموه", U"وننا", U"ونها", U"كما", U"هما",
        U"تما",   U"نني",   U"وني",  U"ات",   U"ون",   U"ين",   U"ان",   U"تن",  U"كم",
        U"هم",    U"هن",    U"نا",   U"ها",   U"تم",   U"ية",   U"ته",   U"ني",  U"ه",
        U"ك",     U"ي",     U"ت",    U"ا",    U"ن",    U"ة",    U"و"};

    Gloss prefGloss{
        {U"و", QStringLiteral(u"واو العطف")},
        {U"ف", QStringLiteral(u"فاء")},
        {U"ب", QStringLiteral(u"باء الجرّ")},
        {U"ك", QStringLiteral(u"كاف التشبيه")},
        {U"ل", QStringLiteral(u"لام")},
        {U"ال", QStringLiteral(u"أداة التعريف")},
        {U"لل", QStringLiteral(u"اللام + التعريف")},
        {U"بال", QStringLiteral(u"الجرّ + التعريف")},
        {U"وال", QStringLiteral(u"العطف + التعريف")},
        {U"كال", QStringLiteral(u"التشبيه + التعريف")},
        {U"فال", QStringLiteral(u"الفاء + التعريف")},
        {U"وبال", QStringLiteral(u"العطف + الجرّ + التعريف")},
        {U"فبال", QStringLiteral(u"الفاء + الجرّ + التعريف")},
        {U"وكال", QStringLiteral(u"العطف + التشبيه + التعريف")},
        {U"است", QStringLiteral(u"سين الاستفعال")},
        {U"سي", QStringLiteral(u"سين الاستقبال")},
        {U"سن", QStringLiteral(u"سين الاستقبال")},
        {U"ست", QStringLiteral(u"سين الاستقبال")},
    };
    Gloss suffGloss{
        {U"ه", QStringLiteral(u"ضمير الغائب")},
        {U"ها", QStringLiteral(u"ضمير الغائبة")},
        {U"هم", QStringLiteral(u"ضمير الجمع")},
        {U"هن", QStringLiteral(u"ضمير جمع الإناث")},
        {U"هما", QStringLiteral(u"ضمير المثنّى")},
        {U"كم", QStringLiteral(u"ضمير المخاطبين")},
        {U"ك", QStringLiteral(u"ضمير المخاطب")},
        {U"نا", QStringLiteral(u"ضمير المتكلّمين")},
        {U"ي", QStringLiteral(u"ياء المتكلّم")},
        {U"ني", QStringLiteral(u"نون الوقاية + المتكلّم")},
        {U"ون", QStringLiteral(u"جمع مذكّر سالم")},
        {U"ين", QStringLiteral(u"جمع/تثنية")},
        {U"ان", QStringLiteral(u"تثنية")},
        {U"ات", QStringLiteral(u"جمع مؤنّث سالم")},
        {U"ة", QStringLiteral(u"تاء التأنيث")},
        {U"ية", QStringLiteral(u"ياء النسب + التأنيث")},
        {U"ت", QStringLiteral(u"تاء")},
        {U"ن", QStringLiteral(u"نون")},
    };

    Letters weak{U'ا', U'و', U'ي'};
    Letters augment{U'ا', U'أ', U'إ', U'آ', U'و', U'ي', U'ن', U'ت', U'م', U'س', U'ل', U'ه'};
    Forms ambig{U"ب", U"ك", U"ل"};
    Forms allah{U"الله", U"اللهم", U"لله", U"والله", U"بالله"};
    // Front affixes that mark a definite noun; فبال and وكال are left out.
    Forms definite{U"ال", U"بال", U"وال", U"لل", U"كال", U"فال", U"وبال"};
    Forms plural{U"ون", U"ين", U"ات", U"ان"};
    // First letters of a present-tense verb.
    Letters present{U'ن', U'ي', U'ت'};
    // Verbal-noun and plural patterns whose root letters stand at fixed
    // places: ف, ع and ل mark them, every other letter is the pattern's own.
    // Longer patterns first.
    std::vector<std::u32string> patterns{U"استفعال", U"افتعال", U"انفعال", U"مستفعل", U"افعال", U"تفعيل"};
    // Roots beginning with hamza whose إفعال is written إيفال, like those
    // beginning with و (إيمان against إيجاب).
    Forms hamzaFirstIfal{U"امن", U"الف", U"اذن", U"اثر", U"اجر"};
};

const Tables& tables()
{
    static const Tables built;
    return built;
}

QString glossOf(const Tables::Gloss& glosses, const std::u32string& affix, const char16_t* other)
{
    const auto it = glosses.find(affix);
    return it != glosses.end() ? it->second : QString::fromUtf16(other);
}

// The word's letters with every mark and the bare hamza dropped, the hamza
// seats folded onto their carriers and the alef of liaison a plain alef;
// ى and ة stay.
std::u32string normalizedLetters(const QString& word)
{
    std::u32string out;
    for (char32_t c : Py::scalars(word)) {
        if (notALetter(c) || c == 0x0621)
            continue;
        const char16_t carrier = Arabic::hamzaCarrier(c);
        out.push_back(carrier ? carrier : c == Arabic::alefWasla ? U'ا' : c);
    }
    return out;
}

// A radical written on a hamza seat inside the stem, kept apart from the
// plain ا, و and ي until the root is written.
constexpr char32_t kHamzaRadical = U'\u0621';

// The word's letters as `normalizedLetters` gives them, one for one, with
// each hamza seat (أ إ آ ؤ ئ) written as kHamzaRadical.
std::u32string radicalLetters(const QString& word)
{
    std::u32string out;
    for (char32_t c : Py::scalars(word)) {
        if (notALetter(c) || c == 0x0621)
            continue;
        out.push_back(Arabic::hamzaCarrier(c) ? kHamzaRadical : c == Arabic::alefWasla ? U'ا' : c);
    }
    return out;
}

// The root letters of `stem` when it has the shape of a known pattern.
std::optional<std::u32string> patternRoot(const std::u32string& stem)
{
    const Tables& t = tables();
    // إيفال: the ي after the إ of إفعال is the first root letter, a و or
    // a hamza.
    if (stem.size() == 5 && stem[0] == U'ا' && stem[1] == U'ي' && stem[3] == U'ا') {
        const std::u32string hamza{U'ا', stem[2], stem[4]};
        return t.hamzaFirstIfal.contains(hamza) ? hamza : std::u32string{U'و', stem[2], stem[4]};
    }
    for (const auto& pattern : t.patterns) {
        if (pattern.size() != stem.size())
            continue;
        std::u32string root;
        bool fits = true;
        for (std::size_t i = 0; i < pattern.size() && fits; ++i) {
            if (pattern[i] == U'ف' || pattern[i] == U'ع' || pattern[i] == U'ل')
                root.push_back(stem[i]);
            else
                fits = pattern[i] == stem[i];
        }
        if (!fits)
            continue;
        // The ي of مستفيل stands for a weak و (مستقيم: قوم).
        if (pattern == U"مستفعل" && root[1] == U'ي')
            root[1] = U'و';
        return root;
    }
    return std::nullopt;
}

// A three-letter root as the dictionaries write it: a plain ا inside it
// stands for a weak و (قال: قول, صلاة: صلو), a final ى for ي, and a hamza
// seat for the hamza (ا).
std::u32string writtenRoot(std::u32string root)
{
    if (root.size() == 3) {
        if (root[1] == U'ا')
            root[1] = U'و';
        if (root[2] == U'ا')
            root[2] = U'و';
        else if (root[2] == U'ى')
            root[2] = U'ي';
    }
    for (char32_t& c : root)
        if (c == kHamzaRadical)
            c = U'ا';
    return root;
}

// The root of a stem whose hamza seats are marked: a known pattern gives it
// at once; otherwise the augment letters go. A hamza radical after the
// pattern's own alef (أئمّة) leaves two letters, the last doubled.
std::u32string rootOf(std::u32string stem)
{
    // A hamza that opens the stem is read as the plain alef: it may be the
    // pattern's own (أكرم, إسلام).
    if (!stem.empty() && stem[0] == kHamzaRadical)
        stem[0] = U'ا';
    if (const auto root = patternRoot(stem))
        return writtenRoot(*root);
    if (stem.size() == 3 && stem[0] == U'ا' && stem[1] == kHamzaRadical)
        return writtenRoot({kHamzaRadical, stem[2], stem[2]});
    return writtenRoot(lightRoot(stem));
}

// Whether `stem` holds the root's letters in their order, the weak letters
// and the hamza aside, which a pattern may drop or change.
bool holdsRoot(const std::u32string& stem, const std::u32string& root)
{
    std::size_t at = 0;
    for (const char32_t c : root) {
        if (c == U'ا' || c == U'و' || c == U'ي')
            continue;
        at = stem.find(c, at);
        if (at == std::u32string::npos)
            return false;
        ++at;
    }
    return true;
}

// Whether none of `letters` is one of the root's. A weak letter stands for
// the root's weak one, which a form may write otherwise (يصلي: صلو).
bool noneOf(const std::u32string& letters, const std::u32string& root)
{
    const Tables::Letters& weak = tables().weak;
    const bool weakRoot = std::any_of(root.begin(), root.end(), [&weak](char32_t c) { return weak.contains(c); });
    return std::none_of(letters.begin(), letters.end(), [&](char32_t c) {
        return root.find(c) != std::u32string::npos || (weakRoot && (weak.contains(c) || c == U'ى'));
    });
}

// A root read by a pattern comes from its own cut of the word. Where the
// stripping rules leave a stem without the root's letters (الماء: الم and
// ا, root موه) or take one of them (والد: و), the word is cut as read.
void cutAsRead(const Reading& read, const std::u32string& w, std::u32string& front, std::u32string& end,
               std::u32string& stem)
{
    const std::u32string root = Py::scalars(read.root);
    const std::u32string readFront = Py::scalars(read.front);
    const std::u32string readBack = Py::scalars(read.back);
    const std::u32string moreFront = Py::hasPrefix(front, readFront) ? front.substr(readFront.size()) : front;
    const std::u32string moreBack = Py::hasSuffix(end, readBack) ? end.substr(0, end.size() - readBack.size()) : end;
    if ((!holdsRoot(stem, root) || !noneOf(moreFront, root) || !noneOf(moreBack, root))
        && readFront.size() + readBack.size() < w.size()) {
        front = readFront;
        end = readBack;
        stem = w.substr(front.size(), w.size() - front.size() - end.size());
    }
}

// The plural's و written as the seat of the root's hamza before its ن
// (يوضؤن, يقرؤن): the ending is ون, though the reading keeps the seat as
// the hamza's in its stem.
void seatOfThePlural(const QString& word, std::u32string& end, std::u32string& stem)
{
    if (end != U"ن" || stem.size() < 3 || stem.back() != U'و')
        return;
    const std::u32string radicals = radicalLetters(word);
    const std::size_t seat = radicals.size() - end.size() - 1;
    if (radicals.size() > end.size() && radicals[seat] == kHamzaRadical) {
        end = U"ون";
        stem.pop_back();
    }
}

} // namespace

bool notALetter(char32_t c)
{
    return c == 0x0640 || (c <= 0xFFFF && Arabic::isMark(char16_t(c)));
}

std::u32string hamzaMarksAsLetters(std::u32string w)
{
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] != 0x0654 && w[i] != 0x0655)
            continue;
        std::size_t base = i;
        while (base > 0 && w[base - 1] != 0x0640 && notALetter(w[base - 1]))
            --base;
        if (base == 0)
            continue; // a mark on nothing: dropped with the others
        char32_t& seat = w[base - 1];
        const bool below = w[i] == 0x0655;
        if (seat == U'ا')
            seat = below ? U'إ' : U'أ';
        else if (seat == U'و')
            seat = U'ؤ';
        else if (seat == U'ي' || seat == U'ى')
            seat = U'ئ';
        else if (seat == 0x0640)
            seat = U'ء';
        else
            continue; // a consonant or a seat already written: nothing to add
        w.erase(i, 1);
        --i;
    }
    return w;
}

Split stripDef(const std::u32string& w)
{
    for (const auto& form : tables().def) {
        if (Py::hasPrefix(w, form) && w.size() - form.size() >= kMinRest)
            return {form, w.substr(form.size())};
    }
    return {{}, w};
}

Split stripClitic(const std::u32string& w)
{
    // ب, ك and ل open many stems, so they are taken only from longer words.
    constexpr std::size_t kMinRestAfterAmbiguous = 4;
    const Tables& t = tables();
    for (const auto& clitic : t.clit) {
        const std::size_t need = t.ambig.contains(clitic) ? kMinRestAfterAmbiguous : kMinRest;
        if (Py::hasPrefix(w, clitic) && w.size() - clitic.size() >= need)
            return {clitic, w.substr(clitic.size())};
    }
    return {{}, w};
}

Split stripSuffix(const std::u32string& w)
{
    for (const auto& suffix : tables().suff) {
        if (Py::hasSuffix(w, suffix) && w.size() - suffix.size() >= kMinRest)
            return {suffix, w.substr(0, w.size() - suffix.size())};
    }
    return {{}, w};
}

std::u32string lightRoot(const std::u32string& stem)
{
    // Shorter stems are their own root, and no root is made shorter.
    constexpr std::size_t kRootLength = 3;
    const Tables& t = tables();
    std::u32string root = stem;
    if (root.size() <= kRootLength)
        return root;
    for (;;) {
        // One pass removes at most one letter: a leading augment letter, else
        // the first weak letter, else the last augment letter.
        std::optional<std::size_t> remove;
        std::optional<std::size_t> lastAugment;
        for (std::size_t i = 0; i < root.size() && !remove; ++i) {
            if (!t.augment.contains(root[i]))
                continue;
            if (i == 0 || t.weak.contains(root[i]))
                remove = i;
            else
                lastAugment = i;
        }
        if (!remove)
            remove = lastAugment;
        if (!remove)
            return root;
        root.erase(*remove, 1);
        if (root.size() <= kRootLength)
            return root;
    }
}

namespace {

// A normalised word shorter than this is not analysed.
constexpr std::size_t kMinWord = 2;
// Shortest words read as present or past tense verbs.
constexpr std::size_t kMinPresent = 3;
constexpr std::size_t kMinPast = 4;

// Part-of-speech guesses.
constexpr char16_t kPosNone[] = u"—";
constexpr char16_t kPosAllah[] = u"لفظ الجلالة";
constexpr char16_t kPosPresent[] = u"فعل (مضارع؟)";
constexpr char16_t kPosPast[] = u"فعل (ماضٍ؟)";
constexpr char16_t kPosDefinite[] = u"اسم (معرّف)";
constexpr char16_t kPosPlural[] = u"اسم (جمع/تثنية)";
constexpr char16_t kPosNoun[] = u"اسم";

// Glosses of affixes missing from the gloss tables.
constexpr char16_t kOtherPrefix[] = u"سابقة";
constexpr char16_t kOtherSuffix[] = u"لاحقة";

// The root of every form of the name of God.
constexpr char16_t kAllahRoot[] = u"اله";

} // namespace

MorphResult analyze(const QString& original)
{
    const Tables& t = tables();
    MorphResult r;
    r.word = original;
    const QString word = Py::string(hamzaMarksAsLetters(Py::scalars(original)));
    const std::u32string w = normalizedLetters(Py::strip(word));
    r.norm = Py::string(w);

    if (w.size() < kMinWord) {
        r.stem = r.root = r.norm;
        r.pos = QString::fromUtf16(kPosNone);
        return r;
    }
    if (t.allah.contains(w)) {
        r.stem = r.norm;
        r.root = QString::fromUtf16(kAllahRoot);
        r.pos = QString::fromUtf16(kPosAllah);
        return r;
    }

    // The proclitic test runs on the word without its suffix, and only when
    // no article form was found: one front affix at most.
    auto [front, rest] = stripDef(w);
    std::u32string end;
    std::u32string stem;
    // A word that is a known pattern whole keeps its last letters: the ان
    // of إيمان is no dual ending.
    if (patternRoot(rest)) {
        stem = rest;
    } else if (const Split clitic = stripClitic(rest); front.empty() && !clitic.first.empty()
               && patternRoot(clitic.second)) {
        std::tie(front, stem) = clitic;
    } else if (const auto fit = std::find_if(t.suff.cbegin(), t.suff.cend(),
                                             [&rest](const std::u32string& suffix) {
                                                 return Py::hasSuffix(rest, suffix)
                                                     && patternRoot(rest.substr(0, rest.size() - suffix.size()));
                                             });
               fit != t.suff.cend()) {
        // The suffix that leaves a known pattern (إيمانا: ا, not نا).
        end = *fit;
        stem = rest.substr(0, rest.size() - fit->size());
    } else {
        std::tie(end, stem) = stripSuffix(rest);
        if (front.empty())
            std::tie(front, stem) = stripClitic(stem);
    }

    const std::optional<Reading> read = reading(Py::strip(word));
    if (read) {
        cutAsRead(*read, w, front, end, stem);
        seatOfThePlural(Py::strip(word), end, stem);
    }

    if (!front.empty())
        r.prefix.append({Py::string(front), glossOf(t.prefGloss, front, kOtherPrefix)});
    if (!end.empty())
        r.suffix.append({Py::string(end), glossOf(t.suffGloss, end, kOtherSuffix)});

    // Where a pattern reads the word, its reading says whether it is a verb;
    // the guesses from its first and last letters stand only where none does.
    if (read && read->verb)
        r.pos = QString::fromUtf16(read->present ? kPosPresent : kPosPast);
    else if (!read && t.present.contains(w.front()) && front.empty() && w.size() >= kMinPresent)
        r.pos = QString::fromUtf16(kPosPresent);
    else if (!read && w.size() >= kMinPast && w.back() == U'ت' && front.empty())
        r.pos = QString::fromUtf16(kPosPast);
    else if (t.definite.contains(front))
        r.pos = QString::fromUtf16(kPosDefinite);
    else if (t.plural.contains(end))
        r.pos = QString::fromUtf16(kPosPlural);
    else
        r.pos = QString::fromUtf16(kPosNoun);

    r.stem = Py::string(stem);
    if (read) {
        r.root = read->root;
        return r;
    }
    // The stem is a run of the word: the same run of its letters with the
    // hamza seats kept apart.
    const std::u32string radicals = radicalLetters(Py::strip(word));
    const std::size_t at = front.size();
    r.root = radicals.size() == w.size() ? Py::string(rootOf(radicals.substr(at, stem.size())))
                                         : Py::string(lightRoot(stem));
    return r;
}

} // namespace quorvel::Morph
