// Importing an exchange file whose notes all fall on one page, beside parsing
// the same file in the same run. When the merge's time grows with the number
// of notes, the ratio of the two stays flat as the file grows; a scan of the
// page's text per note makes it grow with the notes.
//
// Target: the ratio at 40,000 notes within twice the ratio at 5,000.
//
// Then two-letter notes on one page, 4,000 to 64,000, new ones and ones the
// page holds already: the time per note, whose largest stays within twice
// its smallest when the merge is linear.
//
// Then notes on one page whose note already holds each of them as a piece
// of its one line, at 1,000 to 16,000 notes: the import beside a parse of
// the same file, whose ratio stays flat when each note is answered without
// a scan of the page.
//
// Then a file of 300,000 short notes on 300,000 pages (about 15 MB): the
// import's peak memory (the rise of the resident set over what the process
// held before) and time, beside, on the same file in the same run, a bare
// read of its bytes, a read and parse of it as one document (the tree the
// import no longer builds, about ten times the file) and bare SQL writes of
// its notes in one transaction.
// Target: the import's peak within three times the file's size (the file
// itself is one of them). The same peak for 100,000 notes on one page, and
// for a file of eleven million empty bookmark entries, and for a file of one
// note of 100 MB read from its file as the window reads it.
//
// Last, a sparse file of 4 GiB, of zeros and of zeros after an exchange
// file's first bytes: the bytes read before it is refused (target: under
// 64 MB) and the time.
//
//   bench_notesimport [the same benchmark of another build, run beside on the
//                      same files as the baseline]

#include "../common/PeakMemory.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/NotesFileReader.h"
#include "distribution/LocalStore.h"
#include "helpers/TwoLetterNotes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>
#include <vector>
#include <optional>
#include <cstdio>
#include <string_view>

using namespace quorvel;

namespace {

constexpr int parseRounds = 3;
constexpr double flatTarget = 2.0;

QByteArray exchangeFile(int notes)
{
    Json::Value list = Json::Value::array();
    for (int i = 0; i < notes; ++i)
        list.push_back({{"book_id", 1},
                        {"seq", 5},
                        {"text", Json::utf8(QStringLiteral(u"تعليق رقم %1 على هذه الصفحة من كتاب الطهارة في باب المياه")
                                                .arg(i))}});
    return Json::dumpBytes(
        {{"format", "quorvel-notes"}, {"version", 1}, {"notes", std::move(list)}, {"bookmarks", Json::Value::array()}});
}

double msSince(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

struct Timed {
    double ms = 0;
    std::optional<Library::ImportCounts> counts;
};

// Imports `bytes` into the store through a user database of its own (named
// `userDb` in `dir`), so that every row starts from an empty page.
std::optional<Timed> timeImport(const QString& store, const QTemporaryDir& dir, const QString& userDb,
                                const QByteArray& bytes)
{
    qputenv("QUORVEL_USERDB", dir.filePath(userDb).toUtf8());
    const std::shared_ptr<Library> lib = Library::open(store);
    if (!lib)
        return std::nullopt;
    QElapsedTimer t;
    t.start();
    Timed out;
    out.counts = lib->importUserNotes(bytes);
    out.ms = msSince(t);
    return out;
}

// Two-letter notes on one page; with `held`, after a note of the page that
// holds each of them already, once inside its one line.
QByteArray pairsFile(int notes, bool held)
{
    const QStringList pairs = test::twoLetterNotes(notes);
    Json::Value list = Json::Value::array();
    if (held)
        list.push_back({{"book_id", 1}, {"seq", 7}, {"text", Json::utf8(pairs.join(u' '))}});
    for (const QString& pair : pairs)
        list.push_back({{"book_id", 1}, {"seq", 7}, {"text", Json::utf8(pair)}});
    return Json::dumpBytes(
        {{"format", "quorvel-notes"}, {"version", 1}, {"notes", std::move(list)}, {"bookmarks", Json::Value::array()}});
}

// One note of about `bytes` bytes of Arabic text, written as the bytes
// themselves.
QByteArray oneNoteFile(qsizetype bytes)
{
    const QByteArray words = QStringLiteral(u"قال أبو عبد الله في باب المياه والطهارة ").toUtf8();
    QByteArray out = R"({"format":"quorvel-notes","version":1,"notes":[{"book_id":1,"seq":3,"text":")";
    out.reserve(bytes + 128);
    while (out.size() < bytes)
        out += words;
    out += R"("}],"bookmarks":[]})";
    return out;
}

