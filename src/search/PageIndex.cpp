#include "search/PageIndex.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "core/SQLiteDB.h"
#include "search/PageMap.h"

#include <QByteArray>
#include <QSet>
#include <QStringTokenizer>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <limits>
#include <optional>

namespace quorvel::PageIndex {

namespace {

constexpr char16_t kAlef = 0x0627;
const QString kStateKey = QStringLiteral("page_index");
const QString kCursorKey = QStringLiteral("page_index_cursor");
const QString kWritingKey = QStringLiteral("page_index_writing");
// What the index's writers put into its rows, kept beside them: the sum of
// the term table's page counts and the number of marked-word rows. Rows lost
// anywhere, on pages no sample reaches, leave the tables short of it.
const QString kTermPagesKey = QStringLiteral("page_index_term_pages");
const QString kMarkRowsKey = QStringLiteral("page_index_mark_rows");
// Set once the tables were found whole, to the schema version and the count
// of changes below. The triggers that count a change drop it; it holds only
// while the schema version is the same (no trigger dropped).
const QString kCheckedKey = QStringLiteral("page_index_checked");
// Counted up on every change to the index's rows, the full-text tables and
// the pages (the writer's start for its own): no mark over a change made
// while the tables were read.
const QString kChangesKey = QStringLiteral("page_index_changes");
// What a change does to the mark and the count.
const QString kChangeCounted = QStringLiteral(
    "DELETE FROM meta WHERE key='page_index_checked'; "
    "INSERT INTO meta(key, value) VALUES('page_index_changes', 1) ON CONFLICT(key) DO UPDATE SET value = value + 1;");
// What the mark holds while nothing changed.
const QString kStampSql = QStringLiteral(
    "(SELECT schema_version FROM pragma_schema_version) || ' ' || "
    "(SELECT value FROM meta WHERE key='page_index_changes')");

// Units the tokenizer keeps as they are: a word made only of them is one
// index term equal to itself.
bool plainUnit(char16_t u)
{
    return (u >= 0x0621 && u <= 0x063A) || (u >= 0x0641 && u <= 0x064A) || (u >= 0x0660 && u <= 0x0669)
        || (u >= 0x066E && u <= 0x066F) || (u >= 0x0671 && u <= 0x06D3) || (u >= 0x06F0 && u <= 0x06F9)
        || (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z');
}

bool plainWord(QStringView w)
{
    return std::all_of(w.begin(), w.end(), [](QChar c) { return plainUnit(c.unicode()); });
}

// The full-text tables' own terms of a word: itself for the common word
// the tokenizer keeps as it is, else what the tokenizer makes of it (Latin
// capitals, other scripts, marks it treats as separators).
QStringList termsOf(const QString& word)
{
    if (plainWord(word))
        return {word};
    return SQLiteDB::ftsTerms(word);
}

// The normal form a word of the hamza-keeping form folds to.
QString folded(const QString& form)
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

// The change to each (index term, form) pair's count of pages, a page
// counted once for a pair however often the pair is on it. A pair whose form
// is a word the tokenizer keeps and whose term is that word folded is kept
// by its form alone, the common case looked up without a copy of the word;
// every other pair by both, so that each pair has one place.
class PairCounts {
public:
    // Counts the pairs of one page's index columns, +1 or -1.
    void count(const Columns& row, int sign);
    // The pairs whose count changed, in key order.
    QList<std::pair<Pair, std::int64_t>> changes() const;

private:
    struct Count {
        std::int64_t pages = 0;
        std::uint64_t page = 0; // the last page that counted
    };
    struct FormCount : Count {
        QString term;
    };
    void see(Count& c, int sign) const
    {
        if (c.page != page_) {
            c.page = page_;
            c.pages += sign;
        }
    }
    void see(const QString& term, const QString& form, int sign);
    // A pair known to be kept by its form: `term` is `form` folded.
    void seeByForm(const QString& term, const QString& form, int sign);

    QHash<QString, FormCount> byForm_;
    QHash<Pair, Count> byPair_;
    std::uint64_t page_ = 0;
};

void PairCounts::seeByForm(const QString& term, const QString& form, int sign)
{
    FormCount& c = byForm_[form];
    if (c.term.isNull())
        c.term = term;
    see(c, sign);
}

void PairCounts::see(const QString& term, const QString& form, int sign)
{
    if (plainWord(form) && term == folded(form))
        seeByForm(term, form, sign);
    else
        see(byPair_[Pair{term, form}], sign);
}

void PairCounts::count(const Columns& row, int sign)
{
    ++page_;
    for (const QString* text : {&row.matn, &row.hawashi})
        for (const QStringView view : QStringTokenizer{*text, u' ', Qt::SkipEmptyParts}) {
            if (plainWord(view)) {
                // Only looked up: the text outlives the lookup.
                const auto known = byForm_.find(QString::fromRawData(view.data(), view.size()));
                if (known != byForm_.end()) {
                    see(*known, sign);
                    continue;
                }
            }
            const QString form = view.toString();
            const QString term = folded(form);
            if (plainWord(form) && plainWord(term)) {
                seeByForm(term, form, sign);
                continue;
            }
            const QStringList forms = termsOf(form);
            const QStringList terms = termsOf(term);
            for (qsizetype i = 0; i < forms.size(); ++i)
                see(i < terms.size() && forms.size() == terms.size() ? terms[i] : forms[i], forms[i], sign);
        }
}

QList<std::pair<Pair, std::int64_t>> PairCounts::changes() const
{
    QList<std::pair<Pair, std::int64_t>> out;
    out.reserve(byForm_.size() + byPair_.size());
    for (auto it = byForm_.cbegin(); it != byForm_.cend(); ++it)
        if (it->pages != 0)
            out.append({Pair{it->term, it.key()}, it->pages});
    for (auto it = byPair_.cbegin(); it != byPair_.cend(); ++it)
        if (it->pages != 0)
            out.append({it.key(), it->pages});
    // In key order the writes pass over page_terms once instead of seeking at random.
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

bool carriesMarks(const Arabic::RichWord& word)
{
    return std::any_of(word.letters.begin(), word.letters.end(),
                       [](const Arabic::RichLetter& l) { return l.m1 != 0 || l.m2 != 0; });
}

// The marked words of a page, read only when its text holds a mark at all.
QList<Pair> markedWords(const QString& content)
{
    QList<Pair> out;
    if (std::none_of(content.begin(), content.end(), [](QChar c) { return Arabic::isMark(c.unicode()); }))
        return out;
    QSet<Pair> seen;
    for (const Arabic::RichWord& word : Arabic::richWords(content)) {
        if (!carriesMarks(word))
            continue;
        const Pair pair{word.word, markedForm(word.letters)};
        if (!seen.contains(pair)) {
            seen.insert(pair);
            out << pair;
        }
    }
    return out;
}

QStringList lastWords(const QString& text, int n)
{
    QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    return words.mid(std::max<qsizetype>(0, words.size() - n));
}


std::optional<QString> metaValue(SQLiteDB& db, const QString& key)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {key});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().str(0);
}

bool setMeta(SQLiteDB& db, const QString& key, const QString& value)
{
    return db.run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?,?)"), {key, value});
}

bool tablesExist(SQLiteDB& db)
{
    return db.scalarInt(QStringLiteral(
                            "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('page_forms','page_terms','page_marks')"))
               .value_or(0)
        == 3;
}

constexpr std::int64_t kComplete = std::numeric_limits<std::int64_t>::max();

// The id up to which pages are indexed: every page (kComplete) once complete.
// Nothing when the index must be started over: no state, another version's
// partial work, or a cursor that is not a whole number from 0 to the
// largest page id (a partial index read as further along than it is would
// be called complete, one read as less far would be indexed twice).
std::optional<std::int64_t> indexedUpTo(SQLiteDB& db)
{
    if (!tablesExist(db))
        return std::nullopt;
    if (metaValue(db, kStateKey) == QString::number(version))
        return kComplete;
    if (metaValue(db, kCursorKey + QStringLiteral("_version")) != QString::number(version))
        return std::nullopt;
    const auto text = metaValue(db, kCursorKey);
    const auto cursor = text ? Numbers::parseInteger(*text) : std::nullopt;
    if (!cursor || *cursor < 0)
        return std::nullopt;
    const auto last = db.scalarInt(QStringLiteral("SELECT IFNULL(MAX(id), 0) FROM pages"));
    if (!last || *cursor > *last)
        return std::nullopt;
    return cursor;
}

bool step(Statement& st, const SQLArgs& args)
{
    st.bind(args);
    return st.next() == Statement::Step::Done;
}

class Rows {
public:
    explicit Rows(SQLiteDB& db)
        : db_(db), insert(db.prepare(QStringLiteral("INSERT INTO page_forms(rowid, matn, hawashi, seam) VALUES(?,?,?,?)"))),
          erase(db.prepare(QStringLiteral(
              "INSERT INTO page_forms(page_forms, rowid, matn, hawashi, seam) VALUES('delete',?,?,?,?)"))),
          count(db.prepare(QStringLiteral(
              "INSERT INTO page_terms(term, form, rterm, pages) VALUES(?,?,?,?) "
              "ON CONFLICT(term, form) DO UPDATE SET pages = pages + excluded.pages"))),
          drop(db.prepare(QStringLiteral("DELETE FROM page_terms WHERE term=? AND form=? AND pages <= 0"))),
          mark(db.prepare(QStringLiteral("INSERT OR IGNORE INTO page_marks(term, form, page_id) VALUES(?,?,?)"))),
          unmark(db.prepare(QStringLiteral("DELETE FROM page_marks WHERE term=? AND form=? AND page_id=?")))
    {
    }
    bool ok() const { return insert && erase && count && drop && mark && unmark; }

