#include "ReleaseFixture.h"

#include "core/CountedNoun.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "distribution/DistCLI.h"
#include "distribution/LocalStore.h"
#include "scholar/SmartBuild.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class DistCLITest : public test::ReleaseFixture {
protected:
    void SetUp() override
    {
        ReleaseFixture::SetUp();
        store_ = LocalStore::open();
        ASSERT_TRUE(store_);
        for (auto id : store_->installed().keys())
            store_->remove(id);
        store_->db().run(QStringLiteral("DELETE FROM meta"));
        writeRelease({book(7, QStringLiteral("سابع"), {QStringLiteral("حدثنا مالك عن نافع عن ابن عمر")}),
                      book(9, QStringLiteral("تاسع"), {QStringLiteral("باب الصلاة")}),
                      book(12, QStringLiteral("ثاني عشر"), {QStringLiteral("حدثنا يحيى عن مالك")})});
    }

    int run(const QStringList& args)
    {
        out_.clear();
        err_.clear();
        return DistCLI::run(QStringList{QStringLiteral("quorvel")} + args,
                            {[this](const QString& l) { out_.append(l); }, [this](const QString& l) { err_.append(l); }});
    }

    QList<std::int64_t> installedIds() const
    {
        QList<std::int64_t> ids;
        for (const auto& row : store_->db().rows(QStringLiteral("SELECT book_id FROM installed ORDER BY ts, rowid")))
            ids.append(row.integer(0).value_or(0));
        return ids;
    }

    std::unique_ptr<LocalStore> store_;
    QStringList out_;
    QStringList err_;
};

} // namespace

TEST_F(DistCLITest, dispatchPrecedenceAndMissingOperands)
{
    // The notice names the release builder the project actually has.
    const QStringList signingNotice{QStringLiteral(
        "التوقيع ليس في نسخة التوزيع. على جهاز التحرير: quorvel-mkrelease --source <مجلد الكتب> --out <مجلد الإصدار> "
        "--key <ملف المفتاح السري>")};
    EXPECT_EQ(run({QStringLiteral("--verify-index"), path(), QStringLiteral("--sign-index")}), 2);
    EXPECT_EQ(out_, signingNotice);
    // Same status as having nothing to do, so the notice is what tells them apart.
    EXPECT_EQ(run({QStringLiteral("--gen-signing-key")}), 2);
    EXPECT_EQ(out_, signingNotice);

    EXPECT_EQ(run({QStringLiteral("--verify-index")}), 2);
    EXPECT_TRUE(out_.isEmpty() && err_.isEmpty());
    EXPECT_EQ(run({QStringLiteral("--dist-install")}), 2);
    EXPECT_TRUE(out_.isEmpty() && err_.isEmpty());

    // The vector build runs when the verification has no source; its failure goes to stderr.
    EXPECT_EQ(run({QStringLiteral("--build-vectors"), QStringLiteral("--verify-index")}), 1);
    EXPECT_TRUE(out_.isEmpty());
    EXPECT_EQ(err_, QStringList{QStringLiteral("نموذج الكلمات غير منزَّل بعد")});
}

TEST_F(DistCLITest, verifyReportsAcceptanceOrTheRefusal)
{
    EXPECT_EQ(run({QStringLiteral("--verify-index"), path()}), 0);
    EXPECT_EQ(out_, QStringList{QStringLiteral("صحيح: الإصدار 1 · 3 كتب · موقَّع ومطابق")});

    // The same release over HTTP, fetched from the tool's worker thread.
    test::LoopbackHttpServer server(path());
    EXPECT_EQ(run({QStringLiteral("--verify-index"), server.url().toString()}), 0);
    EXPECT_EQ(out_, QStringList{QStringLiteral("صحيح: الإصدار 1 · 3 كتب · موقَّع ومطابق")});
    EXPECT_EQ(run({QStringLiteral("--dist-install"), server.url().toString(), QStringLiteral("9")}), 0);
    EXPECT_EQ(store_->installed().keys(), QList<std::int64_t>{9});

    Json::Value index = readIndex();
    index["release"] = 2;
    writeIndex(index, /*sign=*/false);
    EXPECT_EQ(run({QStringLiteral("--verify-index"), path()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("مرفوض: توقيع فهرس الإصدار غير صحيح: رُفض المصدر.")});

    EXPECT_EQ(run({QStringLiteral("--verify-index"), QStringLiteral("http//no-host")}), 1);
    ASSERT_EQ(out_.size(), 1);
    EXPECT_TRUE(out_.first().startsWith(QStringLiteral("مرفوض: ")));
}

TEST_F(DistCLITest, installSelectsBooksInCatalogueOrder)
{
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("12,,x,7,+99")}), 0);
    ASSERT_EQ(out_.size(), 1);
    const QRegularExpression summary(QStringLiteral("^ثُبّت كتابان في \\d+\\.\\ds · رواة (\\d+) · حوافّ (\\d+) · بصمات 0$"));
    const auto m = summary.match(out_.first());
    ASSERT_TRUE(m.hasMatch()) << out_.first().toStdString();
    EXPECT_EQ(m.captured(1).toLongLong(), store_->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM narrators")));
    EXPECT_EQ(m.captured(2).toLongLong(), store_->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM isnad_edges")));
    EXPECT_GT(m.captured(2).toLongLong(), 0);
    EXPECT_EQ(installedIds(), (QList<std::int64_t>{7, 12}));
    EXPECT_EQ(store_->lastRelease(), 1); // every selected book is in: the release is recorded

    EXPECT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("x")}), 0);
    ASSERT_EQ(out_.size(), 1);
    EXPECT_TRUE(out_.first().startsWith(QStringLiteral("ثُبّت 0 كتاب في "))) << out_.first().toStdString();

    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 0);
    EXPECT_EQ(store_->bookCount(), 3);
}

