#include "mcp/MCPServer.h"

#include "core/Characters.h"
#include "core/CountedNoun.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace quorvel {

namespace {

// Integers a JSON number may carry exactly: what a double holds without loss.
constexpr double kMaxExactInteger = 9e15;

QString quoted(const QString& name)
{
    return QStringLiteral("«") + name + QStringLiteral("»");
}

// "أطول من ٢٠٠ حرف", "أكثر من ١٠ عناصر": the count after من, in the Latin
// digits a client reads.
QString limit(const CountedNoun& noun, std::int64_t n)
{
    return noun.count(n, CountedNoun::Case::genitive, QString::number(n));
}

const CountedNoun& characters()
{
    static const CountedNoun noun(QStringLiteral("حرف"), QStringLiteral("حرفان"), QStringLiteral("أحرف"),
                                  QStringLiteral("حرفا"));
    return noun;
}

std::optional<std::int64_t> integerMember(const MCPServer::Value& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_boolean() || !it->is_number_integer())
        return std::nullopt;
    return it->get<std::int64_t>();
}

} // namespace

// ---------------------------------------------------------------------------
// Numbers and arguments

std::optional<std::int64_t> MCPServer::intValue(const Value& value)
{
    if (value.is_boolean() || !value.is_number())
        return std::nullopt;
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (static_cast<double>(u) < kMaxExactInteger)
            return static_cast<std::int64_t>(u);
        return std::nullopt;
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        if (std::fabs(static_cast<double>(i)) < kMaxExactInteger)
            return i;
        return std::nullopt;
    }
    const double d = value.get<double>();
    if (std::nearbyint(d) != d || !(std::fabs(d) < kMaxExactInteger))
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

