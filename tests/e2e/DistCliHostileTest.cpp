// The built executable as the distribution tool, fed what a broken mirror, a
// mistyped environment or an attacker would give it: odd files in place of
// packages, an empty or undecodable store path, and installs killed midway.

#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "distribution/RawDeflate.h"
#include "distribution/ReleaseWriter.h"
#include "support/LoopbackHttpServer.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

// Long enough for a loaded machine, short enough that a hang fails the test.
constexpr int kTimeoutMs = 120000;
// Address space the tool may use when a file tries to make it read too much:
// ample for its work, far below what reading a hostile file whole would take.
constexpr rlim_t kAddressSpaceLimit = rlim_t(2) << 30;
// The smallest book of the sample release: «ديوان الإمام الشافعي».
constexpr int kSmallBook = 14;
// Another book of a few pages.
constexpr int kOtherSmallBook = 16;

const QString sample = QStringLiteral(QUORVEL_SAMPLE_RELEASE);

struct ToolRun {
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

QProcessEnvironment toolEnvironment(const QString& libdb, const QString& tmp = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), libdb);
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), QFileInfo(libdb).path() + QStringLiteral("/smart"));
    env.remove(QStringLiteral("QUORVEL_DB"));
    if (!tmp.isEmpty())
        env.insert(QStringLiteral("TMPDIR"), tmp);
    return env;
}

