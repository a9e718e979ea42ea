#include "ui/search/ResultFilter.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <QMap>
#include <QRegularExpression>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kUncategorised[] = "غير مصنّف";
constexpr char kBeforeHijra[] = "قبل الهجرة";
constexpr char kUnknownCentury[] = "غير محدّد";
constexpr char kCenturyPrefix[] = "القرن ";
constexpr const char* kOrdinals[] = {
    "الأول",     "الثاني",     "الثالث",     "الرابع",     "الخامس",     "السادس",     "السابع",      "الثامن",
    "التاسع",    "العاشر",     "الحادي عشر", "الثاني عشر", "الثالث عشر", "الرابع عشر", "الخامس عشر", "السادس عشر",
};
constexpr int kYearsPerCentury = 100;

constexpr char kResults[] = "النتائج: ";
constexpr char kTitles[] = "عناوين ";
constexpr char kNotes[] = "تعليقات ";
constexpr char kLimitReached[] = "بلغ الحدّ";
constexpr char kRunning[] = "…";
constexpr char kBroadBefore[] = "النمط «";
constexpr char kBroadJoin[] = "»، «";
constexpr char kBroadAfter[] = "» واسع جدا: أضف إليه حروفا";

constexpr char kNothingFound[] = "لم يُعثر على نتائج";
constexpr char kWildcardAlone[] = "علامة «*» أو «؟» وحدها لا تبحث عن شيء: اكتب معها حرفين على الأقل.";
constexpr char kNoWords[] = "لا كلمة في النص المكتوب يُبحث بها.";
constexpr char kShortBefore[] = "الكلمة «";
constexpr char kShortAfter[] = "» أقصر من أن يُبحث بها: أضف إليها حروفا.";
constexpr char kEmptyScope[] = "النطاق المختار لا يضم أي كتاب من كتب المكتبة: اختر كتبا أخرى أو ثبّتها من نافذة التنزيلات.";

} // namespace

ResultFilter::ResultFilter(std::shared_ptr<Library> lib) : lib_(std::move(lib)), catalog_(lib_->catalog()) {}

int ResultFilter::century(std::optional<std::int64_t> deathYear)
{
    if (!deathYear || *deathYear == 0)
        return unknownCentury;
    if (*deathYear < 0)
        return beforeHijra;
    return int((*deathYear - 1) / kYearsPerCentury + 1);
}

QString ResultFilter::centuryTitle(int century)
{
    if (century == beforeHijra)
        return QString::fromUtf8(kBeforeHijra);
    if (century == unknownCentury)
        return QString::fromUtf8(kUnknownCentury);
    constexpr int named = int(std::size(kOrdinals));
    if (century >= 1 && century <= named)
        return QString::fromUtf8(kCenturyPrefix) + QString::fromUtf8(kOrdinals[century - 1]);
    return QString::fromUtf8(kCenturyPrefix) + Arabic::num(century);
}

std::int64_t ResultFilter::key(std::int64_t book, std::int64_t seq)
{
    return std::int64_t(std::uint64_t(book) << 32 | std::uint32_t(seq));
}

const ResultFilter::Facts& ResultFilter::facts(std::int64_t book)
{
    // Hits come grouped by book: most lookups are of the book just seen.
    if (last_ && lastBook_ == book)
        return *last_;
    lastBook_ = book;
    auto found = facts_.find(book);
    if (found != facts_.end())
        return *(last_ = &*found);
    Facts f;
    const auto entry = catalog_->bookById.constFind(book);
    if (entry != catalog_->bookById.constEnd()) {
        f.known = true;
        f.category = entry->categoryId.value_or(noCategory);
        f.century = century(lib_->deathYear(*entry));
    }
    return *(last_ = &*facts_.insert(book, f));
}

