#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThreadPool;

// Writes continuity records on threads of its own, so that a drive that stops answering holds up
// its own records and nothing else. The writes of one record go out one at a time, in order; one
// asked while the last is still out replaces any other waiting (the newest is the whole truth).
// Also reads the records for listing and ends those a previous run left open. Main thread API.
class RecordWriter : public QObject
{
    Q_OBJECT
public:
    explicit RecordWriter(int timeoutMs = 2000, QObject* parent = nullptr);
    // Writes asked before are finished first, for a time-out at most: the records of the stops at
    // the application's end must reach their files.
    ~RecordWriter() override;

    // The application's writer, gone with the application object.
    static RecordWriter* instance();

    using Kept = std::function<void(const QString& keptAt)>;
    // kept runs on the main thread when the record has had to be kept away from its pieces (a full
    // drive), unless context is gone by then.
    void write(const QString& path, const QJsonObject& record, QObject* context, Kept kept);

    // The newest records in the folders as last read; each call asks for a new reading, as does
    // every write done.
    QJsonArray latest(const QStringList& folders);
    // Ends the records a previous run left open, off the main thread; logs how many.
    void finishStale(const QStringList& folders);
    // True while nothing is out (tests).
    bool isIdle() const;
    // Records whose writer waits to be told where they were kept (tests).
    int listeners() const;

Q_SIGNALS:
    void listed();

private:
    struct Shared;
    // Main thread, called by the pool's threads.
    Q_INVOKABLE void keptNow(const QString& path, const QString& keptAt);
    Q_INVOKABLE void written(const QString& path);
    Q_INVOKABLE void read(const QStringList& folders, const QJsonArray& records);
    void relist();

    std::shared_ptr<Shared> m_shared;
    // Owned; left alive at destruction only while a thread of it is stuck in a drive.
    std::unique_ptr<QThreadPool> m_pool;
    const int m_timeoutMs;
    struct Listener {
        QPointer<QObject> context;
        Kept kept;
    };
    QHash<QString, Listener> m_listeners;
    QStringList m_listedFolders;
    QJsonArray m_latest;
    bool m_asked = false; // listing is done only for those who ask
    bool m_listing = false;
    bool m_listAgain = false;
};
