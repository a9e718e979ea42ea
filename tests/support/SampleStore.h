#pragma once

#include <QString>
#include <QStringList>

namespace quorvel::test {

// The bundled sample release installed once for every test that reads it.
//
// Installing the sample takes seconds alone and a minute beside other tests,
// and each test runs in a process of its own: so each kind of install is made
// once per build folder, by the built executable with user files of its own,
// into a shared store that no test writes to. A test takes a copy of it.
// CTest makes the stores first (a fixture every window and end-to-end test
// requires); a test binary run on its own makes a missing one itself.
//
// A store is made again when the executable or the release is newer than it.
// Processes that find it missing at once make it in turn (a lock file beside
// it), so each one is installed by one of them. Any thread may call these,
// one at a time.
namespace SampleStore {

struct Kind {
    QString name;         // the store's folder under the shared stores' folder
    QStringList before;   // the executable's arguments before the install's
    QString books;        // the books to install (all of them when empty)
};

// "--dist-install" of the whole release.
Kind whole();
// Books 1-6 and 11 with their text-reuse data, as "-localReuse YES" installs them.
Kind withReuse();

struct Store {
    QString folder;       // the shared store; empty when it could not be made
    QString database;     // its library.db
    QString smart;        // its word model and page vectors
    QStringList out;      // the installer's standard output, line by line
    QString err;          // and its standard error
};

// The shared store of `kind` installed from the release folder `release`,
// made when missing or stale; an empty folder when the release holds no
// index or the install failed (its status and output then say why).
Store shared(const QString& release, const Kind& kind);

// A copy of the file `from` as `to` (replacing it), or of the files of the
// folder `from` into the folder `to` (made when missing); false when any copy
// failed. Unlike QFile::copy these never wait for the disk: a test's copy
// need not outlive a crash, and beside other tests' writes the wait for a
// store's hundred megabytes takes many seconds.
bool copyFile(const QString& from, const QString& to);
bool copyFiles(const QString& from, const QString& to);

// A copy of the shared store's database as `database` and of its smart
// folder's files into `smartDir`; false when any copy failed.
bool copy(const Store& store, const QString& database, const QString& smartDir);

// The files under `folder` with their sizes and times of change, one a line:
// a write to any of them, or a file added beside them (a write-ahead log),
// changes it.
QString fingerprint(const QString& folder);

// The stores handed to this process whose files are no longer as they were
// when it was first handed them: a test wrote into one (through a link in
// place of its copy, say), which every later test's copy would inherit.
// Each suite's main asks after its last test.
QStringList changedStores();

} // namespace SampleStore
} // namespace quorvel::test
