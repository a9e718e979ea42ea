#pragma once

// One analysis panel in a pop-up beside the reader: it opens at once with a
// waiting line, builds the panel on the thread pool and puts the finished
// text in place on the GUI thread, and again when the reading preferences
// change. A clicked link closes it and goes to the caller. Only one is open
// at a time.

#include "scholar/PanelText.h"

#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QTextBrowser;
class QTextDocument;
class QWidget;

namespace quorvel {

class SmartPopover {
public:
    static constexpr int width = 560;
    static constexpr int height = 440;
    static constexpr const char* waitingText = "جارٍ التحليل…";

    using Build = std::function<PanelText::Text()>;
    using OnLink = std::function<void(const QString&)>;

    // Shows a new pop-up under `rect` of `anchor` (its whole area when none),
    // closing the one shown before. `title` names the panel; it is not shown.
    // The pop-up belongs to the anchor's window and goes with it.
    static std::shared_ptr<SmartPopover> show(const QString& title, QWidget* anchor, std::optional<QRect> rect,
                                              OnLink onLink, Build build);
    // Where a pop-up of `size` goes for `area` (both in screen coordinates)
    // on a screen whose free room is `room`: under the area, or over it when
    // only there it fits whole, centred on it as far as the room allows, and
    // made smaller where the room is smaller than it. Always inside `room`.
    static QRect place(const QRect& area, const QSize& size, const QRect& room);
    // The pop-up shown last, if any.
    static std::shared_ptr<SmartPopover> current();

    // The panel's text as a right-to-left document, colours and fonts
    // resolved with the current palette. GUI thread only.
    static std::unique_ptr<QTextDocument> document(const PanelText::Text& text);

    const QString& title() const { return title_; }
    // The pop-up and its text; empty once the window that held them is gone.
    QFrame* frame() const { return frame_; }
    QTextBrowser* textView() const { return text_; }
    // Whether the panel of the latest build has been put in place.
    bool isBuilt() const { return built_; }
    // Follows a link: closes the pop-up, then hands the link on.
    void follow(const QString& link);
    void close();
    // Whether the pop-up is still on screen.
    bool isOpen() const;
    // Builds the panel again from `build`, in place, with the waiting line
    // meanwhile: the pop-up follows what it describes.
    void rebuild(Build build);

private:
    SmartPopover() = default;

    QString title_;
    QPointer<QFrame> frame_;
    QPointer<QTextBrowser> text_;
    // Starts a build of the panel; the last one started is the one shown.
    void start();
    // Shows the waiting line until the panel is built.
    void showWaiting();

    OnLink onLink_;
    Build build_;
    std::weak_ptr<SmartPopover> self_;
    bool built_ = false;
    int generation_ = 0; // the builds started, the last one the one shown
};

} // namespace quorvel
