#include "ui/shell/AppDelegate.h"

#include "core/Build.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "search/SharedMeaningIndex.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/downloads/UpdateCheck.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/IconMaker.h"
#include "ui/kit/MenuStyle.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/PageIndexBuild.h"
#include "ui/shell/SettingsWindowController.h"
#include "ui/shell/TabItem.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QIcon>
#include <QLocale>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <cstdio>

// The icons travel inside the static window library; its resources must be
// registered by name from outside any namespace.
static void initWindowResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace quorvel {

namespace {

constexpr char kIconSwitch[] = "--icon";
constexpr char kSnapshotSwitch[] = "--snapshot";
constexpr char kLanguagesKey[] = "AppleLanguages";

constexpr char kUserDataDamaged[] =
    "ملفّ بيانات المستخدم ليس قاعدة بيانات سليمة: لن تظهر الملاحظات والعلامات والجلسات المحفوظة فيه، ولن يُحفظ جديدها.";
constexpr char kUserDataReadOnly[] =
    "ملفّ بيانات المستخدم للقراءة فقط: لن تُحفظ الملاحظات والعلامات والجلسات حتى يُسمح بالكتابة فيه.";
constexpr char kUserDataFull[] =
    "لا مساحة كافية على القرص لبيانات المستخدم: لن تُحفظ الملاحظات والعلامات والجلسات حتى تُفرَّغ مساحة.";
constexpr char kUserDataFailed[] = "تعذّرت الكتابة في ملفّ بيانات المستخدم: لن تُحفظ الملاحظات والعلامات والجلسات.";

// What the user is told of a user database that cannot keep their data.
QString userDataFaultText(const SQLFailure& fault, const QString& path)
{
    const char* text = fault.kind == SQLFailure::Kind::damaged    ? kUserDataDamaged
                       : fault.kind == SQLFailure::Kind::readOnly ? kUserDataReadOnly
                       : fault.kind == SQLFailure::Kind::full     ? kUserDataFull
                                                                  : kUserDataFailed;
    return QString::fromUtf8(text) + QLatin1Char('\n') + path;
}

// A list of texts as ["a", "b"].
QString listText(const QStringList& items)
{
    QStringList quoted;
    for (const QString& item : items)
        quoted.append(QLatin1Char('"') + item + QLatin1Char('"'));
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

constexpr char kOpenFailedTitle[] = "تعذّر فتح قاعدة المكتبة";
constexpr char kOpenFailedText[] = "تعذّر فتح ملفّ قاعدة المكتبة الذي وُجد:";
constexpr char kChosenFailedText[] = "تعذّر فتح الملفّ المختار قاعدةً للمكتبة:";

// A library database that did not open: the alert names the very file that
// failed, as chosen or as found.
void alertOpenFailure(const QString& failed, bool chosen)
{
    Dialogs::alert(QString::fromUtf8(kOpenFailedTitle),
                   QString::fromUtf8(chosen ? kChosenFailedText : kOpenFailedText) + QLatin1Char('\n') + failed);
}

// The argument that follows the first occurrence of a switch; nothing when the
// switch is absent or last.
std::optional<QString> operandOf(const QStringList& arguments, const char* name)
{
    const qsizetype at = arguments.indexOf(QString::fromLatin1(name));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(at + 1);
}

} // namespace

int AppDelegate::run(int argc, char** argv, Harness harness)
{
    constexpr int kWindowIconPixels = 256;
    // Writing the icon set needs no screen: without one, draw offscreen.
    const char* const* icon = std::find_if(argv, argv + argc, [](const char* a) { return qstrcmp(a, kIconSwitch) == 0; });
    const bool iconOnly = icon + 1 < argv + argc;
    if (iconOnly && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromUtf8(displayName));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    prepareApplication();
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(IconMaker::image(kWindowIconPixels))));

    AppDelegate delegate(QApplication::arguments(), QProcessEnvironment::systemEnvironment());
    delegate.setHarness(std::move(harness));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &DownloadsWindowController::closeForQuit);
    if (delegate.applicationDidFinishLaunching() == Outcome::Exit)
        return delegate.exitStatus();
    return QApplication::exec();
}

