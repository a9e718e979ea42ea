#include "core/Json.h"
#include "core/Library.h"
#include "core/NoteMerge.h"
#include "core/NotesFileReader.h"
#include "core/Notifier.h"
#include "helpers/TwoLetterNotes.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/resource.h>

#include <gtest/gtest.h>

using namespace quorvel;
namespace Fixture = quorvel::test::FixtureLibrary;
using quorvel::test::ScopedEnv;

namespace {

struct NotesFile : ::testing::Test {
    QTemporaryDir dir;
    QString libraryPath;
    std::shared_ptr<Library> lib;

    void SetUp() override
    {
        libraryPath = Fixture::build(dir.path());
        lib = openWithUserDb("user.db");
        ASSERT_TRUE(lib);
    }

    std::shared_ptr<Library> openWithUserDb(const QString& name)
    {
        ScopedEnv env("QUORVEL_USERDB", dir.filePath(name));
        return Library::open(libraryPath);
    }

    static Json::Value parse(const QByteArray& bytes)
    {
        auto v = Json::parse(bytes);
        EXPECT_TRUE(v && v->is_object());
        return v ? *v : Json::Value();
    }

    static QByteArray file(const Json::Value& notes, const Json::Value& marks = Json::Value::array())
    {
        return Json::dumpBytes(
            {{"format", "quorvel-notes"}, {"version", 1}, {"notes", notes}, {"bookmarks", marks}});
    }

    int noteCount() { return int(lib->notes(std::nullopt).size()); }
};

} // namespace

TEST_F(NotesFile, exportOfAnEmptyUserDatabase)
{
    const auto bytes = lib->exportUserNotes();
    ASSERT_TRUE(bytes);
    const Json::Value top = parse(*bytes);
    EXPECT_EQ(top.at("format"), "quorvel-notes");
    EXPECT_EQ(top.at("version"), 1);
    EXPECT_TRUE(top.at("notes").is_array() && top.at("notes").empty());
    EXPECT_TRUE(top.at("bookmarks").is_array() && top.at("bookmarks").empty());
    EXPECT_EQ(top.size(), 4u);
}

TEST_F(NotesFile, exportThenImportIntoAFreshDatabaseReproducesEverything)
{
    lib->saveNote(1, 2, QString::fromUtf8("تعليق على الصفحة"));
    lib->saveNote(3, 7, "second\nline");
    lib->saveNote(42, 1, "book no longer in the library");
    lib->toggleBookmark(2, 5);
    lib->toggleBookmark(1, 1);
    lib->toggleBookmark(42, 3);
    const auto bytes = lib->exportUserNotes();
    ASSERT_TRUE(bytes);

    const Json::Value top = parse(*bytes);
    ASSERT_EQ(top.at("notes").size(), 3u);
    int withTitle = 0;
    for (const auto& n : top.at("notes")) {
        if (n.at("book_id") == 42)
            EXPECT_FALSE(n.contains("book"));
        else
            withTitle += n.contains("book") ? 1 : 0;
    }
    EXPECT_EQ(withTitle, 2);
    EXPECT_EQ(top.at("bookmarks").size(), 3u); // book 42's bookmark too, set aside

    auto fresh = openWithUserDb("fresh.db");
    ASSERT_TRUE(fresh);
    const auto counts = fresh->importUserNotes(*bytes);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 2);
    EXPECT_EQ(counts->aside, 2); // book 42's note and bookmark
    EXPECT_EQ(counts->marks, 2);
    EXPECT_EQ(counts->skipped, 0);
    for (const Note& n : lib->notes(std::nullopt))
        EXPECT_EQ(fresh->note(n.bookId, n.seq).value_or(Note{}).text, n.text);
    EXPECT_TRUE(fresh->isBookmarked(2, 5));
    EXPECT_TRUE(fresh->isBookmarked(1, 1));
    EXPECT_TRUE(fresh->isBookmarked(42, 3));

    // The same file again adds nothing.
    const auto again = fresh->importUserNotes(*bytes);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->notes, 0);
    EXPECT_EQ(again->marks, 0);
    EXPECT_EQ(again->skipped, 3);
    EXPECT_EQ(fresh->notes(std::nullopt).size(), 3);
    EXPECT_EQ(fresh->bookmarks().size(), 2);
}

TEST_F(NotesFile, filesThatAreNotNotesFilesChangeNothing)
{
    const Json::Value goodNote = Json::Value::array({{{"book_id", 1}, {"seq", 1}, {"text", "x"}}});
    const QList<QByteArray> refused = {
        "not json",
        "[]",
        "{}",
        Json::dumpBytes({{"notes", goodNote}}),
        Json::dumpBytes({{"format", "other"}, {"notes", goodNote}}),
        Json::dumpBytes({{"format", 1}, {"notes", goodNote}}),
        Json::dumpBytes({{"format", "quorvel-notes"}, {"version", 2}, {"notes", goodNote}}),
    };
    for (const QByteArray& data : refused) {
        EXPECT_FALSE(lib->importUserNotes(data)) << data.toStdString();
    }
    EXPECT_EQ(noteCount(), 0);
    // Without a version the file is read.
    EXPECT_TRUE(lib->importUserNotes(Json::dumpBytes({{"format", "quorvel-notes"}})));
}

