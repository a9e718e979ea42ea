// Query planning: a SearchQuery becomes FTS5 MATCH expressions over
// pages_fts, every query word expanded into the index terms it may match.

#include "search/SearchEngine.h"

#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"

#include "search/PageIndex.h"
#include "search/PageMap.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace quorvel {

namespace {

const QString orJoin = QStringLiteral(" OR ");
const QString andJoin = QStringLiteral(" AND ");

QString group(const QStringList& items, const QString& joiner)
{
    return "(" + items.join(joiner) + ")";
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

// ---- expansion ------------------------------------------------------------------

namespace {

using Alts = SearchEngine::Alts;
using Vocab = SearchEngine::Vocab;

// A number and, unless digits are compared exactly, its other digit forms.
Alts digitAlts(const Arabic::Tok& tok)
{
    Alts out;
    out.list << tok.t;
    if (!tok.digitsExact)
        for (const QString& form : Arabic::digitForms(tok.t))
            if (!out.list.contains(form))
                out.list << form;
    return out;
}

// Where a wildcard word's literal start ends, and how many literal units it has.
struct WildShape {
    qsizetype cut = 0;
    qsizetype letters = 0;
};

WildShape wildShape(const QString& word)
{
    WildShape shape{word.size(), 0};
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word[i];
        if (c == '*' || c == '?')
            shape.cut = std::min(shape.cut, i);
        else
            ++shape.letters;
    }
    return shape;
}

// The literal end of a word after its last wildcard, reversed; empty when it
// holds a digit (a glued number the reversed keys do not end with) or is empty.
QString reversedLetterEnd(const QString& word)
{
    qsizetype tail = word.size();
    while (tail > 0 && word[tail - 1] != '*' && word[tail - 1] != '?')
        --tail;
    QString suffix = word.mid(tail);
    if (std::any_of(suffix.begin(), suffix.end(), [](QChar c) { return c.isDigit(); }))
        return {};
    std::reverse(suffix.begin(), suffix.end());
    return suffix;
}

// The index terms a wildcard word matches, streamed and stopped at the first
// term past the cap (a leading wildcard reads the whole vocabulary
// otherwise); nothing when the word is too broad, then reported on `vocab`.
// Letters and one final star that take every term of their range become
// that one prefix: the index's own prefix query finds the same pages.
Alts wildAlts(const Arabic::Tok& tok, Vocab& vocab, bool glued, SearchEngine::Held& held)
{
    Alts out;
    const WildShape shape = wildShape(tok.t);
    QStringList candidates;
    bool tooBroad = shape.letters < SearchEngine::minWildLetters;
    if (!tooBroad) {
        const QString prefix = tok.t.left(shape.cut);
        qsizetype visited = 0;
        const auto visit = [&](const QString& term) {
            ++visited;
            if (tok.match(term))
                candidates << term;
            tooBroad = candidates.size() > SearchEngine::maxWild;
            return !tooBroad;
        };
        // A leading wildcard with a literal end of letters reads only the
        // terms that end so (a glued number aside) by their reversed key.
        const QString suffix = shape.cut == 0 ? reversedLetterEnd(tok.t) : QString();
        if (!(!suffix.isEmpty() && vocab.scanReversed(suffix, suffix + Vocab::topChar(), visit)) && !tooBroad) {
            candidates.clear();
            visited = 0;
            vocab.scan(prefix, prefix + Vocab::topChar(), visit);
            if (!tooBroad && vocab.readsTermTable() && shape.cut == tok.t.size() - 1 && tok.t.endsWith(u'*')
                && !candidates.isEmpty() && candidates.size() == visited) {
                out.kind = Alts::Kind::prefixes;
                out.list = {prefix};
                return out;
            }
        }
    }
    if (tooBroad) {
        vocab.tooBroad << tok.t;
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
    Vocab::sortCodePoints(candidates);
    out.list = candidates;
    return out;
}

// The index terms an affix word matches, found by scanning the range of each
// of its heads; without a vocabulary, the forms it was built with.
Alts affixAlts(const Arabic::Tok& tok, Vocab* vocab, bool glued, SearchEngine::Held& held)
{
    Alts out;
    const Arabic::FormSet& forms = *tok.forms;
    if (!vocab || !vocab->open()) {
        out.list = QStringList(forms.begin(), forms.end());
        Vocab::sortCodePoints(out.list);
        return out;
    }
    QStringList heads;
    for (const QString& alt : tok.alts)
        heads << Arabic::affixHeads(alt);
    heads.removeDuplicates();
    Vocab::sortCodePoints(heads);
    QSet<QString> found;
    // Streamed: a short head spans a large part of the vocabulary.
    for (const QString& head : heads)
        vocab->scan(head, head + Vocab::topChar(), [&](const QString& term) {
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
    Vocab::sortCodePoints(out.list);
    return out;
}

// A word's own spellings, and the index terms that glue digits to them.
Alts exactAlts(const Arabic::Tok& tok, Vocab* vocab, bool glued, SearchEngine::Held& held)
{
    Alts out;
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

} // namespace

// The index terms a query word may match, by the word's kind. With `glued`
// false the terms a word reaches only indirectly (glued digits, affix forms
// found by matching, wildcard terms accepted only through stripped digits)
// are moved to `held`.
SearchEngine::Alts SearchEngine::alts(const Arabic::Tok& tok, Vocab* vocab, bool glued, Held& held)
{
    if (tok.digit)
        return digitAlts(tok);
    switch (tok.mode) {
    case Arabic::TokMode::morph:
        return Alts{Alts::Kind::prefixes, tok.heads};
    case Arabic::TokMode::wild:
        if (!vocab || !vocab->open())
            return {};
        return wildAlts(tok, *vocab, glued, held);
    case Arabic::TokMode::affix:
        return affixAlts(tok, vocab, glued, held);
    case Arabic::TokMode::exact:
        return exactAlts(tok, vocab, glued, held);
    }
    return {};
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
        const auto found = vocab->markedForms(tok.t, tok.t + SearchEngine::Vocab::topChar());
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

// What the page index decides of a plan, and what stays with the page check.
struct PlanShape {
    bool forms = false;  // the expressions are written for the page index's forms
    bool wholePage = false;
    bool marks = false;  // the page check compares the marks
    bool verify = false; // the matches still need the page check
    // The order test may read token positions, in this column.
    bool positional = false;
    int column = 0;
    std::shared_ptr<const SearchEngine::PageSet> pages; // the only pages that may match
};

// The page index decides sections and hamza forms, and the marks a query
// writes where its marked words tell; the rest stays with the page check.
PlanShape planShape(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab)
{
    const SearchQuery& q = plan.q;
    PlanShape shape;
    shape.forms = vocab && vocab->writesForms();
    shape.wholePage = q.inMatn && q.inHawashi;
    const MarksNeed need = q.tashkeel ? marksNeed(plan, shape.forms) : MarksNeed{};
    shape.marks = q.tashkeel && (plan.pageChecked || need.written || need.letters);
    // Over the page index, the marks a query writes are found by its marked words.
    if (shape.marks && !plan.pageChecked && !need.letters) {
        MarkedPages found = markedPages(plan, vocab);
        if (found.pages)
            shape.pages = std::make_shared<const SearchEngine::PageSet>(std::move(*found.pages));
        shape.marks = !found.known;
    }
    shape.verify = shape.forms ? shape.marks : (!shape.wholePage || q.hamza || shape.marks);
    // Token positions are the page check's word positions in one column: a
    // page over pages_fts, or one section over the index. The index's
    // whole page spreads over three columns: a near window is seen whole in
    // one of them, and an occurrence of a one-word phrase in the main text
    // or footnotes (a longer phrase may cross the line between them).
    const bool acrossColumns = shape.forms && shape.wholePage;
    shape.positional = !plan.pageChecked
        && (!acrossColumns || q.near
            || std::all_of(plan.ands.begin(), plan.ands.end(),
                           [](const SearchEngine::Phrase& p) { return p.toks.size() == 1; }));
    shape.column = acrossColumns ? SearchEngine::wholePageColumns : shape.forms && !q.inMatn ? 1 : 0;
    return shape;
}

// The clause of the and-phrases: any one of them when none is required,
// else all of them, near one another or in order where the query asks.
// Nothing when no phrase, or a required one, has an expression.
std::optional<QString> andClause(const SearchEngine::Plan& plan, const QList<SearchEngine::PhraseExpr>& exprs,
                                 PlanShape& shape, std::optional<QString>& order)
{
    const SearchQuery& q = plan.q;
    for (const SearchEngine::PhraseExpr& e : exprs)
        if (!e.exact)
            shape.verify = true;
    if (!q.requireAll && !q.ordered && !q.near) {
        QStringList present;
        for (const SearchEngine::PhraseExpr& e : exprs)
            if (e.expr)
                present << *e.expr;
        if (present.isEmpty())
            return std::nullopt;
        return group(present, orJoin);
    }
    QStringList all;
    for (const SearchEngine::PhraseExpr& e : exprs) {
        if (!e.expr)
            return std::nullopt;
        all << *e.expr;
    }
    if (all.size() == 1)
        return "(" + all.first() + ")";
    std::optional<QStringList> near;
    if (q.near)
        near = SearchEngine::nearCombos(exprs);
    if (q.ordered && shape.positional)
        order = orderArgument(plan, exprs, near ? std::optional(qsizetype(near->size())) : std::nullopt, shape.column);
    if ((q.ordered && !order) || (q.near && !near && !order))
        shape.verify = true;
    return near ? group(*near, orJoin) : group(all, andJoin);
}

// The clause of the or-phrases; nothing when none has an expression.
std::optional<QString> orClause(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab, bool glued,
                                SearchEngine::Held& held, PlanShape& shape)
{
    QStringList present;
    for (const SearchEngine::Phrase& p : plan.ors) {
        const SearchEngine::PhraseExpr e = SearchEngine::phraseExpr(p, vocab, glued, held);
        if (!e.expr)
            continue;
        present << *e.expr;
        if (!e.exact)
            shape.verify = true;
    }
    if (present.isEmpty())
        return std::nullopt;
    return group(present, orJoin);
}

// The " NOT …" exclusions of the not-phrases that the index decides. It
// holds a page's main text and footnotes together, so when the query
// searches only one of them an exclusion found in the other must not drop
// the page: the page check (already required then) decides. The page index
// has the sections apart: there an exclusion is exact unless marks are
// compared. Over the whole page an exclusion is found in any hamza form,
// as over pages_fts.
QString exclusions(const SearchEngine::Plan& plan, SearchEngine::Vocab* vocab, bool glued, SearchEngine::Held& held,
                   PlanShape& shape)
{
    QString out;
    for (const SearchEngine::Phrase& p : plan.nots) {
        const bool hamza = shape.forms && vocab->keepsHamza();
        if (shape.forms && shape.wholePage)
            vocab->keepHamza(false);
        const SearchEngine::PhraseExpr e = SearchEngine::phraseExpr(p, vocab, glued, held);
        if (shape.forms)
            vocab->keepHamza(hamza);
        if (!e.expr)
            continue;
        if (e.exact && (shape.wholePage || (shape.forms && !shape.marks)))
            out += " NOT " + *e.expr;
        else
            shape.verify = true; // left to the page check
    }
    return out;
}

} // namespace

// The whole query as one expression and whether its matches still need the
// page check; no expression when a required phrase cannot be expressed.
SearchEngine::FtsPlan SearchEngine::ftsPlan(const Plan& plan, Vocab* vocab, bool glued, Held& held)
{
    PlanShape shape = planShape(plan, vocab);
    std::optional<QString> order;
    QStringList clauses;
    if (!plan.ands.empty()) {
        QList<PhraseExpr> exprs;
        for (const Phrase& p : plan.ands)
            exprs << phraseExpr(p, vocab, glued, held);
        const std::optional<QString> clause = andClause(plan, exprs, shape, order);
        if (!clause)
            return {};
        clauses << *clause;
    }
    if (!plan.ors.empty()) {
        const std::optional<QString> clause = orClause(plan, vocab, glued, held, shape);
        if (!clause)
            return {};
        clauses << *clause;
    }
    if (clauses.isEmpty())
        return {};
    const QString expr = clauses.join(andJoin) + exclusions(plan, vocab, glued, held, shape);
    return {expr, shape.verify, order, shape.pages};
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
    SearchEngine::Vocab::sortCodePoints(heldList);
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

void SearchEngine::withVocab(const std::function<void(Vocab*)>& use) const
{
    const std::int64_t generation = PageMap::current(lib.main().path()).dataGeneration;
    std::shared_ptr<SQLiteDB> db = lib.takeSearchConnection();
    {
        // Gone before its connection goes back to the pool.
        const std::unique_ptr<Vocab> vocab = runVocab(db, generation);
        use(vocab.get());
    }
    lib.returnSearchConnection(std::move(db));
}

std::optional<QString> SearchEngine::ftsExpression(const SearchQuery& q) const
{
    const Plan p = plan(q);
    if (!p.valid())
        return std::nullopt;
    std::optional<QString> expr;
    withVocab([&](Vocab* vocab) {
        Held held;
        expr = ftsPlan(p, vocab, true, held).expr;
    });
    return expr;
}

bool SearchEngine::needsVerify(const SearchQuery& q) const
{
    const Plan p = plan(q);
    if (!p.valid())
        return false;
    QList<FtsPart> parts;
    withVocab([&](Vocab* vocab) { parts = ftsParts(p, vocab); });
    return !isFullExpression(q, parts);
}

bool SearchEngine::isFullExpression(const SearchQuery& q, const QList<FtsPart>& parts)
{
    return parts.size() == 1 && !parts.first().verify && parts.first().order.isEmpty() && !parts.first().pages
           && q.inMatn && q.inHawashi && parts.first().table == QLatin1String("pages_fts");
}

} // namespace quorvel