    bool add(std::int64_t pid, const PageRow& row, PairCounts& counts)
    {
        counts.count(row, +1);
        bool ok = step(*insert, {pid, row.matn, row.hawashi, row.seam});
        for (const Pair& p : row.marked) {
            ok = step(*mark, {p.first, p.second, pid}) && ok;
            markRows_ += db_.changes();
        }
        return ok;
    }
    bool remove(std::int64_t pid, const QString& content, PairCounts& counts)
    {
        const PageRow row = pageRow(content);
        counts.count(row, -1);
        bool ok = step(*erase, {pid, row.matn, row.hawashi, row.seam});
        for (const Pair& p : row.marked) {
            ok = step(*unmark, {p.first, p.second, pid}) && ok;
            markRows_ -= db_.changes();
        }
        return ok;
    }
    // Writes the counts and adds what they and the marks changed to the
    // totals kept in meta (a store without them keeps none).
    bool writeCounts(const PairCounts& counts)
    {
        bool ok = true;
        for (const auto& [pair, pages] : counts.changes()) {
            ok = step(*count, {pair.first, pair.second, reversedKey(pair.first), pages}) && ok;
            termPages_ += pages;
            if (pages < 0)
                ok = step(*drop, {pair.first, pair.second}) && ok;
        }
        const QString add = QStringLiteral("UPDATE meta SET value = value + ? WHERE key=?");
        ok = ok && db_.run(add, {termPages_, kTermPagesKey}) && db_.run(add, {markRows_, kMarkRowsKey});
        termPages_ = markRows_ = 0;
        return ok;
    }

private:
    SQLiteDB& db_;
    std::optional<Statement> insert, erase, count, drop, mark, unmark;
    std::int64_t termPages_ = 0; // written since the totals were last brought up to date
    std::int64_t markRows_ = 0;
};

} // namespace

