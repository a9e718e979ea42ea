#include "ui/reader/ReaderTestSupport.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "ui/reader/Quran.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

QString dataPath(const char* name)
{
    return QStringLiteral(QUORVEL_TEST_DATA "/quran/") + QString::fromLatin1(name);
}

// A library of the given books (catalogue entries), built in `dir`.
std::shared_ptr<Library> libraryOf(const QTemporaryDir& dir, const Json::Value& books, const QString& name)
{
    Json::Value catalog = Json::Value::object();
    Json::Value category = Json::Value::object();
    category["id"] = 1;
    category["name"] = "القرآن الكريم";
    catalog["categories"] = Json::Value::array({category});
    catalog["authors"] = Json::Value::array();
    catalog["books"] = books;
    const QString catalogPath = dir.filePath(name + QStringLiteral(".json"));
    if (!test::FixtureLibrary::writeJson(catalogPath, catalog))
        return nullptr;
    const QString path = test::FixtureLibrary::build(dir.path(), catalogPath, name + QStringLiteral(".db"));
    if (path.isEmpty())
        return nullptr;
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(name + QStringLiteral("-user.db")));
    return Library::open(path);
}

Json::Value bookEntry(std::int64_t id, const QString& source, const QString& file,
                      const QString& title = QStringLiteral(u"القرآن الكريم"))
{
    Json::Value book = Json::Value::object();
    book["id"] = id;
    book["title"] = Json::utf8(title);
    book["category_id"] = 1;
    if (!source.isEmpty())
        book["source_uri"] = Json::utf8(source);
    book["file"] = Json::utf8(file);
    return book;
}

// A book of one page per sura whose verses are made up: `counts[s-1]` verses
// for sura s (none for a zero), in the order of `order` (suras 1-114 when
// empty), "s|a|كلمة" lines.
QString syntheticBook(const QTemporaryDir& dir, const QString& name, const QList<int>& counts,
                      const QList<int>& order = {})
{
    QList<int> suras = order;
    if (suras.isEmpty())
        for (int s = 1; s <= QuranText::suraCount; ++s)
            suras.append(s);
    Json::Value pages = Json::Value::array();
    int seq = 0;
    for (const int s : suras) {
        QStringList lines;
        for (int a = 1; a <= counts.value(s - 1); ++a)
            lines.append(QStringLiteral("%1|%2|كلمة %2").arg(s).arg(a));
        if (lines.isEmpty())
            continue;
        Json::Value page = Json::Value::object();
        page["seq"] = ++seq;
        page["content"] = Json::utf8(lines.join(u'\n'));
        pages.push_back(page);
    }
    Json::Value book = Json::Value::object();
    book["pages"] = pages;
    book["toc"] = Json::Value::array();
    const QString path = dir.filePath(name + QStringLiteral(".json"));
    EXPECT_TRUE(test::FixtureLibrary::writeJson(path, book));
    return path;
}

// 114 suras of `each` verses, the last one adjusted to make `total`.
QList<int> countsSumming(int total, int each = 52)
{
    QList<int> counts(QuranText::suraCount, each);
    counts.last() = total - each * (QuranText::suraCount - 1);
    return counts;
}

class QuranTextTest : public ::testing::Test {
protected:
    QuranTextTest() : prefs({Settings::indicDigitsKey}) {}

    // The real text paged as the Mushaf, built once for the suite.
    static std::shared_ptr<Library> mushafLibrary()
    {
        static QTemporaryDir dir;
        static const std::shared_ptr<Library> lib = [] {
            Json::Value book = bookEntry(100, QStringLiteral("Tanzil Quran Text"), dataPath("quran-uthmani.txt"));
            book["mushaf_pages"] = Json::utf8(dataPath("mushaf-pages.txt"));
            return libraryOf(dir, Json::Value::array({book}), QStringLiteral("mushaf"));
        }();
        return lib;
    }

    test::PreferenceGuard prefs;
    QTemporaryDir dir;
};

} // namespace

