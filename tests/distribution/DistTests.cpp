#include "ReleaseFixture.h"

#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "scholar/SmartBuild.h"
#include "search/NpyArray.h"
#include "search/SemanticIndex.h"
#include "support/LoopbackHttpServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quorvel;
using quorvel::test::ReleaseFixture;

namespace {

// The message of the refusal thrown by loadCatalog, or "" when it accepted.
QString refusal(const QUrl& base, std::int64_t lastRelease = 0)
{
    try {
        Dist::loadCatalog(base, lastRelease);
        return {};
    } catch (const Dist::DistError& e) {
        return e.message();
    } catch (const Dist::PlatformError& e) {
        return QStringLiteral("platform: ") + e.description();
    }
}

const QString badSignature = QStringLiteral("توقيع فهرس الإصدار غير صحيح: رُفض المصدر.");

class DistRelease : public ReleaseFixture {
protected:
    void SetUp() override
    {
        ReleaseFixture::SetUp();
        writeRelease({book(7, QStringLiteral("الموطأ"), {QStringLiteral("حدثنا مالك عن نافع"), QStringLiteral("باب")})});
    }
};

} // namespace

TEST_F(DistRelease, acceptsSignedReleaseAndDecodesCatalogue)
{
    auto [index, catalog] = Dist::loadCatalog(base(), 0);
    EXPECT_EQ(index.release, 1);
    EXPECT_EQ(index.isPublic, true);
    ASSERT_EQ(catalog.books.size(), 1);
    const Dist::CatBook& b = catalog.books.first();
    EXPECT_EQ(b.id, 7);
    EXPECT_EQ(b.title, QStringLiteral("الموطأ"));
    EXPECT_EQ(b.pages, 2);
    EXPECT_EQ(b.vols, QStringList{QStringLiteral("1")});
    EXPECT_EQ(b.file, QStringLiteral("b7.qbk"));
    EXPECT_EQ(b.sha256, Dist::sha256(readFile(b.file)));
    EXPECT_EQ(b.size, readFile(b.file).size());
    EXPECT_FALSE(b.edition.has_value());
    EXPECT_EQ(catalog.authors.first().deathYear, 179);
    EXPECT_FALSE(catalog.smart.has_value());
}

TEST_F(DistRelease, signatureTextMustBeStrictBase64OverTheExactBytes)
{
    const QByteArray sig = readFile(QStringLiteral("index.json.sig")).trimmed();

    writeFile(QStringLiteral("index.json.sig"), "  " + sig + "\r\n\n");
    EXPECT_EQ(refusal(base()), QString());

    writeFile(QStringLiteral("index.json.sig"), sig.left(40) + "\n" + sig.mid(40));
    EXPECT_EQ(refusal(base()), badSignature);

    writeFile(QStringLiteral("index.json.sig"), QByteArray(sig).replace("=", ""));
    EXPECT_EQ(refusal(base()), badSignature);
    writeFile(QStringLiteral("index.json.sig"), sig + "AAAA");
    EXPECT_EQ(refusal(base()), badSignature);
    writeFile(QStringLiteral("index.json.sig"), sig + " x");
    EXPECT_EQ(refusal(base()), badSignature);

    // One byte of the index changed after signing.
    QByteArray tampered = readFile(QStringLiteral("index.json"));
    writeFile(QStringLiteral("index.json.sig"), sig);
    writeFile(QStringLiteral("index.json"), QByteArray(tampered).replace("\"release\": 1", "\"release\": 2"));
    EXPECT_EQ(refusal(base()), badSignature);
    writeFile(QStringLiteral("index.json"), tampered);
    EXPECT_EQ(refusal(base()), QString());

    // Same JSON, other bytes: the signature no longer covers them.
    writeFile(QStringLiteral("index.json.sig"), sig);
    writeIndex(readIndex(), /*sign=*/false);
    EXPECT_EQ(refusal(base()), badSignature);

    // A key that signed nothing here.
    writeIndex(readIndex());
    EXPECT_EQ(refusal(base()), QString());
    auto other = ReleaseWriter::generateKeyPair();
    Dist::overridePublicKey(ReleaseWriter::base64(other->publicKey));
    EXPECT_EQ(refusal(base()), badSignature);
    Dist::overridePublicKey(QStringLiteral("not a key"));
    EXPECT_EQ(refusal(base()), badSignature);
}

