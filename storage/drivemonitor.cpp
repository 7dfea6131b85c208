#include "storage/drivemonitor.h"

#include "storage/drivemonitorprovider.h"

#include <QStorageInfo>

DriveMonitor::DriveMonitor(QObject* parent)
    : QObject(parent)
    , m_provider(DriveMonitorProvider::instance())
{
    m_provider->registerMonitor(this);
}

DriveMonitor::~DriveMonitor()
{
    if (m_provider)
        m_provider->unregisterMonitor(this);
}

float DriveMonitor::setPath(const QString& folder)
{
    m_folder = folder;
    m_path = QStorageInfo(folder).rootPath();
    if (!m_provider)
        return 0.0f;
    return m_provider->sample(m_path).gigabytesAvailable;
}

void DriveMonitor::update(float gigabytesAvailable, float fillRate)
{
    Q_EMIT updated(gigabytesAvailable, fillRate);
}
