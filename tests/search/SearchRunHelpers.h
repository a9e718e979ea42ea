#pragma once

// Helpers shared by the search run tests.

#include "SearchFixture.h"

#include "core/SQLiteDB.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvel::test {

inline bool inReadingOrder(const Library& lib, const QList<SearchHit>& hits)
{
    const auto catalog = lib.catalog();
    auto key = [&](const SearchHit& h) {
        const auto it = catalog->bookById.constFind(h.bookId);
        const std::int64_t order = it == catalog->bookById.constEnd() ? INT64_MAX : it->order;
        return std::make_tuple(order, h.seq, h.pageId);
    };
    for (qsizetype i = 1; i < hits.size(); ++i)
        if (!(key(hits[i - 1]) < key(hits[i])))
            return false;
    return true;
}

inline void addPage(const QString& dbPath, std::int64_t id, std::int64_t book, std::int64_t seq, const QString& text)
{
    auto db = SQLiteDB::open(dbPath, false);
    ASSERT_TRUE(db);
    const QString norm = Arabic::normalize(text);
    ASSERT_TRUE(db->run("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,?,?,?)",
                        {id, book, seq, text, norm}));
    ASSERT_TRUE(db->run("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)",
                        {id, norm, id, book}));
}

inline SearchQuery asked(const QStringList& ands, const std::function<void(SearchQuery&)>& adjust = {})
{
    SearchQuery q = phrases(ands);
    if (adjust)
        adjust(q);
    return q;
}

} // namespace quorvel::test
