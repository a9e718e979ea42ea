#include "search/Lexical.h"

#include "core/Arabic.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"

#include <QStringList>

#include <unordered_set>

namespace quorvel::Lexical {

const QString searchSQL = QStringLiteral(
    "SELECT b.title AS book_title, a.name AS author,\n"
    "       p.id AS page_id, p.book_id, CAST(p.vol AS TEXT) AS vol, p.page_num, p.seq,\n"
    "       snippet(pages_fts, 0, '«', '»', ' … ', 12) AS snip, bm25(pages_fts) AS rank\n"
    "FROM pages_fts f\n"
    "JOIN pages p ON p.id = f.page_id\n"
    "JOIN books b ON b.id = p.book_id\n"
    "LEFT JOIN authors a ON a.id = b.author_id\n"
    "WHERE pages_fts MATCH ?\n"
    "ORDER BY rank LIMIT ? OFFSET ?");

const std::vector<std::u32string>& prefixes()
{
    static const std::vector<std::u32string> table = [] {
        std::vector<std::u32string> list;
        for (const char16_t* p : {u"ال", u"وال", u"بال", u"كال", u"فال", u"لل", u"و", u"ف", u"ب",
                                  u"ل", u"ك"})
            list.push_back(Py::scalars(QString::fromUtf16(p)));
        return list;
    }();
    return table;
}

namespace {

// The quoted text, then the text with "*" when it is long enough.
void addForms(QStringList& alts, const QString& text, qsizetype scalars)
{
    alts.append(SearchEngine::quote(text));
    if (scalars >= minPrefixMatch)
        alts.append(text + QLatin1Char('*'));
}

} // namespace

QString expand(const QString& word)
{
    const std::u32string letters = Py::scalars(word);
    QStringList alts;
    addForms(alts, word, qsizetype(letters.size()));

    for (const auto& prefix : prefixes()) {
        if (Py::hasPrefix(letters, prefix) && letters.size() - prefix.size() > std::size_t(minStemAfter)) {
            const std::u32string stem = letters.substr(prefix.size());
            addForms(alts, Py::string(stem), qsizetype(stem.size()));
            break;
        }
    }

    std::unordered_set<std::u16string> seen;
    QStringList unique;
    for (const QString& alt : alts) {
        if (seen.insert(Py::key(alt)).second)
            unique.append(alt);
    }
    return QLatin1Char('(') + unique.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

QString ftsQuery(const QString& query, const QString& op)
{
    const QStringList words =
        Arabic::normalize(query, true).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    QStringList groups;
    for (const QString& word : words)
        groups.append(expand(word));
    if (op == QStringLiteral("OR"))
        return groups.join(QStringLiteral(" OR "));
    // Every word after the first is excluded.
    if (op == QStringLiteral("NOT"))
        return groups.join(QStringLiteral(" NOT "));
    return groups.join(QStringLiteral(" AND "));
}

QList<LexicalHit> search(SQLiteDB& db, const QString& query, int limit, int offset, const QString& op)
{
    const QString q = ftsQuery(query, op);
    if (q.isEmpty())
        return {};
    QList<LexicalHit> hits;
    for (const auto& row : db.rows(searchSQL, {q, limit, offset})) {
        LexicalHit hit;
        hit.bookTitle = row.str(0).value_or(QString());
        hit.author = row.str(1);
        hit.pageId = row.integer(2).value_or(0);
        hit.bookId = row.integer(3).value_or(0);
        hit.vol = row.str(4);
        hit.pageNum = row.integer(5);
        hit.seq = row.integer(6).value_or(0);
        hit.snippet = row.str(7).value_or(QString());
        hit.rank = row.dbl(8).value_or(0);
        hits.append(hit);
    }
    return hits;
}

} // namespace quorvel::Lexical
