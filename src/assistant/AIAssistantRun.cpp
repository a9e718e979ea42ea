#include "assistant/AIAssistant.h"

#include "assistant/DataQA.h"
#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/DistFetch.h"
#include "core/PyRegex.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace quorvel::AIAssistant {

namespace {

// Passages asked of retrieval: more for a research report.
constexpr int kAnswerPassages = 5;
constexpr int kReportPassages = 8;
constexpr int kPassagesPerBook = 2;
constexpr int kExtractiveSentences = 4;
constexpr int kReplyTokens = 500;

const QString notFoundText = QStringLiteral(
    "لم أجد في المصادر المتاحة ما يجيب عن هذا السؤال. جرّب صياغة أخرى أو كلمات أوضح.");
const QString chatFailedNote = QStringLiteral("تعذّر الاتصال بالنموذج: ");
const QString modelNotFoundNote = QStringLiteral(
    "لم يجد النموذج جوابا صريحا في المصادر التي راجعها؛ هذه أقرب النصوص إلى سؤالك.");
const QString removedQuotesBefore = QStringLiteral("حُذف ");
const QString removedQuotesAfter = QStringLiteral(" لم يطابق مصدره.");
const CountedNoun& quotations()
{
    static const CountedNoun noun(QStringLiteral("اقتباس"), QStringLiteral("اقتباسان"), QStringLiteral("اقتباسات"),
                                  QStringLiteral("اقتباسا"));
    return noun;
}
const QString quotesOnlyHeader = QStringLiteral("أقرب ما في المصادر إلى سؤالك:\n");
const QString unsupportedProseNote = QStringLiteral("حُذف من كلام النموذج ما لا تسنده المصادر.");
const QString stoppedNote = QStringLiteral("أوقفتَ المحرك أثناء الكتابة، فهذا ما كتبه قبل الإيقاف بعد مطابقته بالمصادر.");
const QString stoppedBeforeNote = QStringLiteral("أوقفتَ المحرك قبل أن يكتب شيئا، فهذه مقتطفات من الكتب.");
const QString stoppedReplyNote = QStringLiteral("أوقفتَ الكتابة، فهذا ما كتبه النموذج قبل الإيقاف بعد مطابقته بالمصادر.");
const QString stoppedReplyBeforeNote = QStringLiteral("أوقفتَ الكتابة قبل أن يكتب النموذج شيئا، فهذه مقتطفات من الكتب.");
const QString noQuotationNote = QStringLiteral("لم يستشهد النموذج بنص يطابق مصادره، فعرضت النصوص نفسها.");

// A verified quotation line of a grounded text.
const PyRegex::Regex& quotationLine()
{
    static const PyRegex::Regex re = PyRegex::compile(QStringLiteral("«[^»]+» \\[\\d+\\]"));
    return re;
}

QString quotationLines(const QString& text)
{
    QStringList lines;
    for (const PyRegex::Range& r : PyRegex::allMatches(quotationLine(), text))
        lines << text.mid(r.start, r.length);
    return lines.join(u'\n');
}

// The description of whatever the chat threw, as the user is shown it.
QString describeFailure(const std::exception& error)
{
    if (const auto* llm = dynamic_cast<const LocalLLM::LLMError*>(&error))
        return llm->description();
    return Dist::describe(error);
}

// When the found sentences are the answer, the passages are numbered in the
// order the sentences first cite them, from 1 and without gaps; the passages
// no sentence cites follow in their own order. The sources list, which
// follows the passages' order, then reads [1][2][3] too.
void numberByFirstCitation(AIAnswer& answer)
{
    QHash<int, int> renumbered;
    for (const ExtractedSentence& sentence : std::as_const(answer.extractive))
        if (!renumbered.contains(sentence.n))
            renumbered.insert(sentence.n, int(renumbered.size()) + 1);
    QList<Passage> cited;
    QList<Passage> others;
    for (const Passage& passage : std::as_const(answer.passages))
        (renumbered.contains(passage.n) ? cited : others).append(passage);
    // A sentence citing a number no passage has keeps nothing to point at.
    if (cited.size() != renumbered.size())
        return;
    std::stable_sort(cited.begin(), cited.end(),
                     [&](const Passage& a, const Passage& b) { return renumbered[a.n] < renumbered[b.n]; });
    int next = int(cited.size());
    for (Passage& passage : others)
        passage.n = ++next;
    for (Passage& passage : cited)
        passage.n = renumbered[passage.n];
    for (ExtractedSentence& sentence : answer.extractive)
        sentence.n = renumbered[sentence.n];
    answer.passages = cited + others;
}

// When a model's checked text cites passages other than 1, 2, … in the
// order it first cites them (its first quotation removed as made up, a reply
// stopped after a later one), they are renumbered that way, in its markers
// too, so the reader never meets [2] without [1]. The passages it does not
// cite follow in their own order.
void numberModelCitations(AIAnswer& answer)
{
    static const PyRegex::Regex marker = PyRegex::compile(QStringLiteral("\\[(\\d+)\\]"));
    QSet<int> known;
    for (const Passage& passage : std::as_const(answer.passages))
        known.insert(passage.n);
    const QList<PyRegex::Match> found = PyRegex::allMatchesWithGroups(marker, answer.text);
    QList<int> order;
    for (const PyRegex::Match& m : found) {
        const PyRegex::Range digits = *m.groups.value(0);
        bool ok = false;
        const int n = QStringView(answer.text).mid(digits.start, digits.length).toInt(&ok);
        if (ok && known.contains(n) && !order.contains(n))
            order.append(n);
    }
    bool inOrder = true;
    for (qsizetype i = 0; i < order.size(); ++i)
        inOrder = inOrder && order[i] == i + 1;
    if (inOrder)
        return;
    QHash<int, int> renumbered;
    for (const int n : order)
        renumbered.insert(n, int(renumbered.size()) + 1);
    QList<Passage> cited;
    QList<Passage> others;
    for (const Passage& passage : std::as_const(answer.passages))
        (renumbered.contains(passage.n) ? cited : others).append(passage);
    std::stable_sort(cited.begin(), cited.end(),
                     [&](const Passage& a, const Passage& b) { return renumbered[a.n] < renumbered[b.n]; });
    for (const Passage& passage : std::as_const(others))
        renumbered.insert(passage.n, int(renumbered.size()) + 1);
    // Markers from the last, so that earlier positions stay valid.
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const PyRegex::Range digits = *it->groups.value(0);
        bool ok = false;
        const int n = QStringView(answer.text).mid(digits.start, digits.length).toInt(&ok);
        if (ok && renumbered.contains(n))
            answer.text.replace(digits.start, digits.length, QString::number(renumbered[n]));
    }
    for (Passage& passage : cited)
        passage.n = renumbered[passage.n];
    for (Passage& passage : others)
        passage.n = renumbered[passage.n];
    for (ExtractedSentence& sentence : answer.extractive)
        sentence.n = renumbered.value(sentence.n, sentence.n);
    answer.passages = cited + others;
}

