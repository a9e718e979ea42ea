#include "scholar/Morph.h"
#include "scholar/MorphLetters.h"
#include "scholar/MorphPatterns.h"

#include "core/Arabic.h"
#include "core/Py.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel::Morph {

namespace {

// The weight of a root that the dictionary lists, against one it does not:
// more than any pattern or restoration costs, so a listed root always wins.
constexpr double kListed = 1.5;
// How much more a commoner listed root weighs, per power of ten of its
// uses in the sample texts: enough to choose between two listed roots that
// the rules find equally likely, too little to outweigh a rule.
constexpr double kPerUses = 0.07;

// What a word the dictionary files under a root by name gains over the
// readings of its letters by pattern, the cheapest of which costs nothing.
constexpr double kFiled = 0.3;

// What a hollow verb's past gains before a subject that opens with a
// consonant, where its long vowel falls: the fallen letter's cost and most
// of the suffix's, so that the root the books use more wins over reading
// the suffix as a root letter (قلت: قول, not قلت).
constexpr double kHollowBeforeSubject = 1.0;
// What it gains before the feminine ت, which a فاعل may end in too.
constexpr double kHollowFeminine = 0.1;

// A root's present tense shows its weak letter: at least this many uses,
// this many times its twin's, outweigh the rules' preference and the
// uses' weights; fewer where the word is surely a verb (ملت, تعالى) than
// for a فال, which may be a noun's (مال).
constexpr double kShownPresent = 10;
constexpr double kShownPresentOfVerb = 3;
// A bare فال is a verb's past when its root's present is used this often.
constexpr double kPastOfPresent = 15;
constexpr double kShownRatio = 5;
// What the present's evidence is worth: for the last letter it must
// outweigh a particle's bare uses counted for the ي twin (على for علي).
constexpr double kHollowShown = 0.2;
constexpr double kDefectiveShown = 0.3;

// What a hollow root's jussive costs, and gains where the books show its
// present (jussiveCost).
constexpr double kJussive = 0.3;
constexpr double kJussiveShown = 0.1;


// Fewer uses than this in the books, and a root's listing does not make a
// reading that changes the word's weak letter likelier.
constexpr double kRarelyUsed = 10;

// What a present with ت, ن or أ costs more where the books never use the
// root's present with ي.
constexpr double kUnusedPresent = 0.3;

// What the books show of a word's first و or ف weighs more than the
// dictionary's listing: a cut against it costs more than a listed root gains.
constexpr double kFirstLetterShown = kListed + 0.5;

// What a four-letter root the dictionary lists costs less as the word's
// bare letters: half the price of four letters, as much as a pattern of
// three with letters added.
constexpr double kListedFour = 0.6;

// What reading a last ا as the weak letter of an augmented form costs more.
constexpr double kAugmentedAlef = 0.4;

// What a و or ي written after form VIII's ت costs more (fit).
constexpr double kWeakAfterFormEightsT = 0.3;

// What dropping a weak last letter after a written hamza costs more.
constexpr double kDroppedAfterHamza = 0.1;

// What a noun of two letters and ة costs more read as a root whose weak
// last letter fell.
constexpr double kDroppedForTa = 0.3;

// What reading a bare ا after a conjunction as a hamza costs more.
constexpr double kUnwrittenHamza = 0.3;

// How much cheaper the nisba's ي reads after the article than elsewhere.
constexpr double kNisba = 0.4;

// What a preposition before a noun of two letters costs less than before
// another word: it is the common way to meet them (بيده).
constexpr double kShortAfterPreposition = 0.5;

// What reading a sound root costs where a shadda on the stem's last letter
// says a doubled one: more than any listed root weighs against an unlisted
// one, so a listed doubled root wins over a listed sound one.
constexpr double kUndoubled = 0.8;

struct Tables
{
    std::vector<Pattern> patterns = buildPatterns();
    std::vector<Front> fronts = buildFronts();
    std::vector<Back> backs = buildBacks();
    // Listed roots with the weight of their uses.
    struct Weight
    {
        double all = 0;    // counting every use of the root
        double others = 0; // less its bare letters' own uses
        double present = 0; // the uses of its present tense
        double uses = 0;    // its uses, as counted
        double article = 0; // those after an article form
    };
    std::unordered_map<std::u32string, Weight> listed;
    // The words the dictionary files under a root by name (ماء under موه),
    // as `lettersOf` writes them, and what they are where it says so.
    struct Filing
    {
        std::u32string root;
        Kind kind = Kind::either;
    };
    std::unordered_multimap<std::u32string, Filing> filed;
    // Nouns of two letters whose third letter the lexicons restore, in
    // every spelling their case or number gives them before a pronoun.
    std::unordered_map<std::u32string, std::u32string> shortNouns = buildShortNouns();
    // Words whose first و or ف the books show to be their own (ووكيع), and
    // listed roots' letters they show to be the conjunction before a word
    // of two (وجل: جل), written as `plainLetters` writes them.
    std::unordered_set<std::u32string> ownFirst;
    std::unordered_set<std::u32string> joinedFirst;
    // Words of the shape فال the books write after the article: nouns.
    std::unordered_set<std::u32string> withArticle;
    // The nouns of the alef of liaison without it (سم), with their roots.
    std::unordered_map<std::u32string, std::u32string> liaison;

