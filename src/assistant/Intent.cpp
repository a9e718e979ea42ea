#include "assistant/Intent.h"

#include "core/Arabic.h"
#include "core/Characters.h"

#include <algorithm>

namespace quorvel::Intent {

namespace {

// A quotation of this many words or more is a text to find, whatever the
// wording around it.
constexpr qsizetype kMinQuotedTokens = 3;
// A topic this long is a whole sentence, not something to suggest on.
constexpr qsizetype kMaxSuggestionTokens = 9;

bool isCleanSeparator(QChar c)
{
    static const QString marks = QStringLiteral("؟?!.،,:");
    return c.isSpace() || marks.contains(c);
}

// A rule's phrases in normal form, longest first (by characters of the
// plain spelling), equal lengths in table order.
struct NormalRule {
    AIMode mode;
    QStringList phrases;
};

const QList<NormalRule>& normalRules()
{
    static const QList<NormalRule> normal = [] {
        QList<NormalRule> out;
        for (const Rule& rule : rules()) {
            QStringList phrases = rule.phrases;
            std::stable_sort(phrases.begin(), phrases.end(), [](const QString& a, const QString& b) {
                return Characters::count(a) > Characters::count(b);
            });
            for (QString& p : phrases)
                p = Arabic::normalize(p);
            out.append({rule.mode, phrases});
        }
        return out;
    }();
    return normal;
}

const QStringList& normalOpeners()
{
    static const QStringList normal = [] {
        QStringList out;
        for (const QString& o : followUpOpeners())
            out.append(Arabic::normalize(o));
        return out;
    }();
    return normal;
}

std::optional<QString> quotedText(const QString& question)
{
    for (const auto& [open, close] : quotationPairs()) {
        const qsizetype start = question.indexOf(open);
        if (start < 0)
            continue;
        const qsizetype from = start + open.size();
        const qsizetype end = question.indexOf(close, from);
        if (end < 0)
            continue;
        const QString inner = Characters::trimSpacesAndTabs(QStringView(question).sliced(from, end - from)).toString();
        if (Arabic::tokens(inner).size() >= kMinQuotedTokens)
            return inner;
    }
    return std::nullopt;
}

// What the report mode asks of the answering operation before its topic.
const QString reportLead = QStringLiteral("ما خلاصة ما ورد في المصادر عن ");

} // namespace

const QList<Rule>& rules()
{
    static const QList<Rule> table{
        {AIMode::data,
         {QStringLiteral("جدول"), QStringLiteral("جدولا"), QStringLiteral("بجدول"), QStringLiteral("قائمة الكتب"),
          QStringLiteral("قائمة بالكتب"), QStringLiteral("قائمة المؤلفين"), QStringLiteral("قائمة بكتب"),
          QStringLiteral("عدد الكتب"), QStringLiteral("عدد المؤلفين"), QStringLiteral("كم كتابا"),
          QStringLiteral("كم مؤلفا"), QStringLiteral("كم مرة"), QStringLiteral("كم صفحة"), QStringLiteral("إحصاء"),
          QStringLiteral("إحصاءات"), QStringLiteral("إحصائيات"), QStringLiteral("توزيع"), QStringLiteral("قارن"),
          QStringLiteral("رسم بياني"), QStringLiteral("أكثر المؤلفين"), QStringLiteral("أكثر الكتب"),
          QStringLiteral("حسب القرن"), QStringLiteral("حسب القرون"), QStringLiteral("حسب القسم"),
          QStringLiteral("حسب الأقسام"), QStringLiteral("لكل قرن"), QStringLiteral("لكل قسم"),
          QStringLiteral("ترتيب الكتب"), QStringLiteral("في كل كتاب"), QStringLiteral("لكل كتاب")}},
        {AIMode::takhrij,
         {QStringLiteral("أين ورد"), QStringLiteral("أين وردت"), QStringLiteral("أين ورد حديث"),
          QStringLiteral("من روى حديث"), QStringLiteral("من روى"), QStringLiteral("من أخرج حديث"),
          QStringLiteral("من أخرج"), QStringLiteral("تخريج حديث"), QStringLiteral("تخريج")}},
        {AIMode::biography,
         {QStringLiteral("من هو"), QStringLiteral("من هي"), QStringLiteral("من يكون"), QStringLiteral("ترجمة"),
          QStringLiteral("سيرة الإمام"), QStringLiteral("سيرة الشيخ"), QStringLiteral("حياة الإمام"),
          QStringLiteral("حياة")}},
        {AIMode::term,
         {QStringLiteral("ما معنى كلمة"), QStringLiteral("ما معنى"), QStringLiteral("ما تعريف"),
          QStringLiteral("ما المقصود ب"), QStringLiteral("ما المقصود"), QStringLiteral("ما المراد ب"),
          QStringLiteral("ما المراد"), QStringLiteral("معنى كلمة"), QStringLiteral("تعريف"), QStringLiteral("معنى")}},
        {AIMode::views,
         {QStringLiteral("ما أقوال العلماء في"), QStringLiteral("أقوال العلماء في"), QStringLiteral("أقوال العلماء"),
          QStringLiteral("ما آراء العلماء في"), QStringLiteral("آراء العلماء في"), QStringLiteral("آراء العلماء"),
          QStringLiteral("رأي العلماء في"), QStringLiteral("خلاف العلماء في"), QStringLiteral("اختلاف العلماء في"),
          QStringLiteral("أقوال المذاهب في"), QStringLiteral("مذاهب العلماء في"), QStringLiteral("أقوال الفقهاء في"),
          QStringLiteral("أقوال"), QStringLiteral("آراء")}},
        {AIMode::history,
         {QStringLiteral("تطور مسألة"), QStringLiteral("تطور"), QStringLiteral("نشأة"), QStringLiteral("تاريخ مسألة"),
          QStringLiteral("عبر القرون"), QStringLiteral("عبر العصور"), QStringLiteral("أول من قال")}},
        {AIMode::sources,
         {QStringLiteral("ما الكتب التي تناولت"), QStringLiteral("ما الكتب التي"), QStringLiteral("أهم الكتب في"),
          QStringLiteral("أهم الكتب عن"), QStringLiteral("أهم الكتب"), QStringLiteral("كتب في"),
          QStringLiteral("مصادر"), QStringLiteral("مراجع")}},
        {AIMode::report,
         {QStringLiteral("اكتب تقريرا عن"), QStringLiteral("تقرير عن"), QStringLiteral("اكتب بحثا عن"),
          QStringLiteral("بحث عن"), QStringLiteral("تقرير")}},
    };
    return table;
}

const QStringList& lead()
{
    // متي is stored as normal text carries it (ى folds to ي), so that the
    // question word is stripped like the others.
    static const QStringList words{
        QStringLiteral("ما"),   QStringLiteral("هل"),   QStringLiteral("ماذا"), QStringLiteral("في"),
        QStringLiteral("عن"),   QStringLiteral("حول"),  QStringLiteral("كيف"),  QStringLiteral("لماذا"),
        QStringLiteral("متي"),  QStringLiteral("اين"),  QStringLiteral("حكم"),  QStringLiteral("يجوز"),
        QStringLiteral("يجب"),  QStringLiteral("يصح"),  QStringLiteral("يحل"),  QStringLiteral("يحرم"),
        QStringLiteral("تجوز"), QStringLiteral("تجب"),  QStringLiteral("تصح")};
    return words;
}

const QStringList& backReferences()
{
    static const QStringList words{
        QStringLiteral("قال"),  QStringLiteral("قالوا"), QStringLiteral("يقول"), QStringLiteral("يقولون"),
        QStringLiteral("ذلك"),  QStringLiteral("بذلك"),  QStringLiteral("لذلك"), QStringLiteral("هذا"),
        QStringLiteral("بهذا"), QStringLiteral("هذه"),   QStringLiteral("به"),   QStringLiteral("بها"),
        QStringLiteral("فيه"),  QStringLiteral("فيها"),  QStringLiteral("عنه"),  QStringLiteral("عنها"),
        QStringLiteral("منه"),  QStringLiteral("منها"),  QStringLiteral("عليه"), QStringLiteral("عليها")};
    return words;
}

const QStringList& followUpOpeners()
{
    static const QStringList openers{
        QStringLiteral("وماذا عن"), QStringLiteral("ماذا عن"), QStringLiteral("وما"),  QStringLiteral("وعند"),
        QStringLiteral("وفي"),      QStringLiteral("وكذلك"),   QStringLiteral("وهل"),  QStringLiteral("وكيف"),
        QStringLiteral("ومن"),      QStringLiteral("واين"),    QStringLiteral("وعن")};
    return openers;
}

const QList<std::pair<QString, QString>>& quotationPairs()
{
    static const QList<std::pair<QString, QString>> pairs{
        {QStringLiteral("«"), QStringLiteral("»")},
        {QStringLiteral("\""), QStringLiteral("\"")},
        {QStringLiteral("“"), QStringLiteral("”")},
    };
    return pairs;
}

QString clean(const QString& text)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : text) {
        if (isCleanSeparator(c)) {
            if (!piece.isEmpty())
                pieces.append(piece);
            piece.clear();
        } else {
            piece.append(c);
        }
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    const QStringList& leading = lead();
    qsizetype first = 0;
    while (first < pieces.size() && leading.contains(Arabic::normalize(pieces[first])))
        ++first;
    return pieces.mid(first).join(QLatin1Char(' '));
}

