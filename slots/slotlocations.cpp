#include "slots/slotlocations.h"

#include "app/settingsmodel.h"
#include "slots/recordingrules.h"
#include "slots/recordingstatemachine.h"
#include "storage/drivemonitor.h"
#include "storage/drivemonitorprovider.h"

#include <QDir>
#include <QStandardPaths>

#include <utility>

SlotLocations::SlotLocations(const RecordingStateMachine& machine, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
{
    const QString movies = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation).value(0);
    for (Location& location : m_location) {
        location.custom = movies;
        location.monitor = new DriveMonitor(this);
    }
    // A counts as roomy until its drive is first measured.
    m_location[A].gigabytes = 100000.0f;
    for (Side side : { A, B }) {
        connect(m_location[side].monitor, &DriveMonitor::updated, this,
            [this, side](float gigabytes, float fillRate) { spaceUpdated(side, gigabytes, fillRate); });
    }
    connect(DriveMonitorProvider::instance()->worker(), &StorageWorker::answeringChanged, this,
        &SlotLocations::checkSilence);
}

void SlotLocations::checkSilence()
{
    const StorageWorker* worker = DriveMonitorProvider::instance()->worker();
    QString silent;
    // The folder is asked until its drive is known, and the pieces' sizes are asked by folder.
    for (const Location& location : m_location) {
        for (const QString& key : { location.monitor->folder(), location.monitor->path() }) {
            if (silent.isEmpty() && !key.isEmpty() && !worker->isAnswering(key))
                silent = key;
        }
    }
    if (std::exchange(m_silentDrive, silent) != silent)
        emit silentDriveChanged(silent);
}

QString SlotLocations::folder(Side side) const
{
    if (m_customEnabled)
        return m_location[side].custom;
    SettingsModel* settings = SettingsModel::instance();
    return side == A ? settings->location() : settings->locationB();
}

bool SlotLocations::lowSpace(Side side) const
{
    return RecordingRules::lowSpace(m_location[side].gigabytes);
}

bool SlotLocations::folderMissing() const
{
    const DriveMonitor* monitor = m_location[recordingSide()].monitor;
    return monitor->folder() == m_currentFolder && monitor->folderMissing();
}

QString SlotLocations::drive() const
{
    return m_location[recordingSide()].monitor->path();
}

QStringList SlotLocations::watchedFolders() const
{
    return { m_location[A].monitor->folder(), m_location[B].monitor->folder() };
}

QStringList SlotLocations::recordingFolders() const
{
    return { folder(A), folder(B) };
}

bool SlotLocations::setCustom(Side side, const QString& folder)
{
    return std::exchange(m_location[side].custom, folder) != folder;
}

bool SlotLocations::setCustomEnabled(bool enabled)
{
    return std::exchange(m_customEnabled, enabled) != enabled;
}

bool SlotLocations::selectB(bool selected)
{
    if (std::exchange(m_bSelected, selected) == selected)
        return false;
    m_currentFolder = folder(recordingSide());
    return true;
}

void SlotLocations::restore(const SlotSettingsStore::Values& values)
{
    m_customEnabled = values.customLocationEnabled;
    m_location[A].custom = values.customLocation;
    m_location[B].custom = values.customLocationB;
    // Without A/B recording a slot never records to B, whatever an earlier run stored.
    m_bSelected = values.locationBSelected && m_abRecording;
}

void SlotLocations::store(SlotSettingsStore::Values& values) const
{
    values.customLocationEnabled = m_customEnabled;
    values.customLocation = m_location[A].custom;
    values.customLocationB = m_location[B].custom;
    values.locationBSelected = m_bSelected;
}

QString SlotLocations::refreshCurrentFolder()
{
    m_currentFolder = folder(recordingSide());
    return m_currentFolder;
}

void SlotLocations::measure()
{
    for (Side side : { A, B })
        m_location[side].monitor->setPath(folder(side));
    checkSilence();
}

bool SlotLocations::defaultChanged(Side side, const QString& folder)
{
    if (m_customEnabled)
        return false;
    const bool written = recordingSide() == side;
    // The drive being written stays watched until the next piece lies on the new one.
    if (m_machine.isBusy() && written)
        m_location[side].pendingMonitor = folder;
    else
        m_location[side].monitor->setPath(folder);
    checkSilence();
    if (written)
        m_currentFolder = folder;
    return written;
}

void SlotLocations::spaceUpdated(Side side, float gigabytes, float fillRate)
{
    Location& location = m_location[side];
    if (qFuzzyCompare(gigabytes, location.gigabytes))
        return;
    location.gigabytes = gigabytes;
    if (m_machine.isRecording()) {
        switch (RecordingRules::spaceAction(
            side == B, m_abRecording, m_bSelected, m_location[A].gigabytes, m_location[B].gigabytes, fillRate)) {
        case RecordingRules::SpaceAction::SwitchToOther: emit switchWanted(side == A); break;
        case RecordingRules::SpaceAction::Stop: emit outOfSpace(); break;
        case RecordingRules::SpaceAction::None: break;
        }
    }
    emit spaceChanged(side, location.gigabytes);
}

void SlotLocations::applyPendingMonitorPaths(const QString& writtenFolder)
{
    for (Location& location : m_location) {
        if (!location.pendingMonitor.isEmpty()
            && (!m_machine.isBusy()
                || QDir(writtenFolder).absolutePath() == QDir(location.pendingMonitor).absolutePath())) {
            location.monitor->setPath(location.pendingMonitor);
            location.pendingMonitor.clear();
        }
    }
    checkSilence();
}
