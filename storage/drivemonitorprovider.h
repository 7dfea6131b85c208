#pragma once

#include "storage/storageworker.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>

class DriveMonitor;

// What we know about one drive, keyed by its root path.
struct DriveSample {
    float gigabytesAvailable = 0.0f;
    quint32 timestamp = 0;
    float fillRate = 1.0f;
    // Gigabytes consumed between consecutive samples, oldest first; -1 means no value yet.
    std::array<float, 4> consumption { -1.0f, -1.0f, -1.0f, -1.0f };
};

// Samples the drives of all drive monitors every two seconds and shares one sample and one
// consumption history per drive between the monitors on it. Its storage worker asks the drives;
// the figures are taken on the main thread when they come. Main thread only.
class DriveMonitorProvider : public QObject
{
    Q_OBJECT
public:
    static DriveMonitorProvider* instance();
    ~DriveMonitorProvider() override;

    void registerMonitor(DriveMonitor* monitor);
    void unregisterMonitor(DriveMonitor* monitor);
    // Takes a drive's free bytes as its newest sample, unless the last one is under a second old.
    DriveSample record(const QString& rootPath, qint64 bytesAvailable);
    // Finds the drive of the monitor's folder and measures it.
    void lookUp(DriveMonitor* monitor);
    // Every question to the file system goes through here.
    StorageWorker* worker() { return &m_worker; }

    // 1.0 when nothing was consumed; otherwise the mean positive consumption over 0.7, within 1..4.
    static float fillRateFor(const std::array<float, 4>& consumption);

    // Tests replace the clock (seconds since the epoch) and the free-space query, which runs on a
    // worker thread; an empty function restores the real one.
    using Clock = std::function<qint64()>;
    using BytesAvailable = std::function<qint64(const QString& rootPath)>;
    void setClock(Clock clock);
    void setBytesAvailable(BytesAvailable bytesAvailable);
    int monitorCount() const { return int(m_monitors.size()); }

public Q_SLOTS:
    void timerTick();

private:
    DriveMonitorProvider();

    int m_maxSampleAge = 1;
    QMap<QString, DriveSample> m_samples;
    // Monitors unregister themselves on destruction; QPointer covers one deleted during a tick.
    QList<QPointer<DriveMonitor>> m_monitors;
    QTimer m_timer;
    Clock m_clock;
    BytesAvailable m_bytesAvailable;
    // Declared last: destroyed first, so that no answer comes to a half-destroyed provider.
    StorageWorker m_worker;
};