TEST_F(DistCLITest, aFailingBookEndsTheRunAfterTheBooksBeforeIt)
{
    writeFile(QStringLiteral("b9.qbk"), "tampered");
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 1);
    // The line says which book failed and how far the run had come.
    EXPECT_EQ(out_, QStringList{QStringLiteral("فشل في «تاسع» بعد تثبيت 1 من 3: بصمة حزمة «تاسع» لا تطابق الفهرس.")});
    EXPECT_EQ(installedIds(), QList<std::int64_t>{7});
    EXPECT_EQ(store_->lastRelease(), 0); // a run that failed records no release
}

TEST_F(DistCLITest, anOlderReleaseCannotReplaceNewerBooks)
{
    const auto books = {book(7, QStringLiteral("سابع"), {QStringLiteral("الطبعة الثالثة")}),
                        book(9, QStringLiteral("تاسع"), {QStringLiteral("باب الصلاة")})};
    writeRelease(books, 3);
    ASSERT_EQ(run({QStringLiteral("--dist-install"), path()}), 0) << out_.join(u'\n').toStdString();
    EXPECT_EQ(store_->lastRelease(), 3);

    writeRelease({book(7, QStringLiteral("سابع"), {QStringLiteral("الطبعة الثانية")})}, 2);
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("فشل: الإصدار 2 أقدم من المثبّت (3): رُفض.")});
    EXPECT_EQ(store_->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE content='الطبعة الثالثة'")), 1);
    EXPECT_EQ(store_->lastRelease(), 3);

    // Books a store holds from a release count even where no run recorded it.
    store_->db().run(QStringLiteral("DELETE FROM meta"));
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("فشل: الإصدار 2 أقدم من المثبّت (3): رُفض.")});

    // The same release again is accepted; a partial selection also records it.
    writeRelease(books, 3);
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("9")}), 0);
    EXPECT_EQ(store_->lastRelease(), 3);
}

TEST_F(DistCLITest, decoderAndNetworkFailuresAreReportedInArabic)
{
    // A catalogue entry without a required key, signed as it is.
    Json::Value catalog = *Json::parse(readFile(QStringLiteral("catalog-1.json")));
    catalog["books"][1].erase("usize");
    const QByteArray bytes = Json::dumpBytes(catalog);
    writeFile(QStringLiteral("catalog-1.json"), bytes);
    Json::Value index = readIndex();
    index["catalog"]["sha256"] = Json::utf8(Dist::sha256(bytes));
    index["catalog"]["size"] = bytes.size();
    writeIndex(index);
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("فشل: تعذّرت قراءة بيانات الإصدار: الحقل «books[1].usize» مفقود.")});

    // A package whose bytes match the catalogue but are no compressed stream.
    writeRelease({book(7, QStringLiteral("سابع"), {QStringLiteral("نص")})});
    const QByteArray junk(64, '\xff');
    catalog = *Json::parse(readFile(QStringLiteral("catalog-1.json")));
    catalog["books"][0]["size"] = junk.size();
    catalog["books"][0]["sha256"] = Json::utf8(Dist::sha256(junk));
    writeFile(QStringLiteral("b7.qbk"), junk);
    const QByteArray signedCatalog = Json::dumpBytes(catalog);
    writeFile(QStringLiteral("catalog-1.json"), signedCatalog);
    index = readIndex();
    index["catalog"]["sha256"] = Json::utf8(Dist::sha256(signedCatalog));
    index["catalog"]["size"] = signedCatalog.size();
    writeIndex(index);
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("فشل في «سابع» بعد تثبيت 0 من 1: تعذّر فكّ ضغط الحزمة: بياناتها تالفة.")});

    // Nothing listens on the port once the server is gone.
    QUrl closed;
    {
        test::LoopbackHttpServer server(path());
        closed = server.url();
    }
    EXPECT_EQ(run({QStringLiteral("--verify-index"), closed.toString()}), 1);
    EXPECT_EQ(out_, QStringList{QStringLiteral("مرفوض: تعذّر جلب index.json: رفض الخادم الاتصال")});
}

