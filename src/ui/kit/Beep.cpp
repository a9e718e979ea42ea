#include "ui/kit/Beep.h"

#include <QApplication>

namespace quorvel::Beep {

namespace {
std::function<void()>& hook()
{
    static std::function<void()> current;
    return current;
}
} // namespace

void play()
{
    if (hook())
        hook()();
    else
        QApplication::beep();
}

std::function<void()> setHook(std::function<void()> replacement)
{
    return std::exchange(hook(), std::move(replacement));
}

} // namespace quorvel::Beep
