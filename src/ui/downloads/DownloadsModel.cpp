#include "ui/downloads/DownloadsModel.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Theme.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <map>

namespace quorvel {

namespace {

constexpr std::int64_t kUncategorised = -1;
constexpr std::int64_t kKilo = 1000;
constexpr std::int64_t kMega = 1000000;

constexpr char kUncategorisedTitle[] = "غير مصنّف";
constexpr char kInstalled[] = "مثبّت";
constexpr char kUpdate[] = "تحديث متاح";
constexpr char kAvailable[] = "متاح";
constexpr const char* kHeaders[] = {"الكتاب", "المؤلف", "الحجم", "الحالة"};

// Whether `word` occurs in `text`: each place of its first letter, found by
// the vectorised character search, is compared with the rest. On texts as
// short as a title and its author this beats the general substring search.
bool holds(QStringView text, QStringView word)
{
    const QChar first = word.front();
    const QStringView rest = word.sliced(1);
    const qsizetype last = text.size() - word.size();
    for (qsizetype from = 0; from <= last;) {
        const qsizetype at = text.indexOf(first, from);
        if (at < 0 || at > last)
            return false;
        if (text.sliced(at + 1, rest.size()) == rest)
            return true;
        from = at + 1;
    }
    return false;
}

// A title's sort key: its code points after canonical composition.
QList<uint> titleKey(const QString& title)
{
    return title.normalized(QString::NormalizationForm_C).toUcs4();
}

} // namespace

std::shared_ptr<const DownloadsModel::Source> DownloadsModel::prepare(Dist::Catalog catalog)
{
    auto source = std::make_shared<Source>();
    for (const Dist::CatAuthor& author : catalog.authors)
        if (!source->authors.contains(author.id))
            source->authors.insert(author.id, author.name);
    const QList<Dist::CatBook>& books = catalog.books;
    source->ends.reserve(std::size_t(books.size()));
    std::map<std::int64_t, QList<int>> byCategory; // catalogue order within each
    QList<BookTitles::Entry> entries;
    entries.reserve(books.size());
    for (qsizetype i = 0; i < books.size(); ++i) {
        const Dist::CatBook& book = books[i];
        const QString author = book.authorId ? source->authors.value(*book.authorId) : QString();
        source->norms += Arabic::normalize(book.title + u' ' + author, true);
        source->ends.push_back(source->norms.size());
        byCategory[book.categoryId.value_or(kUncategorised)].append(int(i));
        entries.append({book.title, author, book.edition.value_or(QString())});
    }
    source->titles = BookTitles::labels(entries);

    QList<Dist::CatCategory> categories = catalog.categories;
    std::stable_sort(categories.begin(), categories.end(), [](const Dist::CatCategory& a, const Dist::CatCategory& b) {
        const std::int64_t ka = a.sort.value_or(a.id);
        const std::int64_t kb = b.sort.value_or(b.id);
        return ka != kb ? ka < kb : a.id < b.id;
    });
    // Titles are sorted once here: a filter keeps a subsequence of each
    // group, and a stable sort of a subsequence is the subsequence of the
    // stable sort, so every filter shows the order a sort of its own would.
    QHash<int, QList<uint>> keys;
    for (const Dist::CatCategory& category : categories) {
        const auto found = byCategory.find(category.id);
        if (found == byCategory.end() || category.id == kUncategorised)
            continue;
        QList<int> rows = found->second;
        for (const int i : rows)
            if (!keys.contains(i))
                keys.insert(i, titleKey(books[i].title));
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
            const QList<uint>& x = keys[a];
            const QList<uint>& y = keys[b];
            return std::lexicographical_compare(x.cbegin(), x.cend(), y.cbegin(), y.cend());
        });
        source->groups.append({category.name, std::move(rows)});
    }
    if (const auto loose = byCategory.find(kUncategorised); loose != byCategory.end())
        source->groups.append({QString::fromUtf8(kUncategorisedTitle), loose->second});
    source->catalog = std::move(catalog);
    return source;
}

QString DownloadsModel::mb(std::int64_t bytes)
{
    if (bytes < kMega)
        return Arabic::num(std::max<std::int64_t>(bytes / kKilo, 1)) + QStringLiteral("KB");
    return Arabic::decimal(double(bytes) / double(kMega), 1) + QStringLiteral("MB");
}

DownloadsModel::DownloadsModel(QObject* parent) : QAbstractItemModel(parent) {}

