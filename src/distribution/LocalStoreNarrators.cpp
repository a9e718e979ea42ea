#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"

#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Numbers.h"
#include "core/SQLiteDB.h"
#include "scholar/Isnad.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace quorvel {

bool LocalStore::narratorsOutdated() const
{
    return narratorsOutdated(*db_);
}

bool LocalStore::narratorsOutdated(SQLiteDB& db)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {kIsnadRulesKey});
    if (!rows.isEmpty() && rows.first().str(0) == QString::number(Isnad::rulesVersion))
        return false;
    // Without stored narrators nothing was read under older rules.
    return db.scalarInt(QStringLiteral("SELECT 1 FROM narrators LIMIT 1")).has_value();
}

namespace {

// The meta key of a re-reading under way: the rules it reads with and the
// first book not yet read again ("3:1042").
const QString kIsnadRereadKey = QStringLiteral("isnad_reread");

// The book a re-reading under the current rules stopped before, or 0 to
// start from the first.
std::int64_t rereadFrom(SQLiteDB& db)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {kIsnadRereadKey});
    const QString mark = rows.isEmpty() ? QString() : rows.first().str(0).value_or(QString());
    const QString rules = mark.section(u':', 0, 0);
    if (rules != QString::number(Isnad::rulesVersion))
        return 0;
    return Numbers::parseInteger(mark.section(u':', 1)).value_or(0);
}

// Files the edges of narrator `gone` under `keep` and deletes `gone`. Edges
// between any two of `members` would become the keeper's loops and go.
bool mergeNarrator(SQLiteDB& db, std::int64_t keep, std::int64_t gone, const QList<std::int64_t>& members)
{
    const SQLArgs group = argsOf(members);
    const QString inGroup = QStringLiteral(" IN (") + SQLiteDB::marks(group.size()) + u')';
    // They are found from the name that goes, whose edges are mostly this
    // batch's, not from the keeper, whose edges grow with the library (the
    // unary plus keeps SQLite off the keeper's side).
    return db.run(QStringLiteral("DELETE FROM isnad_edges WHERE student_id=? AND +teacher_id") + inGroup,
                  SQLArgs{gone} + group)
        && db.run(QStringLiteral("DELETE FROM isnad_edges WHERE teacher_id=? AND +student_id") + inGroup,
                  SQLArgs{gone} + group)
        && db.run(QStringLiteral("UPDATE isnad_edges SET student_id=? WHERE student_id=?"), {keep, gone})
        && db.run(QStringLiteral("UPDATE isnad_edges SET teacher_id=? WHERE teacher_id=?"), {keep, gone})
        && db.run(QStringLiteral("DELETE FROM narrators WHERE id=?"), {gone});
}

// A kin word's fallback («والد سهيل») the library's other names resolve
// (سهيل بن أبي صالح) is filed under the man named (أبو صالح).
bool mergeNamedFallbacks(SQLiteDB& db)
{
    QHash<QString, std::int64_t> ids;
    QStringList names;
    for (const auto& row : db.rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const auto id = row.integer(0);
        const auto name = row.str(1);
        if (id && name) {
            ids.insert(*name, *id);
            names.append(*name);
        }
    }
    const QHash<QString, QString> named = Isnad::namedFallbacks(names);
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        const std::int64_t gone = ids.value(it.key());
        const std::int64_t keep = ids.value(it.value());
        if (gone != keep && !mergeNarrator(db, keep, gone, {keep, gone}))
            return false;
    }
    return true;
}

// Whether a re-reading may go on once `transaction` began: another process
// may have done the work meanwhile, or may hold the store to do it. Nothing
// when it may go on; else what this process says (nothing for another
// process's work, which that process tells of; a failure only when the store
// refused for a reason of its own).
std::optional<LocalStore::NarratorRefresh> othersAtWork(SQLiteDB& db, const Transaction& transaction)
{
    using Outcome = LocalStore::NarratorRefresh::Outcome;
    const auto failure = transaction.begun() ? std::nullopt : db.lastFailure();
    if (!LocalStore::narratorsOutdated(db))
        return LocalStore::NarratorRefresh{Outcome::upToDate};
    if (transaction.begun())
        return std::nullopt;
    // Held past the wait by another writer: tried again at the next start.
    if (failure && failure->kind == SQLFailure::Kind::busy)
        return LocalStore::NarratorRefresh{Outcome::stopped};
    return LocalStore::NarratorRefresh{Outcome::failed};
}

} // namespace

