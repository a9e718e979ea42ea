#include "core/QuranLines.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Numbers.h"

#include <QStringList>

namespace quorvel::QuranLines {

namespace {

constexpr char16_t kOrnateOpen = u'\uFD3F';
constexpr char16_t kOrnateClose = u'\uFD3E';

std::optional<std::int64_t> number(QStringView s)
{
    return Numbers::parseInteger(Arabic::latinDigits(Characters::trimSpacesAndTabs(s).toString()));
}

} // namespace

std::optional<VerseLine> verseLine(QStringView line)
{
    const qsizetype first = line.indexOf(u'|');
    const qsizetype second = first < 0 ? -1 : line.indexOf(u'|', first + 1);
    if (second < 0)
        return std::nullopt;
    const auto sura = number(line.left(first));
    const auto verse = number(line.mid(first + 1, second - first - 1));
    if (!sura || !verse)
        return std::nullopt;
    return VerseLine{*sura, *verse, second + 1};
}

QString shown(const QString& text)
{
    if (!text.contains(u'|'))
        return text;
    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        const std::optional<VerseLine> verse = verseLine(line);
        if (!verse)
            continue;
        line = Characters::trimSpacesAndTabs(QStringView(line).mid(verse->textStart)).toString() + u' '
            + QChar(kOrnateOpen) + Arabic::num(verse->verse) + QChar(kOrnateClose);
    }
    return lines.join(u'\n');
}

} // namespace quorvel::QuranLines