PageRow pageRow(const QString& content)
{
    return {columnsOf(content), markedWords(content)};
}

QString formsOf(const QString& text)
{
    const Arabic::Index idx = Arabic::index(text);
    QString out = idx.norm;
    for (qsizetype k = 0; k < out.size(); ++k)
        if (out[k].unicode() == kAlef) {
            const char16_t written = Arabic::writtenAt(idx.origin, idx.map[k]);
            if (Arabic::isHamzaAlef(written))
                out[k] = QChar(written);
        }
    while (out.endsWith(u' '))
        out.chop(1);
    return out;
}

Columns columnsOf(const QString& content)
{
    Columns row;
    const auto [main, notes] = Library::splitFootnotes(content);
    row.matn = formsOf(main);
    if (notes)
        row.hawashi = formsOf(*notes);
    if (!row.matn.isEmpty() && !row.hawashi.isEmpty())
        row.seam = (lastWords(row.matn, seamWords) + row.hawashi.split(u' ', Qt::SkipEmptyParts).mid(0, seamWords))
                       .join(u' ');
    return row;
}

namespace {

// A letter of a form, with its written alef form.
Arabic::RichLetter letterOf(char16_t u)
{
    if (Arabic::isHamzaAlef(u) || u == kAlef)
        return {kAlef, u, 0, 0};
    return {u, 0, 0, 0};
}

} // namespace

