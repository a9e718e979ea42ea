#pragma once

#include "app/kit/TabContent.h"
#include "search/SearchQuery.h"

class QTextBrowser;

namespace quorvel {

class Library;

// Stand-in content of a search tab until the result list exists: the words
// searched for.
class PlaceholderView : public TabContent {
    Q_OBJECT
public:
    // The session kind of the tab.
    static constexpr const char* searchKind = "search";

    // An empty view, to be filled by restore.
    explicit PlaceholderView(Library& lib, QWidget* parent = nullptr);
    PlaceholderView(Library& lib, const SearchQuery& query, QWidget* parent = nullptr);

    const SearchQuery& query() const { return query_; }

    QString title() const override { return title_; }
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    // Taken up when the entry's query decodes.
    bool restore(const Json::Value& entry) override;

private:
    void showQuery(const SearchQuery& query);

    Library& lib_;
    SearchQuery query_;
    QString title_;
    QTextBrowser* text_ = nullptr;
};

} // namespace quorvel
