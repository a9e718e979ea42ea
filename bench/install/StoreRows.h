#pragma once

// What an install leaves in a store, table by table, as a row count and a
// hash of the rows in order, so that a faster installer is seen to store the
// same rows as the one before it. A full-text table is taken by its content
// and its index's every term instance (term, row, column, offset) rather
// than by its segments, whose layout depends on when the table flushed its
// pending terms, not on what it holds. Two values are left out: the install
// time of each book and the count of the page index's changes (a count of
// writes that drops the index's "found whole" mark, not of what was written).
//
// The reference (bench/install/reference.tsv, or --reference FILE) holds
// "store<TAB>table<TAB>rows<TAB>hash" lines; a store the file lacks is added
// to it, and any difference is reported and fails the run.

#include "core/SQLiteDB.h"

#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>

namespace quorvel::bench {

struct TableRows {
    QString table;
    std::int64_t rows = 0;
    QString hash;
};

// Every table of the store with its rows, in name order.
QList<TableRows> storeRows(SQLiteDB& db);

class StoreReference {
public:
    explicit StoreReference(QString path);
    // Compares the store's tables with the reference's under `label`;
    // prints each difference and returns how many tables differ (0 for a
    // label the reference lacked, which is added).
    int check(const QString& label, const QList<TableRows>& tables);
    bool failedAny() const { return failed_; }
    // Writes the file when a label was added.
    void save() const;

private:
    QString path_;
    QMap<QString, QMap<QString, TableRows>> known_; // label → table → rows
    bool added_ = false;
    bool failed_ = false;
};

} // namespace quorvel::bench
