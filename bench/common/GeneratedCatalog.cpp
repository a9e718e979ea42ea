#include "GeneratedCatalog.h"

#include <QStringList>

#include <random>

namespace quorvel::bench {

bool fillGeneratedCatalog(SQLiteDB& db, int books, int authors, int categories)
{
    std::mt19937 rng(7);
    const QStringList words = QString::fromUtf8(
        "كتاب شرح مختصر السنن الجامع الصحيح تاريخ طبقات تفسير القرآن الفقه أصول اللغة "
        "ديوان رسالة المغني الكافي البيان التبيين الأنساب الكامل المعجم")
                                  .split(u' ');
    auto title = [&] {
        QStringList parts;
        const int n = 2 + int(rng() % 4);
        for (int i = 0; i < n; ++i)
            parts << words.at(qsizetype(rng() % words.size()));
        return parts.join(u' ');
    };
    db.exec("BEGIN");
    for (int c = 1; c <= categories; ++c)
        db.run("INSERT INTO categories(id, name, sort) VALUES(?,?,?)",
               {c, QString::fromUtf8("قسم ") + QString::number(c), int(rng() % 100)});
    for (int a = 1; a <= authors; ++a) {
        const bool known = rng() % 5 != 0;
        db.run("INSERT INTO authors(id, name, death_year) VALUES(?,?,?)",
               {a, title() + QString::fromUtf8(" (المتوفى: ١٠٠هـ)"),
                known ? SQLArg(int(rng() % 1400)) : SQLArg()});
    }
    for (int b = 1; b <= books; ++b) {
        const bool dated = rng() % 4 == 0;
        db.run("INSERT INTO books(id, title, author_id, category_id, book_date, edition) "
               "VALUES(?,?,?,?,?,?)",
               {b, title(), int(1 + rng() % authors), int(1 + rng() % (categories + 2)),
                dated ? SQLArg(int(rng() % 1400)) : SQLArg(), title()});
    }
    return db.exec("COMMIT");
}

} // namespace quorvel::bench
