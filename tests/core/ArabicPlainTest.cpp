#include "core/Arabic.h"
#include "core/ArabicPlain.h"

#include "ArabicTestUtil.h"

#include <gtest/gtest.h>

using namespace quorvel;

// The books quote the Quran in the plain spelling: each Uthmani writing is
// searched by the normal form of that spelling.
TEST(ArabicPlain, theUthmaniScriptIsSearchedInThePlainSpelling)
{
    const struct {
        const char16_t* uthmani;
        const char16_t* plain;
    } cases[] = {
        // A vocative joined to its noun, the alif of ءا, the silent alif.
        {u"يَـٰٓأَيُّهَا ٱلَّذِينَ ءَامَنُوا۟ كُتِبَ عَلَيْكُمُ ٱلصِّيَامُ", u"يا ايها الذين امنوا كتب عليكم الصيام"},
        {u"يَـٰٓـَٔادَمُ ٱسْكُنْ", u"يا ادم اسكن"},
        {u"هَـٰٓأَنتُمْ هَـٰٓؤُلَآءِ", u"ها انتم هؤلاء"},
        // The superscript alef written out, except where the plain spelling
        // leaves it unwritten too.
        {u"ذَٰلِكَ ٱلْكِتَـٰبُ لَا رَيْبَ ۛ فِيهِ", u"ذلك الكتاب لا ريب فيه"},
        {u"ٱللَّهُ لَآ إِلَـٰهَ إِلَّا هُوَ ٱلْحَىُّ ٱلْقَيُّومُ", u"الله لا اله الا هو الحي القيوم"},
        {u"بِسْمِ ٱللَّهِ ٱلرَّحْمَـٰنِ ٱلرَّحِيمِ", u"بسم الله الرحمن الرحيم"},
        {u"أُو۟لَـٰٓئِكَ عَلَىٰ هُدًى", u"اولئك علي هدي"},
        {u"وَأَقِيمُوا۟ ٱلصَّلَوٰةَ وَءَاتُوا۟ ٱلزَّكَوٰةَ", u"واقيموا الصلاه واتوا الزكاه"},
        {u"فَـَٔاتَىٰهُمُ ٱللَّهُ", u"فاتاهم الله"},
        // The hamza on a tatweel takes its seat; the small yeh of a letter is
        // written, that of a pronoun's vowel is not.
        {u"يَسْـَٔلُونَكَ عَنِ ٱلسَّيِّـَٔاتِ", u"يسالونك عن السيئات"},
        {u"وَلَا يَـُٔودُهُۥ وَلَلْـَٔاخِرَةُ", u"ولا يؤوده وللاخره"},
        {u"إِبْرَٰهِـۧمَ بِهِۦ يُحْىِۦ", u"ابراهيم به يحيي"},
        // A text already plain is left as it is.
        {u"يا أيها الذين آمنوا", u"يا ايها الذين امنوا"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Arabic::normalize(Arabic::plainSpelling(QString::fromUtf16(c.uthmani)), true), QString::fromUtf16(c.plain))
            << QString::fromUtf16(c.uthmani).toStdString();
}
