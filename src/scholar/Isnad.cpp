#include "scholar/Isnad.h"
#include "scholar/IsnadSegment.h"
#include "scholar/IsnadWords.h"

#include "core/Arabic.h"
#include "core/Py.h"
#include "core/PyRegex.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace quorvel::Isnad {

using namespace detail;

const Patterns& detail::patterns()
{
    static const Patterns compiled;
    return compiled;
}

namespace {

// Narrower than Arabic::isDrop, the extended marks staying: the chains, and
// the narrator tables every installed library holds, are defined on this set.
bool isTashkeel(char16_t u)
{
    const Arabic::MarkGroup group = Arabic::markGroup(u);
    return group == Arabic::MarkGroup::Harakat || group == Arabic::MarkGroup::SuperscriptAlef
        || group == Arabic::MarkGroup::Quranic || u == 0x0640;
}

// Whether the opener can match in the stripped text `t`: each of its verbs
// contains one of these letter runs. A page with none of them needs no run
// of the pattern, and searching for them costs far less.
bool mayOpenChain(QStringView t)
{
    return t.contains(u"\u062B\u0646") // ثن: حدثنا حدثني حدثنى ثنا
        || t.contains(u"\u062B\u062A\u0646") // ثتن: حدثتنا حدثتني
        || t.contains(u"\u062E\u0628\u0631\u0646") // خبرن: اخبرنا اخبرني
        || t.contains(u"\u0633\u0645\u0639\u062A"); // سمعت
}

// Up to the first match of `re`, or the whole text.
QString before(const PyRegex::Regex& re, const QString& text)
{
    const auto match = PyRegex::firstMatch(re, text);
    return match ? text.left(match->start) : text;
}

} // namespace

namespace {

// The direction marks an editor may leave inside a word («مح\u200Fمد»): no
// letters, dropped as the tatweel is.
constexpr bool isDirectionMark(char16_t u)
{
    return u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// `text` without its marks where a hamza or madda is written as a mark or a
// direction mark stands in a word: each carrier becomes the letter it and
// its seat marks compose to, as the normal form composes them, so that a
// page's chains do not depend on how its hamza is encoded.
constexpr qsizetype kMostMarksOnALetter = 8;

QString composedWithoutMarks(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (isTashkeel(u) || Arabic::isSeatMark(u) || isDirectionMark(u))
            continue;
        // A letter carries a few marks; a longer run is no writing, and
        // composing it would cost the square of its length.
        qsizetype marks = 0;
        while (i + 1 + marks < text.size() && marks <= kMostMarksOnALetter
               && Arabic::markGroup(text[i + 1 + marks].unicode()) != Arabic::MarkGroup::None)
            ++marks;
        out.append(marks <= kMostMarksOnALetter ? QChar(Arabic::writtenAt(text, i)) : text[i]);
    }
    return out;
}

bool needsComposing(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return Arabic::isSeatMark(c.unicode()) || isDirectionMark(c.unicode());
    });
}

} // namespace

QString stripTashkeel(const QString& text)
{
    if (needsComposing(text))
        return composedWithoutMarks(text);
    QString out(text.size(), Qt::Uninitialized);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    char16_t* kept = reinterpret_cast<char16_t*>(out.data());
    qsizetype length = 0;
    // Every unit is written and only the kept ones advance: no branch on
    // the text, which mixes letters and marks unit by unit.
    for (qsizetype i = 0; i < text.size(); ++i) {
        kept[length] = in[i];
        length += !isTashkeel(in[i]);
    }
    out.truncate(length);
    return out;
}

bool hasIsnad(const QString& text)
{
    const QString t = stripTashkeel(text);
    return mayOpenChain(t) && PyRegex::firstMatch(patterns().opener, t).has_value();
}

bool opensChain(const QString& word)
{
    const QString t = stripTashkeel(word);
    const std::optional<PyRegex::Range> m = PyRegex::firstMatch(patterns().opener, t);
    return m && m->start == 0 && m->length == t.size();
}

