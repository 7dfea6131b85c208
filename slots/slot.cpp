#include "slots/slot.h"

#include "app/settingsmodel.h"
#include "ndi/ndifind.h"
#include "ndi/sourcesmodel.h"
#include "slots/commandresults.h"
#include "slots/slotsettingsstore.h"

#include <QPointer>

#include <cmath>

namespace
{

int g_slotCounter = 0;
float g_standardGain = 0.0f;
// Set once by the start-up, read on the main thread.
QPointer<SourcesModel> g_sourcesModel;

const QString NoSource = QStringLiteral("none");

using Event = RecordingStateMachine::Event;

} // namespace

Slot::Slot(QObject* parent)
    : QObject(parent)
    , m_index0(++g_slotCounter)
    , m_name(QStringLiteral("Slot ") + QString::number(m_index0))
    , m_connectedSource(NoSource)
{
    m_machine = new RecordingStateMachine(m_index0, this);
    m_telemetry = new RecordingTelemetry(m_machine, this);
    m_locations = new SlotLocations(*m_machine, this);
    m_recording = new SlotRecording(m_index0, *m_machine, *m_locations, this);
    m_picture = new SlotPicture([this] { return m_receiver.active(); }, this);
    m_texts = new SlotTexts(*this);
    connect(m_machine, &RecordingStateMachine::warningRaised, this, &Slot::recordingWarning);
    connect(m_machine, &RecordingStateMachine::warningCleared, this, &Slot::recordingWarningCleared);
    // Every surface reads the slot's facts when they change, at most twice a second for the servers.
    connect(this, &Slot::shownChanged, m_telemetry, &RecordingTelemetry::refresh);
    for (const auto changed : { &Slot::customLocationChanged, &Slot::customLocationBChanged })
        connect(this, changed, this, &Slot::shownChanged);
    connect(this, &Slot::customLocationEnabledChanged, this, &Slot::shownChanged);

    connect(m_recording, &SlotRecording::recordingChanged, this, &Slot::isRecordingChanged);
    connect(m_recording, &SlotRecording::waitingChanged, this, &Slot::isWaitingChanged);
    connect(m_recording, &SlotRecording::shownChanged, this, &Slot::shownChanged);
    connect(m_recording, &SlotRecording::stopped, this,
        [this](RecordingStateMachine::StopReason reason) { emit recordingStopped(StopReason(reason)); });
    recorder()->setSourcePresent([this] {
        const auto sources = NDIFind::instance()->currentSources();
        return sources.find(m_connectedSource) != sources.end();
    });
    connect(m_locations, &SlotLocations::switchWanted, this, &Slot::setLocationBSelected);
    connect(m_locations, &SlotLocations::silentDriveChanged, this, [this](const QString& path) {
        m_recording->handle({ path.isEmpty() ? Event::DriveAnswers : Event::DriveSilent, path });
    });
    connect(m_recording, &SlotRecording::switchWanted, this, &Slot::setLocationBSelected);
    connect(m_locations, &SlotLocations::spaceChanged, this, [this](SlotLocations::Side side, float gigabytes) {
        if (side == A)
            emit gigabytesAvailableChanged(gigabytes);
        else
            emit gigabytesBAvailableChanged(gigabytes);
        emit shownChanged();
    });
    // The source's coming and going are events of the recording, before the slot shows them.
    connect(m_picture, &SlotPicture::looked, this, [this](bool lost) {
        m_recording->handle({ lost == signalLost() ? Event::Tick : lost ? Event::SourceGone : Event::SourceBack });
    });
    connect(m_picture, &SlotPicture::changed, this, &Slot::pictureStateChanged);
    connect(m_picture, &SlotPicture::changed, this, &Slot::shownChanged);

    SettingsModel* settings = SettingsModel::instance();
    connect(settings, &SettingsModel::locationChanged, this, &Slot::setDefaultLocation);
    connect(settings, &SettingsModel::locationBChanged, this, &Slot::setDefaultLocationB);
    connect(settings, &SettingsModel::abRecordingChanged, this, &Slot::setAbRecording);
    setAbRecording(settings->abRecording());

    connect(&m_receiver, &SlotReceiver::connected, this, &Slot::setConnectedSource);
    connect(&m_receiver, &SlotReceiver::tally, this, &Slot::setTallyState);

    loadSettings();
    m_receiver.replace(m_isFullRes);

    if (m_connectedSource != NoSource) {
        m_machine->setSource(m_connectedSource);
        updateLocation();
        if (!m_viewingOnly)
            recorder()->start(m_connectedSource);
        m_receiver.connectToSource(m_connectedSource);
        setIsConnected(true);
    }
}

Slot::~Slot()
{
    m_receiver.release();
    delete m_recording;
    m_recording = nullptr;
    SlotSettingsStore::save(m_index0, settingsValues());
}

