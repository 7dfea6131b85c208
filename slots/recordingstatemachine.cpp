#include "slots/recordingstatemachine.h"

#include "app/logger.h"

#include <QDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <tuple>

namespace
{

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

RecordingStateMachine::RecordingStateMachine(int slot, QObject* parent)
    : QObject(parent)
    , m_slot(slot)
    , m_clock(&steadyMs)
{
}

RecordingStateMachine::Action RecordingStateMachine::handle(const Event& event)
{
    const qint64 now = m_clock();
    Action action = Action::None;
    switch (event.kind) {
    case Event::StartAsked:
        if (!isBusy())
            begin();
        break;
    case Event::StartConfirmed:
        // A repeated confirmation (one comes after every split) changes nothing.
        if (m_phase == Phase::Recording)
            return Action::None;
        if (m_phase != Phase::Waiting)
            begin();
        m_progressGeneration = event.generation;
        confirm();
        break;
    case Event::PieceStarted:
        if (m_phase != Phase::Recording)
            return Action::None;
        addPiece(event);
        break;
    case Event::Progress:
        if (m_phase != Phase::Recording || event.generation != m_progressGeneration)
            return Action::None;
        progress(event.generation, event.frames, event.timecode);
        break;
    case Event::ProcessDone:
        for (const auto& record : std::as_const(m_finishing)) {
            if (record != m_record && record->hasGeneration(event.generation)
                && record->setProcessFrames(event.generation, event.frames, event.timecode) && m_writeRecord)
                m_writeRecord(*record);
        }
        if (!m_record || !m_record->hasGeneration(event.generation)
            || !m_record->setProcessFrames(event.generation, event.frames, event.timecode))
            return Action::None;
        account();
        writeRecord();
        break;
    case Event::FramesInFile:
        for (const auto& record : std::as_const(m_finishing)) {
            if (record != m_record && record->setFramesInFile(event.text, event.frames) && m_writeRecord)
                m_writeRecord(*record);
        }
        if (!m_record || !m_record->setFramesInFile(event.text, event.frames))
            return Action::None;
        account();
        writeRecord();
        break;
    case Event::RecordKept:
        note(QStringLiteral("The recording's record is kept in %1 until its drive has room")
                 .arg(QDir::toNativeSeparators(event.text)));
        break;
    case Event::Delayed:
        if (!isBusy())
            return Action::None;
        ++m_delayedCount;
        m_lastDelayedAt = now;
        raise(Cause::Delayed, QStringLiteral("Recording can't keep up"));
        break;
    case Event::ProgramError: raise(Cause::Program, event.text); break;
    case Event::Stalled:
        if (m_phase != Phase::Recording || m_stalled)
            return Action::None;
        m_stalled = true;
        ++m_running.stalls;
        raise(Cause::Stalled, QStringLiteral("Recording stalled"));
        break;
    case Event::Resumed:
        m_stalled = false;
        clear(Cause::Stalled);
        break;
    case Event::ReplacedFrozen:
        m_nextPieceReason = QStringLiteral("recovery");
        ++m_running.recoveries;
        note(QStringLiteral("The frozen recording program was replaced"));
        Logger::write(QStringLiteral("Slot %1 continues its recording in a new file").arg(m_slot));
        break;
    case Event::ProgramStopped:
        if (!isBusy())
            return Action::None;
        action = recover(QStringLiteral("Recording stopped: ") + event.text, Action::MoveOn);
        break;
    case Event::ProgramEnded:
        if (!isBusy())
            return Action::None;
        action = recover(event.text, Action::Recover);
        break;
    case Event::StartUnconfirmed: {
        if (m_phase != Phase::Waiting)
            return Action::None;
        const auto given = std::find_if(
            m_warnings.cbegin(), m_warnings.cend(), [](const Warning& w) { return w.cause == Cause::Program; });
        // The program gave up (no folder, no space): waiting longer gives nothing.
        if (given != m_warnings.cend())
            action = fail(QStringLiteral("Recording did not start: ") + given->text);
        else
            raise(Cause::Unconfirmed,
                QStringLiteral("Recording has not started yet: no picture and sound from the source"));
        break;
    }
    case Event::SourceGone:
        if (m_sourceGone)
            return Action::None;
        m_sourceGone = true;
        if (m_phase == Phase::Recording)
            raise(Cause::NoSignal, QStringLiteral("No signal from the source"));
        break;
    case Event::SourceBack:
        if (!m_sourceGone)
            return Action::None;
        m_sourceGone = false;
        clear(Cause::NoSignal);
        break;
    case Event::Split:
        if (m_phase == Phase::Recording)
            m_nextPieceReason = QStringLiteral("split");
        break;
    case Event::LocationSwitch:
        if (m_phase == Phase::Recording)
            m_nextPieceReason = QStringLiteral("location");
        break;
    case Event::StopAsked:
        if (!isBusy())
            return Action::None;
        end(event.reason);
        if (!event.text.isEmpty())
            raise(Cause::Failure, event.text);
        break;
    // A drive that does not answer is shown whatever the recording does, until it answers.
    case Event::DriveSilent:
        raise(Cause::Drive, QStringLiteral("Drive not answering: ") + QDir::toNativeSeparators(event.text));
        break;
    case Event::DriveAnswers:
        if (std::none_of(
                m_warnings.cbegin(), m_warnings.cend(), [](const Warning& w) { return w.cause == Cause::Drive; }))
            return Action::None;
        clear(Cause::Drive);
        break;
    case Event::Tick: {
        const auto shown = [this] { return std::tuple(state(), m_dropped, m_droppingPercent, warning()); };
        const auto before = shown();
        if (now - m_lastDelayedAt >= delayedHoldMs)
            clear(Cause::Delayed);
        if (m_phase == Phase::Recording) {
            account();
            // A crash loses no more than the last few seconds of the record.
            if (m_record && now - m_record->writtenAt() >= 10000)
                writeRecord();
        }
        if (shown() == before)
            return Action::None;
        break;
    }
    }
    emit changed();
    return action;
}

void RecordingStateMachine::clearFailure()
{
    if (isBusy())
        return;
    const bool shown = m_phase == Phase::Failed || !m_warnings.isEmpty();
    m_phase = Phase::Idle;
    clearAll();
    if (shown)
        emit changed();
}

void RecordingStateMachine::begin()
{
    m_finished = totals();
    clearAll();
    m_phase = Phase::Waiting;
    m_stalled = false;
    m_record.reset();
    m_nextPieceReason.clear();
    m_startMs = m_stopMs = 0;
    m_recordedMsBefore = m_framesBefore = m_progressMs = m_progressFrames = 0;
    m_dropped = 0;
    m_lastDropAt = -1;
    m_droppingPercent = 0;
    m_samples.clear();
    m_delayedCount = 0;
    m_failures.clear();
    m_running = Totals();
    note(QStringLiteral("Start asked"));
}

void RecordingStateMachine::confirm()
{
    m_phase = Phase::Recording;
    m_startMs = m_clock();
    clear(Cause::Unconfirmed);
    clear(Cause::Program);
    if (m_sourceGone)
        raise(Cause::NoSignal, QStringLiteral("No signal from the source"));
    note(QStringLiteral("Recording started"));
}

void RecordingStateMachine::addPiece(const Event& event)
{
    if (event.generation != m_progressGeneration) {
        // A new process writes: what the old one could not do is over.
        clear(Cause::Program);
        // A replacement process counts its frames and time from zero.
        m_recordedMsBefore += m_progressMs;
        m_framesBefore += m_progressFrames;
        m_progressGeneration = event.generation;
        m_progressMs = 0;
        m_progressFrames = 0;
    }
    const bool first = !m_record;
    if (first)
        m_record = std::make_shared<ContinuityRecord>(m_source, m_slot);
    ContinuityRecord::Piece piece = event.piece;
    piece.start = QDateTime::currentDateTime();
    piece.startMs = m_clock();
    piece.generation = event.generation;
    piece.processFramesAtStart = m_progressFrames;
    piece.frameRateD = std::max(1, piece.frameRateD);
    piece.reason = first ? QStringLiteral("start") : !event.text.isEmpty() ? event.text : m_nextPieceReason;
    if (piece.reason.isEmpty())
        piece.reason = QStringLiteral("split");
    if (piece.reason == QLatin1String("format"))
        Logger::write(QStringLiteral("Slot %1: the source changed its format; recording goes on in %2")
                          .arg(m_slot)
                          .arg(QDir::toNativeSeparators(piece.path)));
    m_nextPieceReason.clear();
    if (!first)
        note(QStringLiteral("New piece (%1): %2").arg(piece.reason, QDir::toNativeSeparators(piece.path)));
    m_record->addPiece(piece);
    m_record->setCoveredUntil(piece.startMs);
    writeRecord();
    if (m_stalled) {
        m_stalled = false;
        clear(Cause::Stalled);
    }
}

void RecordingStateMachine::progress(int generation, qint64 frames, qint64 timecode)
{
    m_progressFrames = frames;
    m_progressMs = timecode / 10000;
    if (m_record)
        m_record->setProcessFrames(generation, frames, timecode);
    account();
}

void RecordingStateMachine::account()
{
    if (!m_record || m_record->pieces().isEmpty())
        return;
    const qint64 now = m_stopMs > 0 ? m_stopMs : m_clock();
    m_record->setCoveredUntil(now);
    const double sent = m_record->sentFrames();
    const qint64 written = m_record->totalFrames();
    const bool running = m_stopMs == 0;
    // While it runs, the newest frames may not be counted yet; at the end every count is in.
    const double slack = running ? m_record->pieces().last().frameRate() * toleranceMs / 1000.0 : 0.0;
    const qint64 lost = std::max<qint64>(0, qint64(std::floor(sent - double(written) - slack)));
    if (running ? lost > m_dropped : lost != m_dropped) {
        if (lost > m_dropped)
            m_lastDropAt = m_clock();
        m_dropped = lost;
    }
    m_samples.push_back({ now, sent, written });
    while (m_samples.size() > 2 && now - m_samples.front().at > droppingHoldMs)
        m_samples.pop_front();
    const Sample& from = m_samples.front();
    const double sentSince = sent - from.sent;
    m_droppingPercent = sentSince >= 1.0
        ? int(std::clamp(std::lround(100.0 * (sentSince - double(written - from.written)) / sentSince), 0L, 100L))
        : 0;
}

RecordingStateMachine::Action RecordingStateMachine::fail(const QString& warning)
{
    raise(Cause::Failure, warning);
    return Action::EndRecording;
}

RecordingStateMachine::Action RecordingStateMachine::recover(const QString& what, Action how)
{
    // A program that never started recording would fail the same way again.
    if (m_phase != Phase::Recording)
        return fail(what);
    const qint64 now = m_clock();
    m_failures.push_back(now);
    while (now - m_failures.front() > failureWindowMs)
        m_failures.pop_front();
    if (int(m_failures.size()) >= failuresToGiveUp)
        return fail(QStringLiteral("%1 (%2 failures within a minute)").arg(what).arg(m_failures.size()));
    m_nextPieceReason = QStringLiteral("recovery");
    ++m_running.recoveries;
    note(what + QStringLiteral("; the recording goes on in a new piece"));
    Logger::write(QStringLiteral("Slot %1: %2; the recording goes on in a new piece").arg(m_slot).arg(what));
    return how;
}

void RecordingStateMachine::end(StopReason reason)
{
    m_stopMs = std::max<qint64>(1, m_clock());
    account();
    m_phase = reason == StopReason::User || reason == StopReason::AppExit ? Phase::Idle : Phase::Failed;
    m_stalled = false;
    for (Cause cause : { Cause::Unconfirmed, Cause::Delayed, Cause::Stalled, Cause::NoSignal })
        clear(cause);
    if (reason == StopReason::User)
        clearAll();
    if (m_record && !m_record->isFinished()) {
        m_record->finish(stopReasonText(reason));
        writeRecord();
        // Its last piece's final count comes when the process has finished.
        m_finishing.append(m_record);
        while (m_finishing.size() > 4)
            m_finishing.removeFirst();
    }
    note(QStringLiteral("Recording stopped (%1)").arg(stopReasonText(reason)));
}

RecordingStateMachine::Totals RecordingStateMachine::totals() const
{
    Totals sum = m_finished;
    sum.framesWritten += totalFrames();
    sum.droppedFrames += m_dropped;
    sum.delayed += m_delayedCount;
    sum.stalls += m_running.stalls;
    sum.recoveries += m_running.recoveries;
    return sum;
}

void RecordingStateMachine::raise(Cause cause, const QString& text)
{
    m_warnings.erase(
        std::remove_if(m_warnings.begin(), m_warnings.end(), [cause](const Warning& w) { return w.cause == cause; }),
        m_warnings.end());
    m_warnings.append({ cause, text });
    note(text);
    emit warningRaised(text);
}

void RecordingStateMachine::clear(Cause cause)
{
    const auto it
        = std::find_if(m_warnings.begin(), m_warnings.end(), [cause](const Warning& w) { return w.cause == cause; });
    if (it == m_warnings.end())
        return;
    const QString text = it->text;
    m_warnings.erase(it);
    note(QStringLiteral("Cleared: ") + text);
    emit warningCleared(text);
}

void RecordingStateMachine::clearAll()
{
    // A silent drive's warning outlives the recording: it ends when the drive answers.
    for (int i = int(m_warnings.size()) - 1; i >= 0; --i) {
        if (m_warnings.at(i).cause != Cause::Drive)
            clear(m_warnings.at(i).cause);
    }
}

void RecordingStateMachine::note(const QString& text)
{
    m_history.push_back({ QDateTime::currentDateTime(), text });
    while (m_history.size() > size_t(historySize))
        m_history.pop_front();
}

void RecordingStateMachine::writeRecord()
{
    if (m_record && m_writeRecord)
        m_record->markWritten(m_clock(), m_writeRecord(*m_record));
}

QString RecordingStateMachine::stopReasonText(StopReason reason)
{
    switch (reason) {
    case StopReason::OutOfSpace: return QStringLiteral("out of space");
    case StopReason::RecorderError: return QStringLiteral("error");
    case StopReason::AppExit: return QStringLiteral("exit");
    case StopReason::User: break;
    }
    return QStringLiteral("user");
}

RecordingStateMachine::State RecordingStateMachine::state() const
{
    switch (m_phase) {
    case Phase::Idle: return State::Idle;
    case Phase::Waiting: return State::Waiting;
    case Phase::Failed: return State::Failed;
    case Phase::Recording: break;
    }
    if (m_stalled)
        return State::Stalled;
    if (m_sourceGone)
        return State::NoSignal;
    if (m_lastDropAt >= 0 && m_clock() - m_lastDropAt < droppingHoldMs)
        return State::Dropping;
    return State::Recording;
}

bool RecordingStateMachine::isRecording() const
{
    return m_phase == Phase::Recording;
}

QString RecordingStateMachine::stateName(State state)
{
    switch (state) {
    case State::Waiting: return QStringLiteral("waiting");
    case State::Recording: return QStringLiteral("recording");
    case State::Dropping: return QStringLiteral("dropping");
    case State::Stalled: return QStringLiteral("stalled");
    case State::NoSignal: return QStringLiteral("no signal");
    case State::Failed: return QStringLiteral("failed");
    case State::Idle: break;
    }
    return QStringLiteral("idle");
}

QString RecordingStateMachine::stateWord(State state, bool bound, bool signalLost)
{
    if (state != State::Idle)
        return stateName(state);
    if (!bound)
        return QStringLiteral("empty");
    return signalLost ? QStringLiteral("no signal") : QStringLiteral("ready");
}

QString RecordingStateMachine::stateLabel(const QString& stateWord, int droppingPercent)
{
    if (stateWord == QLatin1String("recording"))
        return QStringLiteral("REC");
    if (stateWord == QLatin1String("dropping"))
        return QStringLiteral("DROPPING %1 %").arg(droppingPercent);
    return stateWord.toUpper();
}

qint64 RecordingStateMachine::wallMs() const
{
    if (m_startMs == 0)
        return 0;
    return (m_stopMs > 0 ? m_stopMs : m_clock()) - m_startMs;
}

qint64 RecordingStateMachine::pieceFrames() const
{
    return m_record && !m_record->pieces().isEmpty() ? m_record->pieces().last().frames : m_progressFrames;
}

QString RecordingStateMachine::piecePath() const
{
    return m_record && !m_record->pieces().isEmpty() ? m_record->pieces().last().path : QString();
}

QString RecordingStateMachine::pieceLocation() const
{
    return m_record && !m_record->pieces().isEmpty() ? m_record->pieces().last().location : QString();
}

const ContinuityRecord* RecordingStateMachine::record() const
{
    if (m_record)
        return m_record.get();
    return m_finishing.isEmpty() ? nullptr : m_finishing.last().get();
}
