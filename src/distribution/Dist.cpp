#include "distribution/Dist.h"

#include "core/Json.h"
#include "core/SQLiteDB.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <sodium.h>

#include <mutex>

#ifndef QUORVEL_PUBLIC_KEY
#define QUORVEL_PUBLIC_KEY ""
#endif

namespace quorvel::Dist {

namespace {

constexpr int kEd25519KeyBytes = 32;
constexpr int kEd25519SignatureBytes = 64;
// The part of a page's content digest that enters the content root.
constexpr int kPageDigestDigits = 32;
// The largest catalogue: it is read and decoded whole, and a library of tens
// of thousands of books keeps its catalogue well under this.
constexpr std::int64_t maxCatalogBytes = std::int64_t(64) << 20;

const QString msgBadSignature = QStringLiteral("توقيع فهرس الإصدار غير صحيح: رُفض المصدر.");
const QString msgFormatPrefix = QStringLiteral("صيغة الإصدار ");
const QString msgFormatSuffix = QStringLiteral(" أحدث من هذا التطبيق؛ حدّث التطبيق.");
const QString msgReleasePrefix = QStringLiteral("الإصدار ");
const QString msgReleaseMiddle = QStringLiteral(" أقدم من المثبّت (");
const QString msgReleaseSuffix = QStringLiteral("): رُفض.");
const QString msgExpired = QStringLiteral("انتهت صلاحية فهرس الإصدار؛ اطلب إصداراً أحدث.");
const QString msgCatalogDigest = QStringLiteral("بصمة فهرس الكتب لا تطابق.");
// A signed file no release needs this large: an endless or swollen answer.
const QString msgTooLarge = QStringLiteral("ملف الإصدار «%1» أكبر من المقبول: رُفض المصدر.");
const QString msgNormPrefix = QStringLiteral("قواعد التطبيع ");
const QString msgNormSuffix = QStringLiteral(" غير معروفة لهذا التطبيق.");

std::mutex keyMutex;
QString keyOverride;

// ---- strict decoding ------------------------------------------------------

[[noreturn]] void missing(const QString& path)
{
    throw PlatformError(QStringLiteral("تعذّرت قراءة بيانات الإصدار: الحقل «%1» مفقود.").arg(path));
}

[[noreturn]] void wrongType(const QString& path)
{
    throw PlatformError(QStringLiteral("تعذّرت قراءة بيانات الإصدار: الحقل «%1» ليس من النوع الصحيح.").arg(path));
}

QString member(const QString& path, const char* key)
{
    return path.isEmpty() ? QString::fromLatin1(key) : path + u'.' + QString::fromLatin1(key);
}

const Json::Value& required(const Json::Value& object, const char* key, const QString& path)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        missing(member(path, key));
    return *it;
}

const Json::Value* optionalMember(const Json::Value& object, const char* key)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

std::int64_t reqInt(const Json::Value& object, const char* key, const QString& path)
{
    auto v = Json::asInt(required(object, key, path));
    if (!v)
        wrongType(member(path, key));
    return *v;
}

QString reqString(const Json::Value& object, const char* key, const QString& path)
{
    auto v = Json::asString(required(object, key, path));
    if (!v)
        wrongType(member(path, key));
    return *v;
}

std::optional<std::int64_t> optInt(const Json::Value& object, const char* key, const QString& path)
{
    const Json::Value* value = optionalMember(object, key);
    if (!value)
        return std::nullopt;
    auto v = Json::asInt(*value);
    if (!v)
        wrongType(member(path, key));
    return v;
}

std::optional<QString> optString(const Json::Value& object, const char* key, const QString& path)
{
    const Json::Value* value = optionalMember(object, key);
    if (!value)
        return std::nullopt;
    auto v = Json::asString(*value);
    if (!v)
        wrongType(member(path, key));
    return v;
}

const Json::Value& reqObject(const Json::Value& object, const char* key, const QString& path)
{
    const Json::Value& v = required(object, key, path);
    if (!v.is_object())
        wrongType(member(path, key));
    return v;
}

const Json::Value& reqArray(const Json::Value& object, const char* key, const QString& path)
{
    const Json::Value& v = required(object, key, path);
    if (!v.is_array())
        wrongType(member(path, key));
    return v;
}

Json::Value parseObject(const QByteArray& json)
{
    auto doc = Json::parse(json);
    if (!doc)
        throw PlatformError(QStringLiteral("تعذّرت قراءة بيانات الإصدار: ليست نص JSON صالحاً."));
    if (!doc->is_object())
        wrongType(QStringLiteral("(top level)"));
    return *doc;
}

QString element(const QString& path, const char* key, std::size_t i)
{
    return member(path, key) + u'[' + QString::number(i) + u']';
}

void checkObject(const Json::Value& v, const QString& path)
{
    if (!v.is_object())
        wrongType(path);
}

// Calls fn(item, itemPath) for each element of the required array `key`,
// once it is known to be an object.
template <typename Fn>
void forEachObject(const Json::Value& object, const char* key, const QString& path, Fn fn)
{
    const Json::Value& items = reqArray(object, key, path);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const QString e = element(path, key, i);
        checkObject(items[i], e);
        fn(items[i], e);
    }
}

