#include "mcp/ClaudeLink.h"

#include "core/AtomicFile.h"
#include "core/Json.h"
#include "core/WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorvel::ClaudeLink {

namespace {

using Json::Value;

const char* const kConfigFolder = "Claude";
const char* const kConfigFile = "claude_desktop_config.json";
const char* const kBackupExtension = ".quorvel-backup";
const char* const kNotAnObject = "ملف إعداد Claude ليس JSON صالحا، فلم يعدل.";
const char* const kNotAFile = "ملف إعداد Claude ليس ملفا عاديا بحجم إعداد، فلم يعدل.";

[[noreturn]] void fail(const QString& message)
{
    throw Error(message);
}

// The file as it was read, and its top-level object: empty when there is no
// file or it is empty.
struct Config {
    std::optional<QByteArray> bytes; // nothing when there is no file
    Value value = Value::object();
};

Config readConfig()
{
    // A pipe in the file's place must not hold the link.
    const WholeFile::Read file = WholeFile::read(configPath(), Json::defaultFileLimit);
    switch (file.problem) {
    case WholeFile::Problem::none:
        break;
    case WholeFile::Problem::cannotOpen:
        if (file.missing())
            return {};
        [[fallthrough]];
    case WholeFile::Problem::unreadable:
        fail(qt_error_string(file.error));
    case WholeFile::Problem::notRegular:
    case WholeFile::Problem::tooLarge:
        fail(QString::fromUtf8(kNotAFile));
    }
    const QByteArray& data = *file.bytes;
    if (data.isEmpty())
        return {data};
    // Whether it is no JSON at all or JSON of another shape, the user's file
    // is left alone and the same reason is given.
    std::optional<Value> config = Json::parse(data);
    if (!config || !config->is_object())
        fail(QString::fromUtf8(kNotAnObject));
    return {data, std::move(*config)};
}

} // namespace

QString binary()
{
    if (QCoreApplication::instance()) {
        const QString path = QCoreApplication::applicationFilePath();
        if (!path.isEmpty())
            return path;
    }
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return self.isEmpty() ? QStringLiteral("quorvel") : self;
}

QString configPath()
{
    const QString overridden = qEnvironmentVariable("QUORVEL_CLAUDE_CONFIG");
    if (qEnvironmentVariableIsSet("QUORVEL_CLAUDE_CONFIG"))
        return overridden;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
           + QString::fromLatin1(kConfigFolder) + QLatin1Char('/') + QString::fromLatin1(kConfigFile);
}

QString backupPath()
{
    return configPath() + QString::fromLatin1(kBackupExtension);
}

bool desktopInstalled()
{
    return QFileInfo(configPath()).absoluteDir().exists();
}

bool linked()
{
    try {
        const Value config = readConfig().value;
        const auto servers = config.find("mcpServers");
        if (servers == config.end() || !servers->is_object())
            return false;
        const auto entry = servers->find(name);
        if (entry == servers->end() || !entry->is_object())
            return false;
        const auto command = entry->find("command");
        return command != entry->end() && command->is_string()
               && Json::qstr(command->get<std::string>()) == binary();
    } catch (const Error&) {
        return false;
    }
}

void link(bool on)
{
    const Config read = readConfig();
    Value config = read.value;
    Value servers = Value::object();
    if (const auto it = config.find("mcpServers"); it != config.end() && it->is_object())
        servers = *it;
    if (on)
        servers[name] = Value{{"command", Json::utf8(binary())}, {"args", Value::array({"--mcp"})}};
    else
        servers.erase(name);
    config["mcpServers"] = std::move(servers);

    const QString path = configPath();
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        fail(QStringLiteral("تعذر إنشاء المجلد ") + info.absolutePath());

    // The backup holds the very bytes the change was made from.
    if (read.bytes) {
        if (const std::optional<QString> failed = AtomicFile::replace(backupPath(), *read.bytes))
            fail(*failed);
    }

    const QByteArray bytes = Json::dumpBytes(config, Json::DumpOptions{false, 2});
    if (const std::optional<QString> failed = AtomicFile::replace(path, bytes))
        fail(*failed);
}

QString shellQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString codeCommand()
{
    // Quoted for the shell it is pasted into: a path holding "$", "`", "\"
    // or a quote must stay one word and never run anything.
    return QStringLiteral("claude mcp add --scope user ") + QLatin1String(name) + QStringLiteral(" -- ")
           + shellQuote(binary()) + QStringLiteral(" --mcp");
}

DialogContent dialogContent(bool isLinked, bool isInstalled)
{
    DialogContent content;
    content.message = QStringLiteral("الربط بـ Claude");
    content.informative =
        (isLinked ? QStringLiteral("المكتبة مربوطة بتطبيق Claude الآن.")
                  : QStringLiteral("المكتبة غير مربوطة بتطبيق Claude."))
        + QStringLiteral("\n\n")
        + QStringLiteral("بعد الربط يستطيع Claude البحث في كتب المكتبة وقراءة صفحاتها وحساب جداولها، "
                         "وينقل بالعزو إلى الكتاب والجزء والصفحة. يعمل الربط على جهازك: Claude "
                         "يستدعي هذا التطبيق محليا، والكتب لا ترفع إلى أي مكان.")
        + QStringLiteral("\n\n") + QStringLiteral("أعد تشغيل تطبيق Claude بعد الربط أو إلغائه.");
    content.firstButton = isLinked ? QStringLiteral("إلغاء الربط") : QStringLiteral("ربط بتطبيق Claude");
    content.copyButton = QStringLiteral("نسخ أمر Claude Code");
    content.closeButton = QStringLiteral("إغلاق");
    if (!isInstalled && !isLinked) {
        content.firstEnabled = false;
        content.informative += QStringLiteral("\n") + QStringLiteral("لم يعثر على تطبيق Claude على هذا الجهاز.");
    }
    return content;
}

FollowUp toggle()
{
    const bool wasLinked = linked();
    try {
        link(!wasLinked);
    } catch (const Error& error) {
        return {QStringLiteral("تعذر تعديل إعداد Claude"), error.message()};
    }
    if (wasLinked)
        return {QStringLiteral("ألغي الربط"), QStringLiteral("أعد تشغيل تطبيق Claude.")};
    return {QStringLiteral("تم الربط"),
            QStringLiteral("أعد تشغيل تطبيق Claude، ثم اسأله مثلا: ابحث في مكتبة قورفل عن شروط وجوب الزكاة.")};
}

FollowUp copied()
{
    return {QStringLiteral("نسخ الأمر"),
            QStringLiteral("الصقه في الطرفية (Terminal) حيث يعمل Claude Code:") + QStringLiteral("\n\n")
                + codeCommand()};
}

} // namespace quorvel::ClaudeLink
