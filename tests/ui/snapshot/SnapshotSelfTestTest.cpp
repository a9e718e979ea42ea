// The harness's self-test and features jobs, run through the built binary on
// the sample library: their result lines, what they leave in the user
// database, and their refusal to run on the user's own data.

#include "ui/snapshot/SnapshotTestSupport.h"

#include "core/Library.h"
#include "support/ScopedEnv.h"
#include "ui/search/PickerActions.h"
#include "ui/shell/Sessions.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class SnapshotSelfTestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (test::sampleLibraryPath().isEmpty())
            GTEST_SKIP() << "the sample release is not built";
    }

    // The one line that starts with `prefix`; empty (and a failure) otherwise.
    static QString line(const test::SnapshotRun& run, const QString& prefix)
    {
        const QStringList found = run.linesStartingWith(prefix);
        EXPECT_EQ(found.size(), 1) << prefix.toStdString() << " in:\n" << run.lines.join('\n').toStdString();
        return found.value(0);
    }

    // The library over the sample with the run's user database, as the
    // application would open it afterwards.
    static std::shared_ptr<Library> reopen(const QString& userDb)
    {
        test::ScopedEnv env("QUORVEL_USERDB", userDb);
        return Library::open(test::sampleLibraryPath());
    }

    static QByteArray digest(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    }
};

TEST_F(SnapshotSelfTestTest, selfTestChecksCopyNotesIgnoredBooksAndTheBookPage)
{
    test::SnapshotProcess process;
    const test::SnapshotRun run = process.run({{QStringLiteral("SNAP_SELFTEST"), QString()}});
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    const std::shared_ptr<Library> lib = reopen(process.userDb());
    ASSERT_TRUE(lib);
    const QList<Book> books = lib->books();
    ASSERT_GE(books.size(), 2);
    const std::int64_t b0 = books[0].id;
    const std::int64_t b1 = books[1].id;

    // Footnote numbers in brackets and glued to a word go; the verse
    // reference and the free-standing year stay.
    EXPECT_EQ(line(run, QStringLiteral("copy:")),
              QStringLiteral("copy: قال رسول الله الصلاة في [البقرة: ٢٥٥] سنة 256"));

    // The same file again adds nothing; a differing local note keeps both texts.
    const QRegularExpression exported(
        QStringLiteral(R"(^export: (\d+) bytes; reimport same: \(notes: 0, marks: 0, skipped: 1\)$)"));
    const QRegularExpressionMatch match = exported.match(line(run, QStringLiteral("export:")));
    ASSERT_TRUE(match.hasMatch()) << run.lines.join('\n').toStdString();
    EXPECT_GT(match.captured(1).toInt(), 100);
    EXPECT_EQ(line(run, QStringLiteral("merge different:")),
              QStringLiteral("merge different: (notes: 1, marks: 0, skipped: 0) -> تعليق محلي مختلف | تعليق أول"));
    EXPECT_EQ(line(run, QStringLiteral("bad file:")), QStringLiteral("bad file: rejected"));

    EXPECT_EQ(line(run, QStringLiteral("ignore all-books scope:")),
              QStringLiteral("ignore all-books scope: %1 of %2 contains ignored: false")
                  .arg(books.size() - 2)
                  .arg(books.size()));
    EXPECT_EQ(line(run, QStringLiteral("ignore single-book scope kept:")),
              QStringLiteral("ignore single-book scope kept: [%1]").arg(b0));

    // What the run left in its user database.
    EXPECT_TRUE(lib->ignoredBooks().isEmpty());
    const std::optional<Note> note = lib->note(b0, 3);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->text, QStringLiteral("تعليق محلي مختلف\nتعليق أول"));
    EXPECT_TRUE(lib->isBookmarked(b1, 5));

    // The sample has no book 785: the first book is written.
    const QString html = line(run, QStringLiteral("html:"));
    const QRegularExpression counted(QStringLiteral(R"(^html: (\S+) (\d+) chars, pages: (\d+) footnote blocks: (\d+)$)"));
    const QRegularExpressionMatch parts = counted.match(html);
    ASSERT_TRUE(parts.hasMatch()) << html.toStdString();
    EXPECT_EQ(parts.captured(1), run.file(QStringLiteral("book.html")));
    QFile file(run.file(QStringLiteral("book.html")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(file.readAll());
    EXPECT_EQ(written.size(), parts.captured(2).toInt());
    EXPECT_TRUE(written.contains(books[0].title));
    const int pages = parts.captured(3).toInt();
    EXPECT_GT(pages, 0);
    EXPECT_EQ(written.count(QStringLiteral(R"(class="pg")")), pages);
    EXPECT_EQ(written.count(QStringLiteral(R"(class="fn")")), parts.captured(4).toInt());
}

TEST_F(SnapshotSelfTestTest, featuresLinkOnAThrowAwayFileFilterByDeathYearAndReopenANamedSession)
{
    test::SnapshotProcess process;
    // Unset, the link goes to a file in the temporary folder, never to the
    // outside client's own configuration.
    test::ScopedEnv config("QUORVEL_CLAUDE_CONFIG", std::nullopt);
    const test::SnapshotRun run =
        process.run({{QStringLiteral("SNAP_FEATURES"), QStringLiteral("1")}, {QStringLiteral("TMPDIR"), process.work()}});
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    EXPECT_EQ(line(run, QStringLiteral("claude linked before:")), QStringLiteral("claude linked before: false"));
    EXPECT_EQ(line(run, QStringLiteral("after link:")), QStringLiteral("after link: true {"));
    EXPECT_EQ(line(run, QStringLiteral("after unlink:")), QStringLiteral("after unlink: false"));
    EXPECT_TRUE(run.linesStartingWith(QStringLiteral("link error")).isEmpty());
    // The file's text as it was while linked: the lines between the two.
    const qsizetype linkedAt = run.lines.indexOf(line(run, QStringLiteral("after link:")));
    const qsizetype unlinkedAt = run.lines.indexOf(QStringLiteral("after unlink: false"));
    ASSERT_LT(linkedAt, unlinkedAt);
    const QString linkedText = run.lines.mid(linkedAt, unlinkedAt - linkedAt).join('\n');
    EXPECT_TRUE(linkedText.contains(QStringLiteral("\"quorvel-library\""))) << linkedText.toStdString();
    EXPECT_TRUE(linkedText.contains(QStringLiteral("--mcp"))) << linkedText.toStdString();
    QFile throwAway(QDir(process.work()).filePath(QStringLiteral("quorvel-test-claude-config.json")));
    ASSERT_TRUE(throwAway.open(QIODevice::ReadOnly));
    EXPECT_FALSE(QString::fromUtf8(throwAway.readAll()).contains(QStringLiteral("quorvel-library")));
    EXPECT_FALSE(QFileInfo::exists(QDir(process.work()).filePath(QStringLiteral("config/Claude"))));

    // The sample's authors died between 179 and 911: none in the three spans.
    const std::shared_ptr<Library> lib = reopen(process.userDb());
    ASSERT_TRUE(lib);
    for (const auto& [from, to] : {std::pair{700, 800}, std::pair{1, 100}, std::pair{1300, 1500}}) {
        ASSERT_TRUE(PickerActions::books(*lib, from, to).isEmpty());
        const QString prefix = QStringLiteral("died %1-%2:").arg(from).arg(to);
        EXPECT_EQ(line(run, prefix), prefix + QStringLiteral(" 0 []"));
    }

    EXPECT_EQ(line(run, QStringLiteral("tabs before:")), QStringLiteral("tabs before: 2"));
    EXPECT_EQ(line(run, QStringLiteral("tabs closed:")), QStringLiteral("tabs closed: 0 sessions: [\"بحث الكهف\"]"));
    const QString reopened = line(run, QStringLiteral("tabs reopened:"));
    EXPECT_TRUE(reopened.startsWith(QStringLiteral("tabs reopened: 2 [\"القرآن الكريم\", \""))) << reopened.toStdString();
    EXPECT_TRUE(reopened.endsWith(QStringLiteral("\"] quran pos: (18, 10)"))) << reopened.toStdString();

    // The named session is the user database's, holding both tabs.
    const std::optional<QString> list = lib->kv(QString::fromLatin1(Sessions::listKey));
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->contains(QStringLiteral("بحث الكهف")));
}

