#include "slots/recordwriter.h"
#include "storage/drivemonitorprovider.h"
#include "tests/common/probe.h"
#include "tests/slots/slottestsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPointer>
#include <QTest>

#include <functional>

using State = RecordingTelemetry::State;

// The slot's recording signals in order, as short words.
struct Events {
    explicit Events(Slot* s)
    {
        const auto add = [this](const QString& word) { return [this, word](auto v) { list << word.arg(v); }; };
        QObject::connect(s, &Slot::isWaitingChanged, &context, add(QStringLiteral("waiting %1")));
        QObject::connect(s, &Slot::isRecordingChanged, &context, add(QStringLiteral("recording %1")));
        QObject::connect(s, &Slot::recordingStopped, &context,
            [this](Slot::StopReason r) { list << QStringLiteral("stopped %1").arg(r); });
        QObject::connect(s, &Slot::recordingWarning, &context, add(QStringLiteral("warning %1")));
        QObject::connect(s, &Slot::locationBSelectedChanged, &context, add(QStringLiteral("B %1")));
    }
    QStringList take() { return std::exchange(list, {}); }
    QObject context;
    QStringList list;
};

class TestSlotRecording : public QObject
{
    Q_OBJECT
    SourcesModel m_sources;
    int m_folders = 0;

    // A bound slot with folders A and B of its own; recording (confirmed) when asked.
    std::unique_ptr<Slot> slot(bool record = false)
    {
        auto slot = std::make_unique<Slot>();
        slot->setCustomLocationEnabled(true);
        slot->setCustomLocation(TestEnv::makeFolder(QStringLiteral("a%1").arg(++m_folders)));
        slot->setCustomLocationB(TestEnv::makeFolder(QStringLiteral("b%1").arg(m_folders)));
        slot->connectSource(QStringLiteral("A"));
        if (record && slot->startRecording() == QLatin1String("success"))
            waitFor(slot.get());
        return slot;
    }
    static bool waitFor(Slot* s, bool recording = true)
    {
        return QTest::qWaitFor([&] { return s->isRecording() == recording; }, 20000);
    }
    static int movies(const QString& folder) { return int(E2E::movFiles(folder).size()); }
    static QJsonObject recordOf(const Slot& s) // the slot's continuity record as written
    {
        if (!QTest::qWaitFor([] { return RecordWriter::instance()->isIdle(); }, 5000))
            qWarning("the record is still being written");
        return E2E::jsonFile(s.continuityRecord()->filePath());
    }
    static QString trace(const QProcess* process) // what the program was told
    {
        QFile file(TestEnv::root() + QStringLiteral("/trace-%1.txt").arg(process->processId()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("NDI_RECORD_TRACE", QFile::encodeName(TestEnv::root() + QStringLiteral("/trace-{pid}.txt")));
        if (!SlotTest::setUp(m_sources))
            QSKIP("the recording program has not been built");
        Slot::setStandardGain(-20.0f);
        LogCapture::install();
    }
    void init() { LogCapture::clear(), NDIRecorder::setProgramFolder(TestEnv::binDir()); }

    // Waiting until the program confirms, the level sent before the start; a second start while
    // waiting changes nothing; the button stops.
    void startIsConfirmedByTheProgram()
    {
        auto s = slot();
        s->setAudioGain(-3.5f);
        Events events(s.get());
        const QProcess* process = s->recorder()->currentProcess();
        s->recordClicked();
        QVERIFY(s->startRecording() == "success" && events.list == QStringList { "waiting 1" });
        QVERIFY(waitFor(s.get()));
        QCOMPARE(events.take(), (QStringList { "waiting 1", "recording 1", "waiting 0" }));
        QVERIFY(trace(process).contains(QStringLiteral("<record_level gain=\"-23.5\"/>\r\n<start/>\r\n")));
        QVERIFY(s->startRecording() != QLatin1String("success"));
        s->recordClicked();
        QCOMPARE(events.take(), (QStringList { "recording 0", "stopped 0" }));
    }

    // Each reason ends the recording (or the wait) its own way; a fresh armed process replaces the
    // one that recorded, which finishes its file.
    void stopReasons()
    {
        for (const auto& [confirmed, reason, logLine] : { std::tuple { true, Slot::User, QString() },
                 { true, Slot::OutOfSpace, " stopped recording. Reason: Out of space" },
                 { true, Slot::RecorderError, " stopped recording. Reason: Error" }, { false, Slot::User, {} } }) {
            auto s = slot(confirmed);
            s->startRecording();
            Events events(s.get());
            const QProcess* before = s->recorder()->currentProcess();
            LogCapture::clear();
            QCOMPARE(s->stopRecording(reason), QStringLiteral("success"));
            QStringList expected { confirmed ? "recording 0" : "waiting 0", QStringLiteral("stopped %1").arg(reason) };
            if (reason == Slot::OutOfSpace)
                expected.prepend("warning Recording stopped: out of space in " + s->customLocation());
            QCOMPARE(events.take(), expected);
            QCOMPARE(LogCapture::peek().filter("stopped recording"),
                QStringList(!logLine.isEmpty(), QStringLiteral("Slot %1").arg(s->index0()) + logLine));
            QVERIFY(s->recorder()->currentProcess() && s->recorder()->currentProcess() != before);
            QVERIFY(s->stopRecording(reason) != QLatin1String("success") && events.list.isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(movies(s->customLocation()), int(confirmed), 20000);
        }
    }

    // A missing folder is refused with a warning, and no process is armed for it (the other refusals
    // are the commands' answers); viewing only ends a recording and its process.
    void refusals()
    {
        const QString gone = TestEnv::root() + QStringLiteral("/never-made");
        Slot s;
        s.setCustomLocationEnabled(true);
        s.setCustomLocation(gone);
        s.connectSource(QStringLiteral("B"));
        QTRY_VERIFY(s.locations()->folderMissing()); // as its drive said
        const QProcess* process = s.recorder()->currentProcess();
        Events events(&s);
        QVERIFY(s.startRecording() != QLatin1String("success"));
        s.recordClicked();
        QCOMPARE(events.list, QStringList(2, "warning Recording folder does not exist: " + gone));
        QVERIFY(s.recorder()->currentProcess() == process && !s.isWaiting());
        auto recording = slot(true);
        recording->setViewingOnly(true);
        QVERIFY(!recording->isRecording() && !recording->recorder()->currentProcess());
    }

    void bindingRefusedWhileBusy()
    {
        auto s = slot();
        s->startRecording();
        for (int round = 0; round < 2; ++round) { // waiting, then recording
            QVERIFY(s->connectSource(QStringLiteral("B")) != "success" && s->disconnectSource() != "success");
            s->enteredSource(QStringLiteral("B"));
            s->acceptClicked();
            QVERIFY(s->connectedSource() == "A" && waitFor(s.get()));
        }
    }

    void spaceDecisions()
    {
        using A = RecordingRules::SpaceAction;
        const struct {
            bool ab, onB;
            float a, b, fill;
            A forA, forB;
        } rows[] = { // A short: B has 3 of 2.8, B has exactly 2.8, without A/B; A at exactly 2.4 is enough; on B.
            { true, false, 2, 3, 4, A::SwitchToOther, A::None }, { true, false, 2, 2.8f, 4, A::Stop, A::None },
            { false, false, 2, 30, 4, A::Stop, A::None }, { true, false, 2.4f, 0, 4, A::None, A::None },
            { true, true, 2, 30, 4, A::None, A::None },
            // B short: while on A; on B with room on A, and without; without A/B.
            { true, false, 30, 0.5f, 1, A::None, A::None }, { true, true, 30, 0.5f, 1, A::None, A::SwitchToOther },
            { true, true, 0.7f, 0.5f, 1, A::None, A::Stop }, { false, true, 30, 0.5f, 1, A::None, A::None }
        };
        for (const auto& r : rows) {
            QCOMPARE(RecordingRules::spaceAction(false, r.ab, r.onB, r.a, r.b, r.fill), r.forA);
            QCOMPARE(RecordingRules::spaceAction(true, r.ab, r.onB, r.a, r.b, r.fill), r.forB);
        }
        // After a failed write: on to the other location when it has more than a check's worth.
        for (const auto& [ab, other, moves] :
            { std::tuple { true, 0.8f, true }, { true, 0.7f, false }, { false, 500.0f, false } })
            QCOMPARE(RecordingRules::moveOnToOther(ab, other), moves);
    }

    // Carried out: B takes over under the same process, then a short B stops; figures within float
    // noise of the stored ones are no change, and no rule runs while waiting.
    void spaceRulesWhileRecording()
    {
        // Only the figures given here count: with time standing still the drives' own are taken
        // once, before them.
        DriveMonitorProvider::instance()->setClock([] { return qint64(1); });
        const auto thaw = qScopeGuard([] { DriveMonitorProvider::instance()->setClock({}); });
        auto s = slot(true);
        QTRY_VERIFY(s->gigabytesAvailable() != 100000.0f && s->gigabytesBAvailable() > 0.0f);
        const QProcess* process = s->recorder()->currentProcess();
        const QString chop
            = QStringLiteral("<record_chop filename=\"%1/%2\"/>").arg(s->customLocationB(), s->recorder()->fileName());
        s->driveMonitorBUpdated(3.0f, 1.0f);
        s->driveMonitorUpdated(50.0f, 1.0f);
        Events events(s.get());
        s->driveMonitorUpdated(50.0001f, 1000.0f);
        s->driveMonitorBUpdated(3.00001f, 1000.0f);
        QVERIFY(events.list.isEmpty() && s->gigabytesAvailable() == 50.0f);
        s->driveMonitorUpdated(2.0f, 4.0f);
        QCOMPARE(events.take(), QStringList { "B 1" });
        QVERIFY(s->isRecording() && s->recorder()->currentProcess() == process);
        QTRY_VERIFY(trace(process).contains(chop));
        s->driveMonitorBUpdated(1.0f, 4.0f);
        QCOMPARE(events.take(),
            (QStringList {
                "warning Recording stopped: out of space in " + s->customLocationB(), "recording 0", "stopped 1" }));
        s->setAbRecording(false);
        s->startRecording();
        s->driveMonitorUpdated(0.1f, 4.0f);
        QVERIFY(s->isWaiting() && waitFor(s.get()));
    }

    // On a clock of our own; the program confirms again after every split, which must restart
    // neither the schedule nor its count, and a late split keeps the grid of the interval.
    void splitSchedule()
    {
        qint64 now = 5000;
        Slot s;
        s.setMonotonicClock([&now] { return now; });
        const auto split = [&](qint64 at) { now = 5000 + at, s.chopTimerTimeout(), s.recordingStarted(); };
        const auto plan = [&] {
            return QList<qint64> { s.splitCounter(), s.nextSplitDue(),
                s.splitTimer().isActive() ? s.splitTimer().interval() : -1 };
        };
        const auto chop = [](bool on, int minutes) {
            SettingsModel::instance()->setChopEnabled(on), SettingsModel::instance()->setChopMinutes(minutes);
        };
        chop(true, 30);
        const std::pair<std::function<void()>, QList<qint64>> steps[] = {
            { [&] { s.recordingStarted(); }, { 0, 1800000, 1800000 } },
            { [&] { now += 60000, s.recordingStarted(); }, { 0, 1800000, 1800000 } },
            { [&] { split(1805000); }, { 1, 3600000, 1795000 } },
            { [&] { split(5400010); }, { 2, 7200000, 1799990 } }, // the machine slept past 60:00
            { [&] { s.stopRecording(), s.chopTimerTimeout(); }, { 2, 0, -1 } }, // no split follows a stop
            { [&] { s.recordingStarted(), chop(false, 30), split(1800000); },
                { 1, 0, -1 } }, // the pending one, no further
            { [&] { s.stopRecording(), chop(true, 0), s.recordingStarted(); }, { 0, 0, -1 } }
        }; // 0 would split without pause
        for (int i = 0; i < 7; ++i) {
            steps[i].first();
            QCOMPARE(plan(), steps[i].second);
            QCOMPARE(LogCapture::contains(QStringLiteral("Time inconsitency")), i >= 3); // from the late split on
        }
        QVERIFY(LogCapture::contains(QStringLiteral("Slot %1 is splitting recording").arg(s.index0())));
        chop(false, 30);
    }

    // The program killed, stopping by itself (as when it cannot write), the folder gone before a
    // split: the recording goes on in a new piece, on B when the program stopped writing.
    void recordingGoesOn()
    {
        const std::tuple<std::function<void(Slot&)>, QString, bool> rows[] = {
            { [](Slot& s) { s.recorder()->currentProcess()->kill(); }, "recovery", false },
            { [](Slot& s) { s.recorder()->currentProcess()->write("<quit/>\r\n"); }, "location", true },
            { [](Slot& s) { QDir().rename(s.customLocation(), s.customLocation() + "-gone"), s.chopTimerTimeout(); },
                "split", false },
        };
        for (const auto& [fault, reason, onB] : rows) {
            auto s = slot(true);
            const auto pieces = [&s] { return s->continuityRecord() ? s->continuityRecord()->pieces().size() : 0; };
            QTRY_COMPARE_WITH_TIMEOUT(pieces(), 1, 10000);
            QElapsedTimer clock;
            clock.start();
            fault(*s);
            QTRY_COMPARE_WITH_TIMEOUT(pieces(), 2, 20000);
            qInfo("%s: the next piece %lld ms after the fault", qPrintable(reason), clock.elapsed());
            const ContinuityRecord::Piece piece = s->continuityRecord()->pieces().last();
            QCOMPARE(std::pair(piece.reason, QFileInfo(piece.path).absolutePath()),
                std::pair(reason, QDir(onB ? s->customLocationB() : s->customLocation()).absolutePath()));
            QVERIFY(s->isRecording() && s->warning().isEmpty());
        }
    }

    // A source that sends nothing: the slot says so while it waits.
    void silentSourceSaysSo()
    {
        Slot silent;
        silent.connectSource(QStringLiteral("Nobody"));
        NDIRecorder::Limits limits;
        limits.unconfirmed = 500;
        silent.recorder()->setLimits(limits);
        Events silentEvents(&silent);
        silent.startRecording();
        QTRY_COMPARE_WITH_TIMEOUT(silentEvents.list.value(1),
            QStringLiteral("warning Recording has not started yet: no picture and sound from the source"), 20000);
        QCOMPARE(silent.telemetry()->stateValue(), State::Waiting);
    }

    // Three pieces by two splits: no frame lost or doubled, and the record beside the first piece says
    // so, piece by piece, in the files' own frame counts. A new global folder takes the next piece, and
    // the drive being written stays watched until then.
    void splitKeepsEveryFrame()
    {
        const QString before = SettingsModel::instance()->location(),
                      moved = TestEnv::makeFolder(QStringLiteral("moved"));
        Slot s;
        s.connectSource(QStringLiteral("A"));
        s.startRecording();
        QVERIFY(waitFor(&s));
        QElapsedTimer recorded;
        recorded.start();
        for (int piece = 2; piece <= 3; ++piece) {
            QTest::qWait(1500); // material for each piece
            SettingsModel::instance()->setLocation(moved);
            QVERIFY(piece == 3 || s.watchedFolders().first() == before);
            s.chopTimerTimeout();
            QTRY_COMPARE_WITH_TIMEOUT(movies(moved), piece - 1, 20000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.watchedFolders().first(), moved, 20000);
        QTest::qWait(1500);
        const qint64 elapsed = recorded.elapsed();
        QPointer<QProcess> process(s.recorder()->currentProcess());
        s.stopRecording();
        SettingsModel::instance()->setLocation(before);
        QTRY_VERIFY_WITH_TIMEOUT(process.isNull(), 20000); // it finishes its file and goes
        const QJsonObject record = recordOf(s);
        const QJsonArray pieces = record.value("pieces").toArray();
        QVERIFY(pieces.size() == 3 && record.value("gapFrames").toInt(-1) == 0);
        int total = 0;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject piece = pieces.at(i).toObject();
            const E2E::ProbeResult probed = E2E::probe(piece.value("path").toString());
            QVERIFY2(probed.ok && probed.videoFrames > 10 && piece.value("frames").toInt() == probed.videoFrames,
                qPrintable(probed.errors));
            QCOMPARE(piece.value("reason").toString(), i ? "split" : "start");
            total += int(probed.videoFrames);
        }
        QCOMPARE(record.value("frames").toInt(), total);
        QCOMPARE(record.value("droppedFrames").toInt(-1), 0);
        // 25 frames a second, half a second of slack for the start and the stop.
        QVERIFY2(qAbs(total - elapsed * 25 / 1000) <= 13,
            qPrintable(QStringLiteral("%1 frames in %2 ms").arg(total).arg(elapsed)));
    }

    // A program that writes every other frame is seen dropping within 3 s, and the record counts
    // what the file lacks against the time it covers.
    void lostFramesAreCounted()
    {
        qputenv("STAVELIN_RECORDER_WRITE_EVERY", "2");
        auto s = slot();
        QVERIFY(!SlotTest::arguments(*s).isEmpty()); // its program has taken the variable with it
        qunsetenv("STAVELIN_RECORDER_WRITE_EVERY");
        s->startRecording();
        QVERIFY(waitFor(s.get()));
        QTRY_COMPARE_WITH_TIMEOUT(s->stateWord(), QStringLiteral("dropping"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(s->telemetry()->totalFrames() >= 60, 20000);
        QPointer<QProcess> process(s->recorder()->currentProcess());
        s->stopRecording();
        QTRY_VERIFY_WITH_TIMEOUT(process.isNull(), 20000);
        const qint64 counted = recordOf(*s).value("droppedFrames").toInteger();
        const QString path = recordOf(*s).value("pieces").toArray().at(0).toObject().value("path").toString();
        // 25 frames a second; the file keeps a lost frame's time.
        const qint64 lacking = qRound64(E2E::streamTimes(path).video * 25) - E2E::probe(path).videoFrames;
        QVERIFY2(qAbs(counted - lacking) <= 2,
            qPrintable(QStringLiteral("%1 counted, %2 lacking").arg(counted).arg(lacking)));
    }
};

QTEST_GUILESS_MAIN(TestSlotRecording)
#include "tst_slotrecording.moc"
