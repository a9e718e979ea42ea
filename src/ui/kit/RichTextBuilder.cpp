#include "ui/kit/RichTextBuilder.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextLayout>

namespace quorvel {

namespace {

bool isParagraphSeparator(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

// The fragment of `block` that holds `position`; an invalid one when none does.
QTextFragment fragmentAt(const QTextBlock& block, qsizetype position)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (position >= fragment.position() && position < fragment.position() + fragment.length())
            return fragment;
    }
    return {};
}

} // namespace

namespace RichText {

QTextBlockFormat paragraph(Qt::Alignment alignment)
{
    QTextBlockFormat format;
    format.setLayoutDirection(Qt::RightToLeft);
    format.setAlignment(alignment);
    return format;
}

void setLineSpacing(QTextBlockFormat& format, double spacing)
{
    format.setLineHeight(spacing, QTextBlockFormat::LineDistanceHeight);
}

QTextCharFormat chars(const QFont& font, const QColor& color)
{
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesAll);
    if (color.isValid())
        format.setForeground(color);
    return format;
}

QTextCharFormat formatAt(const QTextDocument& document, qsizetype position)
{
    const QTextBlock block = document.findBlock(int(position));
    if (!block.isValid())
        return {};
    const QTextFragment fragment = fragmentAt(block, position);
    return fragment.isValid() ? fragment.charFormat() : QTextCharFormat();
}

QString hrefAt(const QTextDocument& document, qsizetype position)
{
    const QTextCharFormat format = formatAt(document, position);
    return format.isAnchor() ? format.anchorHref() : QString();
}

void setInsets(QTextDocument& document, double horizontal, double vertical)
{
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setLeftMargin(horizontal);
    frame.setRightMargin(horizontal);
    frame.setTopMargin(vertical);
    frame.setBottomMargin(vertical);
    document.rootFrame()->setFrameFormat(frame);
}

QString leftToRight(const QString& run)
{
    constexpr char16_t leftToRightIsolate = u'\u2066';
    constexpr char16_t popDirectionalIsolate = u'\u2069';
    return QChar(leftToRightIsolate) + run + QChar(popDirectionalIsolate);
}

QRectF rangeRect(QTextDocument& document, qsizetype start, qsizetype length)
{
    const qsizetype end = start + qMax<qsizetype>(length, 1) - 1;
    const QTextBlock first = document.findBlock(int(start));
    const QTextBlock last = document.findBlock(int(end));
    if (!first.isValid() || !last.isValid())
        return {};
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    // Asking for the last block's rectangle lays the text out up to it.
    const QRectF lastBlock = layout->blockBoundingRect(last);
    const QRectF firstBlock = layout->blockBoundingRect(first);
    const QTextLine top = first.layout()->lineForTextPosition(int(start - first.position()));
    const QTextLine bottom = last.layout()->lineForTextPosition(int(end - last.position()));
    if (!top.isValid() || !bottom.isValid())
        return {};
    const qreal y0 = firstBlock.top() + top.y();
    const qreal y1 = lastBlock.top() + bottom.y() + bottom.height();
    qreal x0 = firstBlock.left() + top.x();
    qreal x1 = x0 + top.width();
    if (first == last && top.lineNumber() == bottom.lineNumber()) {
        const qreal a = firstBlock.left() + top.cursorToX(int(start - first.position()));
        const qreal b = firstBlock.left() + top.cursorToX(int(end + 1 - first.position()));
        x0 = qMin(a, b);
        x1 = qMax(a, b);
    }
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
}

} // namespace RichText

RichTextBuilder::RichTextBuilder() : document_(std::make_unique<QTextDocument>())
{
    QTextOption option = document_->defaultTextOption();
    option.setTextDirection(Qt::RightToLeft);
    option.setAlignment(RichText::right);
    document_->setDefaultTextOption(option);
    cursor_ = QTextCursor(document_.get());
}

RichTextBuilder::RichTextBuilder(QTextDocument* target) : target_(target)
{
    Q_ASSERT(target_);
    cursor_ = QTextCursor(target_);
    cursor_.movePosition(QTextCursor::End);
    start_ = cursor_.position();
}

RichTextBuilder::~RichTextBuilder() = default;

void RichTextBuilder::append(const QString& text, const QTextCharFormat& chars, const QTextBlockFormat& block)
{
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype to = from;
        while (to < text.size() && !isParagraphSeparator(text[to]))
            ++to;
        if (to == text.size() && to == from)
            break;
        if (cursor_.block().length() == 1)
            cursor_.setBlockFormat(block);
        if (to > from)
            cursor_.insertText(text.mid(from, to - from), chars);
        if (to == text.size())
            break;
        // The new paragraph keeps the run's characters for its empty line
        // and gets its own format from the run that begins it.
        cursor_.insertBlock(cursor_.blockFormat(), chars);
        from = to + 1;
    }
    text_ += text;
    Q_ASSERT(cursor_.position() == start_ + text_.size());
}

void RichTextBuilder::appendLink(const QString& text, const QString& href, QTextCharFormat chars,
                                 const QTextBlockFormat& block)
{
    chars.setAnchor(true);
    chars.setAnchorHref(href);
    append(text, chars, block);
}

void RichTextBuilder::appendDocument(const QTextDocument& other)
{
    const int before = cursor_.position();
    cursor_.insertFragment(QTextDocumentFragment(&other));
    QTextCursor inserted(document());
    inserted.setPosition(before);
    inserted.setPosition(cursor_.position(), QTextCursor::KeepAnchor);
    text_ += inserted.selectedText();
    Q_ASSERT(cursor_.position() == start_ + text_.size());
}

void RichTextBuilder::merge(qsizetype start, qsizetype length, const QTextCharFormat& format)
{
    if (length <= 0 || start < 0 || start + length > text_.size())
        return;
    QTextCursor range(document());
    range.setPosition(int(start_ + start));
    range.setPosition(int(start_ + start + length), QTextCursor::KeepAnchor);
    range.mergeCharFormat(format);
}

std::unique_ptr<QTextDocument> RichTextBuilder::take()
{
    Q_ASSERT(!target_);
    cursor_ = QTextCursor();
    text_.clear();
    auto document = std::move(document_);
    document_ = std::make_unique<QTextDocument>();
    document_->setDefaultTextOption(document->defaultTextOption());
    cursor_ = QTextCursor(document_.get());
    return document;
}

} // namespace quorvel
