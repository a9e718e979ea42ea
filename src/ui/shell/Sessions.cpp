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
constexpr char kSessionKept[] = "بقيت الجلسة محفوظة: تعذرت كتابة القائمة بعد حذفها.";
constexpr char kReturnHint[] = ". تعود إليها من ملف ← الجلسات المحفوظة.";

} // namespace

Sessions::Sessions(MainWindowController& main) : QObject(&main), main_(main)
{
    now = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// The items of a JSON array text, each as its slice of the text; nothing
// when the text is not one valid JSON array. Neither the check nor the walk
// recurses, so an item nested however deep costs no stack.
std::optional<QList<QByteArrayView>> arrayItems(QByteArrayView text)
{
    text = trimmed(text);
    if (text.isEmpty() || text.front() != '[' || !Json::Value::accept(text.begin(), text.end()))
        return std::nullopt;
    QList<QByteArrayView> items;
    int depth = 0;
    qsizetype start = -1;
    Json::outsideStrings(std::string_view(text.data(), std::size_t(text.size())), [&](std::size_t at, char c) {
        const qsizetype i = qsizetype(at);
        if (c == ',' && depth == 1) {
            items.append(trimmed(text.sliced(start, i - start)));
            start = -1;
        } else if (c == ']' || c == '}') {
            if (--depth == 0 && start >= 0)
                items.append(trimmed(text.sliced(start, i - start)));
        } else {
            if (depth == 1 && start < 0 && !isBlank(c))
                start = i;
            if (c == '[' || c == '{')
                ++depth;
        }
    });
    return items;
}

// The entry an item of the stored list holds; nothing for an item that is
// no object or lacks a string name or data. A date or count of another
// type reads as 0, its JSON text going to `storedDate` or `storedCount`.
std::optional<Sessions::NamedSession> entryOf(const Json::Value& item, QByteArray* storedDate,
                                              QByteArray* storedCount)
{
    if (!item.is_object())
        return std::nullopt;
    const std::optional<QString> name = Json::strictString(item, "name");
    const std::optional<QString> data = Json::strictString(item, "data");
    if (!name || !data)
        return std::nullopt;
    if (item.contains("date") && !Json::strictDouble(item, "date"))
        *storedDate = Json::dumpBytes(item.at("date"));
    if (item.contains("count") && !Json::strictInt(item, "count"))
        *storedCount = Json::dumpBytes(item.at("count"));
    return Sessions::NamedSession{*name, Json::strictDouble(item, "date").value_or(0), *data,
                                  Json::strictInt(item, "count").value_or(0)};
}

// An entry as a compact JSON object, members in the order the JSON module
// writes them; a stored date or count text stands for the session's own.
QByteArray entryText(const Sessions::NamedSession& session, const QByteArray& storedDate,
                     const QByteArray& storedCount)
{
    QByteArray text = "{\"count\":";
    text += storedCount.isEmpty() ? Json::dumpBytes(Json::Value(session.count)) : storedCount;
    text += ",\"data\":";
    text += Json::dumpBytes(Json::Value(Json::utf8(session.data)));
    text += ",\"date\":";
    text += storedDate.isEmpty() ? Json::dumpBytes(Json::Value(session.date)) : storedDate;
    text += ",\"name\":";
    text += Json::dumpBytes(Json::Value(Json::utf8(session.name)));
    text += '}';
    return text;
}

} // namespace

Sessions::Stored Sessions::read() const
{
    Stored stored;
    // Held once, as UTF-8: every item is parsed from its slice of it.
    const QByteArray text = main_.library().kv(QString::fromLatin1(listKey)).value_or(QString()).toUtf8();
    if (trimmed(text).isEmpty())
        return stored;
    const std::optional<QList<QByteArrayView>> items = arrayItems(text);
    if (!items) {
        stored.unreadable = QString::fromUtf8(text);
        return stored;
    }
    for (const QByteArrayView item : *items) {
        // An item nested too deep to handle reads as nothing and stays as its text.
        const std::optional<Json::Value> parsed = Json::parse(std::string_view(item.data(), size_t(item.size())));
        Entry entry;
        std::optional<NamedSession> session =
            parsed ? entryOf(*parsed, &entry.storedDate, &entry.storedCount) : std::nullopt;
        if (session) {
            entry.session = std::move(*session);
            stored.entries.append(std::move(entry));
        } else {
            stored.others.append(item.toByteArray());
        }
    }
    std::stable_sort(stored.entries.begin(), stored.entries.end(),
                     [](const Entry& a, const Entry& b) { return a.session.date > b.session.date; });
    return stored;
}