void finish(QProcess& process, ToolRun& run)
{
    run.finished = process.waitForFinished(kTimeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
}

ToolRun runTool(const QStringList& arguments, const QProcessEnvironment& env, bool limitMemory = false)
{
    QProcess process;
    process.setProcessEnvironment(env);
    if (limitMemory)
        process.setChildProcessModifier([] {
            const rlimit limit{kAddressSpaceLimit, kAddressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        });
    process.start(QStringLiteral(QUORVEL_BINARY), arguments);
    EXPECT_TRUE(process.waitForStarted());
    process.closeWriteChannel();
    ToolRun run;
    finish(process, run);
    return run;
}

// A copy of the sample release that a test may tamper with.
QString copySample(const QTemporaryDir& dir)
{
    const QString copy = dir.filePath(QStringLiteral("release"));
    EXPECT_TRUE(quorvel::test::SampleStore::copyFiles(sample, copy));
    return copy;
}

QString packageOf(const QString& release, int bookId)
{
    return QDir(release).filePath(QStringLiteral("b%1.qbk").arg(bookId));
}

// The package files in a temporary folder, space-separated.
std::string leftoverPackages(const QString& tmp)
{
    return QDir(tmp).entryList({QStringLiteral("qbook-*.sqlite")}, QDir::Files).join(u' ').toStdString();
}

// A release signed with the key the built tool trusts, holding `books`
// (catalogue entries) under `folder`.
void writeSignedRelease(const QString& folder, const quorvel::Json::Value& books)
{
    QFile key(QStringLiteral(QUORVEL_SAMPLE_SIGNING_KEY));
    ASSERT_TRUE(key.open(QIODevice::ReadOnly));
    quorvel::ReleaseWriter::ReleaseInfo info;
    info.generated = QStringLiteral("2025-01-01T00:00:00Z");
    info.expires = QStringLiteral("2099-12-31T23:59:59Z");
    ASSERT_TRUE(quorvel::ReleaseWriter::writeRelease(folder, info, quorvel::Json::Value::array(),
                                                      quorvel::Json::Value::array(), books, key.readAll()));
}

} // namespace

// A signed catalogue cannot lift the memory bound: a page of 80 MB is refused
// before it is read, and a package declared as large as any may be, served
// by a mirror that never stops, goes to disk up to that size and no further.
// Both within an address space far below what holding either would take.
TEST(DistCliHostile, aSignedReleaseCannotLiftTheMemoryBound)
{
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(release) && QDir().mkpath(tmp));
    const QString title = QStringLiteral("صفحة واحدة طويلة");
    const QString plainPath = dir.filePath(QStringLiteral("huge.sqlite"));
    QString root;
    {
        auto db = quorvel::SQLiteDB::open(plainPath, false);
        ASSERT_TRUE(db && db->exec(QStringLiteral(
            "CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER NOT NULL, vol TEXT, page_num INTEGER, content TEXT);"
            "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT NOT NULL, page_seq INTEGER, parent_id INTEGER, level INTEGER);"
            "INSERT INTO page VALUES(901001, 1, '1', 1, printf('%.*c', 80 * 1024 * 1024, 'x'));"
            "PRAGMA application_id=1364350540;")));
        root = quorvel::Dist::root(*db, 901, title);
    }
    QFile plain(plainPath);
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    const QByteArray plainBytes = plain.readAll();
    const QByteArray packed = quorvel::RawDeflate::compress(plainBytes);
    QFile packageFile(QDir(release).filePath(QStringLiteral("b901.qbk")));
    ASSERT_TRUE(packageFile.open(QIODevice::WriteOnly) && packageFile.write(packed) == packed.size());
    packageFile.close();
    const std::int64_t largest = quorvel::Dist::declaredFileLimit;
    const quorvel::Json::Value books = quorvel::Json::Value::array({
        {{"id", 901}, {"title", quorvel::Json::utf8(title)}, {"pages", 1}, {"vols", {"1"}},
         {"root", quorvel::Json::utf8(root)}, {"file", "b901.qbk"}, {"size", packed.size()},
         {"usize", plainBytes.size()}, {"sha256", quorvel::Json::utf8(quorvel::Dist::sha256(packed))}},
        {{"id", 902}, {"title", "بلا نهاية"}, {"pages", 1}, {"vols", {"1"}}, {"root", std::string(64, '0')},
         {"file", "b902.qbk"}, {"size", largest}, {"usize", largest}, {"sha256", std::string(64, '0')}},
    });
    writeSignedRelease(release, books);
    quorvel::test::LoopbackHttpServer mirror(release);
    ASSERT_TRUE(mirror.isListening());
    mirror.stream(QStringLiteral("/b902.qbk"), QByteArray(64 * 1024, 'x'));
    const QString libdb = dir.filePath(QStringLiteral("library.db"));

    const struct {
        const char* id;
        QString line;
    } cases[] = {
        {"901", QStringLiteral("فشل في «صفحة واحدة طويلة» بعد تثبيت 0 من 1: في «صفحة واحدة طويلة» نصّ أكبر من الحد المقبول لنصّ واحد.")},
        {"902", QStringLiteral("فشل في «بلا نهاية» بعد تثبيت 0 من 1: بصمة حزمة «بلا نهاية» لا تطابق الفهرس.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const ToolRun run = runTool({QStringLiteral("--dist-install"), mirror.url().toString(), QLatin1String(c.id)},
                                    toolEnvironment(libdb, tmp), /*limitMemory=*/true);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.out, QStringList{c.line}) << run.out.join(u'\n').toStdString();
        EXPECT_TRUE(QDir(tmp).isEmpty());
    }
}

// Another program holding the store's write lock: the page index that could
// not be built and the install that could not begin both say why, with no
// raw SQL line among them.
TEST(DistCliHostile, aStoreAnotherProgramIsWritingIsSaidSo)
{
    QTemporaryDir dir;
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const QStringList install{QStringLiteral("--dist-install"), sample, QString::number(kSmallBook)};
    ASSERT_EQ(runTool(install, toolEnvironment(libdb)).exitCode, 0);
    auto other = quorvel::SQLiteDB::open(libdb, false);
    ASSERT_TRUE(other && other->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'")));
    ASSERT_TRUE(other->exec(QStringLiteral("BEGIN IMMEDIATE")));
    const ToolRun held = runTool(install, toolEnvironment(libdb));
    other->exec(QStringLiteral("ROLLBACK"));
    const QString busy = QStringLiteral("برنامج آخر يكتب في المكتبة المحلية");
    const QString err = held.err.join(u'\n');
    const QString out = held.out.join(u'\n');
    EXPECT_EQ(held.exitCode, 1);
    EXPECT_TRUE(err.contains(QStringLiteral("فهرس صفحات البحث غير مكتمل")) && err.contains(busy)) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("تعذّر التثبيت: ") + busy)) << out.toStdString();
    EXPECT_FALSE((err + out).contains(QStringLiteral("SQL error"))) << (err + out).toStdString();

    // With no book to install, the writes that close the run still meet the
    // lock: the run fails rather than report nothing installed.
    ASSERT_TRUE(other->exec(QStringLiteral("BEGIN IMMEDIATE")));
    const ToolRun none = runTool({QStringLiteral("--dist-install"), sample, QStringLiteral("999999")},
                                 toolEnvironment(libdb));
    other->exec(QStringLiteral("ROLLBACK"));
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, QStringList{QStringLiteral("فشل: تعذّر التثبيت: ") + busy + QStringLiteral(" الآن")});
}