TEST_F(NotesFile, notesMatchByTitleMergeAndSkip)
{
    const QString ibnMajah = QString::fromUtf8("سنن ابن ماجه"); // books 2 and 3
    lib->saveNote(1, 9, "old text");
    lib->saveNote(1, 10, "contains imported words");
    const auto counts = lib->importUserNotes(file(Json::Value::array({
        // Book 99 is unknown, but its title names book 2 (the first in
        // display order with that title).
        {{"book_id", 99}, {"seq", 1}, {"text", "by title"}, {"book", Json::utf8(ibnMajah)}},
        // A title that names no book keeps the id.
        {{"book_id", 3}, {"seq", 2}, {"text", "kept id"}, {"book", "no such title"}},
        {{"book_id", 1}, {"seq", 9}, {"text", "new text"}},
        {{"book_id", 1}, {"seq", 10}, {"text", "  imported  "}},
        {{"book_id", 1}, {"seq", 11}, {"text", " \n "}},
        {{"book_id", 1.0}, {"seq", 12}, {"text", "integral double"}},
        {{"book_id", 1.5}, {"seq", 13}, {"text", "fraction"}},
        {{"book_id", "1"}, {"seq", 14}, {"text", "text id"}},
        {{"book_id", std::uint64_t(18446744073709551615u)}, {"seq", 16}, {"text", "too large"}},
        {{"book_id", 1}, {"seq", 15}},
        Json::Value::object(),
    })));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 4);
    EXPECT_EQ(counts->skipped, 7);
    EXPECT_EQ(lib->note(2, 1).value_or(Note{}).text, "by title");
    EXPECT_EQ(lib->note(3, 2).value_or(Note{}).text, "kept id");
    EXPECT_EQ(lib->note(1, 9).value_or(Note{}).text, "old text\nnew text");
    EXPECT_EQ(lib->note(1, 10).value_or(Note{}).text, "contains imported words");
    EXPECT_FALSE(lib->note(1, 11));
    EXPECT_EQ(lib->note(1, 12).value_or(Note{}).text, "integral double");
    EXPECT_FALSE(lib->note(1, 13));
    EXPECT_FALSE(lib->note(-1, 16));

    // Untrimmed text imported a second time is found in the stored note.
    const QByteArray padded =
        file(Json::Value::array({{{"book_id", 2}, {"seq", 4}, {"text", "  padded text \n"}}}));
    EXPECT_EQ(lib->importUserNotes(padded)->notes, 1);
    const auto second = lib->importUserNotes(padded);
    EXPECT_EQ(second->notes, 0);
    EXPECT_EQ(second->skipped, 1);
    EXPECT_EQ(lib->note(2, 4).value_or(Note{}).text, "padded text");
}

// White space of every kind, over many kilobytes, makes a blank note; one
// word after it, however far in, makes a note of that word.
TEST_F(NotesFile, whiteSpaceAloneIsBlankAtAnyLength)
{
    const QString blank = QStringLiteral(u"\u3000\u00A0\u2003\t\v\f\r\n \u2029\u0085").repeated(900);
    const QString word = QStringLiteral(u"حديث");
    const auto counts = lib->importUserNotes(file(Json::Value::array({
        {{"book_id", 1}, {"seq", 20}, {"text", Json::utf8(blank)}},
        {{"book_id", 1}, {"seq", 21}, {"text", Json::utf8(blank + word + blank)}},
    })));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->skipped, 1);
    EXPECT_EQ(counts->notes + counts->aside, 1);
    EXPECT_FALSE(lib->note(1, 20));
    EXPECT_EQ(lib->note(1, 21).value_or(Note{}).text, word);
}

TEST_F(NotesFile, malformedArraysAndBookmarks)
{
    // One element that is not an object: no note is imported or counted.
    const auto mixed = lib->importUserNotes(
        file(Json::Value::array({{{"book_id", 1}, {"seq", 1}, {"text", "x"}}, 5})));
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->notes, 0);
    EXPECT_EQ(mixed->skipped, 0);
    EXPECT_EQ(noteCount(), 0);

    lib->toggleBookmark(1, 3);
    const auto marks = lib->importUserNotes(file(Json::Value::array(), Json::Value::array({
        {{"book_id", 1}, {"seq", 3}},
        {{"book_id", 2}, {"seq", 6}},
        {{"book_id", 2}},
        {{"seq", 6}},
    })));
    ASSERT_TRUE(marks);
    EXPECT_EQ(marks->marks, 1);
    EXPECT_EQ(marks->skipped, 0);
    EXPECT_TRUE(lib->isBookmarked(1, 3)); // importing never removes one
    EXPECT_TRUE(lib->isBookmarked(2, 6));

    // Bookmarks that are not an array of objects: none.
    const auto none = lib->importUserNotes(
        Json::dumpBytes({{"format", "quorvel-notes"}, {"bookmarks", {{"book_id", 3}}}}));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->marks, 0);
}

