#pragma once

// Data questions: counts, lists and tables computed from the catalogue and
// the full-text index rather than read from a passage ("how many books each
// century holds", "how often a word occurs in each category").
//
// The parser is rule-based: fixed word and phrase lists over the normalised
// question, then the remaining words matched against the catalogue's author
// and category names. It runs no query and uses no model.

#include "assistant/AIAnswer.h"
#include "assistant/DataTable.h"
#include "core/Theme.h"

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace quorvel {

class Library;

namespace DataQA {

// What the answer groups its counts by.
enum class Dim { century, category, book, author, none };

// A parsed data question.
struct Request {
    QStringList terms;                               // normalised words or phrases, at most 4
    QStringList shown;                               // each term as the user wrote it
    Dim dim = Dim::none;
    std::optional<int> centuryFilter;                // Hijri century, 1 to 19
    std::optional<QSet<std::int64_t>> categories;    // book ids of the named categories
    std::optional<std::int64_t> authorId;
    QString unmatchedName;                           // a name the question gives that no author or category bears
    QString uncounted;                               // what "كم" asks for that the library does not count ("حديثا")
    std::optional<int> limit;                        // rows asked for
    bool wantAuthors = false;                        // authors, and no search term
    bool wantStats = false;                          // statistics of the whole library
    bool oldestFirst = false;                        // the oldest are asked for ("أقدم")
};

// The ordinal words of the centuries 1 to 15 as the normalised question
// carries them (entry 0 is empty).
const std::array<QString, 16>& ordinals();

// Command and filler words never taken as names, normalised.
const QSet<QString>& commandWords();

// The request a question makes over `library`'s catalogue.
Request parse(const Library& library, const QString& question);

// Whether some phrase occurs in the normalised text `q` as a run of whole words.
bool has(const QString& q, const QStringList& phrases);

// The Hijri century of a year; 0 when the year is unknown or below 2.
int century(std::optional<std::int64_t> year);

// The sort position of a century label: named centuries by number, other
// centuries (in digits) after them, the unknown century last.
int centuryIndex(const QString& label);

// ---- Answers

// Answers a data question from the catalogue, the page table and the
// full-text index: a short summary in `text` and, except when nothing could
// be counted, one table. Never fails.
AIAnswer run(const Library& library, const QString& question);
// The same for a request already parsed from `question`.
AIAnswer run(const Library& library, const QString& question, const Request& request);

// The number of pages of every book of `library`. Computed once per catalogue
// snapshot of each library, so that books installed later count as soon as
// the catalogue is reloaded.
QHash<std::int64_t, std::int64_t> pageCounts(const Library& library);

// `n` with its thousands grouped by "٬", digits by the user's preference.
QString num(long long n);

// "القرن " and the century's ordinal word (in digits above the fifteenth);
// "غير محدد" for 0.
QString centuryLabel(int century);

// ---- Renderings

// The four chart colours; series i uses entry i modulo 4. On a night page
// the first two are the night accent and the gold, and the red its night
// rose: emerald and the dark red are lost on near black.
const QList<QColor>& palette(bool night = false);

// Whether a cell reads as a number (grouped digits, a year with "هـ", or "-").
bool isNumeric(const QString& cell);

// A chart label as drawn: labels of more than 30 characters are cut to 29
// and an ellipsis.
QString chartLabel(const QString& label);

// The horizontal bar chart of `table`, drawn right to left with its labels
// in `ink` (the day colour for paper) and its bars in the palette of a day
// or a `night` page; a null image when the table has no chart.
QImage chartImage(const DataTable& table, int width = 640, const QColor& ink = Theme::chartInk().light(),
                  bool night = false);

// The PNG bytes of an image, and their base64 text; nothing on failure.
std::optional<QByteArray> png(const QImage& image);
std::optional<QString> pngBase64(const QImage& image);

// A WordprocessingML fragment (title, the chart picture when `chartRel` is
// given, the table, the note) for the body of a document whose root declares
// the w, wp and r namespaces.
QString ooxml(const DataTable& table, const std::optional<QString>& chartRel, QSizeF chartSize, int id);

// The tables as CSV: every field quoted, grouped numbers as plain digits,
// CRLF line ends, one empty line between tables.
QString csv(const QList<DataTable>& tables);

} // namespace DataQA
} // namespace quorvel