TEST_F(DistRelease, refusesFormatOlderReleaseAndExpiryInOrder)
{
    Json::Value index = readIndex();

    index["format"] = 2;
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("صيغة الإصدار 2 أحدث من هذا التطبيق؛ حدّث التطبيق."));
    index["format"] = 0;
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("صيغة الإصدار 0 أحدث من هذا التطبيق؛ حدّث التطبيق."));
    index["format"] = 1;

    index["release"] = 5;
    writeIndex(index);
    EXPECT_EQ(refusal(base(), 5), QString());
    EXPECT_EQ(refusal(base(), 6), QStringLiteral("الإصدار 5 أقدم من المثبّت (6): رُفض."));

    index["expires"] = "2001-02-03T04:05:06Z";
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("انتهت صلاحية فهرس الإصدار؛ اطلب إصداراً أحدث."));
    // Release age is judged before expiry.
    EXPECT_EQ(refusal(base(), 9), QStringLiteral("الإصدار 5 أقدم من المثبّت (9): رُفض."));
    index["expires"] = "2001-02-03t04:05:06z";
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("انتهت صلاحية فهرس الإصدار؛ اطلب إصداراً أحدث."));

    for (const char* never : {"", "next year", "2001-02-03T04:05:06.5Z", "2001-02-03 04:05:06Z"}) {
        index["expires"] = never;
        writeIndex(index);
        EXPECT_EQ(refusal(base()), QString()) << never;
    }
}

TEST_F(DistRelease, catalogueMustMatchItsDigestAndNormVersion)
{
    Json::Value index = readIndex();
    const std::string digest = index["catalog"]["sha256"];
    index["catalog"]["sha256"] = Json::utf8(QString::fromStdString(digest).toUpper());
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("بصمة فهرس الكتب لا تطابق."));

    index["catalog"]["sha256"] = digest;
    index["catalog"]["size"] = index["catalog"]["size"].get<std::int64_t>() + 1;
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("بصمة فهرس الكتب لا تطابق."));

    // A declared size no catalogue comes near is refused before any byte is read.
    const std::int64_t trueSize = index["catalog"]["size"].get<std::int64_t>() - 1;
    for (const std::int64_t declared : {std::int64_t(1) << 40, std::numeric_limits<std::int64_t>::max()}) {
        index["catalog"]["size"] = declared;
        writeIndex(index);
        EXPECT_EQ(refusal(base()), QStringLiteral("ملف الإصدار «catalog-1.json» أكبر من المقبول: رُفض المصدر."));
    }
    index["catalog"]["size"] = trueSize;

    Json::Value catalog = *Json::parse(readFile(QStringLiteral("catalog-1.json")));
    catalog["norm_ver"] = 0;
    const QByteArray bytes = Json::dumpBytes(catalog);
    writeFile(QStringLiteral("catalog-1.json"), bytes);
    index["catalog"]["sha256"] = Json::utf8(Dist::sha256(bytes));
    index["catalog"]["size"] = bytes.size();
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("قواعد التطبيع 0 غير معروفة لهذا التطبيق."));
}

TEST_F(DistRelease, fileNamesMustStayInsideTheRelease)
{
    Json::Value index = readIndex();
    for (const char* name : {"../catalog-1.json", "/etc/passwd", "sub/catalog-1.json", "..", "a\\b"}) {
        index["catalog"]["file"] = name;
        writeIndex(index);
        EXPECT_EQ(refusal(base()), QStringLiteral("اسم ملف غير مقبول في الإصدار: ") + QString::fromUtf8(name)) << name;
    }
    EXPECT_THROW(Dist::fetch(base(), QStringLiteral("../index.json")), Dist::DistError);

    // A package name in a signed catalogue is refused when the release loads.
    Json::Value catalog = *Json::parse(readFile(QStringLiteral("catalog-1.json")));
    catalog["books"][0]["file"] = "../../b7.qbk";
    const QByteArray bytes = Json::dumpBytes(catalog);
    writeFile(QStringLiteral("catalog-1.json"), bytes);
    index["catalog"] = {{"file", "catalog-1.json"}, {"sha256", Json::utf8(Dist::sha256(bytes))}, {"size", bytes.size()}};
    writeIndex(index);
    EXPECT_EQ(refusal(base()), QStringLiteral("اسم ملف غير مقبول في الإصدار: ../../b7.qbk"));
}