QString cleanNarrator(const QString& piece)
{
    const Patterns& p = patterns();
    // The first ":" or "؛" ends the name.
    qsizetype colon = 0;
    while (colon < piece.size() && piece[colon] != u':' && piece[colon] != u'\u061B')
        ++colon;
    QString text = piece.left(colon);
    // Every honorific formula contains الله or عليه, and every word that
    // begins the report's text contains قال, ان or أن: without them the
    // patterns cannot match, and pieces are many.
    if (text.contains(u"\u0627\u0644\u0644\u0647") || text.contains(u"\u0639\u0644\u064A\u0647"))
        text = PyRegex::sub(p.honor, QStringLiteral(" "), text);
    if (text.contains(u"\u0642\u0627\u0644") || text.contains(u"\u0627\u0646") || text.contains(u"\u0623\u0646"))
        text = before(p.matnCut, text);

    // Only Arabic letters and white space survive; each other code point
    // (digits, punctuation, Latin, a surviving mark) becomes one space.
    std::u32string kept;
    kept.reserve(size_t(text.size()));
    for (char32_t c : Py::scalars(text))
        kept.push_back(isArabicLetter(c) || Py::isSpace(c) ? c : U' ');

    // The joined name is Arabic letters and single spaces, so a lone
    // conjunction left at its end is exactly a final " و".
    QString joined = Py::split(Py::string(kept)).join(QLatin1Char(' '));
    if (joined.endsWith(u" \u0648"))
        joined.chop(2);
    return joined;
}

namespace {

// The link words after which a new chain may start once the last one has
// ended: the full verbs of hearing that head a route, not عن or سمعت, and
// never an abbreviation that the report's own words may hold.
bool restartsChain(QStringView linkWord)
{
    const QString f = fold(linkWord.trimmed().toString().remove(u']'));
    return f.startsWith(u"\u062D\u062F\u062B\u0646") // حدثن
        || f.startsWith(u"\u062D\u062F\u062B\u062A\u0646") // حدثتن
        || f.startsWith(u"\u0627\u062E\u0628\u0631\u0646") // اخبرن
        || f == u"\u0627\u0646\u0628\u0627\u0646\u0627" // انبانا
        || f == u"\u062B\u0646\u0627"; // ثنا
}

// «قال الزهري: فحدثني فلان», «قال أبو كريب وحدثنا وكيع»: the narrator who
// opens a second route inside a report with «و/ف» and a link word at `at`,
// read from the text since `from`; empty when no one is named so.
QString routeSpeaker(const QString& s, qsizetype from, qsizetype at)
{
    qsizetype j = at - 1;
    // An editor's bracket may stand between them: «قال نصر ]: و [ حدثنا».
    while (j >= from && (s[j].isSpace() || s[j] == u'['))
        --j;
    if (j < from || !isOneOf(QString(s[j]), {u"\u0648", u"\u0641"}) || (j > 0 && isArabicLetter(s[j - 1].unicode())))
        return {};
    // Only the last few words can name him.
    const qsizetype start = std::max(from, j - 160);
    QString tail = s.mid(start, j - start);
    // Words before a number belong to another report (or a note's mark).
    for (qsizetype k = tail.size() - 1; k >= 0; --k)
        if (tail[k].isDigit() || tail[k] == u'\\') {
            tail.remove(0, k + 1);
            break;
        }
    QStringList t = tokens(tail);
    while (!t.isEmpty() && (t.last() == u':' || t.last() == u','))
        t.removeLast();
    // «قال أبو الحسن أي القطان»: the editor's «أي» explains the name.
    for (qsizetype k = 1; k < t.size(); ++k)
        if (fold(t[k]) == u"اي") {
            t.resize(k);
            break;
        }
    for (qsizetype k = t.size() - 2; k >= 0 && k >= t.size() - 7 && !isStop(t[k]); --k) {
        if (fold(t[k]) != u"قال")
            continue;
        qsizetype i = k + 1;
        const QString name = nameAt(t, i, 5);
        return i == t.size() && !isProphet(name) ? name : QString();
    }
    return {};
}

// The narrator of the chains read so far whom `speaker` names: himself, or
// the one whose name begins with his words («قيس» after «قيس بن أبي حازم»).
// Empty when none is: a speaker no chain names is not taken for a narrator.
QString namedBefore(const QList<Chain>& read, const QString& speaker)
{
    if (speaker.isEmpty())
        return {};
    const QString words = fold(speaker) + u' ';
    for (const Chain& route : read)
        for (const Link& place : route)
            for (const QString& name : place)
                if (fold(name) == fold(speaker) || fold(name).startsWith(words))
                    return name;
    return {};
}

// Given names that end in an alif of their own: the accusative's alif
// comes off every other one.
bool endsInOwnAlif(const QString& folded)
{
    return isOneOf(folded, {u"زكريا", u"يحيا", u"موسا", u"عيسا"});
}

} // namespace

