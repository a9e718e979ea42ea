#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvel::test {

// Sets (or, with nothing, unsets) an environment variable for one scope and
// restores the earlier state when the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QString>& value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        if (value)
            qputenv(name, value->toUtf8());
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            qputenv(name_.constData(), *old_);
        else
            qunsetenv(name_.constData());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray name_;
    std::optional<QByteArray> old_;
};

} // namespace quorvel::test
