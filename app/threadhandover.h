#pragma once

#include <QMetaObject>
#include <QObject>

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
} // namespace ThreadHandover
