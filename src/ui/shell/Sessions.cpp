#include "ui/shell/Sessions.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/DateText.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "ui/kit/Dialogs.h"
#include "ui/shell/MainWindowController.h"

#include <QDateTime>


#include <algorithm>

namespace quorvel {

namespace {

constexpr char kNoTabsTitle[] = "لا تبويبات مفتوحة لحفظها";
constexpr char kSaveAsTitle[] = "حفظ الجلسة باسم";
constexpr char kRenameTitle[] = "إعادة تسمية الجلسة";
constexpr char kSaveFailedTitle[] = "تعذر الحفظ";
constexpr char kUntitled[] = "جلسة";
constexpr char kReturnHint[] = ". تعود إليها من ملف ← الجلسات المحفوظة.";
constexpr char kBackupOpen[] = "«";
constexpr char kBackupClose[] = "»";

constexpr char kDatePattern[] = "d MMMM، h:mm a";

// The backup is dated just before the entry that replaced the tabs, so that
// a save of the same moment still sorts ahead of it.
constexpr double kBackupAge = 1;

} // namespace

Sessions::Sessions(MainWindowController& main) : QObject(&main), main_(main)
{
    now = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
}

namespace {

// The entry an item of the stored list holds; nothing for an item that is
// no object or lacks a string name or data.
std::optional<Sessions::NamedSession> entryOf(const Json::Value& item)
{
    if (!item.is_object())
        return std::nullopt;
    const std::optional<QString> name = Json::strictString(item, "name");
    const std::optional<QString> data = Json::strictString(item, "data");
    if (!name || !data)
        return std::nullopt;
    return Sessions::NamedSession{*name, Json::strictDouble(item, "date").value_or(0), *data,
                                  Json::strictInt(item, "count").value_or(0)};
}

// The stored list as JSON; nothing when absent or not an array.
std::optional<Json::Value> storedList(const Library& library)
{
    const std::optional<QString> stored = library.kv(QString::fromLatin1(Sessions::listKey));
    if (!stored)
        return std::nullopt;
    std::optional<Json::Value> document = Json::parse(stored->toUtf8());
    if (!document || !document->is_array())
        return std::nullopt;
    return document;
}

} // namespace

QList<Sessions::NamedSession> Sessions::namedSessions() const
{
    QList<NamedSession> list;
    const std::optional<Json::Value> document = storedList(main_.library());
    if (!document)
        return list;
    for (const Json::Value& item : *document) {
        if (auto entry = entryOf(item))
            list.append(std::move(*entry));
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const NamedSession& a, const NamedSession& b) { return a.date > b.date; });
    return list;
}

bool Sessions::storeSessions(const QList<NamedSession>& sessions)
{
    Json::Value array = Json::Value::array();
    for (const NamedSession& session : sessions.first(std::min<qsizetype>(sessions.size(), storedLimit))) {
        Json::Value item = Json::Value::object();
        item["name"] = Json::utf8(session.name);
        item["date"] = session.date;
        item["data"] = Json::utf8(session.data);
        item["count"] = session.count;
        array.push_back(std::move(item));
    }
    // Items this version cannot read were skipped when the list was read;
    // they stay stored as they were rather than vanish at this write.
    if (const std::optional<Json::Value> document = storedList(main_.library())) {
        for (const Json::Value& item : *document) {
            if (array.size() >= size_t(storedLimit))
                break;
            if (!entryOf(item))
                array.push_back(item);
        }
    }
    if (!main_.library().setKV(QString::fromLatin1(listKey), QString::fromUtf8(Json::dumpBytes(array))))
        return false;
    emit changed();
    return true;
}

bool Sessions::storeNamedSession(const QString& name, const QString& data)
{
    QList<NamedSession> list = namedSessions();
    list.removeIf([&](const NamedSession& s) { return s.name == name; });
    list.prepend({name, now(), data, std::int64_t(main_.tabs().size())});
    return storeSessions(list);
}

void Sessions::saveNamedSession()
{
    const qsizetype count = main_.tabs().size();
    if (count == 0) {
        Dialogs::alert(QString::fromUtf8(kNoTabsTitle), QString(), &main_);
        return;
    }
    // The tabs as they are now, whatever happens while the dialogue is open.
    const QString data = main_.sessionJSON();
    if (data.isEmpty())
        return;
    const std::optional<QString> typed =
        Dialogs::prompt(QString::fromUtf8(kSaveAsTitle), tabCountText(count) + QString::fromUtf8(kReturnHint),
                        defaultName(), QString::fromUtf8(Dialogs::saveTitle));
    if (!typed)
        return;
    const QString name = typed->trimmed();
    if (name.isEmpty())
        return;
    if (!storeNamedSession(name, data))
        Dialogs::alert(QString::fromUtf8(kSaveFailedTitle), QString(), &main_);
}

void Sessions::openNamedSession(const NamedSession& session)
{
    if (!main_.tabs().isEmpty()) {
        const QString current = main_.sessionJSON();
        if (!current.isEmpty()) {
            const QString prefix = QString::fromUtf8(backupPrefix);
            QList<NamedSession> list = namedSessions();
            list.removeIf([&](const NamedSession& s) { return s.name.startsWith(prefix); });
            list.prepend({prefix + QString::fromUtf8(kBackupOpen) + session.name + QString::fromUtf8(kBackupClose),
                          now() - kBackupAge, current, std::int64_t(main_.tabs().size())});
            storeSessions(list);
        }
    }
    for (qsizetype i = main_.tabs().size() - 1; i >= 0; --i)
        main_.close(int(i));
    main_.restoreSession(session.data);
}

void Sessions::renameNamedSession(const QString& oldName)
{
    const std::optional<QString> typed = Dialogs::prompt(QString::fromUtf8(kRenameTitle), QString(), oldName,
                                                         QString::fromUtf8(Dialogs::saveTitle));
    if (!typed)
        return;
    const QString name = typed->trimmed();
    if (name.isEmpty() || name == oldName)
        return;
    QList<NamedSession> list = namedSessions();
    list.removeIf([&](const NamedSession& s) { return s.name == name; });
    for (NamedSession& s : list) {
        if (s.name == oldName)
            s.name = name;
    }
    if (!storeSessions(list))
        Dialogs::alert(QString::fromUtf8(kSaveFailedTitle), QString(), &main_);
}

void Sessions::deleteNamedSession(const QString& name)
{
    QList<NamedSession> list = namedSessions();
    list.removeIf([&](const NamedSession& s) { return s.name == name; });
    storeSessions(list);
}

QString Sessions::defaultName() const
{
    const int active = main_.active();
    QString title;
    if (active >= 0 && active < main_.tabs().size())
        title = main_.tabs()[active]->title();
    if (title.isEmpty())
        title = QString::fromUtf8(kUntitled);
    return title + QString::fromUtf8(CountedNoun::separator) + dateText(now());
}

QString Sessions::tabCountText(qsizetype count)
{
    static const CountedNoun tabs(QStringLiteral("تبويب"), QStringLiteral("تبويبان"), QStringLiteral("تبويبات"),
                                  QStringLiteral("تبويبا"));
    return tabs.count(count);
}

QString Sessions::dateText(double seconds)
{
    // The digits follow the user's family, as every other number does.
    return DateText::withPattern(seconds, QString::fromUtf8(kDatePattern), DateText::digitsLocale()).value_or(QString());
}

} // namespace quorvel
