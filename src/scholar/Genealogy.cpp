#include "scholar/Genealogy.h"

#include "core/Arabic.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "scholar/Isnad.h"
#include "search/Lexical.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <map>
#include <utility>
#include <unordered_map>

namespace quorvel::Genealogy {

namespace {

const QString deathYearSQL = QStringLiteral(
    "SELECT a.death_year FROM books bk LEFT JOIN authors a ON a.id=bk.author_id WHERE bk.id=?");

// Particles, pronouns and the like, in the normal form: every book has them,
// so a page is found by the phrase's other words. So has every chain of
// narrators its بن, and its link words (Isnad::isLinkWord).
const QSet<QString>& functionWords()
{
    static const QSet<QString> words = [] {
        QSet<QString> set;
        const QString text = QStringLiteral(
            "و ف ب ك ل من في عن علي الي الى حتي مع عند لدي منذ مذ ان انه انها انما او ام ثم بل لكن "
            "ما لا لم لن ليس قد هل اذا اذ لو لولا كي اي كل بعض غير سوي يا "
            "هو هي هم هن هما انت انتم انا نحن ذلك تلك هذا هذه هؤلاء الذي التي الذين اللذين اللاتي بن");
        for (const QString& w : text.split(u' ', Qt::SkipEmptyParts))
            set.insert(Arabic::normalize(w));
        set.remove(QString());
        return set;
    }();
    return words;
}

// The query the pages are looked up with: its content words, or the whole
// query when it has no other.
QString contentQuery(const QString& query)
{
    QStringList kept;
    for (const QString& w : Arabic::tokens(query)) {
        if (!functionWords().contains(w) && !Isnad::isLinkWord(w))
            kept.append(w);
    }
    return kept.isEmpty() ? query : kept.join(u' ');
}

// Two editions of one work: the same title by the same author.
bool twins(const GenealogyNode& a, const GenealogyNode& b)
{
    const auto key = [](const QString& s) { return Arabic::normalize(s).simplified(); };
    return a.author && b.author && key(a.title) == key(b.title) && key(*a.author) == key(*b.author);
}

} // namespace

std::int64_t year(const GenealogyNode& node)
{
    return node.deathYear && *node.deathYear != 0 ? *node.deathYear : unknownYear;
}

QString phrase(const QString& text)
{
    // A letter needs a second to be a word: one alone at an end is what a
    // drag kept of a word it cut.
    constexpr int kWordLetters = 2;
    QString letters(text.size(), u' ');
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i].isLetter() || text[i].isMark())
            letters[i] = text[i];
    QStringList words = letters.split(u' ', Qt::SkipEmptyParts);
    const auto cut = [](const QString& word) { return Arabic::normalize(word).size() < kWordLetters; };
    while (!words.isEmpty() && cut(words.first()))
        words.removeFirst();
    while (!words.isEmpty() && cut(words.last()))
        words.removeLast();
    return words.join(u' ');
}

QString particlesNote(const QString& phrase)
{
    return QStringLiteral("«") + phrase
        + QStringLiteral("» من الحروف والضمائر التي ترد في كل كتاب، فلا شجرة لها وحدها. حدّد عبارة فيها كلمات غيرها.");
}