std::pair<AIMode, QString> route(const QString& question)
{
    if (auto quoted = quotedText(question))
        return {AIMode::takhrij, *quoted};

    const Arabic::Index idx = Arabic::index(question);
    const QString& norm = idx.norm;
    const QChar space(u' ');
    for (const NormalRule& rule : normalRules()) {
        for (const QString& p : rule.phrases) {
            if (p.isEmpty())
                continue;
            // Only the first occurrence is examined, even when it sits inside
            // a longer word and a later one stands alone.
            const qsizetype at = norm.indexOf(p);
            if (at < 0)
                continue;
            const qsizetype after = at + p.size();
            if ((at > 0 && norm[at - 1] != space) || (after < norm.size() && norm[after] != space))
                continue;
            const qsizetype last = after - 1;
            if (last >= idx.map.size())
                continue;
            // The end is the unit after the phrase's last letter, so marks
            // written on that letter stay with the topic.
            const qsizetype start = idx.map[at];
            const qsizetype end = std::min<qsizetype>(idx.map[last] + 1, question.size());
            if (start > end)
                continue;
            QString rest = question;
            rest.replace(start, end - start, space);
            const QString topic = clean(rest);
            if (!Arabic::tokens(topic).isEmpty())
                return {rule.mode, topic};
        }
    }
    return {AIMode::answer, question};
}

