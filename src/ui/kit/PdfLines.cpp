#include "ui/kit/PdfLines.h"

#include <QChar>

#include <pango/pangocairo.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorvel::PdfWriter {

namespace {

double points(int pangoUnits)
{
    return double(pangoUnits) / PANGO_SCALE;
}

struct Ink {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    bool underline = false;
};

// The colour and underline a run's attributes ask for.
Ink inkOf(const PangoItem* item)
{
    constexpr double full = 65535.0;
    Ink ink;
    for (const GSList* node = item->analysis.extra_attrs; node; node = node->next) {
        const auto* attribute = static_cast<const PangoAttribute*>(node->data);
        switch (attribute->klass->type) {
        case PANGO_ATTR_FOREGROUND: {
            const PangoColor& colour = reinterpret_cast<const PangoAttrColor*>(attribute)->color;
            ink.red = colour.red / full;
            ink.green = colour.green / full;
            ink.blue = colour.blue / full;
            break;
        }
        case PANGO_ATTR_FOREGROUND_ALPHA:
            ink.alpha = reinterpret_cast<const PangoAttrInt*>(attribute)->value / full;
            break;
        case PANGO_ATTR_UNDERLINE:
            ink.underline = reinterpret_cast<const PangoAttrInt*>(attribute)->value != PANGO_UNDERLINE_NONE;
            break;
        default:
            break;
        }
    }
    return ink;
}

bool isMark(const char* character)
{
    const GUnicodeType type = g_unichar_type(g_utf8_get_char(character));
    return type == G_UNICODE_NON_SPACING_MARK || type == G_UNICODE_ENCLOSING_MARK;
}

bool rightToLeftLetter(gunichar c)
{
    const QChar::Direction direction = QChar::direction(char32_t(c));
    return direction == QChar::DirR || direction == QChar::DirAL;
}

// The text one letter's glyph carries: its characters and its marks. Readers
// set a glyph's characters side by side over its width, from the right when
// all of them are right-to-left letters (a ligature), else from the left, and
// then read a right-to-left line from the right: a letter with marks is
// therefore given them turned, so that it reads back as it is written.
std::string glyphText(const char* start, const char* end, bool rightToLeft)
{
    std::string text(start, end);
    if (!rightToLeft)
        return text;
    int characters = 0;
    bool letters = true;
    for (const char* c = start; c < end; c = g_utf8_next_char(c)) {
        ++characters;
        letters = letters && rightToLeftLetter(g_utf8_get_char(c));
    }
    if (characters < 2 || letters)
        return text;
    std::string turned;
    turned.reserve(text.size());
    for (const char* c = end; c > start;) {
        const char* previous = g_utf8_prev_char(c);
        turned.append(previous, c);
        c = previous;
    }
    return turned;
}

// The marks of one run, drawn once the line's letters are down.
struct Marks {
    cairo_scaled_font_t* font = nullptr;
    Ink ink;
    std::vector<cairo_glyph_t> glyphs;
};

void setInk(cairo_t* cairo, cairo_scaled_font_t* font, const Ink& ink)
{
    cairo_set_scaled_font(cairo, font);
    cairo_set_source_rgba(cairo, ink.red, ink.green, ink.blue, ink.alpha);
}

// The clusters of one run in text order. A mark the font gives no width
// lends its text to the glyph before it and is drawn with the marks; a mark
// the font widens («سِ» with a stretch under the sin) keeps its text on its
// own glyph, which stands in the line between its neighbours.
class RunClusters {
public:
    RunClusters(const PangoGlyphString* glyphs, const char* text, int length) : text_(text), length_(length)
    {
        starts_.assign(glyphs->log_clusters, glyphs->log_clusters + glyphs->num_glyphs);
        std::sort(starts_.begin(), starts_.end());
        starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
        wide_.assign(starts_.size(), false);
        for (int i = 0; i < glyphs->num_glyphs; ++i)
            if (glyphs->glyphs[i].geometry.width > 0)
                wide_[index(glyphs->log_clusters[i])] = true;
        // Marks that open the run have no glyph before them to lend to.
        const auto carrier = std::find_if(starts_.begin(), starts_.end(), [&](int start) { return !lends(start); });
        firstCarrier_ = carrier == starts_.end() ? length_ : *carrier;
    }

    // Whether the cluster at `start` is drawn with the marks, its text lent.
    bool silent(int start) const { return lends(start) && start > firstCarrier_; }
    // Whether a glyph of the cluster at `start` has a width.
    bool wide(int start) const { return wide_[index(start)]; }

