// The windowed update check with scripted dialogs and fetches: the launch
// check's silences, the manual check's answers and the skip button.

#include "ui/WindowTestSupport.h"

#include "core/Settings.h"
#include "ui/downloads/UpdateCheck.h"
#include "ui/kit/Dialogs.h"
#include "support/Wait.h"

#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTextDocument>
#include <QThreadPool>

#include <memory>

using namespace quorvel;
using Updater::Release;
using Updater::UpdateError;

namespace {

class UpdateCheckTest : public test::WindowTest {
protected:
    UpdateCheckTest() : WindowTest({Settings::skippedBuildKey, Settings::checkUpdatesKey, Settings::indicDigitsKey}) {}

    // Runs one check and waits until its answer (or its silence) has arrived:
    // the fetch's job posts the answer before it ends, so a call posted once
    // the pool is idle runs after the answer.
    void run(bool manual, std::function<Release()> fetch)
    {
        Updater::check(manual, std::move(fetch));
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(5000));
        bool answered = false;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&answered] { answered = true; }, Qt::QueuedConnection);
        ASSERT_EVENTUALLY(answered, 5000);
    }

    static std::function<Release()> returns(std::int64_t build)
    {
        return [build] { return Release{QStringLiteral("9.0"), build, std::nullopt}; };
    }
    static std::function<Release()> fails(UpdateError::Kind kind)
    {
        return [kind]() -> Release { throw UpdateError(kind, QStringLiteral("x")); };
    }

    ScriptedDialogs dialogs;
};

} // namespace

TEST_F(UpdateCheckTest, skippedBuildIsSilentAtLaunchButOfferedOnDemand)
{
    const std::int64_t newer = Updater::currentBuild() + 1;
    Settings::setSkippedBuild(newer);
    run(false, returns(newer));
    EXPECT_TRUE(dialogs.requests().isEmpty());

    run(true, returns(newer));
    const auto choices = dialogs.requestsOf(Dialogs::Kind::Choice);
    ASSERT_EQ(choices.size(), 1);
    // "Later", after the download page when this build names one.
    EXPECT_EQ(choices.first().buttons.size(), Updater::page().isEmpty() ? 1 : 2);
}

TEST_F(UpdateCheckTest, skipButtonRemembersTheBuildAndLaterDoesNot)
{
    const std::int64_t newer = Updater::currentBuild() + 5;
    dialogs.answer(QStringLiteral("لاحقا"));
    run(false, returns(newer));
    EXPECT_EQ(Settings::skippedBuild(), 0);
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Choice).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Choice).first().buttons.size(), Updater::page().isEmpty() ? 2 : 3);

    dialogs.answer(QStringLiteral("تخطي هذا الإصدار"));
    run(false, returns(newer));
    EXPECT_EQ(Settings::skippedBuild(), newer);
}

TEST_F(UpdateCheckTest, manualCheckAnswersEveryOutcomeAndLaunchCheckNone)
{
    Settings::setIndicDigits(false);
    for (const std::int64_t build : {Updater::currentBuild(), Updater::currentBuild() - 1}) {
        run(false, returns(build));
        EXPECT_TRUE(dialogs.requests().isEmpty());
        run(true, returns(build));
        ASSERT_EQ(dialogs.requests().size(), 1);
        EXPECT_EQ(dialogs.requests().first().title, QStringLiteral("لديك أحدث إصدار"));
        EXPECT_EQ(dialogs.requests().first().text,
                  QStringLiteral("الإصدار ") + Updater::currentVersion() + QStringLiteral(" هو الأحدث."));
        dialogs.clear();
    }
    run(false, fails(UpdateError::Kind::BadServerResponse));
    EXPECT_TRUE(dialogs.requests().isEmpty());
    run(true, fails(UpdateError::Kind::BadServerResponse));
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests().first().title, QStringLiteral("تعذر التحقق من التحديثات"));
    EXPECT_EQ(dialogs.requests().first().text, QStringLiteral("تأكد من الاتصال بالإنترنت ثم أعد المحاولة."));
    dialogs.clear();
    run(true, fails(UpdateError::Kind::NotConfigured));
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests().first().text, Updater::notConfiguredAlert().text);
}

TEST_F(UpdateCheckTest, launchCheckStartsOnlyWhenEnabled)
{
    Settings::setCheckUpdates(false);
    EXPECT_FALSE(Updater::checkOnLaunch());
    Settings::setCheckUpdates(true);
    EXPECT_TRUE(Updater::checkOnLaunch());
}

// A manifest's texts are shown as written: a version holding a link reads
// as its tags, and thirty thousand notes,
// blank or not, make an offer no taller than a dozen of them.
TEST_F(UpdateCheckTest, anOfferShowsTheManifestAsPlainTextAndBoundsItsNotes)
{
    const QString link = QStringLiteral("<a href=\"http://example.invalid\">2</a>");
    const QString red = QStringLiteral("<font color=red>أحمر</font>");
    QStringList notes{red};
    for (int i = 0; i < 30'000; ++i)
        notes << (i % 2 ? QString() : QStringLiteral("إصلاح"));
    const Updater::AlertText alert = Updater::makeAlert(Release{link, 9, notes}, true, QStringLiteral("1.0"), true);
    EXPECT_LT(alert.text.count(u'\n'), 24);
    const std::unique_ptr<QMessageBox> box(Dialogs::messageBox(alert.title, alert.text, alert.buttons));
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    EXPECT_LT(box->height(), 1000);
    EXPECT_TRUE(alert.text.contains(red));
    // The label shows its tags as text rather than obeying them.
    for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
        const auto* label = box->findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_TRUE(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(label->text())) << name;
    }
    EXPECT_TRUE(box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text().contains(QStringLiteral("<a href=")));
}