SmartBuild::FileRef decodeFileRef(const Json::Value& object, const char* key, const QString& path)
{
    const Json::Value& o = reqObject(object, key, path);
    const QString p = member(path, key);
    SmartBuild::FileRef f;
    f.file = reqString(o, "file", p);
    f.sha256 = reqString(o, "sha256", p);
    f.size = reqInt(o, "size", p);
    return f;
}

// ---- bytes and text --------------------------------------------------------

bool ensureSodium()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Standard base64 with padding and nothing else inside; nothing unless the
// whole text decodes to exactly `length` bytes.
std::optional<QByteArray> strictBase64(const QByteArray& text, std::size_t length)
{
    QByteArray out(static_cast<qsizetype>(length), '\0');
    std::size_t written = 0;
    const char* end = nullptr;
    int rc = sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), length, text.constData(),
                               static_cast<std::size_t>(text.size()), nullptr, &written, &end,
                               sodium_base64_VARIANT_ORIGINAL);
    if (rc != 0 || end != text.constData() + text.size() || written != length)
        return std::nullopt;
    return out;
}

// A text or blob column as UTF-8 (broken UTF-8 replaced, so the root covers
// exactly the text that is installed); empty for other types.
QByteArray columnText(const Statement& st, int col)
{
    const auto text = st.typedText(col);
    return text ? text->toUtf8() : QByteArray();
}

QByteArray columnIntOrEmpty(const Statement& st, int col)
{
    const auto value = st.typedInteger(col);
    return value ? QByteArray::number(*value) : QByteArray();
}

QByteArray columnIntOrZero(const Statement& st, int col)
{
    return QByteArray::number(st.typedInteger(col).value_or(0));
}

int twoDigits(const QString& s, int at)
{
    const QChar a = s[at], b = s[at + 1];
    if (a < u'0' || a > u'9' || b < u'0' || b > u'9')
        return -1;
    return (a.unicode() - u'0') * 10 + (b.unicode() - u'0');
}

} // namespace

QString publicKeyB64()
{
    std::lock_guard lock(keyMutex);
    return keyOverride.isEmpty() ? QStringLiteral(QUORVEL_PUBLIC_KEY) : keyOverride;
}

void overridePublicKey(const QString& b64)
{
    std::lock_guard lock(keyMutex);
    keyOverride = b64;
}

Index decodeIndex(const QByteArray& json)
{
    const Json::Value o = parseObject(json);
    const QString p;
    Index index;
    index.format = reqInt(o, "format", p);
    index.release = reqInt(o, "release", p);
    index.generated = reqString(o, "generated", p);
    index.expires = reqString(o, "expires", p);
    const SmartBuild::FileRef cat = decodeFileRef(o, "catalog", p);
    index.catalog = IndexCat{cat.file, cat.sha256, cat.size};
    if (const Json::Value* flag = optionalMember(o, "public")) {
        auto b = Json::asBool(*flag);
        if (!b)
            wrongType(QStringLiteral("public"));
        index.isPublic = *b;
    }
    return index;
}

