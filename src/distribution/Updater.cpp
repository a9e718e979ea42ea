#include "distribution/Updater.h"

#include "core/Arabic.h"
#include "core/Build.h"
#include "core/CountedNoun.h"
#include "core/DistFetch.h"
#include "core/Json.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#ifndef QUORVEL_UPDATE_MANIFEST
#define QUORVEL_UPDATE_MANIFEST ""
#endif
#ifndef QUORVEL_DOWNLOAD_PAGE
#define QUORVEL_DOWNLOAD_PAGE ""
#endif

namespace quorvel::Updater {

namespace {

constexpr const char* kOfferTitle = "إصدار جديد من مكتبة قورفل: ";
constexpr const char* kInstalledPrefix = "لديك الإصدار ";
constexpr const char* kNotesHeading = "الجديد:";
constexpr const char* kNoteBullet = "· ";
constexpr const char* kMoreNotes = "و%1 غيرها";
// The application is a folder or package the user unpacks; replacing it
// leaves the library, notes and settings in the user's own folders.
constexpr const char* kHowToUpdate =
    "للتحديث: نزل الملف، ثم أغلق التطبيق وضع النسخة الجديدة مكان القديمة. "
    "كتبك وملاحظاتك وإعداداتك تبقى كما هي.";
constexpr const char* kDownloadTitle = "صفحة التنزيل";
constexpr const char* kLaterTitle = "لاحقا";
constexpr const char* kSkipTitle = "تخطي هذا الإصدار";
constexpr const char* kUpToDateTitle = "لديك أحدث إصدار";
constexpr const char* kFailedTitle = "تعذر التحقق من التحديثات";
constexpr const char* kFailedText = "تأكد من الاتصال بالإنترنت ثم أعد المحاولة.";
constexpr const char* kNotConfiguredText = "لم يُحدَّد في هذا الإصدار عنوانٌ للتحقق من التحديثات.";
// A manifest refused for text that must not reach the alert or a terminal.
constexpr char kMsgRefusedPrefix[] = "رُفض بيان التحديث: ";
constexpr char kMsgVersion[] = "رقم الإصدار";
constexpr char kMsgNote[] = "إحدى ملاحظات الإصدار";
constexpr char kMsgTooLong[] = "%1 أطول من المقبول";
constexpr char kMsgBlank[] = "%1 فارغ";
constexpr char kMsgActingCharacter[] = "في %1 حرف تحكّم أو فاصل أسطر";
constexpr char kMsgInvisibleCharacter[] = "في %1 حرف لا يظهر";
constexpr char kMsgStackedMarks[] = "في %1 علامات مكدّسة فوق حرف واحد";

// Why a manifest does not decode, said to the reader; %1 is a member's name.
constexpr char kMsgNoObject[] = "ليس بيان التحديث كائن JSON";
// The member a manifest keeps this program's release under is a name of the
// wire, not of the reader's system: the reader is not shown it.
constexpr char kMsgNoRelease[] = "لا يذكر بيان التحديث إصدارا لهذا البرنامج على هذا النظام";
constexpr char kMsgNoVersion[] = "ليس في إصدار بيان التحديث نص %1";
constexpr char kMsgNoBuild[] = "ليس في إصدار بيان التحديث رقم %1 صحيح";
constexpr char kMsgNotesNoList[] = "ملاحظات الإصدار في بيان التحديث ليست قائمة";
constexpr char kMsgNoteNoText[] = "إحدى ملاحظات الإصدار في بيان التحديث ليست نصا";
constexpr char kMsgTooLarge[] = "بيان التحديث أكبر من %1 بايت";

[[noreturn]] void fail(UpdateError::Kind kind, const QString& description)
{
    throw UpdateError(kind, description);
}

// An Arabic reason, kept right to left wherever it is shown (the alert sets
// a decoder's words apart left to right); `latin`, a member's name or a
// number, stays left to right inside it.
[[noreturn]] void failDecoding(const char* reason, const QString& latin = QString())
{
    constexpr QChar rightToLeftIsolate(0x2067);
    constexpr QChar leftToRightIsolate(0x2066);
    constexpr QChar popIsolate(0x2069);
    QString text = QString::fromUtf8(reason);
    if (!latin.isEmpty())
        text = text.arg(leftToRightIsolate + latin + popIsolate);
    fail(UpdateError::Kind::Decode, rightToLeftIsolate + text + popIsolate);
}

// The most combining marks one letter carries in any script this library
// shows; a deeper stack climbs over the lines around it.
constexpr int kMostMarksOnALetter = 6;
// A version is a few characters ("2.1", "1.0 تجريبي").
constexpr qsizetype kLongestVersion = 64;

// The blank braille pattern: a symbol to Unicode, blank on every screen.
constexpr char32_t kBlankBraille = 0x2800;

// Characters that show nothing yet take room or stand in for text: those
// ignorable by default (the Hangul fillers, the grapheme joiner, the
// variation selectors) and the blank braille pattern.
bool isInvisibleFiller(char32_t c)
{
    return u_hasBinaryProperty(UChar32(c), UCHAR_DEFAULT_IGNORABLE_CODE_POINT) || c == kBlankBraille;
}

// Why a text may not be shown in the update alert or printed on a terminal
// (a reason above, naming the text as %1), or nothing when it may. Refused
// alike: a character that a terminal or an alert acts on instead of showing
// (a control; a format character such as a bidi override that turns the
// rest of the line around; a line or paragraph separator that forges a line
// of its own), one that shows nothing (an invisible filler, an unassigned or
// private character), and marks stacked past any script's use.
std::optional<QString> unshowable(const QString& text)
{
    int marks = 0;
    for (const char32_t c : text.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return QString::fromUtf8(kMsgActingCharacter);
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
            return QString::fromUtf8(kMsgInvisibleCharacter);
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            if (++marks > kMostMarksOnALetter)
                return QString::fromUtf8(kMsgStackedMarks);
            break;
        default:
            marks = 0;
            break;
        }
        if (isInvisibleFiller(c))
            return QString::fromUtf8(kMsgInvisibleCharacter);
    }
    return std::nullopt;
}

// `why` is one of the reasons above, `what` names the text it found.
[[noreturn]] void refuse(const char* what, const QString& why)
{
    fail(UpdateError::Kind::Refused,
         QString::fromUtf8(kMsgRefusedPrefix) + why.arg(QString::fromUtf8(what)) + u'.');
}

// The release object's own keys, however it was reached.
Release readRelease(const Json::Value& member)
{
    Release release;
    const auto version = Json::strictString(member, "version");
    const auto build = Json::strictInt(member, "build");
    if (!version)
        failDecoding(kMsgNoVersion, QStringLiteral("\"version\""));
    if (!build)
        failDecoding(kMsgNoBuild, QStringLiteral("\"build\""));
    // A version text is shown in an alert and printed on a terminal.
    if (version->size() > kLongestVersion)
        refuse(kMsgVersion, QString::fromUtf8(kMsgTooLong));
    if (version->trimmed().isEmpty())
        refuse(kMsgVersion, QString::fromUtf8(kMsgBlank));
    if (const std::optional<QString> why = unshowable(*version))
        refuse(kMsgVersion, *why);
    release.version = *version;
    release.build = *build;
    const auto notes = member.find("notes");
    if (notes != member.end() && !notes->is_null()) {
        if (!notes->is_array())
            failDecoding(kMsgNotesNoList);
        QStringList lines;
        for (const Json::Value& note : *notes) {
            const auto line = Json::asString(note);
            if (!line)
                failDecoding(kMsgNoteNoText);
            // Notes are shown in the update alert, line by line.
            if (const std::optional<QString> why = unshowable(*line))
                refuse(kMsgNote, why.value());
            lines << *line;
        }
        release.notes = lines;
    }
    return release;
}

[[noreturn]] void tooLarge()
{
    failDecoding(kMsgTooLarge, Arabic::num(manifestLimit));
}

QByteArray readFile(const QUrl& url)
{
    QByteArray body;
    try {
        body = Dist::readRegularFile(url.toLocalFile(), url.toLocalFile(), manifestLimit + 1);
    } catch (const std::exception& error) {
        fail(UpdateError::Kind::File, Dist::describe(error));
    }
    if (body.size() > manifestLimit)
        tooLarge();
    return body;
}

QByteArray download(const QUrl& url, int deadlineMs)
{
    constexpr const char* kUserAgentPrefix = "QuorvelLibrary/";
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(fetchTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromUtf8(kUserAgentPrefix) + currentVersion());
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QByteArray body;
    bool overLimit = false;
    bool overdue = false;
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // The body is taken as it arrives, so an endless one is cut off.
        QObject::connect(reply.get(), &QIODevice::readyRead, &loop, [&] {
            body += reply->read(manifestLimit + 1 - body.size());
            if (body.size() > manifestLimit && !overLimit) {
                overLimit = true;
                reply->abort();
            }
        });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
            overdue = true;
            reply->abort();
        });
        deadline.start(deadlineMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (overdue)
        fail(UpdateError::Kind::Network, Dist::networkReason(QNetworkReply::TimeoutError));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A server that answered at all is judged by its status alone.
    if (status.isValid() && status.toInt() != 200)
        fail(UpdateError::Kind::BadServerResponse, QStringLiteral("bad server response (HTTP %1)").arg(status.toInt()));
    if (overLimit)
        tooLarge();
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::TimeoutError || error == QNetworkReply::OperationCanceledError)
        fail(UpdateError::Kind::Network, Dist::networkReason(error));
    if (error != QNetworkReply::NoError)
        fail(UpdateError::Kind::Network, reply->errorString());
    if (!status.isValid())
        fail(UpdateError::Kind::BadServerResponse, QStringLiteral("bad server response"));
    body += reply->read(manifestLimit + 1 - body.size());
    if (body.size() > manifestLimit)
        tooLarge();
    return body;
}

} // namespace

