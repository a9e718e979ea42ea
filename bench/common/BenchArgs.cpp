#include "BenchArgs.h"

#include <QCoreApplication>

#include <algorithm>

namespace quorvel::bench {

BenchArgs::BenchArgs(const QStringList& args)
{
    for (qsizetype i = 1; i + 1 < args.size(); i += 2)
        values_.insert(args[i], args[i + 1]);
}

QString BenchArgs::text(const QString& name, const QString& fallback) const
{
    return values_.value(name, fallback);
}

int BenchArgs::number(const QString& name, int fallback, int least) const
{
    const auto it = values_.constFind(name);
    return it == values_.cend() ? fallback : std::max(least, it->toInt());
}

QString sampleCatalogPath()
{
    return QStringLiteral(QUORVEL_SOURCE_DIR "/samples/catalog.json");
}

QString defaultQuorvelPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../quorvel");
}

} // namespace quorvel::bench