QList<Arabic::RichLetter> letters(const QString& form)
{
    QList<Arabic::RichLetter> out;
    out.reserve(form.size());
    for (QChar c : form)
        out.append(letterOf(c.unicode()));
    return out;
}

QString markedForm(const QList<Arabic::RichLetter>& letters)
{
    QString out;
    out.reserve(letters.size() * 2);
    for (const Arabic::RichLetter& l : letters) {
        out.append(QChar(l.alif != 0 ? l.alif : l.norm));
        out.append(Arabic::marksOf(l));
    }
    return out;
}

QList<Arabic::RichLetter> markedLetters(const QString& form)
{
    QList<Arabic::RichLetter> out;
    out.reserve(form.size());
    for (QChar c : form) {
        const char16_t u = c.unicode();
        if (!Arabic::isMark(u))
            out.append(letterOf(u));
        else if (!out.isEmpty())
            Arabic::addMark(out.last(), u);
    }
    return out;
}

bool foreign(QStringView word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
        return !((u >= 0x0600 && u <= 0x06FF) || (u >= 0x0750 && u <= 0x077F) || (u >= 0x08A0 && u <= 0x08FF));
    });
}

QString queryTerm(const QString& word)
{
    if (!foreign(word))
        return word;
    QString out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= word.size(); ++i) {
        if (i < word.size() && word[i] != u'*' && word[i] != u'?')
            continue;
        const QString piece = word.mid(start, i - start);
        const QStringList terms = foreign(piece) ? SQLiteDB::ftsTerms(piece) : QStringList{piece};
        out += terms.size() == 1 ? terms.first() : piece;
        if (i < word.size())
            out += word[i];
        start = i + 1;
    }
    return out;
}

bool rowAgrees(const QString& term, const QString& form)
{
    QString bare = form;
    bare.removeIf([](QChar c) { return Arabic::isMark(c.unicode()); });
    // Only a word of Arabic letters alone is surely its own term's form.
    const bool letters = std::all_of(bare.begin(), bare.end(), [](QChar c) {
        return c.unicode() >= 0x0621 && c.unicode() <= 0x064A;
    });
    return !letters || bare.isEmpty() || folded(bare) == term;
}

QString reversedKey(const QString& term)
{
    QString key = Arabic::stripTrailingDigits(term).value_or(term);
    std::reverse(key.begin(), key.end());
    return key;
}

