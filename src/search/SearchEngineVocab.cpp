// The index vocabulary of a search connection: range scans of the terms,
// the glued-digit terms shared per data generation, and the page index's
// forms and marked words.

#include "search/SearchEngine.h"

#include "core/SQLiteDB.h"
#include "search/PageIndex.h"

#include <QHash>

#include <algorithm>
#include <mutex>

namespace quorvel {

const QString& SearchEngine::Vocab::topChar()
{
    static const QString top = QString::fromUcs4(U"\U0010FFFF", 1);
    return top;
}

void SearchEngine::Vocab::sortCodePoints(QStringList& list)
{
    std::sort(list.begin(), list.end(),
              [](const QString& a, const QString& b) { return Arabic::codePointLess(a, b); });
}

// A bound on the words remembered, so that a process answering endless
// distinct words keeps a small table: past it the table starts again.
constexpr qsizetype kMaxGluedWords = 50000;

class SearchEngine::Vocab::Glued {
public:
    std::optional<QStringList> find(const QString& word) const
    {
        std::lock_guard guard(lock);
        const auto it = terms.constFind(word);
        if (it == terms.constEnd())
            return std::nullopt;
        return *it;
    }

    void store(const QString& word, const QStringList& found)
    {
        std::lock_guard guard(lock);
        if (terms.size() >= kMaxGluedWords)
            terms.clear();
        terms.insert(word, found);
    }

private:
    mutable std::mutex lock;
    QHash<QString, QStringList> terms;
};

std::shared_ptr<SearchEngine::Vocab::Glued> SearchEngine::Vocab::gluedTerms(const QString& path,
                                                                           std::int64_t generation)
{
    if (generation < 0)
        return nullptr;
    struct Entry {
        std::int64_t generation;
        std::shared_ptr<Glued> glued;
    };
    static std::mutex lock;
    static QHash<QString, Entry> all;
    std::lock_guard guard(lock);
    Entry& entry = all[path];
    if (!entry.glued || entry.generation != generation)
        entry = Entry{generation, std::make_shared<Glued>()};
    return entry.glued;
}

SearchEngine::Vocab::~Vocab() = default;

std::unique_ptr<SearchEngine::Vocab> SearchEngine::Vocab::make(std::shared_ptr<SQLiteDB> db)
{
    std::unique_ptr<Vocab> vocab(new Vocab);
    vocab->db = std::move(db);
    if (!vocab->open())
        return nullptr;
    return vocab;
}

std::unique_ptr<SearchEngine::Vocab> SearchEngine::Vocab::deferred(std::shared_ptr<SQLiteDB> db,
                                                                   std::shared_ptr<Glued> glued)
{
    std::unique_ptr<Vocab> vocab(new Vocab);
    vocab->db = std::move(db);
    vocab->known = std::move(glued);
    return vocab;
}

// Creates the connection's fts5vocab table (the connection is query-only, so
// the switch is lifted for the one statement and always put back) and
// prepares the one range statement.
bool SearchEngine::Vocab::open()
{
    if (st)
        return true;
    if (failed || !db) {
        failed = true;
        return false;
    }
    failed = true;
    if (termTable) {
        st = compile(QStringLiteral("SELECT DISTINCT term FROM page_terms WHERE term >= ? AND term < ? ORDER BY term"));
        if (!st) {
            indexFailed = true;
            return false;
        }
        failed = false;
        return true;
    }
    db->exec(QStringLiteral("PRAGMA query_only=0"));
    const bool created = db->exec(QStringLiteral(
        "CREATE VIRTUAL TABLE IF NOT EXISTS temp.quorvel_vocab USING fts5vocab(main, 'pages_fts', 'row')"));
    db->exec(QStringLiteral("PRAGMA query_only=1"));
    if (!created)
        return false;
    st = compile(QStringLiteral("SELECT term FROM temp.quorvel_vocab WHERE term >= ? AND term < ?"));
    if (!st)
        return false;
    failed = false;
    return true;
}

namespace {

// Runs `st` over [lo, hi) to its end or until `visit` says stop; false when
// it stopped before its end. `failed` is set when a step failed.
bool scanStatement(Statement& st, const QString& lo, const QString& hi,
                   const std::function<bool(const QString&)>& visit, bool& failed)
{
    st.bind({lo, hi});
    Statement::Step step;
    bool stopped = false;
    while ((step = st.next()) == Statement::Step::Row)
        if (auto term = st.text(0); term && !visit(*term)) {
            stopped = true;
            break;
        }
    // Leave no statement open on the connection between scans.
    st.bind({});
    if (step == Statement::Step::Error)
        failed = true;
    return !stopped && step == Statement::Step::Done;
}

} // namespace

Statement* SearchEngine::Vocab::compile(const QString& sql)
{
    if (lend)
        return lend(sql);
    auto compiled = db->prepare(sql);
    if (!compiled)
        return nullptr;
    owned.push_back(std::make_unique<Statement>(std::move(*compiled)));
    return owned.back().get();
}

bool SearchEngine::Vocab::scanAll(const QString& lo, const QString& hi,
                                  const std::function<bool(const QString&)>& visit)
{
    bool failedStep = false;
    const bool whole = scanStatement(*st, lo, hi, visit, failedStep);
    indexFailed = indexFailed || (termTable && failedStep);
    return whole;
}

void SearchEngine::Vocab::useIndex(bool forms, bool hamza)
{
    termTable = true;
    this->forms = forms;
    this->hamza = hamza;
}

bool SearchEngine::Vocab::scanReversed(const QString& lo, const QString& hi,
                                       const std::function<bool(const QString&)>& visit)
{
    if (!termTable || !open())
        return false;
    if (!reversedSt)
        reversedSt = compile(QStringLiteral("SELECT DISTINCT term FROM page_terms WHERE rterm >= ? AND rterm < ?"));
    if (!reversedSt) {
        indexFailed = true;
        return false;
    }
    return scanStatement(*reversedSt, lo, hi, visit, indexFailed);
}

std::optional<QStringList> SearchEngine::Vocab::formsOf(const Alts& alts, const QList<Arabic::RichLetter>* asked)
{
    const bool prefixes = alts.kind == Alts::Kind::prefixes;
    Statement*& st = prefixes ? formRangeSt : formSt;
    if (!st && open())
        st = compile(prefixes ? QStringLiteral("SELECT form FROM page_terms WHERE term >= ? AND term < ?")
                                    : QStringLiteral("SELECT form FROM page_terms WHERE term = ?"));
    if (!st) {
        formsFailed = indexFailed = true;
        return std::nullopt;
    }
    QSet<QString> seen;
    QStringList out;
    for (const QString& term : alts.list) {
        if (prefixes)
            st->bind({term, term + topChar()});
        else
            st->bind({term});
        Statement::Step step;
        while ((step = st->next()) == Statement::Step::Row) {
            const QString form = st->text(0).value_or(QString());
            // A form that does not fold to its term is a damaged row.
            if (!prefixes && !PageIndex::rowAgrees(term, form)) {
                st->bind({});
                formsFailed = indexFailed = true;
                return std::nullopt;
            }
            if (seen.contains(form) || (asked && !Arabic::rawOK(*asked, PageIndex::letters(form), true, false)))
                continue;
            seen.insert(form);
            out << form;
            if (out.size() > maxWild) {
                st->bind({});
                formsFailed = true;
                return std::nullopt;
            }
        }
        if (step != Statement::Step::Done) {
            st->bind({});
            formsFailed = indexFailed = true;
            return std::nullopt;
        }
    }
    st->bind({});
    sortCodePoints(out);
    return out;
}

std::optional<QList<std::pair<QString, QString>>> SearchEngine::Vocab::markedForms(const QString& lo,
                                                                                 const QString& hi)
{
    // The term table is read directly: no vocabulary table is needed.
    if (!termTable || !db)
        return std::nullopt;
    // One seek per distinct word: a word is marked on many pages alike.
    if (!markedSt)
        markedSt = compile(QStringLiteral("SELECT term, form FROM page_marks WHERE (term, form) > (?, ?) "
                                                "AND term < ? ORDER BY term, form LIMIT 1"));
    if (!markedSt) {
        indexFailed = true;
        return std::nullopt;
    }
    QList<std::pair<QString, QString>> out;
    std::pair<QString, QString> at{lo, QString()};
    for (;;) {
        markedSt->bind({at.first, at.second, hi});
        const Statement::Step step = markedSt->next();
        if (step == Statement::Step::Done)
            break;
        if (step != Statement::Step::Row) {
            markedSt->bind({});
            indexFailed = true;
            return std::nullopt;
        }
        at = {markedSt->text(0).value_or(QString()), markedSt->text(1).value_or(QString())};
        if (!PageIndex::rowAgrees(at.first, at.second)) {
            markedSt->bind({});
            indexFailed = true;
            return std::nullopt;
        }
        out.append(at);
    }
    markedSt->bind({});
    return out;
}

std::optional<SearchEngine::PageSet> SearchEngine::Vocab::markedPages(const QList<std::pair<QString, QString>>& words)
{
    if (!markedPagesSt && db)
        markedPagesSt = compile(QStringLiteral("SELECT page_id FROM page_marks WHERE term = ? AND form = ?"));
    if (!markedPagesSt) {
        indexFailed = true;
        return std::nullopt;
    }
    PageSet out;
    for (const auto& [term, form] : words) {
        markedPagesSt->bind({term, form});
        Statement::Step step;
        while ((step = markedPagesSt->next()) == Statement::Step::Row)
            out.push_back(markedPagesSt->integer(0).value_or(0));
        if (step != Statement::Step::Done) {
            markedPagesSt->bind({});
            indexFailed = true;
            return std::nullopt;
        }
    }
    markedPagesSt->bind({});
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void SearchEngine::Vocab::scan(const QString& lo, const QString& hi,
                               const std::function<bool(const QString&)>& visit)
{
    if (open())
        scanAll(lo, hi, visit);
}

QStringList SearchEngine::Vocab::range(const QString& lo, const QString& hi)
{
    QStringList out;
    scan(lo, hi, [&](const QString& term) {
        out << term;
        return true;
    });
    return out;
}

QStringList SearchEngine::Vocab::terms(const QString& prefix)
{
    return range(prefix, prefix + topChar());
}

// Remembered only when all three scans ran to their end: a scan a cancel
// cut short may have missed terms.
QStringList SearchEngine::Vocab::glued(const QString& w)
{
    if (known)
        if (auto found = known->find(w))
            return *found;
    if (!open())
        return {};
    static const char16_t blocks[3][2] = {{0x30, 0x3A}, {0x660, 0x66A}, {0x6F0, 0x6FA}};
    QStringList out;
    bool whole = true;
    for (const auto& block : blocks)
        whole = scanAll(w + QChar(block[0]), w + QChar(block[1]),
                        [&](const QString& term) {
                            const auto stripped = Arabic::stripTrailingDigits(term);
                            if (stripped && *stripped == w)
                                out << term;
                            return true;
                        })
                && whole;
    if (known && whole)
        known->store(w, out);
    return out;
}

} // namespace quorvel
