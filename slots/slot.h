#pragma once

#include "ndi/ndirecorder.h"
#include "ndi/receiver.h"
#include "slots/continuityrecord.h"
#include "slots/recordingrules.h"
#include "slots/recordingstatemachine.h"
#include "slots/recordingtelemetry.h"
#include "slots/slotsnapshot.h"
#include "slots/splitschedule.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <array>

#include <functional>
#include <memory>

class DriveMonitor;
class NDIReceiver;
class SourcesModel;

// One cell of the recorder: binds at most one NDI source, owns its receiver, its recording
// controller and two drive monitors, holds and persists its configuration and carries out the
// recording rules. Main thread only, apart from activeReceiver().
class Slot : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    // The declaration order fixes the model's role numbers.
    Q_PROPERTY(int index0 READ index0 CONSTANT)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString connectedSource READ connectedSource WRITE setConnectedSource NOTIFY connectedSourceChanged)
    Q_PROPERTY(int selectedInd READ selectedInd WRITE setSelectedInd NOTIFY selectedIndChanged)
    Q_PROPERTY(int leftLevel READ leftLevel NOTIFY vuLeftLevelChanged)
    Q_PROPERTY(int rightLevel READ rightLevel NOTIFY vuRightLevelChanged)
    Q_PROPERTY(int tallyState READ tallyState WRITE setTallyState NOTIFY tallyStateChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isWaiting READ isWaiting NOTIFY isWaitingChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool showLevels READ showLevels WRITE setShowLevels NOTIFY showLevelsChanged)
    Q_PROPERTY(bool customLocationEnabled READ customLocationEnabled WRITE setCustomLocationEnabled NOTIFY
            customLocationEnabledChanged)
    Q_PROPERTY(bool viewingOnly READ viewingOnly WRITE setViewingOnly NOTIFY viewingOnlyChanged)
    Q_PROPERTY(bool recordPreview READ recordPreview WRITE setRecordPreview NOTIFY recordPreviewChanged)
    Q_PROPERTY(bool isListening READ isListening WRITE setIsListening NOTIFY isListeningChanged)
    Q_PROPERTY(bool isFullRes READ isFullRes WRITE setIsFullRes NOTIFY isFullResChanged)
    Q_PROPERTY(float gigabytesAvailable READ gigabytesAvailable NOTIFY gigabytesAvailableChanged)
    Q_PROPERTY(float gigabytesBAvailable READ gigabytesBAvailable NOTIFY gigabytesBAvailableChanged)
    Q_PROPERTY(float audioGain READ audioGain WRITE setAudioGain NOTIFY audioGainChanged)
    Q_PROPERTY(bool locationBSelected READ locationBSelected WRITE setLocationBSelected NOTIFY locationBSelectedChanged)
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(QString customLocation READ customLocation WRITE setCustomLocation NOTIFY customLocationChanged)
    Q_PROPERTY(QString customLocationB READ customLocationB WRITE setCustomLocationB NOTIFY customLocationBChanged)
    Q_PROPERTY(QString enteredSource READ enteredSource WRITE enteredSource NOTIFY enteredSourceChanged)
    Q_PROPERTY(QString displayName READ displayName WRITE setDisplayName NOTIFY displayNameChanged)
    Q_PROPERTY(RecordingTelemetry* telemetry READ telemetry CONSTANT)
    // "1920x1080 25p" from the pictures received; empty while none came.
    Q_PROPERTY(QString videoFormat READ videoFormat NOTIFY pictureStateChanged)
    // Bound, but no new picture for a while (the source left, or sends nothing).
    Q_PROPERTY(bool signalLost READ signalLost NOTIFY pictureStateChanged)
    // What every surface shows, decided here once: the state word ("empty", "ready", "no signal",
    // "waiting", "recording", "dropping", "stalled", "failed") and its label ("REC", "DROPPING 12 %").
    Q_PROPERTY(QString stateWord READ stateWord NOTIFY shownChanged)
    Q_PROPERTY(QString stateLabel READ stateLabel NOTIFY shownChanged)
    // Recording, or waiting for the program to confirm a start.
    Q_PROPERTY(bool busy READ busy NOTIFY shownChanged)
    Q_PROPERTY(bool lowSpaceA READ lowSpaceA NOTIFY shownChanged)
    Q_PROPERTY(bool lowSpaceB READ lowSpaceB NOTIFY shownChanged)
    Q_PROPERTY(QString currentFolder READ currentFolder NOTIFY shownChanged)
    Q_PROPERTY(QString folderA READ folderA NOTIFY shownChanged)
    Q_PROPERTY(QString folderB READ folderB NOTIFY shownChanged)
    // The warning in force, empty when its cause has ended.
    Q_PROPERTY(QString warning READ warning NOTIFY shownChanged)
    // The last events of the slot, one "hh:mm:ss text" line each, oldest first.
    Q_PROPERTY(QString historyText READ historyText NOTIFY shownChanged)

