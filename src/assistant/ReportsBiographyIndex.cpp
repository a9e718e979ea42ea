#include "assistant/ReportsBiographyText.h"

#include "core/Library.h"

#include <algorithm>

namespace quorvel::Reports::BiographyText {

namespace {

// A dictionary's index line names a man in at most this many words, after
// at most this many nisbas («بن شهاب الزهري محمد بن مسلم»).
constexpr qsizetype kReferredWordsMax = 6;
constexpr qsizetype kLeadingNisbasMax = 2;

// A dictionary's numbered entry line that opens with a full name.
struct EntryLine {
    std::int64_t bookId = 0;
    std::int64_t pageId = 0;
    std::int64_t seq = 0;
    Quoted at;
    QStringList words;     // the line's words in normal form, «ابن» read as «بن»
    QStringList full;      // the full name it opens with
    bool holdsAsked = false; // it holds every word of the name asked for
    int described = 0;       // how many of the index line's nisbas and epithets it holds
    int standing = 1;        // how the dictionary ranks him
    std::int64_t known = 0;  // pages of the library that name him as the entry does
};

// Following a dictionary's own cross-reference: its index of nisbas, kunyas
// and short names files a man under his full name («الأوزاعي عبد الرحمن بن
// عمرو», «بن سيرين هو محمد»). The entry it points to, read as the entry of
// the name asked for; of several men of that full name, the one whose entry
// holds the words asked for, then the one the library names most.
class CrossReference {
public:
    CrossReference(const Library& lib, const QStringList& asked, const QSet<std::int64_t>& dictionaries)
        : lib_(lib), asked_(asked), dictionaries_(dictionaries), byId_(lib.bookById())
    {
    }

    std::optional<AboutName> entry()
    {
        if (asked_.isEmpty() || dictionaries_.isEmpty())
            return std::nullopt;
        QList<EntryLine> found;
        indexed(asked_, false, found);
        // «سفيان الثوري»: the index files him by the nisba alone.
        if (asked_.size() > 1 && asked_.last().startsWith(QStringLiteral("ال")))
            indexed({asked_.last()}, true, found);
        if (found.isEmpty())
            return std::nullopt;
        const QList<Book> catalogue = lib_.books();
        QHash<std::int64_t, qsizetype> order;
        for (qsizetype i = 0; i < catalogue.size(); ++i)
            order.insert(catalogue[i].id, i);
        for (EntryLine& e : found) {
            e.standing = standing(e.words);
            e.known = known(e);
        }
        const auto best = std::min_element(found.begin(), found.end(), [&](const EntryLine& a, const EntryLine& b) {
            if (a.holdsAsked != b.holdsAsked)
                return a.holdsAsked;
            if (a.described != b.described)
                return a.described > b.described;
            if (a.standing != b.standing)
                return a.standing > b.standing;
            if (a.known != b.known)
                return a.known > b.known;
            if (a.bookId != b.bookId)
                return order.value(a.bookId) < order.value(b.bookId);
            return std::make_pair(a.seq, a.at.start) < std::make_pair(b.seq, b.at.start);
        });
        const Page page = pages_.value(best->pageId);
        const QString content = footnotesLabelled(page.content);
        std::optional<AboutName> a = passageAt(lib_, byId_.value(best->bookId), page, content, best->at);
        if (a) {
            a->entry = Entry::numbered;
            a->filedAs = best->full;
        }
        return a;
    }

private:
    // The dictionaries' lines that open with `key` and then name a man, and
    // the entries they point to; with `required`, only entries that hold
    // every word asked for.
    void indexed(const QStringList& key, bool required, QList<EntryLine>& found)
    {
        for (const auto& [pageId, bookId] : pagesNaming(lib_, key, dictionaries_, kDictionaryPagesRead)) {
            const std::optional<Page> page = read(pageId);
            if (!page)
                continue;
            const QList<std::pair<qsizetype, qsizetype>> lines = linesOf(page->content);
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const auto& [from, to] = lines[i];
                const QStringList words = foldedTokens(page->content.mid(from, to - from));
                if (words.size() <= key.size() || words.mid(0, key.size()) != key)
                    continue;
                // «بن عمرو بن العاص …» indexes another son of another X; «X عن
                // مولى لأسماء هو …» names whom X narrated from.
                if ((key.first() == sonOf() && isLineage(words[key.size()]))
                    || words.mid(key.size(), kReferredWordsMax).contains(QStringLiteral("عن")))
                    continue;
                // A page's first line that goes on from the page before is no index line.
                if (i == 0 && !carriedInto(lib_, *page).isEmpty())
                    continue;
                const QStringList rest = words.mid(key.size());
                QStringList described;
                for (const QString& w : rest.mid(0, kReferredWordsMax)) {
                    if (w.startsWith(QStringLiteral("ال")))
                        described << w;
                }
                for (const QStringList& full : fullNames(rest, key)) {
                    QList<EntryLine> entries = opening(full, bookId);
                    for (EntryLine& e : entries) {
                        e.described = int(std::count_if(described.begin(), described.end(), [&](const QString& w) {
                            return !full.contains(w) && e.words.contains(w);
                        }));
                    }
                    if (required)
                        entries.removeIf([](const EntryLine& e) { return !e.holdsAsked; });
                    if (!entries.isEmpty()) {
                        found << entries;
                        break;
                    }
                }
            }
        }
    }

