#include "distribution/LocalStore.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "core/SQLiteDB.h"

namespace quorvel {

namespace {

// The meta key of a bringing-up under way: the rules it writes with and the
// last page id done ("2:200457").
const QString kNormRefreshKey = QStringLiteral("norm_refresh");
// Pages written again per transaction.
constexpr std::int64_t kNormBatch = 200;

// A meta value, empty when there is none.
QString metaValue(SQLiteDB& db, const QString& key)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {key});
    return rows.isEmpty() ? QString() : rows.first().str(0).value_or(QString());
}

// The page id a bringing-up under the current rules got to, or 0 to start
// from the first.
std::int64_t refreshedUpTo(SQLiteDB& db)
{
    const QString mark = metaValue(db, kNormRefreshKey);
    if (mark.section(u':', 0, 0) != QString::number(Arabic::normVersion))
        return 0;
    return Numbers::parseInteger(mark.section(u':', 1)).value_or(0);
}

} // namespace

bool LocalStore::normalFormOutdated() const
{
    return normalFormOutdated(*db_);
}

bool LocalStore::normalFormOutdated(SQLiteDB& db)
{
    if (metaValue(db, kNormVersionKey) == QString::number(Arabic::normVersion))
        return false;
    return db.scalarInt(QStringLiteral("SELECT 1 FROM pages LIMIT 1")).has_value();
}

std::optional<std::int64_t> LocalStore::refreshFormBatch(std::int64_t after)
{
    // The rules before the current ones split a word at a hamza or madda
    // mark and read the mushaf's spelling only as written; they agree on
    // every other text, so only pages holding one of those marks or the
    // mushaf's signs (the superscript alef, the wasla, the Quranic annotation
    // signs, its ءَا) can change.
    auto pages = db_->prepare(QStringLiteral(
        "SELECT id, book_id, content, content_norm FROM pages WHERE id > ? AND (instr(content, char(1619)) > 0 "
        "OR instr(content, char(1620)) > 0 OR instr(content, char(1621)) > 0 "
        "OR content GLOB '*[' || char(1648) || '-' || char(1649) || char(1750) || '-' || char(1773) || ']*' "
        "OR instr(content, char(1569, 1614, 1575)) > 0) "
        "ORDER BY id LIMIT ?"));
    auto setNorm = db_->prepare(QStringLiteral("UPDATE pages SET content_norm=? WHERE id=?"));
    auto dropRow = db_->prepare(QStringLiteral("DELETE FROM pages_fts WHERE rowid=?"));
    auto addRow = db_->prepare(
        QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
    if (!pages || !setNorm || !dropRow || !addRow)
        return std::nullopt;
    const auto write = [](Statement& st, const SQLArgs& args) {
        st.bind(args);
        return st.next() == Statement::Step::Done;
    };
    pages->bind({after, kNormBatch});
    std::int64_t last = after;
    std::int64_t read = 0;
    Statement::Step step;
    while ((step = pages->next()) == Statement::Step::Row) {
        const std::int64_t id = pages->integer(0).value_or(0);
        const QString norm = Arabic::normalize(Library::searchedContent(pages->text(2).value_or(QString())), true);
        last = id;
        ++read;
        if (norm == pages->text(3).value_or(QString()))
            continue;
        // The page and its full-text row change together, in this batch's
        // transaction: a search reads either both old or both new.
        if (!write(*setNorm, {norm, id}) || !write(*dropRow, {id})
            || !write(*addRow, {id, norm, id, pages->integer(1).value_or(0)}))
            return std::nullopt;
    }
    if (step != Statement::Step::Done)
        return std::nullopt;
    // A short batch was the last: nothing is left after it.
    return read < kNormBatch ? std::optional<std::int64_t>(-1) : std::optional<std::int64_t>(last);
}

LocalStore::FormRefresh LocalStore::refreshNormalForm(const std::function<bool()>& goOn)
{
    if (db_->isReadOnly() || !normalFormOutdated())
        return FormRefresh::upToDate;
    std::int64_t after = refreshedUpTo(*db_);
    for (;;) {
        if (goOn && !goOn())
            return FormRefresh::stopped;
        Transaction transaction(*db_);
        if (!transaction.begun())
            return FormRefresh::failed;
        const std::optional<std::int64_t> next = refreshFormBatch(after);
        if (!next)
            return FormRefresh::failed;
        const QString version = QString::number(Arabic::normVersion);
        const bool recorded = *next < 0
            ? db_->run(QStringLiteral("DELETE FROM meta WHERE key=?"), {kNormRefreshKey})
                && db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"),
                            {kNormVersionKey, version})
            : db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"),
                       {kNormRefreshKey, version + u':' + QString::number(*next)});
        if (!recorded || !transaction.commit())
            return FormRefresh::failed;
        if (*next < 0)
            return FormRefresh::done;
        after = *next;
    }
}

} // namespace quorvel
