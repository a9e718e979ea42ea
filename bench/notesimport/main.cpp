// Importing an exchange file whose notes all fall on one page, beside parsing
// the same file in the same run. When the merge's time grows with the number
// of notes, the ratio of the two stays flat as the file grows; a scan of the
// page's text per note makes it grow with the notes.
//
// Target: the ratio at 40,000 notes within twice the ratio at 5,000.
//
//   bench_notesimport

#include "core/Json.h"
#include "core/Library.h"
#include "distribution/LocalStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
        // A user database of its own, so that every row starts from an empty page.
        qputenv("QUORVEL_USERDB", dir.filePath(QStringLiteral("user-%1.db").arg(notes)).toUtf8());
        const std::shared_ptr<Library> lib = Library::open(store);
        if (!lib)
            return 1;
        QElapsedTimer t;
        t.start();
        const auto counts = lib->importUserNotes(bytes);
        const double import = msSince(t);
        const double ratio = import / parse;
        std::printf("%8d %10lld %6.1fms %8.1fms %10d %7.2f\n", notes, static_cast<long long>(bytes.size() / 1024), parse,
                    import, counts ? counts->notes : -1, ratio);
        if (first == 0)
            first = ratio;
        last = ratio;
    }
    std::printf("ratio at the largest over the smallest: %.2f (target at most %.1f)\n", last / first, flatTarget);
    return 0;
}
