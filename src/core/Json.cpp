#include "core/Json.h"

#include "core/WholeFile.h"

#include <algorithm>

#include <cmath>

namespace quorvel::Json {

int nesting(std::string_view text)
{
    int depth = 0;
    int deepest = 0;
    outsideStrings(text, [&](std::size_t, char c) {
        if (c == '[' || c == '{')
            deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}')
            --depth;
    });
    return deepest;
}

std::optional<Value> parse(std::string_view text)
{
    if (nesting(text) > maxDepth)
        return std::nullopt;
    Value value = Value::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

std::optional<Value> parse(const QByteArray& text)
{
    return parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
}

std::optional<Value> parseFile(const QString& path, qint64 maxBytes)
{
    const WholeFile::Read file = WholeFile::read(path, maxBytes);
    if (!file.bytes)
        return std::nullopt;
    return parse(*file.bytes);
}

std::string dump(const Value& value, const DumpOptions& options)
{
    std::string out = value.dump(options.indent, ' ', /*ensure_ascii=*/false,
                                 Value::error_handler_t::replace);
    if (!options.escapeSlash)
        return out;
    // "/" only ever appears inside strings in serialised JSON, so a plain
    // replacement cannot touch structure.
    std::string escaped;
    escaped.reserve(out.size() + 8);
    for (char c : out) {
        if (c == '/')
            escaped += "\\/";
        else
            escaped += c;
    }
    return escaped;
}

QByteArray dumpBytes(const Value& value, const DumpOptions& options)
{
    return QByteArray::fromStdString(dump(value, options));
}

double oneDecimal(double milliseconds)
{
    return std::round(milliseconds * 10.0) / 10.0;
}

std::string utf8(const QString& text) { return text.toStdString(); }
QString qstr(const std::string& text) { return QString::fromStdString(text); }
Value toJson(const QString& text) { return text.toStdString(); }

Value toJson(const QStringList& texts)
{
    Value array = Value::array();
    for (const QString& t : texts)
        array.push_back(t.toStdString());
    return array;
}

std::optional<std::int64_t> asInt(const Value& value)
{
    // Unsigned first: is_number_integer() holds for unsigned values too, and
    // reading one past INT64_MAX as signed would wrap it.
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(INT64_MAX))
            return static_cast<std::int64_t>(u);
        return std::nullopt;
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    return std::nullopt;
}

std::optional<bool> asBool(const Value& value)
{
    if (value.is_boolean())
        return value.get<bool>();
    return std::nullopt;
}

std::optional<double> asDouble(const Value& value)
{
    if (value.is_number())
        return value.get<double>();
    return std::nullopt;
}

std::optional<QString> asString(const Value& value)
{
    if (value.is_string())
        return QString::fromStdString(value.get_ref<const std::string&>());
    return std::nullopt;
}

namespace {
const Value* member(const Value& object, std::string_view key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}
} // namespace

std::optional<std::int64_t> strictInt(const Value& object, std::string_view key)
{
    const Value* v = member(object, key);
    return v ? asInt(*v) : std::nullopt;
}

std::optional<bool> strictBool(const Value& object, std::string_view key)
{
    const Value* v = member(object, key);
    return v ? asBool(*v) : std::nullopt;
}

std::optional<double> strictDouble(const Value& object, std::string_view key)
{
    const Value* v = member(object, key);
    return v ? asDouble(*v) : std::nullopt;
}

std::optional<QString> strictString(const Value& object, std::string_view key)
{
    const Value* v = member(object, key);
    return v ? asString(*v) : std::nullopt;
}

} // namespace quorvel::Json