QList<ResultFilter::Item> ResultFilter::categoryItems(const QList<SearchHit>& all)
{
    QHash<std::int64_t, std::int64_t> counts;
    for (const SearchHit& hit : all) {
        const Facts& f = facts(hit.bookId);
        if (f.known)
            ++counts[f.category];
    }
    QList<Item> items;
    QHash<QString, qsizetype> byTitle;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        const auto category = catalog_->categoryById.constFind(it.key());
        const QString title = it.key() != noCategory && category != catalog_->categoryById.constEnd()
                                  ? category->name
                                  : QString::fromUtf8(kUncategorised);
        const auto at = byTitle.constFind(title);
        if (at == byTitle.constEnd()) {
            byTitle.insert(title, items.size());
            items.append({title, {it.key()}, it.value()});
        } else {
            items[*at].keys.append(it.key());
            items[*at].count += it.value();
        }
    }
    for (Item& item : items)
        std::sort(item.keys.begin(), item.keys.end());
    // Equal counts fall back to the title, so the order does not depend on hashing.
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.count != b.count ? a.count > b.count : a.title < b.title;
    });
    return items;
}

QList<ResultFilter::Item> ResultFilter::centuryItems(const QList<SearchHit>& all)
{
    QMap<int, std::int64_t> counts;
    for (const SearchHit& hit : all) {
        const Facts& f = facts(hit.bookId);
        if (f.known)
            ++counts[f.century];
    }
    QList<Item> items;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        items.append({centuryTitle(it.key()), {it.key()}, it.value()});
    return items;
}

bool ResultFilter::accepts(const SearchHit& hit)
{
    const Facts& f = facts(hit.bookId);
    if (!f.known)
        return false;
    if (categories && !categories->contains(f.category))
        return false;
    if (centuryChoice && *centuryChoice != f.century)
        return false;
    if (refineKeys && !refineKeys->contains(key(hit.bookId, hit.seq)))
        return false;
    return true;
}

QString ResultFilter::statusText(int shown, int titles, int notes, std::int64_t pageHits, bool done,
                                 const QStringList& broad)
{
    QString text = QString::fromUtf8(kResults) + Arabic::num(shown);
    if (titles > 0 || notes > 0) {
        QStringList parts;
        if (titles > 0)
            parts << QString::fromUtf8(kTitles) + Arabic::num(titles);
        if (notes > 0)
            parts << QString::fromUtf8(kNotes) + Arabic::num(notes);
        text += QStringLiteral(" (") + parts.join(QString::fromUtf8(CountedNoun::separator)) + QStringLiteral(")");
    }
    // Only page hits count toward the run's limit.
    if (pageHits >= runLimit)
        text += QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kLimitReached);
    if (!done)
        text += QString::fromUtf8(kRunning);
    if (!broad.isEmpty())
        text += QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kBroadBefore) + broad.join(QString::fromUtf8(kBroadJoin)) + QString::fromUtf8(kBroadAfter);
    return text;
}

QStringList ResultFilter::asTyped(const SearchQuery& q, const QStringList& broad)
{
    QStringList out = broad;
    for (const QString& phrase : q.andPhrases + q.orPhrases + q.notPhrases)
        for (const QString& piece : phrase.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            const QStringList words = Arabic::queryWords(piece, false).words;
            if (words.size() != 1)
                continue;
            const qsizetype at = broad.indexOf(words.first());
            if (at >= 0)
                out[at] = piece;
        }
    return out;
}

QString ResultFilter::emptyText(const Library& lib, const SearchQuery& q, const QStringList& broad)
{
    const QString title = QString::fromUtf8(kNothingFound);
    const auto with = [&](const QString& why) { return title + QStringLiteral("\n") + why; };
    if (const std::optional<QString> refused = SearchEngine::refusal(q))
        return with(*refused);
    if (q.scope && std::none_of(q.scope->begin(), q.scope->end(), [&](std::int64_t id) { return lib.book(id).has_value(); }))
        return with(QString::fromUtf8(kEmptyScope));
    if (!SearchEngine::plan(q).valid()) {
        const QStringList typed = q.andPhrases + q.orPhrases;
        const bool wild = std::any_of(typed.begin(), typed.end(), [](const QString& t) { return Arabic::isWild(t) || t.contains(QChar(0x061F)); });
        return with(QString::fromUtf8(wild ? kWildcardAlone : kNoWords));
    }
    if (!broad.isEmpty())
        return with(QString::fromUtf8(kShortBefore) + broad.join(QString::fromUtf8(kBroadJoin)) + QString::fromUtf8(kShortAfter));
    return title;
}

} // namespace quorvel
