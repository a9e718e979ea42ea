#pragma once

// Tests of the inference server and the chat: the project's fake server
// stands in for the real one, and its "model" file is the script that says
// how it behaves. What it logs beside the script (arguments, process ids,
// health probes, request bodies) is what the tests read back.

#include "assistant/LocalLLM.h"

#include "core/Preferences.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace quorvel::test {

class FakeServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LocalLLM::Testing::setServerBinary(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER));
        Preferences::standard().remove(QStringLiteral("localModelPath"));
    }
    void TearDown() override
    {
        LocalLLM::stop();
        // The next test may need the same port: wait until every child of
        // this one is gone (reaped, not a zombie).
        for (const QString& script : scripts_) {
            for (const QString& pid : logLines(script, ".pids"))
                EXPECT_TRUE(waitGone(pid.toLongLong())) << "child " << pid.toStdString() << " was not reaped";
        }
        LocalLLM::Testing::setServerBinary(std::nullopt);
        Preferences::standard().remove(QStringLiteral("localModelPath"));
    }

    // Writes a script and makes it the chosen model.
    QString useScript(const QString& name, const QString& text)
    {
        const QString path = writeScript(name, text);
        Preferences::standard().set(QStringLiteral("localModelPath"), path);
        return path;
    }
    QString writeScript(const QString& name, const QString& text)
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        scripts_ << path;
        return path;
    }

    static QStringList logLines(const QString& script, const char* suffix)
    {
        QFile file(script + QLatin1String(suffix));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeAll(QString());
        return lines;
    }
    static QStringList launches(const QString& script) { return logLines(script, ".args"); }
    static int probes(const QString& script) { return int(logLines(script, ".probes").size()); }

    // The argument list the server is launched with, as the fake logs it.
    static QString expectedArguments(const QString& model, int port)
    {
        return QStringLiteral(R"(["-m","%1","--host","127.0.0.1","--port","%2","-c","8192","-ngl","99","--no-webui"])")
            .arg(model)
            .arg(port);
    }

    // True once the process has exited and been reaped: a zombie keeps its
    // /proc entry.
    static bool waitGone(long long pid)
    {
        const QString entry = QStringLiteral("/proc/%1").arg(pid);
        for (int i = 0; i < 500 && QFile::exists(entry); ++i)
            QTest::qWait(10);
        return !QFile::exists(entry);
    }

    ScopedEnv noModel_{"QUORVEL_NO_MODEL", std::nullopt};
    QTemporaryDir dir_;
    QStringList scripts_;
};

} // namespace quorvel::test