// The file is read entry by entry, not as one document, yet as the whole
// document reads: a member written twice counts as its last writing, a
// member the import reads given as an array or object counts as missing,
// and a text that is no valid JSON to its end, or nested too deep, adds
// nothing although its first entries were read before the fault.
TEST_F(NotesFile, readEntryByEntryAsTheWholeDocumentReads)
{
    const QByteArray head = R"({"format":"quorvel-notes","version":1,)";
    const QByteArray one = R"({"book_id":1,"seq":21,"text":"one"})";
    const QByteArray deep = QByteArray(Json::maxDepth, '[') + QByteArray(Json::maxDepth, ']');
    const struct {
        const char* name;
        QByteArray data;
        int notes = -1; // -1: refused
        int marks = 0;
        int skipped = 0;
    } cases[] = {
        {"notes written twice, the last an array", head + R"("notes":5,"notes":[)" + one + "]}", 1},
        {"notes written twice, the last no array", head + R"("notes":[)" + one + R"(],"notes":{"a":1}})", 0},
        {"two notes arrays, the last counting", head + R"("notes":[{"book_id":1,"seq":21,"text":"x"},{"book_id":1,"seq":22,"text":"y"}],"notes":[)" + one + "]}", 1},
        {"a null among the entries", head + R"("notes":[null,)" + one + R"(,null],"bookmarks":[null,{"book_id":2,"seq":10}]})", 1, 1, 2},
        {"a list of objects ending in an array", head + R"("notes":[)" + one + "," + one + ",[1]]}", 0},
        {"a field written twice", head + R"("notes":[{"book_id":1,"seq":21,"text":["x"],"text":"two"}]})", 1},
        {"a field as an object", head + R"("notes":[{"book_id":{"n":1},"seq":21,"text":"x"}]})", 0, 0, 1},
        {"bookmarks beside notes, any order",
         head + R"("bookmarks":[{"book_id":2,"seq":9},{"book_id":[2],"seq":9}],"notes":[)" + one + "]}", 1, 1},
        {"format as an array", R"({"format":["quorvel-notes"],"notes":[)" + one + "]}"},
        {"format written twice, the last another", head + R"("notes":[)" + one + R"(],"format":"other"})"},
        {"cut short after its entries", head + R"("notes":[)" + one + "," + one},
        {"trailing bytes", head + R"("notes":[)" + one + "]} x"},
        {"nested too deep in an entry",
         head + R"("notes":[)" + one + R"(,{"book_id":1,"seq":21,"x":)" + deep + "}]}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lib->saveNote(1, 21, QString());
        const auto counts = lib->importUserNotes(c.data);
        ASSERT_EQ(counts.has_value(), c.notes >= 0);
        if (!counts) {
            EXPECT_FALSE(lib->note(1, 21));
            continue;
        }
        EXPECT_EQ(counts->notes, c.notes);
        EXPECT_EQ(counts->marks, c.marks);
        EXPECT_EQ(counts->skipped, c.skipped);
        if (c.notes > 0) {
            EXPECT_EQ(lib->note(1, 21).value_or(Note{}).text, c.name == std::string_view("a field written twice") ? "two" : "one");
        }
        EXPECT_FALSE(lib->note(1, 22)); // only the last notes array counts
    }
}

// A file the library would refuse whole for one fault says which and where
// when it is cut off, and reads on past a byte that is no UTF-8: that
// byte's note comes in with U+FFFD in its place, the others as written.
TEST_F(NotesFile, aCutCopySaysWhereAndABadByteSpoilsOnlyItsOwnCharacter)
{
    const QByteArray whole = "{\n"
                             "  \"format\": \"quorvel-notes\",\n"
                             "  \"notes\": [\n"
                             "    {\"book_id\": 1, \"seq\": 3, \"text\": \"first\"},\n"
                             "    {\"book_id\": 1, \"seq\": 4, \"text\": \"second\"},\n"
                             "    {\"book_id\": 1, \"seq\": 5, \"text\": \"third\"}\n"
                             "  ]\n"
                             "}\n";
    const struct {
        const char* name;
        qsizetype keep; // bytes of the whole text kept
        bool cut;
        qint64 line, entries;
    } cases[] = {
        {"cut inside the second entry", whole.indexOf("second") + 3, true, 5, 1},
        {"cut after the third entry", whole.indexOf("]"), true, 7, 3},
        {"cut after the top", whole.indexOf("\"notes\""), true, 3, 0},
        {"a stray byte after the first entry", -1, false, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray data = c.keep >= 0 ? whole.left(c.keep) : whole;
        if (c.keep < 0)
            data.insert(data.indexOf("},") + 2, " x");
        Library::ImportRefusal why;
        Library::ImportControl control;
        control.refusal = &why;
        EXPECT_FALSE(lib->importUserNotes(data, control));
        EXPECT_EQ(why.cut, c.cut);
        EXPECT_EQ(why.line, c.line);
        EXPECT_EQ(why.entries, c.entries);
    }
    EXPECT_EQ(noteCount(), 0);

    QByteArray broken = whole;
    broken.replace("second", "sec\xff\xfeond");
    broken.replace("third", "th\xd9ird"); // a first byte with no second
    const auto counts = lib->importUserNotes(broken);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 3);
    EXPECT_EQ(lib->note(1, 3).value_or(Note{}).text, "first");
    EXPECT_EQ(lib->note(1, 4).value_or(Note{}).text, QString::fromUtf8("sec\xef\xbf\xbd\xef\xbf\xbdond"));
    EXPECT_EQ(lib->note(1, 5).value_or(Note{}).text, QString::fromUtf8("th\xef\xbf\xbdird"));
}

// Notes on a book the library does not hold, or on a page past the end of
// one it holds, are kept where a removed book's notes wait, but counted
// apart: no page would show them.
TEST_F(NotesFile, notesNoPageShowsAreKeptAsideAndCountedApart)
{
    const std::int64_t last = lib->seqRange(1).second;
    const auto counts = lib->importUserNotes(file(Json::Value::array({
        {{"book_id", 1}, {"seq", last}, {"text", "on the last page"}},
        {{"book_id", 1}, {"seq", last + 1}, {"text", "past the end"}},
        {{"book_id", 42}, {"seq", 1}, {"text", "a book not installed"}},
        {{"book_id", 42}, {"seq", 1}, {"text", "a book not installed"}},
    })));
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 1);
    EXPECT_EQ(counts->aside, 2);
    EXPECT_EQ(counts->skipped, 1);
    EXPECT_EQ(lib->note(1, last + 1).value_or(Note{}).text, "past the end");
    EXPECT_EQ(lib->note(42, 1).value_or(Note{}).text, "a book not installed");

    // Bookmarks too: counted apart, kept, and carried out by the next export
    // with the notes set aside.
    const auto marks = lib->importUserNotes(
        file(Json::Value::array(), Json::Value::array({{{"book_id", 1}, {"seq", last}}, {{"book_id", 42}, {"seq", 3}}})));
    ASSERT_TRUE(marks);
    EXPECT_EQ(marks->marks, 1);
    EXPECT_EQ(marks->aside, 1);
    EXPECT_TRUE(lib->setAside(42, 3));
    EXPECT_TRUE(lib->setAside(1, last + 1));
    EXPECT_FALSE(lib->setAside(1, last));
    const auto exported = lib->exportUserNotes();
    ASSERT_TRUE(exported);
    const auto fresh = openWithUserDb("fresh.db");
    const auto back = fresh->importUserNotes(*exported);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->notes, 1);
    EXPECT_EQ(back->marks, 1);
    EXPECT_EQ(back->aside, 3);
    EXPECT_TRUE(fresh->isBookmarked(42, 3));
    EXPECT_EQ(fresh->note(1, last + 1).value_or(Note{}).text, "past the end");
}

