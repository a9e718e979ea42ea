// Catalogue load time: Library::reloadCatalog() (reading authors, books and
// categories, sorting the books into display order, filing them under their
// categories) beside the bare SELECTs that read the same rows, for the small
// sample corpus and for a generated catalogue of 20,000 books.

#include "../common/BenchArgs.h"
#include "../common/CorpusLibrary.h"
#include "../common/GeneratedCatalog.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/LibrarySchema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quorvel;

namespace {

constexpr int repeats = 15;
constexpr int generatedBooks = 20000;
constexpr int generatedAuthors = 2500;
constexpr int generatedCategories = 40;

double medianMs(const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool fillFromSample(SQLiteDB& db, const QString& catalogPath)
{
    const auto catalog = Json::parseFile(catalogPath);
    if (!catalog || !catalog->is_object())
        return false;
    using Json::strictInt;
    using Json::strictString;
    db.exec("BEGIN");
    for (const auto& c : catalog->value("categories", Json::Value::array()))
        db.run("INSERT INTO categories(id, name) VALUES(?,?)",
               {strictInt(c, "id"), strictString(c, "name")});
    for (const auto& a : catalog->value("authors", Json::Value::array()))
        db.run("INSERT INTO authors(id, name, death_year, death_text) VALUES(?,?,?,?)",
               {strictInt(a, "id"), strictString(a, "name"), strictInt(a, "death_year"),
                strictString(a, "death_text")});
    for (const auto& b : catalog->value("books", Json::Value::array()))
        db.run("INSERT INTO books(id, title, author_id, category_id, edition, publisher, license) "
               "VALUES(?,?,?,?,?,?,?)",
               {strictInt(b, "id"), strictString(b, "title"), strictInt(b, "author_id"),
                strictInt(b, "category_id"), strictString(b, "edition"),
                strictString(b, "publisher"), strictString(b, "license")});
    return db.exec("COMMIT");
}

void measure(const char* name, const QString& path)
{
    auto lib = Library::open(path);
    auto bare = SQLiteDB::open(Library::readOnlyUri(path), true);
    if (!lib || !bare) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return;
    }
    const double load = medianMs([&] { lib->reloadCatalog(); });
    const double selects = medianMs([&] {
        bare->rows("SELECT id, name, death_year, death_text FROM authors");
        bare->rows("SELECT id, title, author_id, category_id, book_date, edition, publisher, "
                   "source_uri, license FROM books");
        bare->rows("SELECT id, name FROM categories ORDER BY COALESCE(sort, id), id");
    });
    std::printf("%-22s %8lld %12.2f %14.2f %8.2f\n", name, (long long)lib->books().size(), load,
                selects, selects > 0 ? load / selects : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("QUORVEL_USERDB", ":memory:");

    const QString samplePath = dir.filePath("sample.db");
    {
        auto db = SQLiteDB::open(samplePath, false);
        // The bundled sample release's catalogue; the test corpus when absent.
        QString source = bench::sampleCatalogPath();
        if (!QFile::exists(source))
            source = QStringLiteral(QUORVEL_SOURCE_DIR) + "/tests/data/catalog.json";
        if (!db || !LibrarySchema::create(*db) || !fillFromSample(*db, source)) {
            std::fprintf(stderr, "cannot build the sample catalogue from %s\n", qPrintable(source));
            return 1;
        }
    }
    const QString generatedPath = dir.filePath("generated.db");
    {
        auto db = SQLiteDB::open(generatedPath, false);
        if (!db || !LibrarySchema::create(*db))
            return 1;
        bench::fillGeneratedCatalog(*db, generatedBooks, generatedAuthors, generatedCategories);
    }

    std::printf("median of %d runs, milliseconds\n", repeats);
    std::printf("%-22s %8s %12s %14s %8s\n", "catalogue", "books", "reload (ms)", "SELECTs (ms)",
                "ratio");
    measure("sample corpus", samplePath);
    measure("generated 20000 books", generatedPath);
    return 0;
}