TEST_F(QuranTextTest, realTextCountsSurasJuzAndCitations)
{
    auto lib = mushafLibrary();
    ASSERT_TRUE(lib);
    const auto q = QuranText::load(*lib);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->ayat.size(), 6236);
    EXPECT_EQ(q->count(2), 286);
    EXPECT_EQ(q->count(9), 129);
    EXPECT_EQ(q->count(26), 227);
    EXPECT_EQ(q->count(114), 6);
    EXPECT_EQ(q->count(1), 7);

    EXPECT_EQ(q->juzOf(q->index(2, 141)), 1);
    EXPECT_EQ(q->juzOf(q->index(2, 142)), 2);
    EXPECT_EQ(q->juzOf(q->index(114, 6)), 30);
    EXPECT_EQ(q->juzOf(q->index(78, 1)), 30);
    EXPECT_EQ(q->juzOf(q->index(77, 50)), 29);

    // Verse numbers are clamped into the sura.
    EXPECT_EQ(q->index(2, 0), q->index(2, 1));
    EXPECT_EQ(q->ayat[q->index(2, 0)].sura, 2);
    EXPECT_EQ(q->ayat[q->index(2, 0)].n, 1);
    EXPECT_EQ(q->ayat[q->index(2, 9999)].n, 286);
    EXPECT_EQ(q->ayat[q->index(2, 9999)].sura, 2);
    EXPECT_EQ(q->index(114, 9999), 6235);

    const int ayatAlKursi = q->index(2, 255);
    EXPECT_EQ(q->cite(ayatAlKursi), QStringLiteral(u"[البقرة: ٢٥٥]"));
    EXPECT_EQ(q->cite(ayatAlKursi, ayatAlKursi), q->cite(ayatAlKursi));
    EXPECT_EQ(q->cite(q->index(2, 3), q->index(2, 5)), QStringLiteral(u"[البقرة: ٣-٥]"));
    // A range into the next sura cites its first verse alone.
    EXPECT_EQ(q->cite(q->index(1, 7), q->index(2, 1)), QStringLiteral(u"[الفاتحة: ٧]"));
    Settings::setIndicDigits(false);
    EXPECT_EQ(q->cite(ayatAlKursi), QStringLiteral(u"[البقرة: 255]"));

    // The first verse of sura 1 is the basmala; no other sura's first verse
    // carries it, and verse 27:30 keeps the one inside it.
    EXPECT_TRUE(Arabic::normalize(q->ayat[0].text).startsWith(QuranText::basmala()));
    EXPECT_FALSE(Arabic::normalize(q->ayat[q->index(2, 1)].text).contains(QStringLiteral(u"بسم")));
    EXPECT_TRUE(Arabic::normalize(q->ayat[q->index(27, 30)].text).contains(QuranText::basmala()));
}

TEST_F(QuranTextTest, oneBookIsBothTheTextAndTheMushafPages)
{
    auto lib = mushafLibrary();
    ASSERT_TRUE(lib);
    const auto q = QuranText::load(*lib);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->textBook, 100);
    ASSERT_EQ(q->pagesBook, std::optional<std::int64_t>(100));
    // The first verse of each page from the page list; 2:255 is on page 42.
    EXPECT_EQ(q->ayat[q->index(1, 1)].page, 1);
    EXPECT_EQ(q->ayat[q->index(2, 1)].page, 2);
    EXPECT_EQ(q->ayat[q->index(2, 252)].page, 41);
    EXPECT_EQ(q->ayat[q->index(2, 253)].page, 42);
    EXPECT_EQ(q->ayat[q->index(2, 255)].page, 42);
    EXPECT_EQ(q->ayat[q->index(114, 6)].page, 604);
    // The copyright page comes first, then the Mushaf pages in order.
    EXPECT_EQ(q->pageSeq.value(42), 43);
    EXPECT_EQ(q->pageSeq.value(604), 605);
    EXPECT_EQ(lib->seqRange(100).second, 605);
    // The contents point every sura at the page it starts on.
    const auto toc = lib->tocEntries(100);
    ASSERT_EQ(toc.size(), 115);
    EXPECT_EQ(toc[2]->title, QStringLiteral(u"سورة البقرة"));
    EXPECT_EQ(toc[2]->seq, 3);
    EXPECT_EQ(lib->page(100, 43)->num, 42);
    EXPECT_FALSE(lib->page(100, 1)->num);
}