// Twenty thousand notes on one page (a file of about 1.6 MB) are merged in
// file order, with repeats and pieces of earlier notes skipped as on any
// page; the import reports its progress and, stopped, writes nothing more.
TEST_F(NotesFile, twentyThousandNotesOnOnePageMergeInOrderReportAndStop)
{
    const int count = 20'000;
    const auto noteText = [](int i) {
        return QStringLiteral(u"تعليق رقم %1 على هذه الصفحة من كتاب الطهارة في باب المياه").arg(i);
    };
    lib->saveNote(1, 5, noteText(0));
    Json::Value notes = Json::Value::array();
    for (int i = 1; i <= count; ++i)
        notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(noteText(i))}});
    notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(noteText(7))}});          // a repeat
    notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(noteText(8).left(14))}}); // a piece
    const QByteArray bytes = file(notes);
    ASSERT_GT(bytes.size(), 1'500'000);

    QList<std::pair<qint64, qint64>> reports;
    Library::ImportControl control;
    control.progress = [&](qint64 done, qint64 total) { reports.append({done, total}); };
    const auto counts = lib->importUserNotes(bytes, control);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, count);
    EXPECT_EQ(counts->skipped, 2);
    EXPECT_FALSE(counts->stopped);
    const QStringList lines = lib->note(1, 5).value_or(Note{}).text.split(u'\n');
    ASSERT_EQ(lines.size(), count + 1);
    for (int i : {0, 1, 2, 9'999, count})
        EXPECT_EQ(lines[i], noteText(i)) << i;
    ASSERT_GT(reports.size(), 2);
    EXPECT_EQ(reports.last(), (std::pair<qint64, qint64>{count + 2, count + 2}));
    for (qsizetype i = 1; i < reports.size(); ++i)
        EXPECT_LT(reports[i - 1].first, reports[i].first);

    // The same file again adds nothing.
    const auto again = lib->importUserNotes(bytes);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->notes, 0);
    EXPECT_EQ(again->skipped, count + 2);

    // Stopped at its first report, an import into another page writes nothing.
    for (Json::Value& entry : notes)
        entry["seq"] = 6;
    std::atomic<bool> stop = false;
    control.stop = &stop;
    control.progress = [&](qint64, qint64) { stop = true; };
    const auto stopped = lib->importUserNotes(file(notes), control);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(stopped->stopped);
    EXPECT_EQ(stopped->notes, 0);
    EXPECT_FALSE(lib->note(1, 6));
}

