#include "ui/WindowTestSupport.h"

#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace quorvel;

namespace {

class ThemeTest : public test::WindowTest {
protected:
    ThemeTest() : WindowTest({Settings::nightReadingKey, Settings::paperColorKey, Settings::readerFontKey}) {}
    void TearDown() override { clearPreferences(); }
};

// The file of an installed font family, through the system's font lookup.
QString systemFontFile(const QString& family)
{
    QProcess match;
    match.start(QStringLiteral("fc-match"), {QStringLiteral("-f"), QStringLiteral("%{file}"), family});
    if (!match.waitForFinished(5000) || match.exitCode() != 0)
        return {};
    const QString file = QString::fromLocal8Bit(match.readAllStandardOutput()).trimmed();
    return file.contains(family, Qt::CaseInsensitive) ? file : QString();
}

} // namespace

TEST_F(ThemeTest, rgbIgnoresBitsAboveTwentyFourAndMatchesTheFixedColours)
{
    EXPECT_EQ(Theme::rgb(0x1FF0000), QColor::fromRgbF(1, 0, 0));
    EXPECT_EQ(Theme::rgb(0x0F5A47), Theme::emerald());
    EXPECT_EQ(Theme::rgb(0x0A3F32).rgb(), Theme::emeraldDeep().rgb());
    EXPECT_NEAR(Theme::rgb(0x123456, 0.3).alphaF(), 0.3, 1e-3);
    EXPECT_NEAR(Theme::pageHighlight().alphaF(), 0.55, 1e-3);
}

TEST_F(ThemeTest, nightReadingColoursAreReadOnEveryAccess)
{
    Settings::setPaperColor(Theme::rgb(0x102030));
    EXPECT_EQ(Theme::parchment().rgb(), Theme::rgb(0x102030).rgb());
    Settings::setPaperColor(Theme::rgb(0xAABBCC));
    EXPECT_EQ(Theme::parchment().rgb(), Theme::rgb(0xAABBCC).rgb());
    EXPECT_NEAR(Theme::hitMark().alphaF(), 0.95, 1e-3);
    EXPECT_EQ(Theme::hit().rgb(), Theme::rgb(0xC00000).rgb());

    Settings::setNightReading(true);
    EXPECT_EQ(Theme::parchment().rgb(), Theme::rgb(0x1C1B17).rgb());
    EXPECT_NEAR(Theme::hitMark().alphaF(), 0.9, 1e-3);
    EXPECT_EQ(Theme::hit().rgb(), Theme::rgb(0xFF6B5E).rgb());
    EXPECT_EQ(Theme::ink().rgb(), Theme::rgb(0xE6DFCC).rgb());
}

TEST_F(ThemeTest, appearanceColoursResolveByPalette)
{
    const QPalette light = Theme::palette(false);
    const QPalette dark = Theme::palette(true);
    EXPECT_FALSE(Theme::isDark(light));
    EXPECT_TRUE(Theme::isDark(dark));
    EXPECT_EQ(Theme::barTop().resolve(light).rgb(), Theme::rgb(0xF4F4F2).rgb());
    EXPECT_EQ(Theme::barTop().resolve(dark).rgb(), Theme::rgb(0x2B2B2A).rgb());
    EXPECT_EQ(Theme::barLine().resolve(dark).rgb(), Theme::rgb(0x151515).rgb());
    EXPECT_EQ(Theme::tabIdle().resolve(light).rgb(), Theme::rgb(0xE6E6E3).rgb());
    EXPECT_FALSE(ThemeColor(Theme::gold()).isDynamic());
}

TEST_F(ThemeTest, readerFontFallsBackToAmiriRegular)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Amiri")))
        GTEST_SKIP() << "Amiri is not installed";
    Settings::setReaderFont(QStringLiteral("No Such Face"));
    QFont font = Theme::reader(20);
    EXPECT_EQ(font.family(), QStringLiteral("Amiri"));
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_EQ(font.pixelSize(), 20);

    Settings::setReaderFont(QStringLiteral("Amiri"));
    EXPECT_EQ(Theme::reader(20, true).weight(), QFont::Bold);
    EXPECT_EQ(Theme::reader(20, false).weight(), QFont::Normal);

    // Any other existing name is used as it is; bold is then ignored.
    QString other;
    for (const QString& family : QFontDatabase::families()) {
        if (!family.startsWith(QStringLiteral("Amiri"))) {
            other = family;
            break;
        }
    }
    ASSERT_FALSE(other.isEmpty());
    Settings::setReaderFont(other);
    EXPECT_EQ(Theme::reader(20, true).family(), other);
    EXPECT_EQ(Theme::reader(20, true).weight(), QFont::Normal);
}