TEST_F(DistRelease, missingFilesAndHttpStatuses)
{
    QFile::remove(QDir(path()).filePath(QStringLiteral("catalog-1.json")));
    EXPECT_TRUE(refusal(base()).startsWith(QStringLiteral("platform: "))) << refusal(base()).toStdString();

    writeRelease({book(7, QStringLiteral("الموطأ"), {QStringLiteral("نص")})});
    test::LoopbackHttpServer server(QDir(path()).absoluteFilePath(QStringLiteral("..")));
    ASSERT_TRUE(server.isListening());
    const QString folder = QDir(path()).dirName();
    // No trailing slash: the file name is still appended as a path component.
    const QUrl httpBase = server.url(folder);
    auto [index, catalog] = Dist::loadCatalog(httpBase, 0);
    EXPECT_EQ(catalog.books.size(), 1);
    EXPECT_EQ(Dist::fetch(httpBase, QStringLiteral("b7.qbk")), readFile(QStringLiteral("b7.qbk")));
    writeFile(QStringLiteral("b%41 ?.qbk"), "odd name");
    EXPECT_EQ(Dist::fetch(httpBase, QStringLiteral("b%41 ?.qbk")), QByteArray("odd name"));

    server.cutShort(u'/' + folder + QStringLiteral("/catalog-1.json"));
    EXPECT_TRUE(refusal(httpBase).startsWith(QStringLiteral("platform: "))) << refusal(httpBase).toStdString();

    server.forceStatus(u'/' + folder + QStringLiteral("/catalog-1.json"), 404);
    EXPECT_EQ(refusal(httpBase), QStringLiteral("تعذّر جلب catalog-1.json"));
    server.forceStatus(u'/' + folder + QStringLiteral("/index.json"), 500);
    EXPECT_EQ(refusal(server.url(folder + u'/')), QStringLiteral("تعذّر جلب index.json"));
}

