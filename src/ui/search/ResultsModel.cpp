#include "ui/search/ResultsModel.h"

#include "ui/reader/PageRenderer.h"

#include "core/BookTitles.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "search/SearchEngine.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPalette>

namespace quorvel {

namespace {

constexpr char kTitlePrefix[] = "عنوان: ";
constexpr char kNotePrefix[] = "تعليق: ";
constexpr const char* kHeaders[] = {"مسلسل", "الكتاب", "النص", "الباب", "الصفحة"};
constexpr double kCellFontSize = 13;
constexpr double kHeaderFontSize = 12;
constexpr double kBookSymbolSize = 13;

// The book symbol of the rows in the accent of the appearance in force, made
// once for each appearance.
const QIcon& bookIcon()
{
    // Kept for the life of the process: pixmaps must not outlive the application's end.
    static auto* const icons = new QIcon[2];
    const bool dark = Theme::isDark();
    QIcon& icon = icons[dark];
    if (icon.isNull()) {
        const QString name = QStringLiteral("book.closed.fill");
        icon = Theme::symbol(name, kBookSymbolSize, {Theme::accent().resolve()});
        // A selected row is painted in the highlight colour, which a tinted
        // symbol would disappear into.
        const QColor selected = QGuiApplication::palette().color(QPalette::HighlightedText);
        icon.addPixmap(Theme::symbolPixmap(name, kBookSymbolSize, {selected}), QIcon::Selected);
    }
    return icon;
}

} // namespace

ResultsModel::ResultsModel(std::shared_ptr<Library> lib, QList<SearchQuery::Term> terms, QObject* parent)
    : QAbstractTableModel(parent), lib_(std::move(lib)), catalog_(lib_->catalog()),
      terms_(std::move(terms))
{
}

void ResultsModel::count(const SearchHit& hit, int sign)
{
    if (hit.kind == SearchHit::Kind::title)
        titles_ += sign;
    else if (hit.kind == SearchHit::Kind::note)
        notes_ += sign;
}

bool ResultsModel::labelBook(std::int64_t book)
{
    if (bookTitles_.contains(book))
        return false;
    const auto found = catalog_->bookById.constFind(book);
    if (found == catalog_->bookById.constEnd()) {
        bookTitles_.insert(book, QString());
        return false;
    }
    QList<std::int64_t>& sharing = titleBooks_[found->title];
    sharing.append(book);
    if (sharing.size() == 1) {
        bookTitles_.insert(book, found->title);
        return false;
    }
    bookTitles_.insert(BookTitles::labels(*catalog_, sharing));
    return true;
}

void ResultsModel::append(const QList<SearchHit>& hits, ResultFilter& filter)
{
    QList<int> added;
    bool relabelled = false;
    for (const SearchHit& hit : hits) {
        if (hit.kind == SearchHit::Kind::page)
            ++pageHits_;
        relabelled = labelBook(hit.bookId) || relabelled;
        all_.append(hit);
        if (filter.accepts(hit))
            added.append(int(all_.size()) - 1);
    }
    // A book whose title another now shares shows it anew on its older rows.
    if (relabelled && !shown_.isEmpty())
        emit dataChanged(index(0, bookColumn), index(int(shown_.size()) - 1, bookColumn));
    if (added.isEmpty())
        return;
    const int first = int(shown_.size());
    beginInsertRows({}, first, first + int(added.size()) - 1);
    for (int i : added) {
        shown_.append(i);
        count(all_[i], 1);
    }
    endInsertRows();
}

void ResultsModel::refilter(ResultFilter& filter)
{
    beginResetModel();
    shown_.clear();
    titles_ = notes_ = 0;
    for (int i = 0; i < all_.size(); ++i) {
        if (filter.accepts(all_[i])) {
            shown_.append(i);
            count(all_[i], 1);
        }
    }
    endResetModel();
}

QList<Arabic::Range> ResultsModel::hitRanges(const QString& text) const
{
    const Arabic::Index index = Arabic::index(text);
    QList<Arabic::Range> out;
    for (const SearchQuery::Term& term : terms_)
        out += Arabic::ranges(term.first, index, term.second);
    return out;
}

ResultsModel::RowData ResultsModel::rowData(int row)
{
    const int i = shown_[row];
    if (auto found = cache_.constFind(i); found != cache_.constEnd())
        return *found;
    SearchHit& hit = all_[i];
    const std::optional<Page> page =
        hit.kind == SearchHit::Kind::page ? lib_->page(hit.pageId) : lib_->page(hit.bookId, hit.seq);
    RowData data;
    switch (hit.kind) {
    case SearchHit::Kind::page: {
        const SearchEngine::Snippet snippet =
            SearchEngine::snippet(page ? PageRenderer::versesShown(page->content) : QString(), terms_, snippetRadius);
        data.text = snippet.text;
        data.ranges = snippet.ranges;
        break;
    }
    case SearchHit::Kind::title: {
        const TocNodePtr chapter = lib_->chapter(hit.bookId, hit.seq);
        data.text = QString::fromUtf8(kTitlePrefix) + (chapter ? Arabic::digits(chapter->title) : QString());
        data.ranges = hitRanges(data.text);
        break;
    }
    case SearchHit::Kind::note:
        data.text = QString::fromUtf8(kNotePrefix) + Arabic::digits(hit.snippet.value_or(QString()));
        data.ranges = hitRanges(data.text);
        break;
    }
    // Ranges past the text's end are dropped, not clipped.
    data.ranges.removeIf([&](const Arabic::Range& r) { return r.location + r.length > data.text.size(); });
    // A page hit carries no sequence when its list was stored without one;
    // its page then says where it is.
    if (const TocNodePtr chapter = lib_->chapter(hit.bookId, page ? page->seq : hit.seq))
        data.chapter = Arabic::digits(chapter->title);
    if (page) {
        if (page->vol)
            data.label = Arabic::digits(*page->vol) + QStringLiteral("/");
        data.label += Arabic::num(page->num.value_or(page->seq));
        hit.seq = page->seq;
    }
    return *cache_.insert(i, data);
}

void ResultsModel::setTerms(const QList<SearchQuery::Term>& terms)
{
    terms_ = terms;
    clearRendered();
}

void ResultsModel::clearRendered()
{
    cache_.clear();
    if (!shown_.isEmpty())
        emit dataChanged(index(0, 0), index(int(shown_.size()) - 1, columns - 1));
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(shown_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= shown_.size())
        return {};
    // Rows are rendered on demand; the cache is the model's, not the view's state.
    auto* self = const_cast<ResultsModel*>(this);
    const SearchHit& hit = all_[shown_[index.row()]];
    const int column = index.column();
    if (role == Qt::FontRole)
        return Theme::ui(kCellFontSize);
    if (role == Qt::TextAlignmentRole) {
        if (column == numberColumn || column == pageColumn)
            return int(Qt::AlignCenter);
        return int(Qt::AlignVCenter | Qt::AlignRight | Qt::AlignAbsolute);
    }
    const auto book = catalog_->bookById.constFind(hit.bookId);
    const bool known = book != catalog_->bookById.constEnd();
    switch (column) {
    case numberColumn:
        if (role == Qt::DisplayRole)
            return Arabic::num(index.row() + 1);
        break;
    case bookColumn:
        if (role == Qt::DisplayRole)
            return bookTitles_.value(hit.bookId);
        if (role == bookTitleRole && known)
            return book->title;
        if (role == Qt::DecorationRole)
            return bookIcon();
        if (role == Qt::ToolTipRole && known)
            return bookTitles_.value(hit.bookId) + QStringLiteral("\n") + lib_->authorName(*book);
        break;
    case textColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return self->rowData(index.row()).text;
        if (role == rowDataRole)
            return QVariant::fromValue(self->rowData(index.row()));
        break;
    case chapterColumn:
        if (role == Qt::DisplayRole)
            return self->rowData(index.row()).chapter;
        break;
    case pageColumn:
        if (role == Qt::DisplayRole)
            return self->rowData(index.row()).label;
        break;
    default:
        break;
    }
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kHeaders[section]);
    if (role == Qt::FontRole)
        return Theme::ui(kHeaderFontSize, QFont::Medium);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

} // namespace quorvel
