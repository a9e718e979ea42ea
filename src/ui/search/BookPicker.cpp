#include "ui/search/BookPicker.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/CountedNoun.h"
#include "core/DateText.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "search/SearchQuery.h"

#include <QMap>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kCategorySymbol[] = "folder.fill";
constexpr char kAuthorSymbol[] = "person.fill";
constexpr char kCenturySymbol[] = "calendar";
constexpr char kFolderSymbol[] = "star.fill";
constexpr char kSavedSymbol[] = "tray.full.fill";
constexpr char kHistorySymbol[] = "clock.arrow.circlepath";
constexpr char kUnknownAuthor[] = "مؤلّف غير معروف";
constexpr char kSavedGroup[] = "النتائج المحفوظة";
constexpr char kHistoryGroup[] = "سجلّ البحث";
constexpr char kUnknownCentury[] = "غير محدّد";
constexpr char kBeforeHijra[] = "قبل الهجرة";
constexpr char kCenturyPrefix[] = "القرن ";
constexpr char kCenturySuffix[] = " الهجري";
constexpr const char* kOrdinals[] = {
    "الأول",  "الثاني",  "الثالث",     "الرابع",     "الخامس",     "السادس",     "السابع",     "الثامن",
    "التاسع", "العاشر", "الحادي عشر", "الثاني عشر", "الثالث عشر", "الرابع عشر", "الخامس عشر",
};
constexpr int kYearsPerCentury = 100;
constexpr char kDateFormat[] = "d MMM، HH:mm";

