#include "assistant/DataQA.h"

#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace quorvel::DataQA {

namespace {

constexpr int kMaxChartGroups = 20;
// Death years outside this range are placeholders, not dates.
constexpr std::int64_t kFirstRealYear = 2;
constexpr std::int64_t kLastStatisticsYear = 1449;

const QString& unknownCentury()
{
    static const QString s = QStringLiteral("غير محدد");
    return s;
}

const QString& noIndexText()
{
    static const QString s = QStringLiteral("تعذر فتح الفهرس.");
    return s;
}

const QString& noBooksText()
{
    static const QString s = QStringLiteral("لا كتب تطابق هذا الطلب في المكتبة.");
    return s;
}

QString dimName(Dim d)
{
    switch (d) {
    case Dim::century:
        return QStringLiteral("القرن");
    case Dim::category:
        return QStringLiteral("القسم");
    case Dim::author:
        return QStringLiteral("المؤلف");
    case Dim::book:
    case Dim::none:
        return QStringLiteral("الكتاب");
    }
    return {};
}

// Authors; after a number the plural is always genitive ("٣ مؤلفين").
const CountedNoun& authorsNoun()
{
    static const CountedNoun noun(QStringLiteral("مؤلف"), QStringLiteral("مؤلفان"), QStringLiteral("مؤلفين"),
                                  QStringLiteral("مؤلفا"));
    return noun;
}

const CountedNoun& unitNoun(Dim d)
{
    static const CountedNoun centuries(QStringLiteral("قرن"), QStringLiteral("قرنان"), QStringLiteral("قرون"),
                                       QStringLiteral("قرنا"));
    static const CountedNoun categories(QStringLiteral("قسم"), QStringLiteral("قسمان"), QStringLiteral("أقسام"),
                                        QStringLiteral("قسما"));
    switch (d) {
    case Dim::century:
        return centuries;
    case Dim::category:
        return categories;
    case Dim::author:
        return authorsNoun();
    default:
        return CountedNoun::books();
    }
}

// What is said of a count the library cannot make, rather than a table of
// something else.
QString uncountedText(const QString& unit)
{
    return QStringLiteral("لا أعرف: لا تحصي المكتبة ما تسأل عنه («كم ") + unit
        + QStringLiteral("»)؛ تحصي الكتب وصفحاتها ومؤلفيها وقرونها وأقسامها، ومواضع لفظ تكتبه بين علامتي التنصيص.");
}

QString noAuthorText(const QString& name)
{
    return QStringLiteral("لا مؤلف في المكتبة باسم «") + name + QStringLiteral("»، فلم أحسب شيئا.");
}

const QStringList& affixes()
{
    static const QStringList list{QString(),          QStringLiteral("ال"), QStringLiteral("و"),
                                  QStringLiteral("وال"), QStringLiteral("ب"),  QStringLiteral("بال"),
                                  QStringLiteral("ل"),   QStringLiteral("لل"), QStringLiteral("ف"),
                                  QStringLiteral("فال")};
    return list;
}

bool isPlaceholderName(const QString& name)
{
    const QString t = Characters::trimSpacesAndTabs(name).toString();
    return t.isEmpty() || t == QStringLiteral("—") || t == QStringLiteral("-");
}

QString digits(long long n)
{
    return Arabic::num(n);
}

QString books(long long n, CountedNoun::Case grammaticalCase)
{
    return CountedNoun::books().count(n, grammaticalCase);
}

QString pages(long long n)
{
    // Page counts always follow "في".
    return CountedNoun::pages().count(n, CountedNoun::Case::genitive);
}

QString yearCell(std::optional<std::int64_t> year)
{
    return year && *year >= kFirstRealYear ? digits(*year) + QStringLiteral("هـ") : QStringLiteral("-");
}

// What one call works on: the catalogue snapshot, the request and the page counts.
struct Work {
    const Library& lib;
    std::shared_ptr<const Catalog> cat;
    Request req;
    QHash<std::int64_t, std::int64_t> pc;
    QList<Book> selected;
    QString filterText;
    // The title each selected book shows: editions of one work, or works of
    // one name, are told apart rather than merged into one row.
    QHash<std::int64_t, QString> titles{};

    std::int64_t pagesOf(const Book& b) const { return pc.value(b.id, 0); }

    QString categoryLabel(const Book& b) const
    {
        if (b.categoryId) {
            if (const auto it = cat->categoryById.constFind(*b.categoryId); it != cat->categoryById.cend())
                return it->name;
        }
        return QStringLiteral("غير مصنف");
    }

