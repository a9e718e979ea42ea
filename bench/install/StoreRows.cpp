#include "StoreRows.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>

#include <cstdio>

namespace quorvel::bench {

namespace {

// Each value with its storage class, so that 1 and '1' and NULL and '' differ.
void addValue(QCryptographicHash& hash, const Statement::Value& value)
{
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                hash.addData("N;");
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                hash.addData("I" + QByteArray::number(static_cast<qlonglong>(v)) + ';');
            } else if constexpr (std::is_same_v<T, double>) {
                hash.addData("R" + QByteArray::number(v, 'g', 17) + ';');
            } else {
                const QByteArray bytes = v.toUtf8();
                hash.addData("T" + QByteArray::number(bytes.size()) + ':');
                hash.addData(bytes);
            }
        },
        value);
}

TableRows hashRows(SQLiteDB& db, const QString& table, const QString& sql)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    TableRows out{table, 0, {}};
    auto st = db.prepare(sql);
    Statement::Step step = Statement::Step::Error;
    if (st) {
        while ((step = st->next()) == Statement::Step::Row) {
            ++out.rows;
            for (const Statement::Value& value : st->row().vals)
                addValue(hash, value);
            hash.addData("\n");
        }
    }
    // A table that cannot be read whole differs from any reference.
    out.hash = step == Statement::Step::Done ? QString::fromLatin1(hash.result().toHex().left(16))
                                             : QStringLiteral("unreadable");
    return out;
}

QString quoted(const QString& name)
{
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// The columns of a table to hash, the install time of `installed` left out.
QStringList columnsOf(SQLiteDB& db, const QString& table)
{
    QStringList out;
    for (const auto& row : db.rows(QStringLiteral("SELECT name FROM pragma_table_info(?) ORDER BY cid"), {table})) {
        const QString column = row.str(0).value_or(QString());
        if (!(table == QLatin1String("installed") && column == QLatin1String("ts")))
            out << quoted(column);
    }
    return out;
}

} // namespace

QList<TableRows> storeRows(SQLiteDB& db)
{
    const auto tables =
        db.rows(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' "
                               "ORDER BY name"));
    QSet<QString> fullText;
    for (const auto& row : tables)
        if (row.str(1).value_or(QString()).contains(QLatin1String("USING fts5("), Qt::CaseInsensitive))
            fullText.insert(row.str(0).value_or(QString()));

    QList<TableRows> out;
    for (const auto& row : tables) {
        const QString name = row.str(0).value_or(QString());
        if (fullText.contains(name)) {
            // The index's term instances, in the order the index keeps them.
            const QString vocab = QStringLiteral("temp.%1_instances").arg(name);
            db.exec(QStringLiteral("DROP TABLE IF EXISTS %1; CREATE VIRTUAL TABLE %1 USING fts5vocab(main, %2, instance)")
                        .arg(vocab, name));
            out << hashRows(db, name + QStringLiteral(" (terms)"),
                            QStringLiteral("SELECT term, doc, col, offset FROM %1 ORDER BY term, doc, col, offset")
                                .arg(vocab));
            db.exec(QStringLiteral("DROP TABLE %1").arg(vocab));
            continue;
        }
        const qsizetype cut = name.lastIndexOf(u'_');
        if (cut > 0 && fullText.contains(name.left(cut))
            && (name.mid(cut) == QLatin1String("_data") || name.mid(cut) == QLatin1String("_idx")))
            continue;
        const bool withoutRowid = row.str(1).value_or(QString()).contains(QLatin1String("WITHOUT ROWID"),
                                                                          Qt::CaseInsensitive);
        const QStringList columns = columnsOf(db, name);
        QString sql = QStringLiteral("SELECT %1%2 FROM %3")
                          .arg(withoutRowid ? QString() : QStringLiteral("rowid, "), columns.join(u','), quoted(name));
        if (name == QLatin1String("meta"))
            sql += QStringLiteral(" WHERE key <> 'page_index_changes'");
        sql += withoutRowid ? QStringLiteral(" ORDER BY %1").arg(columns.join(u',')) : QStringLiteral(" ORDER BY rowid");
        out << hashRows(db, name, sql);
    }
    return out;
}

StoreReference::StoreReference(QString path) : path_(std::move(path))
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 4)
            known_[QString::fromUtf8(f[0])].insert(QString::fromUtf8(f[1]),
                                                  {QString::fromUtf8(f[1]), f[2].toLongLong(), QString::fromUtf8(f[3])});
    }
}

int StoreReference::check(const QString& label, const QList<TableRows>& tables)
{
    const auto it = known_.constFind(label);
    if (it == known_.constEnd()) {
        for (const TableRows& t : tables)
            known_[label].insert(t.table, t);
        added_ = true;
        return 0;
    }
    int differ = 0;
    QSet<QString> seen;
    for (const TableRows& t : tables) {
        seen.insert(t.table);
        const auto ref = it->constFind(t.table);
        if (ref != it->constEnd() && ref->rows == t.rows && ref->hash == t.hash)
            continue;
        ++differ;
        std::fprintf(stderr, "%s: table %s differs: %lld rows %s, reference %lld rows %s\n", qPrintable(label),
                     qPrintable(t.table), static_cast<long long>(t.rows), qPrintable(t.hash),
                     static_cast<long long>(ref == it->constEnd() ? -1 : ref->rows),
                     ref == it->constEnd() ? "(none)" : qPrintable(ref->hash));
    }
    for (const TableRows& ref : *it)
        if (!seen.contains(ref.table)) {
            ++differ;
            std::fprintf(stderr, "%s: table %s is missing\n", qPrintable(label), qPrintable(ref.table));
        }
    if (differ > 0)
        failed_ = true;
    return differ;
}

void StoreReference::save() const
{
    if (!added_)
        return;
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (auto label = known_.constBegin(); label != known_.constEnd(); ++label)
        for (const TableRows& t : *label)
            file.write(QStringLiteral("%1\t%2\t%3\t%4\n").arg(label.key(), t.table).arg(t.rows).arg(t.hash).toUtf8());
}

} // namespace quorvel::bench