Catalog decodeCatalog(const QByteArray& json)
{
    const Json::Value o = parseObject(json);
    const QString p;
    Catalog c;
    c.format = reqInt(o, "format", p);
    c.release = reqInt(o, "release", p);
    c.normVer = reqInt(o, "norm_ver", p);

    forEachObject(o, "categories", p, [&](const Json::Value& item, const QString& e) {
        CatCategory cat;
        cat.id = reqInt(item, "id", e);
        cat.name = reqString(item, "name", e);
        cat.parentId = optInt(item, "parent_id", e);
        cat.sort = optInt(item, "sort", e);
        c.categories.append(cat);
    });

    forEachObject(o, "authors", p, [&](const Json::Value& item, const QString& e) {
        CatAuthor a;
        a.id = reqInt(item, "id", e);
        a.name = reqString(item, "name", e);
        a.deathYear = optInt(item, "death_year", e);
        a.deathText = optString(item, "death_text", e);
        // Descriptive extras: one of another type is left out rather than
        // refusing a catalogue that older installers accepted.
        const auto extra = [&](const char* key) -> std::optional<QString> {
            const Json::Value* value = optionalMember(item, key);
            return value ? Json::asString(*value) : std::nullopt;
        };
        a.fullName = extra("full_name");
        a.bio = extra("bio");
        c.authors.append(a);
    });

    forEachObject(o, "books", p, [&](const Json::Value& b, const QString& e) {
        CatBook book;
        book.id = reqInt(b, "id", e);
        book.title = reqString(b, "title", e);
        book.authorId = optInt(b, "author_id", e);
        book.categoryId = optInt(b, "category_id", e);
        book.bookDate = optInt(b, "book_date", e);
        book.edition = optString(b, "edition", e);
        book.publisher = optString(b, "publisher", e);
        book.source = optString(b, "source", e);
        book.license = optString(b, "license", e);
        book.pages = reqInt(b, "pages", e);
        const Json::Value& vols = reqArray(b, "vols", e);
        for (std::size_t k = 0; k < vols.size(); ++k) {
            auto label = Json::asString(vols[k]);
            if (!label)
                wrongType(element(e, "vols", k));
            book.vols.append(*label);
        }
        book.root = reqString(b, "root", e);
        book.file = reqString(b, "file", e);
        book.size = reqInt(b, "size", e);
        book.usize = reqInt(b, "usize", e);
        book.sha256 = reqString(b, "sha256", e);
        c.books.append(book);
    });

    if (const Json::Value* smart = optionalMember(o, "smart")) {
        checkObject(*smart, QStringLiteral("smart"));
        SmartBuild::Pack pack;
        pack.wordvec = decodeFileRef(*smart, "wordvec", QStringLiteral("smart"));
        pack.vocab = decodeFileRef(*smart, "vocab", QStringLiteral("smart"));
        c.smart = pack;
    }
    return c;
}

bool verify(const QByteArray& data, const QString& sigB64)
{
    if (!ensureSodium())
        return false;
    auto key = strictBase64(publicKeyB64().toLatin1(), kEd25519KeyBytes);
    if (!key)
        return false;
    // Non-Latin-1 characters cannot be base64; toUtf8 keeps them so decoding fails.
    auto sig = strictBase64(sigB64.trimmed().toUtf8(), kEd25519SignatureBytes);
    if (!sig)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(sig->constData()),
                                       reinterpret_cast<const unsigned char*>(data.constData()),
                                       static_cast<unsigned long long>(data.size()),
                                       reinterpret_cast<const unsigned char*>(key->constData()))
        == 0;
}

namespace {

// A file whose size nothing declares, refused as too large past its limit.
QByteArray fetchUndeclared(const QUrl& base, const QString& name)
{
    QByteArray bytes = fetch(base, name, undeclaredFileLimit);
    if (bytes.size() > undeclaredFileLimit)
        throw DistError(msgTooLarge.arg(name));
    return bytes;
}

} // namespace

std::pair<Index, Catalog> loadCatalog(const QUrl& base, std::int64_t lastRelease)
{
    const QByteArray indexBytes = fetchUndeclared(base, QStringLiteral("index.json"));
    const QByteArray sigBytes = fetchUndeclared(base, QStringLiteral("index.json.sig"));
    const QString sigText = QString::fromUtf8(sigBytes);
    if (!verify(indexBytes, sigText))
        throw DistError(msgBadSignature);

    Index index = decodeIndex(indexBytes);
    if (index.format != formatVersion)
        throw DistError(msgFormatPrefix + QString::number(index.format) + msgFormatSuffix);
    if (index.release < lastRelease)
        throw DistError(msgReleasePrefix + QString::number(index.release) + msgReleaseMiddle
                        + QString::number(lastRelease) + msgReleaseSuffix);
    if (auto expiry = parseInternetDate(index.expires);
        expiry && *expiry < QDateTime::currentSecsSinceEpoch())
        throw DistError(msgExpired);

    // However large a size the signed index declares, the catalogue is not
    // read past what a catalogue can be.
    if (index.catalog.size > maxCatalogBytes)
        throw DistError(msgTooLarge.arg(index.catalog.file));
    const QByteArray catalogBytes = fetch(base, index.catalog.file, index.catalog.size);
    // The signed size is checked too: bytes that disagree with it are not the
    // catalogue the publisher signed for, whatever their digest.
    if (sha256(catalogBytes) != index.catalog.sha256 || catalogBytes.size() != index.catalog.size)
        throw DistError(msgCatalogDigest);
    Catalog catalog = decodeCatalog(catalogBytes);
    if (catalog.normVer != normVersion)
        throw DistError(msgNormPrefix + QString::number(catalog.normVer) + msgNormSuffix);
    // Refuse file names that would leave the release base before any is fetched.
    for (const CatBook& book : catalog.books)
        requirePlainFileName(book.file);
    if (catalog.smart)
        for (const QString& name : {catalog.smart->wordvec.file, catalog.smart->vocab.file})
            requirePlainFileName(name);
    return {std::move(index), std::move(catalog)};
}

