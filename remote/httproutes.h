#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include "remote/accessgate.h"
#include "remote/eventstreams.h"
#include "remote/jpegcache.h"
#include "remote/mainthreadcalls.h"

#include <atomic>

class GuardedHttpServer;
class HttpServer;

namespace httplib
{
struct Request;
struct Response;
} // namespace httplib

// What each HTTP request gets: the web panel's files, "/api", "/api/events", "/api/snapshot" and
// "/metrics", behind the access check. The handlers run on the listener's request threads; they
// have the main thread's work done through MainThreadCalls (abandoned on a stop) and wait on their
// own event queues. Everything else here is for the main thread.
class HttpRoutes
{
public:
    explicit HttpRoutes(HttpServer* server);

    // Once, before the listener runs: the panel's files and the handlers go to http. Its requests
    // call this object, so it is ended and destroyed before this object is.
    void install(GuardedHttpServer& http);
    // Serves static files from another folder (after install, while the listener is stopped).
    bool setPanelPath(const QString& path);

    // Answers "unavailable" from now on and lets go of every request thread that waits for the
    // main thread or its event queue, so that the listener can be joined.
    void stop();
    void start();

    // At any time; request threads read it.
    void setAccessKey(const QString& key);
    void sendEvent(const QJsonDocument& doc);

    int streamCount() const { return m_streams.count(); }
    int queueCount() const { return m_streams.queueCount(); }
    int queuedMessageCount() const { return m_streams.queuedMessageCount(); }

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
    // The listener installed on (owned by the worker thread), set before its first request: the
    // main thread remounts the panel on it while it is stopped, request threads ask it of streams.
    GuardedHttpServer* m_http = nullptr;
    std::atomic<bool> m_stopping { false };
    AccessGate m_access;
    QByteArray m_panelPath;
    MainThreadCalls m_calls;
    EventStreams m_streams;
    JpegCache m_jpegs;
};
