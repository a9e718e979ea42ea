#include "scholar/Morph.h"

#include "core/Py.h"

#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel::Morph {

namespace {

// Affixes must leave at least this much of the word.
constexpr std::size_t kMinRest = 3;
// ب, ك and ل open many stems, so they are taken only from longer words.
constexpr std::size_t kMinRestAfterAmbiguous = 4;
// Shorter stems are their own root, and no root is made shorter.
constexpr std::size_t kRootLength = 3;
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

// The word's letters with harakat, tatweel, superscript alef and the bare
// hamza dropped and the hamza seats folded onto their carriers; ى and ة stay.
std::u32string normalizedLetters(const QString& word)
{
    std::u32string out;
    for (char32_t c : Py::scalars(word)) {
        if ((c >= 0x064B && c <= 0x0652) || c == 0x0621 || c == 0x0640 || c == 0x0670)
            continue;
        switch (c) {
        case 0x0623:
        case 0x0625:
        case 0x0622:
            out.push_back(0x0627);
            break;
        case 0x0624:
            out.push_back(0x0648);
            break;
        case 0x0626:
            out.push_back(0x064A);
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

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

MorphResult analyze(const QString& word)
{
    const Tables& t = tables();
    MorphResult r;
    r.word = word;
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
    auto [end, stem] = stripSuffix(rest);
    if (front.empty())
        std::tie(front, stem) = stripClitic(stem);

    if (!front.empty())
        r.prefix.append({Py::string(front), glossOf(t.prefGloss, front, kOtherPrefix)});
    if (!end.empty())
        r.suffix.append({Py::string(end), glossOf(t.suffGloss, end, kOtherSuffix)});

    if (t.present.contains(w.front()) && front.empty() && w.size() >= kMinPresent)
        r.pos = QString::fromUtf16(kPosPresent);
    else if (w.size() >= kMinPast && w.back() == U'ت' && front.empty())
        r.pos = QString::fromUtf16(kPosPast);
    else if (t.definite.contains(front))
        r.pos = QString::fromUtf16(kPosDefinite);
    else if (t.plural.contains(end))
        r.pos = QString::fromUtf16(kPosPlural);
    else
        r.pos = QString::fromUtf16(kPosNoun);

    r.stem = Py::string(stem);
    r.root = Py::string(lightRoot(stem));
    return r;
}

} // namespace quorvel::Morph
