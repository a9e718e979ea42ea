#include "assistant/DataQA.h"

#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/Library.h"

#include <QHash>

#include <algorithm>
#include <map>

namespace quorvel::DataQA {

namespace {

// A word shorter than this is never matched against names.
constexpr qsizetype kMinCandidateLength = 3;
// An article is dropped from a word only when a stem of 3 letters remains.
constexpr qsizetype kMinArticleWordLength = 5;

const QString& space()
{
    static const QString s = QStringLiteral(" ");
    return s;
}

const QStringList& triggerWords()
{
    static const QStringList words{QStringLiteral("كلمه"), QStringLiteral("ورود"), QStringLiteral("وردت"),
                                   QStringLiteral("لفظ"),  QStringLiteral("ذكر"),  QStringLiteral("لفظه")};
    return words;
}

const QStringList& followWords()
{
    static const QStringList words{QStringLiteral("كلمه"), QStringLiteral("لفظ"), QStringLiteral("لفظه")};
    return words;
}

const QStringList& stopWords()
{
    static const QStringList words{QStringLiteral("في"),   QStringLiteral("حسب"), QStringLiteral("عبر"),
                                   QStringLiteral("لكل"),  QStringLiteral("بين"), QStringLiteral("من"),
                                   QStringLiteral("عند"),  QStringLiteral("داخل"), QStringLiteral("خلال")};
    return words;
}

const QStringList& centuryPhrases()
{
    static const QStringList p{QStringLiteral("حسب القرن"),  QStringLiteral("لكل قرن"),    QStringLiteral("في كل قرن"),
                               QStringLiteral("عبر القرون"), QStringLiteral("حسب القرون"), QStringLiteral("على القرون"),
                               QStringLiteral("القرون")};
    return p;
}

const QStringList& categoryPhrases()
{
    static const QStringList p{QStringLiteral("حسب القسم"),   QStringLiteral("لكل قسم"),     QStringLiteral("حسب الاقسام"),
                               QStringLiteral("في كل قسم"),   QStringLiteral("حسب الموضوع"), QStringLiteral("على الاقسام"),
                               QStringLiteral("الاقسام")};
    return p;
}

const QStringList& authorPhrases()
{
    static const QStringList p{QStringLiteral("حسب المؤلف"), QStringLiteral("لكل مؤلف"), QStringLiteral("حسب المؤلفين")};
    return p;
}

const QStringList& bookPhrases()
{
    static const QStringList p{QStringLiteral("حسب الكتاب"), QStringLiteral("في كل كتاب"), QStringLiteral("لكل كتاب"),
                               QStringLiteral("حسب الكتب")};
    return p;
}

const QStringList& statisticsPhrases()
{
    static const QStringList p{QStringLiteral("احصاءات المكتبه"), QStringLiteral("احصاء المكتبه"),
                               QStringLiteral("احصائيات المكتبه"), QStringLiteral("عن المكتبه"),
                               QStringLiteral("حجم المكتبه")};
    return p;
}

const QStringList& authorListWords()
{
    static const QStringList p{QStringLiteral("المؤلفين"), QStringLiteral("مؤلفي"), QStringLiteral("العلماء"),
                               QStringLiteral("مؤلفا"), QStringLiteral("المؤلفون"),
                               QStringLiteral("مؤلف")};
    return p;
}

// The words after which a question names whose books it means: "كتب
// البخاري", "كم كتابا للبخاري".
const QStringList& bookWords()
{
    static const QStringList words{QStringLiteral("كتب"), QStringLiteral("الكتب"), QStringLiteral("بكتب"),
                                   QStringLiteral("كتابا"), QStringLiteral("مؤلفات")};
    return words;
}

const QHash<QString, int>& numberWords()
{
    static const QHash<QString, int> words{
        {QStringLiteral("عشره"), 10},  {QStringLiteral("عشرين"), 20}, {QStringLiteral("ثلاثين"), 30},
        {QStringLiteral("خمسين"), 50}, {QStringLiteral("خمسه"), 5},   {QStringLiteral("مئه"), 100}};
    return words;
}

bool isDisplaySeparator(QChar c)
{
    static const QString marks = QStringLiteral("«»\"“”؟?!.،,:");
    return c.isSpace() || marks.contains(c);
}

// The value of a word written as an optionally signed integer in any digits.
std::optional<std::int64_t> readInteger(const QString& word)
{
    const QString latin = Arabic::latinDigits(word);
    qsizetype i = 0;
    if (!latin.isEmpty() && (latin[0] == u'+' || latin[0] == u'-'))
        i = 1;
    if (i == latin.size())
        return std::nullopt;
    for (qsizetype k = i; k < latin.size(); ++k) {
        if (latin[k] < u'0' || latin[k] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qlonglong v = latin.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QStringList wordsOf(const QString& normal)
{
    return normal.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void addQuotedTerms(const QString& question, Request& req)
{
    static const std::array<std::pair<QString, QString>, 3> pairs{{
        {QStringLiteral("«"), QStringLiteral("»")},
        {QStringLiteral("\""), QStringLiteral("\"")},
        {QStringLiteral("“"), QStringLiteral("”")},
    }};
    // Every pair scans the whole question, so text inside two kinds of
    // marks is found twice.
    for (const auto& [open, close] : pairs) {
        qsizetype from = 0;
        while (true) {
            const qsizetype start = question.indexOf(open, from);
            if (start < 0)
                break;
            const qsizetype inner = start + open.size();
            const qsizetype end = question.indexOf(close, inner);
            if (end < 0)
                break;
            const QString term = Arabic::normalize(question.sliced(inner, end - inner));
            if (!term.isEmpty())
                req.terms.append(term);
            from = end + close.size();
        }
    }
}

void addTriggeredTerms(const QStringList& words, Request& req)
{
    const auto trigger = std::find_if(words.begin(), words.end(),
                                      [](const QString& w) { return triggerWords().contains(w); });
    if (trigger == words.end())
        return;
    qsizetype at = (trigger - words.begin()) + 1;
    if (at < words.size() && followWords().contains(words[at]))
        ++at;
    QStringList phrase;
    for (; at < words.size(); ++at) {
        const QString& w = words[at];
        if (stopWords().contains(w))
            break;
        // "الصبر والشكر": a word opening with و starts the next term.
        if (w.startsWith(u'و') && w.size() >= 4 && !phrase.isEmpty()) {
            req.terms.append(phrase.join(space()));
            phrase = {w.sliced(1)};
            continue;
        }
        phrase.append(w);
    }
    if (!phrase.isEmpty())
        req.terms.append(phrase.join(space()));
}

void addShown(const QString& question, Request& req)
{
    QHash<QString, QString> written;
    QString piece;
    const auto record = [&] {
        if (!piece.isEmpty())
            written.insert(Arabic::normalize(piece), piece);
        piece.clear();
    };
    for (const QChar c : question) {
        if (isDisplaySeparator(c))
            record();
        else
            piece.append(c);
    }
    record();
    for (const QString& term : req.terms) {
        QStringList out;
        for (const QString& w : wordsOf(term)) {
            if (auto it = written.constFind(w); it != written.cend())
                out.append(*it);
            else if (auto with = written.constFind(QStringLiteral("و") + w); with != written.cend())
                out.append(with->sliced(1));
            else
                out.append(w);
        }
        req.shown.append(out.join(space()));
    }
}

// What "كم" asks to count when it is none of the library's own measures
// (books, authors, pages, centuries, categories, occurrences): the word
// after it as the question writes it; empty otherwise.
QString uncountedUnit(const QString& question)
{
    QStringList written;
    QString piece;
    for (const QChar c : question + u' ') {
        if (isDisplaySeparator(c)) {
            if (!piece.isEmpty())
                written << piece;
            piece.clear();
        } else {
            piece.append(c);
        }
    }
    static const QString how = Arabic::normalize(QStringLiteral("كم"));
    static const QSet<QString> measures{Arabic::normalize(QStringLiteral("قرنا")), Arabic::normalize(QStringLiteral("قسما"))};
    for (qsizetype i = 0; i + 1 < written.size(); ++i) {
        if (Arabic::normalize(written[i]) != how)
            continue;
        const QString unit = Arabic::normalize(written[i + 1]);
        return commandWords().contains(unit) || measures.contains(unit) || readInteger(unit) ? QString() : written[i + 1];
    }
    return {};
}

// Centuries named by number run up to this one.
constexpr int kMaxCentury = 19;

std::optional<int> centuryOf(const QStringList& words)
{
    const auto at = std::find_if(words.begin(), words.end(), [](const QString& w) {
        return w == QStringLiteral("القرن") || w == QStringLiteral("قرن");
    });
    if (at == words.end() || at + 1 == words.end())
        return std::nullopt;
    const QString& next = *(at + 1);
    QString key = next;
    if (at + 2 != words.end() && *(at + 2) == QStringLiteral("عشر"))
        key += QStringLiteral(" عشر");
    const auto& ords = ordinals();
    for (int k = 1; k < int(ords.size()); ++k) {
        if (key == ords[k])
            return k;
    }
    if (const auto n = readInteger(next); n && *n >= 1 && *n <= kMaxCentury)
        return int(*n);
    return std::nullopt;
}

// A name word as the question and the catalogue may both write it: the
// kunya in any case ("أبي حنيفة" names "أبو حنيفة").
QString nameWord(const QString& w)
{
    if (w == QStringLiteral("ابي") || w == QStringLiteral("ابا"))
        return QStringLiteral("ابو");
    return w;
}

// The words of the name that follows a book word, without the ل that joins
// it ("للبخاري" gives البخاري, "لابي" ابي), as normalised and as written.
std::pair<QStringList, QString> namedAfterBookWord(const QString& question, const QStringList& words,
                                                   const QSet<QString>& termWords)
{
    const auto at = std::find_if(words.begin(), words.end(), [](const QString& w) { return bookWords().contains(w); });
    QStringList named;
    for (auto it = at == words.end() ? at : at + 1; it != words.end(); ++it) {
        if (stopWords().contains(*it))
            break;
        if (commandWords().contains(*it) || termWords.contains(*it) || readInteger(*it))
            continue;
        named.append(*it);
    }
    if (named.isEmpty())
        return {};
    const auto unjoined = [](const QString& w) {
        if (w.startsWith(QStringLiteral("لل")) && w.size() >= kMinArticleWordLength)
            return QStringLiteral("ا") + w.sliced(1);
        if (w.startsWith(u'ل') && w.size() > kMinCandidateLength)
            return w.sliced(1);
        return w;
    };
    const bool joined = unjoined(named.first()) != named.first();
    named.first() = unjoined(named.first());

    // The name as written: the run of the question's pieces that
    // normalise to its words, the joining ل (and a tatweel after it) dropped.
    QStringList pieces;
    QString piece;
    for (const QChar c : question + QLatin1Char(' ')) {
        if (isDisplaySeparator(c)) {
            if (!Arabic::normalize(piece).isEmpty())
                pieces.append(piece);
            piece.clear();
        } else {
            piece.append(c);
        }
    }
    QStringList shown;
    for (const QString& p : pieces) {
        if (shown.size() == named.size())
            break;
        QString w = p;
        if (shown.isEmpty() && joined) {
            w = Arabic::normalize(p).startsWith(QStringLiteral("لل")) ? QStringLiteral("ا") + p.sliced(1) : p.sliced(1);
            while (w.startsWith(QChar(0x0640)))
                w = w.sliced(1);
        }
        if (Arabic::normalize(w) == named[shown.size()])
            shown.append(w);
        else
            shown.clear();
    }
    return {named, shown.size() == named.size() ? shown.join(space()) : named.join(space())};
}

// The author with the most books among those `accepts` takes; among authors
// with as many books, the lowest id, so that the same one is chosen every time.
template <typename Accepts>
std::optional<std::int64_t> authorWithMostBooks(const Catalog& catalog, Accepts accepts)
{
    QHash<std::int64_t, int> bookCount;
    for (const Book& b : catalog.books) {
        if (b.authorId)
            ++bookCount[*b.authorId];
    }
    std::map<std::int64_t, const Author*> byId;
    for (auto it = catalog.authors.cbegin(); it != catalog.authors.cend(); ++it)
        byId.emplace(it.key(), &it.value());
    std::optional<std::int64_t> best;
    int bestBooks = -1;
    for (const auto& [id, author] : byId) {
        if (!accepts(Arabic::normalize(author->name)))
            continue;
        const int n = bookCount.value(id);
        if (n > bestBooks) {
            best = id;
            bestBooks = n;
        }
    }
    return best;
}

void chooseAuthorOrCategories(const Library& library, const QString& question, const QStringList& words,
                              const QSet<QString>& termWords, const QStringList& candidates, Request& req)
{
    const auto catalog = library.catalog();
    // A name after a book word is matched word for word against the
    // authors' names, so that one word ("البخاري") is enough.
    const auto [named, shownName] = namedAfterBookWord(question, words, termWords);
    if (!named.isEmpty()) {
        const auto best = authorWithMostBooks(*catalog, [&](const QString& name) {
            QSet<QString> nameWords;
            for (const QString& w : wordsOf(name))
                nameWords.insert(nameWord(w));
            return std::all_of(named.begin(), named.end(), [&](const QString& w) { return nameWords.contains(nameWord(w)); });
        });
        if (best) {
            req.authorId = best;
            return;
        }
    }
    if (candidates.size() >= 2) {
        const auto best = authorWithMostBooks(*catalog, [&](const QString& name) {
            return std::all_of(candidates.begin(), candidates.end(), [&](const QString& c) { return name.contains(c); });
        });
        if (best) {
            req.authorId = best;
            return;
        }
    }
    // A name no author bears is said to be unknown rather than ignored,
    // unless it names categories.
    if (!named.isEmpty())
        req.unmatchedName = shownName;
    if (candidates.isEmpty())
        return;
    QStringList stems;
    for (const QString& c : candidates) {
        const bool article = c.startsWith(QStringLiteral("ال")) && c.size() >= kMinArticleWordLength;
        stems.append(article ? c.sliced(2) : c);
    }
    QSet<std::int64_t> books;
    bool any = false;
    for (const Category& cat : catalog->categories) {
        const QString name = Arabic::normalize(cat.name);
        const bool hit = std::any_of(stems.begin(), stems.end(), [&](const QString& s) { return name.contains(s); });
        if (!hit)
            continue;
        any = true;
        for (const std::int64_t id : cat.bookIds)
            books.insert(id);
    }
    if (any) {
        req.categories = books;
        req.unmatchedName.clear();
    }
}

} // namespace

const std::array<QString, 16>& ordinals()
{
    static const std::array<QString, 16> words{
        QString(),
        QStringLiteral("الاول"), QStringLiteral("الثاني"), QStringLiteral("الثالث"), QStringLiteral("الرابع"),
        QStringLiteral("الخامس"), QStringLiteral("السادس"), QStringLiteral("السابع"), QStringLiteral("الثامن"),
        QStringLiteral("التاسع"), QStringLiteral("العاشر"), QStringLiteral("الحادي عشر"), QStringLiteral("الثاني عشر"),
        QStringLiteral("الثالث عشر"), QStringLiteral("الرابع عشر"), QStringLiteral("الخامس عشر")};
    return words;
}

const QSet<QString>& commandWords()
{
    static const QSet<QString> words = [] {
        static const char16_t* const raw[] = {
            u"جدول", u"جدولا", u"بجدول", u"قائمة", u"بقائمة", u"عدد", u"أعداد", u"كم", u"مرة", u"مرات",
            u"إحصاء", u"إحصاءات", u"إحصائيات", u"توزيع", u"قارن", u"مقارنة", u"رسم", u"بياني", u"أكثر", u"أقل",
            u"أهم", u"أول", u"ترتيب", u"رتب", u"حسب", u"لكل", u"كل", u"في", u"من", u"على",
            u"عن", u"إلى", u"الكتب", u"كتب", u"بكتب", u"كتاب", u"الكتاب", u"المؤلفين", u"المؤلفون", u"مؤلفي",
            u"مؤلفا", u"المؤلف", u"مؤلفات", u"العلماء", u"القرن", u"القرون", u"قرن", u"القسم", u"الأقسام", u"قسم",
            u"أقسام", u"الموضوع", u"صفحة", u"صفحات", u"الصفحات", u"وردت", u"ورد", u"ورود", u"كلمة", u"لفظ",
            u"ذكر", u"كتابا", u"أقدم", u"مؤلف", u"مكتبة", u"المكتبة", u"اعرض", u"أعطني", u"أريد", u"هات", u"ما", u"هي", u"هو",
            u"بين", u"عبر", u"مرتبة", u"مرتبين", u"بالوفاة", u"الهجري", u"و", u"عشر"};
        static_assert(std::size(raw) == 81);
        QSet<QString> out;
        for (const char16_t* w : raw)
            out.insert(Arabic::normalize(QString::fromUtf16(w)));
        for (const QString& ordinal : ordinals()) {
            for (const QString& w : ordinal.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                out.insert(Arabic::normalize(w));
        }
        return out;
    }();
    return words;
}

bool has(const QString& q, const QStringList& phrases)
{
    const QString padded = space() + q + space();
    return std::any_of(phrases.begin(), phrases.end(), [&](const QString& p) {
        return padded.contains(space() + Arabic::normalize(p) + space());
    });
}

int century(std::optional<std::int64_t> year)
{
    if (!year || *year < 2)
        return 0;
    return int((*year - 1) / 100 + 1);
}

int centuryIndex(const QString& label)
{
    if (label == QStringLiteral("غير محدد"))
        return 999;
    const auto& names = Reports::centuryNames();
    for (int i = 1; i < int(names.size()); ++i) {
        if (label == QStringLiteral("القرن ") + names[i])
            return i;
    }
    return 998;
}

Request parse(const Library& library, const QString& question)
{
    // The most terms one question compares, and the longest list it may ask for.
    constexpr qsizetype kMaxTerms = 4;
    constexpr int kMaxLimit = 500;
    Request req;
    const QString q = Arabic::normalize(question);
    const QStringList words = wordsOf(q);

    addQuotedTerms(question, req);
    if (req.terms.isEmpty())
        addTriggeredTerms(words, req);
    if (req.terms.size() > kMaxTerms)
        req.terms.resize(kMaxTerms);
    addShown(question, req);

    if (has(q, centuryPhrases()))
        req.dim = Dim::century;
    else if (has(q, categoryPhrases()))
        req.dim = Dim::category;
    else if (has(q, authorPhrases()))
        req.dim = Dim::author;
    else if (has(q, bookPhrases()))
        req.dim = Dim::book;
    req.wantStats = has(q, statisticsPhrases());
    req.wantAuthors = req.terms.isEmpty() && has(q, authorListWords());
    req.centuryFilter = centuryOf(words);
    req.oldestFirst = has(q, {QStringLiteral("اقدم")});
    if (req.terms.isEmpty())
        req.uncounted = uncountedUnit(question);

    for (const QString& w : words) {
        if (const auto n = readInteger(w); n && *n >= 1 && *n <= kMaxLimit && !req.limit
            && (!req.centuryFilter || *n != *req.centuryFilter)) {
            req.limit = int(*n);
        } else if (const auto it = numberWords().constFind(w); it != numberWords().cend()) {
            // A number written as a word is deliberate and wins.
            req.limit = *it;
        }
    }

    QSet<QString> termWords;
    for (const QString& t : req.terms) {
        for (const QString& w : wordsOf(t))
            termWords.insert(w);
    }
    QStringList candidates;
    for (const QString& w : words) {
        if (w.size() >= kMinCandidateLength && !commandWords().contains(w) && !termWords.contains(w)
            && !readInteger(w))
            candidates.append(w);
    }
    chooseAuthorOrCategories(library, question, words, termWords, candidates, req);
    return req;
}

} // namespace quorvel::DataQA