// A store path that cannot hold the store says why before anything is
// written: a missing folder, a folder, a pipe or a device in the file's
// place (never replaced), a file the process may not write. No raw SQL line.
TEST(DistCliHostile, storeTargetsThatCannotBeWrittenAreSaidSo)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("pipe.db"));
    const QString device = dir.filePath(QStringLiteral("null.db"));
    const QString readOnly = dir.filePath(QStringLiteral("readonly.db"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("folder.db"))));
    const QString unavailable = QStringLiteral("فشل: تعذّر فتح المكتبة المحلية: ");
    struct Case {
        QString path;
        QString line;
    };
    QList<Case> cases{
        {dir.filePath(QStringLiteral("missing/library.db")), unavailable + QStringLiteral("مجلدها غير موجود")},
        {dir.filePath(QStringLiteral("folder.db")), unavailable + QStringLiteral("مجلد وليس ملفاً")},
        {pipe, unavailable + QStringLiteral("مكانها ليس ملفاً عادياً")},
    };
    // Only the superuser makes devices, and only others are kept from writing.
    if (::geteuid() == 0 && ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        cases.append({device, unavailable + QStringLiteral("مكانها ليس ملفاً عادياً")});
    if (::geteuid() != 0) {
        QFile file(readOnly);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner));
        cases.append({readOnly, QStringLiteral("فشل: تعذّر التثبيت: ملف المكتبة المحلية للقراءة فقط")});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QFileInfo before(c.path);
        const ToolRun run = runTool({QStringLiteral("--dist-install"), sample, QString::number(kSmallBook)},
                                    toolEnvironment(c.path));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, QStringList{c.line});
        EXPECT_FALSE(run.err.join(u'\n').contains(QStringLiteral("SQL error"))) << run.err.join(u'\n').toStdString();
        const QFileInfo after(c.path);
        EXPECT_EQ(after.exists(), before.exists());
        EXPECT_EQ(after.isFile(), before.isFile());
    }
}