TEST_F(DistRelease, endlessOrDrippingFilesEndNamingTheFile)
{
    test::LoopbackHttpServer server(QDir(path()).absoluteFilePath(QStringLiteral("..")));
    ASSERT_TRUE(server.isListening());
    const QString folder = QDir(path()).dirName();
    const QUrl httpBase = server.url(folder + u'/');
    // Short limits stand in for the real ones: silence ends a transfer after
    // 400 ms, and a file may take 400 ms plus its size at 2 MB/s in all.
    Dist::setFetchLimits({400, 2 << 20});
    const QString timedOut = QStringLiteral("platform: تعذّر جلب %1: انتهت مهلة الاتصال");
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        warnings << text;
    });
    const struct {
        QString name;
        QByteArray piece;
        int everyMs;
        std::int64_t declared; // 0: fetched through loadCatalog
        QString expected;
    } cases[] = {
        // An index that never ends is too large, not badly signed.
        {QStringLiteral("index.json"), "{\"a\":1}", 0, 0,
         QStringLiteral("ملف الإصدار «index.json» أكبر من المقبول: رُفض المصدر.")},
        // One byte now and then never lets the silence limit fire.
        {QStringLiteral("index.json"), " ", 50, 0, timedOut.arg(QStringLiteral("index.json"))},
        {QStringLiteral("index.json.sig"), " ", 50, 0, timedOut.arg(QStringLiteral("index.json.sig"))},
        {QStringLiteral("b7.qbk"), "x", 50, 15903, timedOut.arg(QStringLiteral("b7.qbk"))},
    };
    // Far beyond every limit above: a stream still running then means a limit
    // did not fire, and the short body it ends with fails the case below.
    const int dripEndsAfterMs = 8000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        test::LoopbackHttpServer drip(QDir(path()).absoluteFilePath(QStringLiteral("..")));
        drip.stream(u'/' + folder + u'/' + c.name, c.piece, c.everyMs, dripEndsAfterMs);
        const QUrl dripBase = drip.url(folder + u'/');
        if (c.declared == 0) {
            EXPECT_EQ(refusal(dripBase), c.expected);
            continue;
        }
        try {
            Dist::fetch(dripBase, c.name, c.declared);
            ADD_FAILURE() << "a dripping file was accepted";
        } catch (const Dist::PlatformError& e) {
            EXPECT_EQ(QStringLiteral("platform: ") + e.description(), c.expected);
        } catch (const Dist::DistError& e) {
            ADD_FAILURE() << "refused for another reason: " << e.message().toStdString();
        }
    }
    // A drip of a file declared at the largest size, whose deadline is days
    // away, ends at the first stretch that brings less than the slowest rate.
    {
        Dist::setFetchLimits({60'000, 1024, 300});
        test::LoopbackHttpServer drip(QDir(path()).absoluteFilePath(QStringLiteral("..")));
        drip.stream(u'/' + folder + QStringLiteral("/b9.qbk"), "x", 50, dripEndsAfterMs);
        try {
            Dist::fetch(drip.url(folder + u'/'), QStringLiteral("b9.qbk"), Dist::declaredFileLimit);
            ADD_FAILURE() << "a dripping file was accepted";
        } catch (const Dist::PlatformError& e) {
            EXPECT_EQ(e.description(), QStringLiteral("تعذّر جلب b9.qbk: يصل الملف أبطأ من أن يكتمل جلبه"));
        }
        Dist::setFetchLimits({400, 2 << 20});
    }
    // A reply stopped at its deadline is closed: nothing reads it again.
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u'\n').toStdString();
    qInstallMessageHandler(previous);
    // The limits leave an honest server alone.
    EXPECT_EQ(refusal(httpBase), QString());
    Dist::setFetchLimits({});
    EXPECT_EQ(Dist::fetchDeadlineMs(15903, {}), 120'000 + 1942);
    // A hostile declared size waits no longer than a timer can count.
    EXPECT_EQ(Dist::fetchDeadlineMs(std::numeric_limits<std::int64_t>::max(), {}), std::numeric_limits<int>::max());
}

TEST_F(DistRelease, aBurstOrASlowPaceThatStillFinishesIsNotTooSlow)
{
    test::LoopbackHttpServer server(QDir(path()).absoluteFilePath(QStringLiteral("..")));
    ASSERT_TRUE(server.isListening());
    const QString folder = QDir(path()).dirName();
    const struct {
        const char* name;
        Dist::FetchLimits limits;
        QList<QByteArray> pieces;
        int everyMs;
    } cases[] = {
        // 550 KB at once, then silence past the first stretch of 500 ms,
        // which must bring 500 KB: the burst is counted whole.
        {"burst.qbk", {3000, 1000 * 1024, 500}, {QByteArray(550 * 1024, 'b'), QByteArray(50 * 1024, 'r')}, 800},
        // 1 KB at about 1 KB/s where a stretch of 300 ms must bring 1.2 KB:
        // at that pace the file is whole long before its deadline (2.25 s).
        {"slow.qbk", {2000, 4096, 300}, QList<QByteArray>(16, QByteArray(64, 's')), 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dist::setFetchLimits(c.limits);
        server.pace(u'/' + folder + u'/' + QLatin1String(c.name), c.pieces, c.everyMs);
        const QByteArray whole = c.pieces.join();
        try {
            EXPECT_EQ(Dist::fetch(server.url(folder + u'/'), QLatin1String(c.name), whole.size()), whole);
        } catch (const Dist::PlatformError& e) {
            ADD_FAILURE() << e.description().toStdString();
        }
    }
    Dist::setFetchLimits({});
}

TEST(DistDecode, requiredKeysAndTypesAreStrict)
{
    const char* book = R"({"id":1,"title":"t","pages":1,"vols":[],"root":"r","file":"f","size":1,"usize":1,"sha256":"s"})";
    auto catalog = [](const std::string& books) {
        return QByteArray::fromStdString(
            R"({"format":1,"release":1,"norm_ver":1,"categories":[],"authors":[],"books":[)" + books + "]}");
    };
    EXPECT_EQ(Dist::decodeCatalog(catalog(book)).books.size(), 1);

    std::string noUsize = book;
    noUsize.replace(noUsize.find(R"("usize":1,)"), 10, "");
    EXPECT_THROW(Dist::decodeCatalog(catalog(noUsize)), Dist::PlatformError);

    std::string boolId = book;
    boolId.replace(boolId.find(R"("id":1)"), 6, R"("id":true)");
    EXPECT_THROW(Dist::decodeCatalog(catalog(boolId)), Dist::PlatformError);

    std::string nullEdition = book;
    nullEdition.insert(1, R"("edition":null,"extra":[1],)");
    auto decoded = Dist::decodeCatalog(catalog(nullEdition));
    EXPECT_FALSE(decoded.books.first().edition.has_value());

    std::string badEdition = book;
    badEdition.insert(1, R"("edition":3,)");
    EXPECT_THROW(Dist::decodeCatalog(catalog(badEdition)), Dist::PlatformError);

    // A word-model pack needs all six inner fields.
    const QByteArray withPack = QByteArray(R"({"format":1,"release":1,"norm_ver":1,"categories":[],"authors":[],"books":[],)")
        + R"("smart":{"wordvec":{"file":"w","sha256":"a","size":2},"vocab":{"file":"v","sha256":"b"}}})";
    EXPECT_THROW(Dist::decodeCatalog(withPack), Dist::PlatformError);

    EXPECT_THROW(Dist::decodeIndex("[1]"), Dist::PlatformError);
    EXPECT_THROW(Dist::decodeIndex("{\"format\":1"), Dist::PlatformError);
    EXPECT_THROW(Dist::decodeIndex(R"({"format":1.5,"release":1,"generated":"","expires":"","catalog":{"file":"c","sha256":"s","size":1}})"),
                 Dist::PlatformError);
    // Past the signed 64-bit range is the wrong type, not a wrapped number.
    EXPECT_THROW(Dist::decodeIndex(R"({"format":1,"release":18446744073709551615,"generated":"","expires":"","catalog":{"file":"c","sha256":"s","size":1}})"),
                 Dist::PlatformError);
    auto index = Dist::decodeIndex(R"({"format":1,"release":-3,"generated":"g","expires":"","catalog":{"file":"c","sha256":"s","size":1}})");
    EXPECT_EQ(index.release, -3);
    EXPECT_FALSE(index.isPublic.has_value());
}

TEST(DistDates, internetDateTimeIsStrict)
{
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("1970-01-01T00:00:00Z")), 0);
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("1970-01-01T03:00:00+03:00")), 0);
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("1970-01-01T00:00:00-0130")), 5400);
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("2024-02-29T12:00:00Z")),
              QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
    // RFC 3339 lets the separator and the zone letter be lowercase.
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("1970-01-01t00:01:00z")), 60);
    EXPECT_EQ(Dist::parseInternetDate(QStringLiteral("1970-01-01t00:00:00Z")), 0);
    for (const char* bad : {"2023-02-29T12:00:00Z", "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z",
                            "2024-01-01T00:00:00", "2024-01-01", "2024-01-01T00:00:00.000Z",
                            "2024-01-01 00:00:00Z", "2024-01-01T00:00:00+3:00", "٢٠٢٤-01-01T00:00:00Z"})
        EXPECT_FALSE(Dist::parseInternetDate(QString::fromUtf8(bad))) << bad;
}