std::optional<QString> followUp(const QString& question)
{
    const QString q = Arabic::normalize(question);
    bool opens = false;
    for (const QString& o : normalOpeners()) {
        if (q == o || q.startsWith(o + QLatin1Char(' '))) {
            opens = true;
            break;
        }
    }
    if (!opens)
        return std::nullopt;
    const auto space = std::find_if(question.begin(), question.end(), [](QChar c) { return c.isSpace(); });
    if (space == question.end())
        return QString();
    return clean(question.sliced(space - question.begin()));
}

Plan plan(const QString& text, AIMode kind, const std::optional<QString>& lastTopic,
          const std::optional<AIMode>& lastMode)
{
    Plan p{kind, QString(), QString(), false, false};
    const std::optional<QString> f = followUp(text);
    if (f && !f->isEmpty() && lastTopic) {
        p.topic = *lastTopic + u' ' + *f;
        p.follow = true;
        if (kind == AIMode::automatic) {
            p.mode = lastMode.value_or(AIMode::answer);
            p.routed = true;
        }
    } else if (kind == AIMode::automatic) {
        const auto [mode, topic] = route(text);
        p.mode = mode;
        p.topic = mode == AIMode::answer ? clean(text) : topic;
        p.routed = true;
    } else {
        p.topic = clean(text);
    }
    // A biography chosen by hand is asked «من هو …؟» as often as routed.
    if (p.mode == AIMode::biography && !p.follow)
        p.topic = person(p.topic);
    switch (p.mode) {
    case AIMode::data:
        p.question = text;
        break;
    case AIMode::answer:
        p.question = p.follow ? lastTopic.value_or(QString()) + QStringLiteral(": ") + text : text;
        break;
    case AIMode::report:
        p.question = reportLead + p.topic + u'؟';
        break;
    default:
        p.question = p.topic;
        break;
    }
    return p;
}

QString person(const QString& text)
{
    // The biography rule's phrases, in normal form, longest first.
    static const QList<QStringList> asking = [] {
        QList<QStringList> out;
        for (const NormalRule& rule : normalRules()) {
            if (rule.mode == AIMode::biography) {
                for (const QString& phrase : rule.phrases)
                    out.append(phrase.split(u' ', Qt::SkipEmptyParts));
            }
        }
        return out;
    }();
    QStringList words = clean(text).split(u' ', Qt::SkipEmptyParts);
    for (bool stripped = true; stripped;) {
        stripped = false;
        for (const QStringList& phrase : asking) {
            if (phrase.isEmpty() || words.size() <= phrase.size())
                continue;
            bool opens = true;
            for (qsizetype i = 0; i < phrase.size() && opens; ++i)
                opens = Arabic::normalize(words[i]) == phrase[i];
            if (opens) {
                words = clean(words.mid(phrase.size()).join(u' ')).split(u' ', Qt::SkipEmptyParts);
                stripped = true;
                break;
            }
        }
    }
    return words.join(u' ');
}

QStringList suggestions(AIMode mode, const QString& topic)
{
    // A follow-up joins its own words to the topic ("بيع الغرر قال بذلك");
    // they are dropped as `clean` drops question words.
    QStringList kept;
    for (const QString& w : Characters::trimSpacesAndTabs(topic).toString().split(u' ')) {
        if (!backReferences().contains(Arabic::normalize(w)))
            kept.append(w);
    }
    const QString t = kept.join(u' ');
    if (t.isEmpty() || Arabic::tokens(t).size() >= kMaxSuggestionTokens)
        return {};
    const QString views = QStringLiteral("أقوال العلماء في ") + t;
    const QString history = QStringLiteral("تطور ") + t + QStringLiteral(" عبر القرون");
    const QString sources = QStringLiteral("أهم الكتب في ") + t;
    const QString term = QStringLiteral("تعريف ") + t;
    switch (mode) {
    case AIMode::automatic:
    case AIMode::answer:
    case AIMode::report:
    case AIMode::term:
        return {views, history, sources};
    case AIMode::views:
        return {history, term, sources};
    case AIMode::biography:
        return {views, sources};
    case AIMode::history:
        return {views, sources, term};
    case AIMode::takhrij:
        return {views};
    case AIMode::sources:
        return {views, history};
    case AIMode::data:
        return {};
    }
    return {};
}

} // namespace quorvel::Intent