// The file at `path`, asked of by the bytes read.
struct CountedFile final : NotesFileReader::Source {
    explicit CountedFile(QFile& file) : inner(file.handle(), file.size()) {}
    NotesFileReader::FileSource inner;
    qint64 bytes = 0;
    bool rewind() override { return inner.rewind(); }
    qint64 read(char* into, qint64 max) override
    {
        const qint64 n = inner.read(into, max);
        bytes += std::max<qint64>(n, 0);
        return n;
    }
    qint64 size() const override { return inner.size(); }
};

// Notes on one page whose note, one line, already holds each of them.
QByteArray heldFile(int notes)
{
    QStringList held;
    Json::Value list = Json::Value::array();
    for (int i = 0; i < notes; ++i) {
        const QString note = QStringLiteral(u"ملاحظة رقم %1 على الباب").arg(i);
        held << note;
        list.push_back({{"book_id", 1}, {"seq", 9}, {"text", Json::utf8(note)}});
    }
    list.insert(list.begin(), {{"book_id", 1}, {"seq", 9}, {"text", Json::utf8(held.join(QStringLiteral(u" ، ")))}});
    return Json::dumpBytes(
        {{"format", "quorvel-notes"}, {"version", 1}, {"notes", std::move(list)}, {"bookmarks", Json::Value::array()}});
}

// Eleven million bookmark entries with no member, written as the bytes
// themselves (a tree of them would be the larger part of the run).
QByteArray emptyMarksFile()
{
    constexpr qsizetype entries = 11'000'000;
    QByteArray out = R"({"format":"quorvel-notes","version":1,"notes":[],"bookmarks":[)";
    out.reserve(out.size() + entries * 3 + 2);
    for (qsizetype i = 0; i < entries; ++i)
        out += i == 0 ? "{}" : ",{}";
    out += "]}";
    return out;
}

// One short note on each of `pages` pages.
QByteArray manyPagesFile(int pages)
{
    Json::Value list = Json::Value::array();
    for (int i = 0; i < pages; ++i)
        list.push_back({{"book_id", 1 + i / 1000}, {"seq", 1 + i % 1000},
                        {"text", Json::utf8(QStringLiteral(u"فائدة %1").arg(i))}});
    return Json::dumpBytes(
        {{"format", "quorvel-notes"}, {"version", 1}, {"notes", std::move(list)}, {"bookmarks", Json::Value::array()}});
}

constexpr int manyPages = 300'000;
const QHash<QString, QString> stepNames = {
    {QStringLiteral("bytes"), QStringLiteral("bare read of the file")},
    {QStringLiteral("read"), QStringLiteral("read and parse as one document")},
    {QStringLiteral("writes"), QStringLiteral("bare SQL writes in one transaction")},
    {QStringLiteral("import"), QStringLiteral("import (read, parse, merge, write)")},
};

