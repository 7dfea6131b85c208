#include "slots/slot.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "ndi/drivemonitor.h"
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "ndi/sourcesmodel.h"
#include "slots/commandresults.h"
#include "slots/slotsettingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace
{

int g_slotCounter = 0;
float g_standardGain = 0.0f;
// Set once by the start-up, read on the main thread.
QPointer<SourcesModel> g_sourcesModel;

const QString NoSource = QStringLiteral("none");

QString defaultFolder()
{
    return QStandardPaths::standardLocations(QStandardPaths::MoviesLocation).value(0);
}

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

Slot::Slot(QObject* parent)
    : QObject(parent)
    , m_clock(&steadyMs)
{
    m_index0 = ++g_slotCounter;
    m_name = QStringLiteral("Slot ") + QString::number(m_index0);
    m_connectedSource = NoSource;
    m_location[A].custom = defaultFolder();
    m_location[B].custom = m_location[A].custom;
    m_location[A].gigabytes = 100000.0f;

    m_pictureWatch.setInterval(500);
    connect(&m_pictureWatch, &QTimer::timeout, this, &Slot::watchPicture);

    m_recorder = new NDIRecorder;
    connect(m_recorder, &NDIRecorder::recordingStarted, this, &Slot::recordingStarted);
    connect(m_recorder, &NDIRecorder::recordingError, this, &Slot::recorderError);
    connect(m_recorder, &NDIRecorder::processFinished, this, &Slot::recorderFinished);
    connect(m_recorder, &NDIRecorder::processCrashed, this, &Slot::recorderCrashed);
    connect(m_recorder, &NDIRecorder::pieceStarted, this, &Slot::pieceStarted);
    connect(m_recorder, &NDIRecorder::progressed, this, &Slot::progressed);
    connect(m_recorder, &NDIRecorder::processDone, this, &Slot::processDone);
    connect(
        m_recorder, &NDIRecorder::programStopped, this, [this](int, const QString& reason) { programStopped(reason); });
    connect(m_recorder, &NDIRecorder::startUnconfirmed, this, &Slot::startUnconfirmed);
    connect(m_recorder, &NDIRecorder::stalled, this, [this] {
        m_telemetry->setState(RecordingTelemetry::State::Stalled);
        warn(QStringLiteral("Recording stalled"));
    });
    connect(m_recorder, &NDIRecorder::resumed, this, [this] {
        if (m_isRecording)
            m_telemetry->setState(RecordingTelemetry::State::Recording);
    });
    connect(m_recorder, &NDIRecorder::replacedFrozen, this, [this](int) {
        m_nextPieceReason = QStringLiteral("recovery");
        Logger::write(QStringLiteral("Slot %1 continues its recording in a new file").arg(m_index0));
    });
    m_recorder->setSourcePresent([this] {
        const auto sources = NDIFind::instance()->currentSources();
        return sources.find(m_connectedSource) != sources.end();
    });
    m_telemetry = new RecordingTelemetry(this);

    for (Location& location : m_location)
        location.monitor = new DriveMonitor(this);
    connect(m_location[A].monitor, &DriveMonitor::updated, this, &Slot::driveMonitorUpdated);
    connect(m_location[B].monitor, &DriveMonitor::updated, this, &Slot::driveMonitorBUpdated);
    m_split = new SplitSchedule(this);
    m_split->setClock([this] { return m_clock(); });
    connect(m_split, &SplitSchedule::due, this, &Slot::chopTimerTimeout);

    SettingsModel* settings = SettingsModel::instance();
    connect(settings, &SettingsModel::locationChanged, this, &Slot::setDefaultLocation);
    connect(settings, &SettingsModel::locationBChanged, this, &Slot::setDefaultLocationB);
    connect(settings, &SettingsModel::abRecordingChanged, this, &Slot::setAbRecording);
    setAbRecording(settings->abRecording());

    loadSettings();
    // Without A/B recording a slot never records to B, whatever an earlier run stored.
    if (!m_abRecording)
        m_locationBSelected = false;

    replaceReceiver();

    if (m_connectedSource != NoSource) {
        updateLocation();
        if (!m_viewingOnly)
            m_recorder->start(m_connectedSource);
        m_receiver->connectToSource(m_connectedSource);
        setIsConnected(true);
    }
}

Slot::~Slot()
{
    std::atomic_store(&m_activeReceiver, std::shared_ptr<Receiver>());
    if (m_receiver)
        disconnect(m_receiver.get(), nullptr, this, nullptr);
    m_receiver.reset();
    if (m_record && !m_record->isFinished()) {
        m_record->finish(QStringLiteral("exit"));
        m_record->write();
    }
    delete m_recorder;
    m_recorder = nullptr;
    for (Location& location : m_location) {
        delete location.monitor;
        location.monitor = nullptr;
    }
    saveSettings();
}

void Slot::setSourcesModel(SourcesModel* model)
{
    g_sourcesModel = model;
}

float Slot::standardGain()
{
    return g_standardGain;
}

std::shared_ptr<Receiver> Slot::activeReceiver() const
{
    return std::atomic_load(&m_activeReceiver);
}

void Slot::setMonotonicClock(std::function<qint64()> clock)
{
    m_clock = clock ? std::move(clock) : std::function<qint64()>(&steadyMs);
}

SlotSnapshot Slot::snapshot() const
{
    SlotSnapshot s;
    s.id = uint(m_index0);
    s.isRecording = m_isRecording;
    s.isWaiting = m_isWaiting;
    s.connectedSource = m_connectedSource;
    s.displayName = m_displayName;
    s.tallyState = m_tallyState;
    s.state = m_telemetry->state();
    s.elapsedMs = m_telemetry->elapsedMs();
    s.elapsedText = m_telemetry->elapsedText();
    s.pieceFrames = m_telemetry->pieceFrames();
    s.totalFrames = m_telemetry->totalFrames();
    s.filePath = m_telemetry->filePath();
    s.piece = m_telemetry->piece();
    s.location = m_telemetry->location();
    s.delayedCount = m_telemetry->delayedCount();
    s.bytesWritten = m_telemetry->bytesWritten();
    s.warning = m_telemetry->warning();
    s.busy = m_isRecording || m_isWaiting;
    s.signalLost = m_signalLost;
    s.currentFolder = m_currentFolder;
    if (m_isRecording || m_isWaiting || s.state == QLatin1String("failed"))
        s.stateWord = s.state == QLatin1String("idle") ? QStringLiteral("ready") : s.state;
    else if (m_isConnected)
        s.stateWord = m_signalLost ? QStringLiteral("no signal") : QStringLiteral("ready");
    return s;
}

// ---- persistence ----

void Slot::loadSettings()
{
    SlotSettingsStore::Values values { m_connectedSource, m_displayName, m_showLevels, m_locationBSelected,
        m_customLocationEnabled, m_location[A].custom, m_location[B].custom, m_viewingOnly, m_audioGain,
        m_recordPreview, m_isFullRes };
    values = SlotSettingsStore::load(m_index0, values);
    m_connectedSource = values.source.isEmpty() ? NoSource : values.source;
    m_displayName = values.displayName;
    m_showLevels = values.showLevels;
    m_locationBSelected = values.locationBSelected;
    m_customLocationEnabled = values.customLocationEnabled;
    m_location[A].custom = values.customLocation;
    m_location[B].custom = values.customLocationB;
    m_viewingOnly = values.viewingOnly;
    m_recordPreview = values.recordPreview;
    m_isFullRes = values.isFullRes;
    setAudioGain(values.audioGain);
    m_recorder->setRecordPreview(m_recordPreview);
}

void Slot::saveSettings()
{
    SlotSettingsStore::save(m_index0,
        { m_connectedSource, m_displayName, m_showLevels, m_locationBSelected, m_customLocationEnabled,
            m_location[A].custom, m_location[B].custom, m_viewingOnly, m_audioGain, m_recordPreview, m_isFullRes });
}

// ---- receiver ----

void Slot::replaceReceiver()
{
    if (m_receiver) {
        // Nothing the old receiver still reports may reach this slot.
        disconnect(m_receiver.get(), nullptr, this, nullptr);
        m_receiver.reset();
    }
    m_receiver = NDIReceiver::create(!m_isFullRes, true);
    connect(m_receiver.get(), &NDIReceiver::connected, this, &Slot::setConnectedSource);
    followReports();
    publishActiveReceiver();
}

void Slot::followReports()
{
    // Levels and tally come from other threads, queued. A report queued for an earlier binding
    // (sent just before its receiver stopped) dies with that binding's context, unseen.
    m_reports = std::make_unique<QObject>();
    connect(
        m_receiver.get(), &Receiver::vuUpdated, m_reports.get(),
        [this](int left, int right) { vuUpdated(left, right); }, Qt::QueuedConnection);
    connect(
        m_receiver.get(), &Receiver::tallyUpdated, m_reports.get(), [this](int tally) { setTallyState(tally); },
        Qt::QueuedConnection);
}

void Slot::publishActiveReceiver()
{
    std::shared_ptr<Receiver> active;
    if (m_isConnected)
        active = m_receiver;
    std::atomic_store(&m_activeReceiver, std::move(active));
}

// ---- folders ----

QString Slot::folder(Side side) const
{
    if (m_customLocationEnabled)
        return m_location[side].custom;
    SettingsModel* settings = SettingsModel::instance();
    return side == A ? settings->location() : settings->locationB();
}

QStringList Slot::watchedFolders() const
{
    return { m_location[A].monitor->folder(), m_location[B].monitor->folder() };
}

QStringList Slot::recordingFolders() const
{
    return { folder(A), folder(B) };
}

void Slot::updateLocation()
{
    m_currentFolder = folder(recordsToB() ? B : A);
    m_recorder->setFolder(m_currentFolder);
    for (Side side : { A, B })
        spaceUpdated(side, m_location[side].monitor->setPath(folder(side)), 1.0f);
}

// ---- binding ----

void Slot::armRecorder(const QString& source)
{
    m_recorder->setRecordPreview(m_recordPreview);
    m_recorder->start(source);
}

void Slot::bindTo(const QString& source)
{
    setIsConnected(true);
    followReports();
    setTallyState(0);
    m_receiver->connectToSource(source);
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
        if (m_isConnected && !m_isRecording && !m_isWaiting && !m_viewingOnly)
            armRecorder(m_connectedSource);
        return;
    }
    const QString source = picked ? g_sourcesModel->sourceAt(m_selectedInd) : m_enteredSource;
    if (!picked && m_enteredSource == m_connectedSource)
        return;
    updateLocation();
    if (!m_isRecording && !m_isWaiting)
        bindTo(source);
}

