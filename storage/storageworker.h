#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>

class QThreadPool;

// Asks the file system on threads of its own, so that the main thread never waits on a drive.
// Every question names the folder or drive it concerns (its key) and what it asks (its kind); while
// one of a key and kind is out, the same is not asked again, so a hung drive holds one thread per
// kind and no more. A key with a question out longer than the time-out is not answering until that
// question returns. The answer comes back on the main thread, through a queued call. Main thread API.
class StorageWorker : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 2000;

    explicit StorageWorker(int timeoutMs = defaultTimeoutMs, QObject* parent = nullptr);
    // Waits for questions still out for one time-out at most; a thread stuck in a drive is left to
    // the process's end.
    ~StorageWorker() override;

    using Question = std::function<QVariant()>;
    using Answer = std::function<void(const QVariant&)>;
    // Runs question on a worker thread; answer runs on the main thread unless context is gone by
    // then. False when a question of this key and kind is still out.
    bool ask(const QString& key, const QString& kind, Question question, QObject* context, Answer answer);
    bool isAnswering(const QString& key) const { return !m_silent.contains(key); }

Q_SIGNALS:
    void answeringChanged(const QString& key, bool answering);

private:
    struct Pending {
        QString key;
        QString kind;
        QPointer<QObject> context;
        Answer answer;
        QElapsedTimer asked;
    };
    // Shared with the tasks: they post to the worker only while it lives.
    struct Mailbox;

    Q_INVOKABLE void deliver(quint64 id, const QVariant& result);
    void checkTimeouts();

    const int m_timeoutMs;
    // Owned; left alive at destruction only while a thread of it is stuck in a drive.
    std::unique_ptr<QThreadPool> m_pool;
    std::shared_ptr<Mailbox> m_mailbox;
    QHash<quint64, Pending> m_pending;
    QSet<QString> m_silent;
    quint64 m_nextId = 1;
    QTimer m_watch;
};