QUrl page()
{
    static const QUrl url(QString::fromUtf8(QUORVEL_DOWNLOAD_PAGE));
    return url;
}

std::optional<QString> chooseManifest(const std::optional<QString>& environment, const QString& builtIn)
{
    if (environment)
        return environment;
    if (builtIn.isEmpty())
        return std::nullopt;
    return builtIn;
}

std::optional<QString> manifest()
{
    static const std::optional<QString> address = [] {
        std::optional<QString> environment;
        if (qEnvironmentVariableIsSet(manifestVariable))
            environment = qEnvironmentVariable(manifestVariable);
        return chooseManifest(environment, QString::fromUtf8(QUORVEL_UPDATE_MANIFEST));
    }();
    return address;
}

QString currentVersion()
{
    // What a build made without a version calls itself.
    constexpr const char* kDefaultVersion = "1.0";
    const QString version = QString::fromUtf8(build::version);
    return version.isEmpty() ? QString::fromUtf8(kDefaultVersion) : version;
}

std::int64_t currentBuild() { return parseBuild(QString::fromUtf8(build::numberText)); }

std::int64_t parseBuild(const QString& text)
{
    if (text.isEmpty())
        return 0;
    qsizetype start = (text.front() == u'+' || text.front() == u'-') ? 1 : 0;
    if (start == text.size())
        return 0;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text.at(i) < u'0' || text.at(i) > u'9')
            return 0;
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok ? value : 0;
}

