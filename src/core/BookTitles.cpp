#include "core/BookTitles.h"

#include "core/Arabic.h"
#include "core/Library.h"

#include <QSet>

namespace quorvel::BookTitles {

QList<QString> notes(const QList<Entry>& entries)
{
    QHash<QString, QList<qsizetype>> byTitle;
    for (qsizetype i = 0; i < entries.size(); ++i)
        byTitle[entries[i].title].append(i);
    QList<QString> out(entries.size());
    for (const QList<qsizetype>& group : std::as_const(byTitle)) {
        if (group.size() < 2)
            continue;
        for (const qsizetype i : group) {
            const Entry& e = entries[i];
            bool authorShared = e.author.isEmpty();
            for (const qsizetype j : group)
                authorShared = authorShared || (j != i && entries[j].author == e.author);
            out[i] = authorShared ? e.edition : e.author;
        }
    }
    return out;
}

QString label(const QString& title, const QString& note)
{
    // An edition note's year is shown in the reader's digits, as every
    // number beside it is.
    return note.isEmpty() ? title : title + QString::fromUtf16(separator) + Arabic::digits(note);
}

QList<QString> labels(const QList<Entry>& entries)
{
    const QList<QString> found = notes(entries);
    QList<QString> out;
    out.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        out.append(label(entries[i].title, found[i]));
    return out;
}

QHash<std::int64_t, QString> labels(const Catalog& catalog, const QList<std::int64_t>& books)
{
    QList<std::int64_t> ids;
    QList<Entry> entries;
    QSet<std::int64_t> seen;
    for (const std::int64_t id : books) {
        const auto book = catalog.bookById.constFind(id);
        if (book == catalog.bookById.constEnd() || seen.contains(id))
            continue;
        seen.insert(id);
        ids.append(id);
        // The bare name: the death year would only lengthen the title.
        QString author;
        if (book->authorId)
            if (const auto found = catalog.authors.constFind(*book->authorId); found != catalog.authors.constEnd())
                author = found->display().isEmpty() ? QString() : found->name;
        entries.append({book->title, author, book->edition.value_or(QString())});
    }
    const QList<QString> shown = labels(entries);
    QHash<std::int64_t, QString> out;
    for (qsizetype i = 0; i < ids.size(); ++i)
        out.insert(ids[i], shown[i]);
    return out;
}

QString label(const Catalog& catalog, std::int64_t book)
{
    const auto found = catalog.bookById.constFind(book);
    if (found == catalog.bookById.constEnd())
        return QString();
    QList<std::int64_t> sharing;
    for (const Book& other : catalog.books)
        if (other.title == found->title)
            sharing.append(other.id);
    return labels(catalog, sharing).value(book);
}

QHash<std::int64_t, QString> catalogLabels(const Catalog& catalog, const QList<std::int64_t>& books)
{
    QSet<QString> titles;
    for (const std::int64_t id : books)
        if (const auto found = catalog.bookById.constFind(id); found != catalog.bookById.constEnd())
            titles.insert(found->title);
    // Each title is told apart among all the catalogue's books of that title.
    QList<std::int64_t> sharing;
    for (const Book& book : catalog.books)
        if (titles.contains(book.title))
            sharing.append(book.id);
    const QHash<std::int64_t, QString> all = labels(catalog, sharing);
    QHash<std::int64_t, QString> out;
    for (const std::int64_t id : books)
        if (const auto found = all.constFind(id); found != all.constEnd())
            out.insert(id, *found);
    return out;
}

bool sameWork(const Book& a, const Book& b)
{
    return a.authorId && a.authorId == b.authorId && Arabic::normalize(a.title) == Arabic::normalize(b.title);
}

QList<std::int64_t> otherEditions(const Catalog& catalog, std::int64_t book)
{
    QList<std::int64_t> out;
    const auto found = catalog.bookById.constFind(book);
    if (found == catalog.bookById.constEnd())
        return out;
    for (const Book& other : catalog.books)
        if (other.id != book && sameWork(*found, other))
            out.append(other.id);
    return out;
}

std::int64_t work(const Catalog& catalog, std::int64_t book)
{
    const auto found = catalog.bookById.constFind(book);
    if (found == catalog.bookById.constEnd())
        return book;
    for (const Book& other : catalog.books)
        if (other.id == book || sameWork(*found, other))
            return other.id;
    return book;
}

} // namespace quorvel::BookTitles
