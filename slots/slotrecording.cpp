#include "slots/slotrecording.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "recording/ndirecorder.h"
#include "slots/commandresults.h"
#include "slots/movframecount.h"
#include "slots/recordingrules.h"
#include "slots/recordwriter.h"
#include "slots/slotlocations.h"
#include "slots/splitschedule.h"
#include "storage/drivemonitorprovider.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <tuple>

namespace
{

// Numbers every question this file asks the storage worker: questions of one folder from several
// slots at once must not be taken for the same one.
quint64 g_questions = 0;

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SlotRecording::SlotRecording(int slotNumber, RecordingStateMachine& machine, SlotLocations& locations, QObject* parent)
    : QObject(parent)
    , m_slotNumber(slotNumber)
    , m_machine(machine)
    , m_locations(locations)
{
    m_machine.setRecordWriter([this](const ContinuityRecord& record) {
        RecordWriter::instance()->write(record.filePath(), record.toJson(), this, [this](const QString& keptAt) {
            handle({ Event::RecordKept, keptAt });
        });
        return true;
    });
    m_recorder = new NDIRecorder;
    // A new file's name is looked up off the main thread: a drive that hangs holds up only the
    // start of its own slot's program.
    m_recorder->setOffload([this](const QString& folder, auto question, QObject* context, auto answer) {
        DriveMonitorProvider::instance()->worker()->ask(
            folder, QStringLiteral("name %1").arg(++g_questions), std::move(question), context, std::move(answer));
    });
    connect(m_recorder, &NDIRecorder::recordingStarted, this, &SlotRecording::confirmStart);
    connect(m_recorder, &NDIRecorder::recordingError, this, [this](NDIRecorder::RecordingError error, QString text) {
        handle({ error == NDIRecorder::Delayed ? Event::Delayed : Event::ProgramError, text });
    });
    const auto ended = [this](const QString& how) {
        countWrittenFrames();
        handle({ Event::ProgramEnded,
            QStringLiteral("The recording program %1 %2 the recording started")
                .arg(how, m_machine.isRecording() ? QStringLiteral("during") : QStringLiteral("before")) });
    };
    connect(m_recorder, &NDIRecorder::processFinished, this, [ended] { ended(QStringLiteral("ended")); });
    connect(m_recorder, &NDIRecorder::processCrashed, this, [ended] { ended(QStringLiteral("stopped")); });
    connect(m_recorder, &NDIRecorder::pieceStarted, this, &SlotRecording::pieceStarted);
    connect(m_recorder, &NDIRecorder::progressed, this, [this](int generation, qint64 frames, qint64 timecode) {
        handle({ Event::Progress, generation, frames, timecode });
    });
    connect(m_recorder, &NDIRecorder::processDone, this, [this](int generation, qint64 frames, qint64 timecode) {
        handle({ Event::ProcessDone, generation, frames, timecode });
    });
    connect(m_recorder, &NDIRecorder::programStopped, this, [this](int, const QString& reason) {
        countWrittenFrames();
        handle({ Event::ProgramStopped, reason });
    });
    connect(m_recorder, &NDIRecorder::startUnconfirmed, this, [this] { handle({ Event::StartUnconfirmed }); });
    connect(m_recorder, &NDIRecorder::stalled, this, [this] { handle({ Event::Stalled }); });
    connect(m_recorder, &NDIRecorder::resumed, this, [this] { handle({ Event::Resumed }); });
    connect(m_recorder, &NDIRecorder::replacedFrozen, this, [this](int) { handle({ Event::ReplacedFrozen }); });

    m_split = new SplitSchedule(this);
    connect(m_split, &SplitSchedule::due, this, &SlotRecording::split);
    connect(&m_locations, &SlotLocations::outOfSpace, this, [this] { finish(StopReason::OutOfSpace); });
    setMonotonicClock(nullptr);
}

SlotRecording::~SlotRecording()
{
    disconnect(m_recorder, nullptr, this, nullptr);
    if (m_machine.isBusy())
        m_machine.handle(Event::stop(StopReason::AppExit));
    delete m_recorder;
}

void SlotRecording::setMonotonicClock(std::function<qint64()> clock)
{
    if (!clock)
        clock = &steadyMs;
    m_machine.setClock(clock);
    m_split->setClock(clock);
}

void SlotRecording::handle(Event event)
{
    // Progress comes ten times a second; what the surfaces draw changes far less often.
    const auto shown = [this] {
        const auto& history = m_machine.history();
        return std::tuple(m_machine.state(), m_machine.droppingPercent(), m_machine.warning(), history.size(),
            history.empty() ? QDateTime() : history.back().time);
    };
    const auto before = shown();
    const RecordingStateMachine::Action action = m_machine.handle(event);
    if (m_machine.isRecording() != m_wasRecording) {
        m_wasRecording = m_machine.isRecording();
        emit recordingChanged(m_wasRecording);
    }
    if (m_machine.isWaiting() != m_wasWaiting) {
        m_wasWaiting = m_machine.isWaiting();
        emit waitingChanged(m_wasWaiting);
    }
    switch (action) {
    case RecordingStateMachine::Action::EndRecording: finish(StopReason::RecorderError); break;
    case RecordingStateMachine::Action::Recover: recover(false); break;
    case RecordingStateMachine::Action::MoveOn: recover(true); break;
    case RecordingStateMachine::Action::None: break;
    }
    if (shown() != before)
        emit shownChanged();
}

QString SlotRecording::refusal(bool bound, bool viewingOnly)
{
    // An empty folder is the working directory, as for the recording program.
    const QString folder = m_locations.currentFolder();
    const QString refusal
        = RecordingRules::startRefusal(bound, m_machine.isRecording(), viewingOnly, !m_locations.folderMissing());
    if (refusal == CommandResult::folderMissing)
        handle({ Event::ProgramError,
            QStringLiteral("Recording folder does not exist: ") + QDir::toNativeSeparators(folder) });
    return refusal;
}

bool SlotRecording::processAlive() const
{
    return m_recorder->processAlive();
}

void SlotRecording::start(float recordLevel)
{
    handle({ Event::StartAsked });
    m_recorder->setRecordLevel(recordLevel);
    m_recorder->startRecording();
}

void SlotRecording::finish(StopReason reason)
{
    if (!m_machine.isBusy())
        return;
    const QString warning = reason == StopReason::OutOfSpace
        ? QStringLiteral("Recording stopped: out of space in ") + QDir::toNativeSeparators(m_locations.currentFolder())
        : QString();
    m_recorder->restart();
    m_split->stop();
    handle(Event::stop(reason, warning));
    m_locations.applyPendingMonitorPaths(QString());
    emit stopped(reason);
    if (reason == StopReason::OutOfSpace)
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Out of space").arg(m_slotNumber));
    else if (reason == StopReason::RecorderError)
        Logger::write(QStringLiteral("Slot %1 stopped recording. Reason: Error").arg(m_slotNumber));
}

void SlotRecording::confirmStart()
{
    const bool first = !m_machine.isRecording();
    handle({ Event::StartConfirmed, m_recorder->generation(), 0 });
    // A repeated confirmation must not restart the split schedule of a running recording.
    if (first)
        m_split->start(chopIntervalMs());
}

void SlotRecording::pieceStarted(int generation, const QString& path, int frameRateN, int frameRateD, QSize size,
    const QString& reason, qint64 firstFrameTime)
{
    Event event(Event::PieceStarted, reason);
    event.generation = generation;
    event.piece.path = path;
    event.piece.frameRateN = frameRateN;
    event.piece.frameRateD = frameRateD;
    event.piece.size = size;
    event.piece.firstFrameTime = firstFrameTime;
    const QString folderB = QDir(m_locations.folder(SlotLocations::B)).absolutePath();
    event.piece.location = QFileInfo(path).absolutePath() == folderB
            && folderB != QDir(m_locations.folder(SlotLocations::A)).absolutePath()
        ? QStringLiteral("B")
        : QStringLiteral("A");
    handle(event);
    if (m_machine.isRecording())
        m_locations.applyPendingMonitorPaths(QFileInfo(path).absolutePath());
    // A piece left for want of space may hold fewer frames than its program counted.
    const ContinuityRecord* record = m_machine.record();
    if (record && record->pieces().size() >= 2 && record->pieces().last().reason == QLatin1String("location"))
        countFramesInFile(record->pieces().at(record->pieces().size() - 2));
}

void SlotRecording::countWrittenFrames()
{
    const ContinuityRecord* record = m_machine.record();
    const int generation = m_recorder->generation();
    if (!m_machine.isRecording() || !record || record->pieces().isEmpty()
        || record->pieces().last().generation != generation)
        return;
    countFramesInFile(record->pieces().last());
}

void SlotRecording::countFramesInFile(const ContinuityRecord::Piece& piece)
{
    const auto question = [path = piece.path] { return QVariant(MovFrameCount::videoFrames(path)); };
    DriveMonitorProvider::instance()->worker()->ask(piece.path, QStringLiteral("frames %1").arg(++g_questions),
        question, this, [this, piece](const QVariant& counted) {
            const qint64 inFile = counted.toLongLong();
            if (inFile >= 0 && inFile < piece.frames) {
                Event event(Event::FramesInFile, piece.path);
                event.frames = inFile;
                handle(event);
            }
        });
}

void SlotRecording::recover(bool moveOn)
{
    m_recovering = true;
    const SlotLocations::Side other = m_locations.otherSide();
    if (moveOn && RecordingRules::moveOnToOther(m_locations.abRecording(), m_locations.gigabytes(other)))
        emit switchWanted(other == SlotLocations::B);
    m_recovering = false;
    ensureFolder([this] {
        if (!m_machine.isBusy())
            return;
        m_recorder->setFolder(m_locations.currentFolder());
        m_recorder->recover();
    });
}

void SlotRecording::ensureFolder(std::function<void()> then)
{
    const QString folder = m_locations.currentFolder();
    if (folder.isEmpty())
        return then();
    const SlotLocations::Side other = m_locations.otherSide();
    const QString otherFolder = m_locations.abRecording() ? m_locations.folder(other) : QString();
    enum Found { There, Made, Gone, GoneOtherThere };
    const auto question = [folder, otherFolder]() -> QVariant {
        if (QDir(folder).exists())
            return There;
        if (QFileInfo(QFileInfo(folder).absolutePath()).isDir() && QDir().mkdir(folder))
            return Made;
        return !otherFolder.isEmpty() && QDir(otherFolder).exists() ? GoneOtherThere : Gone;
    };
    const auto answer = [this, folder, other, then](const QVariant& found) {
        const QString shown = QDir::toNativeSeparators(folder);
        if (found.toInt() == Made)
            Logger::write(QStringLiteral("Slot %1: the recording folder %2 was gone; made it again")
                              .arg(m_slotNumber)
                              .arg(shown));
        if (found.toInt() >= Gone)
            Logger::write(QStringLiteral("Slot %1: the recording folder %2 is gone and cannot be made again")
                              .arg(m_slotNumber)
                              .arg(shown));
        if (found.toInt() == GoneOtherThere) {
            m_recovering = true; // what follows carries the switch out
            emit switchWanted(other == SlotLocations::B);
            m_recovering = false;
        }
        then();
    };
    if (!DriveMonitorProvider::instance()->worker()->ask(folder, QStringLiteral("folder"), question, this, answer))
        then(); // the program finds a missing folder out for itself
}

void SlotRecording::split()
{
    if (!m_machine.isRecording())
        return;
    handle({ Event::Split });
    m_split->advance(chopIntervalMs());
    ensureFolder([this] {
        if (m_machine.isRecording())
            m_recorder->chop(m_locations.currentFolder());
    });
    Logger::write(QStringLiteral("Slot %1 is splitting recording").arg(m_slotNumber));
}

void SlotRecording::switchLocation(bool armed)
{
    handle({ Event::LocationSwitch });
    // The replacement process or the split about to be sent starts in the new folder.
    if (m_recovering)
        return;
    // A running recording continues in the other folder; an armed process is replaced. An unbound
    // or viewing-only slot has no process, and must not get one for no source.
    if (m_machine.isBusy() || armed)
        m_recorder->chop(m_locations.currentFolder());
    else
        m_recorder->setFolder(m_locations.currentFolder());
}

qint64 SlotRecording::chopIntervalMs()
{
    SettingsModel* settings = SettingsModel::instance();
    return settings->chopEnabled() ? qint64(settings->chopMinutes()) * 60000 : 0;
}
