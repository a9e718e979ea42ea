// Saves lines to one page's note from a process of its own, as the reader's
// note editor does: reads the note, adds a line and saves over what it
// read. Says "ready" once its library is open and starts at the first byte
// on its standard input, so that the test decides when the saves begin.
//
//   quorvel_note_saver <library> <user database> <book> <seq> <tag> <count>
//
// Exits 0 when every save was written, 2 (saying why) at the first that
// was not.

#include "core/Library.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

using namespace quorvel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 7)
        return 64;
    qputenv("QUORVEL_USERDB", argv[2]);
    const std::shared_ptr<Library> lib = Library::open(QString::fromLocal8Bit(argv[1]));
    if (!lib)
        return 3;
    const std::int64_t book = std::atoll(argv[3]);
    const std::int64_t seq = std::atoll(argv[4]);
    const QString tag = QString::fromLocal8Bit(argv[5]);
    const int count = std::atoi(argv[6]);
    std::puts("ready");
    std::fflush(stdout);
    char go = 0;
    if (::read(STDIN_FILENO, &go, 1) != 1)
        return 4;
    for (int i = 0; i < count; ++i) {
        const std::optional<Note> note = lib->note(book, seq);
        const QString line = QStringLiteral("%1 %2").arg(tag).arg(i);
        SQLFailure why;
        if (!lib->saveNote(book, seq, note ? note->text + u'\n' + line : line, note ? note->text : QString(), &why)) {
            std::fprintf(stderr, "save %d not written: %s\n", i, why.message.toUtf8().constData());
            return 2;
        }
    }
    return 0;
}
