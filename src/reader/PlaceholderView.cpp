#include "reader/PlaceholderView.h"

#include "app/kit/Widgets.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "core/Theme.h"

#include <QTextBrowser>

namespace quorvel {

namespace {
constexpr char kSearchingFor[] = "البحث عن: ";
constexpr int kPagePadding = 24;
} // namespace

PlaceholderView::PlaceholderView(Library& lib, Content content, QWidget* parent)
    : TabContent(parent), lib_(lib), content_(content)
{
    build();
}

PlaceholderView::PlaceholderView(Library& lib, std::int64_t bookId, std::int64_t seq, QWidget* parent)
    : PlaceholderView(lib, Content::Book, parent)
{
    showBook(bookId, seq);
}

PlaceholderView::PlaceholderView(Library& lib, const SearchQuery& query, QWidget* parent)
    : PlaceholderView(lib, Content::Search, parent)
{
    showQuery(query);
}

void PlaceholderView::build()
{
    text_ = new QTextBrowser;
    text_->setFrameShape(QFrame::NoFrame);
    text_->setFont(Theme::reader(Settings::readerSize()));
    text_->setLayoutDirection(Qt::RightToLeft);
    text_->document()->setDocumentMargin(kPagePadding);
    QTextOption option = text_->document()->defaultTextOption();
    option.setTextDirection(Qt::RightToLeft);
    option.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
    text_->document()->setDefaultTextOption(option);
    QPalette p = text_->palette();
    p.setColor(QPalette::Base, Theme::parchment());
    p.setColor(QPalette::Text, Theme::ink());
    text_->setPalette(p);
    pin(this, text_);
    setFocusProxy(text_);
}

void PlaceholderView::showBook(std::int64_t bookId, std::int64_t seq)
{
    bookId_ = bookId;
    const std::optional<Book> book = lib_.book(bookId);
    title_ = book ? book->title : QString();
    go(seq);
}

void PlaceholderView::showQuery(const SearchQuery& query)
{
    query_ = query;
    title_ = query.title();
    text_->setPlainText(QString::fromUtf8(kSearchingFor) + query.title());
}

void PlaceholderView::go(std::int64_t seq)
{
    std::optional<Page> page;
    if (seq > 0)
        page = lib_.page(bookId_, seq);
    if (!page)
        page = lib_.page(bookId_, lib_.seqRange(bookId_).first);
    seq_ = page ? page->seq : seq;
    text_->setPlainText(page ? Library::splitFootnotes(page->content).first : QString());
}

QString PlaceholderView::symbol() const
{
    return content_ == Content::Book ? QStringLiteral("book.closed.fill") : QStringLiteral("magnifyingglass");
}

Json::Value PlaceholderView::sessionJSON() const
{
    Json::Value tab = Json::Value::object();
    if (content_ == Content::Book) {
        tab["k"] = bookKind;
        tab["b"] = bookId_;
        tab["s"] = seq_;
        // The reader adds its scroll position; a page of plain text has none.
        tab["y"] = 0.0;
    } else {
        tab["k"] = searchKind;
        tab["q"] = Json::utf8(query_.json());
        tab["row"] = 0;
    }
    return tab;
}

bool PlaceholderView::restore(const Json::Value& entry)
{
    const std::optional<QString> kind = Json::strictString(entry, "k");
    if (content_ == Content::Book) {
        const std::optional<std::int64_t> book = Json::strictInt(entry, "b");
        const std::optional<std::int64_t> seq = Json::strictInt(entry, "s");
        if (kind != QString::fromLatin1(bookKind) || !book || !seq || !lib_.book(*book))
            return false;
        showBook(*book, *seq);
        return true;
    }
    const std::optional<QString> text = Json::strictString(entry, "q");
    if (kind != QString::fromLatin1(searchKind) || !text)
        return false;
    const std::optional<SearchQuery> query = SearchQuery::from(*text);
    if (!query)
        return false;
    showQuery(*query);
    return true;
}

} // namespace quorvel
