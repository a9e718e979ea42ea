#pragma once

// A test suite over the tests/data library, built once for the suite through
// the installer and read through one read-only connection.

#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace quorvel::test {

class CorpusSuite : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        path = FixtureLibrary::build(dir->path());
        if (!path.isEmpty())
            db = SQLiteDB::open(path, true);
    }
    static void TearDownTestSuite()
    {
        db.reset();
        dir.reset();
    }
    void SetUp() override { ASSERT_NE(db, nullptr); }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString path;
    static inline std::shared_ptr<SQLiteDB> db;
};

} // namespace quorvel::test
