#pragma once

// Styled text for every renderer of the windows (the book page, the sura, the
// answer, the analysis panels): one builder, so that every rendered text is
// right to left, aligned and spaced alike, and carries its attributes the
// same way.
//
// A paragraph takes the paragraph format of the run that begins it: the
// builder sets a block's format only while the block is still empty, so a
// run appended to a started paragraph changes its characters, never the
// paragraph. Positions in the document equal offsets in text(): every
// paragraph separator ("\n", "\r", U+2029) is one position.

#include <QRectF>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextFormat>
#include <QVariant>

#include <memory>

class QTextDocument;

namespace quorvel {

// The custom attributes of rendered runs. Every renderer names its
// attributes here, so that no two share a number.
namespace TextProperty {
// int: what a run of a book page is (PageRenderer::Role).
inline constexpr int pageRole = QTextFormat::UserProperty + 1;
// int: the index of the hit a run belongs to.
inline constexpr int hitIndex = QTextFormat::UserProperty + 2;
} // namespace TextProperty

namespace RichText {

// Right-aligned inside a right-to-left paragraph: plain AlignRight there
// would align to the left.
inline constexpr Qt::Alignment right = Qt::AlignRight | Qt::AlignAbsolute;

// A right-to-left paragraph with the given alignment.
QTextBlockFormat paragraph(Qt::Alignment alignment = right);
// Extra space between the lines of a paragraph, in pixels.
void setLineSpacing(QTextBlockFormat& format, double spacing);

// A run in a font and a colour; an invalid colour leaves the text colour
// to the view.
QTextCharFormat chars(const QFont& font, const QColor& color = QColor());

// The format of the character at `position`, read from the fragment that
// holds it (a cursor reports the format before its position instead).
// An empty format outside the text.
QTextCharFormat formatAt(const QTextDocument& document, qsizetype position);
// The link target of the character at `position` exactly as it was given,
// never re-encoded; empty when it is not part of a link.
QString hrefAt(const QTextDocument& document, qsizetype position);

// The rectangle, in document coordinates, of the lines that hold the range
// [start, start + length): from the top of its first line to the bottom of
// its last. Lays the document out as far as the range first. Empty for a
// range outside the text.
QRectF rangeRect(QTextDocument& document, qsizetype start, qsizetype length);

// Insets a document's text by its root frame's margins, so that they scroll
// and print with the text.
void setInsets(QTextDocument& document, double horizontal, double vertical);

// The run wrapped in a left-to-right isolate: a key, a licence's name or a
// reason in Latin keeps its own order whatever the direction of the line
// around it, and the neutral characters beside it stay outside it.
QString leftToRight(const QString& run);

} // namespace RichText

class RichTextBuilder {
public:
    RichTextBuilder();
    // Appends to the end of a document the builder does not own (a view's
    // transcript): text(), length() and merge() then count from where the
    // builder began.
    explicit RichTextBuilder(QTextDocument* target);
    ~RichTextBuilder();
    RichTextBuilder(const RichTextBuilder&) = delete;
    RichTextBuilder& operator=(const RichTextBuilder&) = delete;

    // Appends `text` in `chars`; each paragraph that this run begins gets
    // `block`.
    void append(const QString& text, const QTextCharFormat& chars, const QTextBlockFormat& block);
    // Appends a link: `href` is kept as given and read back with hrefAt.
    void appendLink(const QString& text, const QString& href, QTextCharFormat chars,
                    const QTextBlockFormat& block);

    // Appends another document whole (its paragraphs, tables and images;
    // image resources are the caller's to copy). Tables and frames take
    // positions of their own, which text() then holds as marker characters.
    void appendDocument(const QTextDocument& other);

    // Merges `format` into the characters of [start, start + length).
    void merge(qsizetype start, qsizetype length, const QTextCharFormat& format);

    // Where the builder's text begins in its document.
    qsizetype start() const { return start_; }
    // Everything appended so far, as plain text.
    const QString& text() const { return text_; }
    qsizetype length() const { return text_.size(); }

    QTextDocument* document() const { return target_ ? target_ : document_.get(); }
    // Hands the document over; the builder is empty afterwards. Not for a
    // builder over a document it does not own.
    std::unique_ptr<QTextDocument> take();

private:
    std::unique_ptr<QTextDocument> document_;
    QTextDocument* target_ = nullptr;
    qsizetype start_ = 0;
    QTextCursor cursor_;
    QString text_;
};

} // namespace quorvel
