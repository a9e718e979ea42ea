#include "support/ReferenceLibrary.h"

#include "core/Json.h"
#include "support/FixtureLibrary.h"

#include <QDir>

namespace quorvel::test::ReferenceLibrary {

namespace {

using Json::Value;

Value page(const char* vol, std::optional<int> num, int seq, const QString& content)
{
    Value p{{"seq", seq}, {"content", Json::utf8(content)}};
    p["vol"] = vol ? Value(vol) : Value(nullptr);
    p["page_num"] = num ? Value(*num) : Value(nullptr);
    return p;
}

Value tocEntry(const QString& title, int seq, int level, std::optional<int> parent)
{
    Value e{{"title", Json::utf8(title)}, {"page_seq", seq}, {"level", level}};
    e["parent"] = parent ? Value(*parent) : Value(nullptr);
    return e;
}

const char* const kSentence =
    "قال مالك في الرجل يصلي الصلاة ثم يذكر أنه نسي الوضوء فعليه أن يعيد الصلاة";

Value mudawwana()
{
    Value pages = Value::array();
    for (int seq = 1; seq <= 5; ++seq) {
        QString text = QStringLiteral("الجزء الأول الصفحة ") + QString::number(seq) + " "
                       + QString::fromUtf8(kSentence);
        if (seq == 3)
            text += QStringLiteral("\n__________\n(1) في نسخة: يعيد الصلاة أبدا.");
        pages.push_back(page("١", seq, seq, text));
    }
    const int secondVolumePages[] = {1, 2, 3, 5, 6};
    for (int i = 0; i < 5; ++i)
        pages.push_back(page("٢", secondVolumePages[i], 6 + i,
                             QStringLiteral("الجزء الثاني باب الزكاة والصيام صفحة ")
                                 + QString::number(secondVolumePages[i])));

    Value toc = Value::array();
    toc.push_back(tocEntry(QStringLiteral("PARATEXT غلاف"), 1, 1, std::nullopt));
    for (int level = 1; level <= 14; ++level)
        toc.push_back(tocEntry(QStringLiteral("باب ") + QString::number(level), 2, level,
                               level == 1 ? std::nullopt : std::optional<int>(level - 1)));
    for (int i = 0; i < 290; ++i)
        toc.push_back(tocEntry(QStringLiteral("فصل ") + QString::number(i + 1), 6 + i % 5, 1,
                               std::nullopt));
    return Value{{"pages", pages}, {"toc", toc}};
}

Value risala()
{
    QStringList forty;
    for (int i = 0; i < 40; ++i)
        forty << QStringLiteral("كلمةٌ");
    Value pages = Value::array();
    pages.push_back(page("1", 1, 1, QStringLiteral("باب البيان وأصول الفقه")));
    pages.push_back(page("1", 2, 2, forty.join(' ')));
    pages.push_back(page("1", 3, 3, QStringLiteral("والصلوات الخمس فريضة على كل مسلم")));
    return Value{{"pages", pages}, {"toc", Value::array()}};
}

Value small(int pages, const QString& text)
{
    Value list = Value::array();
    for (int seq = 1; seq <= pages; ++seq)
        list.push_back(page(nullptr, std::nullopt, seq, text));
    return Value{{"pages", list}, {"toc", Value::array()}};
}

} // namespace

QString build(const QString& dir)
{
    QDir().mkpath(dir + "/books");
    const struct {
        const char* file;
        Value content;
    } books[] = {
        {"books/010.json", mudawwana()},
        {"books/011.json", risala()},
        {"books/012.json", small(2, QStringLiteral("حدثنا عروة عن عائشة"))},
        {"books/013.json", small(1, QStringLiteral("نص مجهول المؤلف"))},
        {"books/014.json", small(1, QStringLiteral("نص أبي فلان"))},
        {"books/015.json", small(1, QStringLiteral("نص مؤرخ"))},
    };
    for (const auto& book : books) {
        if (!FixtureLibrary::writeJson(dir + "/" + book.file, book.content))
            return {};
    }

    const Value catalog{
        {"categories",
         Value::array({Value{{"id", 1}, {"name", "كتب الحديث"}},
                       Value{{"id", 2}, {"name", "الفقه"}},
                       Value{{"id", 3}, {"name", "أصول الفقه"}}})},
        {"authors",
         Value::array({
             Value{{"id", 1}, {"name", "مالك بن أنس"}, {"full_name", "مالك بن أنس أبو عبد الله الأصبحي"},
                   {"death_year", 179}, {"death_text", "179 هـ"}},
             Value{{"id", 2}, {"name", "عروة بن الزبير"}, {"full_name", "عروة بن الزبير"},
                   {"death_year", -5}, {"death_text", "٥ ق.هـ"}},
             Value{{"id", 3}, {"name", "—"}, {"death_year", 300}},
             Value{{"id", 4}, {"name", "أبو فلان"}, {"death_year", 1}},
             Value{{"id", 5}, {"name", "الشافعي"}, {"full_name", "محمد بن إدريس الشافعي"},
                   {"death_year", 204}, {"death_text", "٢٠٤"}},
             Value{{"id", 6}, {"name", "مجهول الوفاة"}},
         })},
        {"books",
         Value::array({
             Value{{"id", 10}, {"title", "المدونة الكبرى"}, {"author_id", 1}, {"category_id", 2},
                   {"edition", "  الطبعة الأولى  "}, {"publisher", "دار الكتب العلمية"},
                   {"license", "CC0"}, {"file", "books/010.json"}},
             Value{{"id", 11}, {"title", "رسالة في الأصول"}, {"author_id", 5}, {"category_id", 3},
                   {"file", "books/011.json"}},
             Value{{"id", 12}, {"title", "كتاب بلا قسم"}, {"author_id", 2}, {"file", "books/012.json"}},
             Value{{"id", 13}, {"title", "كتاب المجهول"}, {"author_id", 3}, {"category_id", 1},
                   {"file", "books/013.json"}},
             Value{{"id", 14}, {"title", "كتاب أبي فلان"}, {"author_id", 4}, {"category_id", 1},
                   {"file", "books/014.json"}},
             Value{{"id", 15}, {"title", "كتاب مؤرخ"}, {"author_id", 6}, {"category_id", 2},
                   {"book_date", 500}, {"file", "books/015.json"}},
         })},
    };
    const QString catalogPath = dir + "/catalog.json";
    if (!FixtureLibrary::writeJson(catalogPath, catalog))
        return {};
    return FixtureLibrary::build(dir, catalogPath, QStringLiteral("reference.db"));
}

} // namespace quorvel::test::ReferenceLibrary
