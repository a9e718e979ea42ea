#include "assistant/SmallTalk.h"

#include "core/Arabic.h"

#include <QStringList>

#include <algorithm>

namespace quorvel::SmallTalk {

namespace {

// A phrase of who, help or bye followed by this many words or more opens a
// real question rather than a courtesy.
constexpr qsizetype kMaxWordsAfterQuestionPhrase = 4;

const QString& addressWord()
{
    static const QString ya = QStringLiteral("يا");
    return ya;
}

// The self-description of the assistant, the reply to who and help.
const QString& selfDescription()
{
    static const QString w = QStringLiteral(
        "أنا مساعد البحث في مكتبة قورفل: أبحث في كتب المكتبة وأجيبك بنصوصها، وكل نقل معزو إلى كتابه "
        "وجزئه وصفحته. أعمل على جهازك دون اتصال، ولا أفتي، بل أعرض ما في الكتب.");
    return w;
}

bool isSeparator(QChar c)
{
    static const QString marks = QStringLiteral("،,.!؟?؛:");
    return c.isSpace() || marks.contains(c);
}

QStringList wordsOf(const QString& message)
{
    QStringList out;
    QString word;
    for (const QChar c : message) {
        if (isSeparator(c)) {
            if (!word.isEmpty())
                out.append(word);
            word.clear();
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        out.append(word);
    return out;
}

struct MatchPhrase {
    QStringList words; // normalised
};

struct MatchKind {
    Kind kind;
    QList<MatchPhrase> phrases; // most words first, ties in table order
};

const QList<MatchKind>& matchingForm()
{
    static const QList<MatchKind> form = [] {
        QList<MatchKind> out;
        for (const Entry& entry : table()) {
            MatchKind mk{entry.kind, {}};
            for (const QString& phrase : entry.phrases) {
                MatchPhrase p;
                for (const QString& w : phrase.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                    p.words.append(Arabic::normalize(w));
                mk.phrases.append(p);
            }
            std::stable_sort(mk.phrases.begin(), mk.phrases.end(),
                             [](const MatchPhrase& a, const MatchPhrase& b) {
                                 return a.words.size() > b.words.size();
                             });
            out.append(mk);
        }
        return out;
    }();
    return form;
}

} // namespace

const QList<Entry>& table()
{
    static const QList<Entry> entries{
        {Kind::salam,
         {QStringLiteral("السلام عليكم ورحمة الله وبركاته"), QStringLiteral("السلام عليكم ورحمة الله"),
          QStringLiteral("السلام عليكم"), QStringLiteral("سلام عليكم")}},
        {Kind::greet,
         {QStringLiteral("صباح الخير"), QStringLiteral("مساء الخير"), QStringLiteral("مرحبا"),
          QStringLiteral("أهلا وسهلا"), QStringLiteral("أهلا"), QStringLiteral("هلا"),
          QStringLiteral("حياك الله"), QStringLiteral("هاي")}},
        {Kind::thanks,
         {QStringLiteral("جزاك الله خيرا"), QStringLiteral("بارك الله فيك"), QStringLiteral("شكرا جزيلا"),
          QStringLiteral("شكرا"), QStringLiteral("مشكور"), QStringLiteral("تسلم"), QStringLiteral("أحسنت"),
          QStringLiteral("ممتاز")}},
        {Kind::who,
         {QStringLiteral("من أنت"), QStringLiteral("ما اسمك"), QStringLiteral("عرف بنفسك"),
          QStringLiteral("ما أنت")}},
        {Kind::help,
         {QStringLiteral("ماذا تستطيع"), QStringLiteral("ماذا تفعل"), QStringLiteral("ما الذي تستطيعه"),
          QStringLiteral("ما الذي تستطيع"), QStringLiteral("كيف أستخدمك"), QStringLiteral("كيف أستعملك"),
          QStringLiteral("بماذا تساعدني"), QStringLiteral("ماذا أسأل"), QStringLiteral("ساعدني"),
          QStringLiteral("مساعدة")}},
        {Kind::bye,
         {QStringLiteral("مع السلامة"), QStringLiteral("في أمان الله"), QStringLiteral("إلى اللقاء"),
          QStringLiteral("وداعا")}},
    };
    return entries;
}

std::optional<std::pair<Kind, QString>> split(const QString& message)
{
    const QStringList written = wordsOf(message);
    if (written.isEmpty())
        return std::nullopt;
    QStringList norm;
    norm.reserve(written.size());
    for (const QString& w : written)
        norm.append(Arabic::normalize(w));

    for (const MatchKind& mk : matchingForm()) {
        for (const MatchPhrase& phrase : mk.phrases) {
            const qsizetype k = phrase.words.size();
            if (k == 0 || written.size() < k)
                continue;
            if (!std::equal(phrase.words.begin(), phrase.words.end(), norm.begin()))
                continue;
            QStringList rest = written.mid(k);
            if (mk.kind == Kind::salam || mk.kind == Kind::greet || mk.kind == Kind::thanks) {
                // The person addressed ("يا شيخ") is part of the courtesy; a
                // message may also end with the bare address word.
                if (!rest.isEmpty() && rest.first() == addressWord())
                    rest = rest.mid(2);
                return std::pair{mk.kind, rest.join(QLatin1Char(' '))};
            }
            if (rest.size() < kMaxWordsAfterQuestionPhrase)
                return std::pair{mk.kind, rest.join(QLatin1Char(' '))};
        }
    }
    return std::nullopt;
}

QString reply(Kind kind, bool hasQuestion)
{
    switch (kind) {
    case Kind::salam:
        return hasQuestion ? QStringLiteral("وعليكم السلام ورحمة الله.")
                           : QStringLiteral("وعليكم السلام ورحمة الله وبركاته. اسألني عما شئت، كتابة أو بصوتك من "
                                            "زر الميكروفون.");
    case Kind::greet:
        return hasQuestion ? QStringLiteral("أهلا بك.")
                           : QStringLiteral("أهلا بك. اسألني عما شئت في كتب المكتبة، كتابة أو بصوتك.");
    case Kind::thanks:
        return hasQuestion ? QStringLiteral("وإياك.") : QStringLiteral("وإياك، بارك الله فيك. هل من سؤال آخر؟");
    case Kind::who:
        return selfDescription();
    case Kind::help:
        return selfDescription() + QLatin1Char('\n') + QStringLiteral("أمثلة لما تستطيع سؤاله:");
    case Kind::bye:
        return QStringLiteral("في أمان الله.");
    }
    return QString();
}

const QList<std::pair<QString, QString>>& examples()
{
    static const QList<std::pair<QString, QString>> list{
        {QStringLiteral("سؤال مباشر"), QStringLiteral("ما شروط وجوب الزكاة؟")},
        {QStringLiteral("ترجمة علم"), QStringLiteral("من هو أبو عبد الله محمد بن إدريس الشافعي؟")},
        {QStringLiteral("معنى مصطلح"), QStringLiteral("ما معنى الغرر؟")},
        {QStringLiteral("أقوال العلماء"), QStringLiteral("أقوال العلماء في قراءة الفاتحة خلف الإمام")},
        {QStringLiteral("تخريج نص"), QStringLiteral("«إنما الأعمال بالنيات»")},
        {QStringLiteral("جدول وأرقام"), QStringLiteral("عدد الكتب حسب القرن")},
        {QStringLiteral("مقارنة"), QStringLiteral("قارن ورود الصلاة والزكاة حسب القرن")},
    };
    return list;
}

} // namespace quorvel::SmallTalk
