// The update check's headless side: manifests read from files and from the
// loopback server, the comparison rule and the texts each check shows.

#include "core/Preferences.h"
#include "core/Settings.h"
#include "distribution/Updater.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quorvel;
using Updater::Release;
using Updater::UpdateError;

namespace {

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        Preferences::standard().remove(QString::fromUtf8(Settings::indicDigitsKey));
    }

    QString write(const QString& name, const QByteArray& body)
    {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
        return file.fileName();
    }
    QString fileUrl(const QString& name, const QByteArray& body)
    {
        return QUrl::fromLocalFile(write(name, body)).toString();
    }

    static UpdateError::Kind failureOf(const QString& address, QString* description = nullptr,
                                       int deadlineMs = Updater::fetchDeadlineMs)
    {
        try {
            Updater::fetchManifest(address, deadlineMs);
        } catch (const UpdateError& error) {
            if (description)
                *description = error.description();
            return error.kind();
        }
        ADD_FAILURE() << "no failure for " << address.toStdString();
        return UpdateError::Kind::NotConfigured;
    }

    QTemporaryDir dir_;
};

} // namespace

TEST(UpdaterBuild, parsesOnlyStrictDecimalIntegers)
{
    EXPECT_EQ(Updater::parseBuild(QStringLiteral("42")), 42);
    EXPECT_EQ(Updater::parseBuild(QStringLiteral("+7")), 7);
    EXPECT_EQ(Updater::parseBuild(QStringLiteral("-3")), -3);
    EXPECT_EQ(Updater::parseBuild(QStringLiteral("9223372036854775807")), INT64_MAX);
    for (const char* bad : {"", "+", "-", " 4", "4 ", "4a", "0x10", "١٢", "9223372036854775808", "1.0"})
        EXPECT_EQ(Updater::parseBuild(QString::fromUtf8(bad)), 0) << bad;
}

TEST(UpdaterBuild, environmentWinsEvenWhenEmptyAndNothingIsConfiguredByDefault)
{
    EXPECT_EQ(Updater::chooseManifest(QString(), QStringLiteral("https://x/latest.json")), QString());
    EXPECT_EQ(Updater::chooseManifest(std::nullopt, QStringLiteral("https://x/latest.json")),
              QStringLiteral("https://x/latest.json"));
    EXPECT_FALSE(Updater::chooseManifest(std::nullopt, QString()).has_value());
    // A default build names no host, so a check without the variable cannot go anywhere.
    if (!qEnvironmentVariableIsSet(Updater::manifestVariable)) {
        EXPECT_FALSE(Updater::manifest().has_value());
        try {
            Updater::latest();
            ADD_FAILURE() << "a check without an address succeeded";
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.kind(), UpdateError::Kind::NotConfigured);
        }
    }
}

TEST_F(UpdaterTest, readsTheMacReleaseAndIgnoresOtherMembers)
{
    const Release release = Updater::fetchManifest(fileUrl(
        QStringLiteral("m.json"),
        R"({"linux":{"version":"9","build":99},"mac":{"version":"2.1","build":57,"notes":["أ","بِسْمِ ٱللَّٰهِ"],"size":3}})"));
    EXPECT_EQ(release.version, QStringLiteral("2.1"));
    EXPECT_EQ(release.build, 57);
    ASSERT_TRUE(release.notes.has_value());
    EXPECT_EQ(*release.notes, (QStringList{QStringLiteral("أ"), QStringLiteral("بِسْمِ ٱللَّٰهِ")}));
}

