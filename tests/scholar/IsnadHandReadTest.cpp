#include "scholar/Isnad.h"

#include "support/CorpusText.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <iostream>

using namespace quorvel;

namespace {

// A name as a reader compares two spellings of it: marks, hamza seats, final
// ya and ta marbuta aside, without «بن/ابن/بنت» and the gloss words, a
// kunya's case aside (but «أبي بن كعب» is a name, no kunya).
QString key(const QString& name)
{
    QString t = Isnad::stripTashkeel(name);
    for (QChar& c : t) {
        if (c == u'أ' || c == u'إ' || c == u'آ' || c == u'\u0671')
            c = u'ا';
        else if (c == u'ى' || c == u'ئ')
            c = u'ي';
        else if (c == u'ؤ')
            c = u'و';
        else if (c == u'ة')
            c = u'ه';
    }
    t.remove(u'ء');
    static const QRegularExpression letters(QStringLiteral("[\\x{0621}-\\x{064A}]+"));
    QStringList words;
    for (auto it = letters.globalMatch(t); it.hasNext();)
        words.append(it.next().captured());
    QStringList out;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& w = words[i];
        if (w == u"بن" || w == u"ابن" || w == u"بنت" || w == u"هو" || w == u"وهو" || w == u"يعني")
            continue;
        const bool named = i + 1 < words.size() && (words[i + 1] == u"بن" || words[i + 1] == u"ابن");
        out.append((w == u"ابي" || w == u"ابا") && !named ? QStringLiteral(u"ابو") : w);
    }
    return out.join(u' ');
}

struct HandPage
{
    std::int64_t id = 0;
    QList<QList<QStringList>> chains; // places, each its narrators, each its spellings (keys)
    QSet<QString> also;               // keys
    bool heldOut = false;             // kept out of tuning, scored apart
};

QList<HandPage> handPages(const QString& name = QStringLiteral("isnad/hand-read.txt"))
{
    QFile file(test::dataPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<HandPage> pages;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u"page "))
            pages.append(HandPage{line.mid(5).toLongLong(), {}, {}});
        if (pages.isEmpty())
            continue;
        if (line == u"held out")
            pages.last().heldOut = true;
        if (line.startsWith(u"chain ")) {
            QList<QStringList> chain;
            for (const QString& place : line.mid(6).split(QStringLiteral(" > ")))
                for (const QString& narrator : place.split(u'|')) {
                    QStringList spellings;
                    for (const QString& spelling : narrator.split(u'/'))
                        spellings.append(key(spelling));
                    if (narrator == place.split(u'|').first())
                        chain.append(QStringList());
                    chain.last().append(spellings.join(u'/'));
                }
            pages.last().chains.append(chain);
        } else if (line.startsWith(u"also ")) {
            for (const QString& name : line.mid(5).split(QString::fromUtf8("، ")))
                pages.last().also.insert(key(name));
        }
    }
    return pages;
}

QString pageText(std::int64_t id)
{
    static QHash<int, QStringList> books;
    const int book = int(id / 100000);
    auto it = books.find(book);
    if (it == books.end())
        it = books.insert(book, test::bookPages(QStringLiteral("../../samples/books/%1.json").arg(book, 3, 10, QLatin1Char('0'))));
    const qsizetype seq = id % 100000;
    return seq >= 1 && seq <= it->size() ? (*it)[seq - 1] : QString();
}

bool spelledAs(const QString& spellings, const QString& name) { return spellings.split(u'/').contains(name); }

bool samePlace(const QStringList& hand, const QStringList& app)
{
    return hand.size() == app.size() && std::all_of(hand.cbegin(), hand.cend(), [&](const QString& spellings) {
               return std::any_of(app.cbegin(), app.cend(), [&](const QString& n) { return spelledAs(spellings, n); });
           });
}