Release decodeManifest(const QByteArray& body)
{
    constexpr const char* kReleaseMember = "mac";
    const auto root = Json::parse(body);
    if (!root || !root->is_object())
        failDecoding(kMsgNoObject);
    const auto member = root->find(kReleaseMember);
    if (member == root->end() || !member->is_object())
        failDecoding(kMsgNoRelease);
    return readRelease(*member);
}

Release decodeRelease(const QByteArray& body)
{
    const auto root = Json::parse(body);
    if (!root || !root->is_object())
        failDecoding(kMsgNoObject);
    return readRelease(*root);
}


Release fetchManifest(const QString& address, int deadlineMs)
{
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        fail(UpdateError::Kind::BadURL, QStringLiteral("bad URL: \"%1\"").arg(address));
    if (url.isLocalFile())
        return decodeManifest(readFile(url));
    if (url.scheme() != u"http" && url.scheme() != u"https")
        fail(UpdateError::Kind::BadURL, QStringLiteral("unsupported URL: \"%1\"").arg(address));
    return decodeManifest(download(url, deadlineMs));
}

Release latest()
{
    const std::optional<QString> address = manifest();
    if (!address)
        fail(UpdateError::Kind::NotConfigured, QStringLiteral("no update address is configured in this build (set %1)")
                                                   .arg(QString::fromUtf8(manifestVariable)));
    return fetchManifest(*address);
}

