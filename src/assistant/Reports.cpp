#include "assistant/Reports.h"

#include "core/Arabic.h"

namespace quorvel::Reports {

const CountedNoun& tabaat()
{
    static const CountedNoun noun(QStringLiteral("طبعة"), QStringLiteral("طبعتان"), QStringLiteral("طبعات"),
                                  QStringLiteral("طبعة"));
    return noun;
}

const CountedNoun& mawadi()
{
    static const CountedNoun noun(QStringLiteral("موضع"), QStringLiteral("موضعان"), QStringLiteral("مواضع"),
                                  QStringLiteral("موضعا"));
    return noun;
}

const std::array<QString, 16>& centuryNames()
{
    static const std::array<QString, 16> names{
        QString(),
        QStringLiteral("الأول"), QStringLiteral("الثاني"), QStringLiteral("الثالث"),
        QStringLiteral("الرابع"), QStringLiteral("الخامس"), QStringLiteral("السادس"),
        QStringLiteral("السابع"), QStringLiteral("الثامن"), QStringLiteral("التاسع"),
        QStringLiteral("العاشر"), QStringLiteral("الحادي عشر"), QStringLiteral("الثاني عشر"),
        QStringLiteral("الثالث عشر"), QStringLiteral("الرابع عشر"), QStringLiteral("الخامس عشر")};
    return names;
}


} // namespace quorvel::Reports