TEST(DistCLIIds, idListsAreReadStrictly)
{
    EXPECT_EQ(DistCLI::parseIds(QStringLiteral("12,,x,7")), (QSet<std::int64_t>{12, 7}));
    EXPECT_EQ(DistCLI::parseIds(QStringLiteral("-3,+4, 5,6 ,٧,99999999999999999999")), (QSet<std::int64_t>{-3, 4}));
    EXPECT_TRUE(DistCLI::parseIds(QStringLiteral(",,")).isEmpty());
}

#ifdef QUORVEL_SAMPLE_RELEASE
// The bundled sample is signed at build time with the key compiled into Dist.
TEST(DistSampleRelease, verifiesUnderTheBuiltInKeyAndInstalls)
{
    Dist::overridePublicKey({});
    QStringList out;
    const DistCLI::Output output{[&](const QString& l) { out.append(l); }, [&](const QString& l) { out.append(l); }};
    const QString sample = QStringLiteral(QUORVEL_SAMPLE_RELEASE);
    EXPECT_EQ(DistCLI::run({QStringLiteral("quorvel"), QStringLiteral("--verify-index"), sample}, output), 0);
    EXPECT_EQ(out, QStringList{QStringLiteral("صحيح: الإصدار 1 · 19 كتابا · موقَّع ومطابق")});

    out.clear();
    EXPECT_EQ(DistCLI::run({QStringLiteral("quorvel"), QStringLiteral("--dist-install"), sample, QStringLiteral("16,14")},
                           output),
              0);
    ASSERT_EQ(out.size(), 2);
    EXPECT_TRUE(out.first().startsWith(QStringLiteral("ثُبّت كتابان في "))) << out.first().toStdString();
    // The sample carries its word model: fetched, then every page of the store embedded.
    EXPECT_TRUE(SmartBuild::hasModel() && SmartBuild::hasVectors());
    auto store = LocalStore::open();
    ASSERT_TRUE(store);
    const auto pages = store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages"));
    EXPECT_TRUE(out[1].startsWith(QStringLiteral("متّجهات البحث بالمعنى: ")
                                  + CountedNoun::pages().count(*pages, CountedNoun::Case::nominative,
                                                               QString::number(*pages))
                                  + QStringLiteral(" في ")))
        << out[1].toStdString();
    EXPECT_TRUE(store->installed().contains(16));
    EXPECT_EQ(store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=16")), 46);
    EXPECT_EQ(store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM toc WHERE book_id=14")), 13);
}
#endif

// The developer comparison runs only where the editing machine's database
// exists under the home folder (here the test's own home).
TEST_F(DistCLITest, comparesWithTheDeveloperDatabaseWhenPresent)
{
    const QString devPath = Paths::developerDatabasePath(QDir::homePath());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(devPath).path()));
    struct Cleanup {
        QString dir;
        ~Cleanup() { QDir(dir).removeRecursively(); }
    } cleanup{QDir::homePath() + QStringLiteral("/projects")};

    ASSERT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("7,9")}), 0);
    {
        auto dev = LocalStore::open(devPath);
        ASSERT_TRUE(dev);
        for (const auto& row : store_->db().rows(QStringLiteral("SELECT id, book_id, content, content_norm FROM pages"))) {
            dev->db().run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,1,?,?)"),
                          {row.integer(0), row.integer(1), row.str(2), row.str(3)});
            dev->db().run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                          {row.integer(0), row.str(3), row.integer(0), row.integer(1)});
        }
    }
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("7,9")}), 0);
    ASSERT_EQ(out_.size(), 3) << out_.join(u'\n').toStdString();
    EXPECT_EQ(out_[1], QStringLiteral("المطابقة: صفحتان، مختلفة 0"));
    EXPECT_EQ(out_[2], QStringLiteral("بحث «الصلاة»: المحلية 1 · التحرير 1"));

    {
        auto dev = SQLiteDB::open(devPath, false);
        dev->run(QStringLiteral("UPDATE pages SET content_norm='x' WHERE id=9001"));
    }
    EXPECT_EQ(run({QStringLiteral("--dist-install"), path(), QStringLiteral("7,9")}), 1);
    EXPECT_EQ(out_.mid(1), (QStringList{QStringLiteral("اختلاف في الصفحة 9001"),
                                        QStringLiteral("المطابقة: صفحتان، مختلفة 1"),
                                        QStringLiteral("بحث «الصلاة»: المحلية 1 · التحرير 1")}));
}