    QString label(const Book& b, Dim d) const
    {
        switch (d) {
        case Dim::century:
            return centuryLabel(century(lib.deathYear(b)));
        case Dim::category:
            return categoryLabel(b);
        case Dim::author:
            if (const auto a = lib.author(b))
                return a->name;
            return QStringLiteral("غير معروف");
        case Dim::book:
        case Dim::none:
            return titles.value(b.id, b.title);
        }
        return {};
    }
};

constexpr qsizetype kMaxFilterCategories = 4;

void selectBooks(Work& w)
{
    const Request& req = w.req;
    for (const Book& b : w.cat->books) {
        if (req.centuryFilter && century(w.lib.deathYear(b)) != *req.centuryFilter)
            continue;
        if (req.categories && !req.categories->contains(b.id))
            continue;
        if (req.authorId && b.authorId != req.authorId)
            continue;
        w.selected.append(b);
    }
    QList<std::int64_t> ids;
    for (const Book& b : std::as_const(w.selected))
        ids.append(b.id);
    w.titles = BookTitles::labels(*w.cat, ids);

    QStringList parts;
    if (req.centuryFilter)
        parts.append(centuryLabel(*req.centuryFilter) + QStringLiteral(" الهجري"));
    if (req.categories) {
        QSet<QString> seen;
        QStringList names;
        for (const Book& b : std::as_const(w.selected)) {
            if (!b.categoryId)
                continue;
            const auto it = w.cat->categoryById.constFind(*b.categoryId);
            if (it != w.cat->categoryById.cend() && !seen.contains(it->name)) {
                seen.insert(it->name);
                names.append(it->name);
            }
        }
        // QString's ordering compares UTF-16 units, which for these names
        // (all in the Basic Multilingual Plane) is code-point order.
        std::sort(names.begin(), names.end());
        parts.append(QStringLiteral("أقسام: ") + names.mid(0, kMaxFilterCategories).join(QStringLiteral("، ")));
    }
    if (req.authorId) {
        if (const auto it = w.cat->authors.constFind(*req.authorId); it != w.cat->authors.cend())
            parts.append(QStringLiteral("المؤلف: ") + it->name);
    }
    if (!parts.isEmpty())
        w.filterText = QStringLiteral(" (") + parts.join(QStringLiteral(" · ")) + QLatin1Char(')');
}

void statistics(const Work& w, AIAnswer& answer)
{
    std::int64_t p = 0;
    QSet<std::int64_t> authors;
    QSet<std::int64_t> categories;
    std::optional<std::int64_t> oldest;
    std::optional<std::int64_t> newest;
    for (const Book& b : w.selected) {
        p += w.pagesOf(b);
        if (b.authorId)
            authors.insert(*b.authorId);
        if (b.categoryId)
            categories.insert(*b.categoryId);
        const auto y = w.lib.deathYear(b);
        if (y && *y >= kFirstRealYear && *y <= kLastStatisticsYear) {
            oldest = std::min(oldest.value_or(*y), *y);
            newest = std::max(newest.value_or(*y), *y);
        }
    }
    DataTable t;
    t.title = QStringLiteral("إحصاءات المكتبة") + w.filterText;
    t.columns = {QStringLiteral("البيان"), QStringLiteral("القيمة")};
    const auto year = [](std::optional<std::int64_t> y) {
        return y ? digits(*y) + QStringLiteral("هـ") : QStringLiteral("-");
    };
    t.rows = {
        {QStringLiteral("الكتب"), num(w.selected.size())},
        {QStringLiteral("الصفحات"), num(p)},
        {QStringLiteral("المؤلفون"), num(authors.size())},
        {QStringLiteral("الأقسام"), num(categories.size())},
        {QStringLiteral("أقدم وفاة"), year(oldest)},
        {QStringLiteral("أحدث وفاة"), year(newest)},
    };
    answer.tables = {t};
    answer.text = QStringLiteral("في المكتبة") + w.filterText + QLatin1Char(' ')
        + books(w.selected.size(), CountedNoun::Case::nominative) + QStringLiteral(" في ") + pages(p) + QStringLiteral(" لـ")
        + authorsNoun().count(authors.size(), CountedNoun::Case::genitive) + u'.';
}

// The full-text expression of a term: a phrase as it is; a word in its ten
// commonest attached forms.
QString termExpression(const QString& t)
{
    if (t.contains(QLatin1Char(' ')))
        return SearchEngine::quote(t);
    const bool article = t.startsWith(QStringLiteral("ال")) && t.size() >= 5;
    const QString stem = article ? t.sliced(2) : t;
    QStringList forms;
    for (const QString& a : affixes()) {
        const QString f = SearchEngine::quote(a + stem);
        if (!forms.contains(f))
            forms.append(f);
    }
    return forms.join(QStringLiteral(" OR "));
}

// Pages of each term per book of the selection: (book id, pages) for every
// term, in the order of the request's terms. None when the index cannot open.
using TermBookCounts = QList<QList<std::pair<std::int64_t, std::int64_t>>>;

std::optional<TermBookCounts> pagesPerBook(const Work& w)
{
    const auto conn = w.lib.newSearchConnection();
    if (!conn)
        return std::nullopt;
    QSet<std::int64_t> ids;
    for (const Book& b : w.selected)
        ids.insert(b.id);
    const QStringList& terms = w.req.terms;
    TermBookCounts counts(terms.size());
    for (qsizetype i = 0; i < terms.size(); ++i) {
        const auto rows = conn->rows(QStringLiteral("SELECT book_id, COUNT(*) FROM pages_fts WHERE pages_fts MATCH ? "
                                                    "GROUP BY book_id"),
                                     {termExpression(terms[i])});
        for (const auto& row : rows) {
            const auto book = row.integer(0);
            if (book && ids.contains(*book))
                counts[i].append({*book, row.integer(1).value_or(0)});
        }
    }
    return counts;
}

// The counts summed per group of `d`: each group's pages per term, and the
// groups in the order they are shown (centuries in time, others by the first
// term's pages, most first).
struct TermGroups {
    QHash<QString, QList<double>> values;
    QStringList order;
};

TermGroups groupTermCounts(const Work& w, const TermBookCounts& counts, Dim d)
{
    const qsizetype n = counts.size();
    TermGroups g;
    // First-seen order, so that equal keys come out the same way every time.
    for (qsizetype i = 0; i < n; ++i) {
        for (const auto& [id, c] : counts[i]) {
            const auto it = w.cat->bookById.constFind(id);
            if (it == w.cat->bookById.cend())
                continue;
            const QString label = w.label(*it, d);
            auto v = g.values.find(label);
            if (v == g.values.end()) {
                v = g.values.insert(label, QList<double>(n, 0.0));
                g.order.append(label);
            }
            (*v)[i] += double(c);
        }
    }
    if (d == Dim::century) {
        std::stable_sort(g.order.begin(), g.order.end(),
                         [](const QString& a, const QString& b) { return centuryIndex(a) < centuryIndex(b); });
    } else {
        std::stable_sort(g.order.begin(), g.order.end(),
                         [&](const QString& a, const QString& b) { return g.values[a][0] > g.values[b][0]; });
    }
    return g;
}

constexpr int kDefaultBookTermRows = 30;
constexpr int kDefaultTermRows = 40;

DataTable termTable(const Work& w, const TermGroups& g, const QStringList& series, Dim d)
{
    const qsizetype total = g.order.size();
    const int limit = w.req.limit.value_or(d == Dim::book ? kDefaultBookTermRows : kDefaultTermRows);
    const QStringList shownLabels = g.order.mid(0, std::min<qsizetype>(limit, total));
    const QString name = dimName(d);

    DataTable t;
    QStringList quoted;
    for (const QString& s : series)
        quoted.append(QStringLiteral("«") + s + QStringLiteral("»"));
    t.title = QStringLiteral("ورود ") + quoted.join(QStringLiteral(" و")) + QStringLiteral(" حسب ") + name + w.filterText;
    t.columns = {name};
    for (const QString& s : series)
        t.columns.append(QStringLiteral("صفحات «") + s + QStringLiteral("»"));
    for (const QString& label : shownLabels) {
        QStringList row{label};
        for (const double v : g.values[label])
            row.append(num((long long)v));
        t.rows.append(row);
    }
    for (qsizetype r = 0; r < shownLabels.size() && r < kMaxChartGroups; ++r)
        t.chart.append({shownLabels[r], g.values[shownLabels[r]]});
    t.series = series;
    if (shownLabels.size() < total)
        t.note = QStringLiteral("يعرض أعلى ") + digits(shownLabels.size()) + QStringLiteral(" من ") + digits(total)
            + QLatin1Char('.');
    return t;
}

// One sentence per term: its pages and books, and outside a table by book
// the group where it occurs most.
QString termSentences(const TermBookCounts& counts, const TermGroups& g, const QStringList& series, Dim d)
{
    QStringList lines;
    for (qsizetype i = 0; i < counts.size(); ++i) {
        long long p = 0;
        for (const auto& [id, c] : counts[i])
            p += c;
        QString line = QStringLiteral("ورد «") + series[i] + QStringLiteral("» في ") + pages(p) + QStringLiteral(" من ")
            + books(counts[i].size(), CountedNoun::Case::genitive);
        if (d != Dim::book) {
            const QString* best = nullptr;
            double bestValue = 0;
            for (const QString& label : std::as_const(g.order)) {
                const double v = g.values[label][i];
                if (!best || v > bestValue) {
                    best = &label;
                    bestValue = v;
                }
            }
            if (best && bestValue > 0)
                line += QStringLiteral("، وأكثره في ") + *best + QStringLiteral(" (") + digits((long long)bestValue)
                    + QLatin1Char(')');
        }
        lines.append(line + QLatin1Char('.'));
    }
    return lines.join(QLatin1Char('\n'))
        + QStringLiteral("\nالعدد هنا عدد الصفحات التي ورد فيها اللفظ بلواصقه الشائعة.");
}

void termCounts(const Work& w, AIAnswer& answer)
{
    const std::optional<TermBookCounts> counts = pagesPerBook(w);
    if (!counts) {
        answer.text = noIndexText();
        return;
    }
    const Request& req = w.req;
    const QStringList series = req.shown.size() == req.terms.size() ? req.shown : req.terms;
    const Dim d = req.dim == Dim::none ? Dim::book : req.dim;
    const TermGroups groups = groupTermCounts(w, *counts, d);
    answer.tables = {termTable(w, groups, series, d)};
    answer.text = termSentences(*counts, groups, series, d);
}

constexpr int kDefaultAuthorRows = 30;
constexpr int kMaxAuthorChartGroups = 15;

void authorsTable(const Work& w, const QString& question, AIAnswer& answer)
{
    struct Tally {
        long long books = 0;
        long long pages = 0;
    };
    QHash<std::int64_t, Tally> tally;
    QList<std::int64_t> ids; // first-seen order
    for (const Book& b : w.selected) {
        if (!b.authorId)
            continue;
        const auto it = w.cat->authors.constFind(*b.authorId);
        if (it == w.cat->authors.cend() || isPlaceholderName(it->name))
            continue;
        if (!tally.contains(*b.authorId))
            ids.append(*b.authorId);
        Tally& t = tally[*b.authorId];
        ++t.books;
        t.pages += w.pagesOf(b);
    }
    // A question bound to one century lists its authors by death, unless it
    // asks for the most prolific.
    const bool byDeath = (w.req.centuryFilter || w.req.oldestFirst)
        && !has(Arabic::normalize(question), {QStringLiteral("اكثر")});
    const auto death = [&](std::int64_t id) {
        const auto it = w.cat->authors.constFind(id);
        return it != w.cat->authors.cend() && it->death ? *it->death : Library::undatedYear;
    };
    if (byDeath) {
        std::stable_sort(ids.begin(), ids.end(), [&](std::int64_t a, std::int64_t b) { return death(a) < death(b); });
    } else {
        std::stable_sort(ids.begin(), ids.end(), [&](std::int64_t a, std::int64_t b) {
            if (tally[a].books != tally[b].books)
                return tally[a].books > tally[b].books;
            return tally[a].pages > tally[b].pages;
        });
    }
    const qsizetype total = ids.size();
    const QList<std::int64_t> shown = ids.mid(0, std::min<qsizetype>(w.req.limit.value_or(kDefaultAuthorRows), total));

    DataTable t;
    t.title = (byDeath ? QStringLiteral("المؤلفون مرتبين بالوفاة") : QStringLiteral("المؤلفون الأكثر كتبا في المكتبة"))
        + w.filterText;
    t.columns = {QStringLiteral("#"), QStringLiteral("المؤلف"), QStringLiteral("الوفاة"), QStringLiteral("كتبه في المكتبة"),
                 QStringLiteral("صفحاتها")};
    for (qsizetype k = 0; k < shown.size(); ++k) {
        const auto it = w.cat->authors.constFind(shown[k]);
        const bool known = it != w.cat->authors.cend();
        t.rows.append({digits(k + 1), known ? it->name : QString(), yearCell(known ? it->death : std::nullopt),
                       num(tally[shown[k]].books), num(tally[shown[k]].pages)});
        if (!byDeath && k < kMaxAuthorChartGroups)
            t.chart.append({known ? it->name : QString(), {double(tally[shown[k]].books)}});
    }
    if (!byDeath)
        t.series = {QStringLiteral("الكتب")};
    if (shown.size() < total)
        t.note = QStringLiteral("يعرض ") + digits(shown.size()) + QStringLiteral(" من ")
            + authorsNoun().count(total, CountedNoun::Case::genitive) + u'.';
    answer.tables = {t};
    answer.text = authorsNoun().count(total) + w.filterText + QStringLiteral(" لهم ")
        + books(w.selected.size(), CountedNoun::Case::nominative) + QStringLiteral(" في المكتبة.");
    // A list by death answers who came first.
    if (byDeath && !ids.isEmpty()) {
        if (const auto it = w.cat->authors.constFind(ids.first()); it != w.cat->authors.cend() && it->death)
            answer.text += QStringLiteral(" أقدمهم ") + it->name + QStringLiteral(" (ت ") + yearCell(it->death)
                + QStringLiteral(").");
    }
}

constexpr int kDefaultBookListRows = 50;

void bookList(const Work& w, AIAnswer& answer)
{
    if (w.selected.isEmpty()) {
        answer.text = noBooksText();
        return;
    }
    const qsizetype count = std::min<qsizetype>(w.req.limit.value_or(kDefaultBookListRows), w.selected.size());
    DataTable t;
    t.title = QStringLiteral("الكتب") + w.filterText;
    t.columns = {QStringLiteral("#"),     QStringLiteral("الكتاب"), QStringLiteral("المؤلف"),
                 QStringLiteral("الوفاة"), QStringLiteral("القسم"),  QStringLiteral("الصفحات")};
    for (qsizetype k = 0; k < count; ++k) {
        const Book& b = w.selected[k];
        const auto author = w.lib.author(b);
        t.rows.append({digits(k + 1), w.label(b, Dim::book), author ? author->name : QString(), yearCell(w.lib.deathYear(b)),
                       w.categoryLabel(b), num(w.pagesOf(b))});
    }
    if (count < w.selected.size())
        t.note = QStringLiteral("يعرض أول ") + digits(count) + QStringLiteral(" من ")
            + books(w.selected.size(), CountedNoun::Case::genitive) + QStringLiteral("، مرتبة بوفاة مؤلفيها.");
    answer.tables = {t};
    long long p = 0;
    for (const Book& b : w.selected)
        p += w.pagesOf(b);
    QString text = books(w.selected.size(), CountedNoun::Case::nominative) + w.filterText + QStringLiteral(" في ") + pages(p)
        + QStringLiteral(", مرتبة بوفاة مؤلفيها.");
    answer.text = text.replace(QLatin1Char(','), QStringLiteral("،"));
}

void grouped(const Work& w, AIAnswer& answer)
{
    const Dim d = w.req.dim;
    struct Tally {
        long long books = 0;
        long long pages = 0;
    };
    QHash<QString, Tally> g;
    QStringList order;
    for (const Book& b : w.selected) {
        const QString label = w.label(b, d);
        if (!g.contains(label))
            order.append(label);
        Tally& t = g[label];
        ++t.books;
        t.pages += w.pagesOf(b);
    }
    if (d == Dim::century) {
        std::stable_sort(order.begin(), order.end(),
                         [](const QString& a, const QString& b) { return centuryIndex(a) < centuryIndex(b); });
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [&](const QString& a, const QString& b) { return g[a].books > g[b].books; });
    }
    const QString name = dimName(d);
    DataTable t;
    t.title = QStringLiteral("عدد الكتب حسب ") + name + w.filterText;
    t.columns = {name, QStringLiteral("الكتب"), QStringLiteral("الصفحات")};
    for (qsizetype r = 0; r < order.size(); ++r) {
        const Tally& x = g[order[r]];
        t.rows.append({order[r], num(x.books), num(x.pages)});
        if (r < kMaxChartGroups)
            t.chart.append({order[r], {double(x.books)}});
    }
    t.series = {QStringLiteral("الكتب")};
    answer.tables = {t};
    if (order.isEmpty())
        return;
    // Books without a known century are told apart, not counted as a century.
    const long long undated = d == Dim::century ? g.value(unknownCentury()).books : 0;
    const QString* most = nullptr;
    for (const QString& label : std::as_const(order)) {
        if (d == Dim::century && label == unknownCentury())
            continue;
        if (!most || g[label].books > g[*most].books)
            most = &label;
    }
    QString text = books(w.selected.size(), CountedNoun::Case::nominative) + w.filterText;
    if (most) {
        const qsizetype groups = g.size() - (undated > 0 ? 1 : 0);
        text += QStringLiteral(" موزعة على ") + unitNoun(d).count(groups, CountedNoun::Case::genitive)
            + QStringLiteral("، أكثرها ") + *most + QStringLiteral(" (") + digits(g[*most].books) + QStringLiteral(")");
    }
    if (undated > 0)
        text += (most ? QStringLiteral("، و") : QStringLiteral("، ")) + books(undated, CountedNoun::Case::nominative)
            + QStringLiteral(" بلا قرن معروف");
    answer.text = text + u'.';
}

