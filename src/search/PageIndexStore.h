#pragma once

// What the page index's own files share, not for its callers: the keys of
// its state in `meta` and the reads of that state, and the rules by which a
// word of a page becomes its index terms, which the writer and the damage
// check must apply alike.

#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

namespace quorvel::PageIndex {

inline constexpr char16_t kAlef = 0x0627;
inline const QString kStateKey = QStringLiteral("page_index");
inline const QString kCursorKey = QStringLiteral("page_index_cursor");
inline const QString kWritingKey = QStringLiteral("page_index_writing");
// What the index's writers put into its rows, kept beside them: the sum of
// the term table's page counts and the number of marked-word rows. Rows lost
// anywhere, on pages no sample reaches, leave the tables short of it.
inline const QString kTermPagesKey = QStringLiteral("page_index_term_pages");
inline const QString kMarkRowsKey = QStringLiteral("page_index_mark_rows");
// Set once the tables were found whole, to the schema version and the count
// of changes below as they were then. The triggers that count a change drop
// it; it holds only while the schema version is the same, so a trigger
// dropped among them has the tables read whole again too.
inline const QString kCheckedKey = QStringLiteral("page_index_checked");
// Counted up on every change to the index's rows and the pages, by triggers
// outside the installer's writer (whose start is counted instead), and to
// the full-text tables by the code that writes them (countChange), so that
// a mark is not set over a change made while the tables were read.
inline const QString kChangesKey = QStringLiteral("page_index_changes");

// Units the tokenizer keeps as they are: a word made only of them is one
// index term equal to itself.
inline bool plainUnit(char16_t u)
{
    return (u >= 0x0621 && u <= 0x063A) || (u >= 0x0641 && u <= 0x064A) || (u >= 0x0660 && u <= 0x0669)
        || (u >= 0x066E && u <= 0x066F) || (u >= 0x0671 && u <= 0x06D3) || (u >= 0x06F0 && u <= 0x06F9)
        || (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z');
}

inline bool plainWord(QStringView w)
{
    return std::all_of(w.begin(), w.end(), [](QChar c) { return plainUnit(c.unicode()); });
}

// The full-text tables' own terms of a word: itself for the common word
// the tokenizer keeps as it is, else what the tokenizer makes of it (Latin
// capitals, other scripts, marks it treats as separators).
inline QStringList termsOf(const QString& word)
{
    if (plainWord(word))
        return {word};
    return SQLiteDB::ftsTerms(word);
}

// The normal form a word of the hamza-keeping form folds to.
inline QString folded(const QString& form)
{
    // Most words hold no written alef: they fold without a copy.
    if (std::none_of(form.begin(), form.end(), [](QChar c) { return Arabic::isHamzaAlef(c.unicode()); }))
        return Arabic::rasmWord(form);
    QString w = form;
    for (QChar& c : w)
        if (Arabic::isHamzaAlef(c.unicode()))
            c = QChar(kAlef);
    return Arabic::rasmWord(w);
}

using Pair = std::pair<QString, QString>; // index term, form

std::optional<QString> metaValue(SQLiteDB& db, const QString& key);
bool setMeta(SQLiteDB& db, const QString& key, const QString& value);
// Whether the index's three tables exist.
bool tablesExist(SQLiteDB& db);

inline constexpr std::int64_t kComplete = std::numeric_limits<std::int64_t>::max();

// The id up to which pages are indexed: every page (kComplete) once complete.
// Nothing when the index must be started over: no state, another version's
// partial work, or a cursor that is not a whole number from 0 to the
// largest page id (a partial index read as further along than it is would
// be called complete, one read as less far would be indexed twice).
std::optional<std::int64_t> indexedUpTo(SQLiteDB& db);

// The index's tables.
extern const QString kTables;
// Makes every trigger this build counts changes with, replacing one of the
// same name whose text differs, and drops those of earlier builds. Writes
// nothing when all are in place. False when a statement failed.
bool createTriggers(SQLiteDB& db);
// Whether the store holds every one of those triggers, by name and text: a
// change made while one was missing or altered went uncounted.
bool triggersWhole(SQLiteDB& db);
// Counts a change that no trigger sees (a write to the full-text table of
// the index, whose shadow tables are FTS5's own); inside the caller's
// transaction. False when it failed.
bool countChange(SQLiteDB& db);

} // namespace quorvel::PageIndex
