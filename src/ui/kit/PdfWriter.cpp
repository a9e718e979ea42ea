#include "ui/kit/PdfWriter.h"

#include "core/Theme.h"
#include "ui/kit/PdfLines.h"

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <QVariant>

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvel::PdfWriter {

namespace {

constexpr double kFallbackSize = 12;
constexpr double kFallbackBorder = 1;
constexpr char kPrintFeatures[] = "kern 0";
constexpr char kPlainFeatures[] = "calt 0";
constexpr gunichar kArabicLam = 0x0644;

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Layout = std::unique_ptr<PangoLayout, Unref>;
using Context = std::unique_ptr<PangoContext, Unref>;

// Shown in place of a character that cannot be drawn.
constexpr char16_t kReplacement = 0xFFFD;

// Whether a code point is NUL or a Unicode noncharacter (U+FDD0..U+FDEF and
// the last two of every plane).
bool undrawable(char32_t c)
{
    return c == 0 || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// The text with every undrawable code point replaced. Pango ends a
// paragraph at NUL, and a noncharacter puts the Cairo context into an error
// that stops every later drawing, cutting the file short.
QString drawable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t c = QChar::surrogateToUcs4(unit, text[i + 1]);
            if (undrawable(c)) {
                out += QChar(kReplacement);
            } else {
                out += unit;
                out += text[i + 1];
            }
            ++i;
            continue;
        }
        out += undrawable(unit.unicode()) ? QChar(kReplacement) : unit;
    }
    return out;
}

double points(int pangoUnits)
{
    return double(pangoUnits) / PANGO_SCALE;
}

guint16 channel(double value)
{
    return guint16(std::clamp(value, 0.0, 1.0) * 65535.0);
}

void insert(PangoAttrList* list, PangoAttribute* attribute, guint start, guint end)
{
    attribute->start_index = start;
    attribute->end_index = end;
    pango_attr_list_insert(list, attribute);
}

// The words whose contextual forms stack a letter over a following ج, ح or
// خ, or raise a lam before kaf, are set in their plain joined forms: the
// stacked letter is placed apart from its neighbour, and a reader of the
// PDF's text cuts the word there («ا ل كوفي», «ب خير»).
void plainForms(PangoAttrList* attributes, const QString& text)
{
    static const QRegularExpression stacked(
        QStringLiteral("[^\\s]*(?:\\x{0644}\\p{Mn}*\\x{0643}|[\\x{0628}-\\x{064A}]\\p{Mn}*[\\x{062C}-\\x{062E}])[^\\s]*"));
    qsizetype index = 0;
    qsizetype byte = 0;
    for (auto it = stacked.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch word = it.next();
        byte += text.mid(index, word.capturedStart() - index).toUtf8().size();
        const qsizetype length = word.captured().toUtf8().size();
        insert(attributes, pango_attr_font_features_new(kPlainFeatures), guint(byte), guint(byte + length));
        index = word.capturedEnd();
        byte += length;
    }
}

// Whether Pango sets Arabic in `family` itself. A family it does not have
// (one the application registered with Qt alone), or one without Arabic
// letters (the system's interface face), leaves the Arabic to a fallback
// face whose joined letters a reader of the PDF's text gets back reversed
// or cut («إلجابة»). Any thread; each family is asked once.
bool setsArabic(const QString& family)
{
    static std::mutex mutex;
    static QHash<QString, bool> known;
    const std::lock_guard lock(mutex);
    if (const auto it = known.constFind(family); it != known.cend())
        return *it;
    PangoFontMap* map = pango_cairo_font_map_get_default();
    const Context context(pango_font_map_create_context(map));
    PangoFontDescription* asked = pango_font_description_new();
    pango_font_description_set_family(asked, family.toUtf8().constData());
    PangoFont* font = pango_font_map_load_font(map, context.get(), asked);
    pango_font_description_free(asked);
    bool sets = false;
    if (font) {
        PangoFontDescription* loaded = pango_font_describe(font);
        sets = QString::fromUtf8(pango_font_description_get_family(loaded)).compare(family, Qt::CaseInsensitive) == 0
            && pango_font_has_char(font, kArabicLam);
        pango_font_description_free(loaded);
        g_object_unref(font);
    }
    known.insert(family, sets);
    return sets;
}

