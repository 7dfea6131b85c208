#pragma once

#include <QThread>

#include "remote/guardedhttpserver.h"

#include <atomic>

class HttpRoutes;

// Runs the HTTP library's blocking accept loop: binds the port and carries each request to the
// routes. The object itself lives on the main thread; the routes' handlers run on the listener's
// request threads.
class HttpServerWorkerThread : public QThread
{
    Q_OBJECT

public:
    // routes must outlive this object: its requests are handed to them until the thread ends.
    explicit HttpServerWorkerThread(HttpRoutes& routes);
    ~HttpServerWorkerThread() override;

    // Main thread. Raises the stopping flag, stops the routes and asks the listener to end; a
    // request made before the listener runs is lost, so callers repeat it until the thread has
    // finished.
    void requestStop();
    void stopListener();
    void clearStopping();
    bool isStopping() const { return m_stopping; }

    // Main thread, while stopped: this machine only, or every interface.
    void setLocalOnly(bool localOnly) { m_localOnly = localOnly; }

public Q_SLOTS:
    void setPort(ushort port);

Q_SIGNALS:
    // From the worker thread, once the port is bound or could not be.
    void listening(ushort port);
    void listenFailed(ushort port);

protected:
    void run() override;

private:
    HttpRoutes& m_routes;
    GuardedHttpServer m_http;
    // Written on the main thread while the thread is stopped, read by run().
    ushort m_port = 0;
    bool m_localOnly = false;
    std::atomic<bool> m_stopping { false };
};