    Tables()
    {
        static const char data[] =
#include "scholar/MorphRoots.inc"
            ;
        const QStringList entries = QString::fromUtf8(data).split(QRegularExpression(QStringLiteral("\\s+")),
                                                                   Qt::SkipEmptyParts);
        for (const QString& entry : entries) {
            if (entry.endsWith(u'+') || entry.endsWith(u'-') || entry.endsWith(u'#')) {
                const QChar mark = entry.back();
                (mark == u'+' ? ownFirst : mark == u'-' ? joinedFirst : withArticle).insert(Py::scalars(entry.chopped(1)));
                continue;
            }
            if (const qsizetype is = entry.indexOf(u'='); is > 0) {
                bool tanwin = false;
                std::vector<Marks> marks;
                filed.emplace(lettersOf(entry.left(is), tanwin, marks), Filing{Py::scalars(entry.mid(is + 1))});
                continue;
            }
            // root, then its uses, the bare ones and the present tense's.
            const QStringList fields = entry.split(u':');
            const double uses = fields.size() > 1 ? fields[1].toDouble() : 0;
            const double bare = fields.size() > 2 ? fields[2].toDouble() : 0;
            const double present = fields.size() > 3 ? fields[3].toDouble() : 0;
            listed.emplace(Py::scalars(fields[0]), Weight{kListed + kPerUses * std::log10(1 + uses),
                                                          kListed + kPerUses * std::log10(1 + uses - bare), present,
                                                          uses, uses - bare - present});
        }
        fileRunningText();
        fileLiaisonNouns();
        fileAdverbs();
    }

    // The adverbs of place and time, which the lexicons enter under their
    // own letters («ت ح ت: تحت نقيض فوق») or file by their weak or doubled
    // root; a dictionary that leaves one out still has its root listed, so
    // the words built on it (a nisba in انية) read by it too.
    void fileAdverbs()
    {
        for (const auto& [word, root] :
             {std::pair{U"فوق", U"فوق"}, {U"تحت", U"تحت"}, {U"عند", U"عند"}, {U"لدن", U"لدن"}, {U"بين", U"بين"},
              {U"دون", U"دون"}, {U"خلف", U"خلف"}, {U"ورا", U"وري"}, {U"وراء", U"وري"}, {U"ءمام", U"امم"},
              {U"امام", U"امم"}, {U"قدام", U"قدم"}, {U"حول", U"حول"}, {U"قبل", U"قبل"}, {U"بعد", U"بعد"},
              {U"وسط", U"وسط"}, {U"حيث", U"حيث"}, {U"حذاء", U"حذو"}, {U"إزاء", U"ازي"}, {U"تلقاء", U"لقي"}}) {
            filed.emplace(word, Filing{root});
            listed.try_emplace(root, Weight{kListed, kListed});
        }
    }

    // A noun the dictionary files under a root its bare ا is not part of
    // (اسم under س م و, ابن under ب ن ي) opens with the alef of liaison:
    // its plural أفعال is built on the two letters after it, and ب may
    // take its place in writing (بسم).
    void fileLiaisonNouns()
    {
        std::vector<std::pair<std::u32string, Filing>> plurals;
        for (const auto& [word, filing] : filed) {
            if (word.size() != 3 || word.front() != U'ا' || filing.root.front() == U'ا')
                continue;
            liaison.emplace(word.substr(1), filing.root);
            plurals.emplace_back(kHamza + word.substr(1) + U"اء", filing);
        }
        filed.insert(plurals.begin(), plurals.end());
    }

