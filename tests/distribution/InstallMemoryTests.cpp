// An install that runs out of the memory the process may take: a child
// process, its address space capped a little above what it already maps,
// installs a book of pages at the length bound. It must end (no abort, no
// hang), say why in Arabic, and leave the store exactly as it was.
#include "LocalStoreFixture.h"

#include "core/SQLiteDB.h"
#include "distribution/Dist.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvel;
using quorvel::test::LocalStoreTest;

namespace {

// The address space the process maps now, in bytes.
long long mappedBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Every row of the store's tables that an install writes, with the page
// index's state, as one text to compare before and after.
QString storeRows(SQLiteDB& db)
{
    QString out;
    for (const char* sql :
         {"SELECT id, book_id, seq, content, content_norm FROM pages ORDER BY id",
          "SELECT rowid, content_norm, book_id FROM pages_fts ORDER BY rowid", "SELECT * FROM books ORDER BY id",
          "SELECT book_id, root FROM installed ORDER BY book_id", "SELECT * FROM toc ORDER BY id",
          "SELECT * FROM isnad_edges ORDER BY rowid", "SELECT * FROM narrators ORDER BY id",
          "SELECT term, form, pages FROM page_terms ORDER BY term, form",
          "SELECT key, value FROM meta WHERE key NOT IN ('page_index_checked') ORDER BY key"})
        for (const auto& row : db.rows(QString::fromLatin1(sql))) {
            for (const auto& v : row.vals)
                out += std::visit(
                    [](const auto& value) -> QString {
                        using T = std::decay_t<decltype(value)>;
                        if constexpr (std::is_same_v<T, std::monostate>)
                            return QStringLiteral("NULL");
                        else if constexpr (std::is_same_v<T, QString>)
                            return value;
                        else if constexpr (std::is_same_v<T, QByteArray>)
                            return QString::fromLatin1(value.toHex());
                        else
                            return QString::number(value);
                    },
                    v)
                    + u'|';
            out += u'\n';
        }
    return out;
}

// What the child said, read until it closes its end or `seconds` pass.
// Empty with `ended` false when it did not end in time.
QByteArray readUntilClosed(int fd, int seconds, bool& ended)
{
    QByteArray said;
    ended = false;
    for (int waited = 0; waited < seconds * 10;) {
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, 100);
        if (n == 0) {
            ++waited;
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended = true;
            return said;
        }
        said.append(buffer, got);
    }
    return said;
}

} // namespace

TEST_F(LocalStoreTest, anInstallPastTheMemoryItMayTakeIsRefusedInArabicAndLeavesTheStoreAsItWas)
{
    // A store holding a book, whose index the next install would update.
    install(pagesPackage(1, {QStringLiteral("حدثنا مالك عن نافع عن ابن عمر"), QStringLiteral("باب الصلاة في السفر")}));
    // Sixteen pages of chains at the length bound (about 115 MB of text).
    const QString phrase = QStringLiteral("حدثنا مالك عن نافع عن ابن عمر قال ");
    const qsizetype copies = Dist::maxPageLength / phrase.size();
    const auto longBook = package(
        2, QStringLiteral("CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER, vol TEXT, page_num INTEGER, "
                          "content TEXT);"
                          "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT, page_seq INTEGER, parent_id INTEGER, "
                          "level INTEGER);"
                          "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 16) "
                          "INSERT INTO page SELECT 2000 + k, k, '1', k, replace(hex(zeroblob(%1)), '00', '%2') FROM n;")
               .arg(copies)
               .arg(phrase));
    const QString before = storeRows(store_->db());
    const QString storePath = store_->db().path();
    const long long mapped = mappedBytes();
    ASSERT_GT(mapped, 0);

    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        // Room for the store and the package, not for a page's work.
        const rlim_t cap = rlim_t(mapped) + rlim_t(160) * 1024 * 1024;
        const rlimit limit{cap, cap};
        QByteArray said = "no limit";
        if (::setrlimit(RLIMIT_AS, &limit) == 0) {
            try {
                auto store = LocalStore::open(storePath);
                store->install(longBook, catalog_, 1, QUrl::fromLocalFile(dir_.path()));
                said = "installed";
            } catch (const Dist::DistError& e) {
                said = "refused:" + e.message().toUtf8();
            } catch (const std::exception& e) {
                said = QByteArray("thrown:") + e.what();
            }
        }
        [[maybe_unused]] const ssize_t n = ::write(channel[1], said.constData(), size_t(said.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    bool ended = false;
    const QString said = QString::fromUtf8(readUntilClosed(channel[0], 300, ended));
    ::close(channel[0]);
    if (!ended)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(ended) << "the install did not end";
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    ASSERT_TRUE(said.startsWith(QStringLiteral("refused:"))) << said.toStdString();
    // The reader's own language, whichever allocation failed; no library's English.
    EXPECT_TRUE(said.contains(QStringLiteral("الذاكرة"))) << said.toStdString();
    EXPECT_FALSE(said.mid(8).contains(QRegularExpression(QStringLiteral("[A-Za-z]")))) << said.toStdString();

    auto reopened = LocalStore::open(storePath);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(storeRows(reopened->db()), before);
    EXPECT_EQ(reopened->db().rows(QStringLiteral("PRAGMA integrity_check")).first().str(0), QStringLiteral("ok"));
    // The page index the child's writer had started is whole and in use.
    EXPECT_TRUE(PageIndex::ready(reopened->db()));
    EXPECT_TRUE(QDir(QDir::tempPath()).entryList({QStringLiteral("qbook-2-*")}, QDir::Files).isEmpty());
}
