#pragma once

// What the harness's jobs share: the run (controller, output folder, the
// environment read once), the result-line writer and the picture helpers.
// Each job is a function of the run returning the exit status.

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <concepts>
#include <cstdint>
#include <optional>
#include <utility>

class QElapsedTimer;
class QTextBrowser;
class QTextDocument;
class QWidget;

namespace quorvel {

class MainWindowController;
class QuranView;
class SearchTabView;
class AIChatView;

namespace snapshot {

// One result line: items converted to text and joined by single spaces, ended
// by a newline when the line goes out of scope. An empty item still takes its
// separator. Integers print in decimal, Booleans as true/false, a list of
// texts as ["a", "b"], a list of integers as [1, 2] and a pair as (1, 2).
class Line {
public:
    Line() = default;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line();

    Line& operator<<(const QString& item);
    Line& operator<<(const char* item) { return *this << QString::fromUtf8(item); }
    Line& operator<<(bool item) { return *this << QString::fromLatin1(item ? "true" : "false"); }
    template <std::integral Integer>
        requires(!std::same_as<Integer, bool> && !std::same_as<Integer, char>)
    Line& operator<<(Integer item)
    {
        return *this << QString::number(item);
    }
    Line& operator<<(const QStringList& items);
    Line& operator<<(const QList<std::int64_t>& items);
    Line& operator<<(const QList<int>& items);
    Line& operator<<(std::pair<std::int64_t, std::int64_t> pair);

private:
    QStringList items_;
};

// A list of texts as ["a", "b"].
QString quoted(const QStringList& items);
// Seconds with the given number of decimals and a trailing "s": "1.25s".
QString seconds(double value, int decimals);
// The seconds a started clock has run.
double since(const QElapsedTimer& clock);
// Makes a text view one that is only photographed: never on screen, with no
// frame and no scroll bars, so that its picture is the text alone.
void pictureOnly(QTextBrowser& view);

class Run {
public:
    Run(MainWindowController& main, QString dir, QProcessEnvironment environment);

    MainWindowController& main;
    const QString dir;
    const QProcessEnvironment environment;

    bool has(const char* name) const;
    QString value(const char* name) const;
    // The variable read as an integer; nothing when absent or not a number.
    std::optional<std::int64_t> integer(const char* name) const;
    // A file directly in the output folder.
    QString path(const QString& name) const;

    // Photographs a view, or the main window, into the output folder.
    void save(QWidget* view, const QString& name) const;
    void saveWindow(const QString& name) const;
    // Lays styled text out right to left, 560 wide and at most 900 high, and
    // photographs it into the output folder.
    void render(const QTextDocument& text, const QString& name) const;
    // Prints the view and its subviews, one line each, down to depth 6.
    void dump(QWidget* view, int depth = 0) const;

    // The last tab's search view or assistant panel; nullptr when the last
    // tab is of another kind or there is none.
    SearchTabView* lastSearchTab() const;
    AIChatView* lastAssistantTab() const;
    // Pumps until the last tab is a search tab that has finished, or the
    // limit has passed; the finished tab, else nullptr.
    SearchTabView* waitForSearch(double limitSeconds, double step = 0.2) const;
    // Pumps until the main window's Quran tab is in (its text loads off the
    // GUI thread), for ten seconds at the most; the tab, else nullptr.
    QuranView* waitForQuran() const;
};

// The jobs, one per SNAP_ variable, in the order the variables are looked up.
int updateAlert(Run& run);       // SNAP_UPDATE
int downloads(Run& run);         // SNAP_DL
int hitNavigation(Run& run);     // SNAP_HITNAV
int smartPanels(Run& run);       // SNAP_SMART
int assistant(Run& run);         // SNAP_AI
int routing(Run& run);           // SNAP_ROUTE
int reports(Run& run);           // SNAP_REPORT
int selfTest(Run& run);          // SNAP_SELFTEST
int features(Run& run);          // SNAP_FEATURES
int quran(Run& run);             // SNAP_QURAN
int restore(Run& run);           // SNAP_RESTORE
int screens(Run& run);           // SNAP_SCREENS
int defaultRun(Run& run);        // none of them

} // namespace snapshot

} // namespace quorvel
