#include "core/Library.h"

#include "core/ArabicPlain.h"
#include "core/Characters.h"
#include "core/Numbers.h"

#include <QDateTime>

#include <algorithm>

namespace quorvel {

namespace {

const QString footnoteMarker = QStringLiteral("__________");
constexpr int kSuraCount = 114;
const QString quranTitleMark = QStringLiteral(u"القرآن");
const QString suraPrefix = QStringLiteral(u"سورة ");

} // namespace

Page Library::pageFromRow(const Statement::Row& row)
{
    Page p;
    p.id = row.integer(0).value_or(0);
    p.bookId = row.integer(1).value_or(0);
    // A volume is stored as text; a package may still have left a number.
    if (auto vol = row.str(2); vol && !vol->isEmpty())
        p.vol = *vol;
    else if (auto number = row.integer(2))
        p.vol = QString::number(*number);
    p.num = row.integer(3);
    p.seq = row.integer(4).value_or(0);
    p.content = row.str(5).value_or(QString());
    return p;
}

std::optional<Page> Library::firstPage(const QString& sql, const SQLArgs& args) const
{
    auto st = main_->prepare(sql);
    if (!st)
        return std::nullopt;
    st->bind(args);
    if (!st->step())
        return std::nullopt;
    return pageFromRow(st->row());
}

std::optional<Page> Library::page(std::int64_t book, std::int64_t seq) const
{
    return firstPage(QStringLiteral("SELECT id, book_id, vol, page_num, seq, content FROM pages "
                                    "WHERE book_id=? AND seq=?"),
                     {book, seq});
}

std::optional<Page> Library::page(std::int64_t id) const
{
    return firstPage(
        QStringLiteral("SELECT id, book_id, vol, page_num, seq, content FROM pages WHERE id=?"),
        {id});
}

QHash<std::int64_t, Page> Library::pages(const QList<std::int64_t>& ids) const
{
    QHash<std::int64_t, Page> found;
    const qsizetype slice = main_->maxParameters();
    for (qsizetype from = 0; from < ids.size(); from += slice) {
        const QList<std::int64_t> part = ids.mid(from, slice);
        const QString sql = QStringLiteral("SELECT id, book_id, vol, page_num, seq, content FROM pages WHERE id IN (")
            + SQLiteDB::marks(part.size()) + QStringLiteral(")");
        for (const auto& row : main_->rows(sql, argsOf(part))) {
            Page p = pageFromRow(row);
            found.insert(p.id, std::move(p));
        }
    }
    return found;
}

QList<Page> Library::bookPages(std::int64_t book) const
{
    QList<Page> found;
    for (const auto& row : main_->rows(QStringLiteral("SELECT id, book_id, vol, page_num, seq, content FROM pages "
                                                      "WHERE book_id=? ORDER BY seq"),
                                       {book}))
        found.append(pageFromRow(row));
    return found;
}

QList<std::pair<std::int64_t, std::int64_t>> Library::pageNumbers(std::int64_t book) const
{
    QList<std::pair<std::int64_t, std::int64_t>> found;
    for (const auto& row :
         main_->rows(QStringLiteral("SELECT page_num, seq FROM pages WHERE book_id=? ORDER BY seq"), {book})) {
        const std::int64_t seq = row.integer(1).value_or(0);
        found.append({row.integer(0).value_or(seq), seq});
    }
    return found;
}

std::int64_t Library::pageCount() const
{
    return main_->scalarInt(QStringLiteral("SELECT count(*) FROM pages")).value_or(0);
}

std::int64_t Library::pageCount(std::int64_t book) const
{
    return main_->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=?"), {book}).value_or(0);
}

std::optional<std::int64_t> Library::adjacentSeq(std::int64_t book, std::int64_t seq, int direction) const
{
    const QString sql = direction < 0 ? QStringLiteral("SELECT MAX(seq) FROM pages WHERE book_id=? AND seq<?")
                                      : QStringLiteral("SELECT MIN(seq) FROM pages WHERE book_id=? AND seq>?");
    return main_->scalarInt(sql, {book, seq});
}

std::optional<QString> Library::scanURL(std::int64_t page) const
{
    // Asked first so that a library without scans logs no failed statement.
    if (main_->scalarInt(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='page_scan'"))
            .value_or(0)
        == 0)
        return std::nullopt;
    const auto rows = main_->rows(QStringLiteral("SELECT url FROM page_scan WHERE page_id=?"), {page});
    return rows.isEmpty() ? std::nullopt : rows.first().str(0);
}

std::pair<std::int64_t, std::int64_t> Library::seqRange(std::int64_t book)
{
    std::lock_guard guard(cacheMutex_);
    if (const auto it = seqRanges_.constFind(book); it != seqRanges_.constEnd())
        return *it;
    std::pair<std::int64_t, std::int64_t> range{1, 1};
    const auto rows =
        main_->rows(QStringLiteral("SELECT MIN(seq), MAX(seq) FROM pages WHERE book_id=?"), {book});
    if (!rows.isEmpty())
        range = {rows.first().integer(0).value_or(1), rows.first().integer(1).value_or(1)};
    seqRanges_.insert(book, range);
    return range;
}

QStringList Library::volumes(std::int64_t book)
{
    std::lock_guard guard(cacheMutex_);
    if (const auto it = volsCache_.constFind(book); it != volsCache_.constEnd())
        return *it;
    QStringList labels;
    for (const auto& row : main_->rows(QStringLiteral(
             // A library file made elsewhere may hold a volume as a number.
             "SELECT DISTINCT CAST(vol AS TEXT) FROM pages WHERE book_id=? AND vol IS NOT NULL AND vol<>'' "
             "ORDER BY seq"),
                                       {book})) {
        if (auto label = row.str(0))
            labels.append(*label);
    }
    volsCache_.insert(book, labels);
    return labels;
}

std::optional<std::int64_t> Library::firstSeq(std::int64_t book, const QString& vol) const
{
    return main_->scalarInt(QStringLiteral("SELECT MIN(seq) FROM pages WHERE book_id=? AND CAST(vol AS TEXT)=?"),
                            {book, vol});
}

std::optional<std::int64_t> Library::seqFor(std::int64_t book, const std::optional<QString>& vol,
                                            std::int64_t pageNum) const
{
    if (vol && !vol->isEmpty()) {
        if (auto seq = main_->scalarInt(
                QStringLiteral("SELECT seq FROM pages WHERE book_id=? AND CAST(vol AS TEXT)=? AND page_num>=? "
                               "ORDER BY seq LIMIT 1"),
                {book, *vol, pageNum}))
            return seq;
    }
    return main_->scalarInt(QStringLiteral("SELECT seq FROM pages WHERE book_id=? AND page_num>=? "
                                           "ORDER BY seq LIMIT 1"),
                            {book, pageNum});
}

// Builds the book's tree in one pass over its rows in id order: an explicit
// parent is honoured when it was already read, otherwise a stack of open
// entries places the node by level. The lock is held from the cache test to
// the storing of the result, so concurrent callers build an entry once.
QList<TocNodePtr> Library::toc(std::int64_t book)
{
    std::lock_guard guard(cacheMutex_);
    if (const auto it = tocCache_.constFind(book); it != tocCache_.constEnd())
        return *it;

    const auto found = this->book(book);
    const bool quran = found && found->title.contains(quranTitleMark);

    QHash<std::int64_t, TocNodePtr> byId;
    QList<TocNodePtr> stack;
    QList<TocNodePtr> roots;
    QList<TocNodePtr> flat;
    for (const auto& row : main_->rows(QStringLiteral(
             "SELECT id, title, page_seq, parent_id, level FROM toc WHERE book_id=? ORDER BY id"),
                                       {book})) {
        QString title = row.str(1).value_or(QString());
        if (quran) {
            const auto n = Numbers::parseInteger(Characters::trimSpacesAndTabs(title).toString());
            if (n && *n >= 1 && *n <= kSuraCount)
                title = suraPrefix + suras().at(*n - 1);
        }
        const auto level = row.integer(4);
        auto node = std::make_shared<TocNode>(row.integer(0).value_or(0), title,
                                              row.integer(2).value_or(0),
                                              level && *level >= 1 ? *level : 1);
        // A row naming itself as parent would make the tree cyclic: such a
        // row is placed as if it named no parent.
        TocNodePtr parent;
        if (const auto parentId = row.integer(3)) {
            if (const auto it = byId.constFind(*parentId); it != byId.constEnd())
                parent = *it;
        }
        byId.insert(node->id, node);
        flat.append(node);
        if (parent) {
            node->parent = parent;
            parent->children.append(node);
        } else {
            while (!stack.isEmpty() && stack.last()->level >= node->level)
                stack.removeLast();
            if (!stack.isEmpty()) {
                node->parent = stack.last();
                stack.last()->children.append(node);
            } else {
                roots.append(node);
            }
        }
        stack.append(node);
    }
    std::stable_sort(flat.begin(), flat.end(),
                     [](const TocNodePtr& a, const TocNodePtr& b) { return a->seq < b->seq; });
    tocCache_.insert(book, roots);
    tocFlat_.insert(book, flat);
    return roots;
}

QList<TocNodePtr> Library::tocEntries(std::int64_t book)
{
    toc(book);
    std::lock_guard guard(cacheMutex_);
    return tocFlat_.value(book);
}

TocNodePtr Library::chapter(std::int64_t book, std::int64_t seq)
{
    const QList<TocNodePtr> flat = tocEntries(book);
    qsizetype low = 0;
    qsizetype high = flat.size() - 1;
    qsizetype found = -1;
    while (low <= high) {
        const qsizetype mid = (low + high) / 2;
        if (seq < flat.at(mid)->seq) {
            high = mid - 1;
        } else {
            found = mid;
            low = mid + 1;
        }
    }
    if (found < 0)
        return nullptr;
    TocNodePtr best = flat.at(found);
    for (qsizetype i = found - 1; i >= 0 && flat.at(i)->seq == best->seq; --i) {
        if (flat.at(i)->level > best->level)
            best = flat.at(i);
    }
    return best;
}

std::int64_t Library::now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000;
}

std::pair<QString, std::optional<QString>> Library::splitFootnotes(const QString& text)
{
    const qsizetype at = text.indexOf(footnoteMarker);
    if (at < 0)
        return {text, std::nullopt};
    qsizetype rest = at + footnoteMarker.size();
    while (rest < text.size() && text.at(rest) == u'_')
        ++rest;
    return {text.left(at).trimmed(), text.mid(rest).trimmed()};
}

QString Library::searchedContent(const QString& content)
{
    if (!Arabic::mushafSpelling(content))
        return content;
    const qsizetype at = content.indexOf(footnoteMarker);
    if (at < 0)
        return Arabic::searchedText(content);
    const QString notes = Arabic::plainLines(content.mid(at));
    return Arabic::searchedText(content.left(at)) + u'\n' + content.mid(at) + (notes.isEmpty() ? QString() : u'\n' + notes);
}

const QStringList& Library::suras()
{
    static const QStringList names = QStringLiteral(
        u"الفاتحة،البقرة،آل عمران،النساء،المائدة،الأنعام،الأعراف،الأنفال،التوبة،يونس،هود،يوسف،"
        u"الرعد،إبراهيم،الحجر،النحل،الإسراء،الكهف،مريم،طه،الأنبياء،الحج،المؤمنون،النور،الفرقان،"
        u"الشعراء،النمل،القصص،العنكبوت،الروم،لقمان،السجدة،الأحزاب،سبأ،فاطر،يس،الصافات،ص،الزمر،"
        u"غافر،فصلت،الشورى،الزخرف،الدخان،الجاثية،الأحقاف،محمد،الفتح،الحجرات،ق،الذاريات،الطور،"
        u"النجم،القمر،الرحمن،الواقعة،الحديد،المجادلة،الحشر،الممتحنة،الصف،الجمعة،المنافقون،"
        u"التغابن،الطلاق،التحريم،الملك،القلم،الحاقة،المعارج،نوح،الجن،المزمل،المدثر،القيامة،"
        u"الإنسان،المرسلات،النبأ،النازعات،عبس،التكوير،الانفطار،المطففين،الانشقاق،البروج،الطارق،"
        u"الأعلى،الغاشية،الفجر،البلد،الشمس،الليل،الضحى،الشرح،التين،العلق،القدر،البينة،الزلزلة،"
        u"العاديات،القارعة،التكاثر،العصر،الهمزة،الفيل،قريش،الماعون،الكوثر،الكافرون،النصر،المسد،"
        u"الإخلاص،الفلق،الناس")
                                         .split(u'،');
    Q_ASSERT(names.size() == kSuraCount);
    return names;
}

} // namespace quorvel
