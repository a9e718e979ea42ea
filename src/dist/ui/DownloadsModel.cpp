#include "dist/ui/DownloadsModel.h"

#include "core/Arabic.h"
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

QColor secondaryLabel()
{
    return QGuiApplication::palette().color(QPalette::PlaceholderText);
}

// Titles in the order of their code points after canonical composition.
bool titleBefore(const QString& a, const QString& b)
{
    const QList<uint> x = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> y = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(x.cbegin(), x.cend(), y.cbegin(), y.cend());
}

} // namespace

std::shared_ptr<const DownloadsModel::Source> DownloadsModel::prepare(Dist::Catalog catalog)
{
    auto source = std::make_shared<Source>();
    for (const Dist::CatAuthor& author : catalog.authors)
        if (!source->authors.contains(author.id))
            source->authors.insert(author.id, author.name);
    source->norms.reserve(catalog.books.size());
    for (const Dist::CatBook& book : catalog.books) {
        const QString author = book.authorId ? source->authors.value(*book.authorId) : QString();
        source->norms.append(Arabic::normalize(book.title + u' ' + author, true));
    }
    source->catalog = std::move(catalog);
    return source;
}

QList<DownloadsModel::Node> DownloadsModel::build(const Source& source, const QString& filter)
{
    const QStringList words = Arabic::normalize(filter, true).split(u' ', Qt::SkipEmptyParts);
    std::map<std::int64_t, QList<Dist::CatBook>> groups;
    const QList<Dist::CatBook>& books = source.catalog.books;
    for (qsizetype i = 0; i < books.size(); ++i) {
        const QString& norm = source.norms[i];
        if (!std::all_of(words.cbegin(), words.cend(), [&](const QString& w) { return norm.contains(w); }))
            continue;
        groups[books[i].categoryId.value_or(kUncategorised)].append(books[i]);
    }

    QList<Dist::CatCategory> categories = source.catalog.categories;
    std::stable_sort(categories.begin(), categories.end(), [](const Dist::CatCategory& a, const Dist::CatCategory& b) {
        const std::int64_t ka = a.sort.value_or(a.id);
        const std::int64_t kb = b.sort.value_or(b.id);
        return ka != kb ? ka < kb : a.id < b.id;
    });

    QList<Node> roots;
    auto bookRow = [](const Dist::CatBook& book) { return Node{book.title, {}, book, {}}; };
    for (const Dist::CatCategory& category : categories) {
        const auto found = groups.find(category.id);
        if (found == groups.end() || found->second.isEmpty() || category.id == kUncategorised)
            continue;
        Node group{category.name, found->second, std::nullopt, {}};
        QList<Dist::CatBook> sorted = found->second;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Dist::CatBook& a, const Dist::CatBook& b) { return titleBefore(a.title, b.title); });
        for (const Dist::CatBook& book : sorted)
            group.children.append(bookRow(book));
        roots.append(std::move(group));
    }
    if (const auto loose = groups.find(kUncategorised); loose != groups.end() && !loose->second.isEmpty()) {
        Node group{QString::fromUtf8(kUncategorisedTitle), loose->second, std::nullopt, {}};
        for (const Dist::CatBook& book : loose->second)
            group.children.append(bookRow(book));
        roots.append(std::move(group));
    }
    return roots;
}

QString DownloadsModel::mb(std::int64_t bytes)
{
    if (bytes < kMega)
        return Arabic::num(std::max<std::int64_t>(bytes / kKilo, 1)) + QStringLiteral("KB");
    return Arabic::digits(QString::asprintf("%.1f", double(bytes) / double(kMega))) + QStringLiteral("MB");
}

DownloadsModel::DownloadsModel(QObject* parent) : QAbstractItemModel(parent) {}

void DownloadsModel::setTree(QList<Node> roots, std::shared_ptr<const Source> source)
{
    beginResetModel();
    roots_ = std::move(roots);
    source_ = std::move(source);
    endResetModel();
}

void DownloadsModel::setInstalled(QHash<std::int64_t, QString> installed)
{
    installed_ = std::move(installed);
    if (!roots_.isEmpty())
        emit dataChanged(index(0, 0), index(int(roots_.size()) - 1, ColumnCount - 1));
}

std::pair<QString, QColor> DownloadsModel::state(const Dist::CatBook& book) const
{
    const auto found = installed_.constFind(book.id);
    if (found == installed_.constEnd())
        return {QString::fromUtf8(kAvailable), secondaryLabel()};
    if (*found == book.root)
        return {QString::fromUtf8(kInstalled), Theme::emerald()};
    return {QString::fromUtf8(kUpdate), Theme::gold()};
}

