#include "assistant/AIMode.h"

#include <array>

namespace quorvel {

namespace {

struct ModeTexts {
    const char16_t* raw;
    const char16_t* title;
    const char16_t* hint;
    const char16_t* help;
    bool usesModel;
};

const std::array<ModeTexts, 10>& modeTexts()
{
    static const std::array<ModeTexts, 10> table{{
        {u"auto", u"تلقائي",
         u"اسأل أي سؤال… مثال: من هو ابن تيمية؟ ما معنى الغرر؟ أقوال العلماء في المسح على الخفين",
         u"يفهم صيغة سؤالك فيختار نوع الإجابة: جواب، أو أقوال العلماء، أو ترجمة، أو تعريف، أو تطور مسألة، أو مواضع نص، أو مصادر",
         true},
        {u"answer", u"إجابة موجزة", u"اسأل الكتب… مثال: ما شروط وجوب الزكاة؟",
         u"جواب مباشر مع الاقتباسات الداعمة", true},
        {u"report", u"تقرير بحثي", u"موضوع التقرير… مثال: المسح على الخفين",
         u"ملخص ثم أقسام لكل مسألة، ومواضع الخلاف، وما لم تغطه المصادر", true},
        {u"views", u"أقوال العلماء", u"المسألة… مثال: قراءة الفاتحة خلف الإمام",
         u"قول كل عالم بنصه، مرتبة بوفاة أصحابها، دون ترجيح", true},
        {u"biography", u"ترجمة علم", u"اسم العلم… مثال: أحمد بن علي بن حجر العسقلاني",
         u"بطاقة العلم ومؤلفاته في المكتبة، وما قالته عنه كتب التراجم", true},
        {u"term", u"تعريف مصطلح", u"المصطلح أو الكلمة… مثال: الغرر",
         u"التعريف في كتب اللغة والمعاجم ثم في سائر الكتب، وعدد مواضع ورود الكلمة", true},
        {u"history", u"تطور المسألة عبر القرون", u"المسألة… مثال: بيع الغرر",
         u"ما قيل في المسألة قرنا بعد قرن، بنصوص أصحابه", true},
        {u"takhrij", u"مواضع نص في الكتب", u"الصق النص… مثال: إنما الأعمال بالنيات",
         u"كل الكتب التي أوردت النص بلفظه، مرتبة من الأقدم", false},
        {u"sources", u"مصادر الموضوع", u"الموضوع… مثال: الزكاة",
         u"الكتب الأوسع تناولا للموضوع والأقدم، بعدد صفحاتها فيه", false},
        {u"data", u"جداول وبيانات", u"اطلب جدولا… مثال: عدد الكتب حسب القرن، أو ورود «الزكاة» حسب القسم",
         u"جداول ورسوم من فهرس المكتبة: قوائم كتب ومؤلفين، وأعداد حسب القرن والقسم، وورود الألفاظ ومقارنتها",
         false},
    }};
    return table;
}

const ModeTexts& textsOf(AIMode mode)
{
    return modeTexts()[static_cast<std::size_t>(static_cast<AIMode::Value>(mode))];
}

} // namespace

std::optional<AIMode> AIMode::fromRawValue(const QString& name)
{
    for (const AIMode mode : allCases()) {
        if (name == QStringView(textsOf(mode).raw))
            return mode;
    }
    return std::nullopt;
}

const QList<AIMode>& AIMode::allCases()
{
    static const QList<AIMode> cases{automatic, answer, report, views, biography,
                                     term, history, takhrij, sources, data};
    return cases;
}

QString AIMode::rawValue() const { return QString::fromUtf16(textsOf(*this).raw); }
QString AIMode::title() const { return QString::fromUtf16(textsOf(*this).title); }
QString AIMode::hint() const { return QString::fromUtf16(textsOf(*this).hint); }
QString AIMode::help() const { return QString::fromUtf16(textsOf(*this).help); }
bool AIMode::usesModel() const { return textsOf(*this).usesModel; }

} // namespace quorvel
