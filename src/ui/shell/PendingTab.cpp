#include "ui/shell/PendingTab.h"

#include <utility>

namespace quorvel {

PendingTab::PendingTab(Json::Value entry, QString title, QString symbol, std::function<TabContent*()> make,
                       QWidget* parent)
    : TabContent(parent), entry_(std::move(entry)), title_(std::move(title)), symbol_(std::move(symbol)),
      make_(std::move(make))
{
}

TabContent* PendingTab::make() const
{
    TabContent* view = make_ ? make_() : nullptr;
    if (view)
        for (const auto& step : steps_)
            step(view);
    return view;
}

QString PendingTab::kind() const
{
    return Json::strictString(entry_, "k").value_or(QString());
}

} // namespace quorvel