// Whether a page holds a note is answered without a scan of its text: a
// note shorter than a piece by the sets of the text's pieces (sixteen
// thousand two-letter notes the page holds already, each once inside a
// line: none is scanned for), a longer one by the filter of pieces (two
// thousand new notes: the filter turns nearly all away unscanned). The
// answers stay those of a scan, across lines and after appends.
TEST(NoteMerge, piecesAnswerWithoutScanningTheText)
{
    const QStringList pairs = test::twoLetterNotes(16'000);
    NoteMerge shortNotes(pairs.join(u' '));
    for (const QString& note : std::as_const(pairs))
        ASSERT_TRUE(shortNotes.contains(note));
    EXPECT_EQ(shortNotes.scans(), 0);
    EXPECT_FALSE(shortNotes.contains(QStringLiteral("ab")));
    shortNotes.append(QStringLiteral("xab"));
    EXPECT_TRUE(shortNotes.contains(QStringLiteral("ab")));
    EXPECT_TRUE(shortNotes.contains(pairs.last().right(1) + QStringLiteral("\nx"))); // across the new line
    EXPECT_EQ(shortNotes.scans(), 0);

    NoteMerge longNotes(QStringLiteral("تعليق قديم على الصفحة"));
    const int count = 2'000;
    for (int i = 0; i < count; ++i) {
        const QString note = QStringLiteral(u"فائدة رقم %1 في باب").arg(i * 7919);
        ASSERT_FALSE(longNotes.contains(note)) << i;
        longNotes.append(note);
    }
    EXPECT_LT(longNotes.scans(), count / 10);
    EXPECT_TRUE(longNotes.contains(QStringLiteral(u"قديم على الص")));
    EXPECT_TRUE(longNotes.contains(QStringLiteral(u"فائدة رقم 7919 في")));
    EXPECT_FALSE(longNotes.contains(QStringLiteral(u"فائدة رقم 7918 في")));
    EXPECT_EQ(longNotes.added(), count);
}

// A note typed while an import runs, after the import has read the file and
// before it has merged every page, is kept beside what the import adds, on
// the page merged first as on the page merged last.
TEST_F(NotesFile, anEditMadeWhileAnImportRunsIsKept)
{
    const int pages = 1'000;
    Json::Value notes = Json::Value::array();
    for (int seq = 1; seq <= pages; ++seq)
        notes.push_back({{"book_id", 1}, {"seq", seq}, {"text", Json::utf8(QStringLiteral("imported %1").arg(seq))}});
    const QString typed = QStringLiteral("typed meanwhile");
    bool edited = false;
    Library::ImportControl control;
    control.progress = [&](qint64, qint64) {
        if (edited)
            return;
        edited = true;
        for (const std::int64_t seq : {1, pages}) {
            const QString before = lib->note(1, seq).value_or(Note{}).text;
            lib->saveNote(1, seq, before.isEmpty() ? typed : before + u'\n' + typed);
        }
    };
    const auto counts = lib->importUserNotes(file(notes), control);
    ASSERT_TRUE(counts);
    ASSERT_TRUE(edited);
    EXPECT_EQ(counts->notes, lib->seqRange(1).second);
    EXPECT_EQ(counts->notes + counts->aside, pages);
    for (const std::int64_t seq : {1, pages}) {
        const QStringList lines = lib->note(1, seq).value_or(Note{}).text.split(u'\n');
        EXPECT_TRUE(lines.contains(typed)) << seq;
        EXPECT_TRUE(lines.contains(QStringLiteral("imported %1").arg(seq))) << seq;
    }
}

// Bookmarks set by another thread while an import adds the same ones are
// all there at the end: the import adds each in one step, never checking
// first and toggling after.
TEST_F(NotesFile, bookmarksSetWhileAnImportAddsThemStay)
{
    const int count = 20'000;
    Json::Value marks = Json::Value::array();
    for (int seq = 1; seq <= count; ++seq)
        marks.push_back({{"book_id", 1}, {"seq", seq}});
    std::atomic<bool> started = false;
    Library::ImportControl control;
    control.progress = [&](qint64, qint64) { started = true; };
    std::thread user([&] {
        while (!started)
            std::this_thread::yield();
        for (int seq = 1; seq <= count; ++seq)
            lib->user().run(QStringLiteral("INSERT OR IGNORE INTO bookmarks(book_id, seq, ts) VALUES(1, ?, 0)"), {seq});
    });
    const auto counts = lib->importUserNotes(file(Json::Value::array(), marks), control);
    user.join();
    ASSERT_TRUE(counts);
    EXPECT_EQ(lib->user().scalarInt(QStringLiteral("SELECT COUNT(*) FROM bookmarks")), count);
}

// A page whose text already holds every imported note, each as a piece of
// a longer line, answers each note by comparing it at the few places its
// rarest piece lies: never by a scan of the whole text, so the work grows
// with the notes and not with their square. Pieces that are absent, or
// cross an appended line, are answered as a scan would.
TEST(NoteMerge, aTextHoldingEveryNoteComparesEachAtFewPlaces)
{
    const int count = 4'000;
    const auto noteText = [](int i) { return QStringLiteral(u"ملاحظة رقم %1 على الباب").arg(i); };
    QStringList held;
    for (int i = 0; i < count; ++i)
        held << noteText(i);
    NoteMerge page(held.join(QStringLiteral(u" ، ")));
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(page.contains(noteText(i))) << i;
    EXPECT_EQ(page.scans(), 0);
    EXPECT_LE(page.compared(), 2 * count);
    EXPECT_EQ(page.added(), 0);

    EXPECT_FALSE(page.contains(QStringLiteral(u"ملاحظة رقم 4000 على الباب")));
    page.append(QStringLiteral(u"ملاحظة رقم 4000 على الباب"));
    EXPECT_TRUE(page.contains(QStringLiteral(u"ملاحظة رقم 4000 على الباب")));
    EXPECT_TRUE(page.contains(QStringLiteral(u"3999 على الباب\nملاحظة رقم 40")));
    EXPECT_FALSE(page.contains(QStringLiteral(u"3999 على الباب ملاحظة رقم 40")));
    EXPECT_EQ(page.scans(), 0);
}

// A save from the window while an import merges a page of thousands of
// notes on another thread neither waits for that merge nor joins the
// import's transaction: the import's progress report waits for the save,
// which would never come while the import held the lock across its merge.
TEST_F(NotesFile, aSaveDuringTheMergeOfALargePageWaitsForNoImport)
{
    const int count = 8'000;
    Json::Value notes = Json::Value::array();
    for (int i = 0; i < count; ++i)
        notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(QStringLiteral(u"ملاحظة رقم %1").arg(i))}});
    std::mutex mutex;
    std::condition_variable changed;
    bool merging = false;
    bool saved = false;
    bool savedInTime = false;
    Library::ImportControl control;
    control.progress = [&](qint64 done, qint64) {
        std::unique_lock lock(mutex);
        if (merging || done >= count)
            return;
        merging = true;
        changed.notify_all();
        // Bounded only so that a failing run ends.
        savedInTime = changed.wait_for(lock, std::chrono::seconds(30), [&] { return saved; });
    };
    std::optional<Library::ImportCounts> counts;
    std::thread import([&] { counts = lib->importUserNotes(file(notes), control); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return merging; });
    }
    EXPECT_TRUE(lib->saveNote(1, 9, QStringLiteral("typed meanwhile")));
    EXPECT_TRUE(lib->toggleBookmark(1, 9));
    lib->setLastViewed(1, 9);
    EXPECT_FALSE(lib->user().inTransaction());
    {
        std::lock_guard lock(mutex);
        saved = true;
    }
    changed.notify_all();
    import.join();
    EXPECT_TRUE(savedInTime);
    // Another connection sees what the window wrote, as committed.
    const auto other = SQLiteDB::open(dir.filePath("user.db"), true);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->scalarInt(QStringLiteral("SELECT seq FROM last_viewed WHERE book_id=1")), 9);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, count);
    EXPECT_EQ(lib->note(1, 5).value_or(Note{}).text.count(u'\n'), count - 1);
    EXPECT_EQ(lib->note(1, 9).value_or(Note{}).text, "typed meanwhile");
}

