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

PlaceholderView::PlaceholderView(Library& lib, QWidget* parent) : TabContent(parent), lib_(lib)
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

PlaceholderView::PlaceholderView(Library& lib, const SearchQuery& query, QWidget* parent) : PlaceholderView(lib, parent)
{
    showQuery(query);
}

void PlaceholderView::showQuery(const SearchQuery& query)
{
    query_ = query;
    title_ = query.title();
    text_->setPlainText(QString::fromUtf8(kSearchingFor) + query.title());
}

QString PlaceholderView::symbol() const
{
    return QStringLiteral("magnifyingglass");
}

Json::Value PlaceholderView::sessionJSON() const
{
    Json::Value tab = Json::Value::object();
    tab["k"] = searchKind;
    tab["q"] = Json::utf8(query_.json());
    tab["row"] = 0;
    return tab;
}

bool PlaceholderView::restore(const Json::Value& entry)
{
    const std::optional<QString> kind = Json::strictString(entry, "k");
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