RootBuilder::RootBuilder() : hash_(QCryptographicHash::Sha256) {}

void RootBuilder::addPage(const Statement& row, const std::optional<QString>& content)
{
    const QByteArray bytes = row.holdsText(4) && content ? content->toUtf8() : QByteArray();
    const QString digest = sha256(bytes).left(kPageDigestDigits);
    hash_.addData("P\t" + columnIntOrZero(row, 0) + '\t' + columnIntOrZero(row, 1) + '\t' + columnText(row, 2) + '\t'
                  + columnIntOrEmpty(row, 3) + '\t' + digest.toLatin1() + '\n');
}

void RootBuilder::addPage(const Statement& row)
{
    addPage(row, row.typedText(4));
}

void RootBuilder::addHeading(const Statement& row)
{
    hash_.addData("T\t" + columnIntOrZero(row, 0) + '\t' + columnIntOrEmpty(row, 1) + '\t' + columnIntOrEmpty(row, 2)
                  + '\t' + columnIntOrEmpty(row, 3) + '\t' + columnText(row, 4) + '\n');
}

QString RootBuilder::finish(std::int64_t bookId, const QString& title)
{
    hash_.addData("B\t" + QByteArray::number(bookId) + '\t' + title.toUtf8() + '\n');
    return QString::fromLatin1(hash_.result().toHex());
}

QString root(SQLiteDB& package, std::int64_t bookId, const QString& title)
{
    RootBuilder builder;
    if (auto st = package.prepare(QString::fromLatin1(RootBuilder::pagesQuery)))
        while (st->step())
            builder.addPage(*st);
    if (auto st = package.prepare(QString::fromLatin1(RootBuilder::headingsQuery)))
        while (st->step())
            builder.addHeading(*st);
    return builder.finish(bookId, title);
}

std::optional<std::int64_t> parseInternetDate(const QString& text)
{
    // yyyy-MM-ddTHH:mm:ss then Z, ±HH:MM or ±HHMM; nothing else. The "T" and
    // "Z" may be written in lowercase, as RFC 3339 allows.
    const qsizetype n = text.size();
    if (n < 20)
        return std::nullopt;
    for (int i : {4, 7})
        if (text[i] != u'-')
            return std::nullopt;
    if ((text[10] != u'T' && text[10] != u't') || text[13] != u':' || text[16] != u':')
        return std::nullopt;
    const int c1 = twoDigits(text, 0), c2 = twoDigits(text, 2);
    const int month = twoDigits(text, 5), day = twoDigits(text, 8);
    const int hour = twoDigits(text, 11), minute = twoDigits(text, 14), second = twoDigits(text, 17);
    if (c1 < 0 || c2 < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(c1 * 100 + c2, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    const QString zone = text.mid(19);
    if (zone == u"Z" || zone == u"z") {
        offsetSeconds = 0;
    } else if ((zone.size() == 6 && zone[3] == u':') || zone.size() == 5) {
        if (zone[0] != u'+' && zone[0] != u'-')
            return std::nullopt;
        const int oh = twoDigits(zone, 1);
        const int om = twoDigits(zone, zone.size() == 6 ? 4 : 3);
        if (oh < 0 || om < 0 || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (zone[0] == u'-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const QDateTime utc(date, time, Qt::UTC);
    return utc.toSecsSinceEpoch() - offsetSeconds;
}

} // namespace quorvel::Dist