TEST_F(SnapshotSelfTestTest, jobsThatWriteUserDataRefuseWithoutAUserDatabaseOfTheirOwn)
{
    test::SnapshotProcess process;
    const QString defaultUserDb = QDir(process.work()).filePath(QStringLiteral("data/QuorvelLibrary/user.db"));

    const test::SnapshotRun selfTest = process.run({{QStringLiteral("SNAP_SELFTEST"), QString()}}, false);
    ASSERT_TRUE(selfTest.finished);
    EXPECT_EQ(selfTest.status, 2);
    EXPECT_TRUE(selfTest.linesStartingWith(QStringLiteral("copy:")).isEmpty());
    EXPECT_TRUE(selfTest.errors.contains(QStringLiteral("QUORVEL_USERDB"))) << selfTest.errors.toStdString();
    EXPECT_FALSE(QFileInfo::exists(defaultUserDb));
    EXPECT_FALSE(QFileInfo::exists(selfTest.dir));

    // A user database already at the default place, and the variable set
    // but empty: refused, the file untouched.
    {
        test::ScopedEnv env("QUORVEL_USERDB", defaultUserDb);
        QDir().mkpath(QFileInfo(defaultUserDb).path());
        const std::shared_ptr<Library> lib = Library::open(test::sampleLibraryPath());
        ASSERT_TRUE(lib);
        lib->setIgnoredBooks({lib->books().first().id});
    }
    const QByteArray before = digest(defaultUserDb);
    ASSERT_FALSE(before.isEmpty());
    const test::SnapshotRun features = process.run(
        {{QStringLiteral("SNAP_FEATURES"), QString()}, {QStringLiteral("QUORVEL_USERDB"), QString()}}, false);
    ASSERT_TRUE(features.finished);
    EXPECT_EQ(features.status, 2);
    EXPECT_TRUE(features.linesStartingWith(QStringLiteral("claude linked before:")).isEmpty());
    EXPECT_TRUE(features.errors.contains(QStringLiteral("SNAP_FEATURES"))) << features.errors.toStdString();
    EXPECT_EQ(digest(defaultUserDb), before);

    // An earlier job that leaves user data alone still runs without one.
    const test::SnapshotRun routed = process.run(
        {{QStringLiteral("SNAP_ROUTE"), QStringLiteral("ما حكم الصلاة")}, {QStringLiteral("SNAP_SELFTEST"), QString()}},
        false);
    EXPECT_EQ(routed.status, 0) << routed.errors.toStdString();
    EXPECT_TRUE(routed.linesStartingWith(QStringLiteral("copy:")).isEmpty());
    EXPECT_EQ(routed.linesStartingWith(QStringLiteral("ما حكم الصلاة")).size(), 1);
}

} // namespace