// Whether the program's route is the reader's, place by place, with at most
// persons who may be listed («also», the Prophet) before or after it.
bool sameRoute(const QList<QStringList>& hand, const QList<QStringList>& app, const QSet<QString>& aside)
{
    const auto asideOnly = [&](const QStringList& place) {
        return std::all_of(place.cbegin(), place.cend(), [&](const QString& n) { return aside.contains(n); });
    };
    for (qsizetype from = 0; from + hand.size() <= app.size(); ++from) {
        bool same = true;
        for (qsizetype i = 0; i < hand.size() && same; ++i)
            same = samePlace(hand[i], app[from + i]);
        for (qsizetype i = 0; i < app.size() && same; ++i)
            same = (i >= from && i < from + hand.size()) || asideOnly(app[i]);
        if (same)
            return true;
    }
    return false;
}

// What the program gets wrong on one page; empty when it reads it right.
QStringList misreadings(const HandPage& page)
{
    const QSet<QString> aside = page.also + QSet<QString>{key(QStringLiteral(u"النبي")), key(QStringLiteral(u"رسول الله"))};
    QList<QList<QStringList>> read;
    QSet<QString> known = aside;
    for (const auto& chain : page.chains)
        for (const QStringList& place : chain)
            for (const QString& spellings : place)
                for (const QString& spelling : spellings.split(u'/'))
                    known.insert(spelling);
    QStringList wrong;
    for (const Isnad::Chain& route : Isnad::filedChains(pageText(page.id))) {
        QList<QStringList> places;
        for (const Isnad::Link& link : route) {
            QStringList place;
            for (const QString& name : link) {
                const QString k = key(name);
                place.append(k);
                if (!known.contains(k))
                    wrong.append(QStringLiteral("not a narrator here: ") + name);
            }
            places.append(place);
        }
        read.append(places);
    }
    const auto shown = [](const QList<QStringList>& route) {
        QStringList places;
        for (const QStringList& place : route)
            places.append(place.join(u'|'));
        return places.join(QStringLiteral(" > "));
    };
    bool missed = false;
    for (const auto& chain : page.chains)
        if (std::none_of(read.cbegin(), read.cend(), [&](const auto& r) { return sameRoute(chain, r, aside); })) {
            missed = true;
            QStringList places;
            for (const QStringList& place : chain)
                places.append(place.join(u'|'));
            wrong.append(QStringLiteral("route not read: ") + places.join(QStringLiteral(" > ")));
        }
    if (missed)
        for (const auto& r : read)
            wrong.append(QStringLiteral("  read: ") + shown(r));
    return wrong;
}

} // namespace

// Pages the program has never been tuned to, read by hand first: all but
// one must be read as the reader read them.
TEST(IsnadHandRead, pagesReadAsAReaderReadThem)
{
    const QList<HandPage> pages = handPages();
    ASSERT_EQ(pages.size(), 25);
    int right = 0;
    for (const HandPage& page : pages) {
        ASSERT_FALSE(pageText(page.id).isEmpty()) << page.id;
        const QStringList wrong = misreadings(page);
        right += wrong.isEmpty();
        for (const QString& what : wrong)
            std::cout << page.id << ": " << what.toStdString() << '\n';
    }
    std::cout << "read right: " << right << '/' << pages.size() << '\n';
    EXPECT_GE(right, 24);
}

// More pages, none read by an earlier test, among them the tafsir book's
// «قوله عز وجل» and pages of narrators who heard together; the held-out
// third is scored apart.
TEST(IsnadHandRead, unseenPagesReadAsAReaderReadThem)
{
    const QList<HandPage> pages = handPages(QStringLiteral("isnad/unseen-pages.txt"));
    ASSERT_EQ(pages.size(), 25);
    int right = 0, heldOut = 0, heldOutRight = 0;
    for (const HandPage& page : pages) {
        ASSERT_FALSE(pageText(page.id).isEmpty()) << page.id;
        const QStringList wrong = misreadings(page);
        right += wrong.isEmpty();
        heldOut += page.heldOut;
        heldOutRight += page.heldOut && wrong.isEmpty();
        for (const QString& what : wrong)
            std::cout << page.id << (page.heldOut ? " (held out)" : "") << ": " << what.toStdString() << '\n';
    }
    std::cout << "read right: " << right - heldOutRight << '/' << pages.size() - heldOut << " tuned, " << heldOutRight
              << '/' << heldOut << " held out\n";
    // The pages read right today may not go wrong; the aim is all but one.
    EXPECT_GE(right, 19);
}
