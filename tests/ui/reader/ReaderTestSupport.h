#pragma once

// What the reader tests share: the bundled sample release installed once for
// all the tests and copied into a store of the process's own, and each test's
// library opened over it with a user database of its own.

#include "core/Library.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "scholar/TextReuse.h"
#include "support/SampleStore.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

// Set by the build when it makes the sample release.
#ifndef QUORVEL_SAMPLE_RELEASE
#define QUORVEL_SAMPLE_RELEASE ""
#endif

namespace quorvel::test {

// The installed sample library's path (its page vectors in the smart
// folder of the moment); empty when the release is not built or does not
// install.
inline QString sampleLibraryPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString copy = dir.filePath(QStringLiteral("library.db"));
        const auto store = SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE), SampleStore::whole());
        return SampleStore::copy(store, copy, Paths::smartDir()) ? copy : QString();
    }();
    return path;
}

// A copy of the sample library in `dir` whose given books also hold their
// shared-passage shingles, as an install with them stores them (the whole
// release with them is a much slower install); empty when there is no
// sample library.
inline QString sampleLibraryWithShingles(const QString& dir, std::initializer_list<std::int64_t> books)
{
    const QString source = sampleLibraryPath();
    const QString copy = dir + QStringLiteral("/library-shingles.db");
    if (source.isEmpty() || !QFile::copy(source, copy))
        return QString();
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(copy, false);
    if (!db)
        return QString();
    db->exec(QStringLiteral("BEGIN"));
    for (const std::int64_t book : books)
        for (const auto& row : db->rows(QStringLiteral("SELECT id, content FROM pages WHERE book_id=?"), {book}))
            for (const std::int64_t hash : TextReuse::shingleHashes(row.str(1).value_or(QString())))
                db->run(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"),
                        {hash, row.integer(0).value_or(0), book});
    db->exec(QStringLiteral("COMMIT"));
    if (!ShingleRuns::rebuild(*db)) // rows not written by the installer
        return QString();
    return copy;
}

// The sample library (or a library at `path`) with a fresh user database.
struct SampleLib {
    explicit SampleLib(const QString& path = sampleLibraryPath())
    {
        if (path.isEmpty())
            return;
        ScopedEnv userdb("QUORVEL_USERDB", userDir.filePath(QStringLiteral("user.db")));
        lib = Library::open(path);
    }
    QTemporaryDir userDir;
    std::shared_ptr<Library> lib;
};

// Unsets reading preferences before and after a test, so that every test
// starts from the defaults.
class PreferenceGuard {
public:
    PreferenceGuard(std::initializer_list<const char*> keys) : keys_(keys) { clear(); }
    ~PreferenceGuard() { clear(); }

private:
    void clear()
    {
        for (const char* key : keys_)
            Preferences::standard().remove(QString::fromLatin1(key));
    }
    std::vector<const char*> keys_;
};

} // namespace quorvel::test

// Skips a test when the sample release is not part of this build.
#define REQUIRE_SAMPLE(fixture)                                                                                        \
    do {                                                                                                               \
        if (!(fixture).lib)                                                                                            \
            GTEST_SKIP() << "the sample release is not built";                                                        \
    } while (false)