void DownloadsModel::setTree(std::shared_ptr<const Source> source, const QString& filter)
{
    const QStringList words = Arabic::normalize(filter, true).split(u' ', Qt::SkipEmptyParts);
    // A filter whose every earlier word lies inside one of its words passes
    // only books the earlier one passed: only those are tested again, and
    // only for the words the earlier filter did not have.
    const bool narrows = source && source == source_ &&
                         std::all_of(words_.cbegin(), words_.cend(), [&](const QString& old) {
                             return std::any_of(words.cbegin(), words.cend(),
                                                [&](const QString& w) { return w.contains(old); });
                         });
    QStringList tested;
    for (const QString& w : words)
        if (!(narrows && words_.contains(w)) && !tested.contains(w))
            tested.append(w);
    const auto holdsAll = [&](int i) {
        const QStringView norm = source->norm(i);
        return std::all_of(tested.cbegin(), tested.cend(), [&](const QString& w) { return holds(norm, w); });
    };
    if (!source) {
        passes_.clear();
        passing_.clear();
    } else if (narrows) {
        if (!tested.isEmpty()) {
            std::vector<int> kept;
            kept.reserve(passing_.size());
            for (const int i : passing_) {
                if (holdsAll(i))
                    kept.push_back(i);
                else
                    passes_[std::size_t(i)] = 0;
            }
            passing_ = std::move(kept);
        }
    } else {
        const int n = int(source->catalog.books.size());
        passes_.assign(std::size_t(n), 0);
        passing_.clear();
        for (int i = 0; i < n; ++i)
            if (holdsAll(i)) {
                passes_[std::size_t(i)] = 1;
                passing_.push_back(i);
            }
    }

    beginResetModel();
    source_ = std::move(source);
    words_ = words;
    shown_.clear();
    rows_.clear();
    if (source_) {
        rows_.reserve(passing_.size());
        for (int g = 0; g < source_->groups.size(); ++g) {
            const int first = int(rows_.size());
            for (const int i : source_->groups[g].rows)
                if (passes_[std::size_t(i)])
                    rows_.push_back(i);
            if (int(rows_.size()) > first)
                shown_.append({g, first, int(rows_.size()) - first});
        }
    }
    endResetModel();
}

void DownloadsModel::setInstalled(QHash<std::int64_t, QString> installed)
{
    installed_ = std::move(installed);
    if (!shown_.isEmpty())
        emit dataChanged(index(0, 0), index(int(shown_.size()) - 1, ColumnCount - 1));
}

std::pair<QString, QColor> DownloadsModel::state(const Dist::CatBook& book) const
{
    const auto found = installed_.constFind(book.id);
    if (found == installed_.constEnd())
        return {QString::fromUtf8(kAvailable), Theme::secondaryLabel()};
    if (*found == book.root)
        return {QString::fromUtf8(kInstalled), Theme::emerald()};
    return {QString::fromUtf8(kUpdate), Theme::gold()};
}

const DownloadsModel::Shown* DownloadsModel::groupAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() != 0 || index.row() >= shown_.size())
        return nullptr;
    return &shown_[index.row()];
}

std::pair<const int*, const int*> DownloadsModel::rowsOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return {nullptr, nullptr};
    const quintptr group = index.internalId();
    const qsizetype at = group == 0 ? index.row() : qsizetype(group - 1);
    if (at >= shown_.size())
        return {nullptr, nullptr};
    const Shown& shown = shown_[at];
    const int* first = rows_.data() + shown.first;
    if (group == 0)
        return {first, first + shown.count};
    if (index.row() >= shown.count)
        return {nullptr, nullptr};
    return {first + index.row(), first + index.row() + 1};
}

const Dist::CatBook* DownloadsModel::bookAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == 0)
        return nullptr;
    const auto [first, last] = rowsOf(index);
    return first ? &source_->catalog.books[*first] : nullptr;
}

QString DownloadsModel::titleAt(const QModelIndex& index) const
{
    if (const Shown* group = groupAt(index))
        return source_->groups[group->group].title;
    const auto [first, last] = rowsOf(index);
    return first ? source_->titles[*first] : QString();
}

QModelIndex DownloadsModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return row < shown_.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
    if (parent.internalId() != 0 || parent.row() >= shown_.size() || row >= shown_[parent.row()].count)
        return {};
    return createIndex(row, column, quintptr(parent.row() + 1));
}