TEST_F(UpdaterTest, refusesBodiesThatAreNoManifest)
{
    for (const char* body : {"", "[]", R"({"linux":{"version":"1","build":2}})", R"({"mac":{"version":"1"}})",
                             R"({"mac":{"build":3}})", R"({"mac":{"version":"1","build":"3"}})",
                             R"({"mac":{"version":"1","build":3.5}})", R"({"mac":{"version":"1","build":true}})",
                             R"({"mac":{"version":"1","build":3,"notes":"x"}})",
                             R"({"mac":{"version":"1","build":3,"notes":[1]}})"}) {
        EXPECT_EQ(failureOf(fileUrl(QStringLiteral("bad.json"), body)), UpdateError::Kind::Decode) << body;
    }
    // The reader is told why in Arabic, without the wire's name of a system his is not.
    QString why;
    failureOf(fileUrl(QStringLiteral("linux.json"), R"({"linux":{"version":"1","build":2}})"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral(u"بيان التحديث"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral(u"لهذا البرنامج على هذا النظام"))) << why.toStdString();
    EXPECT_FALSE(why.contains(QStringLiteral("mac"))) << why.toStdString();
    EXPECT_FALSE(why.contains(QStringLiteral("manifest"))) << why.toStdString();
}

TEST_F(UpdaterTest, addressFailures)
{
    EXPECT_EQ(failureOf(QString()), UpdateError::Kind::BadURL);
    EXPECT_EQ(failureOf(QStringLiteral("not a url")), UpdateError::Kind::BadURL);
    EXPECT_EQ(failureOf(QStringLiteral("ftp://127.0.0.1/latest.json")), UpdateError::Kind::BadURL);
    EXPECT_EQ(failureOf(QUrl::fromLocalFile(dir_.filePath(QStringLiteral("missing.json"))).toString()),
              UpdateError::Kind::File);
}

TEST_F(UpdaterTest, httpNeedsStatus200)
{
    write(QStringLiteral("latest.json"), R"({"mac":{"version":"3.0","build":80}})");
    test::LoopbackHttpServer server(dir_.path());
    ASSERT_TRUE(server.isListening());
    EXPECT_EQ(Updater::fetchManifest(server.url(QStringLiteral("/latest.json")).toString()).build, 80);

    server.forceStatus(QStringLiteral("/latest.json"), 304);
    EXPECT_EQ(failureOf(server.url(QStringLiteral("/latest.json")).toString()), UpdateError::Kind::BadServerResponse);
    server.forceStatus(QStringLiteral("/latest.json"), 500);
    EXPECT_EQ(failureOf(server.url(QStringLiteral("/latest.json")).toString()), UpdateError::Kind::BadServerResponse);
    EXPECT_EQ(failureOf(server.url(QStringLiteral("/none.json")).toString()), UpdateError::Kind::BadServerResponse);
}

TEST_F(UpdaterTest, hostileManifestsAreRefusedUnreadOrCutOff)
{
    const QString fifo = dir_.filePath(QStringLiteral("pipe.json"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray padded = R"({"mac":{"version":"1","build":2}})";
    padded += QByteArray(Updater::manifestLimit, ' ');
    test::LoopbackHttpServer server(dir_.path());
    server.stream(QStringLiteral("/flood.json"), "{\"mac\":[");
    server.stream(QStringLiteral("/drip.json"), " ", 100);
    server.stall(QStringLiteral("/stall.json"));
    const QString timeout = QStringLiteral("انتهت مهلة الاتصال");
    const UpdateError::Kind refused = UpdateError::Kind::Refused;
    const struct {
        QString address;
        UpdateError::Kind kind;
        QString description; // empty: any
    } cases[] = {
        {QUrl::fromLocalFile(fifo).toString(), UpdateError::Kind::File, {}},
        {QStringLiteral("file:///dev/zero"), UpdateError::Kind::File, {}},
        {fileUrl(QStringLiteral("big.json"), padded), UpdateError::Kind::Decode, {}},
        {fileUrl(QStringLiteral("nul.json"), R"({"mac":{"version":"1\u0000","build":2}})"), refused,
         QStringLiteral("رُفض بيان التحديث: في رقم الإصدار حرف تحكّم أو فاصل أسطر.")},
        {fileUrl(QStringLiteral("bell.json"), R"({"mac":{"version":"\u001b[2J1","build":2}})"), refused, {}},
        // A bidi override turns the rest of the alert's or terminal's line around.
        {fileUrl(QStringLiteral("rlo.json"), R"({"mac":{"version":"\u202e1.2","build":2}})"), refused, {}},
        {fileUrl(QStringLiteral("rlo-note.json"), R"({"mac":{"version":"1","build":2,"notes":["أ","\u202eب"]}})"),
         refused, {}},
        // Line and paragraph separators forge lines of their own in the alert.
        {fileUrl(QStringLiteral("ls.json"), R"({"mac":{"version":"1","build":2,"notes":["أ\u2028· مزوّر"]}})"),
         refused, QStringLiteral("رُفض بيان التحديث: في إحدى ملاحظات الإصدار حرف تحكّم أو فاصل أسطر.")},
        {fileUrl(QStringLiteral("ps.json"), R"({"mac":{"version":"1\u20292","build":2}})"), refused, {}},
        // Fillers that show nothing, and marks stacked into a tower.
        {fileUrl(QStringLiteral("filler.json"), R"({"mac":{"version":"1\u3164","build":2}})"), refused,
         QStringLiteral("رُفض بيان التحديث: في رقم الإصدار حرف لا يظهر.")},
        {fileUrl(QStringLiteral("braille.json"), R"({"mac":{"version":"1","build":2,"notes":["\u2800"]}})"), refused, {}},
        {fileUrl(QStringLiteral("marks.json"), R"({"mac":{"version":"1","build":2,"notes":["ب)"
                                                     + QByteArray("\\u0651").repeated(3000) + R"("]}})"),
         refused, QStringLiteral("رُفض بيان التحديث: في إحدى ملاحظات الإصدار علامات مكدّسة فوق حرف واحد.")},
        {fileUrl(QStringLiteral("long.json"), R"({"mac":{"version":")" + QByteArray(900 * 1024, '1') + R"(","build":2}})"),
         refused, QStringLiteral("رُفض بيان التحديث: رقم الإصدار أطول من المقبول.")},
        {fileUrl(QStringLiteral("empty.json"), R"({"mac":{"version":"","build":2}})"), refused,
         QStringLiteral("رُفض بيان التحديث: رقم الإصدار فارغ.")},
        {fileUrl(QStringLiteral("blank.json"), R"({"mac":{"version":"  ","build":2}})"), refused, {}},
        {server.url(QStringLiteral("/flood.json")).toString(), UpdateError::Kind::Decode, {}},
        {server.url(QStringLiteral("/drip.json")).toString(), UpdateError::Kind::Network, timeout},
        {server.url(QStringLiteral("/stall.json")).toString(), UpdateError::Kind::Network, timeout},
    };
    for (const auto& c : cases) {
        QString description;
        EXPECT_EQ(failureOf(c.address, &description, 800), c.kind) << c.address.toStdString();
        if (!c.description.isEmpty()) {
            EXPECT_EQ(description, c.description) << c.address.toStdString();
        }
    }
}