// The page counts of each library, kept with the catalogue snapshot they were
// taken under: a reloaded catalogue (after an install or a removal) makes
// them be counted again, and each library keeps its own.
struct CountsEntry {
    std::weak_ptr<const Catalog> catalog;
    QHash<std::int64_t, std::int64_t> counts;
};

std::mutex countsMutex;
std::map<const Library*, CountsEntry> countsByLibrary;

} // namespace

QString num(long long n)
{
    // Grouped by hand: a locale's formatter would bring its own digits and
    // separators.
    const QString plain = QString::number(n < 0 ? -(unsigned long long)n : (unsigned long long)n);
    QString grouped;
    const qsizetype len = plain.size();
    for (qsizetype i = 0; i < len; ++i) {
        if (i > 0 && (len - i) % 3 == 0)
            grouped.append(QChar(0x066C));
        grouped.append(plain[i]);
    }
    if (n < 0)
        grouped.prepend(QLatin1Char('-'));
    return Arabic::digits(grouped);
}

QString centuryLabel(int c)
{
    if (c <= 0)
        return unknownCentury();
    const auto& names = Reports::centuryNames();
    if (c < int(names.size()))
        return QStringLiteral("القرن ") + names[c];
    return QStringLiteral("القرن ") + digits(c);
}

QHash<std::int64_t, std::int64_t> pageCounts(const Library& library)
{
    const auto catalog = library.catalog();
    std::lock_guard guard(countsMutex);
    for (auto it = countsByLibrary.begin(); it != countsByLibrary.end();) {
        if (it->second.catalog.expired())
            it = countsByLibrary.erase(it);
        else
            ++it;
    }
    if (const auto it = countsByLibrary.find(&library);
        it != countsByLibrary.end() && it->second.catalog.lock() == catalog)
        return it->second.counts;
    QHash<std::int64_t, std::int64_t> counts;
    for (const auto& row : library.main().rows(QStringLiteral("SELECT book_id, COUNT(*) FROM pages GROUP BY book_id"))) {
        if (const auto id = row.integer(0))
            counts.insert(*id, row.integer(1).value_or(0));
    }
    countsByLibrary[&library] = CountsEntry{catalog, counts};
    return counts;
}

AIAnswer run(const Library& library, const QString& question)
{
    return run(library, question, parse(library, question));
}

AIAnswer run(const Library& library, const QString& question, const Request& request)
{
    AIAnswer answer;
    answer.mode = AIMode::data;
    answer.question = question;
    answer.verifiedAll = true;
    answer.structured = true;

    Work w{library, library.catalog(), request, pageCounts(library), {}, {}};
    selectBooks(w);

    const Request& req = w.req;
    if (!req.uncounted.isEmpty() && !req.wantStats) {
        answer.text = uncountedText(req.uncounted);
        return answer;
    }
    if (!req.unmatchedName.isEmpty() && req.terms.isEmpty() && !req.wantStats) {
        answer.text = noAuthorText(req.unmatchedName);
        return answer;
    }
    if (req.wantStats)
        statistics(w, answer);
    else if (!req.terms.isEmpty())
        termCounts(w, answer);
    else if (req.wantAuthors)
        authorsTable(w, question, answer);
    else if (req.dim == Dim::book || req.dim == Dim::none)
        bookList(w, answer);
    else
        grouped(w, answer);
    return answer;
}

} // namespace quorvel::DataQA
