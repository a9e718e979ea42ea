#include "assistant/Reports.h"

#include "core/Arabic.h"

namespace quorvel::Reports {

const Forms& kutub()
{
    static const Forms forms{QStringLiteral("كتاب واحد"), QStringLiteral("كتابين"),
                             QStringLiteral("كتب"), QStringLiteral("كتابا")};
    return forms;
}

const Forms& safahat()
{
    static const Forms forms{QStringLiteral("صفحة واحدة"), QStringLiteral("صفحتين"),
                             QStringLiteral("صفحات"), QStringLiteral("صفحة")};
    return forms;
}

const Forms& mawadi()
{
    static const Forms forms{QStringLiteral("موضع واحد"), QStringLiteral("موضعين"),
                             QStringLiteral("مواضع"), QStringLiteral("موضعا")};
    return forms;
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

QString count(long long m, const Forms& forms)
{
    if (m == 1)
        return forms[0];
    if (m == 2)
        return forms[1];
    // C++ keeps the sign of the dividend, so a negative count takes the
    // accusative form.
    const long long rest = m % 100;
    return Arabic::num(m) + QLatin1Char(' ') + (rest >= 3 && rest <= 10 ? forms[2] : forms[3]);
}

} // namespace quorvel::Reports