TEST(UpdaterOutcome, onlyAGreaterBuildIsNewer)
{
    const Release equal{QStringLiteral("1.0"), 10, std::nullopt};
    const Release lower{QStringLiteral("9.9"), 9, std::nullopt};
    const Release higher{QStringLiteral("0.1"), 11, std::nullopt};
    for (const Release& old : {equal, lower}) {
        EXPECT_EQ(Updater::launchOutcome(old, 10, 0), Updater::Outcome::Silent);
        EXPECT_EQ(Updater::manualOutcome(old, 10), Updater::Outcome::UpToDate);
        EXPECT_TRUE(Updater::statusLine(old, QStringLiteral("1.0"), 10).endsWith(QStringLiteral("· up to date")));
    }
    EXPECT_EQ(Updater::statusLine(higher, QStringLiteral("1.0"), 10),
              QStringLiteral("installed 1.0 (10) · latest 0.1 (11) · update available"));
    EXPECT_EQ(Updater::launchOutcome(higher, 10, 0), Updater::Outcome::Offer);
    EXPECT_EQ(Updater::manualOutcome(higher, 10), Updater::Outcome::Offer);
    // A build of 0 (no usable build number) makes any published build newer.
    EXPECT_EQ(Updater::manualOutcome(Release{QStringLiteral("1"), 1, std::nullopt}, 0), Updater::Outcome::Offer);
}