QString filedName(const QString& name)
{
    QStringList words = name.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return name;
    const QString first = fold(words.first());
    // A kunya is filed in the nominative: أبا هريرة and أبي هريرة are أبو هريرة.
    // «أبي بن كعب» is a name before «بن», no kunya.
    if (words.size() > 1 && (first == u"ابا" || first == u"ابي") && !isLineageWord(fold(words[1]))) {
        words.first() = words.first().first(2) + QChar(0x0648);
    } else if (Py::len(first) >= 4 && first.endsWith(u'\u0627') && !first.startsWith(u"\u0627\u0644")
               && !first.endsWith(u"\u0627\u0627") && !first.endsWith(u"\u0647\u0627") && !endsInOwnAlif(first)
               && (words.size() == 1 || !isLineageWord(fold(words[1])))) {
        // The accusative's alif (جابرا, أنسا, عليا), not a pronoun's (أباها);
        // عمرو writes it in place of his waw.
        words.first().chop(1);
        if (first == u"عمرا")
            words.first().append(QChar(0x0648));
    }
    return words.join(u' ');
}

// «عن فلان، عن فلان …» at a page's head: where a chain the page before began
// goes on; the text's size when it does not.
static qsizetype carriedOverFrom(const QString& t)
{
    const qsizetype lead = std::find_if(t.cbegin(), t.cend(), [](QChar c) { return !c.isSpace(); }) - t.cbegin();
    const QStringView head = QStringView(t).mid(lead);
    return head.startsWith(u"\u0639\u0646 ") || head.startsWith(u"\u0648\u0639\u0646 ") ? lead : t.size();
}

// «… كما حدثنا به أبو هريرة», «أخبرني بالذي سمعت»: after the report's text
// has begun, a verb of telling that a word of the sentence governs (a
// relative, «أن», «كان», a negation) is the report's own, opening no chain.
static bool saidWithinReport(const QString& s, qsizetype at)
{
    // «كان يحدثنا»: the verb inside a longer word, unless after و or ف.
    qsizetype lead = at;
    while (lead > 0 && isArabicLetter(s[lead - 1].unicode()))
        --lead;
    if (lead < at)
        return !isOneOf(s.mid(lead, at - lead), {u"\u0648", u"\u0641"});
    qsizetype end = at;
    while (end > 0 && s[end - 1].isSpace())
        --end;
    qsizetype start = end;
    while (start > 0 && isArabicLetter(s[start - 1].unicode()))
        --start;
    return isOneOf(fold(s.mid(start, end - start)),
                   {u"ما", u"بما", u"كما", u"مما", u"فيما", u"عما", u"الذي", u"التي", u"بالذي", u"الذين", u"ان",
                    u"انه", u"كان", u"كانوا", u"قد", u"لقد", u"لم", u"لا", u"حتي", u"لو", u"ممن", u"من"});
}

// «ثنا وكيع ح وحدثنا فلان ثنا أبو نعيم ثنا زمعة»: a route that stopped at ح
// without meeting another goes on as the last one does past the place where
// it stopped.
static void carryStoppedRoutes(QList<Chain>& routes)
{
    for (qsizetype r = 0; r + 1 < routes.size(); ++r)
        if (!routes[r].isEmpty() && routes[r].size() < routes.last().size() && routes[r].last() != routes.last().last())
            routes[r] += routes.last().mid(routes[r].size());
}

// Whether the last route, after ح, reaches at `place` the narrator where an
// earlier route stopped: from there on it goes on with it.
static bool reachesAStop(const QList<Chain>& routes, const Link& place)
{
    for (qsizetype r = 0; r + 1 < routes.size(); ++r)
        if (!routes[r].isEmpty())
            for (const QString& name : place)
                for (const QString& reached : routes[r].last())
                    if (sameNarrator(reached, name))
                        return true;
    return false;
}

