// The harness's window jobs run end to end through the built application on
// the sample library: the update alert, the Downloads window, hit stepping in
// the reader, the Quran tab and the restored session, each with its result
// lines and pictures, and the orderly stops on values they cannot use.

#include "ui/snapshot/SnapshotTestSupport.h"

#include "core/Library.h"
#include "support/ScopedEnv.h"
#include "ui/kit/Dialogs.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

using namespace quorvel;
using test::SnapshotProcess;
using test::SnapshotRun;

namespace {

const QSize kWindow(1400, 860);

#define REQUIRE_SAMPLE_LIBRARY()                                                                                       \
    do {                                                                                                               \
        if (test::sampleLibraryPath().isEmpty())                                                                       \
            GTEST_SKIP() << "the sample release is not built";                                                        \
    } while (false)

// The numbers of a line's items after `prefix`, split at spaces and commas.
QList<std::int64_t> numbersAfter(const QString& line, const QString& prefix)
{
    QList<std::int64_t> numbers;
    for (const QString& item : line.mid(prefix.size()).split(QRegularExpression(QStringLiteral("[ ,]")), Qt::SkipEmptyParts))
        numbers.append(item.toLongLong());
    return numbers;
}

// Stores a session document in the run's user database, as the window's
// autosave would.
void storeSession(const SnapshotProcess& process, const QString& document)
{
    test::ScopedEnv userdb("QUORVEL_USERDB", process.userDb());
    const std::shared_ptr<Library> lib = Library::open(test::sampleLibraryPath());
    ASSERT_TRUE(lib);
    ASSERT_TRUE(lib->setKV(QStringLiteral("session"), document));
}

bool anyFileMentions(const QString& folder, const QByteArray& text)
{
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
            return true;
    }
    return false;
}

} // namespace

TEST(SnapshotViewsTest, alertBoxIsBuiltWithTheDialogsLookWithoutRunning)
{
    const std::unique_ptr<QMessageBox> box(Dialogs::messageBox(
        QStringLiteral("عنوان"), QStringLiteral("شرح"), {QStringLiteral("أول"), QStringLiteral("ثان"), QStringLiteral("ثالث")}));
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("عنوان"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("شرح"));
    QStringList titles;
    for (QAbstractButton* button : box->buttons())
        titles << button->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("أول"), QStringLiteral("ثان"), QStringLiteral("ثالث")}));
    ASSERT_TRUE(box->defaultButton());
    EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("أول"));

    const std::unique_ptr<QMessageBox> plain(Dialogs::messageBox(QStringLiteral("عنوان"), QString()));
    ASSERT_EQ(plain->buttons().size(), 1);
    EXPECT_EQ(plain->buttons().first()->text(), QString::fromUtf8(Dialogs::okTitle));
    EXPECT_TRUE(plain->informativeText().isEmpty());
}

