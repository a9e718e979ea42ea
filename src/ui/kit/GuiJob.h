#pragma once

// Work handed off the GUI thread and its outcome handed back. run() runs a job
// on the global thread pool and gives its result to a receiver on the GUI
// thread; post() sends a call to a receiver there from any thread (a worker's
// progress, the pieces of a streamed answer). The receiver is guarded: when it
// has been destroyed by the time the call is due, the call is dropped without
// a word, so a window may close while its work runs. Whether the result still
// matters (the same question, the same book) is the deliver callback's check.
//
// Every call goes to the application object as one queued call, so calls sent
// from one thread arrive in the order they were sent, and a job's result comes
// after everything the job posted. Work must not throw: an exception that
// leaves it ends the program, as on any pool thread.

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <type_traits>
#include <utility>

namespace quorvel::GuiJob {

// Calls fn(receiver) on the GUI thread unless the receiver is gone by then.
// Any thread; the guard is taken where the receiver is known to live.
template <class Receiver, class Fn>
void post(QPointer<Receiver> receiver, Fn fn)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver = std::move(receiver), fn = std::move(fn)]() mutable {
            if (receiver)
                fn(*receiver);
        },
        Qt::QueuedConnection);
}

// Runs work() on the global thread pool, then deliver(receiver, result) on
// the GUI thread (deliver(receiver) when work returns nothing) unless the
// receiver is gone by then. Called where the receiver lives, the GUI thread;
// work and deliver are copied into the pool's job, so both must be copyable.
template <class Receiver, class Work, class Deliver>
void run(Receiver* receiver, Work work, Deliver deliver)
{
    static_assert(std::is_base_of_v<QObject, Receiver>, "the receiver is guarded as a QObject");
    QThreadPool::globalInstance()->start(
        [guard = QPointer<Receiver>(receiver), work = std::move(work), deliver = std::move(deliver)]() mutable {
            if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
                work();
                post(guard, std::move(deliver));
            } else {
                auto result = work();
                post(guard, [deliver = std::move(deliver), result = std::move(result)](Receiver& target) mutable {
                    deliver(target, std::move(result));
                });
            }
        });
}

} // namespace quorvel::GuiJob