namespace {

// One trigger counting each kind of change to a table; `when`, if not
// empty, exempts the installer's writer, whose rows come row by row.
QString countedChanges(const QString& table, bool exemptWriter)
{
    QString out;
    const QString when =
        exemptWriter ? QStringLiteral("WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') ") : QString();
    for (const char* op : {"INSERT", "UPDATE", "DELETE"})
        out += QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_counted_%2 AFTER %3 ON %1 %4BEGIN %5 END;")
                   .arg(table, QString::fromLatin1(op).toLower(), QString::fromLatin1(op), when, kChangeCounted);
    return out;
}

// The counting triggers of the full-text tables' own rows: the segments
// (written at commit, after the installer's writer is done) always, the
// rows a page writes only outside the writer.
QString countedFtsChanges(const QString& table, bool hasContent)
{
    QString out;
    for (const char* segments : {"_data", "_idx", "_config"})
        out += countedChanges(table + QLatin1String(segments), false);
    if (hasContent)
        for (const char* rows : {"_content", "_docsize"})
            out += countedChanges(table + QLatin1String(rows), true);
    return out;
}

const QString kTables = QStringLiteral(
    "CREATE VIRTUAL TABLE IF NOT EXISTS page_forms USING fts5(matn, hawashi, seam, content='', columnsize=0, "
    "tokenize='unicode61 remove_diacritics 2');"
    "CREATE TABLE IF NOT EXISTS page_terms(term TEXT NOT NULL, form TEXT NOT NULL, rterm TEXT NOT NULL, "
    "pages INTEGER NOT NULL, PRIMARY KEY(term, form)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS page_terms_reversed ON page_terms(rterm);"
    "CREATE TABLE IF NOT EXISTS page_marks(term TEXT NOT NULL, form TEXT NOT NULL, page_id INTEGER NOT NULL, "
    "PRIMARY KEY(term, form, page_id)) WITHOUT ROWID;")
    + countedChanges(QStringLiteral("page_terms"), true) + countedChanges(QStringLiteral("page_marks"), true)
    + countedFtsChanges(QStringLiteral("page_forms"), false);

// The marks of earlier builds, dropped by only some changes: replaced above.
const QString kOldMarkTriggers = QStringLiteral(
    "DROP TRIGGER IF EXISTS page_terms_touched; DROP TRIGGER IF EXISTS page_terms_changed; "
    "DROP TRIGGER IF EXISTS page_marks_touched; DROP TRIGGER IF EXISTS page_marks_changed; "
    "DROP TRIGGER IF EXISTS page_forms_written;");

} // namespace

bool createSchema(SQLiteDB& db)
{
    const bool had = tablesExist(db);
    bool ok = db.exec(kOldMarkTriggers + kTables + countedFtsChanges(QStringLiteral("pages_fts"), true)
        + countedChanges(QStringLiteral("pages"), true)
        // The writer's start is counted, however a write under its row ends.
        + QStringLiteral("CREATE TRIGGER IF NOT EXISTS page_index_writer_counted AFTER INSERT ON meta "
                         "WHEN new.key='page_index_writing' BEGIN ")
        + kChangeCounted
        + QStringLiteral(" END; CREATE TRIGGER IF NOT EXISTS page_index_writer_renamed AFTER UPDATE OF key ON meta "
                         "WHEN new.key='page_index_writing' BEGIN ")
        + kChangeCounted + QStringLiteral(" END;")
        + QStringLiteral(
        // Pages written by anything but the installer's writer leave the
        // index behind: it is taken as missing and built again.
        "CREATE TRIGGER IF NOT EXISTS page_index_added AFTER INSERT ON pages "
        "WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') BEGIN "
        "DELETE FROM meta WHERE key IN ('page_index','page_index_cursor','page_index_cursor_version'); END;"
        "CREATE TRIGGER IF NOT EXISTS page_index_changed AFTER UPDATE OF id, content ON pages "
        "BEGIN DELETE FROM meta WHERE key IN ('page_index','page_index_cursor','page_index_cursor_version'); END;"
        // The count of changes to the pages and headings that the search's
        // caches follow (PageMap): the installer's writer counts a book's
        // pages once, in finish().
        "CREATE TRIGGER IF NOT EXISTS library_changes_added AFTER INSERT ON pages "
        "WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') BEGIN "
        "UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"
        "CREATE TRIGGER IF NOT EXISTS library_changes_removed AFTER DELETE ON pages "
        "BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"
        "CREATE TRIGGER IF NOT EXISTS library_changes_changed AFTER UPDATE OF id, book_id, seq, content ON pages "
        "BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"
        "CREATE TRIGGER IF NOT EXISTS heading_changes_added AFTER INSERT ON toc "
        "BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"
        "CREATE TRIGGER IF NOT EXISTS heading_changes_removed AFTER DELETE ON toc "
        "BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"
        "CREATE TRIGGER IF NOT EXISTS heading_changes_changed AFTER UPDATE ON toc "
        "BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;"));
    // Looked for first: a store that has its count takes no write here.
    // The count of changes is started by its triggers, or by the first mark:
    // opening a store writes nothing more.
    if (ok && !metaValue(db, QString::fromLatin1(PageMap::changesKey)))
        ok = setMeta(db, QString::fromLatin1(PageMap::changesKey), QStringLiteral("0"));
    if (ok && !had && db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM pages)")).value_or(1) == 0)
        ok = setMeta(db, kTermPagesKey, QStringLiteral("0")) && setMeta(db, kMarkRowsKey, QStringLiteral("0"))
            && setMeta(db, kStateKey, QString::number(version));
    return ok;
}

