#include "ui/kit/Desktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

#include <utility>

namespace quorvel::Desktop {

namespace {
std::function<bool(const QUrl&)>& hook()
{
    static std::function<bool(const QUrl&)> current;
    return current;
}
} // namespace

bool open(const QUrl& url)
{
    if (hook())
        return hook()(url);
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return false;
    return QDesktopServices::openUrl(url);
}

bool reveal(const QString& path)
{
    return open(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

std::function<bool(const QUrl&)> setHook(std::function<bool(const QUrl&)> replacement)
{
    return std::exchange(hook(), std::move(replacement));
}

} // namespace quorvel::Desktop