TEST(SnapshotViewsTest, updateAlertIsPhotographedAndABadReleaseStopsWithAMessage)
{
    REQUIRE_SAMPLE_LIBRARY();
    SnapshotProcess process;

    for (const QString& bad : {QStringLiteral("{not json"), QStringLiteral(R"({"version": "2.0", "build": "7"})"),
                               QStringLiteral("[]")}) {
        const SnapshotRun run = process.run({{QStringLiteral("SNAP_UPDATE"), bad}});
        ASSERT_TRUE(run.finished) << bad.toStdString();
        EXPECT_NE(run.status, 0) << bad.toStdString();
        EXPECT_TRUE(run.errors.contains(QStringLiteral("SNAP_UPDATE:"))) << run.errors.toStdString();
        EXPECT_TRUE(run.linesStartingWith(QStringLiteral("snapshot:")).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(run.file(QStringLiteral("update.png"))));
    }

    const SnapshotRun run = process.run(
        {{QStringLiteral("SNAP_UPDATE"), QStringLiteral(R"({"version": "2.5", "build": 250, "notes": ["بحث أسرع", "فهرس جديد"]})")}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    EXPECT_EQ(run.linesStartingWith(QStringLiteral("snapshot:")),
              QStringList{QStringLiteral("snapshot: ") + run.file(QStringLiteral("update.png"))});
    const QImage alert(run.file(QStringLiteral("update.png")));
    // A laid-out box with the notes and three buttons, not a bare frame.
    EXPECT_GT(alert.width(), 300);
    EXPECT_GT(alert.height(), 150);
    EXPECT_TRUE(test::isPicture(run.file(QStringLiteral("update.png")), alert.size()));
}

TEST(SnapshotViewsTest, downloadsWindowShowsTheGivenSourceAndLeavesTheStoredOneAlone)
{
    REQUIRE_SAMPLE_LIBRARY();
    SnapshotProcess process;
    const SnapshotRun run = process.run({{QStringLiteral("SNAP_DL"), QStringLiteral(QUORVEL_SAMPLE_RELEASE)}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    EXPECT_EQ(run.linesStartingWith(QStringLiteral("snapshot:")),
              QStringList{QStringLiteral("snapshot: ") + run.file(QStringLiteral("07-downloads.png"))});
    EXPECT_TRUE(test::isPicture(run.file(QStringLiteral("07-downloads.png")), QSize(980, 660)));
    // The source was set for the picture only: no setting keeps it.
    EXPECT_FALSE(anyFileMentions(process.work() + QStringLiteral("/config"), "distSource"));
}

TEST(SnapshotViewsTest, hitStepsForwardPageByPageAndTheSessionComesBack)
{
    REQUIRE_SAMPLE_LIBRARY();
    SnapshotProcess process;

    for (const QString& bad : {QStringLiteral("1:5"), QStringLiteral("x:5:الصلاة"), QStringLiteral("1:y:الصلاة"),
                               QStringLiteral("99999:1:الصلاة")}) {
        const SnapshotRun run = process.run({{QStringLiteral("SNAP_HITNAV"), bad}});
        ASSERT_TRUE(run.finished);
        EXPECT_NE(run.status, 0) << bad.toStdString();
        EXPECT_TRUE(run.errors.contains(QStringLiteral("SNAP_HITNAV:"))) << run.errors.toStdString();
        EXPECT_TRUE(run.linesStartingWith(QStringLiteral("hitnav:")).isEmpty());
    }

    const SnapshotRun run = process.run({{QStringLiteral("SNAP_HITNAV"), QStringLiteral("1:1:الصلاة")}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    const QStringList lines = run.linesStartingWith(QStringLiteral("hitnav: "));
    ASSERT_EQ(lines.size(), 1) << run.lines.join(u'\n').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^hitnav: \\d+(,\\d+){5}$")).match(lines.first()).hasMatch())
        << lines.first().toStdString();
    const QList<std::int64_t> seqs = numbersAfter(lines.first(), QStringLiteral("hitnav: "));
    ASSERT_EQ(seqs.size(), 6);
    EXPECT_GE(seqs.first(), 1);
    for (qsizetype i = 1; i < seqs.size(); ++i)
        EXPECT_GT(seqs.at(i), seqs.at(i - 1)) << lines.first().toStdString();

    // The stepping left its page in the autosaved session; the next launch
    // restores it.
    const SnapshotRun restored = process.run({{QStringLiteral("SNAP_RESTORE"), QString()}});
    ASSERT_TRUE(restored.finished);
    EXPECT_EQ(restored.status, 0) << restored.errors.toStdString();
    const QStringList back = restored.linesStartingWith(QStringLiteral("restored: "));
    ASSERT_EQ(back.size(), 1) << restored.lines.join(u'\n').toStdString();
    EXPECT_TRUE(back.first().startsWith(QStringLiteral("restored: 1 %1 y=").arg(seqs.last())))
        << back.first().toStdString();
    EXPECT_TRUE(test::isPicture(restored.file(QStringLiteral("00-restored.png")), kWindow));
}

TEST(SnapshotViewsTest, restoreShowsTheStoredBookPageAndScroll)
{
    REQUIRE_SAMPLE_LIBRARY();
    SnapshotProcess process;
    storeSession(process, QStringLiteral(R"({"tabs": [{"k": "book", "b": 13, "s": 40, "y": 0.5}], "active": 0})"));

    const SnapshotRun run = process.run({{QStringLiteral("SNAP_RESTORE"), QStringLiteral("1")}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    EXPECT_EQ(run.linesStartingWith(QStringLiteral("restored:")), QStringList{QStringLiteral("restored: 13 40 y=0.50")})
        << run.lines.join(u'\n').toStdString();
    EXPECT_TRUE(test::isPicture(run.file(QStringLiteral("00-restored.png")), kWindow));

    // Without a stored session nothing is restored and no line is printed.
    SnapshotProcess empty;
    const SnapshotRun none = empty.run({{QStringLiteral("SNAP_RESTORE"), QString()}});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.linesStartingWith(QStringLiteral("restored:")).isEmpty());
    EXPECT_TRUE(test::isPicture(none.file(QStringLiteral("00-restored.png")), kWindow));
}

TEST(SnapshotViewsTest, quranTabPrintsItsCountsVersesSearchAndCitedHits)
{
    REQUIRE_SAMPLE_LIBRARY();
    SnapshotProcess process;

    const SnapshotRun bad = process.run({{QStringLiteral("SNAP_QURAN"), QStringLiteral("البقرة:255")}});
    ASSERT_TRUE(bad.finished);
    EXPECT_NE(bad.status, 0);
    EXPECT_TRUE(bad.errors.contains(QStringLiteral("SNAP_QURAN:"))) << bad.errors.toStdString();

    const SnapshotRun run = process.run({{QStringLiteral("SNAP_QURAN"), QStringLiteral("112:1:الصمد:all")}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    const QString all = run.lines.join(u'\n');

    const QStringList loaded = run.linesStartingWith(QStringLiteral("quran loaded in "));
    ASSERT_EQ(loaded.size(), 1) << all.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^quran loaded in \\d+\\.\\d\\ds ayat: 6236$")).match(loaded.first()).hasMatch())
        << loaded.first().toStdString();
    const QStringList counts = run.linesStartingWith(QStringLiteral("counts 2/9/26/114: "));
    ASSERT_EQ(counts.size(), 1) << all.toStdString();
    EXPECT_TRUE(counts.first().startsWith(QStringLiteral("counts 2/9/26/114: 286 129 227 6 pages: ")))
        << counts.first().toStdString();

    const QStringList verses = run.linesStartingWith(QStringLiteral("  "));
    ASSERT_EQ(verses.size(), 5) << all.toStdString();
    const QStringList heads{QStringLiteral("  1:1 p"), QStringLiteral("  2:1 p"), QStringLiteral("  9:1 p"),
                            QStringLiteral("  27:30 p"), QStringLiteral("  114:6 p")};
    const QList<int> juz{1, 1, 10, 19, 30};
    for (qsizetype i = 0; i < verses.size(); ++i) {
        EXPECT_TRUE(verses.at(i).startsWith(heads.at(i))) << verses.at(i).toStdString();
        EXPECT_TRUE(verses.at(i).contains(QStringLiteral(" juz%1: ").arg(juz.at(i)))) << verses.at(i).toStdString();
        const QString text = verses.at(i).section(QStringLiteral(": "), 1);
        EXPECT_FALSE(text.trimmed().isEmpty()) << verses.at(i).toStdString();
        EXPECT_LE(text.size(), 40);
    }
    // The first verse's text is the basmala, as the book writes it.
    EXPECT_TRUE(verses.at(0).contains(QStringLiteral("بِسْمِ"))) << verses.at(0).toStdString();

    const QStringList cited = run.linesStartingWith(QStringLiteral("cited: "));
    ASSERT_EQ(cited.size(), 1) << all.toStdString();
    const QRegularExpressionMatch parts =
        QRegularExpression(QStringLiteral("^cited: (\\d+) hits for \\[\"(.+)\"\\] scope (\\d+) books$")).match(cited.first());
    ASSERT_TRUE(parts.hasMatch()) << cited.first().toStdString();
    EXPECT_GT(parts.captured(1).toInt(), 0);
    EXPECT_TRUE(parts.captured(2).contains(QStringLiteral("احد"))) << cited.first().toStdString();
    EXPECT_GT(parts.captured(3).toInt(), 1);

    for (const char* name : {"q1-sura.png", "q2-search.png", "q3-cited.png"}) {
        EXPECT_TRUE(run.lines.contains(QStringLiteral("snapshot: ") + run.file(QString::fromLatin1(name)))) << name;
        EXPECT_TRUE(test::isPicture(run.file(QString::fromLatin1(name)), kWindow)) << name;
    }

    // Two parts: the sura only; three: the search as well, no cited search.
    SnapshotProcess shorter;
    const SnapshotRun sura = shorter.run({{QStringLiteral("SNAP_QURAN"), QStringLiteral("18:10")}});
    EXPECT_EQ(sura.status, 0);
    EXPECT_TRUE(QFileInfo::exists(sura.file(QStringLiteral("q1-sura.png"))));
    EXPECT_FALSE(QFileInfo::exists(sura.file(QStringLiteral("q2-search.png"))));
    EXPECT_TRUE(sura.linesStartingWith(QStringLiteral("cited:")).isEmpty());
}

TEST(SnapshotViewsTest, largeTextKeepsEveryWindowAndItsMinimumOnASmallScreen)
{
    REQUIRE_SAMPLE_LIBRARY();
    const QString keep = QCoreApplication::applicationDirPath() + QStringLiteral("/large-text/");
    QDir().mkpath(keep);
    for (const char* scale : {"2", "1.5", "1"}) {
        SnapshotProcess process;
        // A 1600×1000 screen, which text at 200% makes 800×500 in the windows' units.
        const QString config = process.work() + QStringLiteral("/screen.json");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1600, "height": 1000,
                       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        file.close();
        const SnapshotRun run = process.run({{QStringLiteral("SNAP_SCREENS"), QString()},
                                             {QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale)},
                                             {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config}});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.status, 0) << run.errors.toStdString();
        const QStringList windows = run.linesStartingWith(QStringLiteral("window: "));
        // Main, search, Downloads, settings, about, a save panel and an analysis panel, by day and by
        // night; then the main window with a results tab.
        EXPECT_EQ(windows.size(), 15) << run.lines.join(u'\n').toStdString();
        // Nothing a reader needs is cut, squeezed or lying over another view.
        const QStringList faults = run.linesStartingWith(QStringLiteral("fault: "));
        EXPECT_TRUE(faults.isEmpty()) << "scale " << scale << ":\n" << faults.join(u'\n').toStdString();
        // At 150% and 100% every window holds its rows without scrolling; only 200% may need it.
        if (QString::fromLatin1(scale) != QStringLiteral("2")) {
            const QStringList scrolled = run.linesStartingWith(QStringLiteral("scrolls: "));
            EXPECT_TRUE(scrolled.isEmpty()) << scrolled.join(u'\n').toStdString();
        }
        for (const QString& line : windows) {
            const QStringList items = line.split(u' ');
            ASSERT_EQ(items.size(), 6) << line.toStdString();
            const QList<std::int64_t> frame = numbersAfter(items[3], {});
            const QList<std::int64_t> minimum = numbersAfter(items[4], {});
            const QList<std::int64_t> room = numbersAfter(items[5], {});
            ASSERT_EQ(frame.size() + minimum.size() + room.size(), 10) << line.toStdString();
            const QRect screen(room[0], room[1], room[2], room[3]);
            EXPECT_LE(screen.width(), 1600 / QString::fromLatin1(scale).toDouble() + 1) << "the scale was not applied";
            EXPECT_TRUE(screen.contains(QRect(frame[0], frame[1], frame[2], frame[3])))
                << "scale " << scale << ": " << line.toStdString();
            EXPECT_LE(minimum[0], screen.width()) << "scale " << scale << ": " << line.toStdString();
            EXPECT_LE(minimum[1], screen.height()) << "scale " << scale << ": " << line.toStdString();
            const QString picture =
                run.file(QStringLiteral("screen-%1-%2.png").arg(items[1], items[2]));
            EXPECT_TRUE(test::isPicture(picture)) << picture.toStdString();
            QFile::remove(keep + QStringLiteral("%1-%2-%3.png").arg(QString::fromLatin1(scale), items[1], items[2]));
            QFile::copy(picture, keep + QStringLiteral("%1-%2-%3.png").arg(QString::fromLatin1(scale), items[1], items[2]));
        }
        // The whole screen in each phase, every window inside its frame.
        for (const char* phase : {"day", "night", "results"}) {
            const QString desk = run.file(QStringLiteral("screen-desk-%1.png").arg(QString::fromLatin1(phase)));
            EXPECT_TRUE(test::isPicture(desk)) << desk.toStdString();
            const QString kept = keep + QStringLiteral("%1-desk-%2.png").arg(QString::fromLatin1(scale), QString::fromLatin1(phase));
            QFile::remove(kept);
            QFile::copy(desk, kept);
        }
    }
}
