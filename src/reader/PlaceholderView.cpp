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

PlaceholderView::PlaceholderView(Library& lib, std::int64_t bookId, std::int64_t seq, QWidget* parent)
    : QWidget(parent), bookId_(bookId)
{
    build();
    go(lib, seq);
}

PlaceholderView::PlaceholderView(const SearchQuery& query, QWidget* parent) : QWidget(parent), query_(query)
{
    build();
    text_->setPlainText(QString::fromUtf8(kSearchingFor) + query.title());
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

void PlaceholderView::go(Library& lib, std::int64_t seq)
{
    std::optional<Page> page;
    if (seq > 0)
        page = lib.page(bookId_, seq);
    if (!page)
        page = lib.page(bookId_, lib.seqRange(bookId_).first);
    seq_ = page ? page->seq : seq;
    text_->setPlainText(page ? Library::splitFootnotes(page->content).first : QString());
}

} // namespace quorvel
