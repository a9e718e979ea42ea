#pragma once

// The application update check, headless side: where the manifest and the
// download page are, what this build is, fetching and decoding the manifest,
// and the texts every way of checking shows. The application never replaces
// itself; a newer build is only described and its download page offered.
//
// The manifest and download-page addresses are build settings, empty unless
// the build names them, so that a build without them never contacts a host:
// with no address every check fails with UpdateError::Kind::NotConfigured.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace quorvel::Updater {

// One published release, the manifest's "mac" member.
struct Release {
    QString version;                  // shown to the user only
    std::int64_t build = 0;           // the only thing compared
    std::optional<QStringList> notes; // release notes, one line each
};

// Why a fetch of the manifest failed.
class UpdateError : public std::runtime_error {
public:
    enum class Kind {
        NotConfigured,     // neither the environment nor the build names a manifest
        BadURL,            // the manifest text is no usable URL
        BadServerResponse, // not an HTTP answer, or a status other than 200
        Network,           // the transfer failed or timed out
        File,              // a file URL that could not be read
        Decode,            // a body that is not a manifest
        Refused,           // a manifest whose texts must not be shown; the description says why, in Arabic
    };
    UpdateError(Kind kind, const QString& description)
        : std::runtime_error(description.toStdString()), kind_(kind), description_(description) {}
    Kind kind() const { return kind_; }
    const QString& description() const { return description_; }

private:
    Kind kind_;
    QString description_;
};

inline constexpr const char* manifestVariable = "QUORVEL_UPDATE_URL";
inline constexpr int fetchTimeoutMs = 15 * 1000;
// A server that trickles bytes never trips the inactivity limit above: the
// whole fetch has this long.
inline constexpr int fetchDeadlineMs = 30 * 1000;
// A manifest is a few lines; a larger body is not one and is not read whole.
inline constexpr qsizetype manifestLimit = 1 << 20;
inline constexpr int launchDelayMs = 3 * 1000;

// The download page; an empty URL when the build names none.
QUrl page();
// The manifest address: $QUORVEL_UPDATE_URL verbatim when set (even empty),
// else the build's address; nothing when neither exists. Read once.
std::optional<QString> manifest();
// The same choice made from given values, for tests.
std::optional<QString> chooseManifest(const std::optional<QString>& environment, const QString& builtIn);

// This build's version text ("1.0" when the build gives none) and number.
QString currentVersion();
std::int64_t currentBuild();
// A build number text: an optional sign then ASCII digits within 64 bits;
// anything else (empty, not a number, out of range) is 0.
std::int64_t parseBuild(const QString& text);

// Decodes a manifest body; throws UpdateError(Decode) when it is not one,
// and UpdateError(Refused) when its version or a note holds what the alert
// or a terminal would act on or not show (a control, format or separator
// character, an invisible filler, marks stacked on one letter) or the
// version is longer than a version can be.
Release decodeManifest(const QByteArray& body);
// Decodes one release object on its own (the manifest's "mac" member, with
// its "version", "build" and optional "notes"); throws UpdateError(Decode)
// or UpdateError(Refused) as decodeManifest does.
Release decodeRelease(const QByteArray& body);
// Fetches and decodes the manifest at this address (a file URL is read from
// disk with no status check; a regular file only). Reads at most
// manifestLimit bytes and gives up after deadlineMs, reporting the time-out
// in Arabic. Blocks; throws UpdateError.
Release fetchManifest(const QString& address, int deadlineMs = fetchDeadlineMs);
// fetchManifest(manifest()), or NotConfigured. Blocks; throws UpdateError.
Release latest();

// A release is newer exactly when its build is greater; versions are never compared.
inline bool isNewer(const Release& release, std::int64_t current) { return release.build > current; }

// What a check does with a fetched release.
enum class Outcome { Offer, UpToDate, Silent };
// The launch check offers a newer build unless the user skipped it, and is silent otherwise.
Outcome launchOutcome(const Release& release, std::int64_t current, std::int64_t skipped);
// The manual check ignores the skipped build and says when nothing is newer.
Outcome manualOutcome(const Release& release, std::int64_t current);

// An alert's words, built without showing anything.
struct AlertText {
    QString title;
    QString text;
    QStringList buttons; // first is the default
};
// The offer of a release: download page (only when there is one), later,
// and (only at launch) skip.
AlertText makeAlert(const Release& release, bool manual, const QString& installedVersion = currentVersion(),
                    bool downloadPage = !page().isEmpty());
// The manual check's answers when nothing newer exists or the check failed.
AlertText upToDateAlert(const QString& installedVersion = currentVersion());
AlertText failureAlert();
AlertText notConfiguredAlert();

// The buttons of an offer with its download page; without one the others
// move up by one.
inline constexpr int downloadButton = 0;
inline constexpr int laterButton = 1;
inline constexpr int skipButton = 2;

// The command line's one line: "installed V (B) · latest V (B) · update available|up to date".
QString statusLine(const Release& release, const QString& installedVersion, std::int64_t installedBuild);

// "--check-update": the status line on stdout and 0, or a line on stderr and 1.
// Needs an application object (it makes one when none exists).
int runCommandLine(int argc, char** argv);

} // namespace quorvel::Updater