State state(SQLiteDB& db)
{
    auto st = db.prepare(QLatin1String(stateQuery));
    return st ? state(*st) : State{};
}

State state(Statement& st)
{
    st.bind({});
    if (!st.step())
        return {};
    const bool ready = st.text(0) == QString::number(version);
    const std::optional<QString> mark = st.text(1);
    const std::optional<std::int64_t> schema = st.integer(2);
    st.bind({});
    return {ready, ready && mark && schema && mark->section(u' ', 0, 0) == QString::number(*schema)};
}

struct Writer::State {
    SQLiteDB& db;
    std::int64_t upTo = 0;
    std::optional<Rows> rows;
    PairCounts counts;
    bool writing = false;
};

Writer::Writer(SQLiteDB& db) : d(new State{db, 0, std::nullopt, {}, false})
{
    if (!tablesExist(db))
        return;
    d->writing = setMeta(db, kWritingKey, QStringLiteral("1"));
    if (const auto upTo = indexedUpTo(db)) {
        d->upTo = *upTo;
        d->rows.emplace(db);
    }
}

Writer::~Writer() = default;

bool Writer::keeps(std::int64_t pageId) const
{
    return d->rows && pageId <= d->upTo;
}

bool Writer::add(std::int64_t pageId, const PageRow& row)
{
    if (!keeps(pageId))
        return true;
    return d->rows->ok() && d->rows->add(pageId, row, d->counts);
}

bool Writer::remove(std::int64_t pageId, const QString& content)
{
    if (!d->rows || pageId > d->upTo)
        return true;
    return d->rows->ok() && d->rows->remove(pageId, content, d->counts);
}

bool Writer::finish()
{
    bool ok = !d->rows || (d->rows->ok() && d->rows->writeCounts(d->counts));
    d->counts = {};
    if (d->writing)
        ok = d->db.run(QStringLiteral("UPDATE meta SET value = value + 1 WHERE key=?"),
                       {QString::fromLatin1(PageMap::changesKey)})
            && ok;
    if (d->writing)
        ok = d->db.run(QStringLiteral("DELETE FROM meta WHERE key=?"), {kWritingKey}) && ok;
    d->writing = false;
    return ok;
}

bool removeBook(SQLiteDB& db, std::int64_t bookId)
{
    const auto upTo = indexedUpTo(db);
    if (!upTo)
        return true;
    Rows rows(db);
    auto pages = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=? AND id<=?"));
    if (!rows.ok() || !pages)
        return false;
    pages->bind({bookId, *upTo});
    PairCounts counts;
    bool ok = true;
    Statement::Step step;
    while ((step = pages->next()) == Statement::Step::Row)
        ok = rows.remove(pages->rowid(0), pages->text(1).value_or(QString()), counts) && ok;
    pages.reset();
    // A read cut short would leave the rest of the book's postings behind.
    return step == Statement::Step::Done && rows.writeCounts(counts) && ok;
}

