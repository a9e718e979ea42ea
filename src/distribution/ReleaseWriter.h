#pragma once

// The producing side of the release format: book packages, the catalogue, the
// index and its signature. The application itself never writes releases; the
// sample-release builder and the test fixtures do, through the same content
// root recipe the installer checks, so the two cannot drift apart.

#include "core/Json.h"
#include "distribution/Dist.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

namespace quorvel::ReleaseWriter {

struct KeyPair {
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes
};

// A fresh random Ed25519 key pair; nothing when the crypto library fails.
std::optional<KeyPair> generateKeyPair();
// Standard base64 with padding.
QString base64(const QByteArray& bytes);
// The detached Ed25519 signature of data, as standard base64 (88 characters).
QString sign(const QByteArray& data, const QByteArray& secretKey);

// One row of a package's "page" table; absent values are stored as NULL.
struct Page {
    std::optional<std::int64_t> pid;
    std::optional<std::int64_t> seq;
    std::optional<QString> vol;
    std::optional<std::int64_t> pageNum;
    std::optional<QString> content;
};

// One row of a package's "toc" table.
struct Heading {
    std::optional<std::int64_t> id;
    std::optional<QString> title;
    std::optional<std::int64_t> pageSeq;
    std::optional<std::int64_t> parentId;
    std::optional<std::int64_t> level;
};

struct Book {
    // Catalogue fields other than the derived ones (id, title, author_id,
    // category_id, book_date, edition, publisher, source, license).
    Json::Value meta = Json::Value::object();
    QList<Page> pages;
    QList<Heading> toc;
    std::int32_t applicationId = Dist::appID;
};

// The members of `from` named in `keys` that are present and not null, as a
// new object: a catalogue entry's fields without the ones it does not carry.
Json::Value pick(const Json::Value& from, std::initializer_list<const char*> keys);

// Writes an uncompressed package database at path (replacing any file there);
// false when SQLite fails.
bool writePackage(const QString& path, const Book& book);

// A book in the corpus layout ("pages" with seq, vol, page_num, content;
// "toc" with title, page_seq, level, parent index) under the given catalogue
// metadata. Page ids are bookId × 100000 + seq and heading ids
// bookId × 100000 + position, so they stay unique across a library.
std::optional<Book> fromCorpus(const Json::Value& bookJson, const Json::Value& meta);

// The Quran from a text of "sura|verse|text" lines (lines starting with "#"
// form its copyright block): the block verbatim on page 1, then one page per
// sura opened by the heading line "<sura> سورة <name>", one heading each.
// With a list of Mushaf pages (see readMushafPages) the verses follow the
// block on those pages instead, each page numbered as in the Mushaf, a
// sura's heading line where it starts, and each sura's heading pointing at
// its page. Nothing when the text or the page list is not complete.
std::optional<Book> fromQuranText(const QString& path, const Json::Value& meta,
                                  const QString& mushafPagesPath = {});

// The first verse (sura, verse) of each Mushaf page, in page order, from
// "page|sura|verse" lines ("#" lines are comments); nothing unless the pages
// run 1, 2, … without a gap and their first verses ascend.
std::optional<QList<std::pair<int, int>>> readMushafPages(const QString& path);

// Why the book may not be released, in Arabic: a page, heading title or
// volume label longer than Dist allows, which every installer would refuse.
// Nothing when it may.
std::optional<QString> refusal(const Book& book);

// Writes the compressed package of book into dir under fileName and returns
// its complete catalogue entry (root, sizes, digest, pages, vols); nothing on
// a failure, `why` then receiving a write's reason when given.
std::optional<Json::Value> addBook(const QString& dir, const Book& book, const QString& fileName,
                                   QString* why = nullptr);

struct ReleaseInfo {
    std::int64_t release = 1;
    QString generated;
    QString expires;
    QString catalogFile = QStringLiteral("catalog-1.json");
    std::int64_t normVer = Dist::normVersion;
    std::int64_t format = Dist::formatVersion;
};

// Writes the catalogue (categories, authors, books entries and, when not
// null, the word-model pack as its "smart" member), "index.json" and
// "index.json.sig" into dir; false on a failure, `why` then receiving a
// write's reason when given.
bool writeRelease(const QString& dir, const ReleaseInfo& info, const Json::Value& categories,
                  const Json::Value& authors, const Json::Value& books, const QByteArray& secretKey,
                  const Json::Value& smart = nullptr, QString* why = nullptr);

// Copies the word-model pack of `modelDir` ("wordvec.npy", "vocab.json")
// into the release folder and returns the catalogue's "smart" member naming
// them with their sizes and digests; nothing when a file cannot be copied or
// the pack would not serve a meaning search (truncated, of the wrong shape,
// empty or not finite), `why` then receiving the reason when given.
std::optional<Json::Value> addWordModel(const QString& dir, const QString& modelDir, QString* why = nullptr);

// Writes bytes to dir/name whole or not at all; false on failure, `why`
// then receiving the file's name and the reason when given.
bool writeFile(const QString& dir, const QString& name, const QByteArray& bytes, QString* why = nullptr);

} // namespace quorvel::ReleaseWriter