TEST_F(ThemeTest, unpackagedFacesFallBack)
{
    // The interface face is not installed here: the system font keeps the weight.
    if (Theme::hasFace(QStringLiteral("IBMPlexSansArabic")))
        GTEST_SKIP() << "the interface face is installed";
    EXPECT_EQ(Theme::ui(13, QFont::DemiBold).weight(), QFont::DemiBold);
    EXPECT_EQ(Theme::ui().pixelSize(), 13);
    // The logo face is not installed either: the bold reading font stands in.
    const QFont logo = Theme::logo(40);
    EXPECT_EQ(logo.family(), Theme::reader(40, true).family());
    EXPECT_EQ(logo.weight(), Theme::reader(40, true).weight());
    // The Quran face is the system's Amiri Quran, else the reading font.
    const bool hasQuran = QFontDatabase::families().contains(QStringLiteral("Amiri Quran"));
    EXPECT_EQ(Theme::quran(30).family(), hasQuran ? QStringLiteral("Amiri Quran") : Theme::reader(30).family());
}

TEST_F(ThemeTest, registersOnlyTtfAndOtfFilesWhateverTheirCase)
{
    const QString source = systemFontFile(QStringLiteral("Amiri"));
    if (source.isEmpty())
        GTEST_SKIP() << "no font file to copy";
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(source, dir.filePath(QStringLiteral("one.TTF"))));
    ASSERT_TRUE(QFile::copy(source, dir.filePath(QStringLiteral("two.otf"))));
    ASSERT_TRUE(QFile::copy(source, dir.filePath(QStringLiteral("three.woff"))));
    QFile junk(dir.filePath(QStringLiteral("broken.ttf")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a font");
    junk.close();
    EXPECT_EQ(Theme::registerFontsIn(dir.path()), 2);
    EXPECT_EQ(Theme::registerFontsIn(dir.filePath(QStringLiteral("missing"))), 0);
}

TEST_F(ThemeTest, symbolsAreTintedAndUnknownNamesGiveNothing)
{
    EXPECT_TRUE(Theme::symbol(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(Theme::symbolPixmap(QString(), 18).isNull());

    const QPixmap pixmap = Theme::symbolPixmap(QStringLiteral("minus.circle.fill"), 40, {Qt::red, Qt::white}, QFont::Normal, 1);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.size(), QSize(40, 40));
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    // The disc takes the first colour, the minus the second; the corner is empty.
    EXPECT_EQ(QColor(image.pixel(7, 20)).rgb(), QColor(Qt::red).rgb());
    EXPECT_EQ(QColor(image.pixel(20, 20)).rgb(), QColor(Qt::white).rgb());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);

    // A faded colour fades only its own parts.
    QColor halfRed(Qt::red);
    halfRed.setAlphaF(0.5);
    const QImage faded = Theme::symbolPixmap(QStringLiteral("minus.circle.fill"), 40, {halfRed, Qt::white}, QFont::Normal, 1)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    EXPECT_NEAR(qAlpha(faded.pixel(7, 20)), 128, 3);
    EXPECT_EQ(qAlpha(faded.pixel(20, 20)), 255);

    // A mark cut into its shape (the close box's ×, the arrow in a disc) is
    // white on a dark shape and near black on a light one, whatever the
    // appearance: on the night's light red and grey it would be lost in white.
    struct Shape {
        const char* symbol;
        QColor color;
        QRgb mark;
    };
    const QList<Shape> shapes{
        {"xmark.square.fill", Theme::hitSymbol().light(), qRgb(0xFF, 0xFF, 0xFF)},
        {"xmark.square.fill", Theme::hitSymbol().dark(), qRgb(0x1C, 0x1C, 0x1B)},
        {"arrow.right.circle.fill", QColor(0x62, 0x62, 0x5E), qRgb(0xFF, 0xFF, 0xFF)},
        {"arrow.right.circle.fill", QColor(0xB0, 0xB0, 0xAA), qRgb(0x1C, 0x1C, 0x1B)},
        {"stop.circle.fill", QColor(0xD9, 0xBE, 0x7A), qRgb(0x1C, 0x1C, 0x1B)},
    };
    for (const Shape& shape : shapes) {
        const QImage drawn = Theme::symbolPixmap(QString::fromLatin1(shape.symbol), 24, {shape.color}, QFont::Normal, 1)
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(drawn.isNull()) << shape.symbol;
        EXPECT_EQ(drawn.pixel(12, 12) | 0xFF000000, shape.mark) << shape.symbol << " on " << shape.color.name().toStdString();
        EXPECT_EQ(QColor(drawn.pixel(4, 12)).rgb(), shape.color.rgb()) << shape.symbol;
    }
    // The source button's picture, drawn in its faded red, shows through the
    // page instead of vanishing on top of it.
    const QImage page = Theme::symbolPixmap(QStringLiteral("doc.richtext.fill"), 24, {Qt::red, halfRed}, QFont::Normal, 1)
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32);
    EXPECT_NEAR(qAlpha(page.pixel(9, 10)), 128, 3);
    EXPECT_EQ(qAlpha(page.pixel(6, 6)), 255);
}

