// Snippets: an excerpt of a page around its first match, matches marked.

#include "search/SearchEngine.h"

#include "core/ArabicPlain.h"
#include "core/Characters.h"

#include <algorithm>

namespace quorvel {

namespace {

const QString footnoteRule = QStringLiteral("__________");
const QString leadEllipsis = QStringLiteral("… ");
const QString trailEllipsis = QStringLiteral(" …");

// How much more of a page is cleaned and searched at each step: most first
// matches, and the words after them, lie within the first step or two.
constexpr qsizetype stepUnits = 384;

// Marks stripped (but on a page in the mushaf's spelling, whose words are
// read in the plain spelling by their marks), line breaks and the footnote
// rule made spaces.
QString cleaned(const QString& content, bool keepMarks)
{
    QString clean = keepMarks ? content : Arabic::stripMarks(content);
    clean.replace(QChar('\n'), QChar(' '));
    clean.replace(footnoteRule, QStringLiteral(" "));
    return clean;
}

// Where to end the next piece of `content` when it should reach `want`: just
// after the first space or line break from there on, or at the end. No
// footnote rule and no word runs across such a break, so the pieces cleaned
// one after the other make the cleaned page, and their words are its words.
qsizetype cutAfter(const QString& content, qsizetype want)
{
    for (qsizetype i = std::max<qsizetype>(want, 1) - 1; i < content.size(); ++i)
        if (content[i] == u' ' || content[i] == u'\n')
            return i + 1;
    return content.size();
}

// The offset in `idx`'s text of the start of its `words`-th word from the
// end, 0 when it has fewer words.
qsizetype startOfLastWords(const Arabic::Index& idx, qsizetype words)
{
    qsizetype i = idx.norm.size();
    while (words > 0) {
        while (i > 0 && idx.norm[i - 1] == u' ')
            --i;
        if (i == 0)
            return 0;
        while (i > 0 && idx.norm[i - 1] != u' ')
            --i;
        --words;
    }
    return idx.map[i];
}

} // namespace

// Cleans the page text (marks stripped, line breaks and the footnote rule
// made spaces), anchors on the earliest first match of any term and takes
// a few words before it and more after it. The ranges are found again in
// the excerpt, term by term; digits are converted for display last, which
// keeps every range in place.
QList<Arabic::Range> SearchEngine::writtenAsAsked(const Plan& plan, const QString& text,
                                                  QList<Arabic::Range> ranges, bool marks)
{
    if (!plan.q.hamza && !(marks && plan.q.tashkeel))
        return ranges;
    SearchQuery q = plan.q;
    q.tashkeel = q.tashkeel && marks;
    const auto askedIn = [&](const QString& written) {
        const QList<Arabic::RichWord> rich = Arabic::richWords(written);
        QStringList words;
        words.reserve(rich.size());
        for (const Arabic::RichWord& w : rich)
            words << w.word;
        for (const std::vector<Phrase>* list : {&plan.ands, &plan.ors})
            for (const Phrase& phrase : *list)
                if (!positions(phrase, words, &rich, q).isEmpty())
                    return true;
        return false;
    };
    // Words in the mushaf's spelling count as written or as their plain spelling.
    const bool mushaf = Arabic::mushafSpelling(text);
    const auto asked = [&](const Arabic::Range& r) {
        const QString written = text.mid(r.location, r.length);
        return askedIn(written) || (mushaf && askedIn(Arabic::plainSpelling(written)));
    };
    ranges.removeIf([&](const Arabic::Range& r) { return !asked(r); });
    return ranges;
}

SearchEngine::Snippet SearchEngine::snippet(const QString& content, const QList<SearchQuery::Term>& terms,
                                            int radius, const Plan* asked)
{
    const auto find = [&](const QString& text, const Arabic::Index& idx, const SearchQuery::Term& term) {
        QList<Arabic::Range> found = Arabic::ranges(term.first, idx, term.second);
        return asked ? writtenAsAsked(*asked, text, std::move(found), false) : found;
    };

    const int before = std::min(radius, 4);
    const int after = std::max(2 * radius - before, radius);

    // A page is cleaned and searched piece by piece, only as far as its first
    // match and the words after it: the excerpt is the one the whole page
    // gives. A match can run over the end of a piece by at most the words of
    // the longest term, so each search starts that many words back, and a
    // match found stands once no term still unfound could begin before it.
    // A check of the written hamza forms drops some matches, which moves
    // where the next may begin: such a snippet reads the whole page at once.
    qsizetype span = 1;
    for (const SearchQuery::Term& term : terms)
        span = std::max(span, term.first.count(u' ') + 2);
    QString clean;
    const bool mushaf = Arabic::hasPlainLines(content);
    qsizetype read = 0; // units of content cleaned so far
    const auto more = [&] {
        const qsizetype cut = asked || terms.isEmpty() ? content.size() : cutAfter(content, read + stepUnits);
        clean += cleaned(read == 0 && cut == content.size() ? content : content.mid(read, cut - read), mushaf);
        read = cut;
        return read >= content.size();
    };
    QList<std::optional<Arabic::Range>> first(terms.size());
    std::optional<Arabic::Range> anchor;
    qsizetype from = 0; // where the next search starts in clean
    for (bool settled = false; !settled;) {
        const bool whole = more();
        const QString window = from == 0 ? clean : clean.mid(from);
        const Arabic::Index idx = Arabic::index(window);
        bool allFound = true;
        anchor.reset();
        for (qsizetype t = 0; t < terms.size(); ++t) {
            if (!first[t]) {
                const QList<Arabic::Range> found = find(window, idx, terms[t]);
                if (!found.isEmpty())
                    first[t] = Arabic::Range{found.first().location + from, found.first().length};
            }
            allFound = allFound && first[t];
            if (first[t] && (!anchor || first[t]->location < anchor->location))
                anchor = first[t];
        }
        const qsizetype next = from + startOfLastWords(idx, span);
        settled = whole || (anchor && (allFound || anchor->location < next));
        from = next;
    }
    if (!anchor)
        return {Arabic::digits(clean.left(Characters::endOfFirst(clean, fallbackCharacters))), {}};

    qsizetype s = anchor->location;
    qsizetype e = anchor->location + anchor->length;
    if (s > 0 && radius >= 1) {
        int spaces = 0;
        while (s > 0 && spaces < before)
            if (clean[--s] == u' ')
                ++spaces;
    }
    // Whether the page goes on past the excerpt is known only once something
    // of it is cleaned beyond the excerpt's end.
    int spaces = 0;
    for (;;) {
        if (radius >= 1)
            while (e < clean.size() && spaces < after)
                if (clean[e++] == u' ')
                    ++spaces;
        if (read >= content.size() || (e < clean.size() && (radius < 1 || spaces == after)))
            break;
        more();
    }
    const qsizetype length = clean.size();
    QString excerpt = Characters::trimSpacesAndTabs(QStringView(clean).mid(s, e - s)).toString();
    if (s > 0)
        excerpt = leadEllipsis + excerpt;
    if (e < length)
        excerpt += trailEllipsis;

    const Arabic::Index excerptIdx = Arabic::index(excerpt);
    QList<Arabic::Range> marked;
    for (const SearchQuery::Term& term : terms)
        marked << find(excerpt, excerptIdx, term);
    return {Arabic::digits(excerpt), marked};
}

} // namespace quorvel
