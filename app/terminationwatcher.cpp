#include "app/terminationwatcher.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>

#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

// Sees the window messages of every window of the application, on the main thread.
class TerminationWatcher::Listener : public QAbstractNativeEventFilter
{
public:
    explicit Listener(TerminationWatcher* watcher)
        : m_watcher(watcher)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Listener() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        switch (msg->message) {
        case WM_SYSCOMMAND:
            // The user's own close (title bar, Alt+F4) comes this way before its WM_CLOSE.
            if ((msg->wParam & 0xFFF0) == SC_CLOSE)
                m_userClosing = true;
            return false;
        case WM_CLOSE:
            if (m_userClosing) {
                m_userClosing = false;
                return false; // the window decides, as on every platform
            }
            // Sent by another program (taskkill, an installer): end in order instead of refusing.
            Q_EMIT m_watcher->terminationRequested(QStringLiteral("a close request from another program"));
            return true;
        case WM_QUERYENDSESSION:
            // Log-off or shutdown. Leaving the event loop now runs the teardown before the system
            // sends the end of the session, after which the process may be ended at any moment.
            Q_EMIT m_watcher->terminationRequested(QStringLiteral("the session ending"));
            return false;
        default: return false;
        }
    }

private:
    TerminationWatcher* const m_watcher;
    bool m_userClosing = false;
};

#else

namespace
{
// Written by the signal handler (async-signal-safe write only), read on the main thread.
int signalPipe[2] = { -1, -1 };

void handleSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}
} // namespace

class TerminationWatcher::Listener
{
public:
    explicit Listener(TerminationWatcher* watcher)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
            return;
        ::fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
        ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
        m_notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, watcher, [watcher] {
            unsigned char byte = 0;
            while (::read(signalPipe[1], &byte, 1) == 1)
                Q_EMIT watcher->terminationRequested(QStringLiteral("signal %1").arg(int(byte)));
        });

        struct sigaction action = {};
        action.sa_handler = &handleSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    ~Listener()
    {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        m_notifier.reset();
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

#endif

TerminationWatcher::TerminationWatcher(QObject* parent)
    : QObject(parent)
    , m_listener(std::make_unique<Listener>(this))
{
}

TerminationWatcher::~TerminationWatcher() = default;