bool Sessions::write(const Stored& stored)
{
    Library& library = main_.library();
    // A value this version cannot read is kept aside rather than replaced.
    if (stored.unreadable && !keepAside(library, QString::fromLatin1(setAsideKey), *stored.unreadable))
        return false;
    QByteArray text = "[";
    qsizetype written = 0;
    auto add = [&](const QByteArray& item) {
        if (written++ > 0)
            text += ',';
        text += item;
    };
    for (const Entry& entry : stored.entries.first(std::min<qsizetype>(stored.entries.size(), storedLimit)))
        add(entryText(entry.session, entry.storedDate, entry.storedCount));
    // Items this version cannot read were skipped when the list was read;
    // they stay stored as they were rather than vanish at this write.
    for (const QByteArray& item : stored.others) {
        if (written >= storedLimit)
            break;
        add(item);
    }
    text += ']';
    if (!library.setKV(QString::fromLatin1(listKey), QString::fromUtf8(text)))
        return false;
    emit changed();
    return true;
}

QList<Sessions::NamedSession> Sessions::namedSessions() const
{
    Stored stored = read();
    QList<NamedSession> list;
    for (Entry& entry : stored.entries)
        list.append(std::move(entry.session));
    return list;
}

bool Sessions::storeSessions(const QList<NamedSession>& sessions)
{
    Stored stored = read();
    // An entry given back as it was read keeps what its reading set aside.
    QList<Entry> entries;
    for (const NamedSession& session : sessions) {
        const auto same = std::find_if(stored.entries.cbegin(), stored.entries.cend(),
                                       [&](const Entry& e) { return e.session == session; });
        entries.append(same != stored.entries.cend() ? *same : Entry{session, {}, {}});
    }
    stored.entries = std::move(entries);
    return write(stored);
}

bool Sessions::storeNamedSession(const QString& name, const QString& data)
{
    Stored stored = read();
    stored.entries.removeIf([&](const Entry& e) { return e.session.name == name; });
    stored.entries.prepend(Entry{{name, now(), data, std::int64_t(main_.tabs().size())}, {}, {}});
    return write(stored);
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
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString(), &main_);
}

bool Sessions::keepAside(Library& library, const QString& key, const QString& text)
{
    // A value kept already is not kept again: met at every start, it would
    // take a copy of itself each time.
    QString free = key;
    for (int n = 2;; ++n) {
        const QString held = library.kv(free).value_or(QString());
        if (held.isEmpty())
            break;
        if (held == text)
            return true;
        free = key + u'.' + QString::number(n);
    }
    return library.setKV(free, text);
}

void Sessions::openNamedSession(const NamedSession& session)
{
    constexpr char kTabsKept[] = "بقيت التبويبات المفتوحة كما هي: تعذر حفظ نسخة منها قبل إغلاقها.";
    constexpr char kUnreadableTitle[] = "تعذر فتح الجلسة";
    constexpr char kUnreadableText[] = "بيانات الجلسة المحفوظة غير مقروءة، فبقيت التبويبات المفتوحة كما هي.";
    constexpr char kBackupOpen[] = "«";
    constexpr char kBackupClose[] = "»";
    // The backup is dated just before the entry that replaced the tabs, so that
    // a save of the same moment still sorts ahead of it.
    constexpr double kBackupAge = 1;
    // Data that cannot be read would close the tabs and open nothing.
    if (!Json::parse(session.data.toUtf8())) {
        Dialogs::alert(QString::fromUtf8(kUnreadableTitle), QString::fromUtf8(kUnreadableText), &main_);
        return;
    }
    if (!main_.tabs().isEmpty()) {
        const QString current = main_.sessionJSON();
        if (!current.isEmpty()) {
            const QString prefix = QString::fromUtf8(backupPrefix);
            Stored stored = read();
            stored.entries.removeIf([&](const Entry& e) { return e.session.name.startsWith(prefix); });
            stored.entries.prepend(
                Entry{{prefix + QString::fromUtf8(kBackupOpen) + session.name + QString::fromUtf8(kBackupClose),
                       now() - kBackupAge, current, std::int64_t(main_.tabs().size())},
                      {},
                      {}});
            // Without the backup, closing the tabs would lose them.
            if (!write(stored)) {
                Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString::fromUtf8(kTabsKept), &main_);
                return;
            }
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
    Stored stored = read();
    stored.entries.removeIf([&](const Entry& e) { return e.session.name == name; });
    for (Entry& e : stored.entries) {
        if (e.session.name == oldName)
            e.session.name = name;
    }
    if (!write(stored))
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString(), &main_);
}

void Sessions::deleteNamedSession(const QString& name)
{
    Stored stored = read();
    stored.entries.removeIf([&](const Entry& e) { return e.session.name == name; });
    if (!write(stored))
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString::fromUtf8(kSessionKept), &main_);
}

QString Sessions::defaultName() const
{
    constexpr char kUntitled[] = "جلسة";
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
    constexpr char kDatePattern[] = "d MMMM، h:mm a";
    // The digits follow the user's family, as every other number does.
    return DateText::withPattern(seconds, QString::fromUtf8(kDatePattern), DateText::digitsLocale()).value_or(QString());
}

} // namespace quorvel
