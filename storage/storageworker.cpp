#include "storage/storageworker.h"

#include "app/threadhandover.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThreadPool>

#include <algorithm>

struct StorageWorker::Mailbox {
    QMutex mutex;
    StorageWorker* worker = nullptr; // guarded by mutex; null once the worker is going
};

StorageWorker::StorageWorker(int timeoutMs, QObject* parent)
    : QObject(parent)
    , m_timeoutMs(timeoutMs)
    , m_pool(std::make_unique<QThreadPool>())
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->worker = this;
    // Every hung drive may hold a few threads; the healthy ones still need theirs.
    m_pool->setMaxThreadCount(64);
    m_watch.setInterval(std::max(10, timeoutMs / 8));
    connect(&m_watch, &QTimer::timeout, this, &StorageWorker::checkTimeouts);
}

StorageWorker::~StorageWorker()
{
    {
        QMutexLocker lock(&m_mailbox->mutex);
        m_mailbox->worker = nullptr;
    }
    m_pool->clear();
    if (!m_pool->waitForDone(m_timeoutMs)) {
        qWarning("A drive did not answer by the end; its question is left to the process's end");
        (void)m_pool.release();
    }
}

bool StorageWorker::ask(const QString& key, const QString& kind, Question question, QObject* context, Answer answer)
{
    for (const Pending& pending : std::as_const(m_pending)) {
        if (pending.key == key && pending.kind == kind)
            return false;
    }
    const quint64 id = m_nextId++;
    Pending& pending = m_pending[id];
    pending.key = key;
    pending.kind = kind;
    pending.context = context;
    pending.answer = std::move(answer);
    pending.asked.start();
    if (!m_watch.isActive())
        m_watch.start();
    ThreadHandover::start(*m_pool, [mailbox = m_mailbox, id, question = std::move(question)] {
        const QVariant result = question();
        QMutexLocker lock(&mailbox->mutex);
        // By name, with arguments Qt copies: a functor made here would be read on the main thread
        // past a hand-over the thread sanitizer cannot see.
        if (StorageWorker* worker = mailbox->worker)
            QMetaObject::invokeMethod(
                worker, "deliver", Qt::QueuedConnection, Q_ARG(quint64, id), Q_ARG(QVariant, result));
    });
    return true;
}

void StorageWorker::deliver(quint64 id, const QVariant& result)
{
    const Pending pending = m_pending.take(id);
    if (m_pending.isEmpty())
        m_watch.stop();
    if (m_silent.contains(pending.key)) {
        const bool stillOut = std::any_of(m_pending.cbegin(), m_pending.cend(),
            [&](const Pending& other) { return other.key == pending.key && other.asked.hasExpired(m_timeoutMs); });
        if (!stillOut) {
            m_silent.remove(pending.key);
            emit answeringChanged(pending.key, true);
        }
    }
    if (pending.context && pending.answer)
        pending.answer(result);
}

void StorageWorker::checkTimeouts()
{
    QStringList silenced;
    for (const Pending& pending : std::as_const(m_pending)) {
        if (pending.asked.hasExpired(m_timeoutMs) && !m_silent.contains(pending.key)) {
            m_silent.insert(pending.key);
            silenced.append(pending.key);
        }
    }
    // Handlers may ask again, which changes the table gone through above.
    for (const QString& key : std::as_const(silenced))
        emit answeringChanged(key, false);
}
