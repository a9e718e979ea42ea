#include "core/Preferences.h"

#include "core/AtomicFile.h"
#include "core/Notifier.h"
#include "core/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorvel {

namespace {

constexpr const char* kFolderName = "quorvel";
constexpr const char* kFileName = "preferences.json";
// Added to the file's name for a copy of a file that could not be read.
constexpr const char* kSetAsideSuffix = ".unreadable";
constexpr char kSetAsideFailed[] = "تعذر حفظ نسخة من الملف غير المقروء";

// Leading number of a text, as user defaults read "23.5pt" → 23.5 and
// "abc" → 0.
double leadingDouble(const QString& text)
{
    const QString t = text.trimmed();
    int end = 0;
    bool seenDigit = false, seenDot = false, seenExp = false;
    for (; end < t.size(); ++end) {
        const QChar c = t[end];
        if (c.isDigit() && c.unicode() < 128) {
            seenDigit = true;
        } else if ((c == '+' || c == '-') && (end == 0 || t[end - 1] == 'e' || t[end - 1] == 'E')) {
        } else if (c == '.' && !seenDot && !seenExp) {
            seenDot = true;
        } else if ((c == 'e' || c == 'E') && seenDigit && !seenExp) {
            seenExp = true;
        } else {
            break;
        }
    }
    while (end > 0) {
        bool ok = false;
        const double v = t.left(end).toDouble(&ok);
        if (ok)
            return v;
        --end;
    }
    return 0;
}

// A stored value read as a number: Booleans as 0/1, texts by their leading
// number, anything else 0.
double numberOf(const Json::Value& v)
{
    if (v.is_boolean())
        return v.get<bool>() ? 1 : 0;
    if (v.is_number())
        return v.get<double>();
    if (const auto text = Json::asString(v))
        return leadingDouble(*text);
    return 0;
}

} // namespace

Preferences& Preferences::standard()
{
    static Preferences store(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + "/" + kFolderName + "/" + kFileName);
    return store;
}

Preferences::Preferences(QString filePath) : path_(std::move(filePath)) {}

void Preferences::loadLocked() const
{
    if (loaded_)
        return;
    loaded_ = true;
    file_ = Json::Value::object();
    const WholeFile::Read file = WholeFile::read(path_, Json::defaultFileLimit);
    // A file past any preferences' size is kept aside like one unread.
    if (file.problem == WholeFile::Problem::tooLarge)
        unreadable_ = true;
    if (!file.bytes)
        return;
    const QByteArray& bytes = *file.bytes;
    auto parsed = Json::parse(bytes);
    if (parsed && parsed->is_object())
        file_ = std::move(*parsed);
    else
        unreadable_ = !bytes.trimmed().isEmpty();
}

bool Preferences::saveLocked() const
{
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // A file this version could not read is kept beside, under a name of its
    // own, before the first write replaces it.
    std::optional<QString> failed;
    if (unreadable_) {
        QString aside = path_ + QLatin1String(kSetAsideSuffix);
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = path_ + QLatin1String(kSetAsideSuffix) + u'.' + QString::number(n);
        if (QFile::copy(path_, aside))
            unreadable_ = false;
        else
            failed = aside + QStringLiteral(": ") + QString::fromUtf8(kSetAsideFailed);
    }
    // A failed write keeps the old file; the new value lives on in memory.
    if (!failed)
        failed = AtomicFile::replace(path_, Json::dumpBytes(file_, {.escapeSlash = false, .indent = 2}));
    if (failed)
        qWarning("%s: %s", qUtf8Printable(path_), qUtf8Printable(*failed));
    // One notice per run of failures: a full disk fails every key changed
    // until space is freed.
    const bool firstFailure = failed && !saveFault_;
    saveFault_ = failed;
    return firstFailure;
}

std::optional<QString> Preferences::saveFault() const
{
    std::lock_guard lock(mutex_);
    return saveFault_;
}

std::optional<Json::Value> Preferences::object(const QString& key) const
{
    const std::string k = key.toStdString();
    std::lock_guard lock(mutex_);
    if (auto it = arguments_.find(k); it != arguments_.end())
        return *it;
    loadLocked();
    if (auto it = file_.find(k); it != file_.end())
        return *it;
    return std::nullopt;
}

std::optional<QString> Preferences::string(const QString& key) const
{
    const auto v = object(key);
    if (!v)
        return std::nullopt;
    if (v->is_string())
        return Json::asString(*v);
    if (v->is_number())
        return QString::fromStdString(v->dump());
    return std::nullopt;
}

double Preferences::doubleValue(const QString& key) const
{
    const auto v = object(key);
    return v ? numberOf(*v) : 0;
}

std::int64_t Preferences::integerValue(const QString& key) const
{
    const auto v = object(key);
    if (!v)
        return 0;
    if (v->is_number_integer() || v->is_number_unsigned())
        return Json::asInt(*v).value_or(0);
    const double d = numberOf(*v);
    if (!(d == d) || d >= 9.2e18 || d <= -9.2e18)
        return 0;
    return static_cast<std::int64_t>(d);
}

bool Preferences::boolValue(const QString& key) const
{
    const auto v = object(key);
    if (!v)
        return false;
    if (v->is_boolean())
        return v->get<bool>();
    if (v->is_number())
        return v->get<double>() != 0;
    if (const auto text = Json::asString(*v)) {
        for (const QChar c : text->trimmed()) {
            if (c == '0' || c == '+' || c == '-')
                continue;
            return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
        }
    }
    return false;
}

void Preferences::set(const QString& key, const Json::Value& value)
{
    bool tell = false;
    {
        std::lock_guard lock(mutex_);
        loadLocked();
        // The argument domain stays in force above the file for this process.
        file_[key.toStdString()] = value;
        tell = saveLocked();
    }
    // Posted unlocked: an observer reads saveFault() at once.
    if (tell)
        Notifier::postPreferencesUnwritable();
}

void Preferences::remove(const QString& key)
{
    bool tell = false;
    {
        std::lock_guard lock(mutex_);
        loadLocked();
        if (file_.erase(key.toStdString()) > 0)
            tell = saveLocked();
    }
    if (tell)
        Notifier::postPreferencesUnwritable();
}

void Preferences::registerArguments(const QStringList& arguments)
{
    for (int i = 0; i + 1 < arguments.size(); ++i) {
        const QString& a = arguments[i];
        // "--flag" is a mode switch, not a default; "-" alone is no key.
        if (a.size() < 2 || a[0] != '-' || a[1] == '-')
            continue;
        setArgument(a.mid(1), Json::toJson(arguments[i + 1]));
        ++i;
    }
}

void Preferences::setArgument(const QString& key, const Json::Value& value)
{
    std::lock_guard lock(mutex_);
    arguments_[key.toStdString()] = value;
}

void Preferences::reload()
{
    std::lock_guard lock(mutex_);
    loaded_ = false;
    arguments_ = Json::Value::object();
}

} // namespace quorvel
