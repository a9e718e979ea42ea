// Query planning: a SearchQuery becomes FTS5 MATCH expressions over
// pages_fts, every query word expanded into the index terms it may match.

#include "search/SearchEngine.h"

#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"

#include "search/PageIndex.h"
#include "search/PageMap.h"

#include <QHash>

#include <algorithm>
#include <iterator>
#include <mutex>

namespace quorvel {

namespace {

const QString orJoin = QStringLiteral(" OR ");
const QString andJoin = QStringLiteral(" AND ");

// The upper bound of every range scan: a text that sorts after any term.
const QString& topChar()
{
    static const QString top = QString::fromUcs4(U"\U0010FFFF", 1);
    return top;
}

QString group(const QStringList& items, const QString& joiner)
{
    return "(" + items.join(joiner) + ")";
}

void sortCodePoints(QStringList& list)
{
    std::sort(list.begin(), list.end(),
              [](const QString& a, const QString& b) { return Arabic::codePointLess(a, b); });
}

} // namespace

QString SearchEngine::quote(const QString& text)
{
    QString bare = text;
    bare.remove(QChar('"'));
    return "\"" + bare + "\"";
}

QStringList SearchEngine::Alts::fts() const
{
    QStringList out;
    out.reserve(list.size());
    for (const QString& term : list)
        out << (kind == Kind::prefixes ? quote(term) + "*" : quote(term));
    return out;
}

namespace {

qsizetype queryChars(const SearchQuery& q)
{
    qsizetype chars = 0;
    for (const QStringList* list : {&q.andPhrases, &q.orPhrases, &q.notPhrases})
        for (const QString& text : *list)
            chars += text.size();
    return chars;
}

} // namespace

std::optional<QString> SearchEngine::refusal(const SearchQuery& q)
{
    if (!plan(q).tooLarge)
        return std::nullopt;
    // The counts stand as the sentence's subject, in the digits of the
    // limits' other messages: "128 كلمة و4096 حرفا".
    static const CountedNoun words(QStringLiteral("كلمة"), QStringLiteral("كلمتان"), QStringLiteral("كلمات"),
                                   QStringLiteral("كلمة"));
    static const CountedNoun characters(QStringLiteral("حرف"), QStringLiteral("حرفان"), QStringLiteral("أحرف"),
                                        QStringLiteral("حرفا"));
    return QStringLiteral("طلب البحث أطول من المقبول: ")
           + words.count(maxQueryWords, CountedNoun::Case::nominative, QString::number(maxQueryWords))
           + QStringLiteral(" و")
           + characters.count(maxQueryChars, CountedNoun::Case::nominative, QString::number(maxQueryChars))
           + QStringLiteral(" على الأكثر.");
}

SearchEngine::Plan SearchEngine::plan(const SearchQuery& q)
{
    Plan plan;
    plan.q = q;
    // Measured before anything is split, so a huge text costs one pass.
    if (queryChars(q) > maxQueryChars) {
        plan.tooLarge = true;
        return plan;
    }
    const bool rich = q.hamza || q.tashkeel;
    qsizetype wordCount = 0;
    auto phrases = [&](const QStringList& texts) {
        std::vector<Phrase> out;
        for (const QString& text : texts) {
            Arabic::QueryWords words = Arabic::queryWords(text, rich);
            if (words.words.isEmpty())
                continue;
            wordCount += words.words.size();
            if (wordCount > maxQueryWords)
                break;
            Phrase phrase;
            phrase.toks.reserve(size_t(words.words.size()));
            // A word of another script is looked up as the index holds it.
            for (const QString& word : words.words)
                phrase.toks.emplace_back(PageIndex::queryTerm(word), q.affix, q.morph, q.digitsExact, !rich);
            if (rich)
                phrase.rich = words.rich.value_or(QList<Arabic::RichWord>{});
            out.push_back(std::move(phrase));
        }
        return out;
    };
    plan.ands = phrases(q.andPhrases);
    plan.ors = phrases(q.orPhrases);
    plan.nots = phrases(q.notPhrases);
    if (wordCount > maxQueryWords)
        plan = Plan{q, {}, {}, {}, true};
    return plan;
}

// ---- vocabulary ---------------------------------------------------------------

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
        auto prepared = db->prepare(
            QStringLiteral("SELECT DISTINCT term FROM page_terms WHERE term >= ? AND term < ? ORDER BY term"));
        if (!prepared) {
            indexFailed = true;
            return false;
        }
        st = std::make_unique<Statement>(std::move(*prepared));
        failed = false;
        return true;
    }
    db->exec(QStringLiteral("PRAGMA query_only=0"));
    const bool created = db->exec(QStringLiteral(
        "CREATE VIRTUAL TABLE IF NOT EXISTS temp.quorvel_vocab USING fts5vocab(main, 'pages_fts', 'row')"));
    db->exec(QStringLiteral("PRAGMA query_only=1"));
    if (!created)
        return false;
    auto prepared = db->prepare(QStringLiteral("SELECT term FROM temp.quorvel_vocab WHERE term >= ? AND term < ?"));
    if (!prepared)
        return false;
    st = std::make_unique<Statement>(std::move(*prepared));
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

