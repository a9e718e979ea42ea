#pragma once

// The local store in a temporary folder of its own, with helpers that write
// book packages beside it and read back what an install stored; shared by
// the store's tests.

#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "distribution/RawDeflate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quorvel::test {

class LocalStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        // Packages are unpacked in the temporary folder: give each test its own.
        savedTmp_ = qgetenv("TMPDIR");
        QDir(dir_.path()).mkpath(QStringLiteral("tmp"));
        qputenv("TMPDIR", dir_.filePath(QStringLiteral("tmp")).toUtf8());
        store_ = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
        ASSERT_TRUE(store_);
        LocalStore::setWithReuse(false);
        catalog_.authors = {{1, QStringLiteral("مالك بن أنس"), 179, QStringLiteral("179 هـ")}};
        catalog_.categories = {{1, QStringLiteral("كتب الحديث"), std::nullopt, 2}};
    }
    void TearDown() override
    {
        LocalStore::setWithReuse(false);
        if (savedTmp_.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmp_);
    }

    // Writes a package made by `sql` (run on an empty database) and returns its
    // catalogue entry; `root` replaces the true content root when given.
    Dist::CatBook package(std::int64_t id, const QString& sql, std::int32_t appId = Dist::appID,
                          std::optional<QString> root = std::nullopt)
    {
        const QString dbPath = dir_.filePath(QStringLiteral("pkg-%1.sqlite").arg(id));
        QFile::remove(dbPath);
        Dist::CatBook book;
        book.id = id;
        book.title = QStringLiteral("كتاب %1").arg(id);
        book.authorId = 1;
        book.categoryId = 1;
        book.file = QStringLiteral("b%1.qbk").arg(id);
        {
            auto db = SQLiteDB::open(dbPath, false);
            EXPECT_TRUE(db->exec(sql + QStringLiteral(";PRAGMA application_id=%1;").arg(appId)));
            book.root = root.value_or(Dist::root(*db, id, book.title));
        }
        QFile f(dbPath);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray plain = f.readAll();
        const QByteArray packed = RawDeflate::compress(plain);
        book.usize = plain.size();
        book.size = packed.size();
        book.sha256 = Dist::sha256(packed);
        writePackageFile(book.file, packed);
        return book;
    }

    // A package of plain pages: pid = id × 1000 + seq.
    Dist::CatBook pagesPackage(std::int64_t id, const QStringList& texts, const QString& extraSql = {})
    {
        QString sql = QStringLiteral(
            "CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER, vol TEXT, page_num INTEGER, content TEXT);"
            "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT, page_seq INTEGER, parent_id INTEGER, level INTEGER);");
        for (qsizetype i = 0; i < texts.size(); ++i)
            sql += QStringLiteral("INSERT INTO page VALUES(%1, %2, '1', %2, '%3');")
                       .arg(id * 1000 + i + 1)
                       .arg(i + 1)
                       .arg(texts[i]);
        return package(id, sql + extraSql);
    }

    void writePackageFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir_.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    void install(const Dist::CatBook& book, std::int64_t release = 1)
    {
        store_->install(book, catalog_, release, QUrl::fromLocalFile(dir_.path()));
    }

    // The refusal message of an install, "" when it succeeded.
    QString refusal(const Dist::CatBook& book)
    {
        try {
            install(book);
            return {};
        } catch (const Dist::DistError& e) {
            return e.message();
        } catch (const Dist::PlatformError& e) {
            return QStringLiteral("platform: ") + e.description();
        }
    }

    std::int64_t count(const QString& sql, const SQLArgs& args = {})
    {
        return store_->db().scalarInt(sql, args).value_or(-1);
    }

    // The narrators left, by id, and the edges as (student, teacher) in page order.
    QList<std::int64_t> narratorIds()
    {
        QList<std::int64_t> ids;
        for (const auto& row : store_->db().rows(QStringLiteral("SELECT id FROM narrators ORDER BY id")))
            ids << row.integer(0).value_or(-1);
        return ids;
    }
    QList<std::pair<std::int64_t, std::int64_t>> edgePairs()
    {
        QList<std::pair<std::int64_t, std::int64_t>> pairs;
        for (const auto& row : store_->db().rows(
                 QStringLiteral("SELECT student_id, teacher_id FROM isnad_edges ORDER BY page_id, rowid")))
            pairs.append({row.integer(0).value_or(-1), row.integer(1).value_or(-1)});
        return pairs;
    }

    QStringList leftoverTempFiles(std::int64_t id) const
    {
        return QDir(QDir::tempPath()).entryList({QStringLiteral("qbook-%1-*").arg(id)}, QDir::Files);
    }

    QTemporaryDir dir_;
    QByteArray savedTmp_;
    std::unique_ptr<LocalStore> store_;
    Dist::Catalog catalog_;
};

} // namespace quorvel::test