std::optional<GenealogyResult> run(SQLiteDB& db, const QString& query, int pool, int minShared, int maxBooks)
{
    const QString words = phrase(query);
    if (words.isEmpty())
        return std::nullopt;
    const QStringList tokens = Arabic::tokens(words);
    if (std::all_of(tokens.cbegin(), tokens.cend(),
                    [](const QString& w) { return functionWords().contains(w) || Isnad::isLinkWord(w); })) {
        GenealogyResult particles;
        particles.query = words;
        particles.particles = true;
        return particles;
    }
    const QList<LexicalHit> hits = Lexical::search(db, contentQuery(words), pool, 0, QStringLiteral("AND"));
    if (hits.isEmpty())
        return std::nullopt;
    QList<GenealogyNode> nodes;
    QSet<std::int64_t> seen;
    for (const LexicalHit& hit : hits) {
        if (seen.contains(hit.bookId))
            continue;
        seen.insert(hit.bookId);
        GenealogyNode node;
        node.bookId = hit.bookId;
        node.title = hit.bookTitle;
        node.author = hit.author;
        node.seq = hit.seq;
        node.pageNum = hit.pageNum;
        node.pageId = hit.pageId;
        node.snippet = hit.snippet;
        const auto rows = db.rows(deathYearSQL, {hit.bookId});
        if (!rows.isEmpty())
            node.deathYear = rows.first().integer(0);
        nodes.append(node);
    }
    // Dated books by year (a stored 0 after every real year), then undated
    // ones; equal keys keep their lexical rank.
    nodes = Py::stableSorted(nodes, [](const GenealogyNode& x, const GenealogyNode& y) {
        if (x.deathYear && y.deathYear)
            return year(x) < year(y);
        return x.deathYear.has_value() && !y.deathYear.has_value();
    });
    if (nodes.size() > std::max(maxBooks, 0))
        nodes.resize(std::max(maxBooks, 0));
    GenealogyResult result;
    result.query = words;
    result.edges = transmission(db, nodes, minShared);
    result.nodes = std::move(nodes);
    return result;
}

QList<GenealogyEdge> transmission(SQLiteDB& db, const QList<GenealogyNode>& nodes, int minShared)
{
    QHash<std::int64_t, qsizetype> nodeOf;
    QList<std::int64_t> pages;
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        if (nodeOf.contains(nodes[i].pageId))
            continue;
        nodeOf.insert(nodes[i].pageId, i);
        pages.append(nodes[i].pageId);
    }
    if (pages.size() < 2)
        return {};
    auto statement = db.prepare(QStringLiteral("SELECT hash, page_id FROM shingles WHERE page_id IN (")
                                + SQLiteDB::marks(pages.size()) + u')');
    if (!statement)
        return {};
    statement->bind(argsOf(pages));
    std::vector<std::int64_t> hashOrder;
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> pagesOf;
    while (statement->step()) {
        const auto hash = statement->integer(0);
        const auto page = statement->integer(1);
        if (!hash || !page)
            continue;
        auto [it, added] = pagesOf.try_emplace(*hash);
        if (added)
            hashOrder.push_back(*hash);
        if (std::find(it->second.begin(), it->second.end(), *page) == it->second.end())
            it->second.push_back(*page);
    }

    // Pairs keyed by both whole ids (lower first): a release numbers pages
    // book × 100000 + sequence, well past 32 bits.
    using Pair = std::pair<std::int64_t, std::int64_t>;
    std::vector<Pair> pairOrder;
    std::map<Pair, std::int64_t> counts;
    for (std::int64_t hash : hashOrder) {
        std::vector<std::int64_t>& holders = pagesOf[hash];
        if (holders.size() < 2)
            continue;
        std::sort(holders.begin(), holders.end());
        for (size_t i = 0; i < holders.size(); ++i) {
            for (size_t j = i + 1; j < holders.size(); ++j) {
                const Pair key{holders[i], holders[j]};
                if (counts[key]++ == 0)
                    pairOrder.push_back(key);
            }
        }
    }

    QList<GenealogyEdge> edges;
    for (const Pair& key : pairOrder) {
        if (counts[key] < minShared)
            continue;
        const GenealogyNode& p = nodes[nodeOf.value(key.first)];
        const GenealogyNode& q = nodes[nodeOf.value(key.second)];
        // An edition does not quote its twin: they are one text.
        if (twins(p, q))
            continue;
        const bool qFirst = year(q) < year(p);
        const GenealogyNode& source = qFirst ? q : p;
        const GenealogyNode& target = qFirst ? p : q;
        edges.append({source.bookId, target.bookId, source.title, target.title, counts[key]});
    }
    return Py::stableSorted(edges, [](const GenealogyEdge& x, const GenealogyEdge& y) { return x.shared > y.shared; });
}

} // namespace quorvel::Genealogy