// The canonically composed scalars of a text, so that canonically equal
// titles sort together and the rest by code point.
std::u32string composed(const QString& text)
{
    const icu::UnicodeString source(reinterpret_cast<const char16_t*>(text.utf16()), int32_t(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString out = U_SUCCESS(status) ? nfc->normalize(source, status) : source;
    if (U_FAILURE(status))
        out = source;
    std::u32string scalars;
    for (int32_t i = 0; i < out.length();) {
        const UChar32 c = out.char32At(i);
        scalars.push_back(char32_t(c));
        i += U16_LENGTH(c);
    }
    return scalars;
}

} // namespace

BookPicker::BookPicker(std::shared_ptr<Library> lib) : lib_(std::move(lib))
{
    catalogueChanged();
}

void BookPicker::catalogueChanged()
{
    catalog_ = lib_->catalog();
    layout_.reset();
    searchText_.clear();
    sortTitle_.clear();
    searchText_.reserve(catalog_->books.size());
    sortTitle_.reserve(catalog_->books.size());
    QList<std::int64_t> ids;
    ids.reserve(catalog_->books.size());
    for (const Book& book : catalog_->books)
        ids.append(book.id);
    titleLabel_ = BookTitles::labels(*catalog_, ids);
    // A book is found by what its row shows: an edition by its edition label.
    for (const Book& book : catalog_->books) {
        searchText_.insert(book.id, Arabic::normalize(Arabic::latinDigits(titleLabel_.value(book.id, book.title)
                                                                          + QStringLiteral(" ") + lib_->authorName(book)),
                                                      true));
        sortTitle_.insert(book.id, composed(book.title));
    }
}

QStringList BookPicker::pieces(const QString& filter)
{
    // A year is found in whichever digits it is typed or shown.
    return Arabic::normalize(Arabic::latinDigits(filter), true).split(u' ', Qt::SkipEmptyParts);
}

bool BookPicker::passes(std::int64_t book, const QStringList& pieces) const
{
    if (pieces.isEmpty())
        return true;
    const QString text = searchText_.value(book);
    return std::all_of(pieces.begin(), pieces.end(), [&](const QString& piece) { return text.contains(piece); });
}

bool BookPicker::matchesFilter(std::int64_t book, const QString& filter) const
{
    return passes(book, pieces(filter));
}

QList<std::int64_t> BookPicker::sorted(const QList<std::int64_t>& ids) const
{
    struct Keyed {
        std::int64_t id;
        std::int64_t order;
        const std::u32string* title;
    };
    std::vector<Keyed> known;
    known.reserve(size_t(ids.size()));
    for (std::int64_t id : ids) {
        const auto book = catalog_->bookById.constFind(id);
        if (book == catalog_->bookById.constEnd())
            continue;
        const auto title = sortTitle_.constFind(id);
        known.push_back({id, book->order, title != sortTitle_.constEnd() ? &*title : nullptr});
    }
    static const std::u32string none;
    if (sortAlpha)
        std::stable_sort(known.begin(), known.end(), [](const Keyed& a, const Keyed& b) {
            return (a.title ? *a.title : none) < (b.title ? *b.title : none);
        });
    else
        std::stable_sort(known.begin(), known.end(), [](const Keyed& a, const Keyed& b) { return a.order < b.order; });
    QList<std::int64_t> out;
    out.reserve(qsizetype(known.size()));
    for (const Keyed& k : known)
        out << k.id;
    return out;
}

QList<PickNodePtr> BookPicker::bookNodes(const QList<std::int64_t>& ids, const QStringList& pieces) const
{
    return filtered(sorted(ids), pieces);
}

QList<PickNodePtr> BookPicker::filtered(const QList<std::int64_t>& sortedIds, const QStringList& pieces) const
{
    // Books that hold the typed words together, as typed, come first: «نشرة ب»
    // puts that edition before one that has «ب» elsewhere, so Return opens it.
    const QString typed = pieces.join(u' ');
    QList<PickNodePtr> together;
    QList<PickNodePtr> apart;
    for (std::int64_t id : sortedIds) {
        if (!passes(id, pieces))
            continue;
        (searchText_.value(id).contains(typed) ? together : apart) << PickNode::book(id);
    }
    return together + apart;
}

const BookPicker::Layout& BookPicker::layout() const
{
    if (layout_ && layout_->alpha == sortAlpha)
        return *layout_;
    Layout made;
    made.alpha = sortAlpha;
    QList<std::int64_t> all;
    all.reserve(catalog_->books.size());
    for (const Book& book : catalog_->books)
        all << book.id;
    made.books = sorted(all);

    // Authors by death year (unknown last), then name.
    struct AuthorKey {
        std::int64_t key;
        std::int64_t death;
        QString name;
        const Author* author;
    };
    QHash<std::int64_t, QList<std::int64_t>> byAuthor;
    std::vector<AuthorKey> keys;
    for (const Book& book : catalog_->books) {
        const std::int64_t key = book.authorId.value_or(noAuthor);
        auto& list = byAuthor[key];
        if (list.isEmpty()) {
            const auto found = catalog_->authors.constFind(key);
            const Author* a = found != catalog_->authors.constEnd() ? &*found : nullptr;
            keys.push_back({key, a && a->death ? *a->death : Library::undatedYear, a ? a->name : QString(), a});
        }
        list << book.id;
    }
    std::stable_sort(keys.begin(), keys.end(), [](const AuthorKey& a, const AuthorKey& b) {
        return a.death != b.death ? a.death < b.death : a.name < b.name;
    });
    for (const AuthorKey& k : keys)
        made.authors.append({k.author ? k.author->display() : QString::fromUtf8(kUnknownAuthor), sorted(byAuthor.value(k.key))});

    QMap<int, QList<std::int64_t>> byCentury;
    for (const Book& book : catalog_->books)
        byCentury[century(lib_->deathYear(book))] << book.id;
    for (auto it = byCentury.constBegin(); it != byCentury.constEnd(); ++it)
        made.centuries.append({centuryLabel(it.key()), sorted(it.value())});
    layout_ = std::move(made);
    return *layout_;
}

int BookPicker::century(std::optional<std::int64_t> deathYear)
{
    if (!deathYear || *deathYear == 0 || *deathYear > lastKnownYear)
        return unknownCentury;
    if (*deathYear < 0)
        return beforeHijra;
    return int((*deathYear - 1) / kYearsPerCentury + 1);
}

QString BookPicker::centuryLabel(int century)
{
    if (century == unknownCentury)
        return QString::fromUtf8(kUnknownCentury);
    if (century == beforeHijra)
        return QString::fromUtf8(kBeforeHijra);
    constexpr int named = int(std::size(kOrdinals));
    const QString middle = century >= 1 && century <= named ? QString::fromUtf8(kOrdinals[century - 1]) : Arabic::num(century);
    return QString::fromUtf8(kCenturyPrefix) + middle + QString::fromUtf8(kCenturySuffix);
}

QString BookPicker::dateStr(std::int64_t ts)
{
    return DateText::withPattern(double(ts), QString::fromUtf8(kDateFormat), DateText::digitsLocale()).value_or(QString());
}

Qt::CheckState BookPicker::groupState(const PickNode& node, const QSet<std::int64_t>& checked)
{
    const QList<std::int64_t> ids = node.bookIds();
    if (ids.isEmpty())
        return Qt::Unchecked;
    const auto n = std::count_if(ids.begin(), ids.end(), [&](std::int64_t id) { return checked.contains(id); });
    if (n == 0)
        return Qt::Unchecked;
    return n == ids.size() ? Qt::Checked : Qt::PartiallyChecked;
}

void BookPicker::toggle(const PickNode& node, QSet<std::int64_t>& checked)
{
    const QList<std::int64_t> ids = node.bookIds();
    if (ids.isEmpty())
        return;
    const bool all = std::all_of(ids.begin(), ids.end(), [&](std::int64_t id) { return checked.contains(id); });
    for (std::int64_t id : ids) {
        if (all)
            checked.remove(id);
        else
            checked.insert(id);
    }
}

QString BookPicker::bookTitle(std::int64_t book) const
{
    return titleLabel_.value(book);
}

QString BookPicker::authorName(std::int64_t book) const
{
    const auto found = catalog_->bookById.constFind(book);
    return found != catalog_->bookById.constEnd() ? lib_->authorName(*found) : QString();
}

bool BookPicker::opensRoots(Page page, qsizetype rootCount, const QString& filter)
{
    if (page == Page::books || page == Page::recent)
        return false;
    return rootCount <= openRootsAtMost || !filter.isEmpty();
}

QList<PickNodePtr> BookPicker::roots(Page page, const QString& filter) const
{
    const QStringList words = pieces(filter);
    QList<PickNodePtr> out;
    auto addGroup = [&](const QString& label, const char* symbol, const QList<std::int64_t>& ids) {
        QList<PickNodePtr> books = bookNodes(ids, words);
        if (!books.isEmpty())
            out << PickNode::group(label, QString::fromLatin1(symbol), std::move(books));
    };
    switch (page) {
    case Page::books:
        out = filtered(layout().books, words);
        break;
    case Page::categories:
        for (const Category& category : catalog_->categories)
            addGroup(category.name, kCategorySymbol, category.bookIds);
        break;
    case Page::authors:
    case Page::period:
        for (const Grouped& grouped : page == Page::authors ? layout().authors : layout().centuries) {
            QList<PickNodePtr> books = filtered(grouped.ids, words);
            if (!books.isEmpty())
                out << PickNode::group(grouped.label,
                                       QString::fromLatin1(page == Page::authors ? kAuthorSymbol : kCenturySymbol),
                                       std::move(books));
        }
        break;
    case Page::favorites:
        for (const Library::Folder& folder : lib_->folders())
            out << PickNode::group(folder.name, QString::fromLatin1(kFolderSymbol),
                                   bookNodes(lib_->favorites(folder.id), words));
        break;
    case Page::recent:
        for (const Library::PageStamp& stamp : lib_->recentBooks(recentLimit))
            if (catalog_->bookById.contains(stamp.bookId) && passes(stamp.bookId, words))
                out << PickNode::book(stamp.bookId);
        break;
    case Page::imported:
        break;
    case Page::scopes:
        for (const Library::Scope& scope : lib_->scopes())
            out << PickNode::scope(scope.id, scope.name, bookNodes(scope.bookIds, words));
        break;
    case Page::logs: {
        QList<PickNodePtr> saved;
        for (const Library::SavedResult& set : lib_->savedResults())
            saved << PickNode::saved(set.name, set.json, set.pageIds);
        QList<PickNodePtr> history;
        for (const Library::HistoryEntry& entry : lib_->history()) {
            if (history.size() >= historyRows)
                break;
            history << PickNode::history(entry.json, entry.count, entry.ts);
        }
        // The logs hold searches, not books: their groups count their rows.
        static const CountedNoun sets(QStringLiteral("مجموعة محفوظة"), QStringLiteral("مجموعتان محفوظتان"),
                                      QStringLiteral("مجموعات محفوظة"), QStringLiteral("مجموعة محفوظة"));
        static const CountedNoun searches(QStringLiteral("عملية بحث"), QStringLiteral("عمليتا بحث"),
                                          QStringLiteral("عمليات بحث"), QStringLiteral("عملية بحث"));
        out << PickNode::group(QString::fromUtf8(kSavedGroup), QString::fromLatin1(kSavedSymbol), std::move(saved), &sets);
        out << PickNode::group(QString::fromUtf8(kHistoryGroup), QString::fromLatin1(kHistorySymbol), std::move(history),
                               &searches);
        break;
    }
    }
    return out;
}

} // namespace quorvel
