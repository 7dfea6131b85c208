#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class DriveMonitorProvider;

// Free space and fill rate of the drive that holds one folder, reported every two seconds. The
// drive is found and measured off the main thread; until it answers, the last figures stand.
class DriveMonitor : public QObject
{
    Q_OBJECT
public:
    explicit DriveMonitor(QObject* parent = nullptr);
    ~DriveMonitor() override;

    // Watches the drive of this folder from now on; its first figures come with a fill rate of 1.
    void setPath(const QString& folder);
    // The drive's root, which is what gets measured; empty until the drive has answered.
    QString path() const { return m_path; }
    // The folder last given to setPath.
    QString folder() const { return m_folder; }
    // The folder's drive answered that the folder is not there (as last asked, every two seconds).
    bool folderMissing() const { return m_folderMissing; }

public Q_SLOTS:
    void update(float gigabytesAvailable, float fillRate);

Q_SIGNALS:
    void updated(float gigabytesAvailable, float fillRate);

private:
    friend class DriveMonitorProvider;
    // The provider lives until process exit; a monitor that outlives it must not touch it.
    QPointer<DriveMonitorProvider> m_provider;
    QString m_path;
    QString m_folder;
    bool m_folderMissing = false;
};
