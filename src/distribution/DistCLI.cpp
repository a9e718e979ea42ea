#include "distribution/DistCLI.h"

#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "scholar/SmartBuild.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace quorvel::DistCLI {

namespace {

const QString switchGenKey = QStringLiteral("--gen-signing-key");
const QString switchSign = QStringLiteral("--sign-index");
const QString switchVerify = QStringLiteral("--verify-index");
const QString switchInstall = QStringLiteral("--dist-install");
const QString switchVectors = QStringLiteral("--build-vectors");

// Releases are built and signed by the project's release builder (tools/).
const QString msgSigningNotice = QStringLiteral(
    "التوقيع ليس في نسخة التوزيع. على جهاز التحرير: quorvel-mkrelease --source <مجلد الكتب> --out <مجلد الإصدار> "
    "--key <ملف المفتاح السري>");
const QString msgBadSource = QStringLiteral("عنوان المصدر غير صالح: ");
const QString msgIndexingPages = QStringLiteral("فهرسة صفحات البحث: ");
// The one FTS5 phrase both databases are searched for in the comparison.
const QString comparePhrase = QStringLiteral("\"الصلاه\"");


// Exit statuses.
constexpr int kExitOK = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

QString seconds(const QElapsedTimer& timer)
{
    return QString::asprintf("%.1f", static_cast<double>(timer.elapsed()) / 1000.0) + u's';
}

// The argument right after the first occurrence of a switch.
std::optional<QString> operandOf(const QStringList& args, const QString& flag)
{
    const qsizetype at = args.indexOf(flag);
    if (at < 0 || at + 1 >= args.size())
        return std::nullopt;
    return args[at + 1];
}

// Runs work on a thread of its own while the caller blocks, and returns the
// status it leaves. The work signals exactly once, on every path.
int runBlocking(const std::function<int()>& work)
{
    // Network access needs an application object; a bare call gets a private one.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "quorvel";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    QSemaphore done(0);
    auto status = std::make_shared<int>(kExitOK);
    std::unique_ptr<QThread> thread(QThread::create([&done, status, &work] {
        *status = work();
        done.release();
    }));
    thread->start();
    done.acquire();
    thread->wait();
    return *status;
}

// "8 كتب", "18 كتابا": the count with its noun, its number in the Latin
// digits the rest of the line uses.
QString bookCount(qsizetype n)
{
    return CountedNoun::books().count(n, CountedNoun::Case::nominative, QString::number(n));
}

// "11607 صفحات", "صفحتان", in the same digits.
QString pageCount(std::int64_t n)
{
    return CountedNoun::pages().count(n, CountedNoun::Case::nominative, QString::number(n));
}

int verify(const QString& sourceText, const Output& output)
{
    return runBlocking([&]() -> int {
        try {
            const auto base = Dist::baseFromText(sourceText);
            if (!base)
                throw Dist::DistError(msgBadSource + sourceText);
            const auto [index, catalog] = Dist::loadCatalog(*base, 0);
            output.out(QStringLiteral("صحيح: الإصدار ") + QString::number(index.release) + QStringLiteral(" · ")
                       + bookCount(catalog.books.size()) + QStringLiteral(" · موقَّع ومطابق"));
            return kExitOK;
        } catch (const std::exception& e) {
            output.out(QStringLiteral("مرفوض: ") + Dist::describe(e));
            return kExitFailed;
        }
    });
}

// The developer comparison with the editing machine's database; false on a
// difference. Skipped (true) where that database does not exist.
bool compareWithDeveloperDatabase(SQLiteDB& local, const QList<std::int64_t>& bookIds, const Output& output)
{
    auto dev = SQLiteDB::open(Library::readOnlyUri(Paths::developerDatabasePath(QDir::homePath())), true);
    if (!dev || !dev->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
        return true;

    const auto localPages = local.rows(QStringLiteral("SELECT id, content, content_norm FROM pages"));
    std::int64_t differences = 0;
    for (const auto& row : localPages) {
        const auto id = row.integer(0);
        const auto theirs = dev->rows(QStringLiteral("SELECT content, content_norm FROM pages WHERE id=?"), {id});
        const std::optional<QString> content = theirs.isEmpty() ? std::nullopt : theirs.first().str(0);
        const std::optional<QString> norm = theirs.isEmpty() ? std::nullopt : theirs.first().str(1);
        if (content != row.str(1) || norm != row.str(2)) {
            if (differences < 3)
                output.out(QStringLiteral("اختلاف في الصفحة ") + QString::number(id.value_or(0)));
            ++differences;
        }
    }
    output.out(QStringLiteral("المطابقة: ") + pageCount(localPages.size()) + QStringLiteral("، مختلفة ")
               + QString::number(differences));

    QStringList ids;
    for (std::int64_t id : bookIds)
        ids.append(QString::number(id));
    const std::int64_t localCount =
        local.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"), {comparePhrase})
            .value_or(-1);
    // The ids are integers formatted here, not user text.
    const std::int64_t devCount =
        dev->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ? AND book_id IN (")
                           + ids.join(u',') + u')',
                       {comparePhrase})
            .value_or(-2);
    output.out(QStringLiteral("بحث «الصلاة»: المحلية ") + QString::number(localCount) + QStringLiteral(" · التحرير ")
               + QString::number(devCount));
    return differences == 0 && localCount == devCount;
}

// A book that failed in a run: which one, and how far the run had come.
struct BookFailure {
    QString title;
    qsizetype installedBefore;
    qsizetype selected;
    QString reason;
};

// Removes a store file this run created when nothing ended up in it, so a
// failed first install leaves no empty library behind.
void removeNewEmptyStore(std::unique_ptr<LocalStore>& store, const QString& path)
{
    // A store whose schema could not be made holds nothing either.
    if (!store || (!store->schemaFailure() && store->bookCount() != 0))
        return;
    store.reset();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

// One run of "--dist-install": the store it writes, whether that store was
// there before, and the books it has installed so far.
class InstallRun {
public:
    explicit InstallRun(const Output& output) : output_(output) {}

    // Installs the selected books of the release at `sourceText` and prints
    // the report; the exit status.
    int run(const QString& sourceText, const std::optional<QString>& idList)
    {
        try {
            const auto base = Dist::baseFromText(sourceText);
            if (!base)
                throw Dist::DistError(msgBadSource + sourceText);
            openStore();
            catchUp();
            const auto [index, catalog] = Dist::loadCatalog(*base, installedRelease());
            const QList<Dist::CatBook> selected = select(catalog, idList);
            QElapsedTimer timer;
            timer.start();
            installAll(selected, catalog, index.release, *base);
            report(selected.size(), timer);
            if (catalog.smart)
                buildVectors(*catalog.smart, *base);
        } catch (const BookFailure& failure) {
            return failed(QStringLiteral("فشل في «") + failure.title + QStringLiteral("» بعد تثبيت ")
                          + QString::number(failure.installedBefore) + QStringLiteral(" من ")
                          + QString::number(failure.selected) + QStringLiteral(": ") + failure.reason);
        } catch (const std::exception& e) {
            return failed(QStringLiteral("فشل: ") + Dist::describe(e));
        }
        return compareWithDeveloperDatabase(store_->db(), installedIds_, output_) ? kExitOK : kExitFailed;
    }

private:
    // Opens the store for installing, or throws why it cannot take a book.
    void openStore()
    {
        if (const QString problem = Paths::localStorePathProblem(); !problem.isEmpty())
            throw Dist::DistError(problem);
        if (const QString problem = LocalStore::targetProblem(storePath_); !problem.isEmpty())
            throw Dist::DistError(problem);
        LocalStore::removeLeftoverPackages();
        storeExisted_ = QFileInfo::exists(storePath_);
        store_ = LocalStore::open();
        if (!store_)
            throw Dist::DistError(LocalStore::msgUnavailable);
        if (store_->schemaFailure())
            throw Dist::DistError(LocalStore::installFailure(store_->schemaFailure()));
        // Nothing can be installed: said before any statement fails on it.
        if (store_->db().isReadOnly())
            throw Dist::DistError(LocalStore::installFailure(SQLFailure{SQLFailure::Kind::readOnly, {}}));
    }

    // Brings a store made by an older version up to date before any book goes in.
    void catchUp()
    {
        // A store from before the search's page index gets it once, here;
        // its progress goes to standard error, beside the report, and so
        // does a build that could not finish (the books still install).
        std::optional<SQLFailure> indexFailure;
        if (store_->buildPageIndex(
                [&](std::int64_t done, std::int64_t total) {
                    if (output_.err)
                        output_.err(msgIndexingPages + QString::number(done) + QStringLiteral(" / ")
                                    + QString::number(total));
                    return true;
                },
                &indexFailure)
                == PageIndex::Build::failed
            && output_.err)
            output_.err(LocalStore::pageIndexProblem(indexFailure));
        // Pages stored in an older normal form are written in the current one.
        store_->refreshNormalForm();
        // Narrators read under older chain rules are read again, once,
        // before any book goes in; the reader hears of it beside the report.
        if (const QString notice = LocalStore::narratorsRefreshNotice(store_->refreshNarrators());
            !notice.isEmpty() && output_.err)
            output_.err(notice);
    }

    // Books installed from a release count even where no run recorded it,
    // so that no older release can replace them.
    std::int64_t installedRelease() const
    {
        return std::max(store_->lastRelease(),
                        store_->db().scalarInt(QStringLiteral("SELECT MAX(release) FROM installed")).value_or(0));
    }

    static QList<Dist::CatBook> select(const Dist::Catalog& catalog, const std::optional<QString>& idList)
    {
        QList<Dist::CatBook> selected;
        const std::optional<QSet<std::int64_t>> wanted =
            idList ? std::optional<QSet<std::int64_t>>(parseIds(*idList)) : std::nullopt;
        for (const auto& book : catalog.books)
            if (!wanted || wanted->contains(book.id))
                selected.append(book);
        return selected;
    }

    void installAll(const QList<Dist::CatBook>& selected, const Dist::Catalog& catalog, std::int64_t release,
                    const QUrl& base)
    {
        for (const auto& book : selected) {
            try {
                store_->install(book, catalog, release, base);
            } catch (const std::exception& e) {
                throw BookFailure{book.title, installedIds_.size(), selected.size(), Dist::describe(e)};
            }
            installedIds_.append(book.id);
        }
        // Every selected book is in: the library is at this release now.
        // A store that takes neither write (another program holding it,
        // say) has not taken the run.
        if (!store_->setRelease(release) || !store_->dedupNarrators())
            throw Dist::DistError(LocalStore::installFailure(store_->db().lastFailure()));
        store_->checkpoint();
    }

    void report(qsizetype books, const QElapsedTimer& timer) const
    {
        auto total = [&](const char* table) {
            return QString::number(
                store_->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM ") + QLatin1String(table)).value_or(0));
        };
        output_.out(QStringLiteral("ثُبّت ") + bookCount(books) + QStringLiteral(" في ") + seconds(timer)
                    + QStringLiteral(" · رواة ") + total("narrators") + QStringLiteral(" · حوافّ ")
                    + total("isnad_edges") + QStringLiteral(" · بصمات ") + total("shingles"));
    }

    void buildVectors(const SmartBuild::Pack& smart, const QUrl& base) const
    {
        QElapsedTimer vectorTimer;
        vectorTimer.start();
        SmartBuild::fetchModel(smart, base);
        const std::int64_t pages = SmartBuild::buildVectors(LocalStore::path());
        output_.out(QStringLiteral("متّجهات البحث بالمعنى: ") + pageCount(pages) + QStringLiteral(" في ")
                    + seconds(vectorTimer));
    }

    int failed(const QString& line)
    {
        output_.out(line);
        if (!storeExisted_)
            removeNewEmptyStore(store_, storePath_);
        return kExitFailed;
    }

    const Output& output_;
    const QString storePath_ = LocalStore::path();
    bool storeExisted_ = true;
    std::unique_ptr<LocalStore> store_;
    QList<std::int64_t> installedIds_;
};

int install(const QString& sourceText, const std::optional<QString>& idList, const Output& output)
{
    return runBlocking([&]() -> int { return InstallRun(output).run(sourceText, idList); });
}

int vectors(const Output& output)
{
    QElapsedTimer timer;
    timer.start();
    try {
        const std::int64_t pages = SmartBuild::buildVectors(LocalStore::path());
        output.out(QStringLiteral("متّجهات: ") + pageCount(pages) + QStringLiteral(" في ") + seconds(timer));
        return kExitOK;
    } catch (const std::exception& e) {
        output.err(Dist::describe(e));
        return kExitFailed;
    }
}

void writeLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QSet<std::int64_t> parseIds(const QString& text)
{
    const QList<std::int64_t> ids = Library::parseIds(text);
    return {ids.begin(), ids.end()};
}

int run(const QStringList& args)
{
    return run(args, {[](const QString& line) { writeLine(stdout, line); },
                      [](const QString& line) { writeLine(stderr, line); }});
}

int run(const QStringList& args, const Output& output)
{
    if (args.contains(switchGenKey) || args.contains(switchSign)) {
        output.out(msgSigningNotice);
        return kExitUsage;
    }
    if (auto source = operandOf(args, switchVerify))
        return verify(*source, output);
    if (const qsizetype at = args.indexOf(switchInstall); at >= 0 && at + 1 < args.size()) {
        // Whatever follows the source is the id list, even when it names no book.
        const std::optional<QString> ids = at + 2 < args.size() ? std::optional<QString>(args[at + 2]) : std::nullopt;
        return install(args[at + 1], ids, output);
    }
    if (args.contains(switchVectors))
        return vectors(output);
    return kExitUsage;
}

} // namespace quorvel::DistCLI
