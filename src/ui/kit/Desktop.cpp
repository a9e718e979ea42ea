#include "ui/kit/Desktop.h"

#include "ui/kit/Dialogs.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

#include <utility>

namespace quorvel::Desktop {

namespace {

constexpr char kWrittenTitle[] = "حُفظ الملف";
constexpr char kWrittenText[] = "حُفظ «%1» في المجلد:\n%2";
constexpr char kOpenFolder[] = "فتح المجلد";
constexpr char kNoLauncherTitle[] = "تعذّر فتح المجلد";
constexpr char kNoLauncherText[] = "لا برنامج على هذا الجهاز يفتح المجلدات. الملف في:\n%1";
// A file manager started by the call may take a moment to answer.
constexpr int kShowItemsTimeout = 5000; // milliseconds

std::function<bool(const QUrl&)>& hook()
{
    static std::function<bool(const QUrl&)> current;
    return current;
}

std::function<bool(const QString&)>& revealHook()
{
    static std::function<bool(const QString&)> current;
    return current;
}

bool offscreen()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

// The freedesktop file manager call, which opens the folder with the file
// selected; false when no file manager answers it.
bool showItem(const QString& path)
{
    if (offscreen())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    return bus.call(call, QDBus::Block, kShowItemsTimeout).type() == QDBusMessage::ReplyMessage;
}

QUrl folderOf(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absolutePath());
}

} // namespace

bool open(const QUrl& url)
{
    if (hook())
        return hook()(url);
    if (offscreen())
        return false;
    return QDesktopServices::openUrl(url);
}

bool reveal(const QString& path)
{
    if (revealHook())
        return revealHook()(path);
    return showItem(path) || open(folderOf(path));
}

void showWritten(const QString& path, QWidget* window)
{
    if (reveal(path))
        return;
    const QFileInfo file(path);
    const QStringList buttons{QString::fromUtf8(Dialogs::okTitle), QString::fromUtf8(kOpenFolder)};
    const QString text = QString::fromUtf8(kWrittenText).arg(file.fileName(), file.absolutePath());
    if (Dialogs::choose(QString::fromUtf8(kWrittenTitle), text, buttons, window) == 1 && !open(folderOf(path)))
        Dialogs::alert(QString::fromUtf8(kNoLauncherTitle), QString::fromUtf8(kNoLauncherText).arg(file.absoluteFilePath()),
                       window);
}

std::function<bool(const QUrl&)> setHook(std::function<bool(const QUrl&)> replacement)
{
    return std::exchange(hook(), std::move(replacement));
}

std::function<bool(const QString&)> setRevealHook(std::function<bool(const QString&)> replacement)
{
    return std::exchange(revealHook(), std::move(replacement));
}

} // namespace quorvel::Desktop