    // What the dictionary says in an entry's running text, not by a
    // cross-reference: under ن ب أ «ومنه النبي» (with its plural); under
    // س ن ه «السنة ... وفي نقصانها قولان أحدهما الواو والآخر الهاء»;
    // under ص ل و «الصلاة ... يقال صلى صلاة», a verb; under أ ي ا «الآية
    // العلامة»; under ح د و «وقولهم حادي عشر مقلوب من واحد» (with its
    // feminine); under ي و م «اليوم معروف وجمعه أيام»; and بنت and بن, the
    // forms of ابن (filed under ب ن ي).
    void fileRunningText()
    {
        for (const auto& [word, root] : {std::pair{U"نبي", U"نبا"}, {U"ءنبياء", U"نبا"}, {U"سنة", U"سنه"},
                                         {U"سنة", U"سنو"}, {U"صلاة", U"صلو"}, {U"ءاية", U"ايي"},
                                         {U"حادي", U"وحد"}, {U"حادية", U"وحد"}, {U"ءيام", U"يوم"}, {U"بنت", U"بني"},
                                         {U"بنت", U"بنو"}, {U"بن", U"بني"}})
            filed.emplace(word, Filing{root});
        // Under ث ن ي «و اثنان من عدد المذكر و اثنتان للمؤنث و ثنتان
        // أيضا», in each case of the dual, whole or before what it counts.
        for (const char32_t* stem : {U"اثن", U"اثنت", U"ثنت"}) {
            for (const char32_t* end : {U"ان", U"ين", U"ا", U"ي"})
                filed.emplace(std::u32string(stem) + end, Filing{U"ثني"});
        }
        // Verbs, with the present as the entry gives it (under ر أ ي «رأى
        // يرى ... وقد تركت العرب الهمز في مستقبله») or as the past in ى
        // makes it (صلى, يصلي), after each person's letter.
        const std::tuple<std::u32string, std::u32string, const char32_t*> verbs[]{
            {U"صلى", U"يصلي", U"صلو"}, {U"رءى", U"يرى", U"راي"}};
        for (const auto& [past, present, root] : verbs) {
            filed.emplace(past, Filing{root, Kind::verb});
            // Its ى written ي before the subject's suffix (صليت, رأينا).
            filed.emplace(past.substr(0, past.size() - 1) + U"ي", Filing{root, Kind::verb});
            for (const char32_t person : {U'ي', U'ت', U'ن', kHamza})
                filed.emplace(person + present.substr(1), Filing{root, Kind::present});
        }
    }
};

const Tables& tables()
{
    static const Tables built;
    return built;
}

// What the dictionary's listing of `root` weighs for it; nothing unlisted.
double listedWeight(const std::u32string& root)
{
    const auto& listed = tables().listed;
    const auto it = listed.find(root);
    return it == listed.end() ? 0.0 : it->second.all;
}

// How often the books use the root's present tense.
double presentUses(const std::u32string& root)
{
    const auto& listed = tables().listed;
    const auto it = listed.find(root);
    return it == listed.end() ? 0 : it->second.present;
}

// What a root with a weak letter at `place` (1: hollow, 2: defective) gains
// over its twin with the other weak letter (طير against طور) when its
// present tense shows its letter in the books (يطير) and the twin's hardly
// ever does. A present never shows a last ي (every augmented form's ends
// so), so only a last و is ever shown (يعلو).
double weakLetterGain(const std::u32string& root, std::size_t place, bool surelyVerb)
{
    if (root.size() != 3 || (root[place] != U'و' && root[place] != U'ي'))
        return 0;
    std::u32string twin = root;
    twin[place] = root[place] == U'و' ? U'ي' : U'و';
    const double present = presentUses(root);
    const double enough = surelyVerb ? kShownPresentOfVerb : kShownPresent;
    if (present < enough || present < kShownRatio * presentUses(twin))
        return 0;
    return place == 1 ? kHollowShown : kDefectiveShown;
}

// Whether the books show a root's last hamza where a word writes it after
// فعال's ا, which a weak letter there becomes too (قراءة, سماء): they
// use its present (يبرأ) often, many times the weak twins' presents.
bool presentShowsHamza(const std::u32string& root)
{
    const double present = presentUses(root);
    const double twins = std::max(presentUses({root[0], root[1], U'و'}), presentUses({root[0], root[1], U'ي'}));
    return present >= kShownPresent && present >= kShownRatio * twins;
}

// What the uses of a root's bare letters add to its weight: a word that is
// those letters reads as that root without their support, since the word
// itself may be another root's with a suffix (قلت: قال).
double ownUsesWeight(const std::u32string& root)
{
    const auto& listed = tables().listed;
    const auto it = listed.find(root);
    return it == listed.end() ? 0.0 : it->second.all - it->second.others;
}

bool swallowsT(char32_t c) { return c == U'ص' || c == U'ض' || c == U'ط' || c == U'ظ'; }
bool voicesT(char32_t c) { return c == U'د' || c == U'ذ' || c == U'ز'; }
bool isWeak(char32_t c) { return c == U'ا' || c == U'و' || c == U'ي' || c == U'ى'; }

// One way of reading the stem with a pattern: its root letters as written
// and what reading them so costs.
struct Fit
{
    std::array<char32_t, 4> letters{};
    double cost = 0;
    bool opensBelow = false; // the pattern's alef is written إ
};

// The pattern read on the stem, when it fits.
std::optional<Fit> fit(const Pattern& p, const std::u32string& stem)
{
    if (p.shape.size() != stem.size())
        return std::nullopt;
    Fit f;
    const std::size_t last = stem.size() - 1;
    for (std::size_t i = 0; i < stem.size(); ++i) {
        const char32_t c = stem[i];
        const char32_t s = p.shape[i];
        if (s >= U'1' && s <= U'4') {
            // ة is never a root letter, nor ى before the end. A present
            // tense writes its weak last letter ى, ي or و, never ا: an ا
            // there ends the verb of two (يكتبا) or of many (نسوا).
            if (c == U'ة' || (c == U'ى' && i != last) || (c == U'ا' && i == last && p.kind == Kind::present))
                return std::nullopt;
            f.letters[s - U'1'] = c;
        } else if (s == U'A') {
            if (c != U'ا' && c != kHamza && c != U'إ')
                return std::nullopt;
            f.opensBelow = c == U'إ';
            // The hamza of أفعل is written: a written one is most often the
            // form's own, a bare alef there more likely the article's.
            f.cost += c == U'ا' ? 0.8 : -0.2;
        } else if (s == U'T') {
            const char32_t first = f.letters[0];
            if (c == U'ط' ? !swallowsT(first) : c == U'د' ? !voicesT(first) : c != U'ت')
                return std::nullopt;
            if (c == U'ت' && (swallowsT(first) || voicesT(first)))
                f.cost += 0.3;
            // ست after an opening alef, م or a present-tense letter is
            // form X far more often than form VIII of a root in س.
            if (c == U'ت' && first == U'س')
                f.cost += 0.6;
        } else if (s == U'M') {
            if (c == U'ت')
                f.letters[0] = kMergedT;
            else if (c == U'ط' || c == U'د')
                f.letters[0] = c;
            else
                return std::nullopt;
            f.cost += 0.2;
        } else if (s != c) {
            return std::nullopt;
        }
    }
    // Form VIII writes a hollow root's middle letter ا (اختار, مختار): a
    // و or ي written there is seldom the root's.
    if (p.shape.find(U'T') != std::u32string::npos && (f.letters[1] == U'و' || f.letters[1] == U'ي'))
        f.cost += kWeakAfterFormEightsT;
    // مفعال and مفعيل write a first و as ي after the م's kasra (ميزان,
    // ميعاد): a و there is another pattern's (مولاه: مفعل).
    if ((p.shape == U"م12ا3" || p.shape == U"م12ي3") && f.letters[0] == U'و')
        return std::nullopt;
    // فعلاء opens with a fatha or a damma: a first إ is إفعال's (الإرواء,
    // إعطاء), not a root's hamza.
    if (p.shape == U"123اء" && stem.front() == U'إ')
        return std::nullopt;
    // فيعل and فوعل end in a sound letter; a weak one there is the nisba's
    // or another pattern's (الليثي).
    if ((p.shape == U"1ي23" || p.shape == U"1و23") && isWeak(stem.back()))
        return std::nullopt;
    return f;
}

struct Candidate
{
    std::u32string root;
    double score = 0;
    Kind kind = Kind::noun;
    bool verbalAffix = false;
    bool nominalAffix = false;
    const Front* front = nullptr; // how the word was cut
    const Back* back = nullptr;
};

// How often the books use the root, as the dictionary's list counts it.
double usesOf(const std::u32string& root)
{
    const auto& listed = tables().listed;
    const auto it = listed.find(root);
    return it == listed.end() ? 0 : it->second.uses;
}

// Whether three letters ending in ه, ك or ي are a listed doubled root's two
// with a pronoun or nisba rather than a root: alone (شره, حدي), the books
// use the doubled root after the article and the letters hardly otherwise
// than alone; after it (الجدّي), five times as often as alone, where the
// root's past and nouns would stand.
bool doubledBeforeEnding(const std::u32string& letters, bool afterArticle)
{
    const auto& listed = tables().listed;
    // A noun of two letters opening with a hamza has its own readings (أمك).
    if (letters.size() != 3 || letters[0] == U'ا'
        || (letters[2] != U'ي' && (afterArticle || (letters[2] != U'ه' && letters[2] != U'ك'))))
        return false;
    const auto own = listed.find(letters);
    const auto doubled = listed.find({letters[0], letters[1], letters[1]});
    if (own == listed.end() || doubled == listed.end())
        return false;
    const Tables::Weight& w = own->second;
    constexpr double kRareWithArticle = 20;
    return afterArticle ? w.article >= kShownRatio * (w.uses - w.article - w.present)
                        : doubled->second.article >= kRarelyUsed && (w.article + w.present) * kRareWithArticle < w.uses;
}

// Whether bare three letters are read against what they write: a و or ي as
// the other (ليث as لوث), or a middle ا as a weak letter where the books
// use the root whose hamza it may write (الشام: شام, the شأم). A longer
// pattern may write one for the other by rule (قيام: قوم, يستطيع: طوع).
bool readsOtherwise(const Pattern& p, const Fit& f, const std::array<char32_t, 3>& chosen, bool lastTurned)
{
    if (p.shape != U"123")
        return false;
    for (std::size_t i = 0; i < (lastTurned ? 2 : chosen.size()); ++i) {
        const char32_t written = f.letters[i];
        if ((written == U'و' || written == U'ي') && chosen[i] != written && isWeak(chosen[i]))
            return true;
    }
    if (f.letters[1] != U'ا' || (chosen[1] != U'و' && chosen[1] != U'ي'))
        return false;
    std::u32string hamza{chosen[0], U'ا', chosen[2]};
    for (char32_t& c : hamza)
        c = c == kHamza ? U'ا' : c;
    return usesOf(hamza) >= kRarelyUsed;
}

// What the listing of a root weighs for a reading that takes the word's
// letter for another: nothing where the books hardly use the root, for a
// root they never write (عيف, لوث, شيم) is no likelier than the letters as
// the word writes them (عوف, الليث, الشام).
double listingReadOtherwise(const std::u32string& root)
{
    return usesOf(root) >= kRarelyUsed ? 0 : listedWeight(root);
}

// What reading a ت, ن or أ before three letters as a present costs more
// where the books never use that root's present with ي, which they count:
// the letter is then likelier a noun's (نمير, not the present of مير). A
// last ي ends every augmented form's present, so the books' count leaves
// such roots out.
double unusedPresentCost(const Pattern& p, const std::u32string& root)
{
    if (p.kind != Kind::present || p.shape.size() != 4 || p.shape.substr(1) != U"123" || p.shape.front() == U'ي')
        return 0;
    // Where the count leaves the root out, a root the books hardly use at
    // all is as unlikely (نفسي is no present of فسي).
    if (root.back() == U'ي')
        return usesOf(root) < kRarelyUsed ? kUnusedPresent : 0;
    return presentUses(root) == 0 ? kUnusedPresent : 0;
}

// What reading a present of two letters as a hollow root's costs: that
// is its jussive alone (لم يزل), where a doubled or a first-و root writes
// two letters in every mood (يحل, يجد). It reads so where the books use
// the hollow root's present written in full more than the other roots
// of those letters at all.
double jussiveCost(const Pattern& p, const std::u32string& root)
{
    if (p.kind != Kind::present || p.drop != Drop::hollow || p.shape.size() != 3)
        return 0;
    const double rival = std::max(usesOf({root[0], root[2], root[2]}), usesOf({U'و', root[0], root[2]}));
    return presentUses(root) > rival ? -kJussiveShown : kJussive;
}

// The four-letter root the fit gives, if it can be one.
void fourLetterRoot(const Pattern& p, const Fit& f, double base, Candidate proto, std::vector<Candidate>& out)
{
    std::array<char32_t, 4> r = f.letters;
    // A four-letter root opens with no alef or hamza and holds no weak
    // letter, unless it repeats its first two (وسوس).
    const bool repeated = r[0] == r[2] && r[1] == r[3];
    if (r[0] == U'ا' || r[0] == kHamza)
        return;
    for (char32_t c : r) {
        if (c == U'ا' || c == U'ى' || (!repeated && (c == U'و' || c == U'ي')))
            return;
    }
    double cost = base + p.cost + f.cost - (repeated ? 1.3 : 0);
    std::u32string root{r[0], r[1], r[2], r[3]};
    // فعّال of a three-letter root (دينار, دنانير): its middle letter
    // doubled, not a fourth.
    if (r[1] == r[2])
        root = {r[0], r[1], r[3]};
    proto.root = root;
    for (char32_t& c : proto.root)
        if (c == kHamza)
            c = U'ا';
    proto.score = cost - listedWeight(proto.root);
    out.push_back(proto);
}

// Every root the fit can give, with its score (lower is better).
void rootsOf(const Pattern& p, const Fit& f, double base, Candidate proto, std::vector<Candidate>& out)
{
    std::vector<std::vector<Option>> places;
    if (p.weakLast && f.letters[2] != U'ي')
        return;
    if (!isTrilateral(p.shape)) {
        fourLetterRoot(p, f, base, proto, out);
        return;
    }
    const std::size_t three = 3;
    // Before ة فعيلة and فاعلة write a last و ي as they write ي (عشيّة,
    // داعية): the letter tells the twins apart no more than ى does.
    const bool lastTurned = proto.back && proto.back->ta && (p.shape == U"123" || p.shape == U"1ا23")
                            && f.letters[2] == U'ي';
    const auto lastAt = p.shape.find(U'3');
    const bool lastAfterAlef = lastAt != std::u32string::npos && lastAt > 0 && p.shape[lastAt - 1] == U'ا';
    const bool taAfter = proto.back && proto.back->ta;
    for (std::size_t i = 0; i < three; ++i) {
        const bool dropped = (p.drop == Drop::hollow && i == 1) || (p.drop == Drop::defective && i == 2)
                             || (p.drop == Drop::assimilated && i == 0) || (p.drop == Drop::doubled && i == 2);
        if (!dropped) {
            const auto at = p.shape.find(char32_t(U'1' + i));
            char32_t before = at != std::u32string::npos && at > 0 ? p.shape[at - 1] : 0;
            if (before == U'A' && f.opensBelow)
                before = U'إ';
            const char32_t after = at + 1 < p.shape.size() ? p.shape[at + 1] : 0;
            if (i == 2 && lastTurned)
                places.push_back({{U'و', 0}, {U'ي', 0}});
            else
                places.push_back(optionsOf(f.letters[i], i, three, before, after, p.shape.size() > three));
        } else if (p.drop == Drop::hollow) {
            places.push_back({{U'و', 0}, {U'ي', 0.1}});
        } else if (p.drop == Drop::defective) {
            places.push_back({{U'ي', 0}, {U'و', 0.1}});
        } else if (p.drop == Drop::assimilated) {
            places.push_back({{U'و', 0}, {U'ي', 0.6}});
        } else {
            places.push_back({{0, 0}}); // the doubled letter: filled below
        }
    }
    for (const Option& a : places[0]) {
        for (const Option& b : places[1]) {
            for (const Option& c : places[2]) {
                std::u32string root{a.letter, b.letter, c.letter ? c.letter : b.letter};
                for (char32_t& l : root)
                    if (l == kHamza)
                        l = U'ا';
                // A weak or hamza letter does not double (no ووو).
                if (p.drop == Drop::doubled && isWeak(root[1]))
                    continue;
                Candidate cand = proto;
                cand.root = root;
                cand.score = base + p.cost + f.cost + a.cost + b.cost + c.cost - listedWeight(root);
                // The hollow passive (قيل) reads a written ي as the root's
                // و: of a root the books hardly use, the letter is likelier
                // its own (ليث).
                if (readsOtherwise(p, f, {a.letter, b.letter, c.letter}, lastTurned) || p.shape == U"1ي3")
                    cand.score += listingReadOtherwise(root);
                cand.score += unusedPresentCost(p, root) + jussiveCost(p, root);
                // A hamza last is the root's last letter (بشئ: ش ي أ); a weak
                // letter falls after one only in a jussive (لم ينأ).
                if (p.drop == Drop::defective && f.letters[1] == kHamza)
                    cand.score += kDroppedAfterHamza;
                // An augmented form writes a weak last letter ى (أعطى,
                // أبدى), ا only after ي (أحيا): a last ا there is likelier
                // the accusative's (أبدا: أبد).
                if (p.shape.size() > three && f.letters[2] == U'ا' && f.letters[1] != U'ي')
                    cand.score += kAugmentedAlef;
                // The hollow letter is hidden in a dropped vowel, an ا, or
                // a hamza after the pattern's ا (زائد, زوائد).
                if (p.drop == Drop::hollow
                    || (p.kind != Kind::present && (f.letters[1] == U'ا' || f.letters[1] == kHamza)))
                    cand.score -= weakLetterGain(root, 1, p.drop == Drop::hollow);
                // The last one in a dropped letter, ى, ا, or the ي فعلى
                // writes for either (عليا).
                if (p.drop == Drop::defective || p.weakLast || f.letters[2] == U'ى' || f.letters[2] == U'ا')
                    cand.score -= weakLetterGain(root, 2, true);
                // A hamza after the pattern's ا, or an ا before ة, writes
                // either twin (الرضاء, مرضاة): the ي's where the books use it
                // and neither the و twin nor a root of that hamza.
                if (root[2] == U'ي' && (f.letters[2] == kHamza ? lastAfterAlef : f.letters[2] == U'ا' && taAfter)
                    && usesOf(root) >= kRarelyUsed && usesOf({root[0], root[1], U'و'}) == 0
                    && usesOf({root[0], root[1], U'ا'}) < kRarelyUsed)
                    cand.score -= kDefectiveShown;
                // Only فعال's: in an augmented form's, a weak letter (إعطاء).
                if (p.shape == U"12ا3" && f.letters[2] == kHamza && root[2] == U'ا' && presentShowsHamza(root))
                    cand.score -= kDefectiveShown;
                out.push_back(cand);
            }
        }
    }
}

// One way of cutting the word: a front, a back and the stem between them.
struct Cut
{
    Cut(const std::u32string& w, const Front& f, const Back& b, const std::vector<Marks>& m, bool tanwin)
        : front(f), back(b), marks(m), tanwin(tanwin),
          stem(w.substr(f.text.size(), w.size() - f.text.size() - b.text.size()))
    {
    }
    const Front& front;
    const Back& back;
    const std::vector<Marks>& marks;
    bool tanwin;
    std::u32string stem;

