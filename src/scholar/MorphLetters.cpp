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

} // namespace quorvel::Morph
