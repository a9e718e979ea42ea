#include "ui/snapshot/SnapshotRun.h"

#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "mcp/ClaudeLink.h"
#include "ui/reader/QuranView.h"
#include "ui/search/PickerActions.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/BookExport.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/Sessions.h"
#include "ui/snapshot/Snapshot.h"

#include <QDir>
#include <QFile>

#include <array>
#include <cstdio>

namespace quorvel::snapshot {

namespace {

// An import's result as "(notes: N, marks: M, skipped: K)", or "nil" when
// the data was refused.
QString counts(const std::optional<Library::ImportCounts>& result)
{
    if (!result)
        return QStringLiteral("nil");
    return QStringLiteral("(notes: %1, marks: %2, skipped: %3)")
        .arg(result->notes)
        .arg(result->marks)
        .arg(result->skipped);
}

// The query scope's book count, -1 when the query has none.
qsizetype scopeSize(const SearchQuery& query)
{
    return query.scope ? query.scope->size() : -1;
}

int occurrences(const QString& text, const char* needle)
{
    return int(text.count(QString::fromLatin1(needle)));
}

// The first Quran tab's view, active or not.
QuranView* quranTab(const MainWindowController& main)
{
    for (const auto& tab : main.tabs())
        if (auto* view = qobject_cast<QuranView*>(tab->view()))
            return view;
    return nullptr;
}

// The copy rules' sample: bracketed and glued footnote numbers, a verse
// reference and a year that must survive.
constexpr char kCopySample[] = "قال رسول الله (١) الصلاة1 «٢» [3] في [البقرة: ٢٥٥] سنة 256";
constexpr char kFirstNote[] = "تعليق أول";
constexpr char kLocalNote[] = "تعليق محلي مختلف";
constexpr std::int64_t kNoteSeq = 3;
constexpr std::int64_t kBookmarkSeq = 5;
constexpr char kIgnoreQuery[] = "الصلاة";
// Lets the last search end before the window and its library go away.
constexpr double kSearchLimitSeconds = 60;
constexpr std::int64_t kDefaultHtmlBook = 785;
constexpr char kHtmlFile[] = "book.html";

} // namespace

int selfTest(Run& run)
{
    MainWindowController& main = run.main;
    Library& lib = main.library();

    const bool noTashkeel = Settings::copyNoTashkeel();
    const bool noFootnoteRefs = Settings::copyNoFootnoteRefs();
    Settings::setCopyNoTashkeel(true);
    Settings::setCopyNoFootnoteRefs(true);
    Line() << "copy:" << Arabic::forCopy(QString::fromUtf8(kCopySample));
    Settings::setCopyNoTashkeel(noTashkeel);
    Settings::setCopyNoFootnoteRefs(noFootnoteRefs);

    const QList<Book> books = lib.books();
    if (books.size() < 2) {
        std::fputs("SNAP_SELFTEST needs a catalogue of at least two books\n", stderr);
        return 1;
    }
    const std::int64_t b0 = books.at(0).id;
    const std::int64_t b1 = books.at(1).id;

    lib.saveNote(b0, kNoteSeq, QString::fromUtf8(kFirstNote));
    lib.toggleBookmark(b1, kBookmarkSeq);
    const std::optional<QByteArray> exported = lib.exportUserNotes();
    if (!exported) {
        std::fputs("SNAP_SELFTEST: the notes export gave no data\n", stderr);
        return 1;
    }
    Line() << "export:" << exported->size() << "bytes; reimport same:" << counts(lib.importUserNotes(*exported));

    lib.saveNote(b0, kNoteSeq, QString::fromUtf8(kLocalNote));
    const std::optional<Library::ImportCounts> merged = lib.importUserNotes(*exported);
    const std::optional<Note> stored = lib.note(b0, kNoteSeq);
    Line() << "merge different:" << counts(merged) << "->"
           << (stored ? QString(stored->text).replace(QLatin1Char('\n'), QStringLiteral(" | ")) : QString());

    Line() << "bad file:" << (lib.importUserNotes(QByteArrayLiteral("{}")) ? "ACCEPTED" : "rejected");

    lib.setIgnoredBooks({b0, b1});
    SearchQuery query;
    query.andPhrases = {QString::fromUtf8(kIgnoreQuery)};
    main.runSearch(query);
    if (SearchTabView* tab = run.lastSearchTab()) {
        const SearchQuery& ran = tab->query();
        Line() << "ignore all-books scope:" << scopeSize(ran) << "of" << books.size() << "contains ignored:"
               << (!ran.scope || ran.scope->contains(b0));
    }
    query.scope = QList<std::int64_t>{b0};
    main.runSearch(query);
    if (SearchTabView* tab = run.lastSearchTab())
        Line() << "ignore single-book scope kept:" << tab->query().scope.value_or(QList<std::int64_t>{});
    lib.setIgnoredBooks({});
    run.waitForSearch(kSearchLimitSeconds);

    std::optional<Book> book = lib.book(run.integer("SNAP_BOOK").value_or(kDefaultHtmlBook));
    if (!book)
        book = books.first();
    const QString html = BookExport::bookHTML(lib, *book);
    const QString path = run.path(QString::fromLatin1(kHtmlFile));
    if (const std::optional<QString> failed = AtomicFile::replace(path, html.toUtf8()))
        Line() << "html not written:" << path << *failed;
    Line() << "html:" << path << html.size() << "chars, pages:" << occurrences(html, R"(class="pg")")
           << "footnote blocks:" << occurrences(html, R"(class="fn")");
    return 0;
}

namespace {

constexpr char kClaudeConfigVariable[] = "QUORVEL_CLAUDE_CONFIG";
constexpr char kThrowAwayConfig[] = "quorvel-test-claude-config.json";
constexpr std::array<std::pair<std::int64_t, std::int64_t>, 3> kDeathSpans{{{700, 800}, {1, 100}, {1300, 1500}}};
constexpr int kTitlesShown = 3;
constexpr int kQuranSura = 18;
constexpr int kQuranVerse = 10;
constexpr char kSessionName[] = "بحث الكهف";

} // namespace

int features(Run& run)
{
    MainWindowController& main = run.main;
    Library& lib = main.library();

    // The link test must never touch the outside client's real configuration.
    if (qEnvironmentVariableIsEmpty(kClaudeConfigVariable))
        qputenv(kClaudeConfigVariable, QDir(QDir::tempPath()).filePath(QString::fromLatin1(kThrowAwayConfig)).toLocal8Bit());
    Line() << "claude linked before:" << ClaudeLink::linked();
    try {
        ClaudeLink::link(true);
        QFile config(ClaudeLink::configPath());
        const QString text = config.open(QIODevice::ReadOnly) ? QString::fromUtf8(config.readAll()) : QString();
        Line() << "after link:" << ClaudeLink::linked() << text;
        ClaudeLink::link(false);
        Line() << "after unlink:" << ClaudeLink::linked();
    } catch (const ClaudeLink::Error& error) {
        Line() << "link error" << error.message();
    }

    for (const auto& [from, to] : kDeathSpans) {
        const QList<std::int64_t> ids = PickerActions::books(lib, from, to);
        QStringList titles;
        for (const std::int64_t id : ids.first(std::min<qsizetype>(ids.size(), kTitlesShown)))
            if (const std::optional<Book> book = lib.book(id))
                titles.append(book->title);
        Line() << QStringLiteral("died %1-%2:").arg(from).arg(to) << ids.size() << titles;
    }

    main.openQuran(kQuranSura, kQuranVerse, false);
    main.openAI();
    Snapshot::wait(0.5);
    Line() << "tabs before:" << main.tabs().size();

    Sessions& sessions = main.sessions();
    if (const QString data = main.sessionJSON(); !data.isEmpty())
        sessions.storeNamedSession(QString::fromUtf8(kSessionName), data);
    // A tab that refuses to close would otherwise keep this loop going.
    while (!main.tabs().isEmpty()) {
        const qsizetype before = main.tabs().size();
        main.close(int(before - 1));
        if (main.tabs().size() == before)
            break;
    }
    const QList<Sessions::NamedSession> named = sessions.namedSessions();
    QStringList names;
    for (const Sessions::NamedSession& session : named)
        names.append(session.name);
    Line() << "tabs closed:" << main.tabs().size() << "sessions:" << names;

    if (!named.isEmpty())
        sessions.openNamedSession(named.first());
    Snapshot::wait(0.5);
    QStringList titles;
    for (const auto& tab : main.tabs())
        titles.append(tab->title());
    // A restored tab is made when it is shown: the Quran tab is brought forward.
    main.openQuran();
    run.waitForQuran();
    const QuranView* quran = quranTab(main);
    const auto [sura, verse] = quran ? quran->position() : std::pair<int, int>{0, 0};
    Line() << "tabs reopened:" << main.tabs().size() << titles << "quran pos:" << std::pair<std::int64_t, std::int64_t>{sura, verse};
    return 0;
}

} // namespace quorvel::snapshot
