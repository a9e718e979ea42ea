#pragma once

// The palette and the font set of every window. Three kinds of colour exist:
// fixed brand colours, colours that follow the night-reading preference at the
// moment they are asked for, and colours that follow the appearance (light or
// dark) at the moment they are drawn. The appearance is read from the palette
// in force: a palette whose window colour is dark is the dark appearance, so
// the application palette chosen at start-up (and any widget's own palette)
// decides.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QPalette>
#include <QString>

#include <cstdint>

namespace quorvel {

// A colour that may resolve differently in the light and the dark appearance.
// A fixed colour resolves to itself in both.
class ThemeColor {
public:
    ThemeColor() = default;
    ThemeColor(const QColor& fixed) : light_(fixed), dark_(fixed) {} // NOLINT: implicit on purpose
    ThemeColor(const QColor& light, const QColor& dark) : light_(light), dark_(dark) {}

    // The colour for a palette: the dark value when the palette is dark.
    QColor resolve(const QPalette& palette) const;
    // The colour under the application's palette.
    QColor resolve() const;
    QColor light() const { return light_; }
    QColor dark() const { return dark_; }
    bool isDynamic() const { return light_ != dark_; }

private:
    QColor light_;
    QColor dark_;
};

namespace Theme {

// --- colours ---------------------------------------------------------------

// An sRGB colour from 0xRRGGBB (bits above 23 ignored) and an alpha.
QColor rgb(std::uint32_t value, double alpha = 1.0);
// A colour resolved by appearance: the first value when light, the second when dark.
ThemeColor dynamic(std::uint32_t light, std::uint32_t dark);

// The relative luminance of an opaque sRGB colour: 0 for black, 1 for white.
double luminance(const QColor& color);
// The contrast ratio of two opaque colours from their luminance: 1 for equal
// colours, 21 for black on white.
double contrast(const QColor& a, const QColor& b);

// True when the palette is the dark appearance.
bool isDark(const QPalette& palette);
bool isDark();

// Fixed colours.
QColor emerald();
QColor emeraldDeep();
QColor gold();
QColor goldSoft();
QColor titleRed();

// Symbols and small headings on the bars and the welcome view: emerald by
// day, soft gold on the night palette, where emerald is lost on near black.
ThemeColor accent();
// The book's title on the reader's header bar: the title red by day, a light
// rose on the night palette, where the dark red is lost.
ThemeColor title();
// Secondary text and symbols (counts, dates, hints, greyed arrows): the
// placeholder colour of the light or the dark palette.
ThemeColor secondary();
// Gold as a symbol or a mark on a light ground: a deeper bronze by day,
// where the gold is too pale on near white; the gold itself on the night palette.
ThemeColor goldInk();
// The hit red as a symbol colour that follows the appearance.
ThemeColor hitSymbol();
// The border of a check box or radio button: a mid grey that stands out
// from the window and from the box's inside, by day and by night.
ThemeColor controlBorder();
// Text drawn on an accent fill (a selected segment): white on the day's
// emerald, near black on the night's soft gold.
ThemeColor onAccent();
// The labels and values of a chart: dark grey by day, a light parchment
// grey on the night palette.
ThemeColor chartInk();
// The track of a slider on a bar by night, where the style's own groove is
// drawn near black on near black.
ThemeColor track();

// Night-reading colours, read from the preference on every call.
QColor parchment();
QColor ink();
QColor footnoteInk();
// Chapter headings on the page and in answers: the title red, or the title's
// night rose while night reading is on.
QColor heading();
QColor hit();
// The current verse's ground: translucent yellow by day, a dark amber by
// night, under which the night ink and the verse marks still read.
QColor pageHighlight();
// A verse's number mark: gold, or the soft gold by night, which also reads
// on the current verse's ground.
QColor verseMark();
QColor hitMark();
QColor hitCurrent();
// The short flash over the current hit: a lighter orange by day, a deeper
// one by night, where the white hit ink must still read on it.
QColor hitGlow();
QColor hitInk();

// Secondary text (counts, dates, hints): the application palette's
// placeholder colour when asked, so it follows the appearance in force.
QColor secondaryLabel();

// `color` with its alpha set to `alpha` (0 to 1).
QColor withAlpha(QColor color, double alpha);

// Appearance colours.
ThemeColor barTop();
ThemeColor barBottom();
ThemeColor barLine();
ThemeColor panel();
ThemeColor tabIdle();

// The Fusion palette of the light or the dark appearance.
QPalette palette(bool dark);

// --- fonts -----------------------------------------------------------------
// Sizes are in logical pixels, which play the part of typographic points.

// Registers every .ttf/.otf file of the resources' "Fonts" folder for the
// process, the first time it is called. A missing folder or a file that does
// not load is skipped silently.
void registerFonts();
// Same, for a given folder; returns how many files were registered. Exposed
// for tests.
int registerFontsIn(const QString& folder);

// The folder of the application's installed resources (<prefix>/share/quorvel
// beside the executable), or empty when there is none.
QString resourcesDir();

// The user's reading font; "Amiri" maps to its regular and bold faces.
QFont reader(double size, bool bold = false);
// The Quran font, or the regular reading font when it is not available.
QFont quran(double size);
// The interface font at a size and weight.
QFont ui(double size = 13, QFont::Weight weight = QFont::Normal);
// The logo font, or the bold reading font.
QFont logo(double size);

// True when a face of that PostScript name (or family name) is available.
bool hasFace(const QString& name);

// --- symbols ---------------------------------------------------------------

// A symbol image by name, drawn at a size in a palette of colours (the first
// for the main strokes, the second for accents) and a weight; a null icon when
// no symbol of that name exists.
QIcon symbol(const QString& name, double size = 18, const QList<QColor>& colors = {},
             QFont::Weight weight = QFont::Normal);
// The same as a pixmap of size × devicePixelRatio pixels; null when unknown.
QPixmap symbolPixmap(const QString& name, double size, const QList<QColor>& colors = {},
                     QFont::Weight weight = QFont::Normal, double devicePixelRatio = 2.0);

} // namespace Theme
} // namespace quorvel
