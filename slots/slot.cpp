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
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <tuple>

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

using Event = RecordingStateMachine::Event;

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

    m_machine = new RecordingStateMachine(m_index0, this);
    m_machine->setClock([this] { return m_clock(); });
    m_telemetry = new RecordingTelemetry(m_machine, this);
    connect(m_machine, &RecordingStateMachine::warningRaised, this, &Slot::recordingWarning);
    connect(m_machine, &RecordingStateMachine::warningCleared, this, &Slot::recordingWarningCleared);
    // Every surface reads the slot's facts when they change, at most twice a second for the servers.
    connect(this, &Slot::shownChanged, m_telemetry, &RecordingTelemetry::refresh);
    for (const auto changed : { &Slot::customLocationChanged, &Slot::customLocationBChanged })
        connect(this, changed, this, &Slot::shownChanged);
    connect(this, &Slot::customLocationEnabledChanged, this, &Slot::shownChanged);

    m_pictureWatch.setInterval(500);
    connect(&m_pictureWatch, &QTimer::timeout, this, &Slot::watchPicture);

    m_recorder = new NDIRecorder;
    connect(m_recorder, &NDIRecorder::recordingStarted, this, &Slot::recordingStarted);
    connect(m_recorder, &NDIRecorder::recordingError, this, [this](NDIRecorder::RecordingError error, QString text) {
        handle({ error == NDIRecorder::Delayed ? Event::Delayed : Event::ProgramError, text });
    });
    const auto ended = [this](const QString& how) {
        handle({ Event::ProgramEnded,
            QStringLiteral("The recording program %1 %2 the recording started")
                .arg(how, isRecording() ? QStringLiteral("during") : QStringLiteral("before")) });
    };
    connect(m_recorder, &NDIRecorder::processFinished, this, [ended] { ended(QStringLiteral("ended")); });
    connect(m_recorder, &NDIRecorder::processCrashed, this, [ended] { ended(QStringLiteral("stopped")); });
    connect(m_recorder, &NDIRecorder::pieceStarted, this, &Slot::pieceStarted);
    connect(m_recorder, &NDIRecorder::progressed, this, [this](int generation, qint64 frames, qint64 timecode) {
        handle({ Event::Progress, generation, frames, timecode });
    });
    connect(m_recorder, &NDIRecorder::processDone, this, [this](int generation, qint64 frames) {
        handle({ Event::ProcessDone, generation, frames });
    });
    connect(m_recorder, &NDIRecorder::programStopped, this, [this](int, const QString& reason) {
        handle({ Event::ProgramStopped, reason });
    });
    connect(m_recorder, &NDIRecorder::startUnconfirmed, this, [this] { handle({ Event::StartUnconfirmed }); });
    connect(m_recorder, &NDIRecorder::stalled, this, [this] { handle({ Event::Stalled }); });
    connect(m_recorder, &NDIRecorder::resumed, this, [this] { handle({ Event::Resumed }); });
    connect(m_recorder, &NDIRecorder::replacedFrozen, this, [this](int) { handle({ Event::ReplacedFrozen }); });
    m_recorder->setSourcePresent([this] {
        const auto sources = NDIFind::instance()->currentSources();
        return sources.find(m_connectedSource) != sources.end();
    });

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
        m_machine->setSource(m_connectedSource);
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
    // The record says the app ended the recording; the process finishes its file on its own.
    disconnect(m_recorder, nullptr, this, nullptr);
    if (busy())
        m_machine->handle(Event::stop(RecordingStateMachine::StopReason::AppExit));
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
    s.isRecording = isRecording();
    s.isWaiting = isWaiting();
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
    s.stateWord = stateWord();
    s.stateLabel = stateLabel();
    s.busy = busy();
    s.signalLost = m_signalLost;
    s.wallMs = m_machine->wallMs();
    s.droppedFrames = m_machine->droppedFrames();
    s.droppingPercent = m_machine->droppingPercent();
    const RecordingStateMachine::Totals totals = m_machine->totals();
    s.framesWrittenTotal = totals.framesWritten;
    s.droppedFramesTotal = totals.droppedFrames;
    s.delayedTotal = totals.delayed;
    s.stallsTotal = totals.stalls;
    s.recoveriesTotal = totals.recoveries;
    const Side side = recordsToB() ? B : A;
    s.currentFolder = m_currentFolder;
    s.location = s.location.isEmpty() ? QString(side == B ? QStringLiteral("B") : QStringLiteral("A")) : s.location;
    s.drive = m_location[side].monitor->path();
    s.freeBytes = qint64(double(freeGigabytes()) * 1e9);
    s.lowSpace = RecordingRules::lowSpace(freeGigabytes());
    s.secondsLeft = double(m_secondsLeft);
    for (const RecordingStateMachine::HistoryEntry& entry : m_machine->history())
        s.history.append({ entry.time, entry.text });
    return s;
}

