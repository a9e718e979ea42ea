// The damage check: whether a complete index holds what its writers put in
// it, the mark that it was found whole, and taking a damaged one out of use.

#include "search/PageIndex.h"

#include "core/Numbers.h"
#include "core/SQLiteDB.h"
#include "search/PageIndexStore.h"

#include <QByteArray>
#include <QSet>
#include <QStringTokenizer>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>

namespace quorvel::PageIndex {

namespace {

// What the mark holds while nothing changed (as state() reads it: the
// schema version, the count of changes, the forms' structure record);
// stampOf() reads it with whether the installer's writer is at work: a
// writing row another connection sees is left by a write that skipped the
// counting triggers.
const QString kStampSql = QStringLiteral(
    "(SELECT schema_version FROM pragma_schema_version) || ' ' || "
    "(SELECT value FROM meta WHERE key='page_index_changes') || ' ' || "
    "IFNULL((SELECT hex(block) FROM page_forms_data WHERE id=10), '')");

// The full-text terms of a page's sections, as the table's tokenizer made them.
QSet<QString> sectionTerms(const Columns& row)
{
    QSet<QString> out;
    for (const QString* text : {&row.matn, &row.hawashi})
        for (const QStringView word : QStringTokenizer{*text, u' ', Qt::SkipEmptyParts})
            for (const QString& term : termsOf(word.toString()))
                out.insert(term);
    return out;
}

// A sampled page: its rows as its text gives them, and for each section
// its rarest words with the number of pages the term table gives them.
struct Sampled {
    std::int64_t id = 0;
    PageRow row;
    QList<std::pair<QString, std::int64_t>> rarest[2];
};

// The rows page_forms holds, as the full-text table counts them in its
// record of totals (a varint at its head); nothing when it cannot be read.
std::optional<std::int64_t> formsRows(SQLiteDB& db)
{
    // The record of totals is the table's row 1 of its data; a varint takes
    // at most nine bytes.
    const auto rows = db.rows(QStringLiteral("SELECT hex(substr(block, 1, 9)) FROM page_forms_data WHERE id = 1"));
    if (rows.isEmpty())
        return std::nullopt;
    const QByteArray head = QByteArray::fromHex(rows.first().str(0).value_or(QString()).toLatin1());
    std::uint64_t value = 0;
    for (qsizetype i = 0; i < head.size(); ++i) {
        const auto byte = std::uint8_t(head.at(i));
        if (i == 8)
            return std::int64_t(value << 8 | byte);
        value = value << 7 | (byte & 0x7f);
        if (!(byte & 0x80))
            return std::int64_t(value);
    }
    return std::nullopt;
}

// Whether the term and mark tables hold what their writers put in them, and
// the forms a row for every page. An index without the totals (made before
// they were kept) is not trusted. True when the tables cannot be read, which
// the search's statements meet.
bool totalsAgree(SQLiteDB& db)
{
    const auto termPages = metaValue(db, kTermPagesKey);
    const auto markRows = metaValue(db, kMarkRowsKey);
    if (!termPages || !markRows)
        return false;
    const auto rows = db.rows(QStringLiteral("SELECT (SELECT IFNULL(SUM(pages), 0) FROM page_terms), "
                                             "(SELECT COUNT(*) FROM page_marks), "
                                             "(SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book)"));
    if (rows.isEmpty())
        return true;
    const auto forms = formsRows(db);
    return rows.first().integer(0) == Numbers::parseInteger(*termPages)
        && rows.first().integer(1) == Numbers::parseInteger(*markRows)
        && (!forms || forms == rows.first().integer(2));
}

// The mark's value as the store stands: its schema version and count of
// changes, with whether a writer's row is seen (which no mark survives).
struct Stamp {
    QString value;
    bool writing = false;
};
std::optional<Stamp> stampOf(SQLiteDB& db)
{
    const auto rows = db.rows(QStringLiteral("SELECT ") + kStampSql
                              + QStringLiteral(", EXISTS(SELECT 1 FROM meta WHERE key='page_index_writing')"));
    if (rows.isEmpty())
        return std::nullopt;
    return Stamp{rows.first().str(0).value_or(QString()), rows.first().integer(1).value_or(0) != 0};
}

enum class Marked { yes, no, damaged };

// Marks the index found whole, on a writing connection of its own, which
// waits for no writer (a search would wait with it), provided nothing
// changed since `seen` was read with the sample and the full-text table's
// own check finds its segments sound. A store that takes no writes then is
// checked again at the next first search.
Marked markWhole(SQLiteDB& db, const Stamp& seen)
{
    QString writable = db.path();
    if (writable.startsWith(QStringLiteral("file:")) && writable.endsWith(QStringLiteral("?mode=ro")))
        writable = writable.chopped(2) + QStringLiteral("rw");
    auto writer = SQLiteDB::open(writable, false);
    if (!writer || !writer->exec(QStringLiteral("PRAGMA busy_timeout=0")))
        return Marked::no;
    Transaction transaction(*writer);
    if (!transaction.begun())
        return Marked::no;
    const auto now = stampOf(*writer);
    if (!now || now->writing || now->value != seen.value)
        return Marked::no;
    if (!writer->run(QStringLiteral("INSERT INTO page_forms(page_forms) VALUES('integrity-check')"))) {
        const auto failure = writer->lastFailure();
        return failure && failure->kind == SQLFailure::Kind::damaged ? Marked::damaged : Marked::no;
    }
    // A store without the count starts it with the mark: any counted change
    // would have made it.
    std::optional<Stamp> marked = now;
    if (now->value.isEmpty()
        && !(writer->run(QStringLiteral("INSERT INTO meta(key, value) VALUES(?, '0')"), {kChangesKey})
             && (marked = stampOf(*writer)) && !marked->value.isEmpty()))
        return Marked::no;
    return setMeta(*writer, kCheckedKey, marked->value) && transaction.commit() ? Marked::yes : Marked::no;
}

} // namespace

namespace {

enum class Sample { agrees, disagrees, unread };

// Whether the rows of a few pages spread over the library agree with their
// text (see sampleAgrees()).
Sample pagesAgree(SQLiteDB& db, int pages)
{
    // Words of a section looked up in the term table, and of those the
    // rarest looked up in page_forms: a common word's long list of pages
    // would be read whole.
    constexpr qsizetype kWordsPerSection = 48;
    constexpr qsizetype kRarest = 2;
    constexpr qsizetype kMarkedPerPage = 16;
    const auto range = db.rows(QStringLiteral("SELECT MIN(id), MAX(id) FROM pages"));
    auto page = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE id >= ? ORDER BY id LIMIT 1"));
    auto holds = db.prepare(QStringLiteral("SELECT 1 FROM page_forms WHERE page_forms MATCH ? AND rowid = ?"));
    auto term = db.prepare(QStringLiteral("SELECT pages FROM page_terms WHERE term = ? AND form = ?"));
    auto mark = db.prepare(QStringLiteral("SELECT 1 FROM page_marks WHERE term = ? AND form = ? AND page_id = ?"));
    if (range.isEmpty() || !page || !holds || !term || !mark)
        return Sample::unread;
    // A statement that cannot step is no disagreement; one that answers is.
    const auto found = [](Statement& st, const SQLArgs& args) -> std::optional<std::int64_t> {
        st.bind(args);
        const Statement::Step step = st.next();
        const std::int64_t value = step == Statement::Step::Row ? st.integer(0).value_or(0) : 0;
        st.bind({});
        if (step == Statement::Step::Error)
            return std::nullopt;
        return value;
    };
    const std::int64_t first = range.first().integer(0).value_or(0);
    const std::int64_t last = range.first().integer(1).value_or(0);
    QList<Sampled> sampled;
    for (int k = 0; k < pages && last >= first; ++k) {
        // From the first page to the last, evenly.
        const std::int64_t at = first + std::int64_t(double(last - first) * k / std::max(pages - 1, 1));
        page->bind({at});
        if (!page->step())
            continue;
        Sampled s;
        s.id = page->rowid(0);
        if (!sampled.isEmpty() && sampled.last().id == s.id)
            continue;
        s.row = pageRow(page->text(1).value_or(QString()));
        // Every word looked up (up to a bound, spread over the section) has
        // its term row.
        for (int section = 0; section < 2; ++section) {
            QStringList words = (section == 0 ? s.row.matn : s.row.hawashi).split(u' ', Qt::SkipEmptyParts);
            words.removeDuplicates();
            const qsizetype stride = std::max<qsizetype>(1, words.size() / kWordsPerSection);
            QList<std::pair<QString, std::int64_t>>& rarest = s.rarest[section];
            for (qsizetype w = 0; w < words.size(); w += stride) {
                const QString& form = words[w];
                const QString t = folded(form);
                if (!plainWord(form) || !plainWord(t))
                    continue;
                const auto count = found(*term, {t, form});
                if (!count)
                    continue;
                if (*count <= 0)
                    return Sample::disagrees;
                rarest.append({form, *count});
            }
            std::stable_sort(rarest.begin(), rarest.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
            rarest = rarest.mid(0, kRarest);
        }
        sampled.append(std::move(s));
    }
    page.reset();
    for (qsizetype i = 0; i < sampled.size(); ++i) {
        const Sampled& s = sampled[i];
        for (int section = 0; section < 2; ++section)
            for (const auto& [form, count] : s.rarest[section]) {
                const QString expr = (section == 0 ? QStringLiteral("{matn} : \"") : QStringLiteral("{hawashi} : \""))
                    + form + u'"';
                if (found(*holds, {expr, s.id}) == std::optional<std::int64_t>(0))
                    return Sample::disagrees;
            }
        for (qsizetype m = 0; m < std::min(s.row.marked.size(), kMarkedPerPage); ++m)
            if (found(*mark, {s.row.marked[m].first, s.row.marked[m].second, s.id}) == std::optional<std::int64_t>(0))
                return Sample::disagrees;
        // Rare words of the next sampled page that this one lacks are not in its row.
        if (sampled.size() < 2)
            continue;
        const Sampled& other = sampled[(i + 1) % sampled.size()];
        const QSet<QString> own = sectionTerms(s.row);
        for (const auto& list : other.rarest)
            for (const auto& [form, count] : list)
                if (!own.contains(form) && found(*holds, {u'"' + form + u'"', s.id}).value_or(0) != 0)
                    return Sample::disagrees;
    }
    return Sample::agrees;
}

} // namespace

bool sampleAgrees(SQLiteDB& db, int pages, bool* marked)
{
    // The pages and their rows read at one version of the store: an install
    // between two reads would look like damage.
    std::optional<Transaction> reading;
    if (!db.inTransaction())
        reading.emplace(db, Transaction::Mode::Deferred);
    const auto stamp = stampOf(db);
    // A writer's row left in the store let writes skip the counting: what
    // they did to the rows is unknown.
    if (stamp && stamp->writing)
        return false;
    bool whole = stamp && !stamp->value.isEmpty() && metaValue(db, kCheckedKey) == stamp->value;
    if (!whole) {
        // Without every counting trigger of this build, by name and text, a
        // change may have gone uncounted, and would again after a mark.
        if (!triggersWhole(db) || !totalsAgree(db))
            return false;
        const Sample sample = pagesAgree(db, pages);
        if (sample == Sample::disagrees)
            return false;
        // Found whole: not sampled again until anything changes.
        const Marked mark = sample == Sample::agrees && stamp ? markWhole(db, *stamp) : Marked::no;
        if (mark == Marked::damaged)
            return false;
        whole = mark == Marked::yes;
    }
    if (marked)
        *marked = whole;
    return true;
}

bool distrust(const QString& dbPath)
{
    const QString kMsgDamaged =
        QStringLiteral("فهرس الصفحات تالف: يُبحث بقراءة الصفحات حتى يُبنى الفهرس من جديد.");
    const QString kMsgOlder = QStringLiteral(
        "فهرس الصفحات من إصدار أقدم من هذا التطبيق: يُبحث بقراءة الصفحات حتى يُبنى الفهرس من جديد.");
    auto db = SQLiteDB::open(dbPath, false);
    static std::mutex lock;
    static QSet<QString> said;
    {
        std::lock_guard guard(lock);
        if (!said.contains(dbPath)) {
            said.insert(dbPath);
            // An index made before its totals were kept, or counted by
            // another build's triggers, is only older.
            const bool older = db && tablesExist(*db)
                && (!metaValue(*db, kTermPagesKey) || !metaValue(*db, kMarkRowsKey) || !triggersWhole(*db));
            const QByteArray line = ((older ? kMsgOlder : kMsgDamaged) + u'\n').toUtf8();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    }
    return db && db->run(QStringLiteral("DELETE FROM meta WHERE key IN (?, ?, ?, ?, ?)"),
                         {kStateKey, kCursorKey, kCursorKey + QStringLiteral("_version"), kCheckedKey, kWritingKey});
}

} // namespace quorvel::PageIndex