// With the disk full midway (a file-size limit), the import stops at the
// first write or commit that fails and says why; what it counts is what
// the user database holds.
TEST_F(NotesFile, aFullDiskStopsTheImportAndSaysWhy)
{
    const int count = 30'000;
    Json::Value notes = Json::Value::array();
    for (int i = 0; i < count; ++i)
        notes.push_back({{"book_id", 1 + i % 3}, {"seq", 1 + i / 3},
                         {"text", Json::utf8(QStringLiteral(u"فائدة مطولة رقم %1 في هذا الموضع من الكتاب").arg(i))}});
    const QByteArray bytes = file(notes);
    const auto sizeOf = [&](const char* name) { return QFileInfo(dir.filePath(name)).size(); };
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = rlim_t(std::max(sizeOf("user.db"), sizeOf("user.db-wal")) + 512 * 1024);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto counts = lib->importUserNotes(bytes);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(counts);
    ASSERT_TRUE(counts->failure);
    EXPECT_TRUE(counts->failure->kind == SQLFailure::Kind::full || counts->failure->systemError != 0)
        << counts->failure->message.toStdString();
    EXPECT_GT(counts->notes + counts->aside, 0);
    EXPECT_LT(counts->notes + counts->aside, count);
    EXPECT_EQ(counts->notes + counts->aside, noteCount());
    EXPECT_TRUE(lib->userDataFault());
}

// One page's write alone overflowing the disk (a note larger than the
// connection's page cache is written out before the commit) stops the
// import there: nothing of its group is kept or counted, and no later page
// is written on its own.
TEST_F(NotesFile, aFullDiskAtOnePagesWriteStopsTheImportThere)
{
    Json::Value notes = Json::Value::array();
    for (int seq = 1; seq <= 40; ++seq)
        notes.push_back({{"book_id", 1}, {"seq", seq}, {"text", Json::utf8(QStringLiteral(u"فائدة على الصفحة %1").arg(seq))}});
    notes.push_back({{"book_id", 2}, {"seq", 1}, {"text", std::string(16 << 20, 'x')}});
    for (int seq = 2; seq <= 40; ++seq)
        notes.push_back({{"book_id", 2}, {"seq", seq}, {"text", Json::utf8(QStringLiteral(u"فائدة أخرى %1").arg(seq))}});
    const QByteArray bytes = file(notes);
    const auto sizeOf = [&](const char* name) { return QFileInfo(dir.filePath(name)).size(); };
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = rlim_t(std::max(sizeOf("user.db"), sizeOf("user.db-wal")) + 4 * 1024 * 1024);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto counts = lib->importUserNotes(bytes);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(counts);
    ASSERT_TRUE(counts->failure);
    EXPECT_EQ(counts->notes + counts->aside, 0);
    EXPECT_EQ(noteCount(), 0);
}

namespace {

// A source that tells how many bytes were asked of it.
struct CountedSource final : NotesFileReader::Source {
    NotesFileReader::Source& inner;
    qint64 bytes = 0;
    explicit CountedSource(NotesFileReader::Source& source) : inner(source) {}
    bool rewind() override { return inner.rewind(); }
    qint64 read(char* into, qint64 max) override
    {
        const qint64 n = inner.read(into, max);
        bytes += std::max<qint64>(n, 0);
        return n;
    }
    qint64 size() const override { return inner.size(); }
};

} // namespace