AIAnswer answerPath(const Library& lib, const QString& question, AIMode mode, const BookScope& scope,
                    const LocalLLM::DeltaHandler& onDelta);

AIAnswer numberedAnswer(const Library& lib, const QString& question, AIMode mode, const BookScope& scope,
                        const LocalLLM::DeltaHandler& onDelta)
{
    AIAnswer answer = answerPath(lib, question, mode, scope, onDelta);
    // A model's text cites the numbers it was given; only the sentences'
    // own answer is renumbered.
    if (answer.tier == 0 && !answer.structured)
        numberByFirstCitation(answer);
    else if (answer.tier == 1)
        numberModelCitations(answer);
    return answer;
}

AIAnswer answerPath(const Library& lib, const QString& question, AIMode mode, const BookScope& scope,
                    const LocalLLM::DeltaHandler& onDelta)
{
    const int k = mode == AIMode::report ? kReportPassages : kAnswerPassages;
    AIAnswer answer{mode, question, retrieve(lib, question, k, scope, kPassagesPerBook)};
    answer.isRuling = isRuling(question);
    answer.extractive = extractive(question, answer.passages, kExtractiveSentences);

    if (answer.passages.isEmpty()) {
        answer.text = notFoundText;
        answer.verifiedAll = true;
        return answer;
    }
    // A chosen model whose server did not start is said, not passed off as
    // an answer without a model.
    if (const ModelReadiness model = modelReadiness(chatFailedNote + LocalLLM::msgServerFailed); !model.ready) {
        answer.note = model.note;
        return answer;
    }

    const QString prompt = kashifPrompt(question, answer.passages, promptBudget);
    QString reply;
    // What streamed is kept: a stop the user asks for mid-reply ends the
    // chat with an error, yet the reply so far is answered like any reply.
    QString streamed;
    const std::uint64_t stopsBefore = LocalLLM::stopCount();
    bool stopped = false;
    bool replyStopped = false; // the writing was stopped, the engine runs on
    try {
        reply = LocalLLM::chat(QString(), prompt, kReplyTokens, [&](const QString& piece) {
            streamed += piece;
            if (onDelta)
                onDelta(piece);
        });
    } catch (const std::exception& error) {
        if (LocalLLM::stopCount() == stopsBefore) {
            answer.note = chatFailedNote + describeFailure(error);
            return answer;
        }
        stopped = true;
        replyStopped = describeFailure(error) == LocalLLM::msgReplyStopped;
        answer.cutShort = true;
        reply = LocalLLM::replyOf(streamed);
        if (reply.isEmpty()) {
            answer.note = replyStopped ? stoppedReplyBeforeNote : stoppedBeforeNote;
            return answer;
        }
    }
    // A stop may also end the stream as if the reply were over.
    if (!stopped && LocalLLM::stopCount() != stopsBefore) {
        stopped = true;
        answer.cutShort = true;
    }
    const auto withStop = [&] {
        if (stopped)
            answer.note = (replyStopped ? stoppedReplyNote : stoppedNote) + (answer.note ? u' ' + *answer.note : QString());
    };

    const Grounded g = ground(reply, answer.passages);
    answer.rawText = reply;
    answer.quoteCount = g.quotes;
    answer.failedQuotes = g.failed;
    if (g.notFound) {
        answer.note = modelNotFoundNote;
    } else if (g.quotes > 0 && g.faithful) {
        answer.text = g.text;
        answer.verifiedAll = g.failed == 0;
        answer.tier = 1;
        if (g.failed > 0)
            answer.note = removedQuotesBefore + quotations().count(g.failed) + removedQuotesAfter;
    } else if (g.quotes > 0) {
        answer.text = quotesOnlyHeader + quotationLines(g.text);
        answer.verifiedAll = g.failed == 0;
        answer.tier = 1;
        answer.quotesOnly = true;
        // A made-up quotation removed is said as well as the prose removed.
        answer.note = g.failed > 0
                          ? removedQuotesBefore + quotations().count(g.failed) + removedQuotesAfter + u' '
                                + unsupportedProseNote
                          : unsupportedProseNote;
    } else {
        answer.quoteCount = 0;
        answer.note = noQuotationNote;
    }
    withStop();
    return answer;
}

} // namespace

ModelReadiness modelReadiness(const QString& failedNote)
{
    if (LocalLLM::hasModel() && !LocalLLM::serverBinary())
        return {false, LocalLLM::msgNoServer};
    if (LocalLLM::ready())
        return {true, std::nullopt};
    return {false, LocalLLM::hasModel() ? std::optional<QString>(failedNote) : std::nullopt};
}

AIAnswer run(Library& lib, const QString& question, AIMode mode, const BookScope& scope,
             const LocalLLM::DeltaHandler& onDelta)
{
    switch (mode) {
    case AIMode::data:
        return DataQA::run(lib, question);
    case AIMode::views:
    case AIMode::biography:
    case AIMode::term:
    case AIMode::history:
    case AIMode::takhrij:
    case AIMode::sources:
        return Reports::run(lib, question, mode, scope, onDelta);
    case AIMode::automatic:
    case AIMode::answer:
    case AIMode::report:
        break;
    }
    return numberedAnswer(lib, question, mode, scope, onDelta);
}

} // namespace quorvel::AIAssistant