TEST_F(QuranTextTest, aBookPagedBySuraHasNoPagesBookAndKeepsItsOwnPages)
{
    auto lib = libraryOf(dir, Json::Value::array({bookEntry(100, QStringLiteral("Tanzil"), dataPath("quran-uthmani.txt"))}),
                         QStringLiteral("bysura"));
    ASSERT_TRUE(lib);
    const auto q = QuranText::load(*lib);
    ASSERT_TRUE(q);
    EXPECT_FALSE(q->pagesBook);
    EXPECT_TRUE(q->pageSeq.isEmpty());
    // Copyright block, then one page per sura: sura 2 on the third page.
    EXPECT_EQ(q->ayat[q->index(2, 255)].page, 3);
    EXPECT_EQ(q->ayat[q->index(114, 1)].page, 115);
}

TEST_F(QuranTextTest, aTextNeedsSixThousandVersesAndEverySuraInOneRun)
{
    const QString six = syntheticBook(dir, QStringLiteral("six"), countsSumming(6000));
    const QString short_ = syntheticBook(dir, QStringLiteral("short"), countsSumming(5999));
    // 6,000 verses without sura 113.
    QList<int> gap = countsSumming(6000);
    gap[112] = 0;
    gap[113] += 52;
    const QString lacking = syntheticBook(dir, QStringLiteral("lacking"), gap);
    // Sura 5 in two runs: its verses split around sura 6.
    QList<int> order;
    for (int s = 1; s <= QuranText::suraCount; ++s)
        order.append(s);
    order.insert(6, 5);
    const QString split = syntheticBook(dir, QStringLiteral("split"), countsSumming(6000), order);

    auto loads = [&](const QString& file, const QString& name) {
        auto lib = libraryOf(dir, Json::Value::array({bookEntry(1, QString(), file)}), name);
        EXPECT_TRUE(lib) << name.toStdString();
        return lib ? QuranText::load(*lib) : nullptr;
    };
    const auto q = loads(six, QStringLiteral("l6000"));
    ASSERT_TRUE(q);
    EXPECT_EQ(q->ayat.size(), 6000);
    EXPECT_EQ(q->count(114), 6000 - 52 * 113);
    EXPECT_FALSE(loads(short_, QStringLiteral("l5999")));
    EXPECT_FALSE(loads(lacking, QStringLiteral("llacking")));
    // The split sura repeats its verses, so the text counts 6,052 and still
    // is refused.
    EXPECT_FALSE(loads(split, QStringLiteral("lsplit")));

    // A complete text never sends an index outside its verses.
    for (int s : {0, 1, 113, 114, 115})
        for (int a : {-5, 0, 1, 9999}) {
            const int i = q->index(s, a);
            EXPECT_GE(i, 0);
            EXPECT_LT(i, q->ayat.size());
        }
    EXPECT_EQ(q->juzOf(-3), 1);
    EXPECT_EQ(q->juzOf(1'000'000), 30);
    EXPECT_FALSE(q->cite(1'000'000).isEmpty());
}

TEST_F(QuranTextTest, theTextBookIsRankedBySourceAndNotByCatalogueOrder)
{
    const QString file = syntheticBook(dir, QStringLiteral("rankedbook"), countsSumming(6000));
    auto lib = libraryOf(dir,
                         Json::Value::array({bookEntry(1, QStringLiteral("QuranAnalysis corpus"), file),
                                             bookEntry(2, QStringLiteral("Tanzil simple"), file),
                                             bookEntry(3, QStringLiteral("Tanzil clean"), file),
                                             bookEntry(4, QStringLiteral("Quran.Mushaf.Madina"), file, QStringLiteral(u"مصحف")),
                                             bookEntry(5, QString(), file, QStringLiteral(u"كتاب آخر"))}),
                         QStringLiteral("ranked"));
    ASSERT_TRUE(lib);
    const auto q = QuranText::load(*lib);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->textBook, 2);
    EXPECT_FALSE(q->pagesBook); // 114 pages: no Mushaf numbering
}

