#include "distribution/ReleaseWriter.h"

#include "core/AtomicFile.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "distribution/RawDeflate.h"
#include "scholar/SmartBuild.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <sodium.h>

namespace quorvel::ReleaseWriter {

namespace {

// Keeps page and heading ids of different books apart.
constexpr std::int64_t kIdStride = 100000;

const char* packageSchema =
    "PRAGMA journal_mode=DELETE;"
    "CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER NOT NULL, vol TEXT, page_num INTEGER, content TEXT);"
    "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT NOT NULL, page_seq INTEGER, parent_id INTEGER, level INTEGER);";

// The catalogue fields of a book that its metadata gives rather than its package.
Json::Value bookMeta(const Json::Value& meta)
{
    return pick(meta, {"id", "title", "author_id", "category_id", "book_date", "edition", "publisher", "source",
                       "license"});
}

} // namespace

Json::Value pick(const Json::Value& from, std::initializer_list<const char*> keys)
{
    Json::Value out = Json::Value::object();
    for (const char* key : keys) {
        auto it = from.find(key);
        if (it != from.end() && !it->is_null())
            out[key] = *it;
    }
    return out;
}

std::optional<KeyPair> generateKeyPair()
{
    if (sodium_init() < 0)
        return std::nullopt;
    KeyPair pair;
    pair.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    pair.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char*>(pair.secretKey.data()));
    return pair;
}

QString base64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QString sign(const QByteArray& data, const QByteArray& secretKey)
{
    if (sodium_init() < 0 || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return {};
    QByteArray sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<unsigned long long>(data.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return base64(sig);
}

bool writePackage(const QString& path, const Book& book)
{
    QFile::remove(path);
    auto db = SQLiteDB::open(path, false);
    if (!db)
        return false;
    if (!db->exec(QString::fromLatin1(packageSchema))
        || !db->exec(QStringLiteral("PRAGMA application_id=%1;").arg(book.applicationId)))
        return false;
    Transaction transaction(*db, Transaction::Mode::Deferred);
    if (!transaction.begun())
        return false;
    auto page = db->prepare(QStringLiteral("INSERT INTO page(pid, seq, vol, page_num, content) VALUES(?,?,?,?,?)"));
    auto heading = db->prepare(QStringLiteral("INSERT INTO toc(id, title, page_seq, parent_id, level) VALUES(?,?,?,?,?)"));
    if (!page || !heading)
        return false;
    for (const Page& p : book.pages) {
        page->bind({p.pid, p.seq, p.vol, p.pageNum, p.content});
        if (page->next() != Statement::Step::Done)
            return false;
    }
    for (const Heading& h : book.toc) {
        heading->bind({h.id, h.title, h.pageSeq, h.parentId, h.level});
        if (heading->next() != Statement::Step::Done)
            return false;
    }
    if (!transaction.commit())
        return false;
    return db->exec(QStringLiteral("VACUUM"));
}

std::optional<Book> fromCorpus(const Json::Value& bookJson, const Json::Value& meta)
{
    if (!bookJson.is_object() || !meta.is_object())
        return std::nullopt;
    auto bookId = Json::strictInt(meta, "id");
    if (!bookId)
        return std::nullopt;
    Book book;
    book.meta = bookMeta(meta);
    const auto pages = bookJson.find("pages");
    if (pages == bookJson.end() || !pages->is_array())
        return std::nullopt;
    for (const Json::Value& p : *pages) {
        Page page;
        page.seq = Json::strictInt(p, "seq");
        if (!page.seq)
            return std::nullopt;
        page.pid = *bookId * kIdStride + *page.seq;
        page.vol = Json::strictString(p, "vol");
        page.pageNum = Json::strictInt(p, "page_num");
        page.content = Json::strictString(p, "content");
        book.pages.append(page);
    }
    const auto toc = bookJson.find("toc");
    if (toc != bookJson.end() && toc->is_array()) {
        std::int64_t k = 0;
        for (const Json::Value& t : *toc) {
            Heading h;
            h.id = *bookId * kIdStride + ++k;
            h.title = Json::strictString(t, "title");
            h.pageSeq = Json::strictInt(t, "page_seq");
            h.level = Json::strictInt(t, "level");
            if (auto parent = Json::strictInt(t, "parent"))
                h.parentId = *bookId * kIdStride + *parent + 1;
            book.toc.append(h);
        }
    }
    return book;
}

std::optional<QList<std::pair<int, int>>> readMushafPages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<std::pair<int, int>> firsts;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#'))
            continue;
        const QStringList parts = line.trimmed().split(u'|');
        bool ok[3] = {};
        if (parts.size() != 3)
            return std::nullopt;
        const int page = parts[0].toInt(&ok[0]);
        const std::pair<int, int> first{parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2])};
        if (!ok[0] || !ok[1] || !ok[2] || page != firsts.size() + 1 || (!firsts.isEmpty() && first <= firsts.last()))
            return std::nullopt;
        firsts.append(first);
    }
    if (firsts.isEmpty())
        return std::nullopt;
    return firsts;
}

