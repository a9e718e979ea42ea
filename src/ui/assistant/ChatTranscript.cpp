#include "ui/assistant/ChatTranscript.h"

#include "assistant/LocalLLM.h"
#include "assistant/SmallTalk.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/Listener.h"
#include "ui/kit/RichTextBuilder.h"

#include <QList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

namespace quorvel::ChatTranscript {

namespace {

const QString txtYou = QStringLiteral(u"\nأنت\n");
const QString txtSender = QStringLiteral(u"مكتبة قورفل\n");
const QString txtWaitingModel = QStringLiteral(u"جاري البحث في الكتب ثم الكتابة…\n");
const QString txtWaiting = QStringLiteral(u"جاري البحث في الكتب…\n");
const QString txtListen = QStringLiteral(u"استمع للإجابة");
const QString txtStopReading = QStringLiteral(u"إيقاف القراءة");
const QString txtExamplesHint = QStringLiteral(u"وبعد أي إجابة تستطيع المتابعة: «زدني»، أو «وماذا عن الحنابلة؟».\n");

const QString txtWelcomeTitle = QStringLiteral(u"اسأل الكتب\n");
// Around the citation mark [1], which is written in the user's digits.
const QString txtWelcomeIntroHead = QStringLiteral(
    u"يجيبك من كتب المكتبة وحدها، وكل اقتباس بمصدره: الكتاب والجزء والصفحة. انقر الرقم [");
const QString txtWelcomeIntro = QStringLiteral(
    u"] لتفتح الصفحة نفسها.\n"
    u"يدقق البرنامج كل اقتباس على مصدره ويحذف ما لا يطابق. لا يفتي: يعرض ما في الكتب ويحيلك في حالتك الخاصة إلى المفتي.\n");
const QString txtWelcomeSpoken = QStringLiteral(u"تحدث معه كتابة أو بصوتك من زر الميكروفون، فيجيبك ويقرأ عليك الإجابة.\n\n");
const QString txtWelcomeTyped = QStringLiteral(u"اكتب سؤالك فيجيبك، ويقرأ عليك الإجابة إن شئت.\n\n");
const QString txtTry = QStringLiteral(u"جرب:  ");
const QString txtSeparator = QStringLiteral(u"   ·   ");
// The scholar of the first suggestion is one the biographical dictionary of
// the sample library lists.
const QStringList welcomeSuggestions{
    QStringLiteral(u"من هو شعبة بن الحجاج؟"),
    QStringLiteral(u"ما معنى الغرر؟"),
    QStringLiteral(u"أقوال العلماء في قراءة الفاتحة خلف الإمام"),
    QStringLiteral(u"«إنما الأعمال بالنيات»"),
    QStringLiteral(u"ما شروط وجوب الزكاة؟"),
};

constexpr double kTranscriptInsetH = 40;
constexpr double kTranscriptInsetV = 24;
constexpr double kBubbleLean = 0.28;
constexpr double kBubbleMinimum = 400;

QTextCharFormat ui(double size, QFont::Weight weight, const QColor& color)
{
    return RichText::chars(Theme::ui(size, weight), color);
}

// The accent of the appearance in force: emerald is lost on the night page.
QColor accent()
{
    return Theme::accent().resolve();
}

// The question in its bubble: deep emerald by day, the night accent by night.
QColor questionInk()
{
    return ThemeColor(Theme::emeraldDeep(), Theme::accent().dark()).resolve();
}

// A right-to-left, right-aligned paragraph.
QTextBlockFormat para(double lineSpacing, double after, double before = 0,
                      Qt::Alignment alignment = RichText::right)
{
    QTextBlockFormat format = RichText::paragraph(alignment);
    if (lineSpacing > 0)
        RichText::setLineSpacing(format, lineSpacing);
    format.setBottomMargin(after);
    format.setTopMargin(before);
    return format;
}

QTextCharFormat linked(QTextCharFormat format, const QString& href)
{
    format.setAnchor(true);
    format.setAnchorHref(href);
    return format;
}

QTextCharFormat liveText()
{
    return RichText::chars(Theme::reader(18), Theme::ink());
}

} // namespace

void welcome(QTextDocument* document)
{
    document->clear();
    // Clearing the document resets its root frame: the insets come after.
    document->setDocumentMargin(0);
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setLeftMargin(kTranscriptInsetH);
    frame.setRightMargin(kTranscriptInsetH);
    frame.setTopMargin(kTranscriptInsetV);
    frame.setBottomMargin(kTranscriptInsetV);
    document->rootFrame()->setFrameFormat(frame);
    RichTextBuilder out(document);
    const Qt::Alignment centre = Qt::AlignHCenter;
    out.append(txtWelcomeTitle, RichText::chars(Theme::logo(34), accent()), para(8, 6, 0, centre));
    out.append(txtWelcomeIntroHead + Arabic::num(1) + txtWelcomeIntro + (Listener::hasRecogniser() ? txtWelcomeSpoken : txtWelcomeTyped), ui(14, QFont::Normal, Theme::secondaryLabel()), para(8, 6, 0, centre));
    out.append(txtTry, ui(13, QFont::Medium, Theme::secondaryLabel()), para(8, 6, 0, centre));
    for (qsizetype i = 0; i < welcomeSuggestions.size(); ++i) {
        if (i > 0)
            out.append(txtSeparator, ui(13, QFont::Normal, Theme::withAlpha(Theme::secondaryLabel(), 0.6)), para(8, 6, 0, centre));
        out.append(welcomeSuggestions[i],
                   linked(ui(13.5, QFont::Medium, accent()), AnswerRenderer::askLink(welcomeSuggestions[i])),
                   para(8, 6, 0, centre));
    }
    out.append(QStringLiteral("\n\n"), QTextCharFormat(), para(8, 6, 0, centre));
}

void question(QTextDocument* document, const QString& text, double width)
{
    {
        RichTextBuilder out(document);
        out.append(txtYou, ui(11.5, QFont::DemiBold, Theme::secondaryLabel()), para(0, 4, 22));
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    QTextTableFormat table;
    table.setLeftMargin(kBubbleLean * qMax(width - 2 * kTranscriptInsetH, kBubbleMinimum));
    table.setBorder(1);
    table.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    table.setBorderBrush(Theme::withAlpha(Theme::gold(), 0.35));
    table.setBackground(Theme::withAlpha(Theme::gold(), 0.16));
    table.setCellPadding(12);
    table.setCellSpacing(0);
    table.setBorderCollapse(true);
    table.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    table.setLayoutDirection(Qt::RightToLeft);
    QTextTable* bubble = cursor.insertTable(1, 1, table);
    QTextCursor inside = bubble->cellAt(0, 0).firstCursorPosition();
    inside.setBlockFormat(para(4, 0));
    // The table's end breaks the line that the question's "\n" would.
    inside.insertText(text, ui(16, QFont::Bold, questionInk()));
}

void sender(RichTextBuilder& out)
{
    out.append(txtSender, ui(11.5, QFont::DemiBold, accent()), para(0, 2, 14));
}

void reply(QTextDocument* document, const QString& text, bool examples)
{
    RichTextBuilder out(document);
    sender(out);
    const QTextBlockFormat p = para(8, 6);
    out.append(text + u'\n', RichText::chars(Theme::reader(19), Theme::ink()), p);
    if (examples) {
        const QTextBlockFormat e = para(4, 6);
        for (const auto& [label, question] : SmallTalk::examples()) {
            out.append(label + QStringLiteral(u":  "), ui(13.5, QFont::Medium, Theme::secondaryLabel()), e);
            out.append(question + u'\n', linked(ui(14, QFont::Medium, accent()), AnswerRenderer::askLink(question)), e);
        }
        out.append(txtExamplesHint, ui(13, QFont::Normal, Theme::secondaryLabel()), p);
    }
}

void answer(RichTextBuilder& out, const AIAnswer& answer, int index, std::shared_ptr<const Catalog> catalog)
{
    AnswerRenderer::Options options;
    options.hasModel = LocalLLM::hasModel();
    options.canDownloadModel = LocalLLM::downloadConfigured();
    options.catalog = std::move(catalog);
    AnswerRenderer::render(out, answer, options);
    const QTextBlockFormat listen = para(2, 6);
    out.append(txtListen,
               linked(ui(12.5, QFont::Medium, accent()),
                      QString::fromLatin1(AnswerRenderer::speakLinkPrefix) + QString::number(index)),
               listen);
    out.append(QStringLiteral("\n"), QTextCharFormat(), listen);
}

int live(QTextDocument* document, bool waiting, const QString& streamed)
{
    RichTextBuilder out(document);
    sender(out);
    const int start = int(out.start() + out.length());
    if (waiting)
        out.append(LocalLLM::hasModel() ? txtWaitingModel : txtWaiting, ui(13, QFont::Normal, Theme::secondaryLabel()),
                   para(8, 6));
    else if (!streamed.isEmpty())
        out.append(Arabic::digits(streamed), liveText(), para(8, 6));
    return start;
}

void livePiece(QTextDocument* document, const QString& piece)
{
    RichTextBuilder out(document);
    // In the digits the finished answer will show.
    out.append(Arabic::digits(piece), liveText(), para(8, 6));
}

void removeFrom(QTextDocument* document, int start)
{
    QTextCursor cursor(document);
    cursor.setPosition(start);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void showReading(QTextDocument* document, std::optional<int> index)
{
    const QString prefix = QString::fromLatin1(AnswerRenderer::speakLinkPrefix);
    struct Link {
        int position;
        int length;
        QString text;
        QTextCharFormat format;
    };
    QList<Link> changes;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString href = fragment.charFormat().anchorHref();
            if (!href.startsWith(prefix))
                continue;
            bool ok = false;
            const int n = href.mid(prefix.size()).toInt(&ok, 10);
            const QString text = ok && index == n ? txtStopReading : txtListen;
            if (fragment.text() != text)
                changes.append({fragment.position(), fragment.length(), text, fragment.charFormat()});
        }
    }
    // From the end, so that the positions still to change stay where they were.
    for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
        QTextCursor cursor(document);
        cursor.setPosition(it->position);
        cursor.setPosition(it->position + it->length, QTextCursor::KeepAnchor);
        cursor.insertText(it->text, it->format);
    }
}

} // namespace quorvel::ChatTranscript