TEST(DistRoot, followsTheLineRecipe)
{
    QTemporaryDir dir;
    auto db = SQLiteDB::open(dir.filePath(QStringLiteral("p.sqlite")), false);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->exec(QStringLiteral(
        "CREATE TABLE page(pid INTEGER, seq INTEGER, vol, page_num, content);"
        "INSERT INTO page VALUES(11, 2, 'ج1', 5, 'نص');"
        "INSERT INTO page VALUES(10, 1, 3, '7', NULL);"
        "INSERT INTO page VALUES(NULL, 3, NULL, NULL, X'6162');"
        // Blobs are read as text, zero bytes included, broken UTF-8 replaced.
        "INSERT INTO page VALUES(12, 4, X'7600ff', NULL, X'610062');"
        "INSERT INTO page VALUES(13, 5, X'ff', NULL, X'ff');")));
    auto expected = [](const QByteArray& text) {
        return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    };
    auto h = [&](const QByteArray& content) { return expected(content).left(32).toLatin1(); };
    const QByteArray pages = "P\t10\t1\t\t\t" + h("") + "\n" + "P\t11\t2\tج1\t5\t" + h("نص") + "\n"
        + "P\t0\t3\t\t\t" + h("ab") + "\n" + "P\t12\t4\t" + QByteArray("v\0\xef\xbf\xbd", 5) + "\t\t"
        + h(QByteArray("a\0b", 3)) + "\n" + "P\t13\t5\t\xef\xbf\xbd\t\t"
        + h("\xef\xbf\xbd") + "\n";
    EXPECT_EQ(h(""), "e3b0c44298fc1c149afbf4c8996fb924");
    EXPECT_EQ(Dist::root(*db, 4, QStringLiteral("كتاب")), expected(pages + "B\t4\tكتاب\n"));
    EXPECT_NE(Dist::root(*db, 4, QStringLiteral("كتاب")), Dist::root(*db, 4, QStringLiteral("كتاب ")));

    ASSERT_TRUE(db->exec(QStringLiteral(
        "CREATE TABLE toc(id, title, page_seq, parent_id, level);"
        "INSERT INTO toc VALUES(2, 'فصل\tثان', 2, 1, 2);"
        "INSERT INTO toc VALUES(1, NULL, 1, NULL, '1');")));
    EXPECT_EQ(Dist::root(*db, 4, QStringLiteral("كتاب")),
              expected(pages + "T\t1\t1\t\t\t\n" + "T\t2\t2\t1\t2\tفصل\tثان\n" + "B\t4\tكتاب\n"));
}

