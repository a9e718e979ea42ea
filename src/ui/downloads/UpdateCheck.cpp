#include "ui/downloads/UpdateCheck.h"

#include "core/Settings.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/RichTextBuilder.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QTimer>

#include <optional>

namespace quorvel::Updater {

namespace {

// A manifest that came but failed its checks is not a connection problem.
constexpr char kRefusedTitle[] = "رُفضت معلومات التحديث";
// What came may name no release at all: the text does not say one came.
constexpr char kRefusedText[] = "وصل بيان التحديث لكنه لم يجتز الفحص، فلم يُعرض منه شيء. السبب: ";

// What one fetch came to: a release, or why there is none.
struct Fetched {
    std::optional<Release> release;
    std::optional<UpdateError::Kind> failure;
    QString reason; // the checker's own words for the failure
};

void showAlert(const AlertText& alert) { Dialogs::alert(alert.title, alert.text); }

// Runs on the GUI thread with the fetch's outcome.
void finish(bool manual, const std::optional<Release>& release, std::optional<UpdateError::Kind> failure,
            const QString& reason)
{
    if (!release) {
        if (!manual)
            return;
        // A manifest refused for its texts is said why in Arabic; one that
        // does not decode, in the decoder's own Latin words, set apart.
        if (failure == UpdateError::Kind::Refused)
            showAlert({QString::fromUtf8(kRefusedTitle), QString::fromUtf8(kRefusedText) + reason, {}});
        else if (failure == UpdateError::Kind::Decode)
            showAlert({QString::fromUtf8(kRefusedTitle),
                       QString::fromUtf8(kRefusedText) + RichText::leftToRight(reason),
                       {}});
        else
            showAlert(failure == UpdateError::Kind::NotConfigured ? notConfiguredAlert() : failureAlert());
        return;
    }
    const Outcome outcome = manual ? manualOutcome(*release, currentBuild())
                                   : launchOutcome(*release, currentBuild(), Settings::skippedBuild());
    if (outcome == Outcome::Offer)
        offer(*release, manual);
    else if (outcome == Outcome::UpToDate)
        showAlert(upToDateAlert());
}

} // namespace

void check(bool manual, std::function<Release()> fetch)
{
    // The alerts belong to no window: the outcome goes to the application.
    GuiJob::run(
        QCoreApplication::instance(),
        [fetch = std::move(fetch)] {
            Fetched fetched;
            try {
                fetched.release = fetch();
            } catch (const UpdateError& error) {
                fetched.failure = error.kind();
                fetched.reason = error.description();
            } catch (const std::exception&) {
                fetched.failure = UpdateError::Kind::Network;
            }
            return fetched;
        },
        [manual](QCoreApplication&, const Fetched& fetched) {
            finish(manual, fetched.release, fetched.failure, fetched.reason);
        });
}

bool checkOnLaunch()
{
    if (!Settings::checkUpdates())
        return false;
    // A build without a manifest address has nothing to ask; the launch check stays silent.
    if (!manifest())
        return true;
    QTimer::singleShot(launchDelayMs, QCoreApplication::instance(), [] { check(false); });
    return true;
}

void checkNow() { check(true); }

void offer(const Release& release, bool manual)
{
    const bool hasPage = !page().isEmpty();
    const AlertText alert = makeAlert(release, manual, currentVersion(), hasPage);
    std::optional<int> choice = Dialogs::choose(alert.title, alert.text, alert.buttons);
    if (choice && !hasPage)
        ++*choice;
    if (choice == downloadButton) {
        QDesktopServices::openUrl(page());
    } else if (choice == skipButton) {
        Settings::setSkippedBuild(release.build);
    }
}

} // namespace quorvel::Updater