    std::size_t lastAt() const { return front.text.size() + stem.size() - 1; }
    // The article, a preposition, ة or ات, or tanwin: a noun.
    bool nominal() const { return front.article || front.preposition || back.nominal || tanwin; }
};

// The readings the dictionary gives by name: a word it files under a root
// (ماء under موه), and a noun of two letters whose third it restores (أب:
// أبو), with the long vowel of its case or number and any front.
void filedReadings(const Cut& cut, std::vector<Candidate>& found)
{
    const Tables& t = tables();
    const Front& front = cut.front;
    const Back& back = cut.back;
    // A verb the dictionary files stands before its subject's suffix too.
    const bool subject = !back.pronoun && back.verbal && !front.article;
    if (!back.pronoun && !subject)
        return;
    // As it stands or after a conjunction or the article and before a
    // pronoun: a letter more on either side makes another word (مائة is
    // not ماء, كفاه not فاه), and so does a shadda past its first letter,
    // which the dictionary's bare spelling leaves open (قُرَّة is not قِرَة,
    // عامّ not عام); on the first it is the article's or a ن's before it
    // (وَٱلدَّمُ, مِن مَّآءٍ).
    const bool shadda = std::any_of(cut.marks.begin() + std::ptrdiff_t(front.text.size() + 1),
                                    cut.marks.begin() + std::ptrdiff_t(cut.lastAt() + 1),
                                    [](const Marks& m) { return m.shadda; });
    auto add = [&](const std::u32string& root, double gain, Kind kind) {
        Candidate c;
        c.kind = kind;
        c.root = root;
        c.front = &front;
        c.back = &back;
        c.verbalAffix = back.verbal || front.future;
        c.nominalAffix = cut.nominal();
        c.score = front.cost + back.cost - listedWeight(c.root) - gain;
        found.push_back(c);
    };
    // ل and ب stand before them as before any noun where no letter of
    // theirs can join the word's own: before its alef (لابن).
    const bool preposition = !front.article && (Py::hasSuffix(front.text, U"ل") || Py::hasSuffix(front.text, U"ب"));
    if ((front.text.empty() || front.join || front.article || (preposition && cut.stem.front() == U'ا')) && !shadda) {
        // After و or ف the letter may be the word's own (فرقة is not ف
        // with رقة): no gain over the patterns then.
        // A ة is written ت before a pronoun (صلاته).
        std::u32string stem = cut.stem;
        if (!back.text.empty() && stem.back() == U'ت')
            stem.back() = U'ة';
        for (auto [it, end] = t.filed.equal_range(stem); it != end; ++it) {
            if (!subject || it->second.kind == Kind::verb)
                add(it->second.root, front.join ? 0 : kFiled, it->second.kind);
        }
    }
    if (subject)
        return;
    if (Py::hasSuffix(front.text, U"ب") && !front.article && back.text.empty()) {
        if (const auto it = t.liaison.find(cut.stem); it != t.liaison.end())
            add(it->second, kFiled + kShortAfterPreposition, Kind::either);
    }
    // These nouns stand after a preposition as often as alone (بيده,
    // لأبيه), and then only with their hamza written: باب is no ب with أب.
    const bool bare = front.text.empty() || front.join || front.article;
    if (!front.future && (bare || cut.stem.front() != U'ا')) {
        if (const auto it = t.shortNouns.find(cut.stem); it != t.shortNouns.end())
            add(it->second, kFiled + (front.preposition ? kShortAfterPreposition : 0), Kind::either);
    }
}

// How much cheaper a hollow verb's past reads before its subject: its long
// vowel falls before a suffix that opens with a consonant (قلت, كنا, قمتم),
// the regular form, not a stretch of the pattern; and it stands before the
// feminine ت (قالت, كانت).
double hollowPastDiscount(const Pattern& p, const Cut& cut)
{
    const std::u32string& back = cut.back.text;
    if (p.kind == Kind::present || (!cut.front.text.empty() && !cut.front.join))
        return 0;
    // A shadda on the suffix's first letter says it met the same letter of
    // the root (فتنّا: فتن).
    const bool merged = cut.marks[cut.front.text.size() + cut.stem.size()].shadda;
    const bool subject = back == U"ت" || back == U"تم" || back == U"تما" || back == U"تن" || back == U"نا";
    // كنّا: the ن of نا merged with the root's last, written once; not
    // after و or ف, which may be the root's first (فتنّا).
    const bool mergedNa = back == U"ا" && cut.stem.back() == U'ن' && cut.front.text.empty();
    if (p.drop == Drop::hollow && ((subject && !merged) || mergedNa))
        return kHollowBeforeSubject;
    if (p.drop == Drop::none && p.shape == U"123" && back == U"ت" && cut.stem[1] == U'ا')
        return kHollowFeminine;
    return 0;
}

// The letters as the books' word lists write them: every hamza ا, ى as ي.
std::u32string plainLetters(std::u32string w)
{
    for (char32_t& c : w)
        c = c == kHamza || c == U'إ' ? U'ا' : c == U'ى' ? U'ي' : c;
    return w;
}

// What the books' uses of the word's own letters say of a reading that
// takes them, as they stand, for its root.
double ownLettersCost(const Pattern& p, const Cut& cut, const std::u32string& written, const Candidate& c)
{
    const Front& front = cut.front;
    const Back& back = cut.back;
    // The stem alone, or after و, ف or ب, as the roots are written.
    const bool bareLetters = back.text.empty()
                             && (front.text.empty() || front.text == U"و" || front.text == U"ف" || front.text == U"ب");
    double cost = 0;
    // A ت that ends the word may be the subject's, not the root's: such a
    // root weighs without its bare letters' uses there too (قالت is no
    // فاعل of قلت).
    if ((bareLetters && c.root == written)
        || (back.text.empty() && cut.stem.back() == U'ت' && c.root.back() == U'ت'))
        cost += ownUsesWeight(c.root);
    if (c.root == written && (bareLetters || (front.article && back.text.empty()))
        && doubledBeforeEnding(written, front.article))
        cost += listedWeight(c.root);
    // Four bare letters the dictionary lists as a root are that root more
    // likely than two letters with a pronoun (درهم).
    if (p.shape == U"1234" && front.text.empty() && back.text.empty() && c.root == written
        && listedWeight(c.root) > 0)
        cost -= kListedFour;
    return cost;
}

// Whether what stands around the stem suits what the pattern is.
bool suits(const Pattern& p, const Cut& cut)
{
    const Front& front = cut.front;
    const Back& back = cut.back;
    const bool noun = p.kind == Kind::noun || p.kind == Kind::either;
    const bool verb = p.kind != Kind::noun;
    if ((cut.nominal() && !noun) || (front.future && p.kind != Kind::present))
        return false;
    if (back.verbal && back.text != U"نا" && back.text != U"ني" && !verb)
        return false;
    // A verb's subject after the article or a preposition (الصامت is no
    // صام with ت), or after a last ا, which a verb writes و or ي before
    // its subject and drops before the feminine ت (دعوت, رمت): مرات is
    // no verb.
    const bool subject = back.text == U"ت" || back.text == U"تم" || back.text == U"تما" || back.text == U"تن";
    if (subject && (front.article || front.preposition || cut.stem.back() == U'ا'))
        return false;
    if (p.needsTa && !back.ta)
        return false;
    // The nisba of فعلان keeps the noun's three letters before its ان
    // (ثمانية is no nisba of ثمّ).
    if (back.text == U"انية" && cut.stem.size() < 3)
        return false;
    // The passive takes a subject's or an object's suffix, no noun's;
    // مفعى writes its ى as ا only before a pronoun.
    return !((p.shape == U"1ي3" && !back.text.empty() && !back.verbal)
             || (p.shape == U"م12ا" && (back.text.empty() || !back.pronoun)));
}

// The readings of the stem by every pattern that fits it.
void patternReadings(const Cut& cut, std::vector<Candidate>& found)
{
    const Front& front = cut.front;
    const Back& back = cut.back;
    const std::u32string& stem = cut.stem;
    // A shadda on the stem's last letter says a doubled root (فردّه is ف
    // with ردّ, not فرد). Not on a weak letter, which merges with the
    // pattern's (نبيّ, عدوّ), nor on ن, which most often meets a ن of what
    // follows (فتنّا, لكنّ, يأتينّ). The doubled middle letter of a form
    // whose weak last letter fell (صَلِّ، تَوَلَّوْا) follows a fatha and
    // carries no damma; a doubled root's last letter with a damma (صَدُّوا)
    // or after one (يَرُدُّ) does not.
    const std::size_t lastAt = cut.lastAt();
    const bool doubledLast = cut.marks[lastAt].shadda && !isWeak(stem.back()) && stem.back() != U'ن';
    const bool formDoubled = doubledLast && lastAt > 0 && cut.marks[lastAt - 1].vowel == U'\u064E'
                             && cut.marks[lastAt].vowel != U'\u064F';
    // A verb ending in a weak letter loses it before the و of the plural
    // (رموا, اتقوا, يدعون), as often as a doubled one keeps its letters
    // merged (ردوا, يحبون).
    const bool beforeWaw = !back.text.empty() && back.text.front() == U'و';
    // An alef or ن after a long vowel ends the plural (اتقوا, يرمون), and an
    // ون, ين or وا kept in the stem is more likely that ending than root
    // letters (مسكين is the exception).
    const bool vowelLast = stem.back() == U'و' || stem.back() == U'ي';
    const bool pluralEnd = ((back.text == U"ا" || back.text == U"ن") && vowelLast)
                           || (back.text.empty() && stem.size() > 3
                               && (Py::hasSuffix(stem, U"ون") || Py::hasSuffix(stem, U"ين")
                                   || Py::hasSuffix(stem, U"وا")));
    // After the article, a last ي on three letters or more is the nisba's
    // (المدني, البصري), not a root's weak letter.
    const bool nisba = front.article && back.text == U"ي" && stem.size() >= 3;
    // Without the article it is the nisba's or the speaker's, still
    // likelier than a root's on a noun (مدني, كوفي, نفسي).
    const bool bareNisba = front.text.empty() && back.text == U"ي" && stem.size() >= 3;
    const std::u32string written = plainLetters(stem);
    for (const Pattern& p : tables().patterns) {
        if (!suits(p, cut))
            continue;
        const std::optional<Fit> f = fit(p, stem);
        if (!f)
            continue;
        Candidate proto;
        proto.kind = p.kind;
        proto.front = &front;
        proto.back = &back;
        // After و or ف, a written أفعل is the verb (فأنزل), not the
        // comparative, and a bare فال the hollow verb (فقال).
        const bool joinedPast = front.join && back.text.empty() && p.kind == Kind::either
                                && ((p.shape.front() == U'A' && stem.front() == kHamza)
                                    || (p.shape == U"123" && stem[1] == U'ا'));
        const double hollowPast = hollowPastDiscount(p, cut);
        // A hollow past before its subject is a verb, كنّا too.
        proto.verbalAffix = back.verbal || front.future || joinedPast || hollowPast >= kHollowBeforeSubject;
        proto.nominalAffix = cut.nominal();
        // Few nouns of a weak last letter drop it for ة (لغة, كرة), and the
        // lexicons name each; a فعة of a first و (صلة) or a doubled root
        // (مدة) is any such verb's.
        const bool droppedForTa = p.drop == Drop::defective && stem.size() == 2 && back.nominal;
        const double base = front.cost + back.cost - (p.drop == Drop::defective && beforeWaw ? 0.15 : 0)
                            + (droppedForTa ? kDroppedForTa : 0)
                            + (pluralEnd ? 0.3 : 0) - hollowPast - (nisba ? kNisba : 0)
                            - (bareNisba && p.kind != Kind::present ? kNisba / 2 : 0);
        const std::size_t before = found.size();
        rootsOf(p, *f, base, proto, found);
        // A bare فال is the hollow verb's past where the books use its
        // present (طار: يطير), a noun's otherwise (باب, مال, نار), and
        // where they write it after the article (الحال) too.
        const bool bareFal = front.text.empty() && back.text.empty() && p.shape == U"123" && stem[1] == U'ا'
                             && !tables().withArticle.contains(written);
        for (auto c = found.begin() + std::ptrdiff_t(before); c != found.end(); ++c) {
            if (bareFal && presentUses(c->root) >= kPastOfPresent)
                c->verbalAffix = true;
            // Two letters before نا are a hollow past (خفنا) where the books
            // show its present; otherwise a doubled root's (ضرنا, مسنا).
            if (hollowPast >= kHollowBeforeSubject && stem.size() == 2 && back.text == U"نا"
                && presentUses(c->root) < kShownPresentOfVerb) {
                c->score += hollowPast;
                c->verbalAffix = back.verbal || front.future;
            }
            // After و or ف, a bare ا read as a hamza the text did not write
            // (واحد: و with أحد) is less likely than the letter of فاعل;
            // an ال there is the article's, whichever reading wins.
            if (front.join && stem.front() == U'ا' && stem[1] != U'ل' && c->root.front() == U'ا')
                c->score += kUnwrittenHamza;
            const bool doubledRoot = c->root[c->root.size() - 1] == c->root[c->root.size() - 2];
            if (doubledLast && !(formDoubled && p.drop == Drop::defective) && !doubledRoot)
                c->score += kUndoubled;
            // Before the plural's و a doubled root's last letter takes a
            // damma (رَدُّوا); a fatha there is the form's (تَحَرَّوْا).
            if (formDoubled && beforeWaw && doubledRoot)
                c->score += kUndoubled;
            c->score += ownLettersCost(p, cut, written, *c);
        }
    }
}

// What the books show of the word's first و or ف costs a reading against
// it: taking for the conjunction a letter they write after another
// proclitic (ووكيع, بفلان), or reading as one root three letters whose
// last two they write alone as often (وجل: جل). The books are unvocalised,
// and in them و with صلّ is وصل; a word with its marks has them to tell.
double firstLetterCost(const std::u32string& plain, const Candidate& c)
{
    const Tables& t = tables();
    const std::u32string& front = c.front->text;
    const std::size_t kept = plain.size() - c.back->text.size();
    for (std::size_t k = 0; k < front.size(); ++k) {
        if ((plain[k] == U'و' || plain[k] == U'ف')
            && (t.ownFirst.contains(plain.substr(k)) || t.ownFirst.contains(plain.substr(k, kept - k))))
            return kFirstLetterShown;
    }
    if (front.empty() && c.back->text.empty() && c.root == plain && t.joinedFirst.contains(plain))
        return kFirstLetterShown;
    return 0;
}

// The cheapest reading, and what it says the word is.
Reading chosen(const std::vector<Candidate>& found)
{
    const Candidate* best = &found.front();
    for (const Candidate& c : found) {
        if (c.score < best->score)
            best = &c;
    }
    Reading r;
    r.root = Py::string(best->root);
    // The affixes as the normalised word writes them.
    for (const char32_t c : best->front->text)
        r.front += c == kHamza ? QChar(u'ا') : QChar(char16_t(c));
    r.back = Py::string(best->back->text);
    r.present = best->kind == Kind::present && !best->nominalAffix;
    const bool verbPattern = best->kind != Kind::noun;
    r.verb = r.present || (verbPattern && best->verbalAffix && !best->nominalAffix)
             || (best->kind == Kind::verb && !best->nominalAffix);
    return r;
}

} // namespace

std::optional<Reading> reading(const QString& word)
{
    bool tanwin = false;
    std::vector<Marks> marks;
    const std::u32string w = lettersOf(word, tanwin, marks);
    if (w.size() < 2)
        return std::nullopt;

    std::vector<Candidate> found;
    for (const Front& front : tables().fronts) {
        if (!Py::hasPrefix(w, front.text))
            continue;
        for (const Back& back : tables().backs) {
            if (front.text.size() + back.text.size() + 2 > w.size() || !Py::hasSuffix(w, back.text))
                continue;
            const Cut cut{w, front, back, marks, tanwin};
            filedReadings(cut, found);
            patternReadings(cut, found);
        }
    }
    if (found.empty())
        return std::nullopt;
    const std::u32string plain = plainLetters(w);
    const bool vocalised = std::any_of(marks.begin(), marks.end(), [](const Marks& m) { return m.shadda || m.vowel; });
    for (Candidate& c : found)
        c.score += vocalised ? 0 : firstLetterCost(plain, c);
    return chosen(found);
}

} // namespace quorvel::Morph