// Under a file-size limit the writes fail with their reason; the process is
// not ended by the limit's signal, and leaves no store behind.
TEST(DistCliHostile, aFileSizeLimitFailsTheInstallInWords)
{
    QTemporaryDir dir;
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    // Small enough for the store's schema, the unpacked package or the book's
    // rows to meet it.
    for (const rlim_t limit : {rlim_t(64) << 10, rlim_t(400) << 10, rlim_t(3) << 20}) {
        SCOPED_TRACE(limit);
        QProcess process;
        process.setProcessEnvironment(toolEnvironment(libdb, tmp));
        process.setChildProcessModifier([limit] {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
        process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--dist-install"), sample, QStringLiteral("1")});
        ASSERT_TRUE(process.waitForStarted());
        ToolRun run;
        finish(process, run);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.out.size(), 1);
        EXPECT_TRUE(run.out.first().startsWith(QStringLiteral("فشل")) && run.out.first().endsWith(QStringLiteral(": الملف أكبر مما يسمح به النظام")))
            << run.out.first().toStdString();
        EXPECT_FALSE(run.err.join(u'\n').contains(QStringLiteral("SQL error"))) << run.err.join(u'\n').toStdString();
        EXPECT_FALSE(QFile::exists(libdb));
    }
}

// Only the declared size plus one byte is read, and only from a regular file:
// a huge file, an endless device and a pipe with no writer are all refused
// promptly, within a small address space, and the store stays empty.
TEST(DistCliHostile, packageReadsAreBoundedAndRegularFilesOnly)
{
    QTemporaryDir dir;
    const QString release = copySample(dir);
    const QString package = packageOf(release, kSmallBook);
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const QStringList install{QStringLiteral("--dist-install"), release, QString::number(kSmallBook)};

    struct Case {
        const char* name;
        std::function<bool()> plant;
        QString expected;
    };
    const QString title = QStringLiteral("«ديوان الإمام الشافعي»");
    const QList<Case> cases{
        {"3 GiB file",
         [&] { return QFile::remove(package) && QFile(package).open(QIODevice::WriteOnly) && ::truncate(QFile::encodeName(package).constData(), off_t(3) << 30) == 0; },
         QStringLiteral("بصمة حزمة ") + title + QStringLiteral(" لا تطابق الفهرس.")},
        {"link to /dev/zero",
         [&] { return QFile::remove(package) && QFile::link(QStringLiteral("/dev/zero"), package); },
         QStringLiteral("تعذّر جلب b14.qbk: ليس ملفاً عادياً.")},
        {"named pipe",
         [&] { return QFile::remove(package) && ::mkfifo(QFile::encodeName(package).constData(), 0600) == 0; },
         QStringLiteral("تعذّر جلب b14.qbk: ليس ملفاً عادياً.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.plant());
        const ToolRun run = runTool(install, toolEnvironment(libdb), /*limitMemory=*/true);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, QStringList{QStringLiteral("فشل في ") + title + QStringLiteral(" بعد تثبيت 0 من 1: ")
                                       + c.expected});
        // The store was made by this run and holds nothing: it is gone again.
        EXPECT_FALSE(QFile::exists(libdb));
    }
}

// A store path that is empty would be a private temporary database, and one
// that is not UTF-8 would name another file: both are refused before anything
// is written, as is leaving behind a new store when the release is refused.
TEST(DistCliHostile, storePathsThatCannotHoldTheLibraryAreRefused)
{
    QTemporaryDir dir;
    const ToolRun empty = runTool({QStringLiteral("--dist-install"), sample}, toolEnvironment(QString()));
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.out, QStringList{QStringLiteral(
                             "فشل: متغيّر البيئة QUORVEL_LIBDB فارغ: عيّنه مسار ملف المكتبة المحلية أو احذفه.")});

    // The environment takes raw bytes only through a shell.
    QProcess shell;
    QProcessEnvironment env = toolEnvironment(QString());
    env.insert(QStringLiteral("FOLDER"), dir.path());
    env.insert(QStringLiteral("TOOL"), QStringLiteral(QUORVEL_BINARY));
    env.insert(QStringLiteral("SAMPLE"), sample);
    shell.setProcessEnvironment(env);
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("QUORVEL_LIBDB=\"$FOLDER/lib$(printf '\\377')rary.db\" exec \"$TOOL\" --dist-install \"$SAMPLE\"")});
    ToolRun latin;
    finish(shell, latin);
    EXPECT_EQ(latin.exitCode, 1);
    EXPECT_EQ(latin.out, QStringList{QStringLiteral("فشل: متغيّر البيئة QUORVEL_LIBDB ليس نصاً صالحاً بترميز UTF-8.")});
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

    // A release refused before any book leaves no store behind.
    const QString release = copySample(dir);
    QFile sig(QDir(release).filePath(QStringLiteral("index.json.sig")));
    ASSERT_TRUE(sig.open(QIODevice::WriteOnly));
    sig.write("AAAA\n");
    sig.close();
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const ToolRun refused = runTool({QStringLiteral("--dist-install"), release}, toolEnvironment(libdb));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, QStringList{QStringLiteral("فشل: توقيع فهرس الإصدار غير صحيح: رُفض المصدر.")});
    EXPECT_FALSE(QFile::exists(libdb));
}

