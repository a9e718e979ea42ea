// The rows of one book written into the store inside its open transaction:
// the version it replaces taken out, the catalogue rows, the pages with their
// bounds checked (narrators and reuse shingles beside them), the headings
// read and the content root proved, the page index and full-text rows, then
// the headings written.

#include "distribution/BookInstall.h"
#include "distribution/BookInstallBatches.h"
#include "distribution/BookInstallSteps.h"
#include "distribution/ShingleWriter.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/SQLiteTriggers.h"
#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"
#include "scholar/Isnad.h"
#include "scholar/TextReuse.h"
#include "search/PageIndex.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel::BookInstall {

namespace {

constexpr TitledMessage kMsgContentRoot{u"محتوى «", u"» لا يطابق بصمته."};
// A page or heading id that another installed book already holds: storing the
// book would silently drop or take over the other book's rows.
constexpr TitledMessage kMsgIdConflict{u"معرّفات صفحات «", u"» أو عناوينها مستعملة في كتاب آخر."};
// Page ids among another book's: each book keeps a stretch of ids of its own,
// which the search walks book by book.
constexpr TitledMessage kMsgIdInAnotherRange{u"معرّفات صفحات «", u"» تقع بين معرّفات صفحات كتاب آخر."};
constexpr TitledMessage kMsgPageTooLarge{u"في «", u"» صفحة أكبر من الحد المقبول لصفحة واحدة."};
constexpr TitledMessage kMsgHeadingTooLong{u"في «", u"» عنوان فصل أطول من المقبول."};
constexpr TitledMessage kMsgLabelTooLong{u"في «", u"» اسم جزء أطول من المقبول."};
// A value past Dist::maxPackageValueBytes, refused unread.
constexpr TitledMessage kMsgValueTooLarge{u"في «", u"» نصّ أكبر من الحد المقبول لنصّ واحد."};
// A book without pages would install as an empty entry of the library.
constexpr TitledMessage kMsgNoPages{u"حزمة «", u"» بلا صفحات."};

// The store's triggers off while the page index's writer is at work, back on
// however the install ends. Each trigger of the tables written meanwhile
// exempts that writer, and so does nothing (the writer's own start has
// already counted the change and dropped the index's "found whole" mark).
// A trigger fired per row opens a statement savepoint, and each savepoint
// makes the full-text tables flush their pending terms: page by page, that
// was most of an install's time beyond its rows.
// A failure to switch them back on fails the install (run() tries again
// after a refusal), so that no later write goes uncounted unsaid.
class TriggersOff {
public:
    explicit TriggersOff(SQLiteDB& db) : db_(db) { must(db_, setTriggersEnabled(db_, false)); }
    ~TriggersOff()
    {
        if (!restored_)
            setTriggersEnabled(db_, true);
    }
    TriggersOff(const TriggersOff&) = delete;
    TriggersOff& operator=(const TriggersOff&) = delete;

    void restore()
    {
        restored_ = true;
        if (!setTriggersEnabled(db_, true))
            throw Abort{kMsgTriggersOff};
    }

private:
    SQLiteDB& db_;
    bool restored_ = false;
};

// Replaces every row of one book inside the store's open transaction; each
// stage throws Abort when the book cannot be stored whole.
class BookWriter {
public:
    BookWriter(SQLiteDB& db, SQLiteDB& package, const Dist::CatBook& book)
        : db_(db), package_(package), book_(book)
    {
    }

    void replaceRows(const Dist::Catalog& catalog, std::int64_t release)
    {
        removeReplacedVersion();
        writeCatalogueRows(catalog);
        writePages();
        readHeadings();
        writePageIndex();
        writeHeadings();
        single(QStringLiteral("INSERT OR REPLACE INTO installed(book_id, root, release, ts) VALUES(?,?,?,?)"),
               {book_.id, book_.root, release, Library::now()});
    }

private:
    struct StoredPage {
        std::int64_t id;
        QString content;
    };
    struct Heading {
        std::optional<std::int64_t> id, pageSeq, parentId, level;
        std::optional<QString> title;
    };
    // A page as the package gives it, and what the workers make of it.
    struct PackagePage {
        std::int64_t id = 0, seq = 0;
        std::optional<std::int64_t> pageNum;
        std::optional<QString> vol;
        QString content;
        QString norm;
        QList<std::pair<QString, QString>> edges;
        QList<std::int64_t> shingles;
    };
    // A page as stored, with its index rows once the workers made them.
    struct StoredRows {
        std::int64_t id = 0;
        QString content, norm;
        bool indexed = false; // whether the index takes the page now
        PageIndex::PageRow row;
    };

