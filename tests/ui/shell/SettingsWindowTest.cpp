// The settings window offscreen: what each control stores, the notice it
// posts, the default paper colour, the books source and a picture of it.

#include "ui/WindowTestSupport.h"

#include "core/Notifier.h"
#include "core/Settings.h"
#include "ui/kit/Dialogs.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/SettingsWindowController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QAbstractItemView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using namespace quorvel;

namespace {

class SettingsWindowTest : public test::WindowTest {
protected:
    SettingsWindowTest()
        : WindowTest({Settings::readerFontKey, Settings::readerSizeKey, Settings::lineSpacingKey,
                      Settings::paperColorKey, Settings::indicDigitsKey, Settings::nightReadingKey,
                      Settings::showTashkeelKey, Settings::restoreSessionKey, Settings::checkUpdatesKey,
                      Settings::copyNoTashkeelKey, Settings::copyNoFootnoteRefsKey, "libraryMode", "dbPath"})
    {
    }
    static bool stored(const char* key) { return Preferences::standard().object(QString::fromUtf8(key)).has_value(); }
};

} // namespace

TEST_F(SettingsWindowTest, draggedSizeRoundsAndOneChangeWritesEverythingWithOneNotice)
{
    Settings::setIndicDigits(true);
    SettingsWindowController window;
    QSignalSpy notices(&Notifier::shared(), &Notifier::readerSettingsChanged);
    EXPECT_FALSE(stored(Settings::lineSpacingKey));

    window.sizeSlider()->setValue(316); // 31.6 points while dragging
    EXPECT_EQ(Settings::readerSize(), 32);
    EXPECT_EQ(window.sizeLabel()->text(), QStringLiteral("٣٢"));
    EXPECT_EQ(notices.count(), 1);
    // Every reading preference was written from the controls, not only the size.
    for (const char* key : {Settings::lineSpacingKey, Settings::indicDigitsKey, Settings::nightReadingKey,
                            Settings::showTashkeelKey, Settings::checkUpdatesKey, Settings::copyNoFootnoteRefsKey})
        EXPECT_TRUE(stored(key)) << key;

    window.checkBoxes().at(1)->click(); // night reading
    EXPECT_TRUE(Settings::nightReading());
    EXPECT_EQ(notices.count(), 2);
    Settings::setNightReading(false);
}

TEST_F(SettingsWindowTest, outOfRangeStoredSizeKeepsItsLabelUntilTheNextChange)
{
    Settings::setReaderSize(48);
    Settings::setIndicDigits(false);
    SettingsWindowController window;
    EXPECT_EQ(window.sizeSlider()->value(), 42 * SettingsWindowController::sliderScale);
    EXPECT_EQ(window.sizeLabel()->text(), QStringLiteral("48"));
    EXPECT_EQ(Settings::readerSize(), 48);
    window.checkBoxes().at(2)->click();
    EXPECT_EQ(Settings::readerSize(), 42);

    Settings::setReaderSize(12);
    SettingsWindowController small;
    EXPECT_EQ(small.sizeSlider()->value(), 14 * SettingsWindowController::sliderScale);
}

TEST_F(SettingsWindowTest, aPreferenceChangedElsewhereIsNotWrittenBackByTheNextChange)
{
    Settings::setReaderSize(30);
    SettingsWindowController window;
    window.QWidget::show();
    // View → original size, with its notice, while the window is open.
    MainMenu::resetReaderSize();
    EXPECT_EQ(window.sizeSlider()->value(), int(Settings::defaultReaderSize) * SettingsWindowController::sliderScale);
    window.checkBoxes().at(2)->click();
    EXPECT_EQ(Settings::readerSize(), Settings::defaultReaderSize);

    // Changed without a notice while the window was closed: shown again, it reads it.
    window.hide();
    Settings::setNightReading(true);
    Settings::setReaderSize(36);
    window.QWidget::show();
    EXPECT_TRUE(window.checkBoxes().at(1)->isChecked());
    window.checkBoxes().at(0)->click();
    EXPECT_TRUE(Settings::nightReading());
    EXPECT_EQ(Settings::readerSize(), 36);
    window.hide();
    // The ticks stored every preference: none is left to the next tests.
    clearPreferences();
}

TEST_F(SettingsWindowTest, defaultPaperRemovesTheStoredColourForGood)
{
    SettingsWindowController window;
    ScriptedDialogs dialogs;
    dialogs.answer(QStringLiteral("#102030"));
    window.paperWell()->click();
    EXPECT_EQ(Settings::paperColor(), QColor(0x10, 0x20, 0x30));
    EXPECT_TRUE(stored(Settings::paperColorKey));
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Color).size(), 1);

    QSignalSpy notices(&Notifier::shared(), &Notifier::readerSettingsChanged);
    window.paperDefaultButton()->click();
    EXPECT_FALSE(stored(Settings::paperColorKey));
    EXPECT_EQ(window.paperWellColor(), Settings::defaultPaperColor());
    EXPECT_EQ(notices.count(), 1);
    window.checkBoxes().at(0)->click();
    EXPECT_FALSE(stored(Settings::paperColorKey));

    // A cancelled colour chooser changes nothing.
    window.paperWell()->click();
    EXPECT_FALSE(stored(Settings::paperColorKey));
}

