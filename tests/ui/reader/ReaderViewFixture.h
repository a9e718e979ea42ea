#pragma once

// A reader view over the sample library: the preferences a test changes put
// back around it, its dialogs answered by script, the pop-up it opened closed.

#include "ui/reader/ReaderTestSupport.h"

#include "ui/kit/Dialogs.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/shell/AppDelegate.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QThreadPool>

#include <gtest/gtest.h>

namespace quorvel::test {

class ReaderViewFixture : public ::testing::Test {
protected:
    explicit ReaderViewFixture(std::initializer_list<const char*> keys) : prefs(keys)
    {
        AppDelegate::prepareApplication();
    }

    void TearDown() override
    {
        if (const auto p = SmartPopover::current())
            p->close();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }

    std::unique_ptr<ReaderView> reader(std::int64_t book, std::optional<std::int64_t> seq,
                                       std::shared_ptr<Library> lib = {})
    {
        if (!lib)
            lib = sample.lib;
        return std::make_unique<ReaderView>(lib, *lib->book(book), seq);
    }

    static void showAt(QWidget& w, int width, int height = 760)
    {
        w.resize(width, height);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    // Selects [start, start + length) of the page text.
    static void select(ReaderView& r, int start, int length)
    {
        QTextCursor c(r.textView()->document());
        c.setPosition(start);
        c.setPosition(start + length, QTextCursor::KeepAnchor);
        r.textView()->setTextCursor(c);
    }

    PreferenceGuard prefs;
    ScriptedDialogs dialogs;
    SampleLib sample;
    QTemporaryDir dir;
};

} // namespace quorvel::test
