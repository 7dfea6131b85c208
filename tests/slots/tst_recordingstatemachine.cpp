#include "slots/recordingstatemachine.h"

#include <QSignalSpy>
#include <QTest>

using Machine = RecordingStateMachine;
using Event = Machine::Event;
using State = Machine::State;

// One step of a recording's life: at a time (ms on the machine's clock), an event; then what shows.
struct Step {
    qint64 at;
    Event event;
    State state;
    QString warning;
};
Q_DECLARE_METATYPE(QList<Step>)
Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(QList<RecordingStateMachine::Action>)

namespace
{

Event piece(int generation, const QString& reason = {})
{
    Event event(Event::PieceStarted, reason);
    event.generation = generation;
    event.piece.frameRateN = 25;
    return event;
}
Event progress(qint64 frames, int generation = 1)
{
    return { Event::Progress, generation, frames, frames * 400000 };
}
Event confirmed(int generation = 1)
{
    return { Event::StartConfirmed, generation, 0 };
}
const QString stalled = QStringLiteral("Recording stalled");
const QString noSignal = QStringLiteral("No signal from the source");
const QString cannotKeepUp = QStringLiteral("Recording can't keep up");

} // namespace

class TestRecordingStateMachine : public QObject
{
    Q_OBJECT
    qint64 m_now = 0;
    QList<QJsonObject> m_written;

    std::unique_ptr<Machine> machine()
    {
        auto m = std::make_unique<Machine>(3);
        m->setClock([this] { return m_now; });
        m->setRecordWriter([this](const ContinuityRecord& record) { return m_written << record.toJson(), true; });
        m->setSource(QStringLiteral("HOST (Cam)"));
        return m;
    }

private Q_SLOTS:
    void init() { m_now = 100000, m_written.clear(); }

    // The word and label of every state; an idle slot tells whether it is bound and has a picture.
    void stateWords()
    {
        const std::tuple<State, bool, bool, const char*, const char*> rows[] = { { State::Idle, false, false, "empty",
                                                                                     "EMPTY" },
            { State::Idle, true, false, "ready", "READY" }, { State::Idle, true, true, "no signal", "NO SIGNAL" },
            { State::Waiting, true, false, "waiting", "WAITING" }, { State::Recording, true, true, "recording", "REC" },
            { State::Dropping, true, false, "dropping", "DROPPING 12 %" },
            { State::Stalled, true, false, "stalled", "STALLED" },
            { State::NoSignal, true, true, "no signal", "NO SIGNAL" },
            { State::Failed, true, false, "failed", "FAILED" } };
        for (const auto& [state, bound, lost, word, label] : rows) {
            QCOMPARE(Machine::stateWord(state, bound, lost), QString(word));
            QCOMPARE(Machine::stateLabel(word, 12), QString(label));
        }
    }