public:
    enum StopReason {
        User = 0,
        OutOfSpace = 1,
        RecorderError = 2,
    };
    Q_ENUM(StopReason)

    explicit Slot(QObject* parent = nullptr);
    // Disposes of the receiver, lets the recording process quit and persists the configuration.
    ~Slot() override;

    static void setSourcesModel(SourcesModel* model);
    static float standardGain();

    int index0() const { return m_index0; }
    QString name() const { return m_name; }
    QString connectedSource() const { return m_connectedSource; }
    int selectedInd() const { return m_selectedInd; }
    int leftLevel() const { return m_leftLevel; }
    int rightLevel() const { return m_rightLevel; }
    int tallyState() const { return m_tallyState; }
    bool isRecording() const { return m_machine->isRecording(); }
    bool isWaiting() const { return m_machine->isWaiting(); }
    bool busy() const { return m_machine->isBusy(); }
    QString stateWord() const;
    QString stateLabel() const;
    bool lowSpaceA() const;
    bool lowSpaceB() const;
    QString historyText() const;
    QString warning() const { return m_machine->warning(); }
    QString folderA() const { return folder(A); }
    // Free space where the slot records now.
    float freeGigabytes() const { return m_location[recordsToB() ? B : A].gigabytes; }
    QString folderB() const { return folder(B); }
    // Seconds the drive being recorded to lasts at the rate it fills; -1 while unknown or idle.
    qint64 secondsLeft() const { return m_secondsLeft; }
    void setSecondsLeft(qint64 seconds) { m_secondsLeft = seconds; }
    const RecordingStateMachine* machine() const { return m_machine; }
    bool isConnected() const { return m_isConnected; }
    bool showLevels() const { return m_showLevels; }
    bool customLocationEnabled() const { return m_customLocationEnabled; }
    bool viewingOnly() const { return m_viewingOnly; }
    bool recordPreview() const { return m_recordPreview; }
    bool isListening() const { return m_isListening; }
    bool isFullRes() const { return m_isFullRes; }
    float gigabytesAvailable() const { return m_location[A].gigabytes; }
    float gigabytesBAvailable() const { return m_location[B].gigabytes; }
    float audioGain() const { return m_audioGain; }
    bool locationBSelected() const { return m_locationBSelected; }
    bool selected() const { return m_selected; }
    QString customLocation() const { return m_location[A].custom; }
    QString customLocationB() const { return m_location[B].custom; }
    QString enteredSource() const { return m_enteredSource; }
    QString displayName() const { return m_displayName; }

    // Any thread: the receiver while the slot is bound, else null. Holding the pointer keeps the
    // receiver alive; it is disposed of when the last holder lets go.
    std::shared_ptr<Receiver> activeReceiver() const;

    // What every surface shows of this slot.
    SlotSnapshot snapshot() const;

    NDIRecorder* recorder() const { return m_recorder; }
    RecordingTelemetry* telemetry() const { return m_telemetry; }
    QString videoFormat() const { return m_videoFormat; }
    bool signalLost() const { return m_signalLost; }
    // The format text for a picture size and rate ("1920x1080 29.97p").
    static QString formatText(int width, int height, double frameRate);
    // How long a bound source may send nothing new before the slot shows it has no signal.
    static constexpr qint64 signalLostMs = 2000;
    // The record of the running recording, or of the last one; null before the first.
    const ContinuityRecord* continuityRecord() const { return m_machine->record(); }
    // Where this slot's recordings may lie: both locations, custom or global.
    QStringList recordingFolders() const;
    QString currentFolder() const { return m_currentFolder; }
    // The folders whose drives are measured for A and B.
    QStringList watchedFolders() const;
    quint16 splitCounter() const { return m_split->splits(); }
    const QTimer& splitTimer() const { return m_split->timer(); }
    // Milliseconds after the recording's start at which the next split is due (0: none planned).
    qint64 nextSplitDue() const { return m_split->nextDue(); }

    // The monotonic clock (milliseconds) that times splits; replaceable so that schedules can be
    // checked without waiting for them.
    void setMonotonicClock(std::function<qint64()> clock);

public Q_SLOTS:
    void acceptClicked();
    void disconnectClicked();
    void recordClicked();
    QString startRecording();
    QString stopRecording(Slot::StopReason reason = User);
    void setDefaultLocation(QString location);
    void setDefaultLocationB(QString location);
    void vuUpdated(int leftLevel, int rightLevel);
    void recordingStarted();
    void driveMonitorUpdated(float gigabytesAvailable, float fillRate);
    void driveMonitorBUpdated(float gigabytesAvailable, float fillRate);
    QString connectSource(QString source);
    QString disconnectSource();
    void chopTimerTimeout();

    void setName(QString name);
    void setConnectedSource(QString connectedSource);
    void setSelectedInd(int selectedInd);
    void enteredSource(QString enteredSource);
    void setShowLevels(bool showLevels);
    void setCustomLocationEnabled(bool customLocationEnabled);
    void setCustomLocation(QString customLocation);
    void setTallyState(int tallyState);
    void setViewingOnly(bool viewingOnly);
    void setAudioGain(float audioGain);
    void setRecordPreview(bool recordPreview);
    static void setStandardGain(float gain);
    QString setDisplayName(QString displayName);
    void setIsListening(bool isListening);
    void setCustomLocationB(QString customLocationB);
    void setLocationBSelected(bool locationBSelected);
    void setAbRecording(bool abRecording);
    void setSelected(bool selected);
    void setIsFullRes(bool isFullRes);

