#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class DriveMonitorProvider;

// Free space and fill rate of the drive that holds one folder, reported every two seconds.
class DriveMonitor : public QObject
{
    Q_OBJECT
public:
    explicit DriveMonitor(QObject* parent = nullptr);
    ~DriveMonitor() override;

    // Watches the drive of this folder from now on; returns its free gigabytes at once.
    float setPath(const QString& folder);
    // The drive's root, which is what gets measured.
    QString path() const { return m_path; }
    // The folder last given to setPath.
    QString folder() const { return m_folder; }

public Q_SLOTS:
    void update(float gigabytesAvailable, float fillRate);

Q_SIGNALS:
    void updated(float gigabytesAvailable, float fillRate);

private:
    // The provider lives until process exit; a monitor that outlives it must not touch it.
    QPointer<DriveMonitorProvider> m_provider;
    QString m_path;
    QString m_folder;
};
