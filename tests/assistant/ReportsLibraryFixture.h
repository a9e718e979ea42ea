#pragma once

// A library of hand-made books, categories, authors and pages for the report
// tests: rows of SQL for the catalogue, the narrators and their links, and
// pages written with their normal form and full-text rows as the installer
// writes them.

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace quorvel::test {

class ReportsLibrary : public ::testing::Test {
protected:
    void SetUp() override { Settings::setIndicDigits(false); }

    std::shared_ptr<Library> make(const QStringList& rows, const QList<std::tuple<int, int, int, QString>>& pages)
    {
        const QString path = FixtureLibrary::custom(dir_.path(), QStringLiteral("reports.db"), rows);
        EXPECT_FALSE(path.isEmpty());
        const auto db = SQLiteDB::open(path, false);
        for (const auto& [id, book, seq, content] : pages) {
            const QString norm = Arabic::normalize(content);
            db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,?,?,?)"),
                    {id, book, seq, content, norm});
            db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                    {id, norm, id, book});
        }
        return Library::open(path);
    }

    ScopedEnv noSmart_{"QUORVEL_NO_SMART", QStringLiteral("1")};
    ScopedEnv userDb_{"QUORVEL_USERDB", QStringLiteral(":memory:")};
    QTemporaryDir dir_;
};

} // namespace quorvel::test
