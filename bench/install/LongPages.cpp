#include "LongPages.h"

#include "../common/PeakMemory.h"
#include "core/Arabic.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "distribution/RawDeflate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace quorvel::bench {

namespace {

// A page of chains and report at the length bound: the installer's work on it
// (normal form, chains, index rows) is that of a real hadith page, repeated.
QString longPage(int seq)
{
    const QString report = QStringLiteral(
        "حَدَّثَنَا عَبْدُ اللَّهِ بْنُ يُوسُفَ قَالَ أَخْبَرَنَا مَالِكٌ عَنْ نَافِعٍ عَنْ عَبْدِ اللَّهِ بْنِ عُمَرَ "
        "أَنَّ رَسُولَ اللَّهِ صَلَّى اللَّهُ عَلَيْهِ وَسَلَّمَ قَالَ صَلاَةُ الْجَمَاعَةِ تَفْضُلُ صَلاَةَ الْفَذِّ "
        "بِسَبْعٍ وَعِشْرِينَ دَرَجَةً ");
    QString page = QStringLiteral("باب %1 ").arg(seq);
    page.reserve(Dist::maxPageLength);
    while (page.size() + report.size() <= Dist::maxPageLength)
        page += report;
    return page;
}

} // namespace

int longPagesPeak(int pages)
{
    QTemporaryDir dir;
    const QString packagePath = dir.filePath(QStringLiteral("long.sqlite"));
    Dist::CatBook book;
    book.id = 1;
    book.title = QStringLiteral("كتاب الصفحات الطويلة");
    book.file = QStringLiteral("long.qbk");
    {
        auto db = SQLiteDB::open(packagePath, false);
        if (!db
            || !db->exec(QStringLiteral(
                "CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER, vol TEXT, page_num INTEGER, content TEXT);"
                "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT, page_seq INTEGER, parent_id INTEGER, "
                "level INTEGER); PRAGMA application_id=%1; BEGIN")
                             .arg(Dist::appID)))
            return 1;
        for (int seq = 1; seq <= pages; ++seq)
            db->run(QStringLiteral("INSERT INTO page VALUES(?, ?, '1', ?, ?)"), {1000 + seq, seq, seq, longPage(seq)});
        db->exec(QStringLiteral("COMMIT"));
        book.root = Dist::root(*db, book.id, book.title);
    }
    QFile plainFile(packagePath);
    if (!plainFile.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray plain = plainFile.readAll();
    const QByteArray packed = RawDeflate::compress(plain);
    book.usize = plain.size();
    book.size = packed.size();
    book.sha256 = Dist::sha256(packed);
    QFile packedFile(dir.filePath(book.file));
    if (!packedFile.open(QIODevice::WriteOnly) || packedFile.write(packed) != packed.size())
        return 1;
    packedFile.close();
    const QUrl base = QUrl::fromLocalFile(dir.path());
    const Dist::Catalog catalog;

    const Peak install = inChild([&] {
        auto store = LocalStore::open(dir.filePath(QStringLiteral("library.db")));
        try {
            store->install(book, catalog, 1, base);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_install: %s\n", e.what());
            return false;
        }
        return true;
    });
    // The bare rows: each page's text and normal form into pages and the
    // full-text table, a page at a time, in one transaction.
    const Peak bare = inChild([&] {
        auto store = LocalStore::open(dir.filePath(QStringLiteral("bare.db")));
        auto package = SQLiteDB::open(packagePath, true);
        if (!store || !package || !store->db().exec(QStringLiteral("BEGIN IMMEDIATE")))
            return false;
        for (const auto& row : package->rows(QStringLiteral("SELECT pid FROM page ORDER BY seq"))) {
            const auto id = row.integer(0).value_or(0);
            const auto text = package->rows(QStringLiteral("SELECT content FROM page WHERE pid=?"), {id});
            const QString content = text.first().str(0).value_or(QString());
            const QString norm = Arabic::normalize(content, true);
            store->db().run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) "
                                           "VALUES(?, 1, ?, ?, ?)"),
                            {id, id - 1000, content, norm});
            store->db().run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) "
                                           "VALUES(?, ?, ?, 1)"),
                            {id, norm, id});
        }
        return store->db().exec(QStringLiteral("COMMIT"));
    });
    const double pageMB = double(Dist::maxPageLength) * 2 / (1024 * 1024);
    std::printf("book of %d pages of %lld letters (%.0f MB of text as held)\n", pages,
                static_cast<long long>(Dist::maxPageLength), pages * pageMB);
    std::printf("%-48s %10s %12s %10s\n", "operation", "seconds", "peak MB", "per page");
    std::printf("%-48s %10.2f %12.0f %10.1f\n", "install", install.seconds(), install.riseKB / 1024.0,
                install.riseKB / 1024.0 / pages);
    std::printf("%-48s %10.2f %12.0f %10.1f\n", "  baseline: insert text and form, page by page", bare.seconds(),
                bare.riseKB / 1024.0, bare.riseKB / 1024.0 / pages);
    return install.riseKB < 0 || bare.riseKB < 0 ? 1 : 0;
}

} // namespace quorvel::bench
