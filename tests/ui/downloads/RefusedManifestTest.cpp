// A manual update check whose manifest came but failed its checks says that
// the update information was refused and why, not that the connection failed.

#include "ui/WindowTestSupport.h"

#include "core/Settings.h"
#include "ui/downloads/UpdateCheck.h"
#include "support/Wait.h"
#include "ui/kit/Dialogs.h"

#include <QTest>

#include <atomic>
#include <memory>

using namespace quorvel;
using Updater::Release;
using Updater::UpdateError;

namespace {

class RefusedManifestTest : public test::WindowTest {
protected:
    RefusedManifestTest() : WindowTest({Settings::skippedBuildKey, Settings::checkUpdatesKey}) {}

    // One manual check of `body`, waited for until its alert is asked.
    QList<Dialogs::Request> check(const QByteArray& body)
    {
        dialogs.clear();
        Updater::check(true, [body] { return Updater::decodeManifest(body); });
        EXPECT_EVENTUALLY(!dialogs.requests().isEmpty(), 5000);
        return dialogs.requests();
    }

    ScriptedDialogs dialogs;
};

} // namespace

TEST_F(RefusedManifestTest, aManifestThatFailsItsChecksIsSaidToBeRefusedWithWhy)
{
    // A note turning its line around with a right-to-left override.
    const QByteArray overridden = QStringLiteral(R"({"mac":{"version":"9.0","build":999999,"notes":["جديد %1 هنا"]}})")
                                      .arg(QChar(0x202E))
                                      .toUtf8();
    const QList<Dialogs::Request> refused = check(overridden);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused[0].title, QStringLiteral("رُفضت معلومات التحديث"));
    EXPECT_TRUE(refused[0].text.startsWith(QStringLiteral("وصل بيان التحديث لكنه لم يجتز الفحص")))
        << refused[0].text.toStdString();
    EXPECT_FALSE(refused[0].text.contains(QStringLiteral("الاتصال بالإنترنت")));
    // Why, in the checker's words.
    try {
        Updater::decodeManifest(overridden);
        ADD_FAILURE() << "the manifest was taken";
    } catch (const UpdateError& error) {
        EXPECT_TRUE(refused[0].text.contains(error.description())) << refused[0].text.toStdString();
    }

    // Not a manifest at all: refused too.
    const QList<Dialogs::Request> junk = check("<html>");
    ASSERT_EQ(junk.size(), 1);
    EXPECT_EQ(junk[0].title, QStringLiteral("رُفضت معلومات التحديث"));

    // A manifest for other systems only: no release came, and the reader is
    // told so without the name of a system his is not.
    const QList<Dialogs::Request> elsewhere = check(R"({"win":{"version":"9.0","build":999999,"notes":[]}})");
    ASSERT_EQ(elsewhere.size(), 1);
    EXPECT_TRUE(elsewhere[0].text.contains(QStringLiteral("لا يذكر بيان التحديث إصدارا لهذا البرنامج")))
        << elsewhere[0].text.toStdString();
    for (const char* other : {"mac", "win", "الإصدار الجديد"})
        EXPECT_FALSE(elsewhere[0].text.contains(QString::fromUtf8(other))) << elsewhere[0].text.toStdString();
}
