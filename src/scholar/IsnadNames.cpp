#include "scholar/IsnadSegment.h"
#include "scholar/IsnadWords.h"

// Which words a text's own chains write as names.

namespace quorvel::Isnad::detail {

namespace {

bool isWord(const QStringList& t, qsizetype k) { return k >= 0 && k < t.size() && !isStop(t[k]); }

// A link word, «وحدثنا» and «فحدثني» among them.
bool isLink(const QString& f)
{
    const auto bare = [](const QString& w) { return isLinkVerb(w) || w == u"عن"; };
    return bare(f) || ((f.startsWith(u'\u0648') || f.startsWith(u'\u0641')) && bare(f.mid(1)));
}

// Whether the name that holds t[k] may close after it: a stop, a link or
// saying word, a lineage or joining word, a by-name, a word no name holds
// («مالك قراءة عليه», «أبي هريرة رفعه»), or a second narrator
// with «و» whose name is among `known` («عن وكيع وسفيان», not «عن غير واحد»).
bool closesAfter(const QStringList& t, qsizetype k, const QSet<QString>& known)
{
    if (!isWord(t, k + 1))
        return true;
    const QString& next = t[k + 1];
    const QString f = fold(next);
    if (isLink(f) || isGlue(f) || isLineageWord(f) || continuesName(next) || isByName(f) || isNotName(f))
        return true;
    return f.startsWith(u'\u0648') && f.size() > 2
        && (known.contains(f.mid(1)) || continuesName(next.mid(1)) || isKinWord(next.mid(1)));
}

} // namespace

PageNames::PageNames(const QStringList& t) : every_(false)
{
    collect(t, {});
    // A second narrator after «و» is known once the names are.
    collect(t, named_ + opened_);
}

void PageNames::collect(const QStringList& t, const QSet<QString>& known)
{
    for (qsizetype k = 0; k < t.size(); ++k) {
        if (!isWord(t, k))
            continue;
        const QString f = fold(t[k]);
        // «وأبو معاوية», «وابن جريج»: the «و» joins two narrators.
        const QString joining = f.startsWith(u'\u0648') && f.size() > 2 ? t[k].mid(1) : t[k];
        if (isLineageWord(fold(joining)) || isSonsOf(fold(joining))) {
            if (isWord(t, k - 1))
                named_.insert(fold(t[k - 1]));
            if (isWord(t, k + 1))
                named_.insert(fold(t[k + 1]));
        } else if (continuesName(joining) && isWord(t, k + 1)) {
            named_.insert(fold(t[k + 1]));
        } else if (isLink(f) && isWord(t, k + 1) && closesAfter(t, k + 1, known)) {
            opened_.insert(fold(t[k + 1]));
        }
    }
}

bool PageNames::holds(const QString& word) const
{
    const QString f = fold(word);
    return every_ || named_.contains(f) || opened_.contains(f) || continuesName(word) || isLineageWord(f)
        || isSonsOf(f) || isKinWord(word) || isByName(f);
}

bool PageNames::opensName(const QString& word) const
{
    const QString f = fold(word);
    return every_ || named_.contains(f) || opened_.contains(f) || continuesName(word) || isLineageWord(f)
        || isKinWord(word) || isByName(f);
}

bool PageNames::ownWaw(const QString& word) const
{
    if (every_ || !word.startsWith(u'\u0648') || word.size() < 3)
        return false;
    const QString f = fold(word);
    const QString rest = word.mid(1);
    const bool whole = named_.contains(f) || opened_.contains(f);
    const bool after = named_.contains(f.mid(1)) || opened_.contains(f.mid(1)) || continuesName(rest) || isKinWord(rest);
    return whole && !after;
}

} // namespace quorvel::Isnad::detail