// One step on the large file, in a process of its own: prints its time in
// milliseconds and the rise of the resident set at its peak in KB.
int oneStep(const QString& step, const QString& path, const QString& store, const QString& userDb)
{
    qputenv("QUORVEL_USERDB", userDb.toUtf8());
    const bool bare = step == u"read" || step == u"bytes";
    const std::shared_ptr<Library> lib = bare ? nullptr : Library::open(store);
    if (!bare && !lib)
        return 1;
    const auto readFile = [&] {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    bool ok = true;
    const bench::Peak m = bench::measurePeak([&] {
        if (step == u"bytes") {
            ok = !readFile().isEmpty();
        } else if (step == u"read") {
            ok = Json::parse(readFile()).has_value();
        } else if (step == u"writes") {
            Transaction transaction(lib->user());
            for (int i = 0; i < manyPages; ++i)
                ok = lib->user().run(QStringLiteral("INSERT INTO notes(book_id, seq, text, ts) VALUES(?,?,?,0)"),
                                     {1 + i / 1000, 1 + i % 1000, QStringLiteral(u"فائدة %1").arg(i)}) && ok;
            ok = transaction.commit() && ok;
        } else if (step == u"import") {
            const auto counts = lib->importUserNotes(readFile());
            ok = counts && counts->notes + counts->aside == manyPages;
        } else if (step == u"stream") {
            // As the window imports: from the file, a piece at a time.
            QFile in(path);
            ok = in.open(QIODevice::ReadOnly);
            NotesFileReader::FileSource source(in.handle(), in.size());
            ok = ok && lib->importUserNotes(source, {}).has_value();
        } else {
            ok = lib->importUserNotes(readFile()).has_value();
        }
    });
    std::printf("%.0f %lld\n", m.ms(), m.riseKB);
    return ok ? 0 : 1;
}

// One step in a process of its own, by this benchmark or by the baseline's
// (another build of it, whose own check of the counts may fail on a shape
// it was not written for: its figures are read all the same).
struct StepFigures {
    double ms = 0;
    double peakMB = 0;
};
std::optional<StepFigures> runStep(const QString& binary, const QString& step, const QString& path, const QString& store,
                                   const QString& userDb)
{
    QFile::remove(userDb);
    QProcess child;
    child.start(binary, {step, path, store, userDb});
    if (!child.waitForFinished(-1))
        return std::nullopt;
    const QList<QByteArray> got = child.readAllStandardOutput().trimmed().split(' ');
    if (got.size() != 2)
        return std::nullopt;
    return StepFigures{got.value(0).toDouble(), got.value(1).toDouble() / 1024};
}

// Notes on one page whose note holds each already, at 1,000 to 16,000
// notes (time beside a parse of the same file), then the peak of 100,000
// notes on one page and of eleven million empty bookmark entries; each
// import in a process of its own, and in the baseline's beside it when one
// is given.
int otherShapes(const QTemporaryDir& dir, const QString& store, const QString& baseline)
{
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<std::pair<QString, QByteArray>> shapes;
    for (const int notes : {1'000, 2'000, 4'000, 8'000, 16'000})
        shapes.emplace_back(QStringLiteral("%1 notes held already").arg(notes), heldFile(notes));
    shapes.emplace_back(QStringLiteral("100,000 notes on one page"), exchangeFile(100'000));
    shapes.emplace_back(QStringLiteral("11,000,000 empty bookmark entries"), emptyMarksFile());
    shapes.emplace_back(QStringLiteral("one note of 100 MB"), oneNoteFile(100 << 20));
    std::printf("\n%-36s %9s %8s %10s %7s %10s %8s", "one page, and empty entries", "file MB", "parse", "import",
                "ratio", "peak MB", "x file");
    if (!baseline.isEmpty())
        std::printf(" %10s %10s %8s", "base imp.", "base peak", "x file");
    std::printf("\n");
    const QString path = dir.filePath(QStringLiteral("shape.json"));
    for (const auto& [name, bytes] : shapes) {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) < 0)
            return 1;
        out.close();
        QElapsedTimer p;
        p.start();
        if (!Json::parse(bytes))
            return 1;
        const double parse = msSince(p);
        const double fileMB = double(bytes.size()) / (1 << 20);
        const auto mine = runStep(self, QStringLiteral("stream"), path, store, dir.filePath(QStringLiteral("shape.db")));
        if (!mine)
            return 1;
        std::printf("%-36s %9.1f %6.0fms %8.0fms %7.2f %10.1f %8.2f", name.toUtf8().constData(), fileMB, parse, mine->ms,
                    mine->ms / parse, mine->peakMB, mine->peakMB / fileMB);
        if (!baseline.isEmpty()) {
            const auto base = runStep(baseline, QStringLiteral("shape"), path, store, dir.filePath(QStringLiteral("base.db")));
            if (base)
                std::printf(" %8.0fms %10.1f %8.2f", base->ms, base->peakMB, base->peakMB / fileMB);
        }
        std::printf("\n");
    }
    std::printf("target: the import's time over the parse's flat from 1,000 to 16,000 held notes (at most %.1f times), "
                "its peak at most 3 times the file\n",
                flatTarget);
    return 0;
}

// A sparse file of 4 GiB, of zeros alone and of zeros after an exchange
// file's first bytes, imported from the file: the bytes read before it is
// refused.
int sparseFiles(const QTemporaryDir& dir, const QString& store)
{
    constexpr qint64 size = qint64(4) << 30;
    constexpr qint64 target = qint64(64) << 20;
    qputenv("QUORVEL_USERDB", dir.filePath(QStringLiteral("sparse.db")).toUtf8());
    const std::shared_ptr<Library> lib = Library::open(store);
    if (!lib)
        return 1;
    std::printf("\n%-44s %10s %12s %9s\n", "a sparse file of 4 GiB", "refused", "read", "time");
    qint64 most = 0;
    for (const QByteArray& head : {QByteArray(), QByteArray(R"({"format":"quorvel-notes","version":1,"notes":[)")}) {
        QFile file(dir.filePath(QStringLiteral("sparse.json")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(head) != head.size() || !file.resize(size))
            return 1;
        file.close();
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        CountedFile source(file);
        QElapsedTimer t;
        t.start();
        const bool refused = !lib->importUserNotes(source, {});
        std::printf("%-44s %10s %9.2f MB %7.1fms\n", head.isEmpty() ? "zeros" : "zeros after an exchange file's first bytes",
                    refused ? "yes" : "NO", double(source.bytes) / (1 << 20), msSince(t));
        most = std::max(most, source.bytes);
        QFile::remove(file.fileName());
    }
    std::printf("most read before the refusal: %.2f MB (target under %lld MB)\n", double(most) / (1 << 20),
                static_cast<long long>(target >> 20));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5)
        return oneStep(QString::fromLatin1(argv[1]), QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                       QString::fromLocal8Bit(argv[4]));
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("library.db"));
    if (!dir.isValid() || !LocalStore::open(store)) {
        std::fprintf(stderr, "cannot make an empty store in a temporary folder\n");
        return 1;
    }
    std::printf("%8s %10s %8s %10s %10s %7s\n", "notes", "file KB", "parse", "import", "imported", "ratio");
    double first = 0;
    double last = 0;
    for (const int notes : {5'000, 10'000, 20'000, 40'000}) {
        const QByteArray bytes = exchangeFile(notes);
        double parse = 1e300;
        for (int r = 0; r < parseRounds; ++r) {
            QElapsedTimer t;
            t.start();
            const bool parsed = Json::parse(bytes).has_value();
            parse = std::min(parse, msSince(t));
            if (!parsed)
                return 1;
        }
        const auto timed = timeImport(store, dir, QStringLiteral("user-%1.db").arg(notes), bytes);
        if (!timed)
            return 1;
        const double import = timed->ms;
        const auto& counts = timed->counts;
        const double ratio = import / parse;
        std::printf("%8d %10lld %6.1fms %8.1fms %10d %7.2f\n", notes, static_cast<long long>(bytes.size() / 1024), parse,
                    import, counts ? counts->notes + counts->aside : -1, ratio);
        if (first == 0)
            first = ratio;
        last = ratio;
    }
    std::printf("ratio at the largest over the smallest: %.2f (target at most %.1f)\n", last / first, flatTarget);

    for (const bool held : {false, true}) {
        std::printf("\ntwo-letter notes on one page, %s\n%8s %8s %10s %12s %10s %10s\n",
                    held ? "the page holding each already" : "each new to it", "notes", "parse", "import", "µs per note",
                    "added", "skipped");
        double fewest = 1e300;
        double most = 0;
        for (const int notes : {4'000, 8'000, 16'000, 32'000, 64'000}) {
            const QByteArray bytes = pairsFile(notes, held);
            QElapsedTimer p;
            p.start();
            if (!Json::parse(bytes))
                return 1;
            const double parse = msSince(p);
            const auto timed = timeImport(store, dir, QStringLiteral("pairs-%1-%2.db").arg(held).arg(notes), bytes);
            if (!timed || !timed->counts)
                return 1;
            const double perNote = timed->ms * 1000 / notes;
            std::printf("%8d %6.1fms %8.1fms %12.2f %10d %10d\n", notes, parse, timed->ms, perNote,
                        timed->counts->notes + timed->counts->aside, timed->counts->skipped);
            fewest = std::min(fewest, perNote);
            most = std::max(most, perNote);
        }
        std::printf("time per note, the largest over the smallest: %.2f (target at most %.1f)\n", most / fewest, flatTarget);
    }

    // Each step of the large file runs in a process of its own, so that
    // memory an earlier step freed does not hide the next one's peak.
    const QString path = dir.filePath(QStringLiteral("notes.json"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(manyPagesFile(manyPages)) < 0)
            return 1;
    }
    const double fileMB = double(QFile(path).size()) / (1 << 20);
    std::printf("\n%d notes on as many pages, a file of %.1f MB\n", manyPages, fileMB);
    std::printf("%-36s %10s %12s\n", "", "time", "peak rise");
    double importPeak = 0;
    double parsePeak = 0;
    for (const char* step : {"bytes", "read", "writes", "import"}) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(step), path, store, dir.filePath(QStringLiteral("%1.db").arg(QLatin1String(step)))});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
        const QList<QByteArray> got = child.readAllStandardOutput().trimmed().split(' ');
        const double ms = got.value(0).toDouble();
        const double peakMB = got.value(1).toDouble() / 1024;
        std::printf("%-36s %8.0fms %9.1f MB\n", stepNames.value(QLatin1String(step)).toUtf8().constData(), ms, peakMB);
        if (step == std::string_view("read"))
            parsePeak = peakMB;
        importPeak = peakMB;
    }
    std::printf("import peak: %.1f times the file (target at most 3), %.2f times the parse as one document's\n",
                importPeak / fileMB, importPeak / parsePeak);

    if (const int failed = otherShapes(dir, store, argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString()))
        return failed;
    return sparseFiles(dir, store);
}