void Slot::setSourcesModel(SourcesModel* model)
{
    g_sourcesModel = model;
}

float Slot::standardGain()
{
    return g_standardGain;
}

QString Slot::stateWord() const
{
    return RecordingStateMachine::stateWord(m_machine->state(), m_isConnected, signalLost());
}

QString Slot::stateLabel() const
{
    return RecordingStateMachine::stateLabel(stateWord(), m_machine->droppingPercent());
}

// ---- persistence ----

SlotSettingsStore::Values Slot::settingsValues() const
{
    SlotSettingsStore::Values values { m_connectedSource, m_displayName, m_showLevels, false, false, {}, {},
        m_viewingOnly, m_audioGain, m_recordPreview, m_isFullRes };
    m_locations->store(values);
    return values;
}

void Slot::loadSettings()
{
    const SlotSettingsStore::Values values = SlotSettingsStore::load(m_index0, settingsValues());
    m_connectedSource = values.source.isEmpty() ? NoSource : values.source;
    m_displayName = values.displayName;
    m_showLevels = values.showLevels;
    m_locations->restore(values);
    m_viewingOnly = values.viewingOnly;
    m_recordPreview = values.recordPreview;
    m_isFullRes = values.isFullRes;
    setAudioGain(values.audioGain);
    recorder()->setRecordPreview(m_recordPreview);
}

// ---- folders ----

void Slot::updateLocation()
{
    recorder()->setFolder(m_locations->refreshCurrentFolder());
    m_locations->measure();
}

// ---- binding ----

void Slot::armRecorder(const QString& source)
{
    recorder()->setRecordPreview(m_recordPreview);
    recorder()->start(source);
}

void Slot::bindTo(const QString& source)
{
    m_machine->clearFailure();
    m_machine->setSource(source);
    setIsConnected(true);
    m_receiver.dropQueuedReports();
    setTallyState(0);
    m_receiver.connectToSource(source);
    if (!m_viewingOnly)
        armRecorder(source);
}

void Slot::acceptClicked()
{
    const bool picked = m_selectedInd >= 0 && m_enteredSource.isEmpty();
    // A stale index (the list changed, or a bad value from outside) must not be read.
    if (picked && (!g_sourcesModel || m_selectedInd >= g_sourcesModel->rowCount()))
        return;

    updateLocation();
    if (m_selectedInd < 0 && m_enteredSource.isEmpty()) {
        // Re-arming a waiting slot would lose its start request.
        if (m_isConnected && !busy() && !m_viewingOnly)
            armRecorder(m_connectedSource);
        return;
    }
    const QString source = picked ? g_sourcesModel->sourceAt(m_selectedInd) : m_enteredSource;
    if (!picked && m_enteredSource == m_connectedSource)
        return;
    updateLocation();
    if (!busy())
        bindTo(source);
}

QString Slot::connectSource(QString source)
{
    updateLocation();
    if (busy())
        return CommandResult::recordingInProgress;
    bindTo(source);
    return CommandResult::success;
}

void Slot::disconnectClicked()
{
    disconnectSource();
}

QString Slot::disconnectSource()
{
    if (busy())
        return CommandResult::recordingInProgress;
    m_machine->clearFailure();
    m_receiver.disconnectFromSource();
    m_receiver.dropQueuedReports();
    recorder()->stop();
    setIsConnected(false);
    setConnectedSource(NoSource);
    setTallyState(0);
    vuUpdated(-100, -100);
    return CommandResult::success;
}

// ---- levels ----

void Slot::vuUpdated(int leftLevel, int rightLevel)
{
    m_leftLevel = RecordingRules::meterLevel(leftLevel, g_standardGain, m_audioGain);
    m_rightLevel = RecordingRules::meterLevel(rightLevel, g_standardGain, m_audioGain);
    emit vuLeftLevelChanged(m_leftLevel);
    emit vuRightLevelChanged(m_rightLevel);
}

// ---- recording ----

QString Slot::startRecording()
{
    const QString refusal = m_recording->refusal(m_isConnected, m_viewingOnly);
    if (!refusal.isEmpty())
        return refusal;
    // Asked again while waiting: the start request is on its way already.
    if (isWaiting())
        return CommandResult::success;
    // A process that has died (crash, failed start) cannot confirm a start: arm a fresh one, or the
    // slot would wait for ever.
    if (!m_recording->processAlive())
        armRecorder(m_connectedSource);
    m_recording->start(g_standardGain + m_audioGain);
    return CommandResult::success;
}

void Slot::recordClicked()
{
    // The grid offers the button only for bound, recordable slots; anything else would arm a
    // process for no source.
    if (busy())
        stopRecording(User);
    else if (m_isConnected && !m_viewingOnly)
        startRecording();
}

