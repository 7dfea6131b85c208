#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <utility>

// Where one thread hands data to another through a wait ThreadSanitizer cannot see (Qt's own locks
// are not instrumented), these marks show it the order the wait guarantees. Nothing in other builds.
#if defined(__SANITIZE_THREAD__)
#define RECORDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RECORDER_THREAD_SANITIZER 1
#endif
#endif

#ifdef RECORDER_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace ThreadHandover
{
// Before handing over: everything this thread wrote so far is the receiver's to read.
inline void publish([[maybe_unused]] const void* token)
{
#ifdef RECORDER_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(token));
#endif
}
// First thing on taking over.
inline void receive([[maybe_unused]] const void* token)
{
#ifdef RECORDER_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(token));
#endif
}

// Runs work on the thread of target and waits for it, marked as a hand-over both ways.
template <typename Work> void runBlocking(QObject* target, Work work)
{
    publish(&work);
    QMetaObject::invokeMethod(
        target,
        [&work] {
            receive(&work);
            work();
            publish(&work);
        },
        Qt::BlockingQueuedConnection);
    receive(&work);
}

// Starts work on a thread of pool. The pool's own wait is not seen by the thread sanitizer: the
// work, made whole, is handed over on a mark of its own type's, read before any capture.
template <typename Work> void start(QThreadPool& pool, Work work)
{
    static const char mark = 0;
    std::function<void()> task = [work = std::move(work)]() mutable {
        receive(&mark);
        work();
    };
    publish(&mark);
    pool.start(std::move(task));
}
} // namespace ThreadHandover
