// Imports an exchange file from a process of its own, as the window does
// (from the file, a piece at a time), so that a test reads the import's
// memory apart from its own: prints the notes it added (set aside or not)
// and the rise of the resident set at its peak over what the process held
// before, in KB.
//
//   quorvel_note_importer <library> <user database> <file>
//
// Exits 0 when the import ran, 2 when it was refused or a write failed.

#include "core/Library.h"
#include "core/NotesFileReader.h"
#include "PeakMemory.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <malloc.h>

using namespace quorvel;

int main(int argc, char** argv)
{
    // Every large block mapped apart and given back when freed: otherwise
    // the allocator's threshold rises with each block freed, and the blocks
    // it then keeps for later count in the peak as if the import held them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 64;
    qputenv("QUORVEL_USERDB", argv[2]);
    const std::shared_ptr<Library> lib = Library::open(QString::fromLocal8Bit(argv[1]));
    QFile file(QString::fromLocal8Bit(argv[3]));
    if (!lib || !file.open(QIODevice::ReadOnly))
        return 3;
    NotesFileReader::FileSource source(file.handle(), file.size());
    std::optional<Library::ImportCounts> counts;
    const bench::Peak peak = bench::measurePeak([&] { counts = lib->importUserNotes(source, {}); });
    if (!counts || counts->failure)
        return 2;
    std::printf("%d %lld\n", counts->notes + counts->aside, peak.riseKB);
    return 0;
}
