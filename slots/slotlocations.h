#pragma once

#include "slots/slotsettingsstore.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

class DriveMonitor;
class RecordingStateMachine;

// Where one slot records: locations A and B, each the slot's own folder or the global one, and the
// free space of their drives. While the slot records, a drive running short asks for the other
// location or for the end of the recording; the slot carries that out. Main thread only.
class SlotLocations : public QObject
{
    Q_OBJECT

public:
    enum Side { A = 0, B = 1 };

    explicit SlotLocations(const RecordingStateMachine& machine, QObject* parent = nullptr);

    // The slot's own folder when it has folders of its own, else the global one.
    QString folder(Side side) const;
    QString custom(Side side) const { return m_location[side].custom; }
    bool customEnabled() const { return m_customEnabled; }
    bool bSelected() const { return m_bSelected; }
    bool abRecording() const { return m_abRecording; }
    Side recordingSide() const { return m_abRecording && m_bSelected ? B : A; }
    Side otherSide() const { return recordingSide() == A ? B : A; }
    // Fixed when the slot is bound and when B is chosen or the global folder moves; not on every edit
    // of the slot's own folders.
    QString currentFolder() const { return m_currentFolder; }
    float gigabytes(Side side) const { return m_location[side].gigabytes; }
    float freeGigabytes() const { return gigabytes(recordingSide()); }
    bool lowSpace(Side side) const;
    // The current folder's drive said it is not there; a folder not asked yet counts as there.
    bool folderMissing() const;
    // The root of the drive measured for the side recorded to.
    QString drive() const;
    QStringList watchedFolders() const;
    QStringList recordingFolders() const;

    // Setters answer whether anything changed.
    bool setCustom(Side side, const QString& folder);
    bool setCustomEnabled(bool enabled);
    void setAbRecording(bool abRecording) { m_abRecording = abRecording; }
    // The current folder follows.
    bool selectB(bool selected);
    void restore(const SlotSettingsStore::Values& values);
    void store(SlotSettingsStore::Values& values) const;

    // Takes the folder of the side recorded to as the current one.
    QString refreshCurrentFolder();
    // Points both drive monitors at the folders in force and takes their figures at once.
    void measure();
    // A new global folder for one side; answers whether it is the folder recorded to now.
    bool defaultChanged(Side side, const QString& folder);
    void spaceUpdated(Side side, float gigabytes, float fillRate);
    // A monitor waiting for a new global folder takes it once nothing is recorded to its old one,
    // or once a piece lies in writtenFolder.
    void applyPendingMonitorPaths(const QString& writtenFolder);
    // The folder or drive of a location that does not answer; empty while all do.
    QString silentDrive() const { return m_silentDrive; }

Q_SIGNALS:
    void silentDriveChanged(const QString& path);
    void spaceChanged(SlotLocations::Side side, float gigabytes);
    void switchWanted(bool toB);
    void outOfSpace();

private:
    struct Location {
        QString custom;
        DriveMonitor* monitor = nullptr;
        float gigabytes = 0.0f;
        // A changed global folder reaches the drive monitor once nothing is written to the old one.
        QString pendingMonitor;
    };

    const RecordingStateMachine& m_machine;
    std::array<Location, 2> m_location;
    bool m_customEnabled = false;
    bool m_abRecording = false;
    bool m_bSelected = false;
    QString m_currentFolder;
    QString m_silentDrive;

    void checkSilence();
};
