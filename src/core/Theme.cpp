#include "core/Theme.h"

#include "core/Settings.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

namespace quorvel {

QColor ThemeColor::resolve(const QPalette& palette) const
{
    return Theme::isDark(palette) ? dark_ : light_;
}

QColor ThemeColor::resolve() const
{
    return Theme::isDark() ? dark_ : light_;
}

namespace Theme {

namespace {

// The faces the interface asks for by PostScript name, as family and weight.
struct Face {
    const char* postScript;
    const char* family;
    QFont::Weight weight;
};

constexpr Face kFaces[] = {
    {"Amiri-Regular", "Amiri", QFont::Normal},
    {"Amiri-Bold", "Amiri", QFont::Bold},
    {"ArefRuqaa-Bold", "Aref Ruqaa", QFont::Bold},
    {"IBMPlexSansArabic", "IBM Plex Sans Arabic", QFont::Normal},
    {"IBMPlexSansArabic-Medium", "IBM Plex Sans Arabic", QFont::Medium},
    {"IBMPlexSansArabic-Bold", "IBM Plex Sans Arabic", QFont::Bold},
};

const Face* faceNamed(const QString& name)
{
    for (const Face& face : kFaces) {
        if (name == QLatin1String(face.postScript))
            return &face;
    }
    return nullptr;
}

// Whether a family offers a style of the given weight. Styles that report
// nothing usable count as regular.
bool familyHasWeight(const QString& family, QFont::Weight weight)
{
    if (!QFontDatabase::families().contains(family))
        return false;
    const QStringList styles = QFontDatabase::styles(family);
    if (styles.isEmpty())
        return weight == QFont::Normal;
    for (const QString& style : styles) {
        if (QFontDatabase::italic(family, style))
            continue;
        if (QFontDatabase::weight(family, style) == weight)
            return true;
    }
    return false;
}

// The font at a size in logical pixels (at least one) and a weight.
QFont sized(QFont font, QFont::Weight weight, double size)
{
    font.setPixelSize(qMax(1, qRound(size)));
    font.setWeight(weight);
    return font;
}

QFont makeFont(const QString& family, QFont::Weight weight, double size)
{
    return sized(QFont(family), weight, size);
}

// The font of a PostScript or family name at a size, or nothing.
std::optional<QFont> namedFont(const QString& name, double size, QFont::Weight weight = QFont::Normal)
{
    if (const Face* face = faceNamed(name)) {
        const QString family = QString::fromLatin1(face->family);
        if (!familyHasWeight(family, face->weight))
            return std::nullopt;
        return makeFont(family, face->weight, size);
    }
    if (name.isEmpty() || !QFontDatabase::families().contains(name))
        return std::nullopt;
    return makeFont(name, weight, size);
}

QFont systemFont(double size, QFont::Weight weight)
{
    return sized(QGuiApplication::font(), weight, size);
}

constexpr char kFontsFolder[] = "Fonts";

} // namespace

QColor rgb(std::uint32_t value, double alpha)
{
    QColor color = QColor::fromRgbF(((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0,
                                    (value & 0xFF) / 255.0);
    color.setAlphaF(float(alpha));
    return color;
}

ThemeColor dynamic(std::uint32_t light, std::uint32_t dark)
{
    return ThemeColor(rgb(light), rgb(dark));
}

double luminance(const QColor& c)
{
    auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

bool isDark()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    return isDark(QGuiApplication::palette());
}

QColor secondaryLabel()
{
    return QGuiApplication::palette().color(QPalette::PlaceholderText);
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// Fixed colours are cheap to make, so each call makes its own.
QColor emerald() { return rgb(0x0F5A47); }
QColor emeraldDeep() { return rgb(0x0A3F32); }
QColor gold() { return rgb(0xB8913A); }
QColor goldSoft() { return rgb(0xD9BE7A); }
ThemeColor accent() { return {emerald(), goldSoft()}; }
QColor titleRed() { return rgb(0x8A1414); }

namespace {
constexpr std::uint32_t kTitleNight = 0xE39787;
} // namespace

ThemeColor title() { return {titleRed(), rgb(kTitleNight)}; }
namespace {
constexpr std::uint32_t kSecondaryLight = 0x62625E;
constexpr std::uint32_t kSecondaryDark = 0xB0B0AA;
constexpr std::uint32_t kGoldDeep = 0x8C6A1C;
} // namespace

ThemeColor secondary() { return dynamic(kSecondaryLight, kSecondaryDark); }
ThemeColor goldInk() { return {rgb(kGoldDeep), gold()}; }
ThemeColor hitSymbol() { return dynamic(0xC00000, 0xFF6B5E); }
ThemeColor controlBorder() { return dynamic(0x7A7A76, 0x8A8A86); }
ThemeColor onAccent() { return dynamic(0xFFFFFF, 0x1C1C1B); }
ThemeColor chartInk() { return dynamic(0x4A4A4A, 0xB9B19C); }
ThemeColor track() { return dynamic(0xA8A8A6, 0x8A8A86); }

namespace {
// The day colour, or the night colour while night reading is on.
QColor byNight(const QColor& day, const QColor& night)
{
    return Settings::nightReading() ? night : day;
}
} // namespace

QColor parchment()
{
    return Settings::nightReading() ? rgb(0x1C1B17) : Settings::paperColor();
}

QColor ink() { return byNight(rgb(0x151515), rgb(0xE6DFCC)); }
QColor footnoteInk() { return byNight(rgb(0x3C3C3C), rgb(0xB9B19C)); }
QColor heading() { return byNight(titleRed(), rgb(kTitleNight)); }
QColor hit() { return byNight(hitSymbol().light(), hitSymbol().dark()); }
QColor pageHighlight() { return byNight(rgb(0xF4D35E, 0.55), rgb(0x574614)); }
QColor verseMark() { return byNight(goldInk().light(), goldSoft()); }
QColor hitMark() { return byNight(rgb(0xFFE36E, 0.95), rgb(0x7A5A12, 0.9)); }
// By night the current hit is dark enough for its white letters to read at 4.5:1.
QColor hitCurrent() { return byNight(rgb(0xFFA630), rgb(0xA65A0C)); }
QColor hitGlow() { return byNight(rgb(0xFFA630).lighter(125), rgb(0xB35400)); }
QColor hitInk() { return byNight(rgb(0x7A0000), rgb(0xFFFFFF)); }

ThemeColor barTop() { return dynamic(0xF4F4F2, 0x2B2B2A); }
ThemeColor barBottom() { return dynamic(0xE3E3E0, 0x242423); }
ThemeColor barLine() { return dynamic(0xC9C9C5, 0x151515); }
ThemeColor panel() { return dynamic(0xFFFFFF, 0x1F1F1F); }
ThemeColor tabIdle() { return dynamic(0xE6E6E3, 0x2F2F2E); }

QPalette palette(bool dark)
{
    // Each role with its light and its dark value; the roles drawn in brand
    // colours follow the table.
    struct Role {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
        std::uint32_t light;
        std::uint32_t dark;
    };
    static constexpr Role roles[] = {
        {QPalette::All, QPalette::Window, 0xECECEA, 0x262625},
        {QPalette::All, QPalette::WindowText, 0x1D1D1B, 0xE8E6E0},
        {QPalette::All, QPalette::Base, 0xFFFFFF, 0x1C1C1B},
        {QPalette::All, QPalette::AlternateBase, 0xF4F4F2, 0x2B2B2A},
        {QPalette::All, QPalette::ToolTipBase, 0xFFFFF0, 0x2F2F2E},
        {QPalette::All, QPalette::ToolTipText, 0x1D1D1B, 0xE8E6E0},
        {QPalette::All, QPalette::PlaceholderText, kSecondaryLight, kSecondaryDark},
        {QPalette::All, QPalette::Text, 0x1D1D1B, 0xE8E6E0},
        {QPalette::All, QPalette::Button, 0xF4F4F2, 0x2F2F2E},
        {QPalette::All, QPalette::ButtonText, 0x1D1D1B, 0xE8E6E0},
        {QPalette::All, QPalette::BrightText, 0xFFFFFF, 0xFFFFFF},
        {QPalette::All, QPalette::Light, 0xFFFFFF, 0x3A3A38},
        {QPalette::All, QPalette::Midlight, 0xE3E3E0, 0x333331},
        {QPalette::All, QPalette::Mid, 0xC9C9C5, 0x242423},
        {QPalette::All, QPalette::Dark, 0x9E9E9A, 0x151515},
        {QPalette::All, QPalette::Shadow, 0x5A5A58, 0x000000},
        {QPalette::All, QPalette::HighlightedText, 0xFFFFFF, 0xFFFFFF},
        {QPalette::Disabled, QPalette::WindowText, 0x9E9E9A, 0x6E6E6A},
        {QPalette::Disabled, QPalette::Text, 0x9E9E9A, 0x6E6E6A},
        {QPalette::Disabled, QPalette::ButtonText, 0x9E9E9A, 0x6E6E6A},
    };
    QPalette p;
    for (const Role& entry : roles)
        p.setColor(entry.group, entry.role, rgb(dark ? entry.dark : entry.light));
    p.setColor(QPalette::All, QPalette::Highlight, dark ? rgb(0x137058) : emerald());
    p.setColor(QPalette::All, QPalette::Link, dark ? goldSoft() : emerald());
    return p;
}

QString resourcesDir()
{
    if (!QCoreApplication::instance())
        return {};
    const QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quorvel"));
    return dir.exists() ? dir.canonicalPath() : QString();
}

int registerFontsIn(const QString& folder)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return 0;
    int registered = 0;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString suffix = entry.suffix().toLower();
        if (suffix != QLatin1String("ttf") && suffix != QLatin1String("otf"))
            continue;
        if (QFontDatabase::addApplicationFont(entry.absoluteFilePath()) >= 0)
            ++registered;
    }
    return registered;
}

void registerFonts()
{
    // Once per process: registering a file again would only add duplicate faces.
    static std::once_flag once;
    std::call_once(once, [] {
        const QString base = resourcesDir();
        if (!base.isEmpty())
            registerFontsIn(base + QLatin1Char('/') + QLatin1String(kFontsFolder));
    });
}

bool hasFace(const QString& name)
{
    return namedFont(name, 13).has_value();
}

QFont reader(double size, bool bold)
{
    QString name = Settings::readerFont();
    if (name == QLatin1String("Amiri"))
        name = bold ? QStringLiteral("Amiri-Bold") : QStringLiteral("Amiri-Regular");
    if (auto font = namedFont(name, size))
        return *font;
    if (auto font = namedFont(QStringLiteral("Amiri-Regular"), size))
        return *font;
    return systemFont(size, QFont::Normal);
}

QFont quran(double size)
{
    static constexpr char kQuranFontFile[] = "AmiriQuran.ttf";
    // When no Quran font travels with the application, the system's copy is used.
    static constexpr char kQuranSystemFamily[] = "Amiri Quran";
    // The family is looked up once; later calls only size it.
    static const QString family = [] {
        const QString base = resourcesDir();
        if (!base.isEmpty()) {
            const QString file = base + QLatin1Char('/') + QLatin1String(kFontsFolder) +
                                 QLatin1Char('/') + QLatin1String(kQuranFontFile);
            const int id = QFileInfo::exists(file) ? QFontDatabase::addApplicationFont(file) : -1;
            if (id >= 0) {
                const QStringList families = QFontDatabase::applicationFontFamilies(id);
                if (!families.isEmpty())
                    return families.first();
            }
        }
        const QString system = QString::fromLatin1(kQuranSystemFamily);
        return QFontDatabase::families().contains(system) ? system : QString();
    }();
    if (family.isEmpty())
        return reader(size, false);
    return makeFont(family, QFont::Normal, size);
}

QFont ui(double size, QFont::Weight weight)
{
    QString face;
    switch (weight) {
    case QFont::Bold:
    case QFont::ExtraBold:
    case QFont::Black:
    case QFont::DemiBold:
        face = QStringLiteral("IBMPlexSansArabic-Bold");
        break;
    case QFont::Medium:
        face = QStringLiteral("IBMPlexSansArabic-Medium");
        break;
    default:
        face = QStringLiteral("IBMPlexSansArabic");
        break;
    }
    if (auto font = namedFont(face, size))
        return *font;
    return systemFont(size, weight);
}

QFont logo(double size)
{
    if (auto font = namedFont(QStringLiteral("ArefRuqaa-Bold"), size))
        return *font;
    return reader(size, true);
}

namespace {

// Placeholder colours inside the icon files, replaced by the palette.
constexpr char kPrimaryInk[] = "#010101";
constexpr char kAccentInk[] = "#020202";
// A mark cut into a shape of the primary ink (the × of a close box, the
// arrow in a disc): white, or near black where white would not read on it.
constexpr char kMarkInk[] = "#030303";
constexpr std::uint32_t kMarkLight = 0xFFFFFF;
constexpr std::uint32_t kMarkDark = 0x1C1C1B;

constexpr char kRegularStroke[] = "stroke-width=\"1.5\"";
constexpr char kBoldStroke[] = "stroke-width=\"2\"";

} // namespace

QPixmap symbolPixmap(const QString& name, double size, const QList<QColor>& colors,
                     QFont::Weight weight, double devicePixelRatio)
{
    // Pixmaps need a GUI application; headless modes get no symbols.
    if (name.isEmpty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    QFile file(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();

    const QColor primary = colors.isEmpty() ? emerald() : colors.at(0);
    const QColor accent = colors.isEmpty() ? gold() : colors.value(1, primary);
    // Each palette colour keeps its own alpha, so a faded accent fades only
    // the parts drawn in it.
    auto paint = [&svg](const char* ink, const QColor& color) {
        const QByteArray hex = color.name(QColor::HexRgb).toLatin1();
        for (const char* property : {"fill", "stroke"}) {
            const QByteArray placeholder = QByteArray(property) + "=\"" + ink + '"';
            QByteArray painted = QByteArray(property) + "=\"" + hex + '"';
            if (color.alphaF() < 1)
                painted += ' ' + QByteArray(property) + "-opacity=\"" + QByteArray::number(color.alphaF()) + '"';
            svg.replace(placeholder, painted);
        }
    };
    paint(kPrimaryInk, primary);
    paint(kAccentInk, accent);
    // White reads better on the shape when the shape is darker than the
    // point where both marks contrast alike.
    const double shape = luminance(primary);
    const double dark = luminance(rgb(kMarkDark));
    const bool whiteReads = (1.0 + 0.05) / (shape + 0.05) >= (shape + 0.05) / (dark + 0.05);
    paint(kMarkInk, rgb(whiteReads ? kMarkLight : kMarkDark));
    if (weight >= QFont::DemiBold)
        svg.replace(kRegularStroke, kBoldStroke);

    QBuffer buffer(&svg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "svg");
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    reader.setScaledSize(QSize(pixels, pixels));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon symbol(const QString& name, double size, const QList<QColor>& colors, QFont::Weight weight)
{
    const QPixmap pixmap = symbolPixmap(name, size, colors, weight);
    if (pixmap.isNull())
        return {};
    return QIcon(pixmap);
}

} // namespace Theme
} // namespace quorvel
