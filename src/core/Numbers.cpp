#include "core/Numbers.h"

namespace quorvel::Numbers {

std::optional<std::int64_t> parseInteger(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    const qsizetype start = (text[0] == u'+' || text[0] == u'-') ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (qsizetype k = start; k < text.size(); ++k)
        if (text[k] < u'0' || text[k] > u'9')
            return std::nullopt;
    bool ok = false;
    const std::int64_t value = text.toLongLong(&ok); // false past 64 bits
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

} // namespace quorvel::Numbers
