#pragma once

// What the search-tab tests share: the sample library, a small hand-made
// library for the cases the corpus lacks, and a launcher that holds the
// tab's search jobs back until the test runs them.

#include "core/Library.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"
#include "ui/kit/Dialogs.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/AppDelegate.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quorvel::test {

inline void preparePanels()
{
    AppDelegate::prepareApplication();
}

// Holds every job a search tab launches while it lives.
class HeldJobs {
public:
    HeldJobs()
    {
        previous_ = SearchTabView::setLauncher([this](SearchTabView::Job job) { jobs_.append(std::move(job)); });
    }
    ~HeldJobs() { SearchTabView::setLauncher(previous_); }

    qsizetype size() const { return jobs_.size(); }
    // Runs the job at `i` here; its batches reach the tab on the next turns
    // of the event loop.
    void run(qsizetype i) { jobs_[i](); }
    void runAll()
    {
        while (!jobs_.isEmpty())
            jobs_.takeFirst()();
    }
    void take(qsizetype i, SearchTabView::Job& out) { out = jobs_.takeAt(i); }

private:
    QList<SearchTabView::Job> jobs_;
    SearchTabView::Launcher previous_;
};

// Books for the filters and rows: two categories of one name, a book
// without category and one whose category is unknown; authors who died in
// 100, 101, 5 before the Hijra and in year 0; pages with and without volume
// and printed number.
struct SmallLib {
    static constexpr std::int64_t hadithA = 10;   // category 1 "كتب الحديث", died 100
    static constexpr std::int64_t hadithB = 11;   // category 2 "كتب الحديث", died 101
    static constexpr std::int64_t noCategory = 12; // died 5 before the Hijra
    static constexpr std::int64_t lostCategory = 13; // category 77 unknown, died in year 0
    static constexpr std::int64_t fiqh = 14;       // category 3, no author, no date
    static constexpr std::int64_t volumePage = 1001;  // book 10, volume 2, page 15, seq 3
    static constexpr std::int64_t plainPage = 1002;   // book 10, seq 7, no volume or number

    SmallLib()
    {
        const QStringList rows{
            QStringLiteral("INSERT INTO categories(id, name) VALUES(1, 'كتب الحديث'), (2, 'كتب الحديث'), (3, 'الفقه')"),
            QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(1, 'الأول', 100), (2, 'الثاني', 101), "
                           "(3, 'القديم', -5), (4, 'المجهول', 0)"),
            QStringLiteral("INSERT INTO books(id, title, author_id, category_id) VALUES(10, 'الموطأ', 1, 1), "
                           "(11, 'السنن', 2, 2), (12, 'الأخبار', 3, NULL), (13, 'الأمالي', 4, 77), "
                           "(14, 'المختصر', NULL, 3)"),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES "
                           "(1001, 10, '2', 15, 3, 'قال رسول الله صلى الله عليه وسلم إنما الأعمال بالنيات'), "
                           "(1002, 10, NULL, NULL, 7, 'حدثنا مالك عن نافع عن رسول الله'), "
                           "(1101, 11, NULL, 1, 1, 'عن رسول الله في السنن'), "
                           "(1201, 12, NULL, 1, 1, 'خبر قديم'), (1301, 13, NULL, 1, 1, 'أمالي'), "
                           "(1401, 14, NULL, 1, 1, 'مختصر في الفقه')"),
            QStringLiteral("INSERT INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES "
                           "(1, 10, 'باب النية عند رسول الله', 1, NULL, 1)"),
        };
        path = FixtureLibrary::custom(dir.path(), QStringLiteral("small.db"), rows);
        if (path.isEmpty())
            return;
        ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        lib = Library::open(path);
    }

    QTemporaryDir dir;
    QString path;
    std::shared_ptr<Library> lib;
};

inline SearchQuery wordsQuery(const QString& words)
{
    SearchQuery q;
    q.andPhrases = words.split(u' ', Qt::SkipEmptyParts);
    return q;
}

} // namespace quorvel::test