LocalStore::NarratorRefresh LocalStore::rereadBook(std::int64_t bookId, std::int64_t nextBook)
{
    Transaction transaction(*db_);
    if (const auto said = othersAtWork(*db_, transaction))
        return *said;
    // Another process read this book again already.
    if (rereadFrom(*db_) > bookId)
        return {NarratorRefresh::Outcome::done, 0};
    if (!db_->run(QStringLiteral("DELETE FROM isnad_edges WHERE book_id=?"), {bookId}))
        return {NarratorRefresh::Outcome::failed};
    NarratorWriter narrators(*db_);
    auto pages = db_->prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=? ORDER BY seq, id"));
    if (!narrators.ready() || !pages)
        return {NarratorRefresh::Outcome::failed};
    pages->bind({bookId});
    std::int64_t chained = 0;
    Statement::Step step;
    while ((step = pages->next()) == Statement::Step::Row) {
        const QString content = pages->text(1).value_or(QString());
        if (!Isnad::hasIsnad(content))
            continue;
        ++chained;
        if (!narrators.addPage(content, bookId, pages->integer(0).value_or(0)))
            return {NarratorRefresh::Outcome::failed};
    }
    pages.reset();
    const QString mark = QString::number(Isnad::rulesVersion) + u':' + QString::number(nextBook);
    if (step != Statement::Step::Done
        || !db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"), {kIsnadRereadKey, mark})
        || !transaction.commit())
        return {NarratorRefresh::Outcome::failed};
    return {NarratorRefresh::Outcome::done, chained};
}

LocalStore::NarratorRefresh LocalStore::refreshNarrators(const std::function<bool()>& goOn)
{
    if (db_->isReadOnly() || !narratorsOutdated())
        return {};
    // Book by book, each in a transaction of its own that records where the
    // reading stands: a stop loses no book read, and the next start goes on.
    const std::int64_t from = rereadFrom(*db_);
    QList<std::int64_t> books;
    auto bookIds = db_->prepare(QStringLiteral("SELECT DISTINCT book_id FROM pages WHERE book_id>=? ORDER BY book_id"));
    if (!bookIds)
        return {NarratorRefresh::Outcome::failed};
    bookIds->bind({from});
    Statement::Step step;
    while ((step = bookIds->next()) == Statement::Step::Row)
        books.append(bookIds->integer(0).value_or(0));
    bookIds.reset();
    if (step != Statement::Step::Done)
        return {NarratorRefresh::Outcome::failed};
    NarratorRefresh result{NarratorRefresh::Outcome::done};
    for (qsizetype i = 0; i < books.size(); ++i) {
        if (goOn && !goOn())
            return {NarratorRefresh::Outcome::stopped, result.pages};
        const NarratorRefresh book =
            rereadBook(books[i], i + 1 < books.size() ? books[i + 1] : books[i] + 1);
        if (book.outcome == NarratorRefresh::Outcome::upToDate)
            return {NarratorRefresh::Outcome::upToDate, result.pages};
        if (book.outcome != NarratorRefresh::Outcome::done)
            return book;
        result.pages += book.pages;
    }
    // Names no page gives any more went with the older rules; what is left
    // is merged anew as a whole.
    {
        Transaction transaction(*db_);
        if (const auto said = othersAtWork(*db_, transaction))
            return {said->outcome, result.pages};
        if (!db_->exec(QStringLiteral(
                "DELETE FROM narrators WHERE id NOT IN (SELECT student_id FROM isnad_edges) "
                "AND id NOT IN (SELECT teacher_id FROM isnad_edges);"
                "DELETE FROM meta WHERE key IN ('narrators_merged', 'isnad_reread');"))
            || !db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"),
                         {kIsnadRulesKey, QString::number(Isnad::rulesVersion)})
            || !transaction.commit())
            return {NarratorRefresh::Outcome::failed};
    }
    if (!dedupNarrators())
        return {NarratorRefresh::Outcome::failed};
    return result;
}

QString LocalStore::narratorsRefreshedNotice(std::int64_t pages)
{
    return QStringLiteral(u"حُدّث جدول الرواة وشبكة الأسانيد بقواعد الاستخراج الحالية: قُرئت أسانيد ")
        + CountedNoun::pages().count(pages, CountedNoun::Case::genitive)
        + QStringLiteral(u" من جديد دون إعادة تثبيت الكتب.");
}

