#include "storage/drivemonitor.h"

#include "storage/drivemonitorprovider.h"

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

void DriveMonitor::setPath(const QString& folder)
{
    m_folder = folder;
    m_path.clear();
    m_folderMissing = false;
    if (m_provider)
        m_provider->lookUp(this);
}

void DriveMonitor::update(float gigabytesAvailable, float fillRate)
{
    Q_EMIT updated(gigabytesAvailable, fillRate);
}
