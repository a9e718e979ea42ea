#include "scholar/MorphLetters.h"
#include "scholar/Morph.h"

#include "core/Arabic.h"
#include "core/Py.h"

namespace quorvel::Morph {

std::u32string lettersOf(const QString& word, bool& tanwin, std::vector<Marks>& marks)
{
    std::u32string out;
    tanwin = false;
    marks.clear();
    for (char32_t c : hamzaMarksAsLetters(Py::scalars(word))) {
        if (c >= 0x064B && c <= 0x064D)
            tanwin = true;
        if (!out.empty() && (c == 0x0651 || (c >= 0x064E && c <= 0x0650))) {
            marks.resize(out.size());
            if (c == 0x0651)
                marks.back().shadda = true;
            else
                marks.back().vowel = c;
        }
        if (notALetter(c))
            continue;
        // Only Arabic letters make a root.
        if (c < 0x0621 || c > 0x0671) {
            out.clear();
            return out;
        }
        // A hamza on the line after ى is that ى's, the seat ئ written in
        // two (يخطىء, قارىء); after one letter the ى is a letter of its
        // own (شىء).
        if (c == U'ء' && out.size() >= 3 && out.back() == U'ى') {
            out.back() = kHamza;
            continue;
        }
        switch (c) {
        case U'إ':
            // Kept apart: it tells إفعال (إيمان) from أفعال (أيمان).
            out.push_back(c);
            break;
        case U'أ':
        case U'ؤ':
        case U'ئ':
            out.push_back(kHamza);
            break;
        case U'آ':
            out += {kHamza, U'ا'};
            break;
        case Arabic::alefWasla:
            out.push_back(U'ا');
            break;
        default:
            out.push_back(c);
        }
    }
    marks.resize(out.size());
    return out;
}

std::vector<Option> optionsOf(char32_t c, std::size_t i, std::size_t n, char32_t before, char32_t after,
                              bool augmented)
{
    const bool afterAlef = before == U'ا';
    const bool first = i == 0;
    const bool last = i + 1 == n;
    switch (c) {
    case kMergedT:
        return {{U'و', 0.2}, {U'ت', 0.3}, {kHamza, 0.4}, {U'ي', 0.7}};
    case U'إ':
    case kHamza:
        // A hamza after a long ا at the end is often a weak letter's
        // (سماء, بناء); after the ا of فاعل, a hollow root's (قائل).
        if (afterAlef && last)
            return {{U'و', 0.4}, {U'ي', 0.6}, {kHamza, 0.7}};
        if (afterAlef)
            return {{kHamza, 0.2}, {U'و', 0.3}, {U'ي', 0.4}};
        return {{kHamza, 0}};
    case U'ا':
        if (first)
            return {{kHamza, 0.3}};
        // No root letter is written ا right after the pattern's long vowel.
        if (before == U'ا' || before == U'و' || before == U'ي')
            return {};
        if (last)
            return {{U'و', 0.2}, {U'ي', 0.35}, {kHamza, 0.9}};
        return {{U'و', 0.2}, {U'ي', 0.3}, {kHamza, 0.8}};
    case U'ى':
        // ى ends every augmented form whatever the root's last letter
        // (أعطى, اشترى); only a bare فعل tells ي from و (رمى, دعا).
        if (n != 3 || augmented)
            return {{U'و', 0.2}, {U'ي', 0.2}};
        return {{U'ي', 0.2}, {U'و', 0.5}};
    case U'و':
        return {{U'و', 0}, {U'ي', first ? 1.0 : 0.8}};
    case U'ي':
        // فعلى of a root ending in و writes it ي (دنيا, عليا).
        if (last && (after == U'ا' || after == U'ى'))
            return {{U'و', 0.1}, {U'ي', 0.2}};
        // After the alef of أفعال or the م of مفعال, a first و or hamza is
        // written ي (إيجاب, إيمان, ميزان) as often as ي itself (أيدي).
        if (first && before == U'إ')
            return {{kHamza, 0.1}, {U'و', 0.1}, {U'ي', 0.3}};
        if (first && before == U'A')
            return {{U'ي', 0.1}, {kHamza, 0.15}, {U'و', 0.2}};
        if (first && before == U'م')
            return {{U'و', 0.1}, {U'ي', 0.2}, {kHamza, 0.3}};
        return {{U'ي', 0}, {U'و', first ? 1.0 : 0.8}};
    default:
        return {{c, 0}};
    }
}

} // namespace quorvel::Morph