void AppDelegate::prepareApplication()
{
    constexpr double kUiFontSize = 13;
    // Test fixtures call this before every test; the application is prepared
    // once, or the appearance would be connected to the notices again each time.
    static const QCoreApplication* prepared = nullptr;
    if (prepared == QCoreApplication::instance())
        return;
    prepared = QCoreApplication::instance();
    initWindowResources();
    // The interface font below may be one of the shipped faces.
    Theme::registerFonts();
    // The whole interface is Arabic and laid out right to left.
    QApplication::setLayoutDirection(Qt::RightToLeft);
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::UnitedArabEmirates));
    // Qt's own texts (file chooser, colour chooser, standard buttons) in Arabic
    // too, from the system's Qt catalogue; without it they stay English.
    static QTranslator qtArabic;
    if (qtArabic.isEmpty()
        && qtArabic.load(QStringLiteral("qtbase_ar"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtArabic);
    Preferences::standard().setArgument(QString::fromLatin1(kLanguagesKey), Json::toJson(QStringList{"ar"}));
    QApplication::setStyle(new MenuStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    applyAppearance();
    // Night reading is the dark appearance, and it can be switched while the
    // application runs.
    QObject::connect(&Notifier::shared(), &Notifier::readerSettingsChanged, QCoreApplication::instance(),
                     &AppDelegate::applyAppearance);
    QApplication::setFont(Theme::ui(kUiFontSize));
    QApplication::setQuitOnLastWindowClosed(true);
}

void AppDelegate::applyAppearance()
{
    // Other reading preferences post the same notice: repaint only on a change.
    const QPalette wanted = Theme::palette(Settings::nightReading());
    if (QApplication::palette() != wanted)
        QApplication::setPalette(wanted);
}

AppDelegate::AppDelegate(QStringList arguments, QProcessEnvironment environment, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)), environment_(std::move(environment))
{
}

AppDelegate::~AppDelegate()
{
    delete mainWC_.data();
}

MainWindowController* AppDelegate::mainWC() const
{
    return mainWC_;
}

namespace {

constexpr char kSnapDump[] = "SNAP_DUMP";
constexpr char kAutosaveTest[] = "QUORVEL_AUTOSAVE_TEST";
// The status of a launch that could not open any library.
constexpr int kNoLibraryStatus = 1;
// The status of an icon run that left some images unwritten.
constexpr int kIconFailedStatus = 1;

// A scripted run that leaves an autosave behind; none of the normal start's
// restore, checks or activation.
void startAutosaveTest(MainWindowController* mainWC)
{
    // The book opens at one page and moves to another shortly after.
    constexpr std::int64_t kAutosaveTestBook = 479;
    constexpr std::int64_t kAutosaveTestFirstSeq = 17;
    constexpr std::int64_t kAutosaveTestNextSeq = 23;
    constexpr int kAutosaveTestDelayMs = 500;
    constexpr double kAutosaveTestFraction = 0.5;
    mainWC->show();
    mainWC->openBook(kAutosaveTestBook, kAutosaveTestFirstSeq);
    QPointer<MainWindowController> main = mainWC;
    QTimer::singleShot(kAutosaveTestDelayMs, mainWC, [main] {
        if (!main || main->active() < 0)
            return;
        if (ReaderView* reader = main->tabs().at(main->active())->reader()) {
            reader->go(kAutosaveTestNextSeq);
            reader->setScrollFraction(kAutosaveTestFraction);
        }
    });
}

} // namespace

AppDelegate::Outcome AppDelegate::applicationDidFinishLaunching()
{
    if (environment_.contains(QString::fromLatin1(kSnapDump))) {
        QStringList languages;
        if (auto stored = Preferences::standard().object(QString::fromLatin1(kLanguagesKey));
            stored && stored->is_array()) {
            for (const auto& item : *stored) {
                if (auto text = Json::asString(item))
                    languages.append(*text);
            }
        }
        const QString line = QStringLiteral("dir: %1 %2 %3 %4\n")
                                 .arg(int(QGuiApplication::layoutDirection()))
                                 .arg(listText({QStringLiteral("ar")}), listText(languages),
                                      listText(QLocale::system().uiLanguages()));
        std::fputs(line.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }

    if (auto dir = operandOf(arguments_, kIconSwitch)) {
        // A developer aid: what was not written is said, and the status says so.
        const QStringList failures = IconMaker::write(*dir);
        for (const QString& failure : failures)
            std::fputs((failure + QLatin1Char('\n')).toUtf8().constData(), stderr);
        exitStatus_ = failures.isEmpty() ? 0 : kIconFailedStatus;
        return Outcome::Exit;
    }

    // Opening the library opens (or creates) the user database: a harness job
    // that would write into the user's own data stops before that.
    if (operandOf(arguments_, kSnapshotSwitch) && harness_.refusal) {
        if (const std::optional<QString> refused = harness_.refusal(environment_)) {
            std::fputs((*refused + QLatin1Char('\n')).toUtf8().constData(), stderr);
            exitStatus_ = harness_.refusedStatus;
            return Outcome::Exit;
        }
    }

    if (!openLibrary()) {
        exitStatus_ = kNoLibraryStatus;
        return Outcome::Exit;
    }

    // Mapping the page vectors takes a moment: begun now, the first
    // meaning-based search finds the index loaded.
    SharedMeaningIndex::preload();

    mainWC_ = new MainWindowController(Library::shared());
    // The menus find the main window through the delegate, which may be gone
    // by the time a key is pressed.
    QPointer<AppDelegate> self(this);
    mainWC_->setMenuBar(MainMenu::build([self]() -> MainWindowController* { return self ? self->mainWC() : nullptr; }));

    // The harness drives the window for one job and ends the launch; a
    // trailing switch without a folder is ignored.
    if (auto dir = operandOf(arguments_, kSnapshotSwitch); dir && harness_.run) {
        exitStatus_ = harness_.run(*mainWC_, *dir);
        return Outcome::Exit;
    }

    if (environment_.contains(QString::fromLatin1(kAutosaveTest))) {
        startAutosaveTest(mainWC_);
        return Outcome::Running;
    }

    centreOnScreen(mainWC_, QGuiApplication::primaryScreen());
    mainWC_->show();
    // Told at start-up, or at the first write that fails later: once.
    connect(&Notifier::shared(), &Notifier::userDataUnwritable, this, &AppDelegate::tellUserDataFault);
    tellUserDataFault();
    connect(&Notifier::shared(), &Notifier::preferencesUnwritable, this, &AppDelegate::tellPreferencesFault);
    tellPreferencesFault();
    if (Settings::restoreSession())
        mainWC_->restoreSession();
    mainWC_->indexPagesIfNeeded();
    mainWC_->raise();
    mainWC_->activateWindow();
    DownloadsWindowController::indexPages = [](const QString& path) { PageIndexBuild::shared().start(path); };
    QPointer<MainWindowController> main = mainWC_;
    DownloadsWindowController::openInLibrary = [main](std::int64_t book) {
        if (!main)
            return true;
        if (!main->library().book(book))
            return false;
        main->openBook(book, std::nullopt);
        main->raise();
        main->activateWindow();
        return true;
    };
    DownloadsWindowController::autoUpdateIfEnabled();
    Updater::checkOnLaunch();
    // An empty local store: the first thing to do is to fetch books.
    if (Library::shared()->isLocal() && Library::shared()->books().isEmpty())
        DownloadsWindowController::show();
    return Outcome::Running;
}

bool AppDelegate::openLibrary()
{
    bool asked = false;
    std::optional<QString> path = Library::locateDatabase();
    if (!path) {
        path = SettingsWindowController::askForDatabase();
        asked = true;
    }
    std::shared_ptr<Library> lib = path ? Library::open(*path) : nullptr;
    if (!lib) {
        alertOpenFailure(path.value_or(Library::supportDir() + QLatin1String(Library::masterFileName)), asked && path);
        // A configured file that does not open would otherwise end every
        // launch the same way: let the user choose another one.
        if (asked)
            return false;
        path = SettingsWindowController::askForDatabase();
        if (!path)
            return false;
        lib = Library::open(*path);
        if (!lib) {
            alertOpenFailure(*path, true);
            return false;
        }
        asked = true;
    }
    // Only a file that opened is remembered: a broken one would lock every
    // later launch out.
    if (asked)
        Preferences::standard().set(QString::fromLatin1(Library::dbPathKey), *path);
    Library::setShared(std::move(lib));
    return true;
}

void AppDelegate::tellUserDataFault()
{
    constexpr char kUserDataTitle[] = "لن تُحفظ بياناتك";
    const std::shared_ptr<Library> lib = Library::shared();
    if (userDataFaultTold_ || !lib)
        return;
    const std::optional<SQLFailure> fault = lib->userDataFault();
    if (!fault)
        return;
    userDataFaultTold_ = true;
    Dialogs::alert(QString::fromUtf8(kUserDataTitle), userDataFaultText(*fault, lib->user().path()), mainWC_);
}

void AppDelegate::tellPreferencesFault()
{
    constexpr char kPreferencesTitle[] = "لم تُحفظ التفضيلات";
    constexpr char kPreferencesText[] =
        "تعذّر حفظ ملفّ التفضيلات، فبقي على ما كان، وتبقى التغييرات حتى إغلاق البرنامج فقط:";
    const Preferences& preferences = Preferences::standard();
    const std::optional<QString> fault = preferences.saveFault();
    if (!fault || !mainWC_)
        return;
    Dialogs::alert(QString::fromUtf8(kPreferencesTitle),
                   QString::fromUtf8(kPreferencesText) + QLatin1Char('\n') + *fault + QLatin1Char('\n') +
                       preferences.filePath(),
                   mainWC_);
}

void AppDelegate::applicationWillTerminate()
{
    if (!Settings::restoreSession())
        return;
    // A harness run never overwrites the user's session.
    if (arguments_.contains(QString::fromLatin1(kSnapshotSwitch)))
        return;
    if (mainWC_)
        mainWC_->saveSession(false);
}

} // namespace quorvel