// An install killed while it holds its unpacked package leaves the file in the
// temporary folder; the next run removes it, but not the package another
// install is still working on.
TEST(DistCliHostile, theNextRunRemovesPackagesThatKilledInstallsLeft)
{
    QTemporaryDir dir;
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const QStringList install{QStringLiteral("--dist-install"), sample, QString::number(kSmallBook)};
    ASSERT_EQ(runTool(install, toolEnvironment(libdb, tmp)).exitCode, 0);

    {
        // Holding the store's write lock keeps the install waiting with its
        // package unpacked, so the kill lands at that point every time.
        auto writer = quorvel::SQLiteDB::open(libdb, false);
        ASSERT_TRUE(writer && writer->exec(QStringLiteral("BEGIN IMMEDIATE")));
        QProcess killed;
        killed.setProcessEnvironment(toolEnvironment(libdb, tmp));
        killed.start(QStringLiteral(QUORVEL_BINARY), install);
        ASSERT_TRUE(killed.waitForStarted());
        std::string left;
        for (int i = 0; i < kTimeoutMs / 5 && left.empty() && killed.state() == QProcess::Running; ++i) {
            QThread::msleep(5);
            left = leftoverPackages(tmp);
        }
        killed.kill();
        killed.waitForFinished();
        ASSERT_FALSE(left.empty()) << "the install never unpacked its package";
        ASSERT_EQ(leftoverPackages(tmp), left);
        writer->exec(QStringLiteral("ROLLBACK"));
    }

    // A package that a running install holds is locked; it must survive.
    const QString live = QDir(tmp).filePath(QStringLiteral("qbook-1-00000000-0000-0000-0000-000000000000.sqlite"));
    const int fd = ::open(QFile::encodeName(live).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    const ToolRun next = runTool(install, toolEnvironment(libdb, tmp));
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(leftoverPackages(tmp), QFileInfo(live).fileName().toStdString());
    ::close(fd);
}

// The start script installs the sample until the release is complete: a
// store that lacks some of its books, as an install cut short leaves it, is
// completed, not taken as done, and a complete library is left alone.
TEST(DistCliHostile, theStartScriptCompletesAnInterruptedSampleInstall)
{
    // The installed sample less two small books.
    QTemporaryDir dir;
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    ASSERT_TRUE(quorvel::test::SampleStore::copy(
        quorvel::test::SampleStore::shared(sample, quorvel::test::SampleStore::whole()), libdb,
        dir.filePath(QStringLiteral("smart"))));
    {
        const auto store = quorvel::LocalStore::open(libdb);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->remove(kSmallBook));
        ASSERT_TRUE(store->remove(kOtherSmallBook));
    }
    const QString script = QDir(QStringLiteral(QUORVEL_TEST_DATA)).filePath(QStringLiteral("../../scripts/install-sample"));
    auto runScript = [&] {
        QProcess process;
        process.setProcessEnvironment(toolEnvironment(libdb));
        process.start(QStringLiteral("bash"), {script, QStringLiteral(QUORVEL_BINARY), sample});
        ToolRun run;
        finish(process, run);
        return run;
    };
    auto installed = [&] {
        auto db = quorvel::SQLiteDB::open(libdb, true);
        return db ? db->rows(QStringLiteral("SELECT book_id, ts FROM installed ORDER BY book_id")).size() : -1;
    };
    EXPECT_EQ(installed(), 17);
    const ToolRun completed = runScript();
    EXPECT_EQ(completed.exitCode, 0);
    ASSERT_EQ(completed.out.size(), 2);
    EXPECT_TRUE(completed.out.first().startsWith(QStringLiteral("ثُبّت كتابان"))) << completed.out.first().toStdString();
    // The sample's word model comes with it: the whole store gets its vectors.
    EXPECT_TRUE(completed.out[1].startsWith(QStringLiteral("متّجهات البحث بالمعنى: "))) << completed.out[1].toStdString();
    EXPECT_EQ(installed(), 19);

    const ToolRun again = runScript();
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.out.isEmpty());
}
#endif
