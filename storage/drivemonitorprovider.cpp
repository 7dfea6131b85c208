#include "storage/drivemonitorprovider.h"

#include "storage/drivemonitor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSet>
#include <QStorageInfo>
#include <QVariantList>

#include <algorithm>

namespace
{

DriveMonitorProvider* g_provider = nullptr;

void destroyProvider()
{
    delete g_provider;
}

} // namespace

DriveMonitorProvider* DriveMonitorProvider::instance()
{
    if (!g_provider) {
        g_provider = new DriveMonitorProvider;
        // Gone with the application object, before Qt's statics are torn down.
        qAddPostRoutine(destroyProvider);
    }
    return g_provider;
}

DriveMonitorProvider::DriveMonitorProvider()
{
    m_timer.setSingleShot(true);
    // Asked often so that a drive that stops answering is told within the time-out and one look;
    // the space figures still move on every two seconds (samples younger than that are kept).
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &DriveMonitorProvider::timerTick);
    m_timer.start();
}

DriveMonitorProvider::~DriveMonitorProvider()
{
    if (g_provider == this)
        g_provider = nullptr;
}

void DriveMonitorProvider::registerMonitor(DriveMonitor* monitor)
{
    m_monitors.append(monitor);
}

void DriveMonitorProvider::unregisterMonitor(DriveMonitor* monitor)
{
    m_monitors.removeIf([monitor](const QPointer<DriveMonitor>& entry) { return entry.isNull() || entry == monitor; });
}

void DriveMonitorProvider::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void DriveMonitorProvider::setBytesAvailable(BytesAvailable bytesAvailable)
{
    m_bytesAvailable = std::move(bytesAvailable);
}

float DriveMonitorProvider::fillRateFor(const std::array<float, 4>& consumption)
{
    float sum = 0.0f;
    int count = 0;
    for (float value : consumption) {
        if (value > 0.0f) {
            sum += value;
            ++count;
        }
    }
    if (count == 0)
        return 1.0f;
    const float rate = std::max(sum / float(count) / 0.7f, 1.0f);
    return float(std::min(double(rate), 4.0));
}

DriveSample DriveMonitorProvider::record(const QString& rootPath, qint64 bytes)
{
    const qint64 seconds = m_clock ? m_clock() : QDateTime::currentDateTime().toSecsSinceEpoch();
    const quint32 now = quint32(seconds);

    const auto found = m_samples.constFind(rootPath);
    if (found != m_samples.constEnd() && quint32(now - found->timestamp) <= quint32(m_maxSampleAge))
        return *found;

    const DriveSample old = found != m_samples.constEnd() ? *found : DriveSample {};

    DriveSample next;
    next.timestamp = now;
    next.gigabytesAvailable = float(bytes) / 1000.0f / 1000.0f / 1000.0f;
    next.consumption = { old.consumption[1], old.consumption[2], old.consumption[3],
        old.gigabytesAvailable - next.gigabytesAvailable };
    next.fillRate = fillRateFor(next.consumption);
    m_samples.insert(rootPath, next);
    return next;
}

void DriveMonitorProvider::lookUp(DriveMonitor* monitor)
{
    const QString folder = monitor->folder();
    const auto question = [folder, bytesAvailable = m_bytesAvailable]() -> QVariant {
        const QStorageInfo storage(folder);
        const QString root = storage.rootPath();
        return QVariantList { root, bytesAvailable ? bytesAvailable(root) : storage.bytesAvailable(),
            QDir(folder).exists() };
    };
    m_worker.ask(folder, QStringLiteral("drive"), question, monitor, [this, monitor, folder](const QVariant& answer) {
        if (monitor->folder() != folder)
            return;
        const QVariantList figures = answer.toList();
        monitor->m_path = figures.value(0).toString();
        monitor->m_folderMissing = !figures.value(2).toBool();
        Q_EMIT monitor->updated(record(monitor->m_path, figures.value(1).toLongLong()).gigabytesAvailable, 1.0f);
    });
}

void DriveMonitorProvider::timerTick()
{
    QSet<QString> drives;
    for (const QPointer<DriveMonitor>& monitor : std::as_const(m_monitors)) {
        if (monitor.isNull())
            continue;
        const QString folder = monitor->folder();
        if (!folder.isEmpty()) {
            m_worker.ask(
                folder, QStringLiteral("folder"), [folder] { return QDir(folder).exists(); }, monitor,
                [monitor = monitor.data(), folder](const QVariant& exists) {
                    if (monitor->folder() == folder)
                        monitor->m_folderMissing = !exists.toBool();
                });
        }
        if (!monitor->path().isEmpty())
            drives.insert(monitor->path());
        else if (!monitor->folder().isEmpty())
            lookUp(monitor); // not found yet: asked again
    }
    // One question per drive; a drive still busy with the last one is not asked again.
    for (const QString& root : std::as_const(drives)) {
        const auto question = [root, bytesAvailable = m_bytesAvailable]() -> QVariant {
            return bytesAvailable ? bytesAvailable(root) : QStorageInfo(root).bytesAvailable();
        };
        m_worker.ask(root, QStringLiteral("space"), question, this, [this, root](const QVariant& answer) {
            const quint32 before = m_samples.value(root).timestamp;
            const DriveSample figures = record(root, answer.toLongLong());
            if (figures.timestamp == before)
                return; // a look for an answer only; the figures move on with the next sample
            // A handler may delete monitors (or whole slots) while we go through the list.
            const QList<QPointer<DriveMonitor>> monitors = m_monitors;
            for (const QPointer<DriveMonitor>& monitor : monitors) {
                if (!monitor.isNull() && monitor->path() == root)
                    Q_EMIT monitor->updated(figures.gigabytesAvailable, figures.fillRate);
            }
        });
    }
    m_timer.start();
}