QString Slot::stopRecording(Slot::StopReason reason)
{
    if (!busy())
        return CommandResult::slotNotRecording;
    m_recording->finish(RecordingStateMachine::StopReason(reason));
    return CommandResult::success;
}

void Slot::setLocationBSelected(bool locationBSelected)
{
    if (!m_locations->selectB(locationBSelected))
        return;
    m_recording->switchLocation(m_isConnected && !m_viewingOnly);
    emit locationBSelectedChanged(locationBSelected);
    emit shownChanged();
}

void Slot::setAbRecording(bool abRecording)
{
    if (m_locations->abRecording() && !abRecording)
        setLocationBSelected(false);
    m_locations->setAbRecording(abRecording);
}

void Slot::setDefaultLocation(QString location)
{
    defaultLocationChanged(A, location);
}

void Slot::setDefaultLocationB(QString location)
{
    defaultLocationChanged(B, location);
}

void Slot::defaultLocationChanged(SlotLocations::Side side, const QString& location)
{
    emit shownChanged();
    if (!m_isConnected || !m_locations->defaultChanged(side, location))
        return;
    recorder()->setFolder(location);
    emit shownChanged();
    // A waiting slot keeps its process: replacing it would lose the start request.
    if (!busy() && !m_viewingOnly)
        recorder()->start(m_connectedSource);
}

// ---- setters ----

template <typename T, typename Signal> void Slot::assign(T& member, const T& value, Signal changed)
{
    if (member == value)
        return;
    member = value;
    emit(this->*changed)(member);
}

void Slot::setName(QString name)
{
    m_name = name;
    emit nameChanged(m_name);
}

void Slot::setConnectedSource(QString connectedSource)
{
    assign(m_connectedSource, connectedSource, &Slot::connectedSourceChanged);
}

void Slot::setSelectedInd(int selectedInd)
{
    assign(m_selectedInd, selectedInd, &Slot::selectedIndChanged);
}

void Slot::enteredSource(QString enteredSource)
{
    assign(m_enteredSource, enteredSource, &Slot::enteredSourceChanged);
}

void Slot::setShowLevels(bool showLevels)
{
    assign(m_showLevels, showLevels, &Slot::showLevelsChanged);
}

void Slot::setIsConnected(bool isConnected)
{
    if (isConnected == m_isConnected)
        return;
    m_isConnected = isConnected;
    m_receiver.publish(m_isConnected);
    m_picture->setWatching(m_isConnected);
    emit isConnectedChanged(m_isConnected);
    emit shownChanged();
}

void Slot::setCustomLocationEnabled(bool customLocationEnabled)
{
    if (m_locations->setCustomEnabled(customLocationEnabled))
        emit customLocationEnabledChanged(customLocationEnabled);
}

void Slot::setCustomLocation(QString customLocation)
{
    if (m_locations->setCustom(A, customLocation))
        emit customLocationChanged(customLocation);
}

void Slot::setTallyState(int tallyState)
{
    assign(m_tallyState, tallyState, &Slot::tallyStateChanged);
}

void Slot::setViewingOnly(bool viewingOnly)
{
    if (viewingOnly == m_viewingOnly)
        return;
    m_viewingOnly = viewingOnly;
    emit viewingOnlyChanged(m_viewingOnly);
    if (m_viewingOnly) {
        // The process that was recording is told to quit: the recording is over.
        m_recording->finish(RecordingStateMachine::StopReason::User);
        recorder()->stop();
    }
}

void Slot::setAudioGain(float audioGain)
{
    if (!std::isfinite(audioGain) || qFuzzyCompare(audioGain, m_audioGain))
        return;
    m_audioGain = audioGain;
    emit audioGainChanged(m_audioGain);
    recorder()->setRecordLevel(g_standardGain + m_audioGain);
}

void Slot::setRecordPreview(bool recordPreview)
{
    assign(m_recordPreview, recordPreview, &Slot::recordPreviewChanged);
}

void Slot::setStandardGain(float gain)
{
    g_standardGain = gain;
}

QString Slot::setDisplayName(QString displayName)
{
    assign(m_displayName, displayName, &Slot::displayNameChanged);
    return CommandResult::success;
}

void Slot::setIsListening(bool isListening)
{
    assign(m_isListening, isListening, &Slot::isListeningChanged);
}

void Slot::setCustomLocationB(QString customLocationB)
{
    if (m_locations->setCustom(B, customLocationB))
        emit customLocationBChanged(customLocationB);
}

void Slot::setSelected(bool selected)
{
    assign(m_selected, selected, &Slot::selectedChanged);
}

void Slot::setIsFullRes(bool isFullRes)
{
    if (isFullRes == m_isFullRes)
        return;
    m_isFullRes = isFullRes;
    m_receiver.replace(m_isFullRes);
    if (m_isConnected)
        m_receiver.connectToSource(m_connectedSource);
    emit isFullResChanged(m_isFullRes);
}