TEST_F(ThemeTest, everySymbolTheWindowsNameExists)
{
    for (const char* name : {"books.vertical.fill", "book.fill", "magnifyingglass", "sparkles", "square.and.pencil",
                             "pencil.and.scribble", "square.and.arrow.down.fill", "rectangle.on.rectangle",
                             "gearshape.fill", "envelope.fill", "leaf.fill", "doc.richtext.fill", "chevron.down",
                             "book.closed.fill", "xmark.square.fill", "book.closed"}) {
        EXPECT_FALSE(Theme::symbol(QString::fromLatin1(name), 16).isNull()) << name;
    }
    // A book tab's symbol is a solid cover: its lower half away from the spine
    // is filled, not cut by a stray diagonal.
    const QImage book = Theme::symbolPixmap(QStringLiteral("book.closed.fill"), 24, {Qt::blue, Qt::red}, QFont::Normal, 1)
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32);
    for (const QPoint inside : {QPoint(16, 14), QPoint(12, 16), QPoint(17, 5)})
        EXPECT_EQ(QColor(book.pixel(inside)).rgb(), QColor(Qt::blue).rgb()) << inside.x() << "," << inside.y();
}

TEST_F(ThemeTest, everyRoleStandsOutFromWhatItIsDrawnOnByDayAndByNight)
{
    // Body text needs 4.5:1; large headings and symbols 3:1. Some day
    // colours stay as they were and are held to the rule by night only.
    const auto app = [](QPalette::ColorRole role) { return QApplication::palette().color(role); };
    struct Pair {
        const char* what;
        std::function<QColor()> foreground;
        std::function<QColor()> background;
        double minimum;
        bool byDay;
    };
    const Pair pairs[] = {
        {"page text", [] { return Theme::ink(); }, [] { return Theme::parchment(); }, 4.5, true},
        {"chapter heading on the page", [] { return Theme::heading(); }, [] { return Theme::parchment(); }, 3, true},
        {"book title on the header's top", [] { return Theme::title().resolve(); }, [] { return Theme::barTop().resolve(); }, 3, true},
        {"book title on the header's foot", [] { return Theme::title().resolve(); }, [] { return Theme::barBottom().resolve(); }, 3, true},
        {"symbol on a bar's top", [] { return Theme::accent().resolve(); }, [] { return Theme::barTop().resolve(); }, 3, true},
        {"symbol on a bar's foot", [] { return Theme::accent().resolve(); }, [] { return Theme::barBottom().resolve(); }, 3, true},
        {"link and sender on the assistant's page", [] { return Theme::accent().resolve(); }, [] { return Theme::parchment(); }, 4.5, true},
        {"results table", [&] { return app(QPalette::Text); }, [&] { return app(QPalette::Base); }, 4.5, true},
        {"gold symbol on a bar", [] { return Theme::gold(); }, [] { return Theme::barTop().resolve(); }, 3, false},
        {"slider track on the footer", [] { return Theme::track().resolve(); }, [] { return Theme::barTop().resolve(); }, 3, false},
        {"hit counter on a bar", [] { return Theme::secondaryLabel(); }, [] { return Theme::barTop().resolve(); }, 4.5, false},
        {"current search hit on the page", [] { return Theme::hitInk(); }, [] { return Theme::hitCurrent(); }, 4.5, true},
    };
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        QApplication::setPalette(Theme::palette(night));
        for (const Pair& pair : pairs) {
            if (!night && !pair.byDay)
                continue;
            EXPECT_GE(Theme::contrast(pair.foreground(), pair.background()), pair.minimum)
                << pair.what << (night ? " by night" : " by day");
        }
    }
    QApplication::setPalette(Theme::palette(false));
}