namespace {

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

// The rows page_forms holds, as its record of totals counts them.
std::optional<std::int64_t> formsRows(SQLiteDB& db)
{
    // The record of totals is row 1 of its data; a varint takes nine bytes at most.
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
// they were kept) is not trusted. True when the tables cannot be read.
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

// The mark's value as the store stands, and whether a writer's row is seen
// (left by writes the triggers did not count: no mark is set beside one).
struct Stamp { QString value; bool writing = false; };
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
    // A store without the count starts it here: any counted change made it.
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
    // A writer's row left in the store let uncounted writes change the rows.
    if (stamp && stamp->writing)
        return false;
    bool whole = stamp && !stamp->value.isEmpty() && metaValue(db, kCheckedKey) == stamp->value;
    if (!whole) {
        if (!totalsAgree(db))
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
            // An index made before its totals were kept is only older.
            const bool older = db && tablesExist(*db) && (!metaValue(*db, kTermPagesKey) || !metaValue(*db, kMarkRowsKey));
            const QByteArray line = ((older ? kMsgOlder : kMsgDamaged) + u'\n').toUtf8();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    }
    return db && db->run(QStringLiteral("DELETE FROM meta WHERE key IN (?, ?, ?, ?, ?)"),
                         {kStateKey, kCursorKey, kCursorKey + QStringLiteral("_version"), kCheckedKey, kWritingKey});
}

namespace {

// Empties the index and sets the cursor to the start, for a build that
// starts over; inside the caller's transaction. The tables are made anew,
// so that rows another version or a damage left cannot survive.
bool startOver(SQLiteDB& db)
{
    return db.exec(QStringLiteral("DROP TABLE IF EXISTS page_forms; DROP TABLE IF EXISTS page_terms; "
                                  "DROP TABLE IF EXISTS page_marks;")
                   + kTables)
        && setMeta(db, kCursorKey, QStringLiteral("0"))
        && setMeta(db, kCursorKey + QStringLiteral("_version"), QString::number(version))
        && setMeta(db, kTermPagesKey, QStringLiteral("0")) && setMeta(db, kMarkRowsKey, QStringLiteral("0"))
        && db.run(QStringLiteral("DELETE FROM meta WHERE key=?"), {kCheckedKey});
}

// The pages up to the cursor, counted by the small index: a count over the
// table itself would read every page's text.
std::int64_t pagesUpTo(SQLiteDB& db, std::int64_t cursor)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book WHERE id<=?"), {cursor})
        .value_or(0);
}

} // namespace

Build build(SQLiteDB& db, const Progress& progress, int batchPages, std::optional<SQLFailure>* why)
{
    // The reason of the failing call, kept before a rollback replaces it.
    auto failed = [&](std::optional<SQLFailure> failure) {
        if (why)
            *why = failure ? failure : db.failure();
        return Build::failed;
    };
    if (!createSchema(db))
        return failed(db.lastFailure());
    if (ready(db))
        return Build::complete;
    const std::int64_t total =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book")).value_or(0);
    // The cursor this build last wrote, checked against the stored one before
    // every batch: a page written outside the installer drops the state, and
    // going on from a guess would index pages twice.
    std::optional<std::int64_t> cursor;
    std::int64_t done = 0;
    for (;;) {
        Transaction batch(db);
        if (!batch.begun())
            return failed(db.lastFailure());
        const auto stored = indexedUpTo(db);
        if (stored == kComplete)
            return Build::complete; // another builder finished it
        if (!stored) {
            if (!startOver(db))
                return failed(db.lastFailure());
            cursor = 0;
            done = 0;
        } else if (stored != cursor) {
            // Resumed, or moved on by another builder.
            cursor = stored;
            done = pagesUpTo(db, *cursor);
        }
        auto pages = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE id>? ORDER BY id LIMIT ?"));
        Rows rows(db);
        if (!pages || !rows.ok())
            return failed(db.lastFailure());
        pages->bind({*cursor, batchPages});
        PairCounts counts;
        std::int64_t last = *cursor;
        bool ok = true;
        Statement::Step step;
        while ((step = pages->next()) == Statement::Step::Row) {
            ++done;
            last = pages->rowid(0);
            ok = rows.add(last, pageRow(pages->text(1).value_or(QString())), counts) && ok;
        }
        pages.reset();
        // Only a read that reached its end may call the index complete.
        ok = ok && step == Statement::Step::Done && rows.writeCounts(counts);
        const bool finished = last == *cursor;
        ok = ok
            && (finished ? setMeta(db, kStateKey, QString::number(version))
                               && db.run(QStringLiteral("DELETE FROM meta WHERE key IN (?, ?)"),
                                         {kCursorKey, kCursorKey + QStringLiteral("_version")})
                         : setMeta(db, kCursorKey, QString::number(last)));
        if (!ok)
            return failed(db.lastFailure());
        if (!batch.commit())
            return failed(batch.failure());
        if (finished)
            return Build::complete;
        cursor = last;
        // Pages installed meanwhile may take the count past the first total.
        if (progress && !progress(done, std::max(total, done)))
            return Build::stopped;
    }
}

} // namespace quorvel::PageIndex