// A file is judged by its first bytes and read as a stream: a 4 GiB sparse
// file is refused at its first bytes, and one that opens as an exchange
// file and turns to zeros at the first piece that holds them; a file read
// in pieces imports as the same bytes whole do, a character cut by a
// piece's end included.
TEST_F(NotesFile, aFileIsJudgedByItsFirstBytesAndReadAsAStream)
{
    constexpr qint64 huge = qint64(4) << 30;
    for (const QByteArray head : {QByteArray(), QByteArray(R"({"format":"quorvel-notes","version":1,"notes":[)")}) {
        SCOPED_TRACE(head.constData());
        QFile sparse(dir.filePath("sparse.json"));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(sparse.write(head), head.size());
        ASSERT_TRUE(sparse.resize(huge));
        sparse.close();
        ASSERT_TRUE(sparse.open(QIODevice::ReadOnly));
        NotesFileReader::FileSource fromFile(sparse.handle(), huge);
        CountedSource counted(fromFile);
        Library::ImportRefusal why;
        Library::ImportControl control;
        control.refusal = &why;
        EXPECT_FALSE(lib->importUserNotes(counted, control));
        EXPECT_FALSE(why.cut);
        // Zeros alone at their first bytes; zeros after a head at the first
        // piece that holds them.
        EXPECT_LE(counted.bytes, head.isEmpty() ? NotesFileReader::headBytes : qint64(4) << 20);
    }

    // Notes of several pieces' length, an Arabic letter of each across a
    // piece's end, come in whole.
    Json::Value notes = Json::Value::array();
    const QString letters = QStringLiteral(u"بسم الله ");
    for (int seq = 1; seq <= 3; ++seq)
        notes.push_back({{"book_id", 1}, {"seq", seq}, {"text", Json::utf8(QString(letters).repeated((1 << 20) / 7 + seq))}});
    const QByteArray bytes = file(notes);
    QFile whole(dir.filePath("whole.json"));
    ASSERT_TRUE(whole.open(QIODevice::WriteOnly));
    ASSERT_EQ(whole.write(bytes), bytes.size());
    whole.close();
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    NotesFileReader::FileSource fromFile(whole.handle(), bytes.size());
    const auto counts = lib->importUserNotes(fromFile, {});
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 3);
    for (int seq = 1; seq <= 3; ++seq)
        EXPECT_EQ(lib->note(1, seq).value_or(Note{}).text, QString(letters).repeated((1 << 20) / 7 + seq).trimmed()) << seq;
}

// A note of many megabytes imported from its file is held about twice at
// most at any moment (the parser's two copies while it is read, its bytes
// and their UTF-16 while merged, SQLite's copy and its record while
// written): it is not decoded whole to be told from a blank note, and its
// merged text is let go once SQLite holds its own copy. Measured in a
// process of its own, whose peak is the import's.
TEST_F(NotesFile, aNoteOfManyMegabytesIsHeldAboutTwiceAtMost)
{
    // Half as large again as a power of two, where the parser's buffers,
    // doubling as they grow, hold least beside the text.
    constexpr qsizetype bytes = qsizetype(48) << 20;
    constexpr double mostTimesTheFile = 2.6;
    const QByteArray words = QStringLiteral(u"قال أبو عبد الله في باب المياه والطهارة ").toUtf8();
    QByteArray text;
    text.reserve(bytes + words.size());
    while (text.size() < bytes)
        text += words;
    QFile out(dir.filePath("long.json"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    for (const QByteArray& part : {QByteArray(R"({"format":"quorvel-notes","version":1,"notes":[{"book_id":1,"seq":2,"text":")"),
                                   text, QByteArray(R"("}],"bookmarks":[]})")})
        ASSERT_EQ(out.write(part), part.size());
    out.close();

    QProcess importer;
    importer.start(QString::fromUtf8(QUORVEL_NOTE_IMPORTER), {libraryPath, dir.filePath("user.db"), out.fileName()});
    ASSERT_TRUE(importer.waitForFinished(-1));
    ASSERT_EQ(importer.exitCode(), 0) << importer.readAllStandardError().toStdString();
    const QList<QByteArray> got = importer.readAllStandardOutput().trimmed().split(' ');
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].toInt(), 1);
    const double peakBytes = got[1].toDouble() * 1024;
    EXPECT_GT(peakBytes, double(bytes)) << "the peak reads as less than the note itself";
    EXPECT_LE(peakBytes, mostTimesTheFile * double(out.size()));
    EXPECT_EQ(lib->note(1, 2).value_or(Note{}).text, QString::fromUtf8(text).trimmed());
}