QModelIndex DownloadsModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
}

int DownloadsModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(shown_.size());
    if (parent.column() != 0 || parent.internalId() != 0 || parent.row() >= shown_.size())
        return 0;
    return shown_[parent.row()].count;
}

int DownloadsModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant DownloadsModel::data(const QModelIndex& index, int role) const
{
    const auto [first, last] = rowsOf(index);
    if (!first)
        return {};
    const bool group = index.internalId() == 0;
    const QList<Dist::CatBook>& books = source_->catalog.books;
    const Dist::CatBook& book = books[*first];
    switch (index.column()) {
    case TitleColumn:
        if (role == Qt::DisplayRole)
            return group ? titleAt(index) + QStringLiteral(" (") + Arabic::num(last - first) + u')'
                         : source_->titles[*first];
        if (role == Qt::CheckStateRole) {
            const auto on = std::count_if(first, last, [&](int i) { return checked.contains(books[i].id); });
            return on == 0 ? Qt::Unchecked : on == last - first ? Qt::Checked : Qt::PartiallyChecked;
        }
        if (role == Qt::DecorationRole) {
            // Drawn once for each appearance: the outline asks at every row it paints or measures.
            QIcon& icon = (group ? groupIcon_ : bookIcon_)[Theme::isDark()];
            if (icon.isNull())
                icon = Theme::symbol(group ? QStringLiteral("folder.fill") : QStringLiteral("book.closed.fill"), 13,
                                     {Theme::goldInk().resolve(), Theme::accent().resolve()});
            return icon;
        }
        if (role == Qt::FontRole && group)
            return Theme::ui(13, QFont::Medium);
        if (role == Qt::ToolTipRole)
            return titleAt(index);
        break;
    case AuthorColumn:
        if (role == Qt::DisplayRole && !group && book.authorId)
            return source_->authors.value(*book.authorId);
        if (role == Qt::ForegroundRole)
            return Theme::secondaryLabel();
        break;
    case SizeColumn:
        if (role == Qt::DisplayRole) {
            std::int64_t bytes = 0;
            for (const int* i = first; i != last; ++i)
                bytes += books[*i].size;
            return mb(bytes);
        }
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        break;
    case StateColumn:
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        if (group) {
            const auto have = std::count_if(first, last, [&](int i) { return installed_.contains(books[i].id); });
            if (role == Qt::DisplayRole)
                return Arabic::num(have) + QStringLiteral(" / ") + Arabic::num(last - first);
            if (role == Qt::ForegroundRole)
                return Theme::secondaryLabel();
        } else {
            const auto [text, colour] = state(book);
            if (role == Qt::DisplayRole)
                return text;
            if (role == Qt::ForegroundRole)
                return colour;
        }
        break;
    default:
        break;
    }
    if (role == Qt::FontRole)
        return Theme::ui(13);
    return {};
}

bool DownloadsModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    const auto [first, last] = rowsOf(index);
    if (!first || role != Qt::CheckStateRole || index.column() != TitleColumn)
        return false;
    // A click on a fully ticked row unticks it; any other click ticks all.
    const QList<Dist::CatBook>& books = source_->catalog.books;
    const bool all = first != last && std::all_of(first, last, [&](int i) { return checked.contains(books[i].id); });
    for (const int* i = first; i != last; ++i) {
        if (all)
            checked.remove(books[*i].id);
        else
            checked.insert(books[*i].id);
    }
    // Groups and books share ticks: every row may have changed.
    for (int r = 0; r < shown_.size(); ++r) {
        const QModelIndex group = this->index(r, TitleColumn);
        emit dataChanged(group, group, {Qt::CheckStateRole});
        emit dataChanged(this->index(0, TitleColumn, group), this->index(shown_[r].count - 1, TitleColumn, group),
                         {Qt::CheckStateRole});
    }
    return true;
}

Qt::ItemFlags DownloadsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == TitleColumn)
        f |= Qt::ItemIsUserCheckable;
    // Saying so spares the outline a look for children (and a stored
    // expansion) at every book row it lays out.
    if (index.internalId() != 0)
        f |= Qt::ItemNeverHasChildren;
    return f;
}

QVariant DownloadsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kHeaders[section]);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role == Qt::FontRole)
        return Theme::ui(12, QFont::Medium);
    return {};
}

} // namespace quorvel
