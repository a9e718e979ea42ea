#include "ui/WindowTestSupport.h"

#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class RichTextBuilderTest : public test::WindowTest {};

QTextCharFormat tagged(int value)
{
    QTextCharFormat format = RichText::chars(Theme::reader(20));
    format.setProperty(TextProperty::pageRole, value);
    return format;
}

} // namespace

TEST_F(RichTextBuilderTest, aParagraphTakesTheFormatOfTheRunThatBeginsIt)
{
    RichTextBuilder builder;
    QTextBlockFormat spaced = RichText::paragraph();
    spaced.setTopMargin(14);
    builder.append(QStringLiteral("حدثنا مالك"), tagged(1), RichText::paragraph());
    // Continues the first paragraph (its format stays) and begins a second.
    builder.append(QStringLiteral(" عن نافع\n[ص: ١]"), tagged(2), RichText::paragraph(Qt::AlignHCenter));
    // A run beginning with a separator ends the paragraph it continues.
    builder.append(QStringLiteral("\nتعليقي"), tagged(3), spaced);

    const QTextDocument& doc = *builder.document();
    ASSERT_EQ(doc.blockCount(), 3);
    const QTextBlock first = doc.firstBlock();
    EXPECT_EQ(first.blockFormat().alignment(), RichText::right);
    EXPECT_EQ(first.blockFormat().layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(first.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(first.next().next().blockFormat().topMargin(), 14);
    EXPECT_EQ(first.next().next().blockFormat().alignment(), RichText::right);

    // The run's own characters keep their attribute on either side of a
    // paragraph break.
    EXPECT_EQ(RichText::formatAt(doc, 9).intProperty(TextProperty::pageRole), 1);
    EXPECT_EQ(RichText::formatAt(doc, 10).intProperty(TextProperty::pageRole), 2);
    EXPECT_EQ(RichText::formatAt(doc, first.next().position()).intProperty(TextProperty::pageRole), 2);
    EXPECT_EQ(RichText::formatAt(doc, first.next().next().position()).intProperty(TextProperty::pageRole), 3);
    // A cursor there reports the format before it instead.
    QTextCursor cursor(const_cast<QTextDocument*>(&doc));
    cursor.setPosition(10);
    EXPECT_EQ(cursor.charFormat().intProperty(TextProperty::pageRole), 1);
    EXPECT_EQ(RichText::formatAt(doc, 500).intProperty(TextProperty::pageRole), 0);
}

TEST_F(RichTextBuilderTest, anEmptyFirstParagraphTakesTheFormatOfALeadingSeparator)
{
    RichTextBuilder builder;
    QTextBlockFormat first = RichText::paragraph();
    first.setBottomMargin(7);
    builder.append(QString(), tagged(9), RichText::paragraph(Qt::AlignHCenter));
    builder.append(QStringLiteral("\n"), tagged(1), first);
    builder.append(QStringLiteral("حاشية"), tagged(2), RichText::paragraph(Qt::AlignHCenter));
    const QTextDocument& doc = *builder.document();
    ASSERT_EQ(doc.blockCount(), 2);
    EXPECT_EQ(doc.firstBlock().blockFormat().bottomMargin(), 7);
    EXPECT_EQ(doc.lastBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST_F(RichTextBuilderTest, documentPositionsAreTextOffsetsWhateverTheSeparator)
{
    RichTextBuilder builder;
    const QString text = QStringLiteral("أ\rب\u2029ج\nد\u2028هـ");
    builder.append(text, tagged(4), RichText::paragraph());
    builder.merge(2, 1, tagged(5));
    EXPECT_EQ(builder.text(), text);
    EXPECT_EQ(builder.length(), text.size());
    // The line separator breaks a line inside its paragraph.
    EXPECT_EQ(builder.document()->blockCount(), 4);
    EXPECT_EQ(builder.document()->characterCount() - 1, text.size());
    for (qsizetype i : {0, 4, 6, 8})
        EXPECT_EQ(builder.document()->characterAt(int(i)), text[i]) << i;
    EXPECT_EQ(RichText::formatAt(*builder.document(), 2).intProperty(TextProperty::pageRole), 5);
    EXPECT_EQ(RichText::formatAt(*builder.document(), 4).intProperty(TextProperty::pageRole), 4);

    // Taking the document leaves an empty builder behind.
    const std::unique_ptr<QTextDocument> taken = builder.take();
    EXPECT_EQ(taken->characterCount() - 1, text.size());
    EXPECT_TRUE(builder.text().isEmpty());
    EXPECT_TRUE(builder.document()->isEmpty());
}

TEST_F(RichTextBuilderTest, linksReadBackAsTheirRawTargetAndMergingKeepsAttributes)
{
    RichTextBuilder builder;
    const QString href = QStringLiteral("quorvel://search/قال%20حدثنا");
    builder.append(QStringLiteral("انظر "), tagged(1), RichText::paragraph());
    builder.appendLink(QStringLiteral("البحث"), href, tagged(2), RichText::paragraph());
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    builder.merge(5, 2, bold);
    const QTextDocument& doc = *builder.document();
    EXPECT_EQ(RichText::hrefAt(doc, 5), href);
    EXPECT_EQ(RichText::hrefAt(doc, 9), href);
    EXPECT_TRUE(RichText::hrefAt(doc, 4).isEmpty());
    EXPECT_TRUE(RichText::hrefAt(doc, 10).isEmpty());
    const QTextCharFormat merged = RichText::formatAt(doc, 5);
    EXPECT_EQ(merged.fontWeight(), QFont::Bold);
    EXPECT_EQ(merged.intProperty(TextProperty::pageRole), 2);
    EXPECT_NE(RichText::formatAt(doc, 8).fontWeight(), QFont::Bold);
}

TEST_F(RichTextBuilderTest, rangeRectangleCoversTheLinesOfTheRange)
{
    RichTextBuilder builder;
    const QString line = QStringLiteral("حدثنا يحيى عن مالك عن نافع عن عبد الله بن عمر ");
    builder.append(line.repeated(12) + QStringLiteral("\nآخر"), tagged(1), RichText::paragraph());
    QTextDocument& doc = *builder.document();
    doc.setTextWidth(300);
    const QRectF first = RichText::rangeRect(doc, 0, 5);
    const QRectF spanning = RichText::rangeRect(doc, 0, line.size() * 6);
    const QRectF last = RichText::rangeRect(doc, builder.length() - 3, 3);
    EXPECT_GT(first.height(), 0);
    EXPECT_LT(first.width(), 300);
    EXPECT_EQ(spanning.top(), first.top());
    EXPECT_GT(spanning.bottom(), first.bottom() + first.height());
    EXPECT_GT(last.top(), spanning.bottom());
    // The first word of a right-to-left line sits at its right.
    EXPECT_GT(first.left(), 150);
    EXPECT_TRUE(RichText::rangeRect(doc, builder.length() + 4, 2).isNull());
}