    // Where the text the glyphs of the cluster at `start` carry ends: past
    // the marks that lend theirs to it.
    int textEnd(int start) const
    {
        int end = next(start);
        if (!lends(start))
            while (end < length_ && lends(end))
                end = next(end);
        return end;
    }

private:
    std::size_t index(int start) const
    {
        return std::size_t(std::lower_bound(starts_.begin(), starts_.end(), start) - starts_.begin());
    }
    int next(int start) const
    {
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), start);
        return after == starts_.end() ? length_ : *after;
    }
    bool lends(int start) const { return isMark(text_ + start) && !wide_[index(start)]; }

    const char* text_;
    int length_;
    std::vector<int> starts_;
    std::vector<bool> wide_;
    int firstCarrier_ = 0;
};

// One run's letters from its left end at `x`, each glyph with its text, left
// to right; its marks go to `marks`. Returns the run's width in points.
double showRun(cairo_t* cairo, const char* lineText, const PangoGlyphItem* run, double x, double baseline,
               std::vector<Marks>* marks)
{
    const PangoItem* item = run->item;
    const PangoGlyphString* glyphs = run->glyphs;
    const char* text = lineText + item->offset;
    const bool rightToLeft = item->analysis.level % 2 == 1;
    Marks own{pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(item->analysis.font)), inkOf(item), {}};
    baseline -= points(run->y_offset);
    const RunClusters order(glyphs, text, item->length);

    std::vector<cairo_glyph_t> drawn;
    std::string drawnText;
    std::vector<cairo_text_cluster_t> clusters;
    int advance = 0;
    for (int i = 0; i < glyphs->num_glyphs;) {
        const int start = glyphs->log_clusters[i];
        // A letter the font draws as a letter and a mark («إ» as «ا» and a
        // hamza) is read from its letter alone: the mark joins the others.
        const bool wide = order.wide(start);
        const bool silent = order.silent(start);
        const std::size_t carried = drawn.size();
        for (; i < glyphs->num_glyphs && glyphs->log_clusters[i] == start; ++i) {
            const PangoGlyphInfo& info = glyphs->glyphs[i];
            const cairo_glyph_t glyph{info.glyph, x + points(advance + info.geometry.x_offset),
                                      baseline + points(info.geometry.y_offset)};
            advance += info.geometry.width;
            if (info.glyph == PANGO_GLYPH_EMPTY || (info.glyph & PANGO_GLYPH_UNKNOWN_FLAG))
                continue;
            (silent || (wide && info.geometry.width == 0) ? own.glyphs : drawn).push_back(glyph);
        }
        if (silent)
            continue;
        const std::string piece = glyphText(text + start, text + order.textEnd(start), rightToLeft);
        drawnText += piece;
        clusters.push_back({int(piece.size()), int(drawn.size() - carried)});
    }
    setInk(cairo, own.font, own.ink);
    if (!clusters.empty())
        cairo_show_text_glyphs(cairo, drawnText.data(), int(drawnText.size()), drawn.data(), int(drawn.size()),
                               clusters.data(), int(clusters.size()), cairo_text_cluster_flags_t(0));
    if (own.ink.underline) {
        PangoFontMetrics* metrics = pango_font_get_metrics(item->analysis.font, item->analysis.language);
        cairo_rectangle(cairo, x, baseline - points(pango_font_metrics_get_underline_position(metrics)),
                        points(advance), points(pango_font_metrics_get_underline_thickness(metrics)));
        cairo_fill(cairo);
        pango_font_metrics_unref(metrics);
    }
    if (!own.glyphs.empty())
        marks->push_back(std::move(own));
    return points(advance);
}

} // namespace

void showLine(cairo_t* cairo, PangoLayoutLine* line, double x, double baseline)
{
    const char* text = pango_layout_get_text(line->layout);
    std::vector<Marks> marks;
    for (const GSList* node = line->runs; node; node = node->next)
        x += showRun(cairo, text, static_cast<const PangoGlyphItem*>(node->data), x, baseline, &marks);
    // Drawn with no text: what they mean is already in their letters' text.
    for (const Marks& run : marks) {
        setInk(cairo, run.font, run.ink);
        const cairo_text_cluster_t silent{0, int(run.glyphs.size())};
        cairo_show_text_glyphs(cairo, "", 0, run.glyphs.data(), int(run.glyphs.size()), &silent, 1,
                               cairo_text_cluster_flags_t(0));
    }
}

} // namespace quorvel::PdfWriter
