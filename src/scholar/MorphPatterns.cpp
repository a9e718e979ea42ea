#include "scholar/MorphPatterns.h"

#include <functional>
#include <utility>

namespace quorvel::Morph {

bool isTrilateral(const std::u32string& shape)
{
    return shape.find(U'4') == std::u32string::npos;
}

namespace {

// The present tense: its letter, then the stem of its form. ت and ن open
// nouns too (تفسير, نصر); the speaker's أ is rarer here than form IV's.
void addPresents(const std::function<void(std::u32string, double, Kind)>& add)
{
    for (const auto& [person, extra] : {std::pair{U'ي', 0.0}, {U'ت', 0.1}, {U'ن', 0.1}, {U'A', 0.5}}) {
        const std::u32string p(1, person);
        add(p + U"123", 0.1 + extra, Kind::present);
        add(p + U"1ا23", 0.4 + extra, Kind::present);
        add(p + U"ت123", 0.5 + extra, Kind::present);
        add(p + U"ت1ا23", 0.5 + extra, Kind::present);
        add(p + U"ن123", 0.5 + extra, Kind::present);
        add(p + U"1T23", 0.4 + extra, Kind::present);
        add(p + U"ست123", 0.3 + extra, Kind::present);
    }
}

} // namespace

// The patterns, each also without the root letter a weak or doubled root
// drops where it can.
std::vector<Pattern> buildPatterns()
{
    std::vector<Pattern> out;
    std::function<void(std::u32string, double, Kind)> add = [&](std::u32string shape, double cost, Kind kind) {
        out.push_back({shape, cost, kind});
        if (const auto at = shape.find(U"1T"); at != std::u32string::npos) {
            add(shape.substr(0, at) + U'M' + shape.substr(at + 2), cost, kind);
        }
        if (!isTrilateral(shape))
            return;
        const bool verbal = kind != Kind::noun;
        if (const auto at = shape.find(U"23"); at != std::u32string::npos) {
            std::u32string s = shape;
            s.erase(at + 1, 1);
            out.push_back({s, cost + 0.5, kind, Drop::doubled});
        }
        // Form VIII's hollow past and jussive lose the long vowel too
        // (اخترت, يحتج).
        if (const auto at = shape.find(U"1T23"); verbal && at != std::u32string::npos) {
            std::u32string s = shape;
            s.erase(at + 2, 1);
            out.push_back({s, cost + (kind == Kind::present ? 0.55 : 0.8), kind, Drop::hollow});
        }
        if (const auto at = shape.find(U"123"); verbal && at != std::u32string::npos) {
            std::u32string s = shape;
            s.erase(at + 1, 1);
            // The present's jussive drops the long vowel as often as an
            // assimilated verb its و (لم يكن, يصل).
            out.push_back({s, cost + (kind == Kind::present ? 0.55 : 0.8), kind, Drop::hollow});
        }
        if (shape.back() == U'3' && (verbal || shape == U"1ا23")) {
            std::u32string s = shape;
            s.pop_back();
            out.push_back({s, cost + 0.7, kind, Drop::defective});
        }
        if (kind == Kind::present && shape.size() == 4 && shape.substr(1) == U"123")
            out.push_back({shape.substr(0, 1) + U"23", cost + 0.5, kind, Drop::assimilated});
    };
    // Nouns and the forms of the verb, the commonest cheapest.
    add(U"123", 0, Kind::either);
    add(U"1ا23", 0.3, Kind::either);
    add(U"A123", 0.5, Kind::either);
    add(U"ت123", 0.5, Kind::either);
    add(U"ت1ا23", 0.5, Kind::either);
    add(U"ان123", 0.4, Kind::verb);
    add(U"ا1T23", 0.3, Kind::verb);
    add(U"است123", 0.3, Kind::verb);
    add(U"12ا3", 0.3, Kind::noun);
    add(U"12ي3", 0.3, Kind::noun);
    add(U"12و3", 0.3, Kind::noun);
    add(U"1وا23", 0.5, Kind::noun);
    add(U"12اء3", 0.5, Kind::noun);
    add(U"123اء", 0.4, Kind::noun);
    add(U"A123اء", 0.5, Kind::noun);
    add(U"123ان", 0.6, Kind::noun);
    add(U"123ى", 0.4, Kind::noun);
    // فعلى of a root ending in و or ي, its ى written ا after the ي (دنيا).
    out.push_back({U"123ا", 0.3, Kind::noun, Drop::none, false, true});
    add(U"A12ا3", 0.4, Kind::noun);
    add(U"م123", 0.4, Kind::noun);
    add(U"م12و3", 0.3, Kind::noun);
    add(U"م12ا3", 0.6, Kind::noun);
    add(U"م12ي3", 0.6, Kind::noun);
    add(U"م1ا23", 0.5, Kind::noun);
    add(U"م1ا2ي3", 0.5, Kind::noun);
    // مفعل of a root with a weak last letter ends in ى, written ا before a
    // pronoun (مولى, مولاهم); a hollow passive writes ي for either (قيل).
    out.push_back({U"م12ى", 0.4, Kind::noun, Drop::defective});
    out.push_back({U"م12ا", 0.4, Kind::noun, Drop::defective});
    out.push_back({U"1ي3", 0.2, Kind::verb, Drop::hollow});
    // فيعل and فوعل, mostly names (هيثم, حيدر, نوفل, جوهر).
    out.push_back({U"1ي23", 0.7, Kind::noun});
    out.push_back({U"1و23", 0.7, Kind::noun});
    add(U"ت12ي3", 0.4, Kind::noun);
    add(U"ان12ا3", 0.4, Kind::noun);
    add(U"من123", 0.5, Kind::noun);
    add(U"ا1T2ا3", 0.3, Kind::noun);
    add(U"م1T23", 0.4, Kind::noun);
    add(U"است12ا3", 0.3, Kind::noun);
    add(U"مست123", 0.4, Kind::noun);
    add(U"مت123", 0.5, Kind::noun);
    add(U"مت1ا23", 0.5, Kind::noun);
    addPresents(add);
    // فعة of a root whose first letter is و.
    out.push_back({U"23", 0.5, Kind::noun, Drop::assimilated, true});
    // Four-letter roots, dearer than any three-letter reading.
    add(U"1234", 1.2, Kind::either);
    add(U"12ا34", 0.6, Kind::noun);
    add(U"12ا3ي4", 0.8, Kind::noun);
    add(U"123ا4", 1.0, Kind::noun);
    add(U"م1234", 1.2, Kind::noun);
    add(U"ت1234", 1.2, Kind::either);
    for (const char32_t person : {U'ي', U'ت', U'ن'})
        add(std::u32string(1, person) + U"1234", 1.3, Kind::present);
    return out;
}

std::vector<Front> buildFronts()
{
    const std::vector<Front> joins{{U"", 0}, {U"و", 0.05}, {U"ف", 0.05}, {U"ءو", 0.9}, {U"ءف", 0.9}};
    std::vector<Front> rests{{U"", 0}};
    rests.push_back({U"ال", 0.1, true});
    rests.push_back({U"بال", 0.2, true});
    rests.push_back({U"كال", 0.2, true});
    rests.push_back({U"لل", 0.3, true});
    rests.push_back({U"ب", 0.7, false, true});
    rests.push_back({U"ك", 0.7, false, true});
    rests.push_back({U"ل", 0.6});
    rests.push_back({U"س", 0.6, false, false, true});
    std::vector<Front> out;
    for (const Front& j : joins) {
        for (const Front& r : rests) {
            out.push_back({j.text + r.text, j.cost + r.cost, r.article, r.preposition, r.future,
                           !j.text.empty() && r.text.empty()});
        }
    }
    return out;
}

std::vector<Back> buildBacks()
{
    // A pronoun last, and before it what a verb's subject or a noun's
    // number adds.
    const std::vector<Back> pronouns{
        {U"", 0},        {U"ه", 0.3},    {U"ها", 0.3},   {U"هم", 0.3}, {U"هما", 0.3},
        {U"هن", 0.4},    {U"ك", 0.4},    {U"كم", 0.3},   {U"كما", 0.4}, {U"كن", 0.5},
        {U"ي", 0.6},     {U"ني", 0.5, true}, {U"نا", 0.4, true},
    };
    const std::vector<Back> inner{
        {U"", 0},
        {U"ة", 0.05, false, true, true},
        // ات and the dual's تان, تين stand for ة as well (ثقات, ركعتين).
        {U"ات", 0.2, false, true, true},
        {U"تان", 0.5, false, true, true},
        {U"تين", 0.4, false, true, true},
        {U"ان", 0.6},
        {U"ين", 0.3},
        {U"ون", 0.3},
        {U"ت", 0.3, true, false, true},
        {U"تم", 0.4, true},
        {U"تما", 0.5, true},
        {U"تن", 0.6, true},
        {U"تمو", 0.5, true}, // تم before a pronoun (كتبتموه)
        {U"وا", 0.2, true},
        {U"و", 0.3, true},
        {U"ا", 0.5},
        {U"ن", 0.7},
        {U"نا", 0.4, true},
        {U"ي", 0.7},
    };
    std::vector<Back> out;
    // The feminine nisba after the ان of فعلان (التحتانية, النصرانية).
    out.push_back({U"انية", 0.9, false, true, true});
    // إذ joined to a noun of time, its hamza on a seat (يومئذ, حينئذ).
    out.push_back({U"ءذ", 0.2});
    // A noun's ة written ت before a pronoun (أمته, مدينتهم), where the same
    // letters after a verb are its subject and object (ضربته).
    for (const Back& p : pronouns) {
        if (!p.text.empty())
            out.push_back({U"ت" + p.text, 0.1 + p.cost, false, true, true});
    }
    for (const Back& i : inner) {
        for (const Back& p : pronouns) {
            // ة stands last; before a pronoun it is written ت, and وا
            // loses its alef.
            if ((i.text == U"ة" || i.text == U"وا" || i.text == U"تان" || i.text == U"تين") && !p.text.empty())
                continue;
            if ((i.text == U"و" || i.text == U"تمو") && p.text.empty())
                continue;
            // A noun's ن of the dual and plural goes before a pronoun; only
            // a verb keeps it (يكتبونه).
            const bool keptNun = !p.text.empty() && (i.text == U"ان" || i.text == U"ين" || i.text == U"ون");
            // Before a pronoun, ا is the subject of two (نصراه).
            const bool dual = i.text == U"ا" && !p.text.empty();
            out.push_back({i.text + p.text, i.cost + p.cost + (keptNun ? 0.3 : 0), i.verbal || p.verbal || dual,
                           i.nominal, i.ta, i.text.empty()});
        }
    }
    return out;
}

// أب and أخ take the long vowel of their case (أبو, أبا, أبي) and keep the
// و of their dual (أبوان, أبويه); يد has the dual alone; فم and أم neither. Each
// is spelt with its hamza written and without.
std::unordered_map<std::u32string, std::u32string> buildShortNouns()
{
    std::unordered_map<std::u32string, std::u32string> out;
    for (const auto& [stem, root] : {std::pair{U"ءب", U"ابو"}, {U"اب", U"ابو"}, {U"ءخ", U"اخو"}, {U"اخ", U"اخو"}}) {
        for (const char32_t* end : {U"", U"و", U"ا", U"ي", U"وان", U"وين", U"وا", U"وي"})
            out.emplace(std::u32string(stem) + end, root);
    }
    for (const char32_t* end : {U"", U"ا", U"ي", U"ان", U"ين"})
        out.emplace(std::u32string(U"يد") + end, U"يدي");
    // أخ's feminine writes ت for the fallen و (أخت, أختي, أختان).
    out.emplace(U"ءخت", U"اخو");
    out.emplace(U"اخت", U"اخو");
    out.emplace(U"فم", U"فوه");
    // أم, with its hamza written: without it, امه is أمة (a bondwoman).
    out.emplace(U"ءم", U"امم");
    // مائة and its dual (filed under م أ ي), after و as often as alone.
    for (const char32_t* form : {U"ماءة", U"ماءتان", U"ماءتين", U"ماءتا", U"ماءتي", U"مءة", U"مءتين", U"مءتان"})
        out.emplace(form, U"ماي");
    return out;
}

} // namespace quorvel::Morph
