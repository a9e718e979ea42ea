#pragma once

// What the installer's own files share, not for its callers: the refusals
// more than one step gives, the failure that leaves a step for the
// transaction to roll back, the statement helpers every writer throws
// through, and the steps the install's outline calls.

#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"

#include <QFile>
#include <QString>
#include <QUrl>

#include <unistd.h>

#include <cstdint>
#include <memory>

namespace quorvel::BookInstall {

// A refusal naming the book: the text before the title, the title, the text after.
struct TitledMessage {
    const char16_t* before;
    const char16_t* after;
    QString operator()(const QString& title) const
    {
        return QString::fromUtf16(before) + title + QString::fromUtf16(after);
    }
};

// More than the memory the process may take: a page too long for it, or
// too many books' worth of other work running beside the install.
inline constexpr TitledMessage kMsgOutOfMemory{u"لا تتسع الذاكرة المتاحة لتثبيت «", u"»."};
// The store's counting of changes could not be switched back on after the
// book's rows were written; nothing of the book is kept.
inline const QString kMsgTriggersOff = QStringLiteral("تعذّر التثبيت: تعذّرت إعادة تشغيل متابعة التغييرات في المكتبة المحلية");

// Thrown inside the transaction; the install rolls back and rethrows it.
struct Abort {
    QString message;
};

// The package's temporary file, removed however the install ends. Its
// descriptor holds an exclusive lock for the whole install, which tells a
// live install's file from one a killed install left behind.
struct TemporaryFile {
    QString path;
    int fd = -1;
    ~TemporaryFile()
    {
        if (!path.isEmpty())
            QFile::remove(path);
        if (fd >= 0)
            ::close(fd);
    }
};

// A statement that must not fail throws when it did.
inline void must(SQLiteDB& db, bool ok)
{
    if (!ok)
        throw Abort{LocalStore::installFailure(db.lastFailure())};
}

// One write that may be refused by a constraint but must not fail otherwise.
// A row that a constraint refuses is only skipped; any other failure (disk
// full, I/O error) means the transaction cannot be trusted.
inline Statement::Step write(SQLiteDB& db, Statement& st, const SQLArgs& args)
{
    st.bind(args);
    const Statement::Step step = st.next();
    if (step == Statement::Step::Error)
        throw Abort{LocalStore::installFailure(db.lastFailure())};
    return step;
}

// The package's bytes as the signed catalogue names them: fetched to disk as
// they arrive (a mirror sending more than the declared size fills neither
// memory nor the disk past it), their size and digest checked.
QByteArray fetchPackage(const Dist::CatBook& book, const QUrl& base);

// The package inflated into its locked temporary file (`temp`) and opened
// read-only; refused when it is no package of this library.
std::shared_ptr<SQLiteDB> openPackage(const Dist::CatBook& book, const QByteArray& packed, TemporaryFile& temp);

// Replaces every row of `book` in `store`, read from `package`, inside the
// store's open transaction; throws Abort when the book cannot be stored whole.
void writeBook(SQLiteDB& store, SQLiteDB& package, const Dist::CatBook& book, const Dist::Catalog& catalog,
               std::int64_t release);

} // namespace quorvel::BookInstall