std::optional<QString> MCPServer::Args::str(std::string_view name) const
{
    const auto it = d.find(name);
    if (it == d.end() || !it->is_string())
        return std::nullopt;
    const QString text = Json::qstr(it->get<std::string>()).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<std::int64_t> MCPServer::Args::integer(std::string_view name) const
{
    const auto it = d.find(name);
    if (it == d.end())
        return std::nullopt;
    return intValue(*it);
}

std::optional<bool> MCPServer::Args::boolean(std::string_view name) const
{
    const auto it = d.find(name);
    if (it == d.end() || !it->is_boolean())
        return std::nullopt;
    return it->get<bool>();
}

QStringList MCPServer::Args::strs(std::string_view name) const
{
    QStringList list;
    const auto it = d.find(name);
    if (it == d.end() || !it->is_array())
        return list;
    for (const Value& element : *it) {
        if (!element.is_string())
            continue;
        const QString text = Json::qstr(element.get<std::string>()).trimmed();
        if (!text.isEmpty())
            list << text;
    }
    return list;
}

QList<std::int64_t> MCPServer::Args::ints(std::string_view name) const
{
    QList<std::int64_t> list;
    const auto it = d.find(name);
    if (it == d.end() || !it->is_array())
        return list;
    for (const Value& element : *it) {
        if (const auto n = intValue(element))
            list << *n;
    }
    return list;
}

std::optional<QString> MCPServer::Args::text(std::string_view name) const
{
    if (auto s = str(name))
        return s;
    if (const auto n = integer(name))
        return QString::number(*n);
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Checking a call

std::optional<QString> MCPServer::validate(const Value& args, const Value& schema)
{
    const auto propertiesIt = schema.find("properties");
    const Value properties = propertiesIt != schema.end() && propertiesIt->is_object()
                                 ? *propertiesIt
                                 : Value::object();
    const auto requiredIt = schema.find("required");
    if (requiredIt != schema.end() && requiredIt->is_array()) {
        for (const Value& name : *requiredIt) {
            if (!name.is_string())
                continue;
            const auto member = args.find(name.get<std::string>());
            if (member == args.end() || member->is_null())
                return QStringLiteral("الوسيط ") + quoted(Json::qstr(name.get<std::string>()))
                       + QStringLiteral(" مطلوب.");
        }
    }
    // Object members iterate in ascending order of their names.
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (it->is_null())
            continue; // null stands for an argument not given
        const QString name = Json::qstr(it.key());
        const auto property = properties.find(it.key());
        if (property == properties.end()) {
            QStringList names;
            for (auto p = properties.begin(); p != properties.end(); ++p)
                names << Json::qstr(p.key());
            return QStringLiteral("وسيط غير معروف ") + quoted(name) + QStringLiteral(". المتاح: ")
                   + (names.isEmpty() ? QStringLiteral("لا شيء") : names.join(QStringLiteral("، ")))
                   + QStringLiteral(".");
        }
        if (std::optional<QString> message = check(*it, *property, name))
            return message;
    }
    return std::nullopt;
}

std::optional<QString> MCPServer::check(const Value& value, const Value& property,
                                        const QString& name)
{
    QStringList types;
    const auto typeIt = property.find("type");
    if (typeIt == property.end()) {
        types << QString();
    } else if (typeIt->is_string()) {
        types << Json::qstr(typeIt->get<std::string>());
    } else if (typeIt->is_array()) {
        for (const Value& t : *typeIt) {
            if (t.is_string())
                types << Json::qstr(t.get<std::string>());
        }
    }

    for (const QString& type : types) {
        if (type == QLatin1String("string") && value.is_string()) {
            const QString s = Json::qstr(value.get<std::string>());
            if (const auto min = integerMember(property, "minLength")) {
                if (Characters::count(s.trimmed(), *min) < *min)
                    return quoted(name) + QStringLiteral(" فارغ.");
            }
            if (const auto max = integerMember(property, "maxLength")) {
                if (Characters::count(s, *max) > *max)
                    return quoted(name) + QStringLiteral(" أطول من ") + limit(characters(), *max)
                           + QStringLiteral(".");
            }
            return std::nullopt;
        }
        if (type == QLatin1String("integer")) {
            if (const auto n = intValue(value)) {
                if (const auto min = integerMember(property, "minimum"); min && *n < *min)
                    return quoted(name) + QStringLiteral(" يجب ألا يقل عن ") + QString::number(*min)
                           + QStringLiteral(".");
                if (const auto max = integerMember(property, "maximum"); max && *n > *max)
                    return quoted(name) + QStringLiteral(" يجب ألا يزيد على ")
                           + QString::number(*max) + QStringLiteral(".");
                return std::nullopt;
            }
        }
        if (type == QLatin1String("boolean") && value.is_boolean())
            return std::nullopt;
        if (type == QLatin1String("array") && value.is_array()) {
            if (const auto max = integerMember(property, "maxItems");
                max && static_cast<std::int64_t>(value.size()) > *max)
                return quoted(name) + QStringLiteral(" أكثر من ") + limit(CountedNoun::items(), *max)
                       + QStringLiteral(".");
            const auto items = property.find("items");
            if (items != property.end() && items->is_object()) {
                const QString itemName = name + QStringLiteral("[]");
                for (const Value& element : value) {
                    if (std::optional<QString> message = check(element, *items, itemName))
                        return message;
                }
            }
            return std::nullopt;
        }
    }
    return quoted(name) + QStringLiteral(" من نوع غير صحيح (المتوقع: ")
           + types.join(QStringLiteral(" أو ")) + QStringLiteral(").");
}

// ---------------------------------------------------------------------------
// Schema builders

MCPServer::Value MCPServer::object(const Value& properties, const std::vector<std::string>& required)
{
    Value schema{{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
    if (!required.empty())
        schema["required"] = required;
    return schema;
}

MCPServer::Value MCPServer::pStr(const char* description, int max)
{
    return Value{{"type", "string"}, {"description", description}, {"minLength", 1},
                 {"maxLength", max}};
}

MCPServer::Value MCPServer::pStrOrInt(const char* description)
{
    return Value{{"type", Value::array({"string", "integer"})},
                 {"description", description},
                 {"minLength", 1},
                 {"maxLength", 100}};
}

MCPServer::Value MCPServer::pInt(const char* description, std::int64_t min,
                                 std::optional<std::int64_t> max, std::optional<std::int64_t> def)
{
    Value schema{{"type", "integer"}, {"description", description}, {"minimum", min}};
    if (max)
        schema["maximum"] = *max;
    if (def)
        schema["default"] = *def;
    return schema;
}

MCPServer::Value MCPServer::pBool(const char* description, bool def)
{
    return Value{{"type", "boolean"}, {"description", description}, {"default", def}};
}

MCPServer::Value MCPServer::pStrs(const char* description, int max)
{
    return Value{{"type", "array"},
                 {"description", description},
                 {"maxItems", max},
                 {"items", Value{{"type", "string"}, {"minLength", 1}, {"maxLength", 200}}}};
}

MCPServer::Value MCPServer::pInts(const char* description, int max)
{
    return Value{{"type", "array"},
                 {"description", description},
                 {"maxItems", max},
                 {"items", Value{{"type", "integer"}, {"minimum", 1}}}};
}

// ---------------------------------------------------------------------------
// The table, in the order of "tools/list"

const QList<MCPServer::Tool>& MCPServer::tools()
{
    static const QList<Tool> table{
        Tool{
            "search_library",
            "البحث في المكتبة",
            "بحث نصي كامل في متون الكتب وحواشيها. يطبع الهمزات والتاء المربوطة والألف المقصورة والتشكيل تلقائيا. يعيد لكل نتيجة: الكتاب والمؤلف والجزء والصفحة المطبوعة والتسلسل seq والباب، ومقتطفا تحاط فيه الكلمة المطابقة بـ «»، وعزوا جاهزا citation. النتائج مرتبة زمنيا بوفاة المؤلف ثم بتسلسل الصفحات. اقرأ السياق بـ read_page قبل النقل.",
            object({
                {"query", pStr("الكلمة أو العبارة المطلوبة، تبحث متصلة كما هي. مثل: الصلاة، أو: إنما الأعمال بالنيات", 200)},
                {"all_of", pStrs("عبارات إضافية يجب أن تجتمع كلها مع query في الصفحة نفسها", 10)},
                {"any_of", pStrs("عبارات يكفي وجود إحداها في الصفحة", 10)},
                {"none_of", pStrs("عبارات تستبعد كل صفحة تحويها", 10)},
                {"book_ids", pInts("حصر البحث في هذه الكتب (معرفات من list_books أو find_author أو get_book)", 1000)},
                {"category_id", pInt("حصر البحث في قسم واحد (معرف من list_categories)", -1, {}, {})},
                {"affix", pBool("بحث باللواصق: يطابق الكلمة مع السوابق (و، ف، ب، ك، ل، ال) وما يلحقها، مثل: والصلاة، بصلاتهم", false)},
                {"morph", pBool("بحث صرفي تقريبي: يجرد الكلمة من السوابق واللواحق الشائعة ويطابق مشتقاتها. أوسع وأبطأ", false)},
                {"in_footnotes", pBool("تضمين الحواشي في البحث. اجعله false للبحث في المتن وحده", true)},
                {"limit", pInt("أقصى عدد للنتائج", 1, 100, 20)}
            }, {"query"}),
            &MCPServer::searchLibrary,
        },
        Tool{
            "read_page",
            "قراءة صفحة",
            "قراءة صفحة كاملة من كتاب: المتن والحواشي منفصلين، والباب وسلسلة أبوابه، والجزء والصفحة المطبوعة، وتسلسل الصفحة السابقة واللاحقة للتنقل (prev_seq وnext_seq)، والعزو citation. حدد الصفحة بـ seq (التسلسل الداخلي كما في نتائج البحث) أو بـ volume وpage (ترقيم الطبعة المطبوعة). بلا تحديد تعاد أول صفحة.",
            object({
                {"book_id", bookIdProperty()},
                {"seq", pInt("التسلسل الداخلي للصفحة داخل الكتاب، ويقدم على page إن اجتمعا", 0, {}, {})},
                {"volume", pStrOrInt("رقم الجزء كما يظهر في get_book، مثل \"2\"")},
                {"page", pInt("رقم الصفحة في الطبعة المطبوعة، تعاد الصفحة نفسها أو أقرب صفحة بعدها", 0, {}, {})}
            }, {"book_id"}),
            &MCPServer::readPage,
        },
        Tool{
            "get_book",
            "بطاقة كتاب",
            "بطاقة كتاب: العنوان والمؤلف ووفاته والقسم ومصدر النص ورخصته، وعدد الصفحات، والأجزاء بمدى تسلسلها وصفحاتها، وفهرس الموضوعات بالترتيب (" + std::to_string(tocPage) + " عنوان في كل طلب مع seq لكل عنوان يفتح بـ read_page، وtoc_offset للمزيد).",
            object({
                {"book_id", bookIdProperty()},
                {"toc_offset", pInt("بداية صفحة الفهرس المطلوبة", 0, {}, 0)}
            }, {"book_id"}),
            &MCPServer::getBook,
        },
        Tool{
            "list_books",
            "تصفح الكتب",
            "تصفح كتب المكتبة مرتبة زمنيا بوفاة المؤلف، مع التصفية بالقسم أو المؤلف أو جزء من العنوان أو سنة الوفاة بالهجري. يعيد total مع offset وlimit للتنقل بين الصفحات.",
            object({
                {"category", pStrOrInt("معرف القسم أو جزء من اسمه، مثل: الفقه، الحديث")},
                {"author", pStr("جزء من اسم المؤلف", 100)},
                {"title_contains", pStr("جزء من عنوان الكتاب", 100)},
                {"death_before", pInt("كتب مؤلفين توفوا في هذه السنة الهجرية أو قبلها", -500, 2000, {})},
                {"death_after", pInt("كتب مؤلفين توفوا في هذه السنة الهجرية أو بعدها", -500, 2000, {})},
                {"offset", pInt("عدد الكتب المتخطاة للتنقل", 0, {}, 0)},
                {"limit", pInt("عدد الكتب في الصفحة", 1, 200, 50)}
            }, {}),
            &MCPServer::listBooks,
        },
        Tool{
            "list_categories",
            "أقسام المكتبة",
            "أقسام المكتبة (الفقه، الحديث، التفسير، العقيدة...) مع معرف كل قسم وعدد كتبه، لاستعمالها في list_books وsearch_library.",
            object(Value::object(), {}),
            &MCPServer::listCategories,
        },
        Tool{
            "find_author",
            "البحث عن مؤلف",
            "بحث عن مؤلف باسمه أو جزء منه (يطبع الهمزات والتشكيل)، ويعيد سنة وفاته بالهجري وكتبه في المكتبة مع معرفاتها.",
            object({
                {"name", pStr("اسم المؤلف أو جزء منه", 100)},
                {"limit", pInt("أقصى عدد للمؤلفين", 1, 100, 20)}
            }, {"name"}),
            &MCPServer::findAuthor,
        },
        Tool{
            "library_data",
            "جداول وإحصاءات",
            "يجيب عن أسئلة البيانات بجدول محسوب من فهرس المكتبة ونصوصها مباشرة (لا تقدير): عدد الكتب أو الصفحات حسب القرن أو القسم، وقوائم الكتب بشرط (قسم، قرن، مؤلف)، وأكثر المؤلفين كتبا، وعدد مرات ورود لفظ أو أكثر حسب القرن أو القسم أو الكتاب، وإحصاءات المكتبة. اكتب السؤال بالعربية كما يكتبه الباحث، مثل: عدد الكتب حسب القرن، أو: قارن ورود «الصلاة» و«الزكاة» حسب القسم، أو: جدول بكتب التاريخ في القرن الثامن. يعيد ملخصا وجداول (عنوان وأعمدة وصفوف)؛ اعرضها جداول ولا تغير أرقامها.",
            object({
                {"question", pStr("سؤال البيانات بالعربية", 300)}
            }, {"question"}),
            &MCPServer::libraryData,
        },
        Tool{
            "cite",
            "توثيق نقل",
            "عزو معتمد لصفحة: سطر العزو المختصر (الكتاب · المؤلف · ج ص) والعزو الكامل بصيغة المراجع، مع اقتباس قصير بلا تشكيل من الصفحة. مرر around ليكون الاقتباس حول كلمة أو عبارة بعينها.",
            object({
                {"book_id", bookIdProperty()},
                {"seq", pInt("التسلسل الداخلي للصفحة", 0, {}, {})},
                {"around", pStr("كلمة أو عبارة يتمحور حولها الاقتباس", 200)}
            }, {"book_id", "seq"}),
            &MCPServer::cite,
        },
    };
    return table;
}

MCPServer::Value MCPServer::bookIdProperty()
{
    return pInt("معرف الكتاب", 1, {}, {});
}

} // namespace quorvel
