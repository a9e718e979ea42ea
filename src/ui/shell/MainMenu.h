#pragma once

// The application's menu bar: the application, File, Edit, View, Navigate and
// Window menus. Each menu is built by its own function so that its titles,
// keys and enabled states can be read and its items triggered without a
// window. An item that acts on the main window looks it up when it fires and
// does nothing when there is none. The keys work from every window of the
// application and win over the keys that text fields claim for themselves.

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QMenu;
class QMenuBar;
class QWidget;

namespace quorvel {

class MainWindowController;

namespace MainMenu {

// How the menus find the main window controller; may give nullptr.
using MainLookup = std::function<MainWindowController*()>;

inline constexpr const char* applicationTitle = "مكتبة قورفل";
inline constexpr const char* fileTitle = "ملف";
inline constexpr const char* editTitle = "تحرير";
inline constexpr const char* viewTitle = "عرض";
inline constexpr const char* navigateTitle = "انتقال";
inline constexpr const char* windowTitle = "نافذة";
inline constexpr const char* savedSessionsTitle = "الجلسات المحفوظة";

// The six menus in a menu bar, their keys application-wide.
QMenuBar* build(MainLookup main, QWidget* parent = nullptr);

QMenu* applicationMenu(const MainLookup& main, QWidget* parent = nullptr);
QMenu* fileMenu(const MainLookup& main, QWidget* parent = nullptr);
QMenu* editMenu(const MainLookup& main, QWidget* parent = nullptr);
QMenu* viewMenu(const MainLookup& main, QWidget* parent = nullptr);
QMenu* navigateMenu(const MainLookup& main, QWidget* parent = nullptr);
QMenu* windowMenu(const MainLookup& main, QWidget* parent = nullptr);

// The reading size moves by steps of two points within these bounds, without
// snapping to the grid of steps.
inline constexpr double readerSizeStep = 2;
inline constexpr double minReaderSize = 12;
inline constexpr double maxReaderSize = 48;

// Each changes the reading preference and posts the reader settings notice,
// even when the value stayed (a size already at its bound).
void enlargeReaderSize();
void shrinkReaderSize();
// Removes the stored size, so that the default applies.
void resetReaderSize();
void toggleNightReading();

// Closes the selected tab when the key window is the main window (or when
// neither exists); otherwise closes the key window.
void closeTabOrWindow(MainWindowController* main, QWidget* keyWindow);
// Copies with its citation: the verse of a Quran tab, else the selection or
// page of the active reader; nothing for other tabs.
void copyCited(MainWindowController* main);

// A named session as the saved-sessions submenu lists it.
struct SavedSession {
    QString name;
    double date = 0; // seconds since 1970
    int count = 0;   // tabs
};

// What the saved-sessions submenu does with the sessions; the list comes most
// recent first.
struct SessionCalls {
    std::function<QList<SavedSession>()> list;
    std::function<void(int index)> open; // by position in the list
    std::function<void(const QString& name)> rename;
    std::function<void(const QString& name)> remove;
    // Where a stored list that could not be read is kept; empty when the
    // list was read. The menu then says so instead of listing nothing.
    QString unreadableKeptIn{};
};

inline constexpr int sessionsShown = 40;
inline constexpr const char* noSessionsHint = "لا جلسات محفوظة بعد (Ctrl+Shift+S للحفظ)";
inline constexpr const char* unreadableSessionsHint = "تعذّرت قراءة قائمة الجلسات المحفوظة";
// Followed by the file; the list stays there and is set aside at the next save.
inline constexpr const char* unreadableKeptBefore = "بقيت كما هي في ";
inline constexpr const char* unreadableKeptAfter = "، وتُنحّى باسم «%1» عند الحفظ التالي";

// Refills the saved-sessions submenu: the first sessionsShown sessions, then
// rename and delete submenus over the same sessions; only a disabled hint
// when there are none, and nothing at all without calls (no main window).
void fillSessions(QMenu* menu, const std::optional<SessionCalls>& calls);

// The tool tip of a session's entry: its tab count and its date.
QString sessionTip(const SavedSession& session);

} // namespace MainMenu

} // namespace quorvel