std::unique_ptr<Statement> prepared(SQLiteDB& db, const QString& sql)
{
    auto st = db.prepare(sql);
    return st ? std::make_unique<Statement>(std::move(*st)) : nullptr;
}

} // namespace

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
        reversedSt = prepared(*db, QStringLiteral("SELECT DISTINCT term FROM page_terms WHERE rterm >= ? AND rterm < ?"));
    if (!reversedSt) {
        indexFailed = true;
        return false;
    }
    return scanStatement(*reversedSt, lo, hi, visit, indexFailed);
}

std::optional<QStringList> SearchEngine::Vocab::formsOf(const Alts& alts, const QList<Arabic::RichLetter>* asked)
{
    const bool prefixes = alts.kind == Alts::Kind::prefixes;
    std::unique_ptr<Statement>& st = prefixes ? formRangeSt : formSt;
    if (!st && open())
        st = prepared(*db, prefixes ? QStringLiteral("SELECT form FROM page_terms WHERE term >= ? AND term < ?")
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
        markedSt = prepared(*db, QStringLiteral("SELECT term, form FROM page_marks WHERE (term, form) > (?, ?) "
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
        markedPagesSt = prepared(*db, QStringLiteral("SELECT page_id FROM page_marks WHERE term = ? AND form = ?"));
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

// ---- expansion ------------------------------------------------------------------

// The index terms a query word may match. With `glued` false the terms a word
// reaches only indirectly (glued digits, affix forms found by matching,
// wildcard terms accepted only through stripped digits) are moved to `held`.
SearchEngine::Alts SearchEngine::alts(const Arabic::Tok& tok, Vocab* vocab, bool glued, Held& held)
{
    Alts out;
    if (tok.digit) {
        out.list << tok.t;
        if (!tok.digitsExact)
            for (const QString& form : Arabic::digitForms(tok.t))
                if (!out.list.contains(form))
                    out.list << form;
        return out;
    }
    switch (tok.mode) {
    case Arabic::TokMode::morph:
        out.kind = Alts::Kind::prefixes;
        out.list = tok.heads;
        return out;

    case Arabic::TokMode::wild: {
        if (!vocab || !vocab->open())
            return out;
        qsizetype cut = tok.t.size();
        qsizetype letters = 0;
        for (qsizetype i = 0; i < tok.t.size(); ++i) {
            const QChar c = tok.t[i];
            if (c == '*' || c == '?')
                cut = std::min(cut, i);
            else
                ++letters;
        }
        QStringList candidates;
        bool tooBroad = letters < minWildLetters;
        if (!tooBroad) {
            // Streamed, and stopped at the first term past the cap: a leading
            // wildcard reads the whole vocabulary otherwise.
            const QString prefix = tok.t.left(cut);
            qsizetype visited = 0;
            const auto visit = [&](const QString& term) {
                ++visited;
                if (tok.match(term))
                    candidates << term;
                tooBroad = candidates.size() > maxWild;
                return !tooBroad;
            };
            // A leading wildcard with a literal end of letters reads only the
            // terms that end so (a glued number aside) by their reversed key.
            qsizetype tail = tok.t.size();
            while (tail > 0 && tok.t[tail - 1] != '*' && tok.t[tail - 1] != '?')
                --tail;
            QString suffix = tok.t.mid(tail);
            const bool lettersOnly = !suffix.isEmpty()
                && std::none_of(suffix.begin(), suffix.end(), [](QChar c) { return c.isDigit(); });
            std::reverse(suffix.begin(), suffix.end());
            if (!(cut == 0 && lettersOnly && vocab->scanReversed(suffix, suffix + topChar(), visit)) && !tooBroad) {
                candidates.clear();
                visited = 0;
                vocab->scan(prefix, prefix + topChar(), visit);
                // Letters and one final star take every term of their range:
                // the index's own prefix query finds the same pages.
                if (!tooBroad && vocab->readsTermTable() && cut == tok.t.size() - 1 && tok.t.endsWith(u'*')
                    && !candidates.isEmpty() && candidates.size() == visited) {
                    out.kind = Alts::Kind::prefixes;
                    out.list = {prefix};
                    return out;
                }
            }
        }
        if (tooBroad) {
            vocab->tooBroad << tok.t;
            return out;
        }
        if (!glued) {
            QStringList direct;
            for (const QString& term : candidates) {
                if (tok.base(term))
                    direct << term;
                else
                    held.insert(term);
            }
            candidates = direct;
        }
        sortCodePoints(candidates);
        out.list = candidates;
        return out;
    }

    case Arabic::TokMode::affix: {
        const Arabic::FormSet& forms = *tok.forms;
        if (!vocab || !vocab->open()) {
            out.list = QStringList(forms.begin(), forms.end());
            sortCodePoints(out.list);
            return out;
        }
        QStringList heads;
        for (const QString& alt : tok.alts)
            heads << Arabic::affixHeads(alt);
        heads.removeDuplicates();
        sortCodePoints(heads);
        QSet<QString> found;
        // Streamed: a short head spans a large part of the vocabulary.
        for (const QString& head : heads)
            vocab->scan(head, head + topChar(), [&](const QString& term) {
                if (tok.match(term))
                    found.insert(term);
                return true;
            });
        if (!glued) {
            for (auto it = found.begin(); it != found.end();) {
                if (!forms.contains(*it)) {
                    held.insert(*it);
                    it = found.erase(it);
                } else {
                    ++it;
                }
            }
        }
        out.list = QStringList(found.begin(), found.end());
        sortCodePoints(out.list);
        return out;
    }

    case Arabic::TokMode::exact: {
        QStringList gluedForms;
        if (vocab)
            for (const QString& alt : tok.alts)
                gluedForms << vocab->glued(alt);
        out.list = tok.alts;
        if (glued)
            out.list << gluedForms;
        else
            for (const QString& form : gluedForms)
                held.insert(form);
        return out;
    }
    }
    return out;
}

// The expression of one phrase: its words' alternatives written out as FTS5
// phrases (adjacent, in order) while at most maxCombos combinations result;
// beyond that an AND of the words, which no longer proves adjacency.
SearchEngine::PhraseExpr SearchEngine::phraseExpr(const Phrase& phrase, Vocab* vocab, bool glued, Held& held)
{
    // Every word is expanded, also after one without alternatives, so that
    // each too-broad wildcard is reported.
    QList<QStringList> lists;
    bool missing = phrase.toks.empty();
    for (std::size_t j = 0; j < phrase.toks.size(); ++j) {
        const Arabic::Tok& tok = phrase.toks[j];
        Alts found = alts(tok, vocab, glued, held);
        if (vocab && vocab->writesForms()) {
            // The hamza forms are compared as the page check compares them.
            const bool compare = vocab->keepsHamza() && phrase.rich && !tok.digit && !PageIndex::foreign(tok.t)
                && qsizetype(j) < phrase.rich->size();
            found = Alts{Alts::Kind::terms,
                         vocab->formsOf(found, compare ? &(*phrase.rich)[qsizetype(j)].letters : nullptr)
                             .value_or(QStringList{})};
        }
        lists << found.fts();
        missing = missing || lists.last().isEmpty();
    }
    if (missing)
        return PhraseExpr{std::nullopt, true, QStringList{}};
    PhraseExpr out;
    if (lists.size() == 1) {
        out.expr = group(lists.first(), orJoin);
        out.exact = true;
        if (lists.first().size() <= maxCombos)
            out.combos = lists.first();
        return out;
    }
    QStringList combos{QString()};
    for (const QStringList& list : lists) {
        if (qint64(combos.size()) * list.size() > maxCombos) {
            QStringList words;
            for (const QStringList& each : lists)
                words << group(each, orJoin);
            return PhraseExpr{group(words, andJoin), false, std::nullopt};
        }
        QStringList next;
        next.reserve(combos.size() * list.size());
        for (const QString& combo : combos)
            for (const QString& alt : list)
                next << (combo.isEmpty() ? alt : combo + " + " + alt);
        combos = std::move(next);
    }
    out.expr = group(combos, orJoin);
    out.exact = true;
    out.combos = combos;
    return out;
}

// NEAR groups for the exact phrases, one per combination of their written-out
// forms (earlier phrases varying slowest); nothing when a phrase is not
// written out or the product passes maxCombos.
std::optional<QStringList> SearchEngine::nearCombos(const QList<PhraseExpr>& exprs)
{
    if (exprs.isEmpty())
        return QStringList{};
    QList<QStringList> groups{QStringList{}};
    for (const PhraseExpr& e : exprs) {
        if (!e.exact || !e.combos || e.combos->isEmpty())
            return std::nullopt;
        if (qint64(groups.size()) * e.combos->size() > maxCombos)
            return std::nullopt;
        QList<QStringList> next;
        for (const QStringList& g : groups)
            for (const QString& c : *e.combos)
                next << (QStringList(g) << c);
        groups = std::move(next);
    }
    QStringList out;
    for (const QStringList& g : groups)
        out << "NEAR(" + g.join(' ') + ", " + QString::number(nearDistance) + ")";
    return out;
}

namespace {

bool writesMarks(const SearchEngine::Phrase& phrase)
{
    if (phrase.rich)
        for (const Arabic::RichWord& word : *phrase.rich)
            for (const Arabic::RichLetter& letter : word.letters)
                if (letter.m1 != 0 || letter.m2 != 0)
                    return true;
    return false;
}

// Whether the letters of a word the query does not mark may be written
// otherwise on a page its full-text term finds (outside the page index,
// which keeps the written letters): a word the rasm folding produces, or
// one matched by wildcard, affix or root.
bool lettersMayDiffer(const SearchEngine::Phrase& phrase)
{
    for (const Arabic::Tok& tok : phrase.toks) {
        if (tok.digit)
            continue;
        if (tok.mode != Arabic::TokMode::exact)
            return true;
        for (auto it = Arabic::rasm().cbegin(); it != Arabic::rasm().cend(); ++it) {
            if (!tok.t.endsWith(it.value()))
                continue;
            const QStringView prefix = QStringView(tok.t).first(tok.t.size() - it.value().size());
            if (prefix.isEmpty() || Arabic::rasmPrefixes().contains(prefix.toString()))
                return true;
        }
    }
    return false;
}

// Which phrases leave marks or letters to the page check: those that write
// marks, and, outside the page index, those whose letters may differ.
struct MarksNeed {
    bool written = false;
    bool letters = false;
};

MarksNeed marksNeed(const SearchEngine::Plan& plan, bool forms)
{
    MarksNeed need;
    for (const std::vector<SearchEngine::Phrase>* list : {&plan.ands, &plan.ors, &plan.nots})
        for (const SearchEngine::Phrase& phrase : *list) {
            if (writesMarks(phrase))
                need.written = true;
            else if (!forms && lettersMayDiffer(phrase))
                need.letters = true;
        }
    return need;
}

// What the page index's marked words tell of the marks a query writes: the
// pages that hold every marked word of the query as the page check accepts
// it, or no limit at all when the words' bare forms already pass.
struct MarkedPages {
    bool known = false; // false: the page check compares the marks
    std::optional<SearchEngine::PageSet> pages;
};

// Whether the page check accepts every form of the word that the phrase's
// expression finds without a mark on the page: the marks the query writes
// then fall only where the comparison passes over them (a last letter that
// differs or is missing). True for all, false for none, nothing for some or
// when the forms cannot be read.
std::optional<bool> bareFormsPass(const SearchEngine::Phrase& phrase, SearchEngine::Vocab* vocab, bool hamza)
{
    SearchEngine::Held held;
    const Arabic::Tok& tok = phrase.toks.front();
    const QList<Arabic::RichLetter>& asked = phrase.rich->first().letters;
    const SearchEngine::Alts alts = SearchEngine::alts(tok, vocab, true, held);
    // The forms the expression looks for: over page_forms with hamza, only
    // those written with the query's alef forms.
    const bool kept = vocab->writesForms() && vocab->keepsHamza();
    const auto forms = vocab->formsOf(alts, kept ? &asked : nullptr);
    if (!forms)
        return std::nullopt;
    qsizetype passing = 0;
    for (const QString& form : *forms)
        passing += Arabic::rawOK(asked, PageIndex::letters(form), hamza, true) ? 1 : 0;
    if (passing == 0)
        return false;
    if (passing == forms->size())
        return true;
    return std::nullopt;
}

// The pages that hold every marked word of the query as it is written,
// from the page index's marked words: each form is tested as the page check
// tests a page word. Only where that is the whole page check: the whole
// page searched, each marked word a lone exact word the page must hold, and
// no order or nearness among them. Not known otherwise, or when the marked
// words cannot be read.
MarkedPages markedPages(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab)
{
    const SearchQuery& q = plan.q;
    if (!vocab || !vocab->readsTermTable() || !(q.inMatn && q.inHawashi) || q.ordered || q.near
        || !(q.requireAll || plan.ands.size() == 1))
        return {};
    for (const std::vector<SearchEngine::Phrase>* list : {&plan.ors, &plan.nots})
        for (const SearchEngine::Phrase& phrase : *list)
            if (writesMarks(phrase))
                return {};
    std::optional<SearchEngine::PageSet> pages;
    for (const SearchEngine::Phrase& phrase : plan.ands) {
        if (!writesMarks(phrase))
            continue;
        if (phrase.toks.size() != 1 || phrase.rich->size() != 1)
            return {};
        const Arabic::Tok& tok = phrase.toks.front();
        if (tok.mode != Arabic::TokMode::exact || tok.digit || PageIndex::foreign(tok.t))
            return {};
        // A page holding the word unmarked passes when its bare form does.
        const std::optional<bool> bare = bareFormsPass(phrase, vocab, q.hamza);
        if (!bare)
            return {};
        if (*bare)
            continue;
        // The word's terms with a number glued to its end come with it.
        const auto found = vocab->markedForms(tok.t, tok.t + topChar());
        if (!found)
            return {};
        QList<std::pair<QString, QString>> accepted;
        for (const auto& word : *found)
            if (tok.match(word.first)
                && Arabic::rawOK(phrase.rich->first().letters, PageIndex::markedLetters(word.second), q.hamza, true))
                accepted << word;
        auto these = vocab->markedPages(accepted);
        if (!these)
            return {};
        if (pages) {
            SearchEngine::PageSet both;
            std::set_intersection(pages->begin(), pages->end(), these->begin(), these->end(), std::back_inserter(both));
            these = std::move(both);
        }
        pages = std::move(these);
    }
    return {true, std::move(pages)};
}

// The phrase-order test's argument for the and-phrases `exprs`: each of
// their written-out combinations is one FTS5 phrase, in the order the
// expression writes them, once per phrase in an AND, or `nearGroups` times
// all of them in turn in NEAR groups. Nothing when a phrase is not written out.
std::optional<QString> orderArgument(const SearchEngine::Plan& plan, const QList<SearchEngine::PhraseExpr>& exprs,
                                     std::optional<qsizetype> nearGroups, int column)
{
    QStringList lengths;
    QStringList groups;
    for (qsizetype k = 0; k < exprs.size(); ++k) {
        if (!exprs[k].combos || !exprs[k].exact)
            return std::nullopt;
        lengths << QString::number(plan.ands[std::size_t(k)].toks.size());
        if (!nearGroups)
            for (qsizetype c = 0; c < exprs[k].combos->size(); ++c)
                groups << QString::number(k);
    }
    for (qsizetype g = 0; nearGroups && g < *nearGroups; ++g)
        for (qsizetype k = 0; k < exprs.size(); ++k)
            groups << QString::number(k);
    return QStringLiteral("%1;%2;%3;%4")
        .arg(column)
        .arg(plan.q.near ? 1 : 0)
        .arg(lengths.join(u','), groups.join(u','));
}

} // namespace

// The whole query as one expression and whether its matches still need the
// page check; no expression when a required phrase cannot be expressed.
SearchEngine::FtsPlan SearchEngine::ftsPlan(const Plan& plan, Vocab* vocab, bool glued, Held& held)
{
    const SearchQuery& q = plan.q;
    // The page index decides sections and hamza forms, and the marks a query
    // writes where its marked words tell; the rest stays with the page check.
    const bool forms = vocab && vocab->writesForms();
    const bool wholePage = q.inMatn && q.inHawashi;
    const MarksNeed need = q.tashkeel ? marksNeed(plan, forms) : MarksNeed{};
    bool marks = q.tashkeel && (plan.pageChecked || need.written || need.letters);
    // Over the page index, the marks a query writes are found by its marked words.
    std::shared_ptr<const PageSet> pages;
    if (marks && !plan.pageChecked && !need.letters) {
        MarkedPages found = markedPages(plan, vocab);
        if (found.pages)
            pages = std::make_shared<const PageSet>(std::move(*found.pages));
        marks = !found.known;
    }
    bool verify = forms ? marks : (!wholePage || q.hamza || marks);
    // Token positions are the page check's word positions in one column: a
    // page over pages_fts, or one section over the index. The index's
    // whole page spreads over three columns: a near window is seen whole in
    // one of them, and an occurrence of a one-word phrase in the main text
    // or footnotes (a longer phrase may cross the line between them).
    const bool acrossColumns = forms && wholePage;
    const bool positional = !plan.pageChecked
        && (!acrossColumns || q.near
            || std::all_of(plan.ands.begin(), plan.ands.end(), [](const Phrase& p) { return p.toks.size() == 1; }));
    const int column = acrossColumns ? wholePageColumns : forms && !q.inMatn ? 1 : 0;
    std::optional<QString> order;
    QStringList clauses;

    if (!plan.ands.empty()) {
        QList<PhraseExpr> exprs;
        for (const Phrase& p : plan.ands)
            exprs << phraseExpr(p, vocab, glued, held);
        if (!q.requireAll && !q.ordered && !q.near) {
            QStringList present;
            for (const PhraseExpr& e : exprs)
                if (e.expr)
                    present << *e.expr;
            if (present.isEmpty())
                return {};
            clauses << group(present, orJoin);
        } else {
            QStringList all;
            for (const PhraseExpr& e : exprs) {
                if (!e.expr)
                    return {};
                all << *e.expr;
            }
            if (all.size() == 1) {
                clauses << "(" + all.first() + ")";
            } else {
                std::optional<QStringList> near;
                if (q.near)
                    near = nearCombos(exprs);
                if (q.ordered && positional)
                    order = orderArgument(plan, exprs, near ? std::optional(qsizetype(near->size())) : std::nullopt,
                                          column);
                if ((q.ordered && !order) || (q.near && !near && !order))
                    verify = true;
                clauses << (near ? group(*near, orJoin) : group(all, andJoin));
            }
        }
        for (const PhraseExpr& e : exprs)
            if (!e.exact)
                verify = true;
    }

    if (!plan.ors.empty()) {
        QStringList present;
        for (const Phrase& p : plan.ors) {
            const PhraseExpr e = phraseExpr(p, vocab, glued, held);
            if (!e.expr)
                continue;
            present << *e.expr;
            if (!e.exact)
                verify = true;
        }
        if (present.isEmpty())
            return {};
        clauses << group(present, orJoin);
    }

    if (clauses.isEmpty())
        return {};
    QString expr = clauses.join(andJoin);
    // The index holds a page's main text and footnotes together, so when the
    // query searches only one of them an exclusion found in the other must
    // not drop the page: the page check (already required then) decides.
    // The page index has the sections apart: there an exclusion is exact
    // unless marks are compared. Over the whole page an exclusion is found
    // in any hamza form, as over pages_fts.
    for (const Phrase& p : plan.nots) {
        const bool hamza = forms && vocab->keepsHamza();
        if (forms && wholePage)
            vocab->keepHamza(false);
        const PhraseExpr e = phraseExpr(p, vocab, glued, held);
        if (forms)
            vocab->keepHamza(hamza);
        if (!e.expr)
            continue;
        if (e.exact && (wholePage || (forms && !marks)))
            expr += " NOT " + *e.expr;
        else
            verify = true; // left to the page check
    }
    return {expr, verify, order, pages};
}

// The expressions a run collects candidates with. When only indirectly
// reached terms (`held`) make the query need the page check, the work splits
// in two disjoint parts: pages without any held term are final matches of
// the plain expression, and only pages holding one are checked.
namespace {

QList<SearchEngine::FtsPart> partsOf(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab);

} // namespace

// Over the page index every part names its table, and a search of one
// section filters the expression to that column.
QList<SearchEngine::FtsPart> SearchEngine::ftsParts(const Plan& plan, Vocab* vocab)
{
    QList<FtsPart> parts = partsOf(plan, vocab);
    if (vocab && vocab->writesForms()) {
        const SearchQuery& q = plan.q;
        for (FtsPart& part : parts) {
            part.table = QString::fromLatin1(PageIndex::formsTable);
            if (!(q.inMatn && q.inHawashi))
                part.expr = (q.inMatn ? QStringLiteral("{matn} : (") : QStringLiteral("{hawashi} : (")) + part.expr + ")";
        }
    }
    return parts;
}

bool SearchEngine::formsServe(const Plan& plan)
{
    const SearchQuery& q = plan.q;
    if (!(q.inMatn && q.inHawashi))
        return true;
    const std::size_t reach = std::size_t(PageIndex::seamWords) + 1;
    std::size_t nearSpan = nearDistance;
    for (const std::vector<Phrase>* list : {&plan.ands, &plan.ors, &plan.nots})
        for (const Phrase& p : *list)
            if (p.toks.size() > reach)
                return false;
    for (const Phrase& p : plan.ands)
        nearSpan += p.toks.size();
    return !(q.near && plan.ands.size() >= 2 && nearSpan > reach);
}

namespace {

using Held = SearchEngine::Held;
using FtsPart = SearchEngine::FtsPart;
using FtsPlan = SearchEngine::FtsPlan;

QList<SearchEngine::FtsPart> partsOf(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab)
{
    Held ignored;
    const FtsPlan full = SearchEngine::ftsPlan(plan, vocab, true, ignored);
    if (!full.expr)
        return {};
    const auto part = [](const QString& expr, bool verify, const FtsPlan& from) {
        return FtsPart{expr, verify, QStringLiteral("pages_fts"), from.order.value_or(QString()), from.pages};
    };
    if (!full.verify || !vocab)
        return {part(*full.expr, full.verify, full)};
    Held heldTerms;
    const FtsPlan plain = SearchEngine::ftsPlan(plan, vocab, false, heldTerms);
    if (plain.verify || heldTerms.isEmpty())
        return {part(*full.expr, true, full)};
    QStringList heldList(heldTerms.begin(), heldTerms.end());
    sortCodePoints(heldList);
    if (vocab->writesForms())
        heldList = vocab->formsOf(SearchEngine::Alts{SearchEngine::Alts::Kind::terms, heldList}, nullptr)
                       .value_or(QStringList{});
    if (heldList.isEmpty())
        return {part(*full.expr, true, full)};
    for (QString& term : heldList)
        term = SearchEngine::quote(term);
    const QString heldClause = group(heldList, orJoin);
    QList<FtsPart> parts;
    // The held terms come last, so the expressions' phrases keep their numbers.
    if (plain.expr)
        parts << part("(" + *plain.expr + ") NOT " + heldClause, false, plain);
    parts << part("(" + *full.expr + ") AND " + heldClause, true, full);
    return parts;
}

} // namespace

std::optional<QString> SearchEngine::ftsExpression(const SearchQuery& q) const
{
    const Plan p = plan(q);
    if (!p.valid())
        return std::nullopt;
    const std::int64_t generation = PageMap::current(lib.main().path()).dataGeneration;
    std::shared_ptr<SQLiteDB> db = lib.takeSearchConnection();
    std::optional<QString> expr;
    {
        std::unique_ptr<Vocab> vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), generation));
        Held held;
        expr = ftsPlan(p, vocab.get(), true, held).expr;
    }
    lib.returnSearchConnection(std::move(db));
    return expr;
}

bool SearchEngine::needsVerify(const SearchQuery& q) const
{
    const Plan p = plan(q);
    if (!p.valid())
        return false;
    const std::int64_t generation = PageMap::current(lib.main().path()).dataGeneration;
    std::shared_ptr<SQLiteDB> db = lib.takeSearchConnection();
    QList<FtsPart> parts;
    {
        std::unique_ptr<Vocab> vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), generation));
        parts = ftsParts(p, vocab.get());
    }
    lib.returnSearchConnection(std::move(db));
    return !(parts.size() == 1 && !parts.first().verify && parts.first().order.isEmpty() && !parts.first().pages
             && q.inMatn && q.inHawashi);
}

} // namespace quorvel