QString Slot::stateWord() const
{
    return RecordingStateMachine::stateWord(m_machine->state(), m_isConnected, m_signalLost);
}

QString Slot::stateLabel() const
{
    return RecordingStateMachine::stateLabel(stateWord(), m_machine->droppingPercent());
}

bool Slot::lowSpaceA() const
{
    return RecordingRules::lowSpace(m_location[A].gigabytes);
}

bool Slot::lowSpaceB() const
{
    return RecordingRules::lowSpace(m_location[B].gigabytes);
}

QString Slot::historyText() const
{
    QStringList lines;
    for (const RecordingStateMachine::HistoryEntry& entry : m_machine->history())
        lines << entry.time.toString(QStringLiteral("HH:mm:ss ")) + entry.text;
    return lines.join(QLatin1Char('\n'));
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
    m_machine->clearFailure();
    m_machine->setSource(source);
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

// ---- recording ----

qint64 Slot::chopIntervalMs() const
{
    SettingsModel* settings = SettingsModel::instance();
    return settings->chopEnabled() ? qint64(settings->chopMinutes()) * 60000 : 0;
}

void Slot::handle(RecordingStateMachine::Event event)
{
    // Progress comes ten times a second; what the surfaces draw changes far less often.
    const auto shown = [this] {
        const auto& history = m_machine->history();
        return std::tuple(m_machine->state(), m_machine->droppingPercent(), m_machine->warning(), history.size(),
            history.empty() ? QDateTime() : history.back().time);
    };
    const auto before = shown();
    const RecordingStateMachine::Action action = m_machine->handle(event);
    if (isRecording() != m_wasRecording) {
        m_wasRecording = isRecording();
        emit isRecordingChanged(m_wasRecording);
    }
    if (isWaiting() != m_wasWaiting) {
        m_wasWaiting = isWaiting();
        emit isWaitingChanged(m_wasWaiting);
    }
    if (action == RecordingStateMachine::Action::EndRecording)
        finishRecording(RecorderError);
    if (shown() != before)
        emit shownChanged();
}

QString Slot::startRecording()
{
    // An empty folder is the working directory, as for the recording program.
    const QString refusal
        = RecordingRules::startRefusal(m_isConnected, isRecording(), m_viewingOnly, QDir(m_currentFolder).exists());
    if (refusal == CommandResult::folderMissing)
        handle({ Event::ProgramError,
            QStringLiteral("Recording folder does not exist: ") + QDir::toNativeSeparators(m_currentFolder) });
    if (!refusal.isEmpty())
        return refusal;
    // Asked again while waiting: the start request is on its way already.
    if (isWaiting())
        return CommandResult::success;
    // A process that has died (crash, failed start) cannot confirm a start: arm a fresh one, or the
    // slot would wait for ever.
    QProcess* process = m_recorder->currentProcess();
    if (!process || process->state() == QProcess::NotRunning)
        armRecorder(m_connectedSource);
    handle({ Event::StartAsked });
    m_recorder->setRecordLevel(g_standardGain + m_audioGain);
    m_recorder->startRecording();
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
    finishRecording(reason);
    return CommandResult::success;
}

void Slot::finishRecording(StopReason reason)
{
    if (!busy())
        return;
    const QString warning = reason == OutOfSpace
        ? QStringLiteral("Recording stopped: out of space in ") + QDir::toNativeSeparators(m_currentFolder)
        : QString();
    m_recorder->restart();
    m_split->stop();
    handle(Event::stop(RecordingStateMachine::StopReason(reason), warning));
    applyPendingMonitorPaths(QString());
    emit recordingStopped(reason);
    if (reason == OutOfSpace)
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Out of space").arg(m_index0));
    else if (reason == RecorderError)
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Error").arg(m_index0));
}

void Slot::recordingStarted()
{
    const bool first = !isRecording();
    handle({ Event::StartConfirmed, m_recorder->generation(), 0 });
    // A repeated confirmation must not restart the split schedule of a running recording.
    if (first)
        m_split->start(chopIntervalMs());
}

void Slot::pieceStarted(int generation, const QString& path, int frameRateN, int frameRateD, QSize size,
    const QString& reason, qint64 firstFrameTime)
{
    Event event(Event::PieceStarted, reason);
    event.generation = generation;
    event.piece.path = path;
    event.piece.frameRateN = frameRateN;
    event.piece.frameRateD = frameRateD;
    event.piece.size = size;
    event.piece.firstFrameTime = firstFrameTime;
    const QString folderB = QDir(folder(B)).absolutePath();
    event.piece.location = QFileInfo(path).absolutePath() == folderB && folderB != QDir(folder(A)).absolutePath()
        ? QStringLiteral("B")
        : QStringLiteral("A");
    handle(event);
    if (isRecording())
        applyPendingMonitorPaths(QFileInfo(path).absolutePath());
}

void Slot::applyPendingMonitorPaths(const QString& writtenFolder)
{
    for (Location& location : m_location) {
        if (!location.pendingMonitor.isEmpty()
            && (!busy() || QDir(writtenFolder).absolutePath() == QDir(location.pendingMonitor).absolutePath())) {
            location.monitor->setPath(location.pendingMonitor);
            location.pendingMonitor.clear();
        }
    }
}

void Slot::chopTimerTimeout()
{
    if (!isRecording())
        return;
    handle({ Event::Split });
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
    if (isRecording()) {
        switch (RecordingRules::spaceAction(side == B, m_abRecording, m_locationBSelected, m_location[A].gigabytes,
            m_location[B].gigabytes, fillRate)) {
        case RecordingRules::SpaceAction::SwitchToOther: setLocationBSelected(side == A); break;
        case RecordingRules::SpaceAction::Stop: finishRecording(OutOfSpace); break;
        case RecordingRules::SpaceAction::None: break;
        }
    }
    if (side == A)
        emit gigabytesAvailableChanged(location.gigabytes);
    else
        emit gigabytesBAvailableChanged(location.gigabytes);
    emit shownChanged();
}

void Slot::driveMonitorUpdated(float gigabytesAvailable, float fillRate)
{
    spaceUpdated(A, gigabytesAvailable, fillRate);
}

void Slot::driveMonitorBUpdated(float gigabytesAvailable, float fillRate)
{
    spaceUpdated(B, gigabytesAvailable, fillRate);
}

void Slot::setLocationBSelected(bool locationBSelected)
{
    if (locationBSelected == m_locationBSelected)
        return;
    m_locationBSelected = locationBSelected;
    m_currentFolder = folder(recordsToB() ? B : A);
    handle({ RecordingStateMachine::Event::LocationSwitch });
    // A running recording continues in the other folder; an armed process is replaced. An unbound
    // or viewing-only slot has no process, and must not get one for no source.
    if (busy() || (m_isConnected && !m_viewingOnly))
        m_recorder->chop(m_currentFolder);
    else
        m_recorder->setFolder(m_currentFolder);
    emit locationBSelectedChanged(m_locationBSelected);
    emit shownChanged();
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
    emit shownChanged();
    if (!m_isConnected || m_customLocationEnabled)
        return;
    const bool written = recordsToB() == (side == B);
    // The drive being written stays watched until the next piece lies on the new one.
    if (busy() && written)
        m_location[side].pendingMonitor = location;
    else
        m_location[side].monitor->setPath(location);
    if (!written)
        return;
    m_currentFolder = location;
    m_recorder->setFolder(location);
    emit shownChanged();
    // A waiting slot keeps its process: replacing it would lose the start request.
    if (!busy() && !m_viewingOnly)
        m_recorder->start(m_connectedSource);
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
    publishActiveReceiver();
    if (m_isConnected)
        m_pictureWatch.start();
    else
        m_pictureWatch.stop();
    watchPicture();
    emit isConnectedChanged(m_isConnected);
    emit shownChanged();
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
    if (lost != m_signalLost)
        handle({ lost ? RecordingStateMachine::Event::SourceGone : RecordingStateMachine::Event::SourceBack });
    else
        handle({ RecordingStateMachine::Event::Tick });
    if (format == m_videoFormat && lost == m_signalLost)
        return;
    m_videoFormat = format;
    m_signalLost = lost;
    emit pictureStateChanged();
    emit shownChanged();
}

void Slot::setCustomLocationEnabled(bool customLocationEnabled)
{
    assign(m_customLocationEnabled, customLocationEnabled, &Slot::customLocationEnabledChanged);
}

void Slot::setCustomLocation(QString customLocation)
{
    assign(m_location[A].custom, customLocation, &Slot::customLocationChanged);
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
        finishRecording(User);
        m_recorder->stop();
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
    assign(m_location[B].custom, customLocationB, &Slot::customLocationBChanged);
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
    replaceReceiver();
    if (m_isConnected)
        m_receiver->connectToSource(m_connectedSource);
    emit isFullResChanged(m_isFullRes);
}
