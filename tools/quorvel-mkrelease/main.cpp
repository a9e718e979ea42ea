// Builds a signed release from books in the corpus layout:
//
//   quorvel-mkrelease --source <dir> --out <dir> --key <secret key file> [--smart <model dir>]
//
// <source>/catalog.json lists categories, authors and books (each book's
// "file" names its JSON relative to the source); <source>/release.json gives
// the release number, the generation and expiry times and the catalogue's file
// name. The output folder receives one compressed package per book
// ("b<id>.qbk"), the catalogue, "index.json" and "index.json.sig"; with
// --smart also the word-model pack of that folder, named in the catalogue.
//
// A book whose file ends in ".txt" is the Quran in the "sura|verse|text" line
// form: its copyright block becomes the first page, then either one page per
// sura or, when its entry names a "mushaf_pages" list, the 604 Mushaf pages
// numbered as printed; sura heading lines open each sura, so the Quran view
// reads it as its text and as its Mushaf pages at once.
#include "core/Json.h"
#include "distribution/ReleaseWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace quorvel;

namespace {

// Ed25519 secret keys are 64 bytes (seed and public key).
constexpr qsizetype secretKeyBytes = 64;

int fail(const QString& message)
{
    std::fprintf(stderr, "quorvel-mkrelease: %s\n", message.toUtf8().constData());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
    };
    const QString source = option(QStringLiteral("--source"));
    const QString out = option(QStringLiteral("--out"));
    const QString keyPath = option(QStringLiteral("--key"));
    const QString modelDir = option(QStringLiteral("--smart"));
    if (source.isEmpty() || out.isEmpty() || keyPath.isEmpty())
        return fail(QStringLiteral("usage: quorvel-mkrelease --source <dir> --out <dir> --key <secret key file>"));

    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read the key ") + keyPath);
    const QByteArray secretKey = keyFile.readAll();
    if (secretKey.size() != secretKeyBytes)
        return fail(QStringLiteral("the key file must hold the 64 raw bytes of an Ed25519 secret key"));

    const auto catalog = Json::parseFile(QDir(source).filePath(QStringLiteral("catalog.json")));
    const auto release = Json::parseFile(QDir(source).filePath(QStringLiteral("release.json")));
    if (!catalog || !catalog->is_object() || !release || !release->is_object())
        return fail(QStringLiteral("catalog.json or release.json is missing or not a JSON object"));

    ReleaseWriter::ReleaseInfo info;
    info.release = Json::strictInt(*release, "release").value_or(1);
    info.generated = Json::strictString(*release, "generated").value_or(QString());
    info.expires = Json::strictString(*release, "expires").value_or(QString());
    info.catalogFile = Json::strictString(*release, "catalog").value_or(info.catalogFile);

    Json::Value categories = Json::Value::array();
    for (const auto& c : catalog->value("categories", Json::Value::array()))
        categories.push_back(ReleaseWriter::pick(c, {"id", "name", "parent_id", "sort"}));
    Json::Value authors = Json::Value::array();
    for (const auto& a : catalog->value("authors", Json::Value::array()))
        authors.push_back(ReleaseWriter::pick(a, {"id", "name", "death_year", "death_text", "full_name", "bio"}));

    Json::Value books = Json::Value::array();
    for (const auto& meta : catalog->value("books", Json::Value::array())) {
        const auto id = Json::strictInt(meta, "id");
        const auto file = Json::strictString(meta, "file");
        if (!id || !file)
            return fail(QStringLiteral("a catalogue book lacks its id or file"));
        std::optional<ReleaseWriter::Book> book;
        if (file->endsWith(QStringLiteral(".txt"))) {
            const auto pages = Json::strictString(meta, "mushaf_pages");
            book = ReleaseWriter::fromQuranText(QDir(source).filePath(*file), meta,
                                                pages ? QDir(source).filePath(*pages) : QString());
        } else {
            const auto bookJson = Json::parseFile(QDir(source).filePath(*file));
            if (!bookJson)
                return fail(QStringLiteral("cannot read ") + *file);
            book = ReleaseWriter::fromCorpus(*bookJson, meta);
        }
        if (!book)
            return fail(QStringLiteral("not a book in the corpus layout: ") + *file);
        if (const std::optional<QString> why = ReleaseWriter::refusal(*book))
            return fail(*why);
        QString why;
        const auto entry = ReleaseWriter::addBook(out, *book, QStringLiteral("b%1.qbk").arg(*id), &why);
        if (!entry)
            return fail(QStringLiteral("cannot write the package of book %1").arg(*id)
                        + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        books.push_back(*entry);
    }

    Json::Value smart = nullptr;
    if (!modelDir.isEmpty()) {
        QString why;
        const auto pack = ReleaseWriter::addWordModel(out, modelDir, &why);
        if (!pack)
            return fail(why.isEmpty() ? QStringLiteral("cannot copy the word model of ") + modelDir
                                      : QStringLiteral("refusing the word model of ") + modelDir + QStringLiteral(": ") + why);
        smart = *pack;
    }
    QString why;
    if (!ReleaseWriter::writeRelease(out, info, categories, authors, books, secretKey, smart, &why))
        return fail(QStringLiteral("cannot write the release files into ") + out
                    + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    std::printf("release %lld: %zu books in %s\n", static_cast<long long>(info.release), books.size(),
                out.toUtf8().constData());
    return 0;
}
