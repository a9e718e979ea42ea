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

QFont makeFont(const QString& family, QFont::Weight weight, double size)
{
    QFont font(family);
    font.setPixelSize(qMax(1, qRound(size)));
    font.setWeight(weight);
    return font;
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
    QFont font = QGuiApplication::font();
    font.setPixelSize(qMax(1, qRound(size)));
    font.setWeight(weight);
    return font;
}

constexpr char kFontsFolder[] = "Fonts";
constexpr char kQuranFontFile[] = "AmiriQuran.ttf";
// When no Quran font travels with the application, the system's copy is used.
constexpr char kQuranSystemFamily[] = "Amiri Quran";

// Placeholder colours inside the icon files, replaced by the palette.
constexpr char kPrimaryInk[] = "#010101";
constexpr char kAccentInk[] = "#020202";
constexpr char kRegularStroke[] = "stroke-width=\"1.5\"";
constexpr char kBoldStroke[] = "stroke-width=\"2\"";

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

QColor emerald()
{
    static const QColor color = rgb(0x0F5A47);
    return color;
}

QColor emeraldDeep()
{
    static const QColor color = rgb(0x0A3F32);
    return color;
}

QColor gold()
{
    static const QColor color = rgb(0xB8913A);
    return color;
}

QColor goldSoft()
{
    static const QColor color = rgb(0xD9BE7A);
    return color;
}

QColor titleRed()
{
    static const QColor color = rgb(0x8A1414);
    return color;
}

QColor pageHighlight()
{
    static const QColor color = rgb(0xF4D35E, 0.55);
    return color;
}

QColor parchment()
{
    return Settings::nightReading() ? rgb(0x1C1B17) : Settings::paperColor();
}

QColor ink()
{
    return Settings::nightReading() ? rgb(0xE6DFCC) : rgb(0x151515);
}

QColor footnoteInk()
{
    return Settings::nightReading() ? rgb(0xB9B19C) : rgb(0x3C3C3C);
}

QColor hit()
{
    return Settings::nightReading() ? rgb(0xFF6B5E) : rgb(0xC00000);
}

QColor hitMark()
{
    return Settings::nightReading() ? rgb(0x7A5A12, 0.9) : rgb(0xFFE36E, 0.95);
}

QColor hitCurrent()
{
    return Settings::nightReading() ? rgb(0xC0701A) : rgb(0xFFA630);
}

QColor hitInk()
{
    return Settings::nightReading() ? rgb(0xFFFFFF) : rgb(0x7A0000);
}

ThemeColor barTop()
{
    static const ThemeColor color = dynamic(0xF4F4F2, 0x2B2B2A);
    return color;
}

ThemeColor barBottom()
{
    static const ThemeColor color = dynamic(0xE3E3E0, 0x242423);
    return color;
}

ThemeColor barLine()
{
    static const ThemeColor color = dynamic(0xC9C9C5, 0x151515);
    return color;
}

ThemeColor panel()
{
    static const ThemeColor color = dynamic(0xFFFFFF, 0x1F1F1F);
    return color;
}

ThemeColor tabIdle()
{
    static const ThemeColor color = dynamic(0xE6E6E3, 0x2F2F2E);
    return color;
}

QPalette palette(bool dark)
{
    QPalette p;
    if (!dark) {
        p.setColor(QPalette::Window, rgb(0xECECEA));
        p.setColor(QPalette::WindowText, rgb(0x1D1D1B));
        p.setColor(QPalette::Base, rgb(0xFFFFFF));
        p.setColor(QPalette::AlternateBase, rgb(0xF4F4F2));
        p.setColor(QPalette::ToolTipBase, rgb(0xFFFFF0));
        p.setColor(QPalette::ToolTipText, rgb(0x1D1D1B));
        p.setColor(QPalette::PlaceholderText, rgb(0x8A8A86));
        p.setColor(QPalette::Text, rgb(0x1D1D1B));
        p.setColor(QPalette::Button, rgb(0xF4F4F2));
        p.setColor(QPalette::ButtonText, rgb(0x1D1D1B));
        p.setColor(QPalette::BrightText, rgb(0xFFFFFF));
        p.setColor(QPalette::Light, rgb(0xFFFFFF));
        p.setColor(QPalette::Midlight, rgb(0xE3E3E0));
        p.setColor(QPalette::Mid, rgb(0xC9C9C5));
        p.setColor(QPalette::Dark, rgb(0x9E9E9A));
        p.setColor(QPalette::Shadow, rgb(0x5A5A58));
        p.setColor(QPalette::Highlight, emerald());
        p.setColor(QPalette::HighlightedText, rgb(0xFFFFFF));
        p.setColor(QPalette::Link, emerald());
        p.setColor(QPalette::Disabled, QPalette::WindowText, rgb(0x9E9E9A));
        p.setColor(QPalette::Disabled, QPalette::Text, rgb(0x9E9E9A));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, rgb(0x9E9E9A));
    } else {
        p.setColor(QPalette::Window, rgb(0x262625));
        p.setColor(QPalette::WindowText, rgb(0xE8E6E0));
        p.setColor(QPalette::Base, rgb(0x1C1C1B));
        p.setColor(QPalette::AlternateBase, rgb(0x2B2B2A));
        p.setColor(QPalette::ToolTipBase, rgb(0x2F2F2E));
        p.setColor(QPalette::ToolTipText, rgb(0xE8E6E0));
        p.setColor(QPalette::PlaceholderText, rgb(0x8A8A86));
        p.setColor(QPalette::Text, rgb(0xE8E6E0));
        p.setColor(QPalette::Button, rgb(0x2F2F2E));
        p.setColor(QPalette::ButtonText, rgb(0xE8E6E0));
        p.setColor(QPalette::BrightText, rgb(0xFFFFFF));
        p.setColor(QPalette::Light, rgb(0x3A3A38));
        p.setColor(QPalette::Midlight, rgb(0x333331));
        p.setColor(QPalette::Mid, rgb(0x242423));
        p.setColor(QPalette::Dark, rgb(0x151515));
        p.setColor(QPalette::Shadow, rgb(0x000000));
        p.setColor(QPalette::Highlight, rgb(0x137058));
        p.setColor(QPalette::HighlightedText, rgb(0xFFFFFF));
        p.setColor(QPalette::Link, goldSoft());
        p.setColor(QPalette::Disabled, QPalette::WindowText, rgb(0x6E6E6A));
        p.setColor(QPalette::Disabled, QPalette::Text, rgb(0x6E6E6A));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, rgb(0x6E6E6A));
    }
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