// A page its reader keeps editing while an import merges into it (an edit
// after each of the import's writes) is merged again a few times, then
// under the write lock, and the import ends with every line; stopped
// meanwhile, it ends at once.
TEST_F(NotesFile, aPageEditedWithoutPauseIsMergedUnderTheLockAndTheImportEnds)
{
    const int count = 600;
    Json::Value notes = Json::Value::array();
    for (int i = 0; i < count; ++i)
        notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(QStringLiteral(u"ملاحظة مستوردة %1").arg(i))}});
    // Bounded only so that a failing run ends.
    constexpr int mostEdits = 200;
    int edits = 0;
    bool editing = false;
    std::atomic<bool> stop = false;
    int stopAt = -1;
    std::int64_t page = 5;
    const auto typeALine = [&] {
        if (editing || edits >= mostEdits)
            return;
        editing = true;
        const std::optional<Note> before = lib->note(1, page);
        const QString line = QStringLiteral("typed %1").arg(edits++);
        lib->saveNote(1, page, before ? before->text + u'\n' + line : line, before ? before->text : QString());
        editing = false;
        if (edits == stopAt)
            stop = true;
    };
    QObject context;
    QObject::connect(&Notifier::shared(), &Notifier::userDataChanged, &context, typeALine, Qt::DirectConnection);
    Library::ImportControl control;
    control.progress = [&](qint64 done, qint64) {
        if (done < count)
            typeALine();
    };
    // Imports the notes into page `seq` while its reader types there, the
    // import asked to stop at edit `stopAfter` (never when negative).
    const auto importWhileTyping = [&](std::int64_t seq, int stopAfter) {
        for (Json::Value& entry : notes)
            entry["seq"] = seq;
        page = seq;
        edits = 0;
        stopAt = stopAfter;
        control.stop = stopAfter < 0 ? nullptr : &stop;
        return lib->importUserNotes(file(notes), control);
    };

    const auto counts = importWhileTyping(5, -1);
    ASSERT_TRUE(counts);
    EXPECT_FALSE(counts->stopped);
    EXPECT_EQ(counts->notes, count);
    EXPECT_LT(edits, 10);
    const QStringList lines = lib->note(1, 5).value_or(Note{}).text.split(u'\n');
    EXPECT_EQ(lines.size(), count + edits);
    for (int i = 0; i < edits; ++i)
        EXPECT_TRUE(lines.contains(QStringLiteral("typed %1").arg(i))) << i;
    EXPECT_EQ(lib->user().scalarInt(QStringLiteral("SELECT COUNT(*) FROM notes")), 1);

    // Stopped at the second edit: the page keeps what was typed, no more.
    const auto stopped = importWhileTyping(6, 2);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(stopped->stopped);
    EXPECT_EQ(stopped->notes, 0);
    EXPECT_LE(edits, 3);
    EXPECT_FALSE(lib->note(1, 6).value_or(Note{}).text.contains(QStringLiteral(u"ملاحظة مستوردة")));
}

// Saves from two other processes, each reading the page's note and saving
// a line over it as the note editor does, while this process imports
// thousands of notes into the same page: no line of any of them is lost,
// and the page keeps one row.
TEST_F(NotesFile, savesFromOtherProcessesDuringAnImportLoseNoLineAndLeaveOneRow)
{
    const int imported = 3'000;
    const int saved = 150;
    Json::Value notes = Json::Value::array();
    for (int i = 0; i < imported; ++i)
        notes.push_back({{"book_id", 1}, {"seq", 5}, {"text", Json::utf8(QStringLiteral(u"فائدة مستوردة %1").arg(i))}});
    std::vector<std::unique_ptr<QProcess>> savers;
    for (const char* tag : {"first", "second"}) {
        auto& saver = savers.emplace_back(std::make_unique<QProcess>());
        saver->start(QString::fromUtf8(QUORVEL_NOTE_SAVER),
                     {libraryPath, dir.filePath("user.db"), "1", "5", QString::fromLatin1(tag), QString::number(saved)});
        ASSERT_TRUE(saver->waitForStarted(-1));
    }
    for (auto& saver : savers) {
        while (!saver->canReadLine())
            ASSERT_TRUE(saver->waitForReadyRead(-1)) << saver->readAllStandardError().toStdString();
        ASSERT_EQ(saver->readLine().trimmed(), "ready");
    }
    // Once the import has read the page's note, the savers begin; it goes
    // on once their first line is written, so that its writing of the page
    // meets theirs.
    bool begun = false;
    Library::ImportControl control;
    control.progress = [&](qint64, qint64) {
        if (begun)
            return;
        begun = true;
        for (auto& saver : savers) {
            saver->write("g");
            saver->waitForBytesWritten(-1);
        }
        while (!lib->note(1, 5).value_or(Note{}).text.contains(QStringLiteral("first 0")))
            std::this_thread::yield();
    };
    const auto counts = lib->importUserNotes(file(notes), control);
    for (auto& saver : savers) {
        ASSERT_TRUE(saver->waitForFinished(-1));
        EXPECT_EQ(saver->exitCode(), 0) << saver->readAllStandardError().toStdString();
    }
    ASSERT_TRUE(begun);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, imported);
    EXPECT_EQ(lib->user().scalarInt(QStringLiteral("SELECT COUNT(*) FROM notes WHERE book_id=1 AND seq=5")), 1);
    const QStringList lines = lib->note(1, 5).value_or(Note{}).text.split(u'\n');
    const QSet<QString> held(lines.cbegin(), lines.cend());
    EXPECT_EQ(lines.size(), imported + 2 * saved);
    int lost = 0;
    for (int i = 0; i < saved; ++i)
        for (const char* tag : {"first", "second"})
            lost += held.contains(QStringLiteral("%1 %2").arg(QLatin1String(tag)).arg(i)) ? 0 : 1;
    for (int i = 0; i < imported; ++i)
        lost += held.contains(QStringLiteral(u"فائدة مستوردة %1").arg(i)) ? 0 : 1;
    EXPECT_EQ(lost, 0);
}