QString Slot::connectSource(QString source)
{
    updateLocation();
    if (m_isRecording || m_isWaiting)
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
    if (m_isRecording || m_isWaiting)
        return CommandResult::recordingInProgress;
    m_receiver->disconnectFromSource();
    followReports();
    m_recorder->stop();
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

// ---- recording rules ----

qint64 Slot::chopIntervalMs() const
{
    SettingsModel* settings = SettingsModel::instance();
    return settings->chopEnabled() ? qint64(settings->chopMinutes()) * 60000 : 0;
}

void Slot::beginRecording()
{
    // A process that has died (crash, failed start) cannot confirm a start: arm a fresh one, or the
    // slot would wait for ever.
    QProcess* process = m_recorder->currentProcess();
    if (!process || process->state() == QProcess::NotRunning)
        armRecorder(m_connectedSource);
    if (!m_isWaiting && !m_isRecording) {
        m_telemetry->begin();
        m_telemetry->setState(RecordingTelemetry::State::Waiting);
    }
    setIsWaiting(true);
    m_recorder->setRecordLevel(g_standardGain + m_audioGain);
    m_recorder->startRecording();
}

void Slot::endRecordingState(const QString& stopReason)
{
    m_split->stop();
    setIsRecording(false);
    setIsWaiting(false);
    if (m_record && !m_record->isFinished()) {
        m_record->finish(stopReason);
        m_record->write();
        // Its last piece's final count comes when the process has finished.
        m_finishing.append(m_record);
        while (m_finishing.size() > 4)
            m_finishing.removeFirst();
    }
    m_record.reset();
    m_nextPieceReason.clear();
    if (m_telemetry->stateValue() != RecordingTelemetry::State::Failed)
        m_telemetry->setState(RecordingTelemetry::State::Idle);
    applyPendingMonitorPaths(QString());
}

const ContinuityRecord* Slot::continuityRecord() const
{
    if (m_record)
        return m_record.get();
    return m_finishing.isEmpty() ? nullptr : m_finishing.last().get();
}

QString Slot::stopReasonText(StopReason reason)
{
    switch (reason) {
    case OutOfSpace: return QStringLiteral("out of space");
    case RecorderError: return QStringLiteral("error");
    case User: break;
    }
    return QStringLiteral("user");
}

void Slot::warn(const QString& message)
{
    m_telemetry->setWarning(message);
    emit recordingWarning(message);
}

void Slot::pieceStarted(
    int generation, const QString& path, int frameRateN, int frameRateD, QSize size, const QString& reason)
{
    if (!m_isRecording)
        return;
    if (generation != m_progressGeneration) {
        // A replacement process counts its frames and time from zero.
        m_recordedMsBefore += m_progressMs;
        m_framesBefore += m_progressFrames;
        m_progressGeneration = generation;
        m_progressMs = 0;
        m_progressFrames = 0;
    }
    const bool first = !m_record;
    if (first)
        m_record = std::make_shared<ContinuityRecord>(m_connectedSource, m_index0);
    ContinuityRecord::Piece piece;
    piece.path = path;
    piece.start = QDateTime::currentDateTime();
    piece.startMs = m_clock();
    piece.generation = generation;
    piece.processFramesAtStart = m_progressFrames;
    piece.frameRateN = frameRateN;
    piece.frameRateD = std::max(1, frameRateD);
    piece.size = size;
    piece.location = QFileInfo(path).absolutePath() == QDir(folder(B)).absolutePath()
            && QDir(folder(B)).absolutePath() != QDir(folder(A)).absolutePath()
        ? QStringLiteral("B")
        : QStringLiteral("A");
    piece.reason = first ? QStringLiteral("start") : !reason.isEmpty() ? reason : m_nextPieceReason;
    if (piece.reason.isEmpty())
        piece.reason = QStringLiteral("split");
    if (piece.reason == QLatin1String("format"))
        Logger::write(QStringLiteral("Slot %1: the source changed its format; recording goes on in %2")
                          .arg(m_index0)
                          .arg(QDir::toNativeSeparators(path)));
    m_nextPieceReason.clear();
    m_record->addPiece(piece);
    m_record->write();
    m_telemetry->setState(RecordingTelemetry::State::Recording);
    m_telemetry->setPiece(int(m_record->pieces().size()), path, piece.location);
    applyPendingMonitorPaths(QFileInfo(path).absolutePath());
}

void Slot::progressed(int generation, qint64 frames, qint64 timecode)
{
    if (!m_isRecording || generation != m_progressGeneration)
        return;
    m_progressFrames = frames;
    m_progressMs = timecode / 10000;
    qint64 pieceFrames = frames;
    if (m_record) {
        m_record->setProcessFrames(generation, frames);
        pieceFrames = m_record->pieces().last().frames;
    }
    m_telemetry->setProgress(m_recordedMsBefore + m_progressMs, pieceFrames, m_framesBefore + frames);
}

void Slot::processDone(int generation, qint64 frames)
{
    for (const auto& record : std::as_const(m_finishing)) {
        if (record->hasGeneration(generation) && record->setProcessFrames(generation, frames))
            record->write();
    }
    if (m_record && m_record->hasGeneration(generation) && m_record->setProcessFrames(generation, frames))
        m_record->write();
}

void Slot::programStopped(const QString& reason)
{
    if (!m_isRecording && !m_isWaiting)
        return;
    warn(QStringLiteral("Recording stopped: ") + reason);
    m_telemetry->setState(RecordingTelemetry::State::Failed);
    stopRecording(RecorderError);
}

void Slot::startUnconfirmed()
{
    if (!m_isWaiting)
        return;
    const QString why = m_telemetry->warning();
    if (!why.isEmpty() && why != QLatin1String("Recording can't keep up")) {
        // The program gave up (no folder, no space): waiting longer gives nothing.
        warn(QStringLiteral("Recording did not start: ") + why);
        m_telemetry->setState(RecordingTelemetry::State::Failed);
        stopRecording(RecorderError);
        return;
    }
    warn(QStringLiteral("Recording has not started yet: no picture and sound from the source"));
}

void Slot::applyPendingMonitorPaths(const QString& writtenFolder)
{
    const bool idle = !m_isRecording && !m_isWaiting;
    for (Location& location : m_location) {
        if (!location.pendingMonitor.isEmpty()
            && (idle || QDir(writtenFolder).absolutePath() == QDir(location.pendingMonitor).absolutePath())) {
            location.monitor->setPath(location.pendingMonitor);
            location.pendingMonitor.clear();
        }
    }
}

QString Slot::startRecording()
{
    // An empty folder is the working directory, as for the recording program.
    const QString refusal
        = RecordingRules::startRefusal(m_isConnected, m_isRecording, m_viewingOnly, QDir(m_currentFolder).exists());
    if (refusal == CommandResult::folderMissing)
        warn(QStringLiteral("Recording folder does not exist: ") + QDir::toNativeSeparators(m_currentFolder));
    if (!refusal.isEmpty())
        return refusal;
    beginRecording();
    return CommandResult::success;
}

void Slot::recordClicked()
{
    if (!m_isRecording && !m_isWaiting) {
        // The grid offers the button only for bound, recordable slots; anything else would arm a
        // process for no source.
        if (m_isConnected && !m_viewingOnly)
            startRecording();
        return;
    }
    m_recorder->restart();
    m_telemetry->setState(RecordingTelemetry::State::Idle);
    endRecordingState(stopReasonText(User));
}

QString Slot::stopRecording(Slot::StopReason reason)
{
    if (!m_isRecording && !m_isWaiting)
        return CommandResult::slotNotRecording;
    m_recorder->restart();
    if (reason == User)
        m_telemetry->setState(RecordingTelemetry::State::Idle);
    else
        m_telemetry->setState(RecordingTelemetry::State::Failed);
    endRecordingState(stopReasonText(reason));
    emit recordingStopped(reason);
    if (reason == OutOfSpace) {
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Out of space").arg(m_index0));
        warn(QStringLiteral("Recording stopped: out of space in ") + QDir::toNativeSeparators(m_currentFolder));
    } else if (reason == RecorderError) {
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Error").arg(m_index0));
    }
    return CommandResult::success;
}

void Slot::recordingStarted()
{
    // A repeated confirmation must not restart the split schedule of a running recording.
    if (m_isRecording)
        return;
    if (!m_isWaiting)
        m_telemetry->begin();
    setIsRecording(true);
    setIsWaiting(false);
    m_telemetry->setState(RecordingTelemetry::State::Recording);
    m_recordedMsBefore = 0;
    m_framesBefore = 0;
    m_progressGeneration = m_recorder->generation();
    m_progressMs = 0;
    m_progressFrames = 0;
    m_recordingStartTime = QDateTime::currentDateTime();
    m_split->start(chopIntervalMs());
}

void Slot::recorderError(NDIRecorder::RecordingError error, QString message)
{
    if (error == NDIRecorder::Delayed) {
        message = QStringLiteral("Recording can't keep up");
        m_telemetry->countDelay();
    }
    warn(message);
}

void Slot::recorderFinished()
{
    if (m_isRecording) {
        warn(QStringLiteral("The recording program ended during the recording"));
        stopRecording(RecorderError);
    } else if (m_isWaiting) {
        m_telemetry->setState(RecordingTelemetry::State::Failed);
        endRecordingState(stopReasonText(RecorderError));
        warn(QStringLiteral("The recording program ended before the recording started"));
    }
}

void Slot::recorderCrashed()
{
    if (m_isRecording) {
        warn(QStringLiteral("The recording program stopped during the recording"));
        stopRecording(RecorderError);
    } else if (m_isWaiting) {
        m_telemetry->setState(RecordingTelemetry::State::Failed);
        endRecordingState(stopReasonText(RecorderError));
        warn(QStringLiteral("The recording program stopped before the recording started"));
    }
}

void Slot::chopTimerTimeout()
{
    if (!m_isRecording)
        return;
    m_nextPieceReason = QStringLiteral("split");
    m_recorder->chop(m_currentFolder);
    m_split->advance(chopIntervalMs());
    Logger::write(QStringLiteral("Slot %1 is splitting recording").arg(m_index0));
}

void Slot::spaceUpdated(Side side, float gigabytesAvailable, float fillRate)
{
    Location& location = m_location[side];
    if (qFuzzyCompare(gigabytesAvailable, location.gigabytes))
        return;
    location.gigabytes = gigabytesAvailable;
    if (m_isRecording) {
        switch (RecordingRules::spaceAction(side == B, m_abRecording, m_locationBSelected, m_location[A].gigabytes,
            m_location[B].gigabytes, fillRate)) {
        case RecordingRules::SpaceAction::SwitchToOther: setLocationBSelected(side == A); break;
        case RecordingRules::SpaceAction::Stop: stopRecording(OutOfSpace); break;
        case RecordingRules::SpaceAction::None: break;
        }
    }
    if (side == A)
        emit gigabytesAvailableChanged(location.gigabytes);
    else
        emit gigabytesBAvailableChanged(location.gigabytes);
}

void Slot::driveMonitorUpdated(float gigabytesAvailable, float fillRate)
{
    spaceUpdated(A, gigabytesAvailable, fillRate);
}

void Slot::driveMonitorBUpdated(float gigabytesAvailable, float fillRate)
{
    spaceUpdated(B, gigabytesAvailable, fillRate);
}

void Slot::setGigabytesAvailable(float gigabytesAvailable, float fillRate)
{
    spaceUpdated(A, gigabytesAvailable, fillRate);
}

void Slot::setGigabytesBAvailable(float gigabytesBAvailable, float fillRate)
{
    spaceUpdated(B, gigabytesBAvailable, fillRate);
}

void Slot::setLocationBSelected(bool locationBSelected)
{
    if (locationBSelected == m_locationBSelected)
        return;
    m_locationBSelected = locationBSelected;
    m_currentFolder = folder(recordsToB() ? B : A);
    if (m_isRecording)
        m_nextPieceReason = QStringLiteral("location");
    // A running recording continues in the other folder; an armed process is replaced. An unbound
    // or viewing-only slot has no process, and must not get one for no source.
    if (m_isRecording || m_isWaiting || (m_isConnected && !m_viewingOnly))
        m_recorder->chop(m_currentFolder);
    else
        m_recorder->setFolder(m_currentFolder);
    emit locationBSelectedChanged(m_locationBSelected);
}

void Slot::setAbRecording(bool abRecording)
{
    if (m_abRecording && !abRecording)
        setLocationBSelected(false);
    m_abRecording = abRecording;
}

void Slot::setDefaultLocation(QString location)
{
    defaultLocationChanged(A, location);
}

void Slot::setDefaultLocationB(QString location)
{
    defaultLocationChanged(B, location);
}

void Slot::defaultLocationChanged(Side side, const QString& location)
{
    if (!m_isConnected || m_customLocationEnabled)
        return;
    const bool written = recordsToB() == (side == B);
    // The drive being written stays watched until the next piece lies on the new one.
    if ((m_isRecording || m_isWaiting) && written)
        m_location[side].pendingMonitor = location;
    else
        m_location[side].monitor->setPath(location);
    if (!written)
        return;
    m_currentFolder = location;
    m_recorder->setFolder(location);
    // A waiting slot keeps its process: replacing it would lose the start request.
    if (!m_isRecording && !m_isWaiting && !m_viewingOnly)
        m_recorder->start(m_connectedSource);
}

// ---- setters ----

void Slot::setName(QString name)
{
    m_name = name;
    emit nameChanged(m_name);
}

void Slot::setConnectedSource(QString connectedSource)
{
    if (connectedSource == m_connectedSource)
        return;
    m_connectedSource = connectedSource;
    emit connectedSourceChanged(m_connectedSource);
}

void Slot::setSelectedInd(int selectedInd)
{
    if (selectedInd == m_selectedInd)
        return;
    m_selectedInd = selectedInd;
    emit selectedIndChanged(m_selectedInd);
}

void Slot::enteredSource(QString enteredSource)
{
    if (enteredSource == m_enteredSource)
        return;
    m_enteredSource = enteredSource;
    emit enteredSourceChanged(m_enteredSource);
}

void Slot::setIsRecording(bool isRecording)
{
    if (isRecording == m_isRecording)
        return;
    m_isRecording = isRecording;
    if (!m_isRecording)
        m_split->stop();
    emit isRecordingChanged(m_isRecording);
}

void Slot::setShowLevels(bool showLevels)
{
    if (showLevels == m_showLevels)
        return;
    m_showLevels = showLevels;
    emit showLevelsChanged(m_showLevels);
}

void Slot::setIsConnected(bool isConnected)
{
    if (isConnected == m_isConnected)
        return;
    m_isConnected = isConnected;
    publishActiveReceiver();
    if (m_isConnected)
        m_pictureWatch.start();
    else
        m_pictureWatch.stop();
    watchPicture();
    emit isConnectedChanged(m_isConnected);
}

QString Slot::formatText(int width, int height, double frameRate)
{
    if (width < 1 || height < 1)
        return {};
    QString text = QString::number(width) + QLatin1Char('x') + QString::number(height);
    if (frameRate > 0.0) {
        // Whole rates as they are, the NTSC family with two decimals: 25p, 29.97p, 59.94p.
        const double whole = std::round(frameRate);
        text += QLatin1Char(' ')
            + (std::abs(frameRate - whole) < 0.005 ? QString::number(int(whole)) : QString::number(frameRate, 'f', 2))
            + QLatin1Char('p');
    }
    return text;
}

void Slot::watchPicture()
{
    QString format;
    bool lost = false;
    if (m_isConnected && m_receiver) {
        const PictureFormat picture = m_receiver->pictureFormat();
        format = formatText(picture.width, picture.height, picture.frameRate);
        // Nothing new for a while, or nothing at all a while after binding.
        lost = picture.msSinceNewPicture >= 0 ? picture.msSinceNewPicture > signalLostMs
                                              : picture.msSinceBound > signalLostMs;
        if (lost)
            format.clear();
    }
    if (format == m_videoFormat && lost == m_signalLost)
        return;
    m_videoFormat = format;
    m_signalLost = lost;
    emit pictureStateChanged();
}

void Slot::setCustomLocationEnabled(bool customLocationEnabled)
{
    if (customLocationEnabled == m_customLocationEnabled)
        return;
    m_customLocationEnabled = customLocationEnabled;
    emit customLocationEnabledChanged(m_customLocationEnabled);
}

void Slot::setCustomLocation(QString customLocation)
{
    if (customLocation == m_location[A].custom)
        return;
    m_location[A].custom = customLocation;
    emit customLocationChanged(customLocation);
}

void Slot::setTallyState(int tallyState)
{
    if (tallyState == m_tallyState)
        return;
    m_tallyState = tallyState;
    emit tallyStateChanged(m_tallyState);
}

void Slot::setViewingOnly(bool viewingOnly)
{
    if (viewingOnly == m_viewingOnly)
        return;
    m_viewingOnly = viewingOnly;
    emit viewingOnlyChanged(m_viewingOnly);
    if (m_viewingOnly) {
        m_recorder->stop();
        // The process that was recording has been told to quit: the recording is over.
        endRecordingState(stopReasonText(User));
    }
}

void Slot::setAudioGain(float audioGain)
{
    if (!std::isfinite(audioGain) || qFuzzyCompare(audioGain, m_audioGain))
        return;
    m_audioGain = audioGain;
    emit audioGainChanged(m_audioGain);
    m_recorder->setRecordLevel(g_standardGain + m_audioGain);
}

void Slot::setRecordPreview(bool recordPreview)
{
    if (recordPreview == m_recordPreview)
        return;
    m_recordPreview = recordPreview;
    emit recordPreviewChanged(m_recordPreview);
}

void Slot::setStandardGain(float gain)
{
    g_standardGain = gain;
}

QString Slot::setDisplayName(QString displayName)
{
    if (displayName != m_displayName) {
        m_displayName = displayName;
        emit displayNameChanged(m_displayName);
    }
    return CommandResult::success;
}

void Slot::setIsListening(bool isListening)
{
    if (isListening == m_isListening)
        return;
    m_isListening = isListening;
    emit isListeningChanged(m_isListening);
}

void Slot::setCustomLocationB(QString customLocationB)
{
    if (customLocationB == m_location[B].custom)
        return;
    m_location[B].custom = customLocationB;
    emit customLocationBChanged(customLocationB);
}

void Slot::setIsWaiting(bool isWaiting)
{
    if (isWaiting == m_isWaiting)
        return;
    m_isWaiting = isWaiting;
    emit isWaitingChanged(m_isWaiting);
}

void Slot::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    emit selectedChanged(m_selected);
}

void Slot::setIsFullRes(bool isFullRes)
{
    if (isFullRes == m_isFullRes)
        return;
    m_isFullRes = isFullRes;
    replaceReceiver();
    if (m_isConnected)
        m_receiver->connectToSource(m_connectedSource);
    emit isFullResChanged(m_isFullRes);
}