TEST_F(QuranTextTest, parseReadsTheFourLineShapes)
{
    Json::Value page = Json::Value::object();
    page["seq"] = 1;
    page["page_num"] = 7;
    page["content"] = Json::utf8(QStringLiteral(u"(1) قبل كل سورة\n"
                                                u"2 سورة البقرة\n"
                                                u"3 4\n"
                                                u"(5) ذلك الكتاب\n"
                                                u"لا ريب فيه (٦)\n"
                                                u"115|1|خارج\n"
                                                u"  3|1|بِسْمِ اللَّهِ الرَّحْمَنِ الرَّحِيمِ الم  \n"
                                                u"1|1|بسم الله الرحمن الرحيم"));
    Json::Value book = Json::Value::object();
    book["pages"] = Json::Value::array({page});
    book["toc"] = Json::Value::array();
    const QString file = dir.filePath(QStringLiteral("shapes.json"));
    ASSERT_TRUE(test::FixtureLibrary::writeJson(file, book));
    auto lib = libraryOf(dir, Json::Value::array({bookEntry(1, QString(), file)}), QStringLiteral("shapelib"));
    ASSERT_TRUE(lib);
    const QList<Ayah> ayat = QuranText::parse(*lib, 1);
    ASSERT_EQ(ayat.size(), 4);
    // The two numbers were continuation text, carried into verse 5.
    EXPECT_EQ(ayat[0].sura, 2);
    EXPECT_EQ(ayat[0].n, 5);
    EXPECT_EQ(ayat[0].text, QStringLiteral(u"3 4  ذلك الكتاب"));
    EXPECT_EQ(ayat[0].page, 7);
    EXPECT_EQ(ayat[1].n, 6);
    EXPECT_EQ(ayat[1].text, QStringLiteral(u"لا ريب فيه"));
    // The vowelled basmala leaves the first verse of sura 3, not of sura 1.
    EXPECT_EQ(ayat[2].sura, 3);
    EXPECT_EQ(ayat[2].text, QStringLiteral(u"الم"));
    EXPECT_EQ(ayat[3].text, QStringLiteral(u"بسم الله الرحمن الرحيم"));
    EXPECT_EQ(ayat[3].norm, Arabic::normalize(ayat[3].text, true));
}

TEST_F(QuranTextTest, uthmaniMapTakesWellFormedLinesAndDropsTheBasmala)
{
    const QHash<int, QString> real = QuranText::readUthmani(dataPath("quran-uthmani.txt"));
    EXPECT_EQ(real.size(), 6236);
    EXPECT_TRUE(QuranText::skel(real.value(QuranText::key(2, 255)))
                    .startsWith(QuranText::skel(QStringLiteral(u"الله لا إله إلا هو الحي القيوم"))));

    const QString path = dir.filePath(QStringLiteral("uthmani.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(u"# 1|1|تعليق\n"
                              u"2|1|بِسْمِ ٱللَّهِ ٱلرَّحْمَٰنِ ٱلرَّحِيمِ الٓمٓ\n"
                              u" 2|2|بمسافة\n"
                              u"٢|3|بأرقام عربية\n"
                              u"2|4|أولى\n"
                              u"2|4| ثانية \n"
                              u"2|x|خطأ\n")
                   .toUtf8());
    file.close();
    const QHash<int, QString> map = QuranText::readUthmani(path);
    EXPECT_EQ(map.size(), 2);
    EXPECT_EQ(map.value(2001), QStringLiteral(u"الٓمٓ"));
    EXPECT_EQ(map.value(2004), QStringLiteral(u"ثانية"));
    EXPECT_TRUE(QuranText::readUthmani(dir.filePath(QStringLiteral("missing.txt"))).isEmpty());

    // The skeleton makes the plain and the Uthmani writing of a word equal.
    EXPECT_EQ(QuranText::skel(QStringLiteral(u"ٱلرَّحْمَـٰنِ")), QuranText::skel(QStringLiteral(u"الرحمن")));
    EXPECT_EQ(QuranText::skel(QStringLiteral(u"الصلاة")), QuranText::skel(QStringLiteral(u"ٱلصَّلَوٰةَ")));
    EXPECT_TRUE(QuranText::skel(QStringLiteral(u"اا")).isEmpty());
}