std::optional<Book> fromQuranText(const QString& path, const Json::Value& meta, const QString& mushafPagesPath)
{
    constexpr int suraCount = 114;
    QFile file(path);
    const auto id = Json::strictInt(meta, "id");
    if (!id || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QList<std::pair<int, int>>> mushaf;
    if (!mushafPagesPath.isEmpty() && !(mushaf = readMushafPages(mushafPagesPath)))
        return std::nullopt;
    QStringList header;
    QList<QStringList> verses(suraCount);
    struct Line {
        int sura;
        int verse;
        QString text;
    };
    QList<Line> lines;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#')) {
            header.append(line);
            continue;
        }
        const int sura = line.section(u'|', 0, 0).toInt();
        if (sura < 1 || sura > suraCount)
            return std::nullopt;
        verses[sura - 1].append(line);
        lines.append({sura, line.section(u'|', 1, 1).toInt(), line});
    }
    Book book;
    book.meta = bookMeta(meta);
    auto addPage = [&](const QString& content, std::optional<std::int64_t> pageNum) {
        const std::int64_t seq = book.pages.size() + 1;
        book.pages.append({*id * kIdStride + seq, seq, std::nullopt, pageNum, content});
        return seq;
    };
    auto addHeading = [&](const QString& title, std::int64_t seq) {
        book.toc.append({*id * kIdStride + book.toc.size() + 1, title, seq, std::nullopt, 1});
    };
    auto suraHeading = [](int s) { return QString::number(s) + QStringLiteral(" سورة ") + Library::suras().value(s - 1); };
    addHeading(QStringLiteral("حقوق النص"), addPage(header.join(u'\n'), std::nullopt));
    if (!mushaf) {
        for (int s = 1; s <= suraCount; ++s)
            addHeading(QStringLiteral("سورة ") + Library::suras().value(s - 1),
                       addPage(suraHeading(s) + u'\n' + verses[s - 1].join(u'\n'), std::nullopt));
        return book;
    }
    // Every verse goes on the last page whose first verse is not after it.
    qsizetype at = 0;
    for (qsizetype p = 0; p < mushaf->size(); ++p) {
        const bool last = p + 1 == mushaf->size();
        QStringList content;
        QList<int> starting;
        while (at < lines.size()) {
            const std::pair<int, int> key{lines[at].sura, lines[at].verse};
            if (!last && key >= (*mushaf)[p + 1])
                break;
            if (key < (*mushaf)[p])
                return std::nullopt;
            if (lines[at].verse == 1) {
                content.append(suraHeading(lines[at].sura));
                starting.append(lines[at].sura);
            }
            content.append(lines[at].text);
            ++at;
        }
        if (content.isEmpty())
            return std::nullopt;
        const std::int64_t seq = addPage(content.join(u'\n'), p + 1);
        for (const int s : starting)
            addHeading(QStringLiteral("سورة ") + Library::suras().value(s - 1), seq);
    }
    if (at != lines.size())
        return std::nullopt;
    return book;
}

std::optional<QString> refusal(const Book& book)
{
    const auto said = [&](const char* what) {
        return QStringLiteral("في «") + Json::strictString(book.meta, "title").value_or(QString()) + QStringLiteral("» ")
            + QString::fromUtf8(what);
    };
    for (const Page& page : book.pages) {
        if (page.content && page.content->size() > Dist::maxPageLength)
            return said("صفحة أكبر من الحد المقبول لصفحة واحدة.");
        if (page.vol && page.vol->size() > Dist::maxVolumeLabelLength)
            return said("اسم جزء أطول من المقبول.");
    }
    for (const Heading& heading : book.toc)
        if (heading.title && heading.title->size() > Dist::maxHeadingLength)
            return said("عنوان فصل أطول من المقبول.");
    return std::nullopt;
}