// The Pango face of a Qt format. The theme sizes fonts in pixels that stand
// for points, and the page is measured in points, so either size is taken
// as points. A face Pango cannot set Arabic in gives way to the body face.
PangoFontDescription* describe(const QTextCharFormat& format)
{
    const QFont font = format.font();
    QString family = font.families().value(0, font.family());
    if (!setsArabic(family))
        family = Theme::reader(kFallbackSize).family();
    double size = font.pixelSize() > 0 ? double(font.pixelSize()) : font.pointSizeF();
    if (size <= 0)
        size = kFallbackSize;
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, family.toUtf8().constData());
    pango_font_description_set_absolute_size(description, size * PANGO_SCALE);
    // Qt and Pango both count weights as CSS does (400 regular, 700 bold).
    pango_font_description_set_weight(description, PangoWeight(font.weight()));
    pango_font_description_set_style(description, font.italic() ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return description;
}

QColor ink(const QTextCharFormat& format)
{
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        return format.foreground().color();
    return QColor(Qt::black);
}

// Qt's leading and trailing alignments turn with the paragraph's direction;
// Pango's are set here as they stand on paper.
PangoAlignment alignment(const QTextBlock& block, bool rightToLeft, bool* justify)
{
    const Qt::Alignment align = block.blockFormat().alignment();
    *justify = align & Qt::AlignJustify;
    if (align & Qt::AlignHCenter)
        return PANGO_ALIGN_CENTER;
    const bool absolute = align & Qt::AlignAbsolute;
    if (align & Qt::AlignRight)
        return absolute || !rightToLeft ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT;
    if ((align & Qt::AlignLeft) && absolute)
        return PANGO_ALIGN_LEFT;
    return rightToLeft ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT;
}

struct Picture {
    QImage image;
    double width = 0;
    double height = 0;
};

// One paragraph made ready to draw: its text laid out to a width, and the
// pictures that stand in it.
struct Paragraph {
    Layout layout;
    std::vector<Picture> pictures;
    bool hasText = false;
    double top = 0;
    double bottom = 0;
    double indent = 0; // from the left edge of the column
    PangoAlignment align = PANGO_ALIGN_RIGHT;
    double width = 0;

    double textHeight() const
    {
        int w = 0;
        int h = 0;
        pango_layout_get_size(layout.get(), &w, &h);
        return points(h);
    }
    double height() const
    {
        double total = top + bottom;
        for (const Picture& picture : pictures)
            total += picture.height;
        if (hasText || pictures.empty())
            total += textHeight();
        return total;
    }
};

class Writer {
public:
    Writer(cairo_t* cairo, const QTextDocument& document, const Page& page)
        : cairo_(cairo), document_(document), page_(page), y_(page.margin)
    {
        for (PangoDirection direction : {PANGO_DIRECTION_RTL, PANGO_DIRECTION_LTR}) {
            Context context(pango_cairo_create_context(cairo_));
            pango_context_set_base_dir(context.get(), direction);
            // Metrics as drawn on paper, not rounded to a screen's pixels.
            cairo_font_options_t* options = cairo_font_options_create();
            cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
            cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
            pango_cairo_context_set_font_options(context.get(), options);
            cairo_font_options_destroy(options);
            // Glyphs placed at whole points stand apart from their neighbours
            // by fractions of a point, and text readers take such gaps inside
            // a word for spaces.
            pango_context_set_round_glyph_positions(context.get(), FALSE);
            (direction == PANGO_DIRECTION_RTL ? rightToLeft_ : leftToRight_) = std::move(context);
        }
    }

    void flow(QTextFrame* frame, double x, double width)
    {
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (auto* table = qobject_cast<QTextTable*>(child))
                    flowTable(table, x, width);
                else
                    flow(child, x, width);
            } else if (it.currentBlock().isValid()) {
                flowParagraph(paragraph(it.currentBlock(), width), x);
            }
        }
    }