Q_SIGNALS:
    void nameChanged(QString name);
    void connectedSourceChanged(QString connectedSource);
    void selectedIndChanged(int selectedInd);
    void enteredSourceChanged(QString enteredSource);
    void vuRightLevelChanged(int rightLevel);
    void vuLeftLevelChanged(int leftLevel);
    void isRecordingChanged(bool isRecording);
    void showLevelsChanged(bool showLevels);
    void isConnectedChanged(bool isConnected);
    void pictureStateChanged();
    void customLocationEnabledChanged(bool customLocationEnabled);
    void customLocationChanged(QString customLocation);
    void tallyStateChanged(int tallyState);
    void gigabytesAvailableChanged(float gigabytesAvailable);
    void viewingOnlyChanged(bool viewingOnly);
    void audioGainChanged(float audioGain);
    void recordPreviewChanged(bool recordPreview);
    void displayNameChanged(QString displayName);
    void isListeningChanged(bool isListening);
    void customLocationBChanged(QString customLocationB);
    void gigabytesBAvailableChanged(float gigabytesBAvailable);
    void locationBSelectedChanged(bool locationBSelected);
    void isWaitingChanged(bool isWaiting);
    void selectedChanged(bool selected);
    void isFullResChanged(bool isFullRes);

    void shownChanged();
    void recordingStopped(Slot::StopReason reason);
    void recordingWarning(QString message);
    void recordingWarningCleared(QString message);

private:
    void loadSettings();
    void saveSettings();
    // The two recording locations, one code for both.
    enum Side { A = 0, B = 1 };
    struct Location {
        QString custom;
        DriveMonitor* monitor = nullptr;
        float gigabytes = 0.0f;
        // A changed global folder reaches the drive monitor once nothing is written to the old one.
        QString pendingMonitor;
    };
    QString folder(Side side) const;
    void spaceUpdated(Side side, float gigabytesAvailable, float fillRate);
    void defaultLocationChanged(Side side, const QString& location);
    void replaceReceiver();
    void followReports();
    void watchPicture();
    void setIsConnected(bool isConnected);
    void publishActiveReceiver();
    void updateLocation();
    void bindTo(const QString& source);
    void armRecorder(const QString& source);
    bool recordsToB() const { return m_abRecording && m_locationBSelected; }
    // Every event of the recording goes through here; the slot carries out what the machine asks.
    void handle(RecordingStateMachine::Event event);
    void finishRecording(StopReason reason);
    void pieceStarted(int generation, const QString& path, int frameRateN, int frameRateD, QSize size,
        const QString& reason, qint64 firstFrameTime);
    void applyPendingMonitorPaths(const QString& writtenFolder);
    qint64 chopIntervalMs() const;
    template <typename T, typename Signal> void assign(T& member, const T& value, Signal changed);

    int m_index0 = 0;
    QString m_name;
    QString m_connectedSource;
    int m_selectedInd = -1;
    int m_leftLevel = 0;
    int m_rightLevel = 0;
    int m_tallyState = 0;
    bool m_isConnected = false;
    bool m_showLevels = true;
    bool m_customLocationEnabled = false;
    bool m_viewingOnly = false;
    bool m_recordPreview = false;
    bool m_isListening = false;
    bool m_isFullRes = false;
    float m_audioGain = 0.0f;
    bool m_locationBSelected = false;
    bool m_selected = false;
    QString m_enteredSource;
    QString m_displayName;

    // Main thread only. The receiver's shared ownership lets the render and audio threads keep
    // using it after a replacement; the last holder's release disposes of it.
    std::shared_ptr<NDIReceiver> m_receiver;
    std::unique_ptr<QObject> m_reports; // context of the current binding's level and tally reports
    // Written on the main thread, read by the render and audio threads: only through
    // std::atomic_store / std::atomic_load (activeReceiver()).
    std::shared_ptr<Receiver> m_activeReceiver;
    NDIRecorder* m_recorder = nullptr;
    std::array<Location, 2> m_location;
    bool m_abRecording = false;
    SplitSchedule* m_split = nullptr;
    QTimer m_pictureWatch; // while bound: format and signal, from what the render thread saw
    QString m_videoFormat;
    bool m_signalLost = false;
    QString m_currentFolder;
    std::function<qint64()> m_clock;

    RecordingStateMachine* m_machine = nullptr;
    RecordingTelemetry* m_telemetry = nullptr;
    bool m_wasRecording = false;
    bool m_wasWaiting = false;
    qint64 m_secondsLeft = -1;
};
