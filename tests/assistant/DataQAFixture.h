#pragma once

// A library for the data-question tests: the corpus books (the Muwatta and
// two editions of Ibn Majah, with their real pages) and, beside them,
// catalogue rows for the cases the corpus lacks: several categories and
// authors, a placeholder author, an author without a death year, one who
// died after the fifteenth century, a book without an author, and a few
// pages on patience for the term counts.

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace quorvel::test {

struct DataLibrary {
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    std::shared_ptr<Library> lib;

    // Adds a page with its full-text row; the page id is taken from `id`.
    static bool addPage(SQLiteDB& db, std::int64_t id, std::int64_t book, std::int64_t seq, const QString& text)
    {
        const QString norm = Arabic::normalize(text);
        return db.run(QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) "
                                     "VALUES(?, ?, '1', ?, ?, ?, ?)"),
                      {id, book, seq, seq, text, norm})
            && db.run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?, ?, ?, ?)"),
                      {id, norm, id, book});
    }

    static DataLibrary make()
    {
        DataLibrary out;
        out.dir = std::make_unique<QTemporaryDir>();
        out.path = FixtureLibrary::build(out.dir->path());
        if (out.path.isEmpty())
            return out;
        auto db = SQLiteDB::open(out.path, false);
        if (!db)
            return out;
        const bool ok = db->exec(QStringLiteral(
            "INSERT INTO categories(id, name) VALUES (2, 'فقه الحنابلة'), (3, 'مناسك الحج'), (4, 'التفسير وحجة القراءات');"
            "INSERT INTO authors(id, name, death_year) VALUES"
            " (3, 'أحمد بن حنبل', 241), (4, 'ابن قدامة المقدسي', 620), (5, 'ابن تيمية', 728),"
            " (6, 'محمد بن أحمد القرطبي', 671), (7, '—', NULL), (8, 'أحمد بن محمد', NULL),"
            " (9, 'ابن حجر العسقلاني', 852), (10, 'عالم متأخر', 1620);"
            "INSERT INTO books(id, title, author_id, category_id, book_date) VALUES"
            " (4, 'المغني', 4, 2, NULL), (5, 'الكافي في فقه الإمام أحمد', 4, 2, NULL),"
            " (6, 'مسند أحمد', 3, 1, NULL), (7, 'مجموع الفتاوى', 5, 2, NULL),"
            " (8, 'الجامع لأحكام القرآن', 6, 4, NULL), (9, 'منسك مجهول المؤلف', 7, 3, NULL),"
            " (10, 'منسك مختصر', 8, 3, NULL), (11, 'فتح الباري', 9, 1, NULL),"
            " (12, 'رسالة متأخرة', 10, NULL, NULL), (13, 'كتاب بلا مؤلف', NULL, 4, 1350),"
            " (14, 'رسالة في الحج', 8, 3, NULL);"));
        if (!ok)
            return out;
        // Each of the ten written forms of الصبر once, in the first book of
        // Ibn Qudama; forms that are other words must not count.
        const QStringList patience{
            QStringLiteral("ولمن صبر وغفر إن ذلك لمن عزم الأمور"),
            QStringLiteral("إنما الصبر عند الصدمة الأولى"),
            QStringLiteral("من ابتلي فصبر وأعطي فشكر"),
            QStringLiteral("واستعينوا بالصبر والصلاة"),
            QStringLiteral("والصلاة نور والصدقة برهان والصبر ضياء"),
            QStringLiteral("وأمر بصبر جميل على الأذى"),
            QStringLiteral("وصبر على ما أصابه واحتسب"),
            QStringLiteral("لصبر ساعة خير من جزع الدهر"),
            QStringLiteral("فهذا موضع للصبر والاحتساب"),
            QStringLiteral("فالصبر على البلاء من عزم الأمور"),
        };
        std::int64_t id = 1001;
        for (qsizetype i = 0; i < patience.size(); ++i) {
            if (!addPage(*db, id++, 4, i + 1, patience[i]))
                return out;
        }
        if (!addPage(*db, id++, 5, 1, QStringLiteral("إن الله مع الصابرين فاصبروا صبرا جميلا"))
            || !addPage(*db, id++, 7, 1, QStringLiteral("وذكر الشكر في القرآن مقرونا بالصبر"))
            || !addPage(*db, id++, 7, 2, QStringLiteral("والشكر نصف الإيمان"))
            || !addPage(*db, id++, 8, 1, QStringLiteral("فصل في الشكر"))
            || !addPage(*db, id++, 12, 1, QStringLiteral("باب الصبر على الأذى")))
            return out;
        db.reset();
        out.lib = Library::open(out.path);
        return out;
    }
};

} // namespace quorvel::test
