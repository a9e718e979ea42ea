#pragma once

// Questions a reader of the sample library asks the assistant: rulings, a
// rare word, names, and long questions whose words are seldom all on one
// page, so that retrieval reaches its OR pass.

#include <QStringList>

namespace quorvel::bench {

inline const QStringList& assistantQuestions()
{
    static const QStringList questions{
        QStringLiteral("ما حكم صلاة الجماعة"),
        QStringLiteral("هل يجوز التيمم بالتراب"),
        QStringLiteral("ما حكم الوضوء من لحوم الإبل"),
        QStringLiteral("هل يجب الغسل يوم الجمعة"),
        QStringLiteral("ما حكم بيع الغرر"),
        QStringLiteral("زكاة الفطر على من تجب"),
        QStringLiteral("هل تصح الصلاة في الثوب الواحد"),
        QStringLiteral("ما حكم المسح على الخفين"),
        QStringLiteral("صيام يوم عاشوراء"),
        QStringLiteral("هل يحرم نكاح المتعة"),
        QStringLiteral("رفع اليدين في الصلاة عند الركوع"),
        QStringLiteral("فتح مصر وصلح أهلها"),
        QStringLiteral("معنى الغرر في اللغة"),
        QStringLiteral("الخرنق"),
        QStringLiteral("ابن حجر العسقلاني صاحب التقريب"),
        QStringLiteral("سبب نزول آية الكرسي"),
        QStringLiteral("الإيمان قول وعمل يزيد وينقص عند أهل السنة والجماعة ومن خالفهم من الفرق"),
        QStringLiteral("ما جرى في وقعة صفين بين علي ومعاوية من القتال ثم التحكيم ورفع المصاحف"),
        QStringLiteral("ما يقول الشافعي في الرسالة عن خبر الواحد وحجيته في الأحكام والناسخ والمنسوخ"),
        QStringLiteral("القراءة خلف الإمام في الصلاة الجهرية والسرية وقول أهل المدينة فيها"),
    };
    return questions;
}

} // namespace quorvel::bench
