#pragma once

// The release format: the records read from "index.json" and the catalogue,
// the constants every release must agree with, and the routines that fetch a
// release's files, check the publisher's signature and accept or refuse a
// release.
//
// Trust runs in one chain: the Ed25519 signature covers the exact bytes of
// "index.json"; the index names the catalogue and its SHA-256; the catalogue
// names every book package with its size, SHA-256 and content root. This file
// enforces the first two links; the installer (LocalStore) the last.
//
// Fetching and loading block their thread (network and file work); run them
// off the GUI thread. Refusals throw DistError with the Arabic sentence shown
// to the user; network, file and decoding failures throw PlatformError with
// the platform's own description.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

namespace quorvel {

class SQLiteDB;

namespace Dist {

inline constexpr int formatVersion = 1;
inline constexpr int normVersion = 1;
// "QRVL" read as a big-endian number: the SQLite application id of every package.
inline constexpr std::int32_t appID = 0x5152564C;

// The publisher's Ed25519 public key, standard base64 of its 32 bytes. Fixed
// at build time.
QString publicKeyB64();
// Replaces the trusted key for the rest of the process; an empty text restores
// the built-in one. Lets tests and the release builder trust a key of their own.
void overridePublicKey(const QString& b64);

// A refusal of this subsystem, carrying its Arabic message.
class DistError : public std::runtime_error {
public:
    explicit DistError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A failure of the network, the file system, decompression or JSON decoding,
// passed on with the platform's own description.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString& description() const { return description_; }

private:
    QString description_;
};

// The user-facing text of any failure thrown through this subsystem.
QString describe(const std::exception& error);

struct IndexCat {
    QString file;
    QString sha256;
    std::int64_t size = 0;
};

// The content of "index.json".
struct Index {
    std::int64_t format = 0;
    std::int64_t release = 0;
    QString generated;
    QString expires;
    IndexCat catalog;
    std::optional<bool> isPublic; // the "public" key
};

struct CatCategory {
    std::int64_t id = 0;
    QString name;
    std::optional<std::int64_t> parentId;
    std::optional<std::int64_t> sort;
};

struct CatAuthor {
    std::int64_t id = 0;
    QString name;
    std::optional<std::int64_t> deathYear;
    std::optional<QString> deathText;
};

struct CatBook {
    std::int64_t id = 0;
    QString title;
    std::optional<std::int64_t> authorId;
    std::optional<std::int64_t> categoryId;
    std::optional<std::int64_t> bookDate;
    std::optional<QString> edition;
    std::optional<QString> publisher;
    std::optional<QString> source;
    std::optional<QString> license;
    std::int64_t pages = 0;
    QStringList vols;
    QString root;
    QString file;
    std::int64_t size = 0;
    std::int64_t usize = 0;
    QString sha256;
};

// One file of the word-model pack a catalogue may carry.
struct PackFile {
    QString file;
    QString sha256;
    std::int64_t size = 0;
};

struct ModelPack {
    PackFile wordvec;
    PackFile vocab;
};

// The content of the catalogue file.
struct Catalog {
    std::int64_t format = 0;
    std::int64_t release = 0;
    std::int64_t normVer = 0;
    QList<CatCategory> categories;
    QList<CatAuthor> authors;
    QList<CatBook> books; // in the publisher's order
    std::optional<ModelPack> smart;
};

// Strict decoders: every required key present with its type, unknown keys
// ignored, null or absent optionals absent. Throw PlatformError on failure.
Index decodeIndex(const QByteArray& json);
Catalog decodeCatalog(const QByteArray& json);

// Lowercase hexadecimal, two digits per byte.
QString hex(const QByteArray& bytes);
// SHA-256 of the bytes as 64 lowercase hexadecimal digits.
QString sha256(const QByteArray& bytes);
// True when sigB64 (standard base64, surrounding whitespace allowed) is a
// valid Ed25519 signature of data under the trusted public key.
bool verify(const QByteArray& data, const QString& sigB64);

// The URL of a file named relative to a release base: the name appended as
// one path component, whether or not the base ends with "/".
QUrl fileURL(const QUrl& base, const QString& name);
// A release base from a command-line or settings text: a text starting with
// "http" is a network URL, anything else a folder (relative to the current
// directory). Nothing when an "http" text is not a usable URL.
std::optional<QUrl> baseFromText(const QString& text);

// True for a name that stays inside its release base: not empty, no "/" or
// "\\", not "." or "..".
bool isPlainFileName(const QString& name);

// The bytes of a release file: read from disk for a folder base, or fetched
// with an HTTP GET (120 s limit, status 200 required). A name that is not a
// plain file name is refused unfetched. Blocks.
QByteArray fetch(const QUrl& base, const QString& name);

// Fetches, verifies and decodes the release at base, refusing it as described
// in the messages below, first failure first. Blocks.
std::pair<Index, Catalog> loadCatalog(const QUrl& base, std::int64_t lastRelease);

// The content root of an opened book package: 64 lowercase hexadecimal digits
// over its pages, headings, the book id and the catalogue title.
QString root(SQLiteDB& package, std::int64_t bookId, const QString& title);

// A plain decimal integer: an optional "+" or "-", then ASCII digits only,
// within 64 bits; nothing for anything else.
std::optional<std::int64_t> parseInteger(const QString& text);

// An ISO 8601 internet date-time ("2025-01-31T12:00:00Z" or with a numeric
// offset such as "+03:00"), as seconds since 1970; nothing for any other form.
std::optional<std::int64_t> parseInternetDate(const QString& text);

} // namespace Dist
} // namespace quorvel
