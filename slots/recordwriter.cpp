#include "slots/recordwriter.h"

#include "app/logger.h"
#include "app/threadhandover.h"
#include "slots/continuityrecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThreadPool>

#include <algorithm>
#include <mutex>
#include <optional>

namespace
{

RecordWriter* g_writer = nullptr;

// At most this many records are listed.
constexpr int listedRecords = 50;

} // namespace

struct RecordWriter::Shared {
    struct Record {
        std::optional<QJsonObject> waiting;
        bool running = false;
        QString keptAt; // where the last write had to put it; empty while beside its pieces
    };
    std::mutex mutex;
    QHash<QString, Record> records; // guarded by mutex
    RecordWriter* writer = nullptr; // guarded by mutex; null once the writer is going

    // Calls the writer's method on the main thread while it lives. By name, with arguments Qt
    // copies: a functor made here would be read there past a hand-over the thread sanitizer
    // cannot see.
    template <typename... Arguments> void post(const char* method, Arguments... arguments)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (writer)
            QMetaObject::invokeMethod(writer, method, Qt::QueuedConnection, arguments...);
    }

    void drain(const QString& path)
    {
        for (;;) {
            QJsonObject record;
            QString keptBefore;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                Record& entry = records[path];
                if (!entry.waiting) {
                    entry.running = false;
                    if (entry.keptAt.isEmpty())
                        records.remove(path);
                    break;
                }
                record = std::move(*entry.waiting);
                entry.waiting.reset();
                keptBefore = entry.keptAt;
            }
            const QString keptAt = ContinuityRecord::store(path, record, keptBefore);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                records[path].keptAt = keptAt;
            }
            if (!keptAt.isEmpty() && keptBefore.isEmpty())
                post("keptNow", Q_ARG(QString, path), Q_ARG(QString, keptAt));
        }
        post("written", Q_ARG(QString, path));
    }
};

RecordWriter::RecordWriter(int timeoutMs, QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
    , m_pool(std::make_unique<QThreadPool>())
    , m_timeoutMs(timeoutMs)
{
    m_shared->writer = this;
    // One thread per record being written; a hung drive holds those of its own records.
    m_pool->setMaxThreadCount(64);
}

RecordWriter::~RecordWriter()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->writer = nullptr;
    }
    if (!m_pool->waitForDone(m_timeoutMs)) {
        qWarning("A drive did not take a recording record by the end; its write is left to the process's end");
        (void)m_pool.release();
    }
    if (g_writer == this)
        g_writer = nullptr;
}

RecordWriter* RecordWriter::instance()
{
    if (!g_writer) {
        g_writer = new RecordWriter;
        qAddPostRoutine([] { delete g_writer; });
    }
    return g_writer;
}

void RecordWriter::write(const QString& path, const QJsonObject& record, QObject* context, Kept kept)
{
    if (path.isEmpty())
        return;
    m_listeners.insert(path, { context, std::move(kept) });
    bool start = false;
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        Shared::Record& entry = m_shared->records[path];
        entry.waiting = record;
        start = !entry.running;
        entry.running = true;
    }
    if (start)
        ThreadHandover::start(*m_pool, [shared = m_shared, path] { shared->drain(path); });
}

void RecordWriter::keptNow(const QString& path, const QString& keptAt)
{
    const Listener listener = m_listeners.value(path);
    if (listener.context && listener.kept)
        listener.kept(keptAt);
}

QJsonArray RecordWriter::latest(const QStringList& folders)
{
    if (folders != m_listedFolders || !m_asked) {
        m_listedFolders = folders;
        m_latest = {};
        m_asked = true;
    }
    relist();
    return m_latest;
}

void RecordWriter::relist()
{
    if (m_listing) {
        m_listAgain = true;
        return;
    }
    m_listing = true;
    m_listAgain = false;
    ThreadHandover::start(*m_pool, [shared = m_shared, folders = m_listedFolders] {
        const QJsonArray records = ContinuityRecord::latest(folders, listedRecords);
        shared->post("read", Q_ARG(QStringList, folders), Q_ARG(QJsonArray, records));
    });
}

void RecordWriter::written(const QString& path)
{
    {
        // A record with no write out calls no listener until it is written again.
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        const auto it = m_shared->records.constFind(path);
        if (it == m_shared->records.cend() || !it->running)
            m_listeners.remove(path);
    }
    if (m_asked)
        relist();
}

void RecordWriter::read(const QStringList& folders, const QJsonArray& records)
{
    m_listing = false;
    if (folders == m_listedFolders && records != m_latest) {
        m_latest = records;
        emit listed();
    }
    if (m_listAgain)
        relist();
}

void RecordWriter::finishStale(const QStringList& folders)
{
    // Records written from now on are this run's, open or not.
    ThreadHandover::start(*m_pool, [folders, before = QDateTime::currentDateTime()] {
        if (const int stale = ContinuityRecord::finishStale(folders, before))
            Logger::write(
                QStringLiteral("%1 recording record(s) left open by the last run ended with \"app ended\"").arg(stale));
    });
}

int RecordWriter::listeners() const
{
    return int(m_listeners.size());
}

bool RecordWriter::isIdle() const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->records.isEmpty()
        || std::none_of(m_shared->records.cbegin(), m_shared->records.cend(),
            [](const Shared::Record& record) { return record.running; });
}
