#include "scholar/IsnadWords.h"

#include "core/Py.h"

// Routes opened by «وعن»: beside the teacher before them, of their own, or
// joined to the student of the route they run beside.

namespace quorvel::Isnad::detail {

AndFrom andFrom(const QString& s, QStringView linkWord, qsizetype at)
{
    if (fold(linkWord.trimmed().toString()) != u"\u0648\u0639\u0646")
        return AndFrom::no;
    qsizetype j = at - 1;
    while (j >= 0 && s[j].isSpace() && s[j] != u'\n')
        --j;
    return j < 0 || s[j] == u'.' || s[j] == u'\n' ? AndFrom::ownRoute : AndFrom::besides;
}

// Whether the bare «عن» at `at` opens a line, after a report's number at most
// («12 - عن …», «(3) عن …»).
static bool opensLine(const QString& s, qsizetype at)
{
    qsizetype j = at - 1;
    while (j >= 0 && s[j] != u'\n' && (s[j].isSpace() || s[j].isDigit() || s[j] == u'-' || s[j] == u'(' || s[j] == u')'))
        --j;
    return j < 0 || s[j] == u'\n';
}

bool opensReportWithAnd(const QString& s, const QList<PyRegex::Range>& links, qsizetype k)
{
    if (k < 0 || k + 1 >= links.size())
        return false;
    const QStringView word = QStringView(s).mid(links[k].start, links[k].length);
    const bool bare = word.trimmed() == u"\u0639\u0646" && opensLine(s, links[k].start);
    if (!bare && andFrom(s, word, links[k].start) != AndFrom::ownRoute)
        return false;
    const QString next = fold(QStringView(s).mid(links[k + 1].start, links[k + 1].length).trimmed().toString());
    return next == u"\u0639\u0646" && !QStringView(s).mid(links[k].end(), links[k + 1].start - links[k].end()).contains(u'\n');
}

bool sameNarrator(const QString& a, const QString& b)
{
    const auto key = [](const QString& name) {
        QStringList words;
        for (const QString& w : Py::split(fold(name)))
            if (w != u"بن" && w != u"ابن")
                words.append(w);
        return words;
    };
    return key(a) == key(b);
}

namespace {

// «عن العلاء عن أبيه عن أبي هريرة وعن سهيل عن أبيه عن أبي هريرة»: a
// route that ends where `earlier` reached a narrator heard as many places
// before that end as the route has: its student stands one place further
// back. Empty when the route meets `earlier` no such way.
Chain joinedAtItsEnd(const Chain& earlier, const Chain& route)
{
    if (route.size() < 2)
        return {};
    for (qsizetype p = earlier.size() - 1; p >= 0; --p)
        for (const QString& reached : earlier[p])
            for (const QString& name : route.last())
                if (sameNarrator(reached, name)) {
                    const qsizetype student = p - route.size();
                    return student < 0 ? Chain() : earlier.first(student + 1) + route;
                }
    return {};
}

} // namespace

void joinAndRoute(Chain& earlier, QList<Chain>& routes, bool beside)
{
    if (routes.size() != 1)
        return;
    if (const Chain joined = joinedAtItsEnd(earlier, routes.first()); !joined.isEmpty()) {
        routes.first() = joined;
    } else if (beside && !routes.first().isEmpty()) {
        earlier.last() += routes.first().first();
        earlier += routes.first().mid(1);
        routes.clear();
    }
}

} // namespace quorvel::Isnad::detail
