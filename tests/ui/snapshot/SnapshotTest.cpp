#include "ui/kit/Dialogs.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainWindowController.h"
#include "ui/snapshot/Snapshot.h"
#include "ui/snapshot/SnapshotRun.h"

#include "support/ScopedEnv.h"
#include "ui/WindowTestSupport.h"
#include "ui/snapshot/SnapshotTestSupport.h"

#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QTextDocument>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using test::isPicture;
using test::SnapshotProcess;

class SnapshotTest : public test::WindowTest {};

// The harness's own output lines, written to standard output by `work`.
template <typename Work>
QStringList printed(Work work)
{
    testing::internal::CaptureStdout();
    work();
    return QString::fromStdString(testing::internal::GetCapturedStdout()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST_F(SnapshotTest, resultLinesJoinTheirItemsAsThePlatformPrintsThem)
{
    const QStringList lines = printed([] {
        snapshot::Line() << "a:" << 42 << true << false << QString() << "end";
        snapshot::Line() << QStringList{QStringLiteral("ا"), QStringLiteral("b")} << QStringList{};
        snapshot::Line() << QList<std::int64_t>{1, 2} << QList<int>{} << std::pair<std::int64_t, std::int64_t>{18, 10};
        snapshot::Line() << snapshot::seconds(1.256, 2) << snapshot::seconds(0.04, 1);
    });
    ASSERT_EQ(lines.size(), 4);
    // The empty item keeps its separator.
    EXPECT_EQ(lines[0], QStringLiteral("a: 42 true false  end"));
    EXPECT_EQ(lines[1], QStringLiteral("[\"ا\", \"b\"] []"));
    EXPECT_EQ(lines[2], QStringLiteral("[1, 2] [] (18, 10)"));
    EXPECT_EQ(lines[3], QStringLiteral("1.26s 0.0s"));
}

TEST_F(SnapshotTest, renderedTextIsFiveHundredSixtyWideAndNeverTallerThanNineHundred)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    MainWindowController main(fixture.lib);
    QTemporaryDir dir;
    snapshot::Run run(main, dir.path(), {});

    QTextDocument shortText;
    shortText.setHtml(QStringLiteral("<p>قال رسول الله صلى الله عليه وسلم: إنما الأعمال بالنيات</p>"));
    QString longHtml;
    for (int i = 0; i < 200; ++i)
        longHtml += QStringLiteral("<p>%1 حدثنا يحيى بن يحيى عن مالك عن نافع عن ابن عمر</p>").arg(i);
    QTextDocument longText;
    longText.setHtml(longHtml);

    const QStringList lines = printed([&] {
        run.render(shortText, QStringLiteral("short.png"));
        run.render(longText, QStringLiteral("long.png"));
    });
    EXPECT_EQ(lines, (QStringList{QStringLiteral("snapshot: ") + run.path(QStringLiteral("short.png")),
                                  QStringLiteral("snapshot: ") + run.path(QStringLiteral("long.png"))}));
    const QImage shortImage(run.path(QStringLiteral("short.png")));
    const QImage longImage(run.path(QStringLiteral("long.png")));
    ASSERT_FALSE(shortImage.isNull());
    ASSERT_FALSE(longImage.isNull());
    const qreal ratio = shortImage.devicePixelRatio();
    EXPECT_EQ(shortImage.width(), 560 * ratio);
    // One line of text with its insets and margin: taller than the margin, far below the cap.
    EXPECT_GT(shortImage.height(), 40 * ratio);
    EXPECT_LT(shortImage.height(), 200 * ratio);
    EXPECT_EQ(longImage.width(), 560 * ratio);
    EXPECT_EQ(longImage.height(), 900 * ratio);
    EXPECT_GT(test::colourCount(shortImage), 8) << "the text was drawn";
}

TEST_F(SnapshotTest, aDumpStopsSevenLevelsDownAndMarksHiddenViews)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    MainWindowController main(fixture.lib);
    snapshot::Run run(main, QString(), {});

    QWidget root;
    QWidget* parent = &root;
    for (int depth = 1; depth < 10; ++depth) {
        auto* child = depth == 3 ? new QLabel(parent) : new QWidget(parent);
        child->setGeometry(depth, 2 * depth, 100 - depth, 50);
        child->setHidden(depth == 2);
        parent = child;
    }
    const QStringList lines = printed([&] { run.dump(&root); });
    ASSERT_EQ(lines.size(), 7);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("QWidget (")));
    EXPECT_EQ(lines[2], QStringLiteral("    QWidget (2, 4, 98, 50) HIDDEN"));
    EXPECT_EQ(lines[3], QStringLiteral("      QLabel (3, 6, 97, 50) "));
    EXPECT_TRUE(lines[6].startsWith(QString(12, QLatin1Char(' ')) + QStringLiteral("QWidget (6, 12,")));
}