private:
    double bottom() const { return page_.height - page_.margin; }
    bool atPageTop() const { return y_ <= page_.margin; }

    void newPage()
    {
        cairo_show_page(cairo_);
        y_ = page_.margin;
    }

    // Starts a new page unless `height` fits below the cursor (or the page
    // is still empty, where nothing fits better).
    void need(double height)
    {
        if (y_ + height > bottom() && !atPageTop())
            newPage();
    }

    Picture picture(const QTextImageFormat& format, double width) const
    {
        const QVariant resource = document_.resource(QTextDocument::ImageResource, QUrl(format.name()));
        QImage image = resource.typeId() == QMetaType::QPixmap ? resource.value<QPixmap>().toImage()
                                                               : resource.value<QImage>();
        if (image.isNull())
            return {};
        const QSizeF natural = image.deviceIndependentSize();
        double w = format.width() > 0 ? format.width() : natural.width();
        double h = format.height() > 0 ? format.height() : w / natural.width() * natural.height();
        if (w > width) {
            h = width / w * h;
            w = width;
        }
        return {image.convertToFormat(QImage::Format_ARGB32_Premultiplied), w, h};
    }

    Paragraph paragraph(const QTextBlock& block, double columnWidth) const
    {
        const QTextBlockFormat format = block.blockFormat();
        const bool rtl = block.textDirection() == Qt::RightToLeft;
        Paragraph out;
        out.top = format.topMargin();
        out.bottom = format.bottomMargin();
        out.indent = format.leftMargin();
        out.width = std::max(1.0, columnWidth - format.leftMargin() - format.rightMargin());

        QByteArray text;
        PangoAttrList* attributes = pango_attr_list_new();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat chars = fragment.charFormat();
            if (chars.isImageFormat()) {
                if (Picture p = picture(chars.toImageFormat(), out.width); !p.image.isNull())
                    out.pictures.push_back(std::move(p));
                continue;
            }
            QString piece = drawable(fragment.text());
            piece.remove(QChar::ObjectReplacementCharacter);
            piece.replace(QChar::LineSeparator, QLatin1Char('\n'));
            if (piece.isEmpty())
                continue;
            const guint start = guint(text.size());
            text += piece.toUtf8();
            const guint end = guint(text.size());
            PangoFontDescription* face = describe(chars);
            insert(attributes, pango_attr_font_desc_new(face), start, end);
            pango_font_description_free(face);
            const QColor colour = ink(chars);
            insert(attributes, pango_attr_foreground_new(channel(colour.redF()), channel(colour.greenF()), channel(colour.blueF())),
                   start, end);
            if (colour.alpha() < 255)
                insert(attributes, pango_attr_foreground_alpha_new(channel(colour.alphaF())), start, end);
            if (chars.fontUnderline())
                insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
        }
        out.hasText = !text.trimmed().isEmpty();

        out.layout.reset(pango_layout_new(rtl ? rightToLeft_.get() : leftToRight_.get()));
        PangoLayout* layout = out.layout.get();
        pango_layout_set_auto_dir(layout, FALSE);
        PangoFontDescription* face = describe(block.charFormat());
        pango_layout_set_font_description(layout, face);
        pango_font_description_free(face);
        pango_layout_set_width(layout, int(out.width * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        bool justify = false;
        out.align = alignment(block, rtl, &justify);
        pango_layout_set_alignment(layout, out.align);
        pango_layout_set_justify(layout, justify);
        if (format.lineHeightType() == QTextBlockFormat::LineDistanceHeight)
            pango_layout_set_spacing(layout, int(format.lineHeight() * PANGO_SCALE));
        else if (format.lineHeightType() == QTextBlockFormat::ProportionalHeight)
            pango_layout_set_line_spacing(layout, float(format.lineHeight() / 100.0));
        pango_layout_set_text(layout, text.constData(), int(text.size()));
        // Pair kerning moves a letter off its advance after a letter that
        // does not join the next («مر يم»): a reader of the PDF's text takes
        // the gap for a space and cuts the word. On paper the words read as
        // before.
        insert(attributes, pango_attr_font_features_new(kPrintFeatures), 0, guint(text.size()));
        plainForms(attributes, QString::fromUtf8(text));
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
        return out;
    }

    void drawPicture(const Picture& picture, double x, double y)
    {
        // Cairo reads the pixels when the page is written, so they are kept
        // until the end.
        kept_.push_back(picture.image);
        const QImage& image = kept_.back();
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            const_cast<uchar*>(image.constBits()), CAIRO_FORMAT_ARGB32, image.width(), image.height(),
            int(image.bytesPerLine()));
        cairo_save(cairo_);
        cairo_translate(cairo_, x, y);
        cairo_scale(cairo_, picture.width / image.width(), picture.height / image.height());
        cairo_set_source_surface(cairo_, surface, 0, 0);
        cairo_paint(cairo_);
        cairo_restore(cairo_);
        cairo_surface_destroy(surface);
    }

    double pictureX(const Paragraph& p, const Picture& picture, double x) const
    {
        const double left = x + p.indent;
        switch (p.align) {
        case PANGO_ALIGN_CENTER: return left + (p.width - picture.width) / 2;
        case PANGO_ALIGN_RIGHT: return left + p.width - picture.width;
        default: return left;
        }
    }

    // A paragraph in the running text, broken across pages between lines.
    void flowParagraph(const Paragraph& p, double x)
    {
        y_ = std::min(y_ + p.top, bottom());
        for (const Picture& picture : p.pictures) {
            need(picture.height);
            drawPicture(picture, pictureX(p, picture, x), y_);
            y_ += picture.height;
        }
        if (p.hasText || p.pictures.empty()) {
            double origin = y_;
            double end = y_;
            PangoLayoutIter* iter = pango_layout_get_iter(p.layout.get());
            do {
                PangoRectangle line;
                pango_layout_iter_get_line_extents(iter, nullptr, &line);
                const double top = origin + points(line.y);
                if (top + points(line.height) > bottom() && top > page_.margin) {
                    newPage();
                    origin = page_.margin - points(line.y);
                }
                showLine(cairo_, pango_layout_iter_get_line_readonly(iter), x + p.indent + points(line.x),
                         origin + points(pango_layout_iter_get_baseline(iter)));
                end = origin + points(line.y + line.height);
            } while (pango_layout_iter_next_line(iter));
            pango_layout_iter_free(iter);
            y_ = end;
        }
        y_ += p.bottom;
    }

    // A paragraph inside a table cell, drawn whole at (x, y); returns its height.
    double drawParagraph(const Paragraph& p, double x, double y)
    {
        y += p.top;
        for (const Picture& picture : p.pictures) {
            drawPicture(picture, pictureX(p, picture, x), y);
            y += picture.height;
        }
        if (p.hasText || p.pictures.empty()) {
            PangoLayoutIter* iter = pango_layout_get_iter(p.layout.get());
            do {
                PangoRectangle line;
                pango_layout_iter_get_line_extents(iter, nullptr, &line);
                showLine(cairo_, pango_layout_iter_get_line_readonly(iter), x + p.indent + points(line.x),
                         y + points(pango_layout_iter_get_baseline(iter)));
            } while (pango_layout_iter_next_line(iter));
            pango_layout_iter_free(iter);
        }
        return p.height();
    }

    struct Cell {
        std::vector<Paragraph> paragraphs;
        QTextTableCellFormat format;
        double padding = 0;
        double height = 0;
    };

    // A table row by row, a row never split across pages; columns share the
    // width equally, the first of them on the left as Qt lays them out.
    void flowTable(QTextTable* table, double x, double width)
    {
        const QTextTableFormat format = table->format();
        const int columns = table->columns();
        if (columns == 0)
            return;
        double tableWidth = width;
        const QTextLength length = format.width();
        if (length.type() == QTextLength::PercentageLength)
            tableWidth = width * std::clamp(length.rawValue(), 0.0, 100.0) / 100.0;
        else if (length.type() == QTextLength::FixedLength)
            tableWidth = std::min(width, length.rawValue());
        double left = x;
        if (format.alignment() & Qt::AlignHCenter)
            left = x + (width - tableWidth) / 2;
        else if (format.alignment() & (Qt::AlignRight | Qt::AlignLeading))
            left = x + width - tableWidth;
        const double columnWidth = tableWidth / columns;

        y_ += format.topMargin();
        for (int r = 0; r < table->rows(); ++r) {
            std::vector<Cell> cells(static_cast<size_t>(columns));
            double rowHeight = 0;
            for (int c = 0; c < columns; ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                if (!cell.isValid() || cell.row() != r || cell.column() != c)
                    continue;
                Cell& out = cells[size_t(c)];
                out.format = cell.format().toTableCellFormat();
                out.padding = out.format.hasProperty(QTextFormat::TableCellLeftPadding) ? out.format.leftPadding()
                                                                                        : format.cellPadding();
                const double inner = std::max(1.0, columnWidth * cell.columnSpan() - 2 * out.padding);
                for (auto it = cell.begin(); !it.atEnd(); ++it)
                    if (it.currentBlock().isValid())
                        out.paragraphs.push_back(paragraph(it.currentBlock(), inner));
                for (const Paragraph& p : out.paragraphs)
                    out.height += p.height();
                rowHeight = std::max(rowHeight, out.height + 2 * out.padding);
            }
            need(rowHeight);
            for (int c = 0; c < columns; ++c) {
                const Cell& cell = cells[size_t(c)];
                const double cx = left + c * columnWidth;
                if (cell.format.background().style() != Qt::NoBrush) {
                    const QColor fill = cell.format.background().color();
                    cairo_set_source_rgba(cairo_, fill.redF(), fill.greenF(), fill.blueF(), fill.alphaF());
                    cairo_rectangle(cairo_, cx, y_, columnWidth, rowHeight);
                    cairo_fill(cairo_);
                }
                const double border = cell.format.leftBorder() > 0 ? cell.format.leftBorder()
                                      : format.border() > 0        ? format.border()
                                                                   : kFallbackBorder;
                QColor line = cell.format.leftBorderBrush().style() != Qt::NoBrush ? cell.format.leftBorderBrush().color()
                              : format.borderBrush().style() != Qt::NoBrush         ? format.borderBrush().color()
                                                                                    : QColor(Qt::gray);
                cairo_set_source_rgba(cairo_, line.redF(), line.greenF(), line.blueF(), line.alphaF());
                cairo_set_line_width(cairo_, border);
                cairo_rectangle(cairo_, cx, y_, columnWidth, rowHeight);
                cairo_stroke(cairo_);
                double cy = y_ + cell.padding;
                for (const Paragraph& p : cell.paragraphs)
                    cy += drawParagraph(p, cx + cell.padding, cy);
            }
            y_ += rowHeight;
        }
        y_ += format.bottomMargin();
    }

    cairo_t* cairo_;
    const QTextDocument& document_;
    Page page_;
    double y_;
    Context rightToLeft_;
    Context leftToRight_;
    std::vector<QImage> kept_;
};

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<QByteArray*>(closure)->append(reinterpret_cast<const char*>(data), qsizetype(length));
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

QByteArray pdf(const QTextDocument& document, const QString& title, const Page& page)
{
    QByteArray bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(append, &bytes, page.width, page.height);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, drawable(title).toUtf8().constData());
    cairo_t* cairo = cairo_create(surface);
    bool drawn = false;
    {
        Writer writer(cairo, document, page);
        writer.flow(document.rootFrame(), page.margin, page.width - 2 * page.margin);
        cairo_show_page(cairo);
        // A failed drawing stops every later one and the file still ends
        // well-formed: only the context's status tells it was cut short.
        drawn = cairo_status(cairo) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cairo);
        cairo_surface_finish(surface);
    }
    const bool written = drawn && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!written || !bytes.startsWith("%PDF-"))
        return {};
    return bytes;
}

} // namespace quorvel::PdfWriter
