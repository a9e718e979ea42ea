#include "search/PageIndex.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QSet>

#include <algorithm>
#include <limits>
#include <optional>

namespace quorvel::PageIndex {

namespace {

constexpr char16_t kAlef = 0x0627;
const QString kStateKey = QStringLiteral("page_index");
const QString kCursorKey = QStringLiteral("page_index_cursor");
const QString kWritingKey = QStringLiteral("page_index_writing");

bool isWrittenAlef(char16_t u)
{
    return u == 0x0622 || u == 0x0623 || u == 0x0625;
}

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

// The full-text tables' own tokenizer, for the rare word it may change or
// split (Latin capitals, other scripts, marks it treats as separators).
class Tokenizer {
public:
    explicit Tokenizer(SQLiteDB& db)
    {
        fts5_api* api = nullptr;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db.handle(), "SELECT fts5(?1)", -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_pointer(st, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
            sqlite3_step(st);
        }
        sqlite3_finalize(st);
        if (!api || api->iVersion < 2)
            return;
        void* user = nullptr;
        if (api->xFindTokenizer(api, "unicode61", &user, &methods) != SQLITE_OK)
            return;
        const char* args[] = {"remove_diacritics", "2"};
        if (methods.xCreate(user, args, 2, &tokenizer) != SQLITE_OK)
            tokenizer = nullptr;
    }
    ~Tokenizer()
    {
        if (tokenizer)
            methods.xDelete(tokenizer);
    }
    Tokenizer(const Tokenizer&) = delete;
    Tokenizer& operator=(const Tokenizer&) = delete;

    QStringList terms(const QString& word)
    {
        if (plainWord(word) || !tokenizer)
            return {word};
        const QByteArray utf8 = word.toUtf8();
        QStringList out;
        methods.xTokenize(tokenizer, &out, FTS5_TOKENIZE_DOCUMENT, utf8.constData(), int(utf8.size()),
                          [](void* ctx, int, const char* token, int size, int, int) {
                              static_cast<QStringList*>(ctx)->append(QString::fromUtf8(token, size));
                              return SQLITE_OK;
                          });
        return out;
    }

private:
    fts5_tokenizer methods{};
    Fts5Tokenizer* tokenizer = nullptr;
};

// The normal form a word of the hamza-keeping form folds to.
QString folded(const QString& form)
{
    QString w = form;
    for (QChar& c : w)
        if (isWrittenAlef(c.unicode()))
            c = QChar(kAlef);
    return Arabic::rasmWord(w);
}

using Pair = std::pair<QString, QString>; // index term, form
using PairCounts = QHash<Pair, std::int64_t>;

struct PageRow : Columns {
    QList<Pair> pairs; // distinct on the page
};

QStringList lastWords(const QString& text, int n)
{
    QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    return words.mid(std::max<qsizetype>(0, words.size() - n));
}

PageRow pageRow(Tokenizer& tokenizer, const QString& content)
{
    PageRow row{columnsOf(content), {}};
    QSet<Pair> seen;
    for (const QString* text : {&row.matn, &row.hawashi})
        for (const QString& form : text->split(u' ', Qt::SkipEmptyParts)) {
            const QStringList forms = tokenizer.terms(form);
            const QStringList terms = tokenizer.terms(folded(form));
            for (qsizetype i = 0; i < forms.size(); ++i) {
                const Pair pair{i < terms.size() && forms.size() == terms.size() ? terms[i] : forms[i], forms[i]};
                if (!seen.contains(pair)) {
                    seen.insert(pair);
                    row.pairs << pair;
                }
            }
        }
    return row;
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
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('page_forms','page_terms')"))
               .value_or(0)
        == 2;
}

// The id up to which pages are indexed: every page once complete.
std::optional<std::int64_t> indexedUpTo(SQLiteDB& db)
{
    if (!tablesExist(db))
        return std::nullopt;
    if (metaValue(db, kStateKey) == QString::number(version))
        return std::numeric_limits<std::int64_t>::max();
    if (metaValue(db, kCursorKey + QStringLiteral("_version")) != QString::number(version))
        return std::nullopt; // another version's partial work: the build starts over
    const auto cursor = metaValue(db, kCursorKey);
    return cursor ? cursor->toLongLong() : 0;
}

bool step(Statement& st, const SQLArgs& args)
{
    st.bind(args);
    return st.next() == Statement::Step::Done;
}

class Rows {
public:
    explicit Rows(SQLiteDB& db)
        : insert(db.prepare(QStringLiteral("INSERT INTO page_forms(rowid, matn, hawashi, seam) VALUES(?,?,?,?)"))),
          erase(db.prepare(QStringLiteral(
              "INSERT INTO page_forms(page_forms, rowid, matn, hawashi, seam) VALUES('delete',?,?,?,?)"))),
          count(db.prepare(QStringLiteral(
              "INSERT INTO page_terms(term, form, rterm, pages) VALUES(?,?,?,?) "
              "ON CONFLICT(term, form) DO UPDATE SET pages = pages + excluded.pages"))),
          drop(db.prepare(QStringLiteral("DELETE FROM page_terms WHERE term=? AND form=? AND pages <= 0"))),
          tokenizer(db)
    {
    }
    bool ok() const { return insert && erase && count && drop; }