TEST_F(SnapshotTest, aTrailingSwitchWithoutAFolderIsIgnored)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    test::ScopedEnv db("QUORVEL_DB", fixture.path);
    ScriptedDialogs dialogs;
    AppDelegate app({QStringLiteral("quorvel"), QStringLiteral("--snapshot")}, {});
    EXPECT_EQ(app.applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    ASSERT_NE(app.mainWC(), nullptr);
    EXPECT_TRUE(app.mainWC()->isVisible());
}

// The whole default run through the built application on the sample library.
TEST_F(SnapshotTest, theDefaultRunPhotographsTheMainViewsAndReportsTheSearch)
{
    if (test::sampleLibraryPath().isEmpty())
        GTEST_SKIP() << "the sample release is not built";
    SnapshotProcess process;
    const test::SnapshotRun run = process.run({{QStringLiteral("SNAP_DUMP"), QString()}});
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    const QStringList names{QStringLiteral("01-welcome.png"), QStringLiteral("02-reader.png"),
                            QStringLiteral("03-search.png"), QStringLiteral("04-searchwin.png"),
                            QStringLiteral("05-categories.png")};
    QStringList expected;
    for (const QString& name : names)
        expected.append(QStringLiteral("snapshot: ") + run.file(name));
    QStringList shots = run.linesStartingWith(QStringLiteral("snapshot: "));
    shots.removeIf([](const QString& line) { return line.contains(QStringLiteral("/part-")); });
    EXPECT_EQ(shots, expected);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(isPicture(run.file(names[i]), {1400, 860})) << names[i].toStdString();
    for (int i = 3; i < 5; ++i)
        EXPECT_TRUE(isPicture(run.file(names[i]), {1180, 740})) << names[i].toStdString();
    // The books and the categories pages differ.
    EXPECT_NE(QImage(run.file(names[3])), QImage(run.file(names[4])));

    const QStringList results = run.linesStartingWith(QStringLiteral("search results: "));
    ASSERT_EQ(results.size(), 1);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^search results: (\\d+) in \\d+\\.\\d\\ds$")).match(results.first());
    ASSERT_TRUE(match.hasMatch()) << results.first().toStdString();
    EXPECT_GT(match.captured(1).toInt(), 100) << "الصلاة is everywhere in the sample books";

    // The dump starts at the search window and never goes seven levels down;
    // each part of its row is photographed.
    const QStringList window = run.linesStartingWith(QStringLiteral("quorvel::SearchWindowController "));
    ASSERT_EQ(window.size(), 1);
    EXPECT_TRUE(window.first().contains(QStringLiteral(", 1180, 740) "))) << window.first().toStdString();
    for (const QString& line : run.lines)
        EXPECT_FALSE(line.startsWith(QString(14, QLatin1Char(' ')))) << line.toStdString();
    EXPECT_TRUE(isPicture(run.file(QStringLiteral("part-0.png"))));
    EXPECT_TRUE(QFile::exists(run.file(QStringLiteral("part-1.png"))));
}

TEST_F(SnapshotTest, theDefaultRunOpensTheNamedBookAndSearchesTheGivenWords)
{
    if (test::sampleLibraryPath().isEmpty())
        GTEST_SKIP() << "the sample release is not built";
    SnapshotProcess process;
    // A word no sample book holds: the results are counted, not assumed.
    const test::SnapshotRun run = process.run({{QStringLiteral("SNAP_BOOK"), QStringLiteral("9")},
                                               {QStringLiteral("SNAP_SEQ"), QStringLiteral("3")},
                                               {QStringLiteral("SNAP_QUERY"), QStringLiteral("قورفلستان")}});
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();
    const QStringList results = run.linesStartingWith(QStringLiteral("search results: "));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results.first().startsWith(QStringLiteral("search results: 0 in "))) << results.first().toStdString();
    EXPECT_TRUE(isPicture(run.file(QStringLiteral("02-reader.png")), {1400, 860}));
}

} // namespace
} // namespace quorvel
