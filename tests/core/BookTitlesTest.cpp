#include "core/BookTitles.h"

#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(BookTitles, booksSharingATitleInOneListShowWhatTellsThemApart)
{
    using Entry = BookTitles::Entry;
    const QString sunan = QStringLiteral(u"سنن ابن ماجه");
    const QString ibnMajah = QStringLiteral(u"ابن ماجه");
    const QString first = QStringLiteral(u"تحقيق محمد فؤاد عبد الباقي (نشرة أ)");
    const QString second = QStringLiteral(u"تحقيق محمد فؤاد عبد الباقي (نشرة ب)");
    const QString risala = QStringLiteral(u"الرسالة");
    const QString shafii = QStringLiteral(u"الشافعي");
    const QString qushayri = QStringLiteral(u"القشيري");
    const QString sep = QString::fromUtf16(BookTitles::separator);
    const struct {
        const char* what;
        QList<Entry> entries;
        QList<QString> expected;
    } rows[] = {
        {"distinct titles stay as they are",
         {{sunan, ibnMajah, first}, {risala, shafii, QString()}},
         {sunan, risala}},
        {"one author, two editions: the edition notes",
         {{sunan, ibnMajah, first}, {risala, shafii, QString()}, {sunan, ibnMajah, second}},
         {sunan + sep + first, risala, sunan + sep + second}},
        {"two authors: the authors",
         {{risala, shafii, first}, {risala, qushayri, first}},
         {risala + sep + shafii, risala + sep + qushayri}},
        {"the author where it is the title's alone, else the edition",
         {{sunan, ibnMajah, first}, {sunan, shafii, QString()}, {sunan, ibnMajah, second}},
         {sunan + sep + first, sunan + sep + shafii, sunan + sep + second}},
        {"an unknown author and no edition: nothing to tell",
         {{risala, QString(), QString()}, {risala, QString(), first}},
         {risala, risala + sep + first}},
        {"an empty list", {}, {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(BookTitles::labels(row.entries), row.expected) << row.what;
}

TEST(BookTitles, anEditionNoteShowsItsYearInTheReadersDigits)
{
    using Entry = BookTitles::Entry;
    const QString taqrib = QStringLiteral(u"تقريب التهذيب");
    const QString author = QStringLiteral(u"ابن حجر");
    const QList<Entry> entries{{taqrib, author, QStringLiteral(u"تحقيق محمد عوامة، الطبعة الأولى 1406 هـ")},
                               {taqrib, author, QStringLiteral(u"تحقيق أبي الأشبال")}};
    const QString sep = QString::fromUtf16(BookTitles::separator);
    Settings::setIndicDigits(true);
    EXPECT_EQ(BookTitles::labels(entries).value(0), taqrib + sep + QStringLiteral(u"تحقيق محمد عوامة، الطبعة الأولى ١٤٠٦ هـ"));
    Settings::setIndicDigits(false);
    EXPECT_EQ(BookTitles::labels(entries).value(0), taqrib + sep + QStringLiteral(u"تحقيق محمد عوامة، الطبعة الأولى 1406 هـ"));
    Settings::setIndicDigits(true);
}
