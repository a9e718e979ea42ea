#pragma once

// Runs the built application's snapshot harness on the installed sample
// library, offscreen, in a temporary folder with a user database of its own.

#include "ui/reader/ReaderTestSupport.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>

namespace quorvel::test {

struct SnapshotRun {
    int status = -1;
    bool finished = false;
    QStringList lines;  // standard output, one entry per line
    QString errors;     // standard error
    QString dir;        // the pictures' folder

    // The lines that begin with `prefix`.
    QStringList linesStartingWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines)
            if (line.startsWith(prefix))
                found.append(line);
        return found;
    }
    QString file(const QString& name) const { return QDir(dir).filePath(name); }
};

// One harness run: `variables` are added to the environment (an empty value
// still counts as present). Without `userDb`, QUORVEL_USERDB is removed, so
// that a refusing mode can be seen refusing; `home` gives the run a settings
// folder of its own either way.
class SnapshotProcess {
public:
    SnapshotProcess() : dir_(work_.filePath(QStringLiteral("out"))) {}

    QString userDb() const { return work_.filePath(QStringLiteral("user.db")); }
    QString work() const { return work_.path(); }

    SnapshotRun run(const std::map<QString, QString>& variables, bool withUserDb = true, int timeoutMs = 240000)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (name.startsWith(QStringLiteral("SNAP_")))
                env.remove(name);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QUORVEL_DB"), sampleLibraryPath());
        env.insert(QStringLiteral("HOME"), work_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), work_.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), work_.path());
        if (withUserDb)
            env.insert(QStringLiteral("QUORVEL_USERDB"), userDb());
        else
            env.remove(QStringLiteral("QUORVEL_USERDB"));
        for (const auto& [name, value] : variables)
            env.insert(name, value);

        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--snapshot"), dir_});
        SnapshotRun result;
        result.dir = dir_;
        result.finished = process.waitForFinished(timeoutMs);
        if (!result.finished)
            process.kill();
        result.status = process.exitCode();
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        result.lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

private:
    QTemporaryDir work_;
    QString dir_;
};

// True when the picture has the size and more than a handful of colours, so
// that a blank or single-colour grab is caught.
inline bool isPicture(const QString& path, QSize size = {})
{
    const QImage image(path);
    if (image.isNull() || (size.isValid() && image.size() != size))
        return false;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() <= 16; y += 7)
        for (int x = 0; x < image.width() && colours.size() <= 16; x += 7)
            colours.insert(image.pixel(x, y));
    return colours.size() > 16;
}

} // namespace quorvel::test
