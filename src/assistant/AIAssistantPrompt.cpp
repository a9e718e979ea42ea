#include "assistant/AIAssistant.h"

#include "core/Characters.h"

#include <limits>

namespace quorvel::AIAssistant {

namespace {

const QString promptHeader = QStringLiteral(
    "أجب على السؤال بناء على السياق أدناه. أجب بالعربية في جملتين أو ثلاث، ثم انقل بين علامتي تنصيص "
    "الجملة من السياق التي تدل على الجواب كما هي حرفا بحرف.\n\nالسياق:\n");
const QString questionCue = QStringLiteral("السؤال: ");
const QString answerCue = QStringLiteral("\nالإجابة:");

} // namespace

QString kashifPrompt(const QString& question, const QList<Passage>& passages, int maxChars)
{
    QString context;
    qsizetype contextChars = 0;
    for (const Passage& passage : passages) {
        const QString block = u'[' + QString::number(passage.n) + QStringLiteral("] ") + passage.bookTitle
            + u'\n' + passage.text + QStringLiteral("\n\n");
        // Counting stops just past what could still fit, so a huge passage is
        // not walked to its end only to be refused.
        const qsizetype cap = context.isEmpty() ? std::numeric_limits<qsizetype>::max() - 1
                                                : qMax<qsizetype>(0, maxChars - contextChars);
        const qsizetype blockChars = Characters::count(block, cap);
        if (!context.isEmpty() && contextChars + blockChars > maxChars)
            break;
        context += block;
        contextChars += blockChars;
    }
    return promptHeader + context + questionCue + question + answerCue;
}

} // namespace quorvel::AIAssistant
