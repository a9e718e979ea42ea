#include "core/Arabic.h"
#include "core/Library.h"
#include "scholar/NameWords.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// A library whose chains name «محمد بن بشار», «الحسن بن صالح», «أحمد بن حنبل»
// and «عائشة», and whose other pages use «صالح» as a word of the language.
std::shared_ptr<Library> chainsLibrary(const QTemporaryDir& dir)
{
    QStringList rows{
        QStringLiteral("INSERT INTO authors(id, name) VALUES(1, 'ابن ماجه')"),
        QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(1, 'السنن', 1)"),
        QStringLiteral("INSERT INTO narrators(id, name) VALUES(1, 'محمد بن بشار'), (2, 'الحسن بن صالح'), "
                       "(3, 'أحمد بن حنبل'), (4, 'عائشة')"),
        QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES(1, 2, 1, 1), (3, 4, 1, 2)"),
    };
    const QStringList pages{
        QStringLiteral("حدثنا محمد بن بشار حدثنا الحسن بن صالح"),
        QStringLiteral("حدثنا أحمد بن حنبل عن عائشة قالت"),
        QStringLiteral("من عمل عملا صالحا فله أجره والعمل صالح"),
        QStringLiteral("رجل صالح من أهل العلم"),
        QStringLiteral("وهذا قول صالح عند أهل المدينة"),
    };
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QString norm = Arabic::normalize(pages[i], true);
        rows << QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(%1, 1, %1, '%2', '%3')")
                    .arg(i + 1)
                    .arg(pages[i], norm)
             << QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(%1, '%2', %1, 1)")
                    .arg(i + 1)
                    .arg(norm);
    }
    const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("chains.db"), rows);
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    return path.isEmpty() ? nullptr : Library::open(path);
}

} // namespace

TEST(NameWordsTest, namesAreTheWordsTheChainsAndTheCatalogueUseForPeople)
{
    QTemporaryDir dir;
    const std::shared_ptr<Library> lib = chainsLibrary(dir);
    ASSERT_TRUE(lib);
    NameWords names(*lib);
    const struct {
        const char16_t* word;
        bool name;
    } rows[] = {
        // A word of narrators' names found only where they stand in a chain.
        {u"بشار", true},
        {u"حنبل", true},
        {u"الحسن", true},
        // A whole name, in any written form.
        {u"عائشة", true},
        {u"عائشه", true},
        // An author's word, which no chain weighs.
        {u"ماجه", true},
        // A narrator's word the pages use more often as a word of the language.
        {u"صالح", false},
        // Words that name nobody, and more than one word.
        {u"حدثنا", false},
        {u"العلم", false},
        {u"محمد بن", false},
        {u"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(names.contains(QString::fromUtf16(row.word)), row.name) << QString::fromUtf16(row.word).toStdString();
}
