#pragma once

// A computed table as the assistant hands it over: display text only (every
// number already formatted for the reader), with the chart's bars beside the
// rows as plain numbers so that a chart is drawn without parsing cells again.
//
// What producers keep: every chart entry has exactly `series.size()` values
// (value i belongs to series i); the chart covers at most the first rows, in
// their order; values are non-negative whole numbers; a row may be shorter
// than `columns` (readers fill the missing cells with empty text), never
// longer.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quorvel {

struct DataTable {
    // One bar group of the chart.
    struct ChartEntry {
        QString label;
        QList<double> values; // one per series
    };

    QString title;
    QStringList columns;      // in reading order: the first is the rightmost on screen
    QList<QStringList> rows;
    QList<ChartEntry> chart;  // empty when the table has no chart
    QStringList series;       // the name of each bar within a group
    std::optional<QString> note; // a remark under the table; an empty text is still a note
};

} // namespace quorvel