const DownloadsModel::Node* DownloadsModel::nodeAt(const QModelIndex& index) const
{
    if (!index.isValid())
        return nullptr;
    const quintptr group = index.internalId();
    if (group == 0)
        return index.row() < roots_.size() ? &roots_[index.row()] : nullptr;
    const Node& parent = roots_.at(qsizetype(group - 1));
    return index.row() < parent.children.size() ? &parent.children[index.row()] : nullptr;
}

const Dist::CatBook* DownloadsModel::bookAt(const QModelIndex& index) const
{
    const Node* node = nodeAt(index);
    return node && node->book ? &*node->book : nullptr;
}

QList<std::int64_t> DownloadsModel::idsOf(const Node& node) const
{
    QList<std::int64_t> ids;
    if (node.book)
        ids.append(node.book->id);
    for (const Dist::CatBook& book : node.books)
        ids.append(book.id);
    return ids;
}

QModelIndex DownloadsModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return row < roots_.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
    if (parent.internalId() != 0 || parent.row() >= roots_.size() || row >= roots_[parent.row()].children.size())
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
        return int(roots_.size());
    if (parent.column() != 0 || parent.internalId() != 0 || parent.row() >= roots_.size())
        return 0;
    return int(roots_[parent.row()].children.size());
}

int DownloadsModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant DownloadsModel::data(const QModelIndex& index, int role) const
{
    const Node* node = nodeAt(index);
    if (!node)
        return {};
    const bool group = node->isGroup();
    switch (index.column()) {
    case TitleColumn:
        if (role == Qt::DisplayRole)
            return group ? node->title + QStringLiteral(" (") + Arabic::num(node->books.size()) + u')' : node->title;
        if (role == Qt::CheckStateRole) {
            const QList<std::int64_t> ids = idsOf(*node);
            const auto on = std::count_if(ids.cbegin(), ids.cend(), [&](std::int64_t id) { return checked.contains(id); });
            return on == 0 ? Qt::Unchecked : on == ids.size() ? Qt::Checked : Qt::PartiallyChecked;
        }
        if (role == Qt::DecorationRole)
            return Theme::symbol(group ? QStringLiteral("folder.fill") : QStringLiteral("book.closed.fill"), 13,
                                 {Theme::gold(), Theme::emerald()});
        if (role == Qt::FontRole && group)
            return Theme::ui(13, QFont::Medium);
        if (role == Qt::ToolTipRole)
            return node->title;
        break;
    case AuthorColumn:
        if (role == Qt::DisplayRole && !group && node->book->authorId && source_)
            return source_->authors.value(*node->book->authorId);
        if (role == Qt::ForegroundRole)
            return secondaryLabel();
        break;
    case SizeColumn:
        if (role == Qt::DisplayRole) {
            std::int64_t bytes = 0;
            if (group)
                for (const Dist::CatBook& book : node->books)
                    bytes += book.size;
            else
                bytes = node->book->size;
            return mb(bytes);
        }
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        break;
    case StateColumn:
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        if (group) {
            const auto have = std::count_if(node->books.cbegin(), node->books.cend(),
                                            [&](const Dist::CatBook& b) { return installed_.contains(b.id); });
            if (role == Qt::DisplayRole)
                return Arabic::num(have) + QStringLiteral(" / ") + Arabic::num(node->books.size());
            if (role == Qt::ForegroundRole)
                return secondaryLabel();
        } else {
            const auto [text, colour] = state(*node->book);
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
    const Node* node = nodeAt(index);
    if (!node || role != Qt::CheckStateRole || index.column() != TitleColumn)
        return false;
    // A click on a fully ticked row unticks it; any other click ticks all.
    const QList<std::int64_t> ids = idsOf(*node);
    const bool all = !ids.isEmpty() && std::all_of(ids.cbegin(), ids.cend(), [&](std::int64_t id) { return checked.contains(id); });
    for (const std::int64_t id : ids) {
        if (all)
            checked.remove(id);
        else
            checked.insert(id);
    }
    // Groups and books share ticks: every row may have changed.
    for (int r = 0; r < roots_.size(); ++r) {
        const QModelIndex group = this->index(r, TitleColumn);
        emit dataChanged(group, group, {Qt::CheckStateRole});
        if (!roots_[r].children.isEmpty())
            emit dataChanged(this->index(0, TitleColumn, group),
                             this->index(int(roots_[r].children.size()) - 1, TitleColumn, group), {Qt::CheckStateRole});
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
