#pragma once

// The named sessions of the main window: sets of tabs the user saved under a
// name, kept newest first under the user key "sessions", and reopened,
// renamed and deleted from the File menu. The window owns one; the menu
// lists namedSessions() and calls the operations with the chosen entry.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvel {

class Library;
class MainWindowController;

class Sessions : public QObject {
    Q_OBJECT
public:
    struct NamedSession {
        QString name;
        double date = 0;  // seconds since 1970
        QString data;     // a session document
        std::int64_t count = 0; // tabs open when it was saved

        bool operator==(const NamedSession&) const = default;
    };

    static constexpr const char* listKey = "sessions";
    // Where a stored list that is no JSON array is kept before the next write
    // replaces it; a second one goes under this key and ".2", and so on.
    static constexpr const char* setAsideKey = "sessions.unreadable";
    // A longer list loses its oldest entries at the next write.
    static constexpr int storedLimit = 1000;
    // The one backup kept of the tabs a named session replaced.
    static constexpr const char* backupPrefix = "قبل فتح ";

    explicit Sessions(MainWindowController& main);

    // The stored list, newest first; entries of equal date keep their
    // stored order; an item that is no usable entry is skipped. Empty when
    // nothing readable is stored.
    QList<NamedSession> namedSessions() const;
    // Whether the stored list is no JSON array: nothing of it can be listed.
    bool listUnreadable() const { return read().unreadable.has_value(); }
    // Writes the given entries in order, then the stored items that read as
    // no entry, as their stored text; at most storedLimit in all. A stored
    // value that is no JSON array is first kept under setAsideKey. False
    // when a write failed.
    bool storeSessions(const QList<NamedSession>& sessions);

    // The save-as dialogue: asks for a name (offering the active tab's title
    // and the time) and keeps the open tabs under it. Refuses with a message
    // when no tab is open.
    void saveNamedSession();
    // Adds an entry for a session document, dated now, counting the open
    // tabs; an entry of the same name is replaced.
    bool storeNamedSession(const QString& name, const QString& data);
    // Replaces the open tabs by those of a named session, first keeping the
    // open ones as the single backup entry. Data that cannot be read, or a
    // backup that cannot be written, leaves the tabs open and is said.
    void openNamedSession(const NamedSession& session);
    // The rename dialogue for an entry; renaming onto another entry's name
    // replaces that entry.
    void renameNamedSession(const QString& oldName);
    // Removes the entries of that name, without asking; a failed write is said.
    void deleteNamedSession(const QString& name);

    // Stores `text` under `key`, or under key.2, key.3… when that holds
    // something already, so that a value this version cannot read survives
    // the write that replaces it; a text one of those keys holds already is
    // not stored again. False when the write failed.
    static bool keepAside(Library& library, const QString& key, const QString& text);

    // The name the save-as dialogue offers: the active tab's title (else
    // "جلسة"), " · ", and the time in Arabic.
    QString defaultName() const;
    // "N تبويب/تبويبان/تبويبات" for a tab count, digits in the user's family.
    static QString tabCountText(qsizetype count);
    // A time in seconds since 1970 as "d MMMM، h:mm a" in Arabic.
    static QString dateText(double seconds);

    // The clock the entries are dated by, in seconds since 1970;
    // replaceable for tests.
    std::function<double()> now;

signals:
    // The stored list was written.
    void changed();

private:
    // A stored entry with what reading it could not keep: a date or count
    // of another type, as its JSON text, written back as it was.
    struct Entry {
        NamedSession session;
        QByteArray storedDate;
        QByteArray storedCount;
    };
    // The stored value, read once for an operation that rewrites it.
    struct Stored {
        QList<Entry> entries;              // newest first
        QList<QByteArray> others;          // items that are no entry, as stored
        std::optional<QString> unreadable; // a value that is no JSON array
    };
    Stored read() const;
    bool write(const Stored& stored);

    MainWindowController& main_;
};

} // namespace quorvel