    bool add(std::int64_t pid, const QString& content, PairCounts& counts)
    {
        const PageRow row = pageRow(tokenizer, content);
        for (const Pair& p : row.pairs)
            ++counts[p];
        return step(*insert, {pid, row.matn, row.hawashi, row.seam});
    }
    bool remove(std::int64_t pid, const QString& content, PairCounts& counts)
    {
        const PageRow row = pageRow(tokenizer, content);
        for (const Pair& p : row.pairs)
            --counts[p];
        return step(*erase, {pid, row.matn, row.hawashi, row.seam});
    }
    bool writeCounts(const PairCounts& counts)
    {
        bool ok = true;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() == 0)
                continue;
            ok = step(*count, {it.key().first, it.key().second, reversedKey(it.key().first), it.value()}) && ok;
            if (it.value() < 0)
                ok = step(*drop, {it.key().first, it.key().second}) && ok;
        }
        return ok;
    }

private:
    std::optional<Statement> insert, erase, count, drop;
    Tokenizer tokenizer;
};

} // namespace

QString formsOf(const QString& text)
{
    const Arabic::Index idx = Arabic::index(text);
    QString out = idx.norm;
    for (qsizetype k = 0; k < out.size(); ++k)
        if (out[k].unicode() == kAlef) {
            const char16_t written = idx.origin[idx.map[k]].unicode();
            if (isWrittenAlef(written))
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

QList<Arabic::RichLetter> letters(const QString& form)
{
    QList<Arabic::RichLetter> out;
    out.reserve(form.size());
    for (QChar c : form) {
        const char16_t u = c.unicode();
        if (isWrittenAlef(u))
            out.append({kAlef, u, 0, 0});
        else if (u == kAlef)
            out.append({kAlef, kAlef, 0, 0});
        else
            out.append({u, 0, 0, 0});
    }
    return out;
}

QString reversedKey(const QString& term)
{
    QString key = Arabic::stripTrailingDigits(term).value_or(term);
    std::reverse(key.begin(), key.end());
    return key;
}

bool createSchema(SQLiteDB& db)
{
    const bool had = tablesExist(db);
    bool ok = db.exec(QStringLiteral(
        "CREATE VIRTUAL TABLE IF NOT EXISTS page_forms USING fts5(matn, hawashi, seam, content='', columnsize=0, "
        "tokenize='unicode61 remove_diacritics 2');"
        "CREATE TABLE IF NOT EXISTS page_terms(term TEXT NOT NULL, form TEXT NOT NULL, rterm TEXT NOT NULL, "
        "pages INTEGER NOT NULL, PRIMARY KEY(term, form)) WITHOUT ROWID;"
        "CREATE INDEX IF NOT EXISTS page_terms_reversed ON page_terms(rterm);"
        // Pages written by anything but the installer's writer leave the
        // index behind: it is taken as missing and built again.
        "CREATE TRIGGER IF NOT EXISTS page_index_added AFTER INSERT ON pages "
        "WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') BEGIN "
        "DELETE FROM meta WHERE key IN ('page_index','page_index_cursor','page_index_cursor_version'); END;"
        "CREATE TRIGGER IF NOT EXISTS page_index_changed AFTER UPDATE OF id, content ON pages "
        "BEGIN DELETE FROM meta WHERE key IN ('page_index','page_index_cursor','page_index_cursor_version'); END;"));
    if (ok && !had && db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM pages)")).value_or(1) == 0)
        ok = setMeta(db, kStateKey, QString::number(version));
    return ok;
}

bool ready(SQLiteDB& db)
{
    auto st = db.prepare(QStringLiteral("SELECT value FROM meta WHERE key='page_index'"));
    return st && st->step() && st->text(0) == QString::number(version);
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

bool Writer::add(std::int64_t pageId, const QString& content, const QString&)
{
    if (!d->rows || pageId > d->upTo)
        return true;
    return d->rows->ok() && d->rows->add(pageId, content, d->counts);
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
    d->counts.clear();
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
    while (pages->step())
        ok = rows.remove(pages->integer(0).value_or(0), pages->text(1).value_or(QString()), counts) && ok;
    pages.reset();
    return rows.writeCounts(counts) && ok;
}

Build build(SQLiteDB& db, const Progress& progress, int batchPages)
{
    if (!createSchema(db))
        return Build::failed;
    if (ready(db))
        return Build::complete;
    const std::int64_t total =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book")).value_or(0);
    {
        Transaction start(db);
        if (!indexedUpTo(db)) {
            // Nothing of this version yet: whatever another version left goes.
            if (!db.exec(QStringLiteral("INSERT INTO page_forms(page_forms) VALUES('delete-all');"
                                        "DELETE FROM page_terms;"))
                || !setMeta(db, kCursorKey, QStringLiteral("0"))
                || !setMeta(db, kCursorKey + QStringLiteral("_version"), QString::number(version)))
                return Build::failed;
        }
        if (!start.commit())
            return Build::failed;
    }
    // Counted once by the small index, then batch by batch: a count over the
    // table itself would read every page's text.
    std::int64_t done = db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book WHERE id<=?"),
                                     {indexedUpTo(db).value_or(0)})
                            .value_or(0);
    for (;;) {
        Transaction batch(db);
        if (!batch.begun())
            return Build::failed;
        const std::int64_t cursor = indexedUpTo(db).value_or(0);
        auto pages = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE id>? ORDER BY id LIMIT ?"));
        Rows rows(db);
        if (!pages || !rows.ok())
            return Build::failed;
        pages->bind({cursor, batchPages});
        PairCounts counts;
        std::int64_t last = cursor;
        bool ok = true;
        while (pages->step()) {
            ++done;
            last = pages->integer(0).value_or(last);
            ok = rows.add(last, pages->text(1).value_or(QString()), counts) && ok;
        }
        pages.reset();
        ok = ok && rows.writeCounts(counts);
        const bool finished = last == cursor;
        ok = ok
            && (finished ? setMeta(db, kStateKey, QString::number(version))
                               && db.run(QStringLiteral("DELETE FROM meta WHERE key IN (?, ?)"),
                                         {kCursorKey, kCursorKey + QStringLiteral("_version")})
                         : setMeta(db, kCursorKey, QString::number(last)));
        if (!ok || !batch.commit())
            return Build::failed;
        if (finished)
            return Build::complete;
        if (progress && !progress(done, total))
            return Build::stopped;
    }
}

} // namespace quorvel::PageIndex