TEST(DistRoot, isStableAcrossRebuildsAndFollowsEveryInput)
{
    QTemporaryDir dir;
    ReleaseWriter::Book book = ReleaseFixture::book(3, QStringLiteral("كتاب"), {QStringLiteral("أ"), QStringLiteral("ب")});
    book.toc.append({31, QStringLiteral("باب"), 1, std::nullopt, 1});
    auto rootOf = [&](const ReleaseWriter::Book& b, const QString& name) {
        auto entry = ReleaseWriter::addBook(dir.path(), b, name);
        return entry ? Json::qstr(entry->at("root").get<std::string>()) : QString();
    };
    const QString root = rootOf(book, QStringLiteral("one.qbk"));
    ASSERT_EQ(root.size(), 64);
    EXPECT_EQ(rootOf(book, QStringLiteral("two.qbk")), root);

    auto page = book;
    page.pages[1].content = QStringLiteral("ب ");
    auto heading = book;
    heading.toc[0].level = 2;
    auto title = book;
    title.meta["title"] = "كتاب آخر";
    auto vol = book;
    vol.pages[0].vol = QStringLiteral("2");
    for (const auto* changed : {&page, &heading, &title, &vol})
        EXPECT_NE(rootOf(*changed, QStringLiteral("x.qbk")), root);
}

// Releases already signed keep verifying: the root of a sample book, whose
// texts hold no zero character, is the one its signed catalogue carries.
TEST(DistRoot, ofASampleBookIsTheSignedOne)
{
    const QDir samples(QStringLiteral(QUORVEL_TEST_DATA "/../../samples"));
    const auto catalog = Json::parseFile(samples.filePath(QStringLiteral("catalog.json")));
    ASSERT_TRUE(catalog);
    const Json::Value& meta = catalog->at("books").at(0);
    ASSERT_EQ(meta.at("id"), 1);
    const auto corpus = Json::parseFile(samples.filePath(QStringLiteral("books/001.json")));
    ASSERT_TRUE(corpus);
    const auto book = ReleaseWriter::fromCorpus(*corpus, meta);
    ASSERT_TRUE(book);
    QTemporaryDir dir;
    const auto entry = ReleaseWriter::addBook(dir.path(), *book, QStringLiteral("b1.qbk"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->at("root"), "5201d2be260ff1d1f08843cd8cb5221775bc9ea4c8983a1b124fc071df07820d");
}

TEST(DistWordModel, aPackThatWouldNotLoadIsNotPublished)
{
    // Rows of 3 words × `dim`, frequencies `freq`, all values `value`.
    auto writeModel = [](const QString& dir, std::int64_t rows, std::int64_t dim, float value, const char* freq,
                         const char* words) {
        const std::vector<float> v(size_t(rows * dim), value);
        ASSERT_TRUE(NpyArray::write(QDir(dir).filePath(SmartBuild::wordvecFile), NpyArray::floatDescr, {rows, dim},
                                    QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size() * 4))));
        QFile vocab(QDir(dir).filePath(SmartBuild::vocabFile));
        ASSERT_TRUE(vocab.open(QIODevice::WriteOnly));
        vocab.write(QStringLiteral(R"({"words":%3,"dim":%1,"freq":%2})")
                        .arg(dim).arg(QLatin1String(freq), QString::fromUtf8(words)).toUtf8());
    };
    const struct {
        const char* name;
        std::int64_t rows, dim;
        float value;
        const char* freq;
        QString reason; // empty: published
        const char* words = R"(["صلاه","الفجر","الزكاه"])";
    } cases[] = {
        {"sound", 3, 4, 0.5f, "[10,5,3]", {}},
        {"NaN", 3, 4, std::nanf(""), "[10,5,3]", SemanticIndex::msgNonFinite},
        {"infinite", 3, 4, INFINITY, "[10,5,3]", SemanticIndex::msgNonFinite},
        {"wrong shape", 2, 4, 0.5f, "[10,5,3]", SemanticIndex::msgFilesUnreadable},
        {"zero width", 3, 0, 0.5f, "[10,5,3]", SemanticIndex::msgEmptyModel},
        {"zero frequencies", 3, 4, 0.5f, "[0,0,0]", SemanticIndex::msgEmptyModel},
        // Every row one word: no meaning search would find anything.
        {"one word", 3, 4, 0.5f, "[10,5,3]", SemanticIndex::msgRepeatedWords, R"(["صلاه","صلاه","صلاه"])"},
    };
    for (const auto& c : cases) {
        QTemporaryDir model, release;
        writeModel(model.path(), c.rows, c.dim, c.value, c.freq, c.words);
        QString why;
        const auto smart = ReleaseWriter::addWordModel(release.path(), model.path(), &why);
        EXPECT_EQ(smart.has_value(), c.reason.isEmpty()) << c.name;
        EXPECT_EQ(why, c.reason.isEmpty() ? QString() : SmartBuild::msgModelUnloadable + QStringLiteral(": ") + c.reason)
            << c.name;
        EXPECT_EQ(QFile::exists(QDir(release.path()).filePath(SmartBuild::wordvecFile)), c.reason.isEmpty()) << c.name;
    }
}