    void must(bool ok) const { BookInstall::must(db_, ok); }
    Statement::Step write(Statement& st, const SQLArgs& args) const { return BookInstall::write(db_, st, args); }
    Statement::Step single(const QString& sql, const SQLArgs& args) const
    {
        auto st = db_.prepare(sql);
        must(st.has_value());
        return write(*st, args);
    }

    // A package that cannot be stored whole is refused for its content first,
    // as a check before any write would have refused it.
    [[noreturn]] void refuse(const QString& message) const
    {
        const QString root = Dist::root(package_, book_.id, book_.title);
        // A package read cut short by memory proves nothing of its content.
        failIfOutOfMemory(package_);
        if (root != book_.root)
            throw Abort{kMsgContentRoot(book_.title)};
        throw Abort{message};
    }
    // A read of the package or the store refused for memory is said so.
    void failIfOutOfMemory(SQLiteDB& db) const
    {
        const auto failure = db.lastFailure();
        if (failure && failure->systemError == ENOMEM)
            throw Abort{kMsgOutOfMemory(book_.title)};
    }
    // A text column that gave no text was refused the memory to convert
    // it: the page must not be taken as empty.
    void textRead(const Statement& row, int column, const std::optional<QString>& text) const
    {
        if (!text && row.holdsText(column))
            throw Abort{kMsgOutOfMemory(book_.title)};
    }
    // A read of the package that stopped before its end, said as its reason.
    [[noreturn]] void readCutShort() const
    {
        if (readStoppedByLimit())
            throw Abort{kMsgValueTooLarge(book_.title)};
        failIfOutOfMemory(package_);
        refuse(LocalStore::installFailure(db_.lastFailure()));
    }

    // A value past the package connection's limit stops the read before it
    // is loaded; it is refused whatever its content root.
    bool readStoppedByLimit() const
    {
        const auto failure = package_.lastFailure();
        return failure && failure->kind == SQLFailure::Kind::tooLarge;
    }

    void removeReplacedVersion();
    void writeCatalogueRows(const Dist::Catalog& catalog);
    void checkPageBounds(const std::optional<QString>& text, const std::optional<QString>& vol);
    void writePages();
    void checkIdRange(std::int64_t first, std::int64_t last);
    void readHeadings();
    void writePageIndex();
    void writeHeadings();

    SQLiteDB& db_;
    SQLiteDB& package_;
    const Dist::CatBook& book_;
    bool reuse_ = false;
    // The pages of the version being replaced: their plain rows go at once,
    // their full-text and index rows just before the new ones are written.
    QList<StoredPage> replaced_;
    Dist::RootBuilder root_;
    std::optional<PageIndex::Writer> pageIndex_;
    std::optional<TriggersOff> triggersOff_; // while pageIndex_ writes
    QList<Heading> headings_;
};

void BookWriter::removeReplacedVersion()
{
    // A book the store has never held leaves nothing to remove; skipping the
    // pass keeps a first install from scanning tables that grow with the store.
    // Shared passages are found only between books that all carry shingles:
    // once the store holds any, every book it installs gets them, whatever
    // the preference says, or an update would leave holes in that data.
    reuse_ = LocalStore::withReuse()
        || db_.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM shingles)")).value_or(0) != 0;
    const bool held = db_.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM books WHERE id=?) "
                                                   "OR EXISTS(SELECT 1 FROM installed WHERE book_id=?)"),
                                    {book_.id, book_.id})
                          .value_or(1) != 0;
    if (!held)
        return;
    auto old = db_.prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=?"));
    must(old.has_value());
    old->bind({book_.id});
    Statement::Step step;
    while ((step = old->next()) == Statement::Step::Row)
        replaced_.append({old->integer(0).value_or(0), old->text(1).value_or(QString())});
    must(step == Statement::Step::Done);
    for (const char* sql : plainDeletes)
        must(db_.run(QString::fromLatin1(sql), {book_.id}));
}

void BookWriter::writeCatalogueRows(const Dist::Catalog& catalog)
{
    if (book_.authorId) {
        for (const auto& a : catalog.authors) {
            if (a.id != *book_.authorId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO authors(id, name, death_year, death_text, full_name, bio) "
                                  "VALUES(?,?,?,?,?,?)"),
                   {a.id, a.name, a.deathYear, a.deathText, a.fullName, a.bio});
            break;
        }
    }
    if (book_.categoryId) {
        for (const auto& c : catalog.categories) {
            if (c.id != *book_.categoryId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO categories(id, name, parent_id, sort) VALUES(?,?,?,?)"),
                   {c.id, c.name, c.parentId, c.sort});
            break;
        }
    }
    single(QStringLiteral("INSERT OR REPLACE INTO books(id, title, author_id, category_id, book_date, edition, "
                          "publisher, source_uri, license) VALUES(?,?,?,?,?,?,?,?,?)"),
           {book_.id, book_.title, book_.authorId, book_.categoryId, book_.bookDate, book_.edition, book_.publisher,
            book_.source, book_.license});
}

