#pragma once

// Command-line handling shared by the benchmarks that drive the built
// executable on the bundled sample release.

#include <QHash>
#include <QString>
#include <QStringList>

namespace quorvel::bench {

// "--name value" pairs after the program name, read two at a time; a later
// pair for the same name wins and a lone trailing word is ignored.
class BenchArgs
{
public:
    explicit BenchArgs(const QStringList& args);

    // The value given for `name`, or `fallback`.
    QString text(const QString& name, const QString& fallback) const;
    // The value given for `name` as a number no lower than `least`, or `fallback`.
    int number(const QString& name, int fallback, int least) const;

private:
    QHash<QString, QString> values_;
};

// The sample release catalogue in the source tree.
QString sampleCatalogPath();

// The quorvel executable one folder above the running benchmark.
QString defaultQuorvelPath();

} // namespace quorvel::bench