QString LocalStore::narratorsRefreshNotice(const NarratorRefresh& refresh)
{
    switch (refresh.outcome) {
    case NarratorRefresh::Outcome::done:
        return narratorsRefreshedNotice(refresh.pages);
    case NarratorRefresh::Outcome::failed:
        return QStringLiteral(u"تعذّر تحديث جدول الرواة بقواعد الاستخراج الحالية، فبقي كما كان، وستُعاد المحاولة عند التشغيل التالي.");
    case NarratorRefresh::Outcome::upToDate:
    case NarratorRefresh::Outcome::stopped:
        break;
    }
    return {};
}

bool LocalStore::dedupNarrators()
{
    // Names up to the recorded id were merged by an earlier batch, so only a
    // group holding a later name can change. A batch that stopped before its
    // merge leaves its names above the mark for the next one.
    const auto mark = db_->rows(QStringLiteral("SELECT value FROM meta WHERE key='narrators_merged'"));
    const std::optional<std::int64_t> merged =
        mark.isEmpty() || !mark.first().str(0) ? std::nullopt : Numbers::parseInteger(*mark.first().str(0));
    // Without a mark every name counts as new: the store's first merge looks at all.
    const std::int64_t mergedUpTo = merged.value_or(-1);
    const std::int64_t newest = db_->scalarInt(QStringLiteral("SELECT MAX(id) FROM narrators")).value_or(0);
    if (newest <= mergedUpTo)
        return true;

    struct Entry {
        std::int64_t id;
        QString name;
    };
    struct Group {
        QList<Entry> members;
        bool changed = false;
    };
    // Groups in first-seen order; members keep their reading order.
    QHash<QString, qsizetype> groupOf;
    QList<Group> groups;
    for (const auto& row : db_->rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const auto id = row.integer(0);
        const auto name = row.str(1);
        if (!id || !name)
            continue;
        const QString key = Isnad::spellingKey(*name);
        auto it = groupOf.find(key);
        if (it == groupOf.end()) {
            it = groupOf.insert(key, groups.size());
            groups.append(Group());
        }
        groups[*it].members.append({*id, *name});
        groups[*it].changed = groups[*it].changed || *id > mergedUpTo;
    }

    Transaction transaction(*db_);
    if (!transaction.begun())
        return false;
    // A man is named as the pages write him most often («بن شهاب» 706 times
    // over one «أبن شهاب»); between spellings as common, the fullest. Uses
    // are counted up to a few, which tells a slip of the pen from the usual
    // spelling without walking a keeper's many edges.
    const auto uses = [&](std::int64_t id) {
        return db_->scalarInt(QStringLiteral("SELECT (SELECT COUNT(*) FROM (SELECT 1 FROM isnad_edges WHERE student_id=?1 LIMIT 8))"
                                             " + (SELECT COUNT(*) FROM (SELECT 1 FROM isnad_edges WHERE teacher_id=?1 LIMIT 8))"),
                              {id})
            .value_or(0);
    };
    for (const auto& [group, changed] : std::as_const(groups)) {
        if (group.size() < 2 || !changed)
            continue;
        QList<std::pair<std::int64_t, qsizetype>> rank;
        for (const Entry& member : group)
            rank.append({uses(member.id), Characters::count(member.name)});
        qsizetype keeper = 0;
        for (qsizetype i = 1; i < group.size(); ++i)
            if (rank[i] > rank[keeper])
                keeper = i;
        const std::int64_t keep = group[keeper].id;
        QList<std::int64_t> ids;
        for (const Entry& member : group)
            ids.append(member.id);
        // A half-made merge would leave edges pointing at a deleted narrator:
        // the transaction keeps it whole.
        for (qsizetype i = 0; i < group.size(); ++i)
            if (i != keeper && !mergeNarrator(*db_, keep, group[i].id, ids))
                return false;
    }
    if (!mergeNamedFallbacks(*db_))
        return false;
    // A store merged before the mark existed may still hold loops from its installs.
    if (!merged && !db_->run(QStringLiteral("DELETE FROM isnad_edges WHERE student_id=teacher_id")))
        return false;
    return db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) "
                                   "SELECT 'narrators_merged', IFNULL(MAX(id), 0) FROM narrators"))
        && transaction.commit();
}

} // namespace quorvel