// The chains of `text`; with `fromPageHead`, also one the page before began.
static QList<Chain> readChains(const QString& text, bool fromPageHead)
{
    const Patterns& p = patterns();
    const QString t = stripTashkeel(text);
    if (!mayOpenChain(t))
        return {};
    const auto opener = PyRegex::firstMatch(p.opener, t);
    if (!opener)
        return {};
    const QString s = t.mid(fromPageHead ? std::min(opener->start, carriedOverFrom(t)) : opener->start);
    const QList<PyRegex::Range> linkWords = PyRegex::allMatches(p.link, s);
    const PageNames names(tokens(PyRegex::sub(p.honor, QStringLiteral(" "), s)));
    const auto linkWord = [&](qsizetype k) {
        return k >= 0 && k < linkWords.size() ? QStringView(s).mid(linkWords[k].start, linkWords[k].length)
                                              : QStringView();
    };

    QList<Chain> result;
    QList<Chain> routes; // the routes of the chain being read
    bool open = true;    // inside a chain
    bool shared = false; // the routes have met: a name goes to each
    // The route read before a «وعن» route, in `result`, and whether the
    // «وعن» stood beside its last teacher (-1: none).
    qsizetype andAfter = -1;
    bool andBeside = false;
    const auto finish = [&] {
        if (andAfter >= 0 && routes.size() == 1)
            joinAndRoute(result[andAfter], routes, andBeside);
        andAfter = -1;
        carryStoppedRoutes(routes);
        for (Chain& route : routes)
            if (!route.isEmpty())
                result.append(std::move(route));
        routes.clear();
        shared = false;
    };
    routes.append(Chain());
    for (qsizetype k = -1; k < linkWords.size(); ++k) {
        const AndFrom andFromHere = k >= 0 ? andFrom(s, linkWord(k), linkWords[k].start) : AndFrom::no;
        // «… وعن سهيل»: a route of its own until it is seen where it joins.
        const bool andRoute = open && !shared && routes.size() == 1 && !routes.last().isEmpty()
            && (andFromHere == AndFrom::ownRoute || andFromHere == AndFrom::besides);
        if (andRoute || (open && andFromHere == AndFrom::ownRoute)) {
            finish();
            routes.append(Chain());
            if (andRoute) {
                andAfter = result.size() - 1;
                andBeside = andFromHere == AndFrom::besides;
            }
        }
        if (!open) {
            if ((!restartsChain(linkWord(k)) || saidWithinReport(s, linkWords[k].start))
                && !opensReportWithAnd(s, linkWords, k))
                continue;
            open = true;
            routes.append(Chain());
            const QString speaker =
                namedBefore(result, routeSpeaker(s, k > 0 ? linkWords[k - 1].end() : 0, linkWords[k].start));
            if (!speaker.isEmpty())
                routes.last().append({speaker});
        }
        const qsizetype from = k < 0 ? 0 : linkWords[k].end();
        const qsizetype to = k + 1 < linkWords.size() ? linkWords[k + 1].start : s.size();
        const Piece piece = readPiece(s.mid(from, to - from), linkWord(k + 1), restartsChain(linkWord(k + 1)),
                                      !linkWord(k).trimmed().endsWith(u"\u0639\u0646"), names);
        bool besides = andFromHere == AndFrom::besides && !routes.last().isEmpty();
        for (const Link& place : piece.places) {
            if (std::exchange(besides, false)) {
                for (Chain& route : routes)
                    if (!route.isEmpty() && (shared || &route == &routes.last()))
                        route.last() += place;
                continue;
            }
            if (shared) {
                // A route that reached this narrator already does not reach him twice.
                for (Chain& route : routes)
                    if (route.isEmpty() || route.last().size() != 1 || place.size() != 1
                        || !sameNarrator(route.last().first(), place.first()))
                        route.append(place);
                continue;
            }
            shared = reachesAStop(routes, place);
            routes.last().append(place);
        }
        if (piece.joint && routes.size() > 1)
            shared = true;
        if (piece.textBegins || piece.reportEnds) {
            finish();
            open = false;
        } else if (piece.tahwil) {
            routes.append(Chain());
            shared = false;
        } else if (piece.unnamed) {
            finish();
            routes.append(Chain());
        }
    }
    finish();
    return result;
}

QList<Chain> chains(const QString& text)
{
    return readChains(text, true);
}

QList<Chain> filedChains(const QString& text)
{
    return filedChains(chains(text));
}

QList<Chain> filedChains(QList<Chain> read)
{
    QStringList onPage;
    QSet<QString> seen;
    for (const Chain& route : read)
        for (const Link& place : route)
            for (const QString& name : place)
                if (!isKinWord(name) && !seen.contains(name)) {
                    seen.insert(name);
                    onPage.append(name);
                }
    for (Chain& route : read)
        nameKin(route, onPage);
    return read;
}

QStringList chain(const QString& text)
{
    // The first chain the page's text opens, not the end of one the page
    // before began.
    const QList<Chain> all = readChains(text, false);
    QStringList names;
    if (!all.isEmpty())
        for (const Link& link : all.first())
            names += link;
    return names;
}

QList<std::pair<QString, QString>> edges(const QString& text)
{
    QList<std::pair<QString, QString>> pairs;
    QSet<std::pair<QString, QString>> seen;
    for (const Chain& route : filedChains(text))
        for (qsizetype i = 0; i + 1 < route.size(); ++i)
            for (const QString& student : route[i])
                for (const QString& teacher : route[i + 1])
                    if (student != teacher && !seen.contains({student, teacher})) {
                        seen.insert({student, teacher});
                        pairs.append({student, teacher});
                    }
    return pairs;
}

bool isLinkWord(const QString& word)
{
    const QString f = fold(stripTashkeel(word));
    return isLinkVerb(f) || isGlue(f) || f == u"عن";
}

} // namespace quorvel::Isnad