TEST_F(SettingsWindowTest, booksSourceIsStoredAtOnceWithTheRestartSheet)
{
    Preferences::standard().set(QStringLiteral("libraryMode"), QStringLiteral("elsewhere"));
    SettingsWindowController window;
    QComboBox* source = window.sourcePopup();
    EXPECT_EQ(source->currentText(), QStringLiteral("تلقائي"));

    ScriptedDialogs dialogs;
    QSignalSpy notices(&Notifier::shared(), &Notifier::readerSettingsChanged);
    source->setCurrentIndex(2);
    emit source->activated(2);
    EXPECT_EQ(Library::libraryMode(), QStringLiteral("local"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first().title, QStringLiteral("يُطبَّق عند إعادة تشغيل التطبيق"));
    EXPECT_TRUE(alerts.first().hasWindow);
    EXPECT_EQ(notices.count(), 0);
}

TEST_F(SettingsWindowTest, databaseChooserStoresThePathForTheNextLaunch)
{
    EXPECT_EQ(SettingsWindowController::dbLabelText(QStringLiteral("/data/lib/quorvel.db?mode=ro")),
              QStringLiteral("quorvel.db"));
    SettingsWindowController window;
    ScriptedDialogs dialogs;
    dialogs.answer(std::nullopt);
    window.dbButton()->click();
    EXPECT_FALSE(Preferences::standard().string(QStringLiteral("dbPath")).has_value());
    dialogs.answer(QStringLiteral("/books/quorvel.db"));
    window.dbButton()->click();
    EXPECT_EQ(Preferences::standard().string(QStringLiteral("dbPath")), QStringLiteral("/books/quorvel.db"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first().text, QStringLiteral("/books/quorvel.db"));
}

TEST_F(SettingsWindowTest, fontPopupOffersOnlyInstalledFacesAndKeepsFamilies)
{
    SettingsWindowController window;
    QComboBox* fonts = window.fontPopup();
    ASSERT_GE(fonts->count(), 1);
    // Amiri is bundled; the faces of other systems are left out here.
    EXPECT_EQ(fonts->itemData(0).toString(), QStringLiteral("Amiri"));
    EXPECT_EQ(fonts->itemText(0), QStringLiteral("أميري (مضمّن)"));
    EXPECT_EQ(fonts->findData(QStringLiteral("Geeza Pro")), -1);

    // The book faces a Debian system carries, each offered in its own
    // letters when installed and left out when not.
    int offered = 0;
    for (const char* name : {"Amiri", "Scheherazade New", "Scheherazade", "Noto Naskh Arabic", "KacstBook"}) {
        const QString family = QString::fromLatin1(name);
        const int item = fonts->findData(family);
        EXPECT_EQ(item >= 0, QFontDatabase::hasFamily(family)) << name;
        if (item < 0)
            continue;
        ++offered;
        EXPECT_EQ(fonts->itemData(item, Qt::FontRole).value<QFont>().family(), family) << name;
    }
    EXPECT_GE(offered, 3);

    // The open list, kept beside the tests for a person to look at.
    fonts->showPopup();
    EXPECT_TRUE(fonts->view()->window()->grab().save(QCoreApplication::applicationDirPath() +
                                                     QStringLiteral("/settings-fonts.png")));
    fonts->hidePopup();
}

TEST_F(SettingsWindowTest, pictureOnTheSampleLibrary)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    Library::setShared(fixture.lib);
    Settings::setIndicDigits(true);
    SettingsWindowController window;
    window.QWidget::show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.dbLabel()->text(), QStringLiteral("fixture.db"));
    EXPECT_EQ(window.dbLabel()->toolTip(), fixture.lib->dbPath());

    const QImage shot = window.grab().toImage();
    EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath() + QStringLiteral("/settings-window.png"), "PNG"));
    EXPECT_GT(test::colourCount(shot), 8);
    // Right to left: the first row's label sits at the right edge, the check boxes start there too.
    const QWidget* box = window.checkBoxes().first();
    EXPECT_GT(box->mapTo(&window, QPoint(box->width(), 0)).x(), window.width() - 40);
    const QWidget* popup = window.fontPopup();
    EXPECT_LT(popup->mapTo(&window, QPoint(0, 0)).x(), window.width() / 2 + 100);
    window.hide();
    Library::setShared(nullptr);
}
