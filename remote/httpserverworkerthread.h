#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include "remote/accesskeyattempts.h"
#include "remote/guardedhttpserver.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

class HttpServer;

// Runs the HTTP library's blocking accept loop. The object itself lives on the main thread: its
// slots and the message queues are main-thread only; request threads reach them through blocking
// queued invocations and otherwise touch only the two atomics.
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
    void clearStopping() { m_stopping = false; }
    bool isStopping() const { return m_stopping; }
    int streamCount() const { return m_streamCount; }
    // Main thread, only while the thread is not running: no stream can own a queue then.
    void discardQueues() { m_queues.clear(); }
    int queueCount() const { return int(m_queues.size()); }
    int queuedMessageCount() const;

    // Serves static files from another folder (main thread, while stopped).
    bool setPanelPath(const QString& path);

    // A queue that its stream does not drain fast enough is replaced by a fresh start.
    static constexpr int maxQueuedMessages = 512;

    // Main thread, while stopped: this machine only, or every interface.
    void setLocalOnly(bool localOnly) { m_localOnly = localOnly; }
    // Main thread, at any time; request threads read it.
    void setAccessKey(const QString& key);

public Q_SLOTS:
    void setPort(ushort port);
    void sendEvent(QJsonDocument doc);
    void onSseConnected(QString threadId);
    void onSseDisconnected(QString threadId);
    QStringList getMessages(QString threadId);

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
    // Success, or why the request may not be served.
    QString admitted(const httplib::Request& request);
    QStringList initialMessages() const;
    // Any thread: streams waiting for their next message look again.
    void wakeStreams();
    bool mountPanel();

    HttpServer* const m_server;
    GuardedHttpServer m_http;
    // Written on the main thread while the thread is stopped, read by run().
    ushort m_port = 0;
    bool m_localOnly = false;
    std::mutex m_keyMutex; // guards m_accessKey and m_keyAttempts
    QString m_accessKey;
    AccessKeyAttempts m_keyAttempts;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_streamCount { 0 };
    // Streams wait on m_wake for m_eventSerial to change (guarded by m_wakeMutex).
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    quint64 m_eventSerial = 0;
    QByteArray m_panelPath;
    // Main thread only.
    QMap<QString, QStringList> m_queues;
    // The last picture sent for each slot: every viewer within snapshotMs gets the same bytes, so
    // many panels cost one encoding.
    struct CachedSnapshot {
        QByteArray jpeg;
        qint64 serial = 0;
        qint64 atMs = -1;
    };
    std::mutex m_snapshotMutex;
    std::map<uint, CachedSnapshot> m_snapshots;
    static constexpr qint64 snapshotMs = 250;
};