TEST(UpdaterOutcome, skippedBuildIsSilentAtLaunchOnlyAndTheNextBuildReturns)
{
    const Release skipped{QStringLiteral("2.0"), 41, std::nullopt};
    EXPECT_EQ(Updater::launchOutcome(skipped, 10, 41), Updater::Outcome::Silent);
    EXPECT_EQ(Updater::manualOutcome(skipped, 10), Updater::Outcome::Offer);
    EXPECT_EQ(Updater::makeAlert(skipped, true, QStringLiteral("1.0"), true).buttons.size(), 2);
    EXPECT_EQ(Updater::launchOutcome(Release{QStringLiteral("2.1"), 42, std::nullopt}, 10, 41),
              Updater::Outcome::Offer);
}

TEST(UpdaterAlert, notesBlockOnlyForNotesAndDigitsFollowThePreference)
{
    Preferences::standard().set(QString::fromUtf8(Settings::indicDigitsKey), false);
    const QString howTo = Updater::makeAlert(Release{QStringLiteral("2.0"), 5, std::nullopt}, false, QStringLiteral("1.4"))
                              .text.section(QStringLiteral("\n\n"), 1);
    for (const std::optional<QStringList>& notes : {std::optional<QStringList>(), std::optional<QStringList>(QStringList())}) {
        const auto alert = Updater::makeAlert(Release{QStringLiteral("2.0"), 5, notes}, false, QStringLiteral("1.4"));
        EXPECT_EQ(alert.text, QStringLiteral("لديك الإصدار 1.4.\n\n") + howTo);
        EXPECT_FALSE(alert.text.contains(QStringLiteral("الجديد:")));
    }
    const auto withNotes = Updater::makeAlert(
        Release{QStringLiteral("2.0"), 5, QStringList{QStringLiteral("بحث أسرع"), QStringLiteral("إصلاحات")}}, false,
        QStringLiteral("1.4"), true);
    EXPECT_EQ(withNotes.text,
              QStringLiteral("لديك الإصدار 1.4.\n\nالجديد:\n· بحث أسرع\n· إصلاحات\n\n") + howTo);
    EXPECT_EQ(withNotes.title, QStringLiteral("إصدار جديد من مكتبة قورفل: 2.0"));
    EXPECT_EQ(withNotes.buttons,
              (QStringList{QStringLiteral("صفحة التنزيل"), QStringLiteral("لاحقا"), QStringLiteral("تخطي هذا الإصدار")}));

    Preferences::standard().set(QString::fromUtf8(Settings::indicDigitsKey), true);
    EXPECT_EQ(Updater::makeAlert(Release{QStringLiteral("2.0"), 5, std::nullopt}, true, QStringLiteral("1.4")).title,
              QStringLiteral("إصدار جديد من مكتبة قورفل: ٢٫٠"));
    EXPECT_EQ(Updater::upToDateAlert(QStringLiteral("1.4")).text, QStringLiteral("الإصدار ١٫٤ هو الأحدث."));
    Preferences::standard().remove(QString::fromUtf8(Settings::indicDigitsKey));
}

TEST(UpdaterAlert, offersTheDownloadPageOnlyWhenTheBuildNamesOne)
{
    const QString page = QStringLiteral("صفحة التنزيل");
    const QString later = QStringLiteral("لاحقا");
    const QString skip = QStringLiteral("تخطي هذا الإصدار");
    const struct {
        bool manual;
        bool downloadPage;
        QStringList buttons;
    } cases[] = {
        {false, true, {page, later, skip}},
        {true, true, {page, later}},
        {false, false, {later, skip}},
        {true, false, {later}},
    };
    for (const auto& c : cases) {
        const auto alert =
            Updater::makeAlert(Release{QStringLiteral("2.0"), 5, std::nullopt}, c.manual, QStringLiteral("1.4"), c.downloadPage);
        EXPECT_EQ(alert.buttons, c.buttons) << c.manual << c.downloadPage;
    }
}

TEST(UpdaterAlert, nullNotesDecodeAsNone)
{
    const Release release = Updater::decodeManifest(R"({"mac":{"version":"2","build":3,"notes":null}})");
    EXPECT_FALSE(release.notes.has_value());
}