// The page's text and volume label within their bounds.
void BookWriter::checkPageBounds(const std::optional<QString>& text, const std::optional<QString>& vol)
{
    if (text && text->size() > Dist::maxPageLength)
        refuse(kMsgPageTooLarge(book_.title));
    if (vol && vol->size() > Dist::maxVolumeLabelLength)
        refuse(kMsgLabelTooLong(book_.title));
}

// The plain tables first, the full-text tables after (writePageIndex): a
// full-text table already written in the transaction flushes its pending
// terms at every statement savepoint, and a statement that fires a trigger
// opens one (see TriggersOff).
void BookWriter::writePages()
{
    auto insertPage = db_.prepare(QStringLiteral(
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
    ShingleWriter shingles(db_, book_.id);
    auto pages = package_.prepare(QString::fromLatin1(Dist::RootBuilder::pagesQuery));
    must(insertPage && shingles.ready() && pages);
    NarratorWriter narrators(db_);
    must(narrators.ready());
    // Made before the first page, so that the pages' own triggers know the
    // index is being kept; the triggers are then off until it is done.
    pageIndex_.emplace(db_);
    triggersOff_.emplace(db_);

    Statement::Step pageStep = Statement::Step::Row;
    std::int64_t pageCount = 0;
    std::int64_t firstId = std::numeric_limits<std::int64_t>::max();
    std::int64_t lastId = std::numeric_limits<std::int64_t>::min();
    // Each page's length is checked as it is read, before any work on it.
    const auto read = [&](std::vector<PackagePage>& batch) {
        qsizetype letters = 0;
        while (!batchFull(batch.size(), letters) && pageStep == Statement::Step::Row
               && (pageStep = pages->next()) == Statement::Step::Row) {
            const std::optional<QString> text = pages->text(4);
            const std::optional<QString> vol = pages->text(2);
            textRead(*pages, 4, text);
            textRead(*pages, 2, vol);
            checkPageBounds(text, vol);
            root_.addPage(*pages, text);
            letters += text ? text->size() : 0;
            batch.push_back({pages->integer(0).value_or(0), pages->integer(1).value_or(0), pages->integer(3), vol,
                             text.value_or(QString()), {}, {}, {}});
        }
    };
    const auto work = [this](PackagePage& page) {
        page.norm = Arabic::normalize(Library::searchedContent(page.content), true);
        page.edges = Isnad::edges(page.content);
        // Shared passages are the words as written, once.
        if (reuse_)
            page.shingles = TextReuse::shingleHashesOfNormalized(
                Arabic::mushafSpelling(page.content) ? Arabic::normalize(page.content, true) : page.norm);
    };
    const auto write = [&](std::vector<PackagePage>& batch) {
        for (PackagePage& page : batch) {
            ++pageCount;
            if (this->write(*insertPage, {page.id, book_.id, page.vol, page.pageNum, page.seq, page.content, page.norm})
                == Statement::Step::Constraint)
                refuse(kMsgIdConflict(book_.title));
            firstId = std::min(firstId, page.id);
            lastId = std::max(lastId, page.id);
            must(narrators.addEdges(page.edges, book_.id, page.id));
            for (const std::int64_t hash : page.shingles)
                shingles.add(hash, page.id);
            page = {}; // written: its text and work go now, not with the batch
        }
    };
    pipelined<PackagePage>(read, work, write);
    shingles.flush();
    // A failure while reading the package is not the end of its pages.
    if (pageStep != Statement::Step::Done)
        readCutShort();
    if (pageCount == 0)
        refuse(kMsgNoPages(book_.title));
    checkIdRange(firstId, lastId);
    shingles.settle();
}

// Refuses the page ids `first`..`last` when another book's pages lie among
// them or they among another book's. In a store whose books each keep their
// own stretch, a stretch holding no other book's page lies inside another
// book's only when its neighbours on both sides are that book's.
void BookWriter::checkIdRange(std::int64_t first, std::int64_t last)
{
    const auto among = db_.scalarInt(
        QStringLiteral("SELECT EXISTS(SELECT 1 FROM pages WHERE id BETWEEN ?1 AND ?2 AND book_id<>?3) "
                       "OR IFNULL((SELECT book_id FROM pages WHERE id<?1 ORDER BY id DESC LIMIT 1) "
                       "= (SELECT book_id FROM pages WHERE id>?2 ORDER BY id LIMIT 1), 0)"),
        {first, last, book_.id});
    must(among.has_value());
    if (*among != 0)
        refuse(kMsgIdInAnotherRange(book_.title));
}

// The headings, held for writeHeadings, with their titles within bounds;
// then the package's content root, proved over pages and headings.
void BookWriter::readHeadings()
{
    if (auto st = package_.prepare(QString::fromLatin1(Dist::RootBuilder::headingsQuery))) {
        Statement::Step headingStep;
        while ((headingStep = st->next()) == Statement::Step::Row) {
            std::optional<QString> title = st->typedText(4);
            if (title && title->size() > Dist::maxHeadingLength)
                refuse(kMsgHeadingTooLong(book_.title));
            root_.addHeading(*st);
            headings_.append({st->typedInteger(0), st->typedInteger(1), st->typedInteger(2), st->typedInteger(3),
                              std::move(title)});
        }
        // As with the pages: a read cut short is no end of the headings.
        if (headingStep != Statement::Step::Done)
            readCutShort();
    }
    if (root_.finish(book_.id, book_.title) != book_.root)
        throw Abort{kMsgContentRoot(book_.title)};
}

// The full-text and page index rows, made from the pages as stored and read
// back one at a time, so that a large book is never held in memory whole.
void BookWriter::writePageIndex()
{
    auto insertFts = db_.prepare(
        QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
    auto dropFts = db_.prepare(QStringLiteral("DELETE FROM pages_fts WHERE rowid=?"));
    must(insertFts && dropFts);
    for (const StoredPage& page : std::as_const(replaced_)) {
        write(*dropFts, {page.id});
        must(pageIndex_->remove(page.id, page.content));
    }
    replaced_.clear();
    auto written =
        db_.prepare(QStringLiteral("SELECT id, content, content_norm FROM pages WHERE book_id=? ORDER BY id"));
    must(written.has_value());
    written->bind({book_.id});
    Statement::Step writtenStep = Statement::Step::Row;
    const auto read = [&](std::vector<StoredRows>& batch) {
        qsizetype letters = 0;
        while (!batchFull(batch.size(), letters) && writtenStep == Statement::Step::Row
               && (writtenStep = written->next()) == Statement::Step::Row) {
            const std::int64_t id = written->integer(0).value_or(0);
            const std::optional<QString> content = written->text(1), norm = written->text(2);
            textRead(*written, 1, content);
            textRead(*written, 2, norm);
            batch.push_back({id, content.value_or(QString()), norm.value_or(QString()), pageIndex_->keeps(id), {}});
            letters += batch.back().content.size();
        }
    };
    const auto work = [](StoredRows& page) {
        if (page.indexed)
            page.row = PageIndex::pageRow(page.content);
    };
    const auto write = [&](std::vector<StoredRows>& batch) {
        for (StoredRows& page : batch) {
            if (this->write(*insertFts, {page.id, page.norm, page.id, book_.id}) == Statement::Step::Constraint)
                throw Abort{kMsgIdConflict(book_.title)};
            must(pageIndex_->add(page.id, page.row));
            page = {};
        }
    };
    pipelined<StoredRows>(read, work, write);
    must(writtenStep == Statement::Step::Done);
    written.reset();
    must(pageIndex_->finish());
    triggersOff_->restore();
    triggersOff_.reset();
}

void BookWriter::writeHeadings()
{
    auto owner = db_.prepare(QStringLiteral("SELECT book_id FROM toc WHERE id=?"));
    auto insertHeading = db_.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES(?,?,?,?,?,?)"));
    must(owner && insertHeading);
    for (const Heading& heading : std::as_const(headings_)) {
        if (heading.id) {
            owner->bind({*heading.id});
            const Statement::Step held = owner->next();
            if (held == Statement::Step::Error)
                throw Abort{LocalStore::installFailure(db_.lastFailure())};
            if (held == Statement::Step::Row && owner->integer(0) != book_.id)
                throw Abort{kMsgIdConflict(book_.title)};
        }
        // A heading without a title is refused by the schema and simply missing.
        write(*insertHeading,
              {heading.id, book_.id, heading.title, heading.pageSeq, heading.parentId, heading.level});
    }
}

} // namespace

void writeBook(SQLiteDB& store, SQLiteDB& package, const Dist::CatBook& book, const Dist::Catalog& catalog,
               std::int64_t release)
{
    BookWriter(store, package, book).replaceRows(catalog, release);
}

} // namespace quorvel::BookInstall
