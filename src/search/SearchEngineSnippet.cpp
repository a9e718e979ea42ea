// Snippets: an excerpt of a page around its first match, matches marked.

#include "search/SearchEngine.h"

#include "core/Characters.h"

#include <algorithm>

namespace quorvel {

namespace {

const QString footnoteRule = QStringLiteral("__________");
const QString leadEllipsis = QStringLiteral("… ");
const QString trailEllipsis = QStringLiteral(" …");

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
    const auto asked = [&](const Arabic::Range& r) {
        const QList<Arabic::RichWord> rich = Arabic::richWords(text.mid(r.location, r.length));
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

    QString clean = Arabic::stripMarks(content);
    clean.replace(QChar('\n'), QChar(' '));
    clean.replace(footnoteRule, QStringLiteral(" "));

    const Arabic::Index idx = Arabic::index(clean);
    std::optional<Arabic::Range> anchor;
    for (const SearchQuery::Term& term : terms) {
        const QList<Arabic::Range> found = find(clean, idx, term);
        if (!found.isEmpty() && (!anchor || found.first().location < anchor->location))
            anchor = found.first();
    }
    if (!anchor)
        return {Arabic::digits(clean.left(Characters::endOfFirst(clean, fallbackCharacters))), {}};

    const qsizetype length = clean.size();
    qsizetype s = anchor->location;
    qsizetype e = anchor->location + anchor->length;
    if (s > 0 && radius >= 1) {
        int spaces = 0;
        while (s > 0 && spaces < before)
            if (clean[--s] == u' ')
                ++spaces;
    }
    if (e < length && radius >= 1) {
        int spaces = 0;
        while (e < length && spaces < after)
            if (clean[e++] == u' ')
                ++spaces;
    }
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
