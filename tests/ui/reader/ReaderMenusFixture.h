#pragma once

// The reader over a small library of real pages, shared by its menu and panel tests.

#include "ui/reader/ReaderViewFixture.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Py.h"
#include "core/Notifier.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "scholar/Collate.h"
#include "scholar/Isnad.h"
#include "scholar/PanelText.h"
#include "search/SharedMeaningIndex.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"

#include <QAction>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QThread>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextLayout>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <tuple>

namespace quorvel::test {

constexpr std::int64_t kMuwatta = 1;
constexpr std::int64_t kIbnMajahA = 2;
constexpr std::int64_t kIbnMajahB = 3;
constexpr std::int64_t kTaqribA = 5; // one work in two editions
constexpr std::int64_t kTaqribB = 6;
constexpr std::int64_t kMukhtar = 10; // a dictionary: no chains of narrators
constexpr std::int64_t kQuran = 100;  // no author
constexpr std::int64_t kBare = 904;

class ReaderMenusTest : public ReaderViewFixture {
protected:
    ReaderMenusTest() : ReaderViewFixture({Settings::indicDigitsKey, Settings::nightReadingKey}) {}

    // The viewport point at the middle of the document range.
    static QPoint pointOf(ReaderView& r, int start, int length)
    {
        QRectF rect = RichText::rangeRect(*r.textView()->document(), start, length);
        return rect.center().toPoint() - QPoint(0, r.textView()->verticalScrollBar()->value());
    }

    static QStringList titles(const QMenu& menu)
    {
        QStringList out;
        for (const QAction* a : menu.actions())
            out << (a->isSeparator() ? QStringLiteral("—") : a->text());
        return out;
    }
};

inline bool hasLink(const PanelText::Text& text, const QString& target)
{
    return std::any_of(text.runs.begin(), text.runs.end(), [&](const PanelText::Run& r) { return r.link == target; });
}

} // namespace quorvel::test
