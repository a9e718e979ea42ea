// The reports on twenty words of law and ethics against the sample pages
// read by hand (data/report-words.tsv): a report finds the pages that hold
// the word in any of its forms and none that only share its letters.

#include "assistant/AIAssistant.h"
#include "assistant/Reports.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "ui/reader/ReaderTestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

struct ReadWord {
    QString word;
    bool heldOut = false;
    QList<std::int64_t> holds;   // page ids
    QList<std::int64_t> letters; // page ids
    int unknown = 0;             // pages the store lacks (a book not installed)
};

// The words of the data file with their pages as the store's page ids.
QList<ReadWord> readWords(SQLiteDB& db)
{
    QFile file(QStringLiteral(QUORVEL_TEST_DATA "/report-words.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<ReadWord> words;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QStringList cols = line.split(u'\t');
        if (line.startsWith(u'#') || cols.size() != 4)
            continue;
        if (words.isEmpty() || words.last().word != cols[0])
            words.append({cols[0], cols[1] == QStringLiteral("held"), {}, {}, 0});
        ReadWord& w = words.last();
        QList<std::int64_t>* into = cols[2] == QStringLiteral("holds") ? &w.holds
            : cols[2] == QStringLiteral("letters")                     ? &w.letters
                                                                       : nullptr;
        if (!into)
            continue;
        for (const QString& place : cols[3].split(u' ', Qt::SkipEmptyParts)) {
            const QStringList bookSeq = place.split(u':');
            const QList<Statement::Row> rows = db.rows(QStringLiteral("SELECT id FROM pages WHERE book_id=? AND seq=?"),
                                                       {bookSeq.value(0).toLongLong(), bookSeq.value(1).toLongLong()});
            if (rows.isEmpty() || !rows[0].integer(0))
                ++w.unknown;
            else
                into->append(*rows[0].integer(0));
        }
    }
    return words;
}

QSet<std::int64_t> matching(SQLiteDB& db, const QString& match)
{
    QSet<std::int64_t> pages;
    for (const Statement::Row& row : db.rows(QStringLiteral("SELECT page_id FROM pages_fts WHERE pages_fts MATCH ?"), {match}))
        pages.insert(row.integer(0).value_or(0));
    return pages;
}

struct Tally {
    int holds = 0;
    int found = 0;
    int letters = 0;
    int lettersFound = 0;
    double share() const { return holds == 0 ? 0.0 : double(found) / double(holds); }
};

// The first count of pages a report's summary gives, in Latin digits.
std::optional<int> firstPageCount(const QString& text)
{
    static const QRegularExpression count(QStringLiteral("في (\\d+) صفح"));
    const QRegularExpressionMatch m = count.match(text);
    return m.hasMatch() ? std::optional<int>(m.captured(1).toInt()) : std::nullopt;
}

// How many books the first count of a report's summary names: its editions
// when it counts works in several («من ٤ كتب (في ٥ طبعات)»), else its works.
std::optional<int> bookCount(const QString& text)
{
    static const QRegularExpression count(
        QStringLiteral("صفح\\S* من (\\d+ \\S+|كتاب واحد|كتابين)(?: \\(في (\\d+ \\S+|طبعتين)\\))?"));
    const QRegularExpressionMatch m = count.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QString said = m.captured(2).isEmpty() ? m.captured(1) : m.captured(2);
    if (said == QStringLiteral("كتاب واحد"))
        return 1;
    if (said == QStringLiteral("كتابين") || said == QStringLiteral("طبعتين"))
        return 2;
    return said.section(u' ', 0, 0).toInt();
}

} // namespace

// Views, history and term read the pages their search reaches (the stems
// behind the clitics) and keep those the word rule accepts; sources counts
// the pages of every form of the word. Each must find 98% of the pages that
// hold the word and none that only share its letters, on the words the rules
// were tuned on and on those kept out of the tuning alike.
TEST(ReportWords, reportsFindTheWordInAllItsFormsAndNoPageThatOnlySharesItsLetters)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    test::ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    Settings::setIndicDigits(false);
    const Library& lib = *sample.lib;
    const std::shared_ptr<SQLiteDB> db = lib.newSearchConnection();
    ASSERT_TRUE(db);
    const QList<ReadWord> words = readWords(*db);
    ASSERT_EQ(words.size(), 20);

    Tally reports[2];
    Tally sources[2];
    for (const ReadWord& w : words) {
        SCOPED_TRACE(w.word.toStdString());
        // What views, history and term can quote: a page their search
        // reaches that the word rule keeps.
        const QSet<std::int64_t> reached = matching(*db, AIAssistant::termGroups(AIAssistant::terms(w.word), AIAssistant::TermReach::everyForm).join(QStringLiteral(" AND ")));
        const auto quotable = [&](std::int64_t pageId) {
            const std::optional<Page> page = lib.page(pageId);
            Passage p;
            p.text = page ? page->content : QString();
            return reached.contains(pageId) && !Reports::holdingWords(w.word, {p}).isEmpty();
        };
        // What sources counts, and the count its summary gives of them.
        const QSet<std::int64_t> counted = matching(*db, Reports::wordGroups(Reports::keys(w.word)).join(QStringLiteral(" AND ")));
        const Reports::Built built = Reports::sources(lib, w.word, std::nullopt);
        EXPECT_EQ(firstPageCount(built.text), std::optional<int>(int(counted.size()))) << built.text.toStdString();
        QSet<std::int64_t> countedBooks;
        for (const std::int64_t page : counted)
            countedBooks.insert(lib.page(page) ? lib.page(page)->bookId : 0);
        EXPECT_EQ(bookCount(built.text), std::optional<int>(int(countedBooks.size()))) << built.text.toStdString();

        Tally& r = reports[w.heldOut ? 1 : 0];
        Tally& s = sources[w.heldOut ? 1 : 0];
        for (const std::int64_t page : w.holds) {
            ++r.holds;
            ++s.holds;
            const bool kept = quotable(page);
            r.found += kept ? 1 : 0;
            s.found += counted.contains(page) ? 1 : 0;
        }
        for (const std::int64_t page : w.letters) {
            ++r.letters;
            ++s.letters;
            const bool kept = quotable(page);
            EXPECT_FALSE(kept) << "page " << page;
            EXPECT_FALSE(counted.contains(page)) << "page " << page;
            r.lettersFound += kept ? 1 : 0;
            s.lettersFound += counted.contains(page) ? 1 : 0;
        }
        // Every page a report quotes holds the word or its form.
        for (const Reports::Built& b : {Reports::views(lib, w.word, std::nullopt), Reports::history(lib, w.word, std::nullopt),
                                        Reports::term(lib, w.word, std::nullopt), built}) {
            for (const Passage& p : b.passages)
                EXPECT_FALSE(w.letters.contains(p.pageId)) << "quoted page " << p.pageId;
        }
    }
    for (int part = 0; part < 2; ++part) {
        const char* name = part == 0 ? "tuned" : "held out";
        std::printf("%s: reports %d of %d pages (%.1f%%), %d of %d letters-only; sources %d of %d (%.1f%%), %d of %d\n",
                    name, reports[part].found, reports[part].holds, 100 * reports[part].share(), reports[part].lettersFound,
                    reports[part].letters, sources[part].found, sources[part].holds, 100 * sources[part].share(),
                    sources[part].lettersFound, sources[part].letters);
        EXPECT_GE(reports[part].share(), 0.98) << name;
        EXPECT_GE(sources[part].share(), 0.98) << name;
    }
}
