#include "ui/search/PickerActions.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "core/Numbers.h"

namespace quorvel::PickerActions {

namespace {

constexpr char kEndBeforeStart[] = "سنة البداية بعد سنة النهاية";
constexpr char kNoBooks[] = "لا كتب لمؤلفين توفوا في هذه الفترة";
constexpr char kDeathsFrom[] = " · وفيات من ";
constexpr char kDeathsTo[] = " إلى ";
constexpr char kFromStart[] = "البداية";
constexpr char kToToday[] = "اليوم";
constexpr char kHijri[] = "هـ";

} // namespace

QList<std::int64_t> books(const Library& lib, std::int64_t from, std::int64_t to)
{
    QList<std::int64_t> out;
    for (const Book& book : lib.catalog()->books) {
        const std::optional<std::int64_t> d = lib.deathYear(book);
        if (d && *d >= earliestDeath && *d < deathsBefore && *d >= from && *d <= to)
            out << book.id;
    }
    return out;
}

std::optional<std::int64_t> year(const QString& field)
{
    const QString text = Arabic::latinDigits(Characters::trimSpacesAndTabs(field).toString());
    if (text.isEmpty())
        return std::nullopt;
    return Numbers::parseInteger(text);
}

Period period(const Library& lib, const QString& fromField, const QString& toField)
{
    Period p;
    const std::optional<std::int64_t> from = year(fromField);
    const std::optional<std::int64_t> to = year(toField);
    p.from = from.value_or(firstYear);
    p.to = to.value_or(lastYear);
    if (p.to < p.from) {
        p.alert = QString::fromUtf8(kEndBeforeStart);
        return p;
    }
    p.ids = books(lib, p.from, p.to);
    if (p.ids.isEmpty()) {
        p.alert = QString::fromUtf8(kNoBooks);
        return p;
    }
    p.labelSuffix = QString::fromUtf8(kDeathsFrom)
                    + (from ? Arabic::num(*from) + QString::fromUtf8(kHijri) : QString::fromUtf8(kFromStart))
                    + QString::fromUtf8(kDeathsTo)
                    + (to ? Arabic::num(*to) + QString::fromUtf8(kHijri) : QString::fromUtf8(kToToday));
    return p;
}

void checkAll(const QList<PickNodePtr>& roots, QSet<std::int64_t>& checked)
{
    for (const PickNodePtr& root : roots)
        for (std::int64_t id : root->bookIds())
            checked.insert(id);
}

void invert(const QList<PickNodePtr>& roots, QSet<std::int64_t>& checked)
{
    QSet<std::int64_t> shown;
    for (const PickNodePtr& root : roots)
        for (std::int64_t id : root->bookIds())
            shown.insert(id);
    for (std::int64_t id : shown) {
        if (checked.contains(id))
            checked.remove(id);
        else
            checked.insert(id);
    }
}

Reopened reopen(const Library& lib, const QString& name, const QString& json, const QList<std::int64_t>& pageIds)
{
    Reopened out;
    out.query = SearchQuery::from(json).value_or(SearchQuery());
    if (out.query.isEmpty())
        out.query.andPhrases = {name};
    for (std::int64_t id : pageIds)
        if (const std::optional<Page> page = lib.page(id))
            out.hits << SearchHit(SearchHit::Kind::page, id, page->bookId, page->seq);
    return out;
}

QList<HistoryItem> historyItems(const Library& lib)
{
    QList<HistoryItem> out;
    const QList<Library::HistoryEntry> history = lib.history();
    for (qsizetype i = 0; i < history.size() && i < historyMenuEntries; ++i) {
        const std::optional<SearchQuery> q = SearchQuery::from(history[i].json);
        if (q)
            out.append({q->title() + QStringLiteral("  (") + Arabic::num(history[i].count) + QStringLiteral(")"), *q});
    }
    return out;
}

} // namespace quorvel::PickerActions
