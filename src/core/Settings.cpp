#include "core/Settings.h"

#include "core/Preferences.h"


namespace quorvel::Settings {

namespace {

Preferences& d() { return Preferences::standard(); }

double positiveOr(const char* key, double fallback)
{
    const double v = d().doubleValue(key);
    return v > 0 ? v : fallback;
}

// The default-true group: only a stored Boolean can turn these off.
bool booleanOr(const char* key, bool fallback)
{
    const auto v = d().object(key);
    return v && v->is_boolean() ? v->get<bool>() : fallback;
}

} // namespace

QString readerFont() { return d().string(readerFontKey).value_or(QStringLiteral("Amiri")); }
void setReaderFont(const QString& name) { d().set(readerFontKey, name); }

double readerSize() { return positiveOr(readerSizeKey, defaultReaderSize); }
void setReaderSize(double points) { d().set(readerSizeKey, points); }

double lineSpacing() { return positiveOr(lineSpacingKey, defaultLineSpacing); }
void setLineSpacing(double points) { d().set(lineSpacingKey, points); }

bool indicDigits() { return booleanOr(indicDigitsKey, true); }
void setIndicDigits(bool on) { d().set(indicDigitsKey, on); }

bool nightReading() { return d().boolValue(nightReadingKey); }
void setNightReading(bool on) { d().set(nightReadingKey, on); }

bool quranUthmani() { return booleanOr(quranUthmaniKey, true); }
void setQuranUthmani(bool on) { d().set(quranUthmaniKey, on); }

bool restoreSession() { return booleanOr(restoreSessionKey, true); }
void setRestoreSession(bool on) { d().set(restoreSessionKey, on); }

bool checkUpdates() { return booleanOr(checkUpdatesKey, true); }
void setCheckUpdates(bool on) { d().set(checkUpdatesKey, on); }

std::int64_t skippedBuild() { return d().integerValue(skippedBuildKey); }
void setSkippedBuild(std::int64_t build) { d().set(skippedBuildKey, build); }

bool copyNoTashkeel() { return d().boolValue(copyNoTashkeelKey); }
void setCopyNoTashkeel(bool on) { d().set(copyNoTashkeelKey, on); }

bool copyNoFootnoteRefs() { return d().boolValue(copyNoFootnoteRefsKey); }
void setCopyNoFootnoteRefs(bool on) { d().set(copyNoFootnoteRefsKey, on); }

bool showTashkeel() { return booleanOr(showTashkeelKey, true); }
void setShowTashkeel(bool on) { d().set(showTashkeelKey, on); }

QColor defaultPaperColor() { return QColor::fromRgb(241, 234, 215); }

QColor parsePaperHex(const QString& text)
{
    if (text.isEmpty())
        return defaultPaperColor();
    int i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return defaultPaperColor();
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return defaultPaperColor();
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFull)
            return defaultPaperColor();
    }
    if (negative && value != 0)
        return defaultPaperColor();
    return QColor::fromRgb((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

QString paperHex(const QColor& color)
{
    // QColor keeps 16-bit sRGB components, already inside 0…1, so an
    // extended-range colour arrives clamped. Integer arithmetic makes
    // component × 255 truncate exactly (241/255 stays 241, not 240.99…).
    const QColor rgb = color.toRgb();
    auto component = [](int v16) { return static_cast<std::uint32_t>(v16) * 255u / 65535u; };
    const std::uint32_t value = component(rgb.rgba64().red()) << 16 | component(rgb.rgba64().green()) << 8
                                | component(rgb.rgba64().blue());
    return QString::number(value, 16);
}

QColor paperColor()
{
    return parsePaperHex(d().string(paperColorKey).value_or(QString()));
}

void setPaperColor(const QColor& color) { d().set(paperColorKey, paperHex(color)); }

} // namespace quorvel::Settings