    // The full names an index line's words may give, longest first: the
    // words as they stand or after leading nisbas and epithets, and after
    // «هو» or «اسمه», cut where a name may end; for «ابن X» a given name
    // alone («هو عبد الله») is completed by «بن X».
    QList<QStringList> fullNames(const QStringList& words, const QStringList& key) const
    {
        qsizetype nisbas = 0;
        while (nisbas < words.size() && nisbas < kLeadingNisbasMax && words[nisbas].startsWith(QStringLiteral("ال")))
            ++nisbas;
        const auto named = [&](qsizetype from) {
            const bool pointer = from < words.size()
                && (words[from] == QStringLiteral("هو") || words[from] == QStringLiteral("اسمه"));
            return pointer ? from + 1 : from;
        };
        // «بن وهب المصري صاحب مالك اسمه عبد الله»: the name after the pointer.
        qsizetype pointer = 0;
        while (pointer < std::min(words.size(), kReferredWordsMax) && words[pointer] != QStringLiteral("هو")
               && words[pointer] != QStringLiteral("اسمه"))
            ++pointer;
        QList<qsizetype> starts{named(0), named(nisbas)};
        if (pointer < std::min(words.size(), kReferredWordsMax))
            starts << pointer + 1;
        QList<QStringList> out;
        for (const qsizetype from : starts) {
            for (qsizetype n = std::min(kReferredWordsMax, words.size() - from); n >= 1; --n) {
                QStringList full = words.mid(from, n);
                if (isOpenEnded(full.last()))
                    continue;
                if (key.first() == sonOf() && !full.contains(sonOf()))
                    full << key;
                if (full.size() < 2 || (!full.contains(sonOf()) && !isKunya(full.first())) || out.contains(full))
                    continue;
                out << full;
            }
        }
        return out;
    }

    // The numbered entries of the book that open with the full name.
    QList<EntryLine> opening(const QStringList& full, std::int64_t bookId)
    {
        QList<EntryLine> out;
        const Reading reading{full, {}, {}, {}};
        for (const auto& [pageId, book] : pagesNaming(lib_, full, QSet<std::int64_t>{bookId}, kDictionaryPagesRead)) {
            const std::optional<Page> page = read(pageId);
            if (!page)
                continue;
            const QString content = footnotesLabelled(page->content);
            for (const auto& [from, to] : linesOf(content)) {
                const QString line = content.mid(from, to - from);
                const std::optional<Quoted> q = sentenceAbout(line, reading);
                if (!q || q->entry != Entry::numbered)
                    continue;
                EntryLine e;
                e.bookId = book;
                e.pageId = pageId;
                e.seq = page->seq;
                e.at = {from + q->start, from + q->end, Entry::numbered};
                e.words = foldedTokens(line);
                e.full = full;
                e.holdsAsked = std::all_of(asked_.begin(), asked_.end(), [&](const QString& w) {
                    return w == sonOf() || holdsWord(e.words, w);
                });
                out << e;
            }
        }
        return out;
    }

    // How many pages name the man as his entry opens: the full name and the
    // name after it («عبد الله بن عمر بن الخطاب»).
    std::int64_t known(const EntryLine& e)
    {
        qsizetype at = 0;
        while (at < e.words.size() && e.words.mid(at, e.full.size()) != e.full)
            ++at;
        qsizetype end = at + e.full.size();
        while (end < e.words.size() && (end == at + e.full.size() || isOpenEnded(e.words[end - 1])))
            ++end;
        const QStringList phrase = e.words.mid(at, end - at);
        if (!counted_.contains(phrase.join(u' ')))
            counted_.insert(phrase.join(u' '), pagesCount(lib_, phrase));
        return counted_.value(phrase.join(u' '));
    }

    // A copy: the cache may grow while the page is read.
    std::optional<Page> read(std::int64_t pageId)
    {
        if (const auto it = pages_.constFind(pageId); it != pages_.cend())
            return *it;
        const std::optional<Page> page = lib_.page(pageId);
        if (page)
            pages_.insert(pageId, *page);
        return page;
    }

    const Library& lib_;
    QStringList asked_;
    QSet<std::int64_t> dictionaries_;
    QHash<std::int64_t, Book> byId_;
    QHash<std::int64_t, Page> pages_;
    QHash<QString, std::int64_t> counted_;
};

} // namespace

std::optional<AboutName> indexedEntry(const Library& lib, const QStringList& asked, const QSet<std::int64_t>& dictionaries)
{
    return CrossReference(lib, asked, dictionaries).entry();
}

} // namespace quorvel::Reports::BiographyText