TEST(DistBytes, hexDigestsAndUrls)
{
    EXPECT_EQ(Dist::hex(QByteArray("\x00\x0f\xff", 3)), QStringLiteral("000fff"));
    EXPECT_EQ(Dist::sha256("abc"), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(Dist::fileURL(QUrl(QStringLiteral("https://h.test/rel")), QStringLiteral("index.json")).toString(),
              QStringLiteral("https://h.test/rel/index.json"));
    EXPECT_EQ(Dist::fileURL(QUrl(QStringLiteral("https://h.test/rel/")), QStringLiteral("a b.qbk")).toString(QUrl::FullyEncoded),
              QStringLiteral("https://h.test/rel/a%20b.qbk"));
    // Escapes in the base stay as given; "%", "?" and "#" in a name are characters of the name.
    EXPECT_EQ(Dist::fileURL(QUrl(QStringLiteral("https://h.test/a%2Fb?k=1")), QStringLiteral("x%41?#.qbk"))
                  .toString(QUrl::FullyEncoded),
              QStringLiteral("https://h.test/a%2Fb/x%2541%3F%23.qbk?k=1"));
    EXPECT_FALSE(Dist::baseFromText(QStringLiteral("http//broken")));
    EXPECT_FALSE(Dist::baseFromText(QStringLiteral("httpx://h.test/")));
    auto folder = Dist::baseFromText(QStringLiteral("rel"));
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isLocalFile());
    EXPECT_TRUE(QDir::isAbsolutePath(folder->toLocalFile()));
}

// A release that cannot be written says which file and why, in the words
// the whole-file writer gives.
TEST_F(DistRelease, aReleaseThatCannotBeWrittenSaysWhichFileAndWhy)
{
    // A folder under a plain file can be neither made nor written, even as root.
    const QString blocked = QDir(path()).filePath(QStringLiteral("b7.qbk/release"));
    QString why;
    EXPECT_FALSE(ReleaseWriter::addBook(blocked, book(8, QStringLiteral("الأم"), {QStringLiteral("باب")}),
                                        QStringLiteral("b8.qbk"), &why));
    EXPECT_EQ(why, QStringLiteral("b8.qbk: في المسار ملف في موضع مجلد"));
    why.clear();
    ReleaseWriter::ReleaseInfo info;
    EXPECT_FALSE(ReleaseWriter::writeRelease(blocked, info, categories_, authors_, Json::Value::array(), keys_.secretKey,
                                             nullptr, &why));
    EXPECT_EQ(why, QStringLiteral("catalog-1.json: في المسار ملف في موضع مجلد"));
}