Outcome launchOutcome(const Release& release, std::int64_t current, std::int64_t skipped)
{
    return isNewer(release, current) && release.build != skipped ? Outcome::Offer : Outcome::Silent;
}

Outcome manualOutcome(const Release& release, std::int64_t current)
{
    return isNewer(release, current) ? Outcome::Offer : Outcome::UpToDate;
}

AlertText makeAlert(const Release& release, bool manual, const QString& installedVersion, bool downloadPage)
{
    AlertText alert;
    alert.title = QString::fromUtf8(kOfferTitle) + Arabic::version(release.version);
    alert.text = QString::fromUtf8(kInstalledPrefix) + Arabic::version(installedVersion) + u'.';
    // The notes an offer shows, and the letters of each: a manifest may list
    // thousands, and the alert grows with every line it shows.
    constexpr qsizetype kNotesShown = 12;
    constexpr qsizetype kLongestNoteShown = 300;
    constexpr char16_t kEllipsis = 0x2026;
    // Blank notes show nothing; past the first few, only their number.
    QStringList lines;
    qsizetype more = 0;
    for (const QString& note : release.notes.value_or(QStringList())) {
        const QString shown = note.trimmed();
        if (shown.isEmpty())
            continue;
        if (lines.size() == kNotesShown) {
            ++more;
            continue;
        }
        lines << QString::fromUtf8(kNoteBullet)
                + (shown.size() > kLongestNoteShown ? shown.left(kLongestNoteShown) + QChar(kEllipsis) : shown);
    }
    if (more > 0) {
        static const CountedNoun notes(QStringLiteral("ملاحظة"), QStringLiteral("ملاحظتان"), QStringLiteral("ملاحظات"),
                                       QStringLiteral("ملاحظة"));
        lines << QString::fromUtf8(kMoreNotes).arg(notes.count(more));
    }
    if (!lines.isEmpty())
        alert.text += QStringLiteral("\n\n") + QString::fromUtf8(kNotesHeading) + u'\n' + lines.join(u'\n');
    alert.text += QStringLiteral("\n\n") + QString::fromUtf8(kHowToUpdate);
    if (downloadPage)
        alert.buttons << QString::fromUtf8(kDownloadTitle);
    alert.buttons << QString::fromUtf8(kLaterTitle);
    if (!manual)
        alert.buttons << QString::fromUtf8(kSkipTitle);
    return alert;
}

AlertText upToDateAlert(const QString& installedVersion)
{
    return {QString::fromUtf8(kUpToDateTitle), QStringLiteral("الإصدار ") + Arabic::version(installedVersion) + QStringLiteral(" هو الأحدث."),
            {}};
}

AlertText failureAlert() { return {QString::fromUtf8(kFailedTitle), QString::fromUtf8(kFailedText), {}}; }

AlertText notConfiguredAlert() { return {QString::fromUtf8(kFailedTitle), QString::fromUtf8(kNotConfiguredText), {}}; }

QString statusLine(const Release& release, const QString& installedVersion, std::int64_t installedBuild)
{
    return QStringLiteral("installed %1 (%2) · latest %3 (%4) · %5")
        .arg(installedVersion)
        .arg(installedBuild)
        .arg(release.version)
        .arg(release.build)
        .arg(isNewer(release, installedBuild) ? QStringLiteral("update available") : QStringLiteral("up to date"));
}

int runCommandLine(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    try {
        const Release release = latest();
        std::printf("%s\n", statusLine(release, currentVersion(), currentBuild()).toUtf8().constData());
        std::fflush(stdout);
        return 0;
    } catch (const UpdateError& error) {
        std::fprintf(stderr, "check failed: %s\n", error.description().toUtf8().constData());
        return 1;
    }
}

} // namespace quorvel::Updater
