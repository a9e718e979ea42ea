#pragma once

// The user-defaults store: typed preferences kept as one JSON object in
// "<XDG config>/quorvel/preferences.json", so Booleans, numbers, texts and
// lists keep their types. Above the file sits a volatile argument domain,
// filled from "-key value" pairs of the command line and consulted first.
//
// Reads never fail: a missing or unreadable file, or one that is not a JSON
// object (nested too deep included), reads as empty and is left untouched
// until a setter writes; that write first copies it to "<file>.unreadable"
// (".2", ".3"… after it when taken). Writes replace the file atomically; a
// write that fails keeps the old file and the new value in memory, and the
// first failure after a success posts
// Notifier::preferencesUnwritable. All members are safe to call from any
// thread.

#include "core/Json.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <optional>

namespace quorvel {

class Preferences {
public:
    // The process's store, at the standard place, created on first use.
    static Preferences& standard();

    // A store over a given file (tests, tools).
    explicit Preferences(QString filePath);

    QString filePath() const { return path_; }

    // The raw stored value: the argument domain first, then the file.
    std::optional<Json::Value> object(const QString& key) const;

    // Typed readings with the usual user-defaults coercions: numbers and
    // numeric texts read as numbers, Booleans as 0/1; a text reads true when
    // it starts with Y, y, T, t or a non-zero digit.
    std::optional<QString> string(const QString& key) const;
    double doubleValue(const QString& key) const;
    std::int64_t integerValue(const QString& key) const;
    bool boolValue(const QString& key) const;

    void set(const QString& key, const Json::Value& value);
    void set(const QString& key, const QString& value) { set(key, Json::toJson(value)); }
    void set(const QString& key, const char* value) { set(key, QString::fromUtf8(value)); }
    void set(const QString& key, bool value) { set(key, Json::Value(value)); }
    void set(const QString& key, double value) { set(key, Json::Value(value)); }
    void set(const QString& key, std::int64_t value) { set(key, Json::Value(value)); }
    void set(const QString& key, int value) { set(key, Json::Value(std::int64_t(value))); }
    void remove(const QString& key);

    // Why the last save failed, in Arabic; nothing once a save succeeds (or
    // before any fails).
    std::optional<QString> saveFault() const;

    // Sets volatile values from "-key value" pairs; other arguments are
    // skipped. Values are kept as texts, as the command line gives them.
    void registerArguments(const QStringList& arguments);
    void setArgument(const QString& key, const Json::Value& value);

    // Forgets everything held in memory and reads the file again; the
    // argument domain is emptied too. For tests.
    void reload();

private:
    void loadLocked() const;
    // Writes the file; true when this save failed and the one before it did
    // not, so the failure is to be told.
    bool saveLocked() const;

    QString path_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable Json::Value file_ = Json::Value::object();
    mutable bool unreadable_ = false; // the file held something that is no readable object
    mutable std::optional<QString> saveFault_;
    Json::Value arguments_ = Json::Value::object();
};

} // namespace quorvel