    // Each warning lives as long as its cause; the state follows the events.
    void lifeCycle_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        const Step waiting { 0, { Event::StartAsked }, State::Waiting, {} };
        const Step started { 0, confirmed(), State::Recording, {} };
        const Step first { 0, piece(1), State::Recording, {} };
        QTest::addRow("a stall ends with the replacement's piece") << QList<Step> { waiting, started, first,
            { 3000, { Event::Stalled }, State::Stalled, stalled },
            { 8000, { Event::ReplacedFrozen }, State::Stalled, stalled }, { 9000, piece(2), State::Recording, {} },
            { 9500, { Event::Stalled }, State::Stalled, stalled }, { 9900, { Event::Resumed }, State::Recording, {} } };
        QTest::addRow("source gone and back")
            << QList<Step> { waiting, started, first, { 1000, { Event::SourceGone }, State::NoSignal, noSignal },
                   { 4000, { Event::SourceBack }, State::Recording, {} } };
        QTest::addRow("can't keep up ends after 5 s of quiet")
            << QList<Step> { waiting, started, { 1000, { Event::Delayed }, State::Recording, cannotKeepUp },
                   { 5900, { Event::Tick }, State::Recording, cannotKeepUp },
                   { 6000, { Event::Tick }, State::Recording, {} } };
        QTest::addRow("a user's stop clears every warning")
            << QList<Step> { waiting, started, first, { 1000, { Event::Delayed }, State::Recording, cannotKeepUp },
                   { 1000, { Event::Stalled }, State::Stalled, stalled },
                   { 1100, Event::stop(Machine::StopReason::User), State::Idle, {} } };
        QTest::addRow("the newest warning shows, the older when it clears")
            << QList<Step> { waiting, started, first, { 1000, { Event::Delayed }, State::Recording, cannotKeepUp },
                   { 1000, { Event::SourceGone }, State::NoSignal, noSignal },
                   { 1200, { Event::SourceBack }, State::Recording, cannotKeepUp } };
        QTest::addRow("unconfirmed, then confirmed") << QList<Step> { waiting,
            { 5000, { Event::StartUnconfirmed }, State::Waiting,
                "Recording has not started yet: no picture and sound from the source" },
            { 6000, confirmed(), State::Recording, {} } };
        QTest::addRow("a failure stays shown until the next start") << QList<Step> { waiting, started, first,
            { 500, { Event::ProgramError, "disk full" }, State::Recording, "disk full" },
            { 500, Event::stop(Machine::StopReason::RecorderError), State::Failed, "disk full" },
            { 9000, { Event::Tick }, State::Failed, "disk full" },
            { 9000, { Event::StartAsked }, State::Waiting, {} } };
        QTest::addRow("no signal before the start shows once recording") << QList<Step> { waiting,
            { 100, { Event::SourceGone }, State::Waiting, {} }, { 200, confirmed(), State::NoSignal, noSignal } };
    }
    void lifeCycle()
    {
        QFETCH(QList<Step>, steps);
        auto m = machine();
        for (const Step& step : steps) {
            m_now = 100000 + step.at, m->handle(step.event);
            QCOMPARE(std::pair(m->state(), m->warning()), std::pair(step.state, step.warning));
        }
    }

    // What the program does decides whether the recording goes on in a new piece or ends, and why
    // it says so: a program that fails three times within a minute is given up.
    void failures_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<Event>("event");
        QTest::addColumn<QList<qint64>>("times"); // seconds after the start, the event each time
        QTest::addColumn<QList<Machine::Action>>("actions");
        QTest::addColumn<QString>("warning"); // after the last
        using A = Machine::Action;
        const Event gone(Event::ProgramEnded, "Gone");
        QTest::addRow("a crash goes on") << true << gone << QList<qint64> { 5 } << QList<A> { A::Recover } << "";
        QTest::addRow("a write failure moves on")
            << true << Event(Event::ProgramStopped, "No space") << QList<qint64> { 5 } << QList<A> { A::MoveOn } << "";
        QTest::addRow("the third failure within a minute ends it")
            << true << gone << QList<qint64> { 5, 30, 64 } << QList<A> { A::Recover, A::Recover, A::EndRecording }
            << "Gone (3 failures within a minute)";
        QTest::addRow("failures further apart go on")
            << true << gone << QList<qint64> { 5, 40, 66 } << QList<A> { A::Recover, A::Recover, A::Recover } << "";
        QTest::addRow("ended while waiting")
            << false << gone << QList<qint64> { 1 } << QList<A> { A::EndRecording } << "Gone";
        QTest::addRow("unconfirmed after the program's reason")
            << false << Event(Event::StartUnconfirmed) << QList<qint64> { 5 } << QList<A> { A::EndRecording }
            << "Recording did not start: Folder does not exist";
    }
    void failures()
    {
        QFETCH(bool, confirm);
        QFETCH(Event, event);
        QFETCH(QList<qint64>, times);
        QFETCH(QList<Machine::Action>, actions);
        auto m = machine();
        m->handle({ Event::StartAsked }), m->handle({ Event::ProgramError, "Folder does not exist" });
        if (confirm)
            m->handle(confirmed()), m->handle(piece(1));
        QList<Machine::Action> taken;
        for (const qint64 at : times) {
            m_now = 100000 + at * 1000;
            taken << m->handle(event);
            if (taken.last() != Machine::Action::EndRecording) // the new process writes
                m->handle(piece(int(taken.size()) + 1));
        }
        QCOMPARE(taken, actions);
        QTEST(m->warning(), "warning");
        if (actions.last() != Machine::Action::EndRecording) {
            QStringList reasons;
            for (const ContinuityRecord::Piece& p : m->record()->pieces())
                reasons << p.reason;
            QCOMPARE(reasons, QStringList { "start" } + QStringList(times.size(), "recovery"));
            QCOMPARE(
                (std::pair(m->state(), m->totals().recoveries)), (std::pair(State::Recording, qint64(times.size()))));
            return;
        }
        QCOMPARE(m->handle(Event::stop(Machine::StopReason::RecorderError)), Machine::Action::None);
        QCOMPARE(m->state(), State::Failed);
        QCOMPARE(m->handle(event), Machine::Action::None); // nothing left to end
    }

    // Frames lost against what the source sent (25 a second), reported every 100 ms with the newest
    // frames not yet counted; dropping shows within 3 s and ends 3 s after the last loss.
    void droppedFrames_data()
    {
        QTest::addColumn<int>("writeEvery"); // of the frames sent, 1 in writeEvery is written
        QTest::addColumn<qint64>("absentFromMs"); // the source sends nothing from here for absentMs
        QTest::addColumn<qint64>("absentMs");
        QTest::addColumn<qint64>("droppingBy"); // ms after the start; -1: never
        QTest::addColumn<qint64>("dropped"); // at the stop, 20 s after the start
        QTest::addRow("healthy") << 1 << qint64(0) << qint64(0) << qint64(-1) << qint64(0);
        QTest::addRow("every other frame") << 2 << qint64(0) << qint64(0) << qint64(1600) << qint64(250);
        QTest::addRow("source gone for 4 s") << 1 << qint64(5000) << qint64(4000) << qint64(5700) << qint64(100);
    }
    void droppedFrames()
    {
        QFETCH(int, writeEvery);
        QFETCH(qint64, absentFromMs);
        QFETCH(qint64, absentMs);
        QFETCH(qint64, droppingBy);
        auto m = machine();
        m->handle({ Event::StartAsked }), m->handle(confirmed()), m->handle(piece(1));
        qint64 written = 0, firstDropping = -1, lastDropping = -1;
        for (qint64 t = 100; t <= 20000; t += 100) {
            m_now = 100000 + t;
            const bool absent = t > absentFromMs && t <= absentFromMs + absentMs;
            // The report counts the frames up to 80 ms ago.
            const qint64 sent = (t - 80) * 25 / 1000;
            if (!absent)
                written
                    = std::max(written, (sent - (absentMs > 0 && t > absentFromMs ? absentMs / 40 : 0)) / writeEvery);
            m->handle(progress(written));
            if (m->state() == State::Dropping) {
                firstDropping = firstDropping < 0 ? t : firstDropping;
                lastDropping = t;
            }
        }
        QCOMPARE(firstDropping >= 0, droppingBy >= 0);
        if (droppingBy >= 0) {
            QVERIFY2(firstDropping <= droppingBy, qPrintable(QString::number(firstDropping)));
            QVERIFY(writeEvery > 1 || lastDropping <= absentFromMs + absentMs + Machine::droppingHoldMs);
        }
        m->handle(Event::stop(Machine::StopReason::User));
        m->handle({ Event::ProcessDone, 1, written + 2 / writeEvery }); // the frames in flight at the stop
        QTEST(m->droppedFrames(), "dropped");
        const QJsonObject record = m_written.last(), piece = record.value("pieces").toArray().at(0).toObject();
        QCOMPARE(
            (QList<qint64> { record.value("droppedFrames").toInteger(), piece.value("droppedFrames").toInteger() }),
            (QList<qint64> { m->droppedFrames(), m->droppedFrames() }));
    }

    // A split seen late moves frames from one piece to the next, not out of the recording; a frozen
    // program's replacement counts the time between its pieces as lost.
    void piecesShareTheBooks()
    {
        auto m = machine();
        m->handle({ Event::StartAsked }), m->handle(confirmed()), m->handle(piece(1));
        m_now += 10000, m->handle(progress(250));
        m_now += 100, m->handle(piece(1, QStringLiteral("split"))); // its report comes 100 ms late: 2.5 frames
        m_now += 9900, m->handle(progress(500));
        m->handle({ Event::Stalled }), m->handle({ Event::ReplacedFrozen });
        m_now += 8000, m->handle(piece(2)); // 200 frames never written
        m_now += 2000, m->handle(progress(50, 2));
        m->handle(Event::stop(Machine::StopReason::User));
        m->handle({ Event::ProcessDone, 1, 500 }), m->handle({ Event::ProcessDone, 2, 50 });
        const QJsonObject record = m_written.last();
        QStringList reasons;
        qint64 perPiece = 0;
        for (const QJsonValue& p : record.value("pieces").toArray())
            reasons << p["reason"].toString(), perPiece += p["droppedFrames"].toInteger();
        QCOMPARE(reasons, (QStringList { "start", "split", "recovery" }));
        QCOMPARE((QList<qint64> { record.value("frames").toInteger(), record.value("droppedFrames").toInteger(),
                     m->droppedFrames() }),
            (QList<qint64> { 550, 200, 200 }));
        QVERIFY2(qAbs(perPiece - 200) <= 2, qPrintable(QString::number(perPiece))); // the late split, rounding
        const Machine::Totals totals = m->totals();
        QCOMPARE((QList<qint64> { totals.framesWritten, totals.droppedFrames, totals.stalls, totals.recoveries }),
            (QList<qint64> { 550, 200, 1, 1 }));
        m->handle({ Event::StartAsked }), m->handle(confirmed(3)), m->handle(piece(3)), m->handle(progress(25, 3));
        QCOMPARE(m->totals().framesWritten, 575); // the next recording adds to the same books
    }

    // The program's file time counts the frames it wrote before its start was heard of and after the
    // stop was asked (15 lost of 95 here, none by the clock alone); a jump in it invents nothing.
    void fileTimeCountsWhatTheClockMissed_data()
    {
        QTest::addColumn<qint64>("jump"); // added to the file time of the later reports, 100 ns
        QTest::addColumn<qint64>("dropped");
        QTest::addRow("reports heard late") << qint64(0) << qint64(15);
        QTest::addRow("source time jumps an hour") << qint64(36000000000) << qint64(0);
    }
    void fileTimeCountsWhatTheClockMissed()
    {
        QFETCH(qint64, jump);
        auto m = machine();
        const qint64 origin = 1000000000;
        m->handle({ Event::StartAsked }), m->handle(confirmed()), m->handle(piece(1));
        m_now += 1000, m->handle({ Event::Progress, 1, 40, origin });
        m_now += 2000, m->handle({ Event::Progress, 1, 75, origin + jump + 20000000 });
        m->handle(Event::stop(Machine::StopReason::User));
        m->handle({ Event::ProcessDone, 1, 80, origin + jump + 22000000 });
        QTEST(m->droppedFrames(), "dropped");
    }

    // A split heard a second late: the clock gives its frames to the piece before, the file's time to
    // the piece after; they are not counted twice.
    void lateSplitIsNoLoss()
    {
        auto m = machine();
        m->handle({ Event::StartAsked }), m->handle(confirmed()), m->handle(piece(1));
        m_now += 1000, m->handle({ Event::Progress, 1, 25, 10000000 });
        m_now += 1000, m->handle({ Event::Progress, 1, 50, 20000000 }); // the program splits here
        m_now += 1000, m->handle(piece(1, QStringLiteral("split")));
        m_now += 100, m->handle({ Event::Progress, 1, 78, 500000000 });
        m_now += 900, m->handle({ Event::Progress, 1, 100, 509000000 });
        m->handle(Event::stop(Machine::StopReason::User));
        m->handle({ Event::ProcessDone, 1, 100, 509000000 });
        QCOMPARE(m->droppedFrames(), 0);
    }

    // The last twenty events, each warning raised and cleared among them, with signals to match.
    void history()
    {
        auto m = machine();
        QSignalSpy raised(m.get(), &Machine::warningRaised), cleared(m.get(), &Machine::warningCleared);
        m->handle({ Event::StartAsked }), m->handle(confirmed());
        for (int i = 0; i < 12; ++i)
            m->handle({ Event::Stalled }), m->handle({ Event::Resumed });
        QCOMPARE((QList<qsizetype> { raised.size(), cleared.size(), qsizetype(m->history().size()) }),
            (QList<qsizetype> { 12, 12, Machine::historySize }));
        QCOMPARE(
            (QStringList { cleared.first().first().toString(), m->history().front().text, m->history().back().text }),
            (QStringList { stalled, stalled, "Cleared: " + stalled }));
    }
};

QTEST_GUILESS_MAIN(TestRecordingStateMachine)
#include "tst_recordingstatemachine.moc"
