#pragma once

#include <QObject>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

// The "/api/events" streams' queues. The main thread appends every event; each stream's request
// thread takes from its own queue and waits on it alone, never on the main thread. A new stream's
// queue starts with the complete state, filled in on the main thread when it gets there.
class EventStreams : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxStreams = 5;
    // A queue that its stream does not drain fast enough is replaced by a fresh start.
    static constexpr int maxQueuedMessages = 512;

    // initialMessages: main thread, the complete state a new or overrun stream starts from.
    explicit EventStreams(std::function<QStringList()> initialMessages, QObject* parent = nullptr);

    // Request threads. A new stream's id, or 0 when all places are taken or the streams stop.
    quint64 open();
    enum class Taken { Messages, NotReady, Ended };
    // Waits up to timeout for the stream's queue and takes what it holds (maybe nothing);
    // NotReady while its start is not filled in, Ended once the streams stop.
    Taken take(quint64 id, std::chrono::milliseconds timeout, QStringList& messages);
    void close(quint64 id);

    // Main thread.
    void send(const QString& message);
    // Ends every stream and drops every queue; none opens until started again.
    void stop();
    void start();

    // Any thread.
    int count() const;
    int queueCount() const;
    int queuedMessageCount() const;

private:
    struct Queue {
        QStringList messages;
        bool ready = false;
    };
    void fillStart(quint64 id);

    const std::function<QStringList()> m_initialMessages;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    std::map<quint64, Queue> m_queues;
    int m_count = 0;
    quint64 m_lastId = 0;
    bool m_stopped = false;
};
