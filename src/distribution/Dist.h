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

#include "core/Arabic.h"
#include "core/DistFetch.h"
#include "scholar/SmartBuild.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <utility>

namespace quorvel {

class SQLiteDB;
class Statement;

namespace Dist {

inline constexpr int formatVersion = 1;
// The normal-form rules a release states it was built for. A release
// carries its pages as written and the installer normalises them with the
// core's current rules (Arabic::normVersion), which a store records apart;
// later rules only join hamza and madda marks that rules 1 split, so every
// published release stays accepted under this number.
inline constexpr int normVersion = 1;
// "QRVL" read as a big-endian number: the SQLite application id of every package.
inline constexpr std::int32_t appID = 0x5152564C;
// The longest text one page may hold, in UTF-16 code units (QString's
// length). Installing and indexing a page costs some thirty times its size,
// and no book page comes near this; a release holding a longer page is
// refused by its builder and by the installer.
inline constexpr qsizetype maxPageLength = 4 * 1024 * 1024;
// The longest heading title and volume label, in the same units: a heading
// may be a whole passage, a label is a few words.
inline constexpr qsizetype maxHeadingLength = 16 * 1024;
inline constexpr qsizetype maxVolumeLabelLength = 256;
// The most bytes any one value of a package may take, the longest page in
// UTF-8 (three bytes to a code unit at worst). The package's connection is
// held to it, so a longer value is refused before it is read at all.
inline constexpr int maxPackageValueBytes = 3 * maxPageLength;

// The publisher's Ed25519 public key, standard base64 of its 32 bytes. Fixed
// at build time.
QString publicKeyB64();
// Replaces the trusted key for the rest of the process; an empty text restores
// the built-in one. Lets tests and the release builder trust a key of their own.
void overridePublicKey(const QString& b64);

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
    std::optional<QString> fullName = std::nullopt; // both left out by the older catalogues
    std::optional<QString> bio = std::nullopt;
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

// The content of the catalogue file.
struct Catalog {
    std::int64_t format = 0;
    std::int64_t release = 0;
    std::int64_t normVer = 0;
    QList<CatCategory> categories;
    QList<CatAuthor> authors;
    QList<CatBook> books; // in the publisher's order
    std::optional<SmartBuild::Pack> smart; // the word-model pack
};

// Strict decoders: every required key present with its type, unknown keys
// ignored, null or absent optionals absent. Throw PlatformError on failure.
Index decodeIndex(const QByteArray& json);
Catalog decodeCatalog(const QByteArray& json);

// True when sigB64 (standard base64, surrounding whitespace allowed) is a
// valid Ed25519 signature of data under the trusted public key.
bool verify(const QByteArray& data, const QString& sigB64);

// Fetches, verifies and decodes the release at base; the first failing check
// throws (index signature, format, release age, expiry, catalogue digest and
// size, normalisation version, file names). Blocks.
std::pair<Index, Catalog> loadCatalog(const QUrl& base, std::int64_t lastRelease);

// The content root of an opened book package: 64 lowercase hexadecimal digits
// over its pages, headings, the book id and the catalogue title.
QString root(SQLiteDB& package, std::int64_t bookId, const QString& title);

// The same root fed row by row, so that an installer verifies the package in
// the pass that stores it. Rows come from pagesQuery and headingsQuery, in
// their order and with their columns.
class RootBuilder {
public:
    static constexpr const char* pagesQuery = "SELECT pid, seq, vol, page_num, content FROM page ORDER BY seq";
    static constexpr const char* headingsQuery =
        "SELECT id, page_seq, parent_id, level, title FROM toc ORDER BY id";

    RootBuilder();
    // `content` is the row's content column as the caller already read it; a
    // column stored as neither text nor a BLOB counts as empty, as in root().
    void addPage(const Statement& row, const std::optional<QString>& content);
    void addPage(const Statement& row);
    void addHeading(const Statement& row);
    QString finish(std::int64_t bookId, const QString& title);

private:
    QCryptographicHash hash_;
};

// An ISO 8601 internet date-time ("2025-01-31T12:00:00Z" or with a numeric
// offset such as "+03:00"), as seconds since 1970; nothing for any other form.
std::optional<std::int64_t> parseInternetDate(const QString& text);

} // namespace Dist
} // namespace quorvel
