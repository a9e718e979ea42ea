// The tools that read what a search found: one page, a book's card with its
// table of contents, and a citation of a page.

#include "mcp/MCPServer.h"

#include "core/Characters.h"
#include "core/Library.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

namespace quorvel {

namespace {

constexpr int kMaxListedVolumes = 60;    // labels named when a volume is not found
constexpr int kQuoteWords = 40;          // words of a plain citation quote
constexpr int kQuoteRadius = 15;         // words around the "around" text
constexpr qsizetype kMaxCitedDetail = 150; // characters of an edition or publisher worth citing

const QString kListSeparator = QStringLiteral("، ");

QString inTitle(const Book& book)
{
    return QStringLiteral(" في «") + book.title + QStringLiteral("»");
}

[[noreturn]] void noSuchSeq(const Book& book, std::int64_t seq,
                            std::pair<std::int64_t, std::int64_t> range)
{
    MCPServer::fail(QStringLiteral("لا توجد صفحة بالتسلسل ") + QString::number(seq) + inTitle(book)
                    + QStringLiteral(". المدى المتاح: ") + QString::number(range.first)
                    + QStringLiteral(" إلى ") + QString::number(range.second) + QStringLiteral("."));
}

// A column read as text, an integer column written in decimal.
std::optional<QString> textColumn(const Statement::Row& row, qsizetype i)
{
    if (auto s = row.str(i))
        return s;
    if (const auto n = row.integer(i))
        return QString::number(*n);
    return std::nullopt;
}

} // namespace

Book MCPServer::book(const Args& args, Library& lib)
{
    const std::int64_t id = args.integer("book_id").value_or(0);
    std::optional<Book> found = lib.book(id);
    if (!found)
        fail(QStringLiteral("لا يوجد كتاب بالمعرف ") + QString::number(id)
             + QStringLiteral(". استعمل list_books أو find_author."));
    return *found;
}

MCPServer::Value MCPServer::readPage(const Args& args, Library& lib)
{
    const Book book = MCPServer::book(args, lib);
    const auto range = lib.seqRange(book.id);

    std::optional<QString> raw;
    const std::optional<QString> volume = args.text("volume");
    if (volume) {
        raw = rawVolume(*volume, book.id, lib);
        if (!raw) {
            QStringList labels;
            for (const QString& label : lib.volumes(book.id)) {
                if (labels.size() == kMaxListedVolumes)
                    break;
                labels << Arabic::latinDigits(label);
            }
            fail(QStringLiteral("لا يوجد الجزء «") + *volume + QStringLiteral("»") + inTitle(book)
                 + QStringLiteral(". الأجزاء المتاحة: ")
                 + (labels.isEmpty() ? QStringLiteral("لا أجزاء") : labels.join(kListSeparator))
                 + QStringLiteral("."));
        }
    }

    std::int64_t seq = range.first;
    std::optional<QString> note;
    const std::optional<std::int64_t> printed = args.integer("page");
    bool byPage = false;
    if (const auto given = args.integer("seq")) {
        seq = *given;
    } else if (printed) {
        byPage = true;
        std::optional<std::int64_t> found;
        if (raw) {
            found = lib.main().scalarInt(
                QStringLiteral("SELECT seq FROM pages WHERE book_id=? AND CAST(vol AS TEXT)=? AND page_num>=? "
                               "ORDER BY page_num, seq LIMIT 1"),
                {book.id, *raw, *printed});
        } else {
            found = lib.main().scalarInt(
                QStringLiteral("SELECT seq FROM pages WHERE book_id=? AND page_num>=? "
                               "ORDER BY page_num, seq LIMIT 1"),
                {book.id, *printed});
            if (lib.volumes(book.id).size() > 1)
                note = QStringLiteral(
                    "الكتاب متعدد الأجزاء ولم يحدد volume، فعرضت أول صفحة بهذا الرقم.");
        }
        if (!found)
            fail(QStringLiteral("لا توجد الصفحة ") + QString::number(*printed)
                 + (raw ? QStringLiteral(" في الجزء ") + Arabic::latinDigits(*raw) : QString())
                 + inTitle(book) + QStringLiteral("."));
        seq = *found;
    } else if (raw) {
        seq = lib.firstSeq(book.id, *raw).value_or(range.first);
    }

    const std::optional<Page> page = lib.page(book.id, seq);
    if (!page)
        noSuchSeq(book, seq, range);
    if (byPage && page->num != printed)
        note = QStringLiteral("الصفحة ") + QString::number(*printed)
               + QStringLiteral(" غير موجودة بعينها، فعرضت أقرب صفحة بعدها.");

    Value result = pageRef(*page, book, lib);
    const auto [matn, footnote] = Library::splitFootnotes(page->content);
    result["matn"] = Json::utf8(matn);
    if (footnote && !footnote->isEmpty())
        result["footnote"] = Json::utf8(*footnote);
    const QStringList path = chapterPath(book.id, page->seq, lib);
    if (path.size() >= 2)
        result["chapter_path"] = Json::toJson(path);
    if (const auto prev = lib.main().scalarInt(
            QStringLiteral("SELECT MAX(seq) FROM pages WHERE book_id=? AND seq<?"),
            {book.id, page->seq}))
        result["prev_seq"] = *prev;
    if (const auto next = lib.main().scalarInt(
            QStringLiteral("SELECT MIN(seq) FROM pages WHERE book_id=? AND seq>?"),
            {book.id, page->seq}))
        result["next_seq"] = *next;
    result["first_seq"] = range.first;
    result["last_seq"] = range.second;
    if (note)
        result["note"] = Json::utf8(*note);
    return result;
}

MCPServer::Value MCPServer::getBook(const Args& args, Library& lib)
{
    const Book book = MCPServer::book(args, lib);
    const auto range = lib.seqRange(book.id);
    SQLiteDB& db = lib.main();

    Value result{{"book_id", book.id},
                 {"title", Json::utf8(book.title)},
                 {"first_seq", range.first},
                 {"last_seq", range.second}};
    if (auto author = authorInfo(book.authorId, lib))
        result["author"] = std::move(*author);
    if (const auto category = MCPServer::category(book, lib))
        result["category"] = Value{{"id", category->id}, {"name", Json::utf8(category->name)}};
    const std::pair<const char*, const std::optional<QString>*> details[] = {
        {"edition", &book.edition},
        {"publisher", &book.publisher},
        {"source", &book.source},
        {"license", &book.license},
    };
    for (const auto& [key, value] : details) {
        if (const auto text = nonEmpty(*value))
            result[key] = Json::utf8(*text);
    }
    result["page_count"] =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=?"), {book.id})
            .value_or(0);

    const auto volumeRows = db.rows(
        QStringLiteral("SELECT CAST(vol AS TEXT) AS v, MIN(seq), MAX(seq), MIN(page_num), MAX(page_num) FROM pages\n"
                       "WHERE book_id=? AND vol IS NOT NULL AND vol<>'' GROUP BY v ORDER BY MIN(seq)"),
        {book.id});
    if (volumeRows.size() >= 2) {
        Value volumes = Value::array();
        for (const Statement::Row& row : volumeRows) {
            Value entry{{"volume", Json::utf8(Arabic::latinDigits(textColumn(row, 0).value_or(QString())))},
                        {"first_seq", row.integer(1).value_or(0)},
                        {"last_seq", row.integer(2).value_or(0)}};
            if (const auto first = row.integer(3))
                entry["first_page"] = *first;
            if (const auto last = row.integer(4))
                entry["last_page"] = *last;
            volumes.push_back(std::move(entry));
        }
        result["volumes"] = std::move(volumes);
    }

    const std::int64_t offset = args.integer("toc_offset").value_or(0);
    const std::int64_t total =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM toc WHERE book_id=?"), {book.id}).value_or(0);
    result["toc_total"] = total;
    result["toc_offset"] = offset;
    Value toc = Value::array();
    const auto tocRows = db.rows(
        QStringLiteral("SELECT title, page_seq, level FROM toc WHERE book_id=? ORDER BY id LIMIT ? OFFSET ?"),
        {book.id, tocPage, offset});
    for (const Statement::Row& row : tocRows) {
        const std::int64_t level = row.integer(2).value_or(1);
        Value entry{{"title", Json::utf8(textColumn(row, 0).value_or(QString()))},
                    {"level", level > 1 ? level : 1}};
        if (const auto seq = row.integer(1))
            entry["seq"] = *seq;
        toc.push_back(std::move(entry));
    }
    const auto returned = static_cast<std::int64_t>(toc.size());
    result["toc"] = std::move(toc);
    if (offset + returned < total)
        result["toc_next_offset"] = offset + returned;
    return result;
}

MCPServer::Value MCPServer::cite(const Args& args, Library& lib)
{
    const Book book = MCPServer::book(args, lib);
    const std::int64_t seq = args.integer("seq").value_or(0);
    const std::optional<Page> page = lib.page(book.id, seq);
    if (!page)
        noSuchSeq(book, seq, lib.seqRange(book.id));

    Value result = pageRef(*page, book, lib);

    QStringList parts;
    if (const auto author = authorName(book, lib)) {
        const std::optional<Author> record = lib.author(book);
        const auto year = death(record ? &*record : nullptr);
        parts << *author
                     + (year ? QStringLiteral(" (ت ") + deathLabel(*year) + QStringLiteral(")")
                             : QString());
    }
    parts << book.title;
    for (const std::optional<QString>* detail : {&book.edition, &book.publisher}) {
        if (const auto text = nonEmpty(*detail);
            text && Characters::count(*text, kMaxCitedDetail) <= kMaxCitedDetail)
            parts << *text;
    }
    if (const auto volume = volumeLabel(page->vol, book.id, lib))
        parts << QStringLiteral("ج") + *volume;
    parts << (page->num ? QStringLiteral("ص") + QString::number(*page->num)
                        : QStringLiteral("تسلسل ") + QString::number(page->seq));
    result["citation_full"] = Json::utf8(parts.join(kListSeparator) + QStringLiteral("."));

    const std::optional<QString> around = args.str("around");
    if (around && !Arabic::tokens(*around).isEmpty()) {
        SearchQuery query;
        query.andPhrases = {*around};
        SearchEngine::Snippet snippet =
            SearchEngine::snippet(page->content, query.highlightTerms(), kQuoteRadius);
        if (snippet.ranges.isEmpty()) {
            // The word may occur only with a clitic attached.
            query.affix = true;
            snippet = SearchEngine::snippet(page->content, query.highlightTerms(), kQuoteRadius);
        }
        result["quote"] = Json::utf8(snippet.text);
        result["quote_found"] = !snippet.ranges.isEmpty();
    } else {
        const QStringList words = Arabic::stripMarks(Library::splitFootnotes(page->content).first)
                                      .simplified()
                                      .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QString quote = words.mid(0, kQuoteWords).join(QLatin1Char(' '));
        if (words.size() > kQuoteWords)
            quote += QStringLiteral(" …");
        result["quote"] = Json::utf8(quote);
    }
    return result;
}

} // namespace quorvel
