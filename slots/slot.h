#pragma once

#include "ndi/receiver.h"
#include "recording/ndirecorder.h"
#include "slots/continuityrecord.h"
#include "slots/recordingrules.h"
#include "slots/recordingstatemachine.h"
#include "slots/recordingtelemetry.h"
#include "slots/slotlocations.h"
#include "slots/slotpicture.h"
#include "slots/slotreceiver.h"
#include "slots/slotrecording.h"
#include "slots/slotsnapshot.h"
#include "slots/slottexts.h"
#include "slots/splitschedule.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

class SourcesModel;

// One cell of the recorder, as QML, the servers and the settings see it: binds at most one NDI
// source, holds and persists its configuration, and forwards to the parts that receive
// (SlotReceiver), record (SlotRecording), know the locations (SlotLocations) and watch the picture
// (SlotPicture). Main thread only, apart from activeReceiver().
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
    // The format, gain, drive and history texts of the cell.
    Q_PROPERTY(SlotTexts* texts READ texts CONSTANT)
    Q_PROPERTY(QUrl currentFolderUrl READ currentFolderUrl NOTIFY shownChanged)
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
    bool lowSpaceA() const { return m_locations->lowSpace(SlotLocations::A); }
    bool lowSpaceB() const { return m_locations->lowSpace(SlotLocations::B); }
    QString warning() const { return m_machine->warning(); }
    QString folderA() const { return m_locations->folder(SlotLocations::A); }
    // Free space where the slot records now.
    float freeGigabytes() const { return m_locations->freeGigabytes(); }
    QString folderB() const { return m_locations->folder(SlotLocations::B); }
    const RecordingStateMachine* machine() const { return m_machine; }
    const SlotLocations* locations() const { return m_locations; }
    bool isConnected() const { return m_isConnected; }
    bool showLevels() const { return m_showLevels; }
    bool customLocationEnabled() const { return m_locations->customEnabled(); }
    bool viewingOnly() const { return m_viewingOnly; }
    bool recordPreview() const { return m_recordPreview; }
    bool isListening() const { return m_isListening; }
    bool isFullRes() const { return m_isFullRes; }
    float gigabytesAvailable() const { return m_locations->gigabytes(SlotLocations::A); }
    float gigabytesBAvailable() const { return m_locations->gigabytes(SlotLocations::B); }
    float audioGain() const { return m_audioGain; }
    bool locationBSelected() const { return m_locations->bSelected(); }
    bool selected() const { return m_selected; }
    QString customLocation() const { return m_locations->custom(SlotLocations::A); }
    QString customLocationB() const { return m_locations->custom(SlotLocations::B); }
    QString enteredSource() const { return m_enteredSource; }
    QString displayName() const { return m_displayName; }

    // Any thread: the receiver while the slot is bound, else null. Holding the pointer keeps the
    // receiver alive; it is disposed of when the last holder lets go.
    std::shared_ptr<Receiver> activeReceiver() const { return m_receiver.active(); }

    // What every surface shows of this slot.
    SlotSnapshot snapshot() const { return SlotSnapshot::of(*this); }

    NDIRecorder* recorder() const { return m_recording->recorder(); }
    RecordingTelemetry* telemetry() const { return m_telemetry; }
    QString videoFormat() const { return m_picture->videoFormat(); }
    SlotTexts* texts() const { return m_texts; }
    bool signalLost() const { return m_picture->signalLost(); }
    // The record of the running recording, or of the last one; null before the first.
    const ContinuityRecord* continuityRecord() const { return m_machine->record(); }
    // Where this slot's recordings may lie: both locations, custom or global.
    QStringList recordingFolders() const { return m_locations->recordingFolders(); }
    QString currentFolder() const { return m_locations->currentFolder(); }
    QUrl currentFolderUrl() const { return QUrl::fromLocalFile(currentFolder()); }
    // The folders whose drives are measured for A and B.
    QStringList watchedFolders() const { return m_locations->watchedFolders(); }
    quint16 splitCounter() const { return m_recording->schedule().splits(); }
    const QTimer& splitTimer() const { return m_recording->schedule().timer(); }
    // Milliseconds after the recording's start at which the next split is due (0: none planned).
    qint64 nextSplitDue() const { return m_recording->schedule().nextDue(); }
    void setMonotonicClock(std::function<qint64()> clock) { m_recording->setMonotonicClock(std::move(clock)); }

public Q_SLOTS:
    void acceptClicked();
    void disconnectClicked();
    void recordClicked();
    QString startRecording();
    QString stopRecording(Slot::StopReason reason = User);
    void setDefaultLocation(QString location);
    void setDefaultLocationB(QString location);
    void vuUpdated(int leftLevel, int rightLevel);
    void recordingStarted() { m_recording->confirmStart(); }
    void driveMonitorUpdated(float gigabytes, float fillRate) { m_locations->spaceUpdated(A, gigabytes, fillRate); }
    void driveMonitorBUpdated(float gigabytes, float fillRate) { m_locations->spaceUpdated(B, gigabytes, fillRate); }
    QString connectSource(QString source);
    QString disconnectSource();
    void chopTimerTimeout() { m_recording->split(); }

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
    static constexpr SlotLocations::Side A = SlotLocations::A;
    static constexpr SlotLocations::Side B = SlotLocations::B;

    SlotSettingsStore::Values settingsValues() const;
    void loadSettings();
    void defaultLocationChanged(SlotLocations::Side side, const QString& location);
    void setIsConnected(bool isConnected);
    void updateLocation();
    void bindTo(const QString& source);
    void armRecorder(const QString& source);
    template <typename T, typename Signal> void assign(T& member, const T& value, Signal changed);

    const int m_index0;
    QString m_name;
    QString m_connectedSource;
    int m_selectedInd = -1;
    int m_leftLevel = 0;
    int m_rightLevel = 0;
    int m_tallyState = 0;
    bool m_isConnected = false;
    bool m_showLevels = true;
    bool m_viewingOnly = false;
    bool m_recordPreview = false;
    bool m_isListening = false;
    bool m_isFullRes = false;
    float m_audioGain = 0.0f;
    bool m_selected = false;
    QString m_enteredSource;
    QString m_displayName;

    // Set up before any other thread sees the slot, so that they may call activeReceiver().
    SlotReceiver m_receiver;

    RecordingStateMachine* m_machine = nullptr;
    RecordingTelemetry* m_telemetry = nullptr;
    SlotLocations* m_locations = nullptr;
    // Deleted by the destructor while the machine lives: it ends a running recording there.
    SlotRecording* m_recording = nullptr;
    SlotPicture* m_picture = nullptr;
    SlotTexts* m_texts = nullptr;
};
