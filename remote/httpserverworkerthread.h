#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include "remote/accessgate.h"
#include "remote/eventstreams.h"
#include "remote/guardedhttpserver.h"
#include "remote/jpegcache.h"
#include "remote/mainthreadcalls.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

class HttpServer;

// Runs the HTTP library's blocking accept loop and routes each request: the access check, the event
// streams' queues and the picture cache are parts of their own. The object itself lives on the
// main thread; request threads have the main thread's work done through MainThreadCalls (abandoned
// on a stop) and wait on their own event queues.
class HttpServerWorkerThread : public QThread
{
    Q_OBJECT

public:
    explicit HttpServerWorkerThread(HttpServer* server);
    ~HttpServerWorkerThread() override;

    // Main thread. Raises the stopping flag and asks the listener to end; a request made before
    // the listener runs is lost, so callers repeat it until the thread has finished.
    void requestStop();
    void stopListener();
    void clearStopping();
    bool isStopping() const { return m_stopping; }
    int streamCount() const { return m_streams.count(); }
    int queueCount() const { return m_streams.queueCount(); }
    int queuedMessageCount() const { return m_streams.queuedMessageCount(); }

    // Serves static files from another folder (main thread, while stopped).
    bool setPanelPath(const QString& path);

    static constexpr int maxQueuedMessages = EventStreams::maxQueuedMessages;

    // Main thread, while stopped: this machine only, or every interface.
    void setLocalOnly(bool localOnly) { m_localOnly = localOnly; }
    // Main thread, at any time; request threads read it.
    void setAccessKey(const QString& key);

public Q_SLOTS:
    void setPort(ushort port);
    void sendEvent(QJsonDocument doc);

Q_SIGNALS:
    // From the worker thread, once the port is bound or could not be.
    void listening(ushort port);
    void listenFailed(ushort port);

protected:
    void run() override;

private:
    // Answers a request that may not be served now (stopping: 503; no access: 401), with CORS.
    bool refused(const httplib::Request& request, httplib::Response& response);
    void handleApi(const httplib::Request& request, httplib::Response& response);
    void handleEvents(const httplib::Request& request, httplib::Response& response);
    void handleSnapshot(const httplib::Request& request, httplib::Response& response);
    void handleMetrics(const httplib::Request& request, httplib::Response& response);
    QStringList initialMessages() const;
    bool mountPanel();

    HttpServer* const m_server;
    GuardedHttpServer m_http;
    // Written on the main thread while the thread is stopped, read by run().
    ushort m_port = 0;
    bool m_localOnly = false;
    std::atomic<bool> m_stopping { false };
    AccessGate m_access;
    QByteArray m_panelPath;
    MainThreadCalls m_calls;
    EventStreams m_streams;
    JpegCache m_jpegs;
};
