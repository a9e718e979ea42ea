#include "distribution/BookInstall.h"
#include "distribution/BookInstallSteps.h"

#include "core/SQLiteDB.h"
#include "core/SQLiteTriggers.h"
#include "distribution/LocalStore.h"

#include <new>

namespace quorvel::BookInstall {

namespace {

void install(SQLiteDB& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
             const QUrl& base)
{
    TemporaryFile temp;
    // The compressed bytes go once inflated: the package is read from its file.
    const auto package = openPackage(book, fetchPackage(book, base), temp);

    // Anything thrown below leaves through the transaction, which rolls back.
    Transaction transaction(store);
    if (!transaction.begun())
        throw Dist::DistError(LocalStore::installFailure(store.lastFailure()));
    try {
        writeBook(store, *package, book, catalog, release);
    } catch (const Abort& abort) {
        // A refusal's writer switched the triggers on as it went; if it
        // could not, that is what the reader must hear.
        if (!setTriggersEnabled(store, true))
            throw Dist::DistError(kMsgTriggersOff);
        throw Dist::DistError(abort.message);
    }
    if (!transaction.commit())
        throw Dist::DistError(LocalStore::installFailure(transaction.failure()));
}

} // namespace

void run(SQLiteDB& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
         const QUrl& base)
{
    // Memory refused on any thread, by this program or by Qt, ends the
    // install as a refusal: the transaction has rolled back by now.
    try {
        install(store, book, catalog, release, base);
    } catch (const std::bad_alloc&) {
        setTriggersEnabled(store, true);
        throw Dist::DistError(kMsgOutOfMemory(book.title));
    }
}

} // namespace quorvel::BookInstall