std::optional<Json::Value> addBook(const QString& dir, const Book& book, const QString& fileName, QString* why)
{
    auto bookId = Json::strictInt(book.meta, "id");
    auto title = Json::strictString(book.meta, "title");
    if (!bookId || !title)
        return std::nullopt;
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return std::nullopt;
    const QString dbPath = scratch.filePath(QStringLiteral("package.sqlite"));
    if (!writePackage(dbPath, book))
        return std::nullopt;

    QString rootHex;
    {
        auto db = SQLiteDB::open(dbPath, true);
        if (!db)
            return std::nullopt;
        rootHex = Dist::root(*db, *bookId, *title);
    }
    QFile raw(dbPath);
    if (!raw.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray plain = raw.readAll();
    const QByteArray packed = RawDeflate::compress(plain);
    if (packed.isEmpty() || !writeFile(dir, fileName, packed, why))
        return std::nullopt;

    QStringList vols;
    QSet<QString> seen;
    for (const Page& p : book.pages) {
        if (p.vol && !p.vol->isEmpty() && !seen.contains(*p.vol)) {
            seen.insert(*p.vol);
            vols.append(*p.vol);
        }
    }
    Json::Value entry = book.meta;
    entry["pages"] = book.pages.size();
    entry["vols"] = Json::toJson(vols);
    entry["root"] = Json::utf8(rootHex);
    entry["file"] = Json::utf8(fileName);
    entry["size"] = packed.size();
    entry["usize"] = plain.size();
    entry["sha256"] = Json::utf8(Dist::sha256(packed));
    return entry;
}

bool writeRelease(const QString& dir, const ReleaseInfo& info, const Json::Value& categories,
                  const Json::Value& authors, const Json::Value& books, const QByteArray& secretKey,
                  const Json::Value& smart, QString* why)
{
    Json::Value catalog = Json::Value::object();
    catalog["format"] = info.format;
    catalog["release"] = info.release;
    catalog["norm_ver"] = info.normVer;
    catalog["categories"] = categories;
    catalog["authors"] = authors;
    catalog["books"] = books;
    if (!smart.is_null())
        catalog["smart"] = smart;
    const QByteArray catalogBytes = Json::dumpBytes(catalog);
    if (!writeFile(dir, info.catalogFile, catalogBytes, why))
        return false;

    Json::Value index = Json::Value::object();
    index["format"] = info.format;
    index["release"] = info.release;
    index["generated"] = Json::utf8(info.generated);
    index["expires"] = Json::utf8(info.expires);
    index["catalog"] = {{"file", Json::utf8(info.catalogFile)},
                        {"sha256", Json::utf8(Dist::sha256(catalogBytes))},
                        {"size", catalogBytes.size()}};
    index["public"] = true;
    Json::DumpOptions pretty;
    pretty.indent = 2;
    const QByteArray indexBytes = Json::dumpBytes(index, pretty) + '\n';
    const QString signature = sign(indexBytes, secretKey);
    if (signature.isEmpty())
        return false;
    return writeFile(dir, QStringLiteral("index.json"), indexBytes, why)
        && writeFile(dir, QStringLiteral("index.json.sig"), signature.toLatin1() + '\n', why);
}

std::optional<Json::Value> addWordModel(const QString& dir, const QString& modelDir, QString* why)
{
    // A signed pack every installer would refuse is not published.
    if (const QString problem = SmartBuild::modelProblem(modelDir); !problem.isEmpty()) {
        if (why)
            *why = problem;
        return std::nullopt;
    }
    Json::Value smart = Json::Value::object();
    for (const auto& [key, name] : {std::pair{"wordvec", SmartBuild::wordvecFile}, std::pair{"vocab", SmartBuild::vocabFile}}) {
        QFile file(QDir(modelDir).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray bytes = file.readAll();
        if (!writeFile(dir, name, bytes, why))
            return std::nullopt;
        smart[key] = {{"file", Json::utf8(name)}, {"sha256", Json::utf8(Dist::sha256(bytes))}, {"size", bytes.size()}};
    }
    return smart;
}

bool writeFile(const QString& dir, const QString& name, const QByteArray& bytes, QString* why)
{
    QDir().mkpath(dir);
    const std::optional<QString> failed = AtomicFile::replace(QDir(dir).filePath(name), bytes);
    if (failed && why)
        *why = name + QStringLiteral(": ") + *failed;
    return !failed;
}

} // namespace quorvel::ReleaseWriter
