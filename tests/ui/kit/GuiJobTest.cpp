// The kit's job helper: a result reaches a living receiver on the GUI thread,
// nothing reaches one destroyed before its call was due, and what one worker
// sends arrives in the order it was sent.

#include "ui/kit/GuiJob.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

// Lets every pool job finish, then hands the GUI thread what they posted.
void settle()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

} // namespace

TEST(GuiJob, deliversTheResultOnTheGuiThreadToTheReceiver)
{
    QThread* const gui = QCoreApplication::instance()->thread();
    QObject receiver;

    QThread* workedOn = nullptr;
    QThread* deliveredOn = nullptr;
    QObject* deliveredTo = nullptr;
    int result = 0;
    GuiJob::run(
        &receiver,
        [&workedOn] {
            workedOn = QThread::currentThread();
            return 42;
        },
        [&](QObject& to, int value) {
            deliveredOn = QThread::currentThread();
            deliveredTo = &to;
            result = value;
        });

    // A job that returns nothing still reports that it is done.
    bool ran = false;
    QThread* doneOn = nullptr;
    GuiJob::run(&receiver, [&ran] { ran = true; }, [&doneOn](QObject&) { doneOn = QThread::currentThread(); });

    settle();
    EXPECT_NE(workedOn, nullptr);
    EXPECT_NE(workedOn, gui);
    EXPECT_EQ(deliveredOn, gui);
    EXPECT_EQ(deliveredTo, &receiver);
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(ran);
    EXPECT_EQ(doneOn, gui);
}

TEST(GuiJob, nothingReachesAReceiverDestroyedBeforeItsCall)
{
    auto living = std::make_unique<QObject>();
    auto closing = std::make_unique<QObject>();
    bool livingDelivered = false;
    bool afterRun = false;
    bool beforeRun = false;
    bool posted = false;

    // Its job finishes and posts while the receiver still lives: the check
    // has to be made when the call is due, not when it is sent.
    GuiJob::run(closing.get(), [] { return 1; }, [&afterRun](QObject&, int) { afterRun = true; });
    QThreadPool::globalInstance()->waitForDone();

    // This one finishes only after the receiver is gone.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    GuiJob::run(
        closing.get(),
        [released] {
            released.wait();
            return 2;
        },
        [&beforeRun](QObject&, int) { beforeRun = true; });
    GuiJob::post(QPointer<QObject>(closing.get()), [&posted](QObject&) { posted = true; });
    GuiJob::run(living.get(), [] { return 3; }, [&livingDelivered](QObject&, int) { livingDelivered = true; });

    closing.reset();
    release.set_value();
    settle();
    EXPECT_FALSE(afterRun);
    EXPECT_FALSE(beforeRun);
    EXPECT_FALSE(posted);
    // The same turn did deliver, to the receiver that lives.
    EXPECT_TRUE(livingDelivered);
}

TEST(GuiJob, postsFromOneWorkerArriveInOrderAndTheResultLast)
{
    constexpr int pieces = 500;
    QObject receiver;
    const QPointer<QObject> guard(&receiver);
    auto seen = std::make_shared<std::vector<int>>();
    GuiJob::run(
        &receiver,
        [guard, seen] {
            for (int i = 0; i < pieces; ++i)
                GuiJob::post(guard, [seen, i](QObject&) { seen->push_back(i); });
            return pieces;
        },
        [seen](QObject&, int last) { seen->push_back(last); });

    settle();
    std::vector<int> expected;
    for (int i = 0; i <= pieces; ++i)
        expected.push_back(i);
    EXPECT_EQ(*seen, expected);
}
