#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "tests/slots/slottestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace
{

QMutex g_logMutex;
QStringList g_log; // guarded by g_logMutex: log lines arrive from the discovery thread too
QtMessageHandler g_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg) {
        QMutexLocker locker(&g_logMutex);
        g_log << message;
    }
    g_previousHandler(type, context, message);
}

// Lines written since the last call whose text (after the time stamp) ends with one of ours.
QStringList takeLogLines(const QString& containing)
{
    QMutexLocker locker(&g_logMutex);
    QStringList lines;
    for (const QString& line : std::as_const(g_log)) {
        if (line.contains(containing))
            lines << line.mid(20); // "dd.MM.yyyy hh:mm:ss " is 20 characters
    }
    g_log.clear();
    return lines;
}

// The slot's recording-related signals, in order, as short words.
struct EventLog {
    explicit EventLog(Slot* slot)
    {
        QObject::connect(
            slot, &Slot::isWaitingChanged, &context, [this](bool v) { events << QStringLiteral("waiting %1").arg(v); });
        QObject::connect(slot, &Slot::isRecordingChanged, &context,
            [this](bool v) { events << QStringLiteral("recording %1").arg(v); });
        QObject::connect(slot, &Slot::recordingStopped, &context,
            [this](Slot::StopReason r) { events << QStringLiteral("stopped %1").arg(int(r)); });
        QObject::connect(slot, &Slot::recordingWarning, &context,
            [this](const QString& m) { events << QStringLiteral("warning ") + m; });
        QObject::connect(slot, &Slot::locationBSelectedChanged, &context,
            [this](bool v) { events << QStringLiteral("locationB %1").arg(v); });
    }
    QStringList take() { return std::exchange(events, QStringList()); }
    QObject context;
    QStringList events;
};

QString traceOf(const QProcess* process)
{
    QFile file(TestEnv::root() + QStringLiteral("/trace-%1.txt").arg(process ? process->processId() : 0));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList movies(const QString& folder)
{
    return QDir(folder).entryList({ QStringLiteral("*.mov") }, QDir::Files, QDir::Name);
}

// -1 when the file cannot be read (yet).
int frameCount(const QString& path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
            QStringLiteral("-count_frames"), QStringLiteral("-show_entries"), QStringLiteral("stream=nb_read_frames"),
            QStringLiteral("-of"), QStringLiteral("csv=p=0"), path });
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return -1;
    bool ok = false;
    const int frames = probe.readAllStandardOutput().trimmed().toInt(&ok);
    return ok ? frames : -1;
}

constexpr int StartTimeout = 20000;

} // namespace

class TestSlotRecording : public QObject
{
    Q_OBJECT

private:
    SourcesModel m_sources;
    QString m_folderA;
    QString m_folderB;
    int m_folders = 0;

    // A bound slot recording into folders of its own.
    std::unique_ptr<Slot> boundSlot(QString* folder = nullptr, QString* folderB = nullptr)
    {
        auto slot = std::make_unique<Slot>();
        const QString a = TestEnv::makeFolder(QStringLiteral("a%1").arg(++m_folders));
        const QString b = TestEnv::makeFolder(QStringLiteral("b%1").arg(m_folders));
        slot->setCustomLocationEnabled(true);
        slot->setCustomLocation(a);
        slot->setCustomLocationB(b);
        slot->connectSource(QStringLiteral("A"));
        if (folder)
            *folder = a;
        if (folderB)
            *folderB = b;
        return slot;
    }

    bool waitForRecording(Slot* slot)
    {
        return QTest::qWaitFor([slot] { return slot->isRecording(); }, StartTimeout);
    }

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUpApplication();
        SlotTest::setUpNetwork({ QStringLiteral("A"), QStringLiteral("B") });
        SlotTest::clearStore();
        qputenv("NDI_RECORD_TRACE", QFile::encodeName(TestEnv::root() + QStringLiteral("/trace-{pid}.txt")));
        if (!SlotTest::recordingProgramExists())
            QSKIP("the recording program has not been built");
        m_folderA = TestEnv::makeFolder(QStringLiteral("a"));
        m_folderB = TestEnv::makeFolder(QStringLiteral("b"));
        SettingsModel::instance()->setLocation(m_folderA);
        SettingsModel::instance()->setLocationB(m_folderB);
        SettingsModel::instance()->setAbRecording(true);
        SettingsModel::instance()->setChopEnabled(false);
        Slot::setStandardGain(-20.0f);
        m_sources.sourceAdded(QStringLiteral("A"));
        Slot::setSourcesModel(&m_sources);
        g_previousHandler = qInstallMessageHandler(&captureMessages);
    }

    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }

    void init() { takeLogLines(QString()); }

    void startIsConfirmedByTheProgram()
    {
        auto slot = boundSlot();
        slot->setAudioGain(-3.5f);
        EventLog log(slot.get());
        const QProcess* process = slot->recorder()->currentProcess();
        QCOMPARE(slot->startRecording(), QStringLiteral("success"));
        QCOMPARE(log.events, QStringList { "waiting 1" });
        QVERIFY(!slot->isRecording());
        QVERIFY(waitForRecording(slot.get()));
        QCOMPARE(log.take(), (QStringList { "waiting 1", "recording 1", "waiting 0" }));
        QVERIFY(slot->recordingStartTime().isValid());
        QVERIFY(!slot->splitTimer().isActive());
        // The level goes out before the start, as standard gain plus the slot's gain.
        const QString trace = traceOf(process);
        QVERIFY2(trace.contains(QStringLiteral("<record_level gain=\"-23.5\"/>\r\n<start/>\r\n")), qPrintable(trace));
        // Starting again is refused while recording.
        QCOMPARE(slot->startRecording(), QStringLiteral("Already recording"));
        QCOMPARE(log.events, QStringList());
    }

    void stopReasons_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<Slot::StopReason>("reason");
        QTest::addColumn<QString>("logLine");
        QTest::addRow("user") << true << Slot::User << QString();
        QTest::addRow("out of space") << true << Slot::OutOfSpace << "stopped recording. Reason: Out of space";
        QTest::addRow("recorder error") << true << Slot::RecorderError << "stopped recording. Reason: Error";
        QTest::addRow("user, still waiting") << false << Slot::User << QString();
    }
    void stopReasons()
    {
        QFETCH(bool, confirmed);
        QFETCH(Slot::StopReason, reason);
        QFETCH(QString, logLine);
        QString folder;
        auto slot = boundSlot(&folder);
        slot->startRecording();
        if (confirmed)
            QVERIFY(waitForRecording(slot.get()));
        EventLog log(slot.get());
        const QProcess* before = slot->recorder()->currentProcess();
        takeLogLines(QString());
        QCOMPARE(slot->stopRecording(reason), QStringLiteral("success"));
        const QString stateEvent = confirmed ? QStringLiteral("recording 0") : QStringLiteral("waiting 0");
        QStringList expected { stateEvent, QStringLiteral("stopped %1").arg(int(reason)) };
        if (reason == Slot::OutOfSpace)
            expected << QStringLiteral("warning Recording stopped: out of space in ") + folder;
        QCOMPARE(log.take(), expected);
        const QStringList lines = takeLogLines(QStringLiteral("stopped recording"));
        if (logLine.isEmpty())
            QCOMPARE(lines, QStringList());
        else
            QCOMPARE(lines, QStringList { QStringLiteral("Slot %1 ").arg(slot->index0()) + logLine });
        // A fresh armed process replaces the one that recorded.
        QVERIFY(slot->recorder()->currentProcess());
        QVERIFY(slot->recorder()->currentProcess() != before);
        QCOMPARE(slot->stopRecording(reason), QStringLiteral("Slot is not recording"));
        QCOMPARE(log.events, QStringList());
        if (confirmed)
            QTRY_COMPARE_WITH_TIMEOUT(movies(folder).size(), 1, StartTimeout);
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("bound");
        QTest::addColumn<bool>("viewingOnly");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addRow("unbound") << false << false << "Slot not connected to any source"
                                 << "Slot is not recording";
        QTest::addRow("unbound, viewing only") << false << true << "Slot not connected to any source"
                                               << "Slot is not recording";
        QTest::addRow("bound, viewing only") << true << true << "Slot set to viewing only"
                                             << "Slot is not recording";
    }
    void refusals()
    {
        QFETCH(bool, bound);
        QFETCH(bool, viewingOnly);
        QFETCH(QString, start);
        QFETCH(QString, stop);
        Slot slot;
        slot.setViewingOnly(viewingOnly);
        if (bound)
            slot.connectSource(QStringLiteral("A"));
        EventLog log(&slot);
        QCOMPARE(slot.startRecording(), start);
        QCOMPARE(slot.stopRecording(), stop);
        slot.recordClicked();
        QCOMPARE(log.events, QStringList());
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
    }

    void bindingIsRefusedWhileBusy()
    {
        auto slot = boundSlot();
        slot->startRecording();
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(slot->connectSource(QStringLiteral("B")), QStringLiteral("Recording in progress"));
            QCOMPARE(slot->disconnectSource(), QStringLiteral("Recording in progress"));
            slot->enteredSource(QStringLiteral("B"));
            slot->acceptClicked();
            slot->disconnectClicked();
            QCOMPARE(slot->connectedSource(), QStringLiteral("A"));
            QVERIFY(slot->isConnected());
            QVERIFY(waitForRecording(slot.get()));
        }
        QVERIFY(slot->isRecording());
    }

    void waitingAndStartAgain()
    {
        auto slot = boundSlot();
        EventLog log(slot.get());
        QCOMPARE(slot->startRecording(), QStringLiteral("success"));
        QCOMPARE(slot->startRecording(), QStringLiteral("success"));
        QCOMPARE(log.events, QStringList { "waiting 1" });
        QVERIFY(waitForRecording(slot.get()));
    }

    void recordClickedToggles()
    {
        auto slot = boundSlot();
        EventLog log(slot.get());
        slot->recordClicked();
        QCOMPARE(log.take(), QStringList { "waiting 1" });
        slot->recordClicked();
        QCOMPARE(log.take(), QStringList { "waiting 0" });
        slot->recordClicked();
        QVERIFY(waitForRecording(slot.get()));
        QCOMPARE(log.take(), (QStringList { "waiting 1", "recording 1", "waiting 0" }));
        slot->recordClicked();
        QCOMPARE(log.take(), QStringList { "recording 0" });
        QCOMPARE(takeLogLines(QStringLiteral("stopped recording")), QStringList());
    }

    void spaceDecisions_data()
    {
        QTest::addColumn<bool>("ab");
        QTest::addColumn<bool>("onB");
        QTest::addColumn<float>("a");
        QTest::addColumn<float>("b");
        QTest::addColumn<float>("fillRate");
        QTest::addColumn<int>("forA");
        QTest::addColumn<int>("forB");
        const int none = int(RecordingRules::SpaceAction::None);
        const int other = int(RecordingRules::SpaceAction::SwitchToOther);
        const int stop = int(RecordingRules::SpaceAction::Stop);
        QTest::addRow("A short, B has 3 of 2.8: switch") << true << false << 2.0f << 3.0f << 4.0f << other << none;
        QTest::addRow("A short, B has exactly 2.8: stop") << true << false << 2.0f << 2.8f << 4.0f << stop << none;
        QTest::addRow("A short without A/B: stop") << false << false << 2.0f << 30.0f << 4.0f << stop << none;
        QTest::addRow("A at exactly 2.4: enough") << true << false << 2.4f << 0.0f << 4.0f << none << none;
        QTest::addRow("A short while on B: nothing") << true << true << 2.0f << 30.0f << 4.0f << none << none;
        QTest::addRow("B short while on A: nothing") << true << false << 30.0f << 0.5f << 1.0f << none << none;
        QTest::addRow("B short while on B, A has room: back") << true << true << 30.0f << 0.5f << 1.0f << none << other;
        QTest::addRow("B short while on B, A short: stop") << true << true << 0.7f << 0.5f << 1.0f << none << stop;
        QTest::addRow("B short without A/B: nothing") << false << true << 30.0f << 0.5f << 1.0f << none << none;
    }
    void spaceDecisions()
    {
        QFETCH(bool, ab);
        QFETCH(bool, onB);
        QFETCH(float, a);
        QFETCH(float, b);
        QFETCH(float, fillRate);
        QFETCH(int, forA);
        QFETCH(int, forB);
        QCOMPARE(int(RecordingRules::spaceAction(false, ab, onB, a, b, fillRate)), forA);
        QCOMPARE(int(RecordingRules::spaceAction(true, ab, onB, a, b, fillRate)), forB);
    }

    void spaceRulesWhileRecording_data()
    {
        QTest::addColumn<bool>("ab");
        QTest::addColumn<float>("b");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("switched");
        QTest::addRow("switch to B") << true << 3.0f << QStringList { "locationB 1" } << true;
        const QStringList stop { "recording 0", "stopped 1", "warning Recording stopped: out of space in A" };
        QTest::addRow("B too small: stop") << true << 2.8f << stop << false;
        QTest::addRow("A/B off: stop") << false << 30.0f << stop << false;
    }
    void spaceRulesWhileRecording()
    {
        QFETCH(bool, ab);
        QFETCH(float, b);
        QFETCH(QStringList, events);
        QFETCH(bool, switched);
        QString folderA;
        QString folderB;
        auto slot = boundSlot(&folderA, &folderB);
        slot->setAbRecording(ab);
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        const QProcess* process = slot->recorder()->currentProcess();
        const QString fileName = slot->recorder()->fileName();
        slot->driveMonitorBUpdated(b, 1.0f);
        EventLog log(slot.get());
        QSignalSpy gigabytes(slot.get(), &Slot::gigabytesAvailableChanged);
        takeLogLines(QString());
        slot->driveMonitorUpdated(2.0f, 4.0f);
        QCOMPARE(log.take().replaceInStrings(folderA, QStringLiteral("A")), events);
        QCOMPARE(gigabytes.count(), 1);
        QCOMPARE(gigabytes.at(0).at(0).toFloat(), 2.0f);
        QCOMPARE(slot->isRecording(), switched);
        QCOMPARE(slot->locationBSelected(), switched);
        if (switched) {
            // The running recording goes on in B's folder, under the same process.
            QCOMPARE(slot->currentFolder(), folderB);
            QCOMPARE(slot->recorder()->currentProcess(), process);
            const QString chop = QStringLiteral("<record_chop filename=\"%1/%2\"/>").arg(folderB, fileName);
            QTRY_VERIFY2(traceOf(process).contains(chop), qPrintable(traceOf(process)));
            // B short as well while on B, and A has no room: stop.
            slot->driveMonitorBUpdated(1.0f, 4.0f);
            QCOMPARE(log.take(),
                (QStringList { "recording 0", "stopped 1", "warning Recording stopped: out of space in " + folderB }));
        } else {
            QCOMPARE(takeLogLines(QStringLiteral("stopped recording")),
                QStringList { QStringLiteral("Slot %1 stopped recording. Reason: Out of space").arg(slot->index0()) });
        }
        slot->setAbRecording(true);
    }

    void equalFiguresDoNothing()
    {
        auto slot = boundSlot();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        slot->driveMonitorUpdated(50.0f, 1.0f);
        QSignalSpy spyA(slot.get(), &Slot::gigabytesAvailableChanged);
        QSignalSpy spyB(slot.get(), &Slot::gigabytesBAvailableChanged);
        // Within float noise of the stored figure: not a change, and no rule runs even though the
        // fill rate would call for a stop.
        slot->driveMonitorUpdated(50.000001f, 1000.0f);
        slot->setGigabytesAvailable(50.0f, 1000.0f);
        QCOMPARE(spyA.count(), 0);
        QVERIFY(slot->isRecording());
        slot->driveMonitorBUpdated(slot->gigabytesBAvailable(), 1000.0f);
        QCOMPARE(spyB.count(), 0);
    }

    void waitingDoesNotCountForSpace()
    {
        auto slot = boundSlot();
        slot->setAbRecording(false);
        slot->startRecording();
        // Before the event loop can deliver the confirmation.
        slot->driveMonitorUpdated(0.1f, 4.0f);
        QVERIFY(slot->isWaiting());
        QVERIFY(waitForRecording(slot.get()));
        slot->setAbRecording(true);
    }

    void splitSchedule()
    {
        SettingsModel::instance()->setChopMinutes(30);
        SettingsModel::instance()->setChopEnabled(true);
        qint64 now = 1000000;
        auto slot = boundSlot();
        slot->setMonotonicClock([&now] { return now; });
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        const QProcess* process = slot->recorder()->currentProcess();
        QVERIFY(slot->splitTimer().isActive());
        QCOMPARE(slot->splitTimer().interval(), 1800000);
        QCOMPARE(slot->nextSplitDue(), 1800000);
        takeLogLines(QString());

        // Due at 30:00, fired 5 s late: the next one stays at 60:00.
        now += 1805000;
        slot->chopTimerTimeout();
        QCOMPARE(slot->splitCounter(), quint16(1));
        QCOMPARE(slot->nextSplitDue(), 3600000);
        QCOMPARE(slot->splitTimer().interval(), 1795000);
        QVERIFY(slot->splitTimer().isActive());
        const QString splitLine = QStringLiteral("Slot %1 is splitting recording").arg(slot->index0());
        QCOMPARE(takeLogLines(QStringLiteral("splitting")), QStringList { splitLine });
        QTRY_VERIFY(traceOf(process).contains(QStringLiteral("<record_chop filename=")));

        // The 60:00 split fires after 90:00 (the machine slept): the next is at 120:00.
        now = 1000000 + 5400010;
        slot->chopTimerTimeout();
        QCOMPARE(slot->splitCounter(), quint16(2));
        QCOMPARE(slot->nextSplitDue(), 7200000);
        QCOMPARE(slot->splitTimer().interval(), 1799990);
        QCOMPARE(takeLogLines(QStringLiteral("inconsitency")), QStringList { QStringLiteral("Time inconsitency") });

        // Splitting turned off: the pending split happens, no further one is planned.
        SettingsModel::instance()->setChopEnabled(false);
        now = 1000000 + 7200000;
        slot->chopTimerTimeout();
        QCOMPARE(slot->splitCounter(), quint16(3));
        QVERIFY(!slot->splitTimer().isActive());
        QCOMPARE(takeLogLines(QStringLiteral("splitting")), QStringList { splitLine });
        // The program confirms every new file; that must not restart the schedule.
        QVERIFY(slot->isRecording());

        // Stopping with a split pending: no split follows.
        SettingsModel::instance()->setChopEnabled(true);
        slot->stopRecording();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        QVERIFY(slot->splitTimer().isActive());
        slot->stopRecording();
        QVERIFY(!slot->splitTimer().isActive());
        slot->chopTimerTimeout();
        QCOMPARE(takeLogLines(QStringLiteral("splitting")), QStringList());
        SettingsModel::instance()->setChopEnabled(false);
    }

    void confirmationOnlyCountsOnce()
    {
        SettingsModel::instance()->setChopMinutes(30);
        SettingsModel::instance()->setChopEnabled(true);
        qint64 now = 5000;
        Slot slot;
        slot.setMonotonicClock([&now] { return now; });
        // The program confirms again after every split; the schedule keeps its start.
        slot.recordingStarted();
        const QDateTime started = slot.recordingStartTime();
        now += 60000;
        slot.recordingStarted();
        QCOMPARE(slot.recordingStartTime(), started);
        QCOMPARE(slot.nextSplitDue(), 1800000);
        QCOMPARE(slot.splitTimer().interval(), 1800000);
        slot.stopRecording();
        QVERIFY(!slot.splitTimer().isActive());

        // Zero minutes would split without pause: no schedule at all.
        SettingsModel::instance()->setChopMinutes(0);
        slot.recordingStarted();
        QVERIFY(slot.isRecording());
        QVERIFY(!slot.splitTimer().isActive());
        QCOMPARE(slot.nextSplitDue(), 0);
        slot.stopRecording();
        SettingsModel::instance()->setChopMinutes(30);
        SettingsModel::instance()->setChopEnabled(false);
    }

    void viewingOnlyEndsARecording()
    {
        auto slot = boundSlot();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        EventLog log(slot.get());
        slot->setViewingOnly(true);
        QCOMPARE(log.take(), QStringList { "recording 0" });
        QCOMPARE(slot->recorder()->currentProcess(), nullptr);
        QCOMPARE(slot->startRecording(), QStringLiteral("Slot set to viewing only"));
    }

    void splitDueTimes_data()
    {
        QTest::addColumn<qint64>("lastDue");
        QTest::addColumn<qint64>("interval");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<qint64>("due");
        const qint64 half = 1800000;
        QTest::addRow("on time") << half << half << half << 2 * half;
        QTest::addRow("late within the interval") << half << half << half + 5000 << 2 * half;
        QTest::addRow("exactly at the next due time") << half << half << 2 * half << 2 * half;
        QTest::addRow("past the next due time") << half << half << 3 * half + 10 << 4 * half;
        QTest::addRow("early (timer coarseness)") << half << half << half - 900 << 2 * half;
        // Across midnight nothing special happens: the clock is monotonic, 23:50 start, day 2.
        QTest::addRow("a day later") << 48 * half << half << 48 * half + 1 << 49 * half;
    }
    void splitDueTimes()
    {
        QFETCH(qint64, lastDue);
        QFETCH(qint64, interval);
        QFETCH(qint64, now);
        QFETCH(qint64, due);
        QCOMPARE(RecordingRules::nextSplitDueAfter(lastDue, interval, now), due);
    }

    void killedProcessReturnsToIdle()
    {
        auto slot = boundSlot();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        EventLog log(slot.get());
        slot->recorder()->currentProcess()->kill();
        QTRY_VERIFY_WITH_TIMEOUT(!slot->isRecording(), StartTimeout);
        QCOMPARE(log.take(),
            (QStringList { "warning The recording program stopped during the recording", "recording 0", "stopped 2" }));
        QCOMPARE(slot->telemetry()->stateValue(), RecordingTelemetry::State::Failed);
        // The next press arms a fresh process instead of waiting for a dead one.
        slot->recordClicked();
        QVERIFY(waitForRecording(slot.get()));
    }

    void endOfAnOldProcessLeavesTheNewRecording()
    {
        auto slot = boundSlot();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        QPointer<QProcess> old(slot->recorder()->currentProcess());
        slot->stopRecording();
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        EventLog log(slot.get());
        // The process told to quit finishes its file and exits while the new recording runs.
        QTRY_VERIFY_WITH_TIMEOUT(old.isNull(), StartTimeout);
        QVERIFY(slot->isRecording());
        QCOMPARE(log.events, QStringList());
        // The current process ending on its own does end the recording.
        slot->recorder()->currentProcess()->write("<quit/>\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(!slot->isRecording(), StartTimeout);
        QCOMPARE(log.take(),
            (QStringList {
                "warning Recording stopped: the recording program stopped writing", "recording 0", "stopped 2" }));
    }

    void programThatCannotStart()
    {
        NDIRecorder::setProgramFolder(TestEnv::makeFolder(QStringLiteral("no-program")));
        Slot slot;
        EventLog log(&slot);
        slot.connectSource(QStringLiteral("A"));
        QTRY_VERIFY_WITH_TIMEOUT(!log.events.isEmpty(), StartTimeout);
        QVERIFY2(log.events.first().startsWith(QStringLiteral("warning ")), qPrintable(log.events.join('|')));
        log.take();
        QCOMPARE(slot.startRecording(), QStringLiteral("success"));
        QVERIFY(slot.isWaiting());
        QTRY_VERIFY_WITH_TIMEOUT(!slot.isWaiting(), StartTimeout);
        const QStringList events = log.take();
        QCOMPARE(events.value(0), QStringLiteral("waiting 1"));
        QCOMPARE(events.value(1), QStringLiteral("waiting 0"));
        QVERIFY2(events.value(2).startsWith(QStringLiteral("warning ")), qPrintable(events.join('|')));
        QVERIFY(!slot.isRecording());
        NDIRecorder::setProgramFolder(TestEnv::binDir());
    }

    // Starts that cannot record say why, at once or after a few seconds, and never pass silently.
    void startsThatCannotRecordSaySo()
    {
        auto slot = boundSlot();
        slot->setCustomLocation(TestEnv::root() + QStringLiteral("/never-made"));
        slot->connectSource(QStringLiteral("B"));
        EventLog log(slot.get());
        QCOMPARE(slot->startRecording(), QStringLiteral("Recording folder does not exist"));
        QCOMPARE(
            log.take(), QStringList { "warning Recording folder does not exist: " + TestEnv::root() + "/never-made" });
        QVERIFY(!slot->isWaiting());

        Slot silent;
        silent.setCustomLocationEnabled(true);
        silent.setCustomLocation(TestEnv::makeFolder(QStringLiteral("silent")));
        silent.connectSource(QStringLiteral("Nobody"));
        NDIRecorder::Limits limits;
        limits.unconfirmed = 500;
        silent.recorder()->setLimits(limits);
        EventLog silentLog(&silent);
        QCOMPARE(silent.startRecording(), QStringLiteral("success"));
        QTRY_COMPARE_WITH_TIMEOUT(silentLog.events.value(1),
            QStringLiteral("warning Recording has not started yet: no picture and sound from the source"),
            StartTimeout);
        QCOMPARE(silent.telemetry()->stateValue(), RecordingTelemetry::State::Waiting);
    }

    // A stored choice of B means nothing while A/B is off: such a slot records to A.
    void abOffRecordsToA()
    {
        QString folderA;
        auto slot = boundSlot(&folderA);
        slot->setAbRecording(false);
        slot->setLocationBSelected(true);
        QCOMPARE(slot->currentFolder(), folderA);
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        QCOMPARE(QFileInfo(slot->recorder()->currentProcess()->arguments().at(3)).absolutePath(), folderA);
        slot->setAbRecording(true);
    }

    // A new global folder while recording: the drive being written stays watched until the
    // recording's next piece lies on the new one.
    void newGlobalFolderWatchedFromTheNextPiece()
    {
        auto slot = std::make_unique<Slot>();
        slot->connectSource(QStringLiteral("A"));
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        const QString moved = TestEnv::makeFolder(QStringLiteral("moved"));
        SettingsModel::instance()->setLocation(moved);
        slot->setDefaultLocation(moved);
        QCOMPARE(slot->watchedFolders().first(), m_folderA);
        slot->chopTimerTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(movies(moved).size(), 1, StartTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(slot->watchedFolders().first(), moved, StartTimeout);
        slot->stopRecording();
        SettingsModel::instance()->setLocation(m_folderA);
    }

    // Three pieces by two splits: no frame lost or doubled, and the record beside the first piece
    // says so, piece by piece, in the files' own frame counts.
    void splitRecordingKeepsEveryFrame()
    {
        QString folder;
        auto slot = boundSlot(&folder);
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        QElapsedTimer recorded;
        recorded.start();
        for (int piece = 2; piece <= 3; ++piece) {
            // The recording's length, not a proof of anything: the files are checked afterwards.
            QTest::qWait(1500);
            slot->chopTimerTimeout();
            QTRY_COMPARE_WITH_TIMEOUT(movies(folder).size(), piece, StartTimeout);
        }
        QTest::qWait(1500);
        const qint64 elapsed = recorded.elapsed();
        // The stopped process finishes its file by itself and then goes away.
        QPointer<QProcess> recording(slot->recorder()->currentProcess());
        slot->stopRecording();
        QTRY_VERIFY_WITH_TIMEOUT(recording.isNull(), StartTimeout);

        const QStringList files = movies(folder);
        QCOMPARE(files.size(), 3);
        QFile file(slot->continuityRecord()->filePath());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(record.value(QLatin1String("stopReason")).toString(), QStringLiteral("user"));
        QCOMPARE(record.value(QLatin1String("gapFrames")).toInt(-1), 0);
        const QJsonArray pieces = record.value(QLatin1String("pieces")).toArray();
        QCOMPARE(pieces.size(), 3);
        int total = 0;
        QStringList figures;
        QStringList named;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject piece = pieces.at(i).toObject();
            const QString path = piece.value(QLatin1String("path")).toString();
            named << QFileInfo(path).fileName();
            QCOMPARE(piece.value(QLatin1String("reason")).toString(), i == 0 ? "start" : "split");
            QCOMPARE(piece.value(QLatin1String("gapFrames")).toInt(-1), 0);
            const int frames = frameCount(path);
            figures << QStringLiteral("%1 (record %2)").arg(frames).arg(piece.value(QLatin1String("frames")).toInt());
            QVERIFY2(frames > 10, qPrintable(figures.join(QStringLiteral(" + "))));
            QCOMPARE(piece.value(QLatin1String("frames")).toInt(), frames);
            total += frames;
        }
        named.sort();
        QCOMPARE(named, files);
        QCOMPARE(record.value(QLatin1String("frames")).toInt(), total);
        // 25 frames a second (half a second of slack for the start and the stop).
        const int expected = int(elapsed * 25 / 1000);
        qInfo("frames per piece %s for %lld ms", qPrintable(figures.join(QStringLiteral(" + "))), elapsed);
        QVERIFY2(
            qAbs(total - expected) <= 13, qPrintable(QStringLiteral("%1 frames for %2 ms").arg(total).arg(elapsed)));
    }

    // A split into a folder that has gone: the program cannot write and says so; the slot must not
    // go on showing a recording.
    void folderGoneAtSplitStopsVisibly()
    {
        QString folder;
        auto slot = boundSlot(&folder);
        slot->startRecording();
        QVERIFY(waitForRecording(slot.get()));
        QVERIFY(QDir().rename(folder, folder + QStringLiteral("-gone")));
        EventLog log(slot.get());
        slot->chopTimerTimeout();
        QTRY_VERIFY_WITH_TIMEOUT(!slot->isRecording(), StartTimeout);
        const QStringList events = log.take();
        // The program's own reason first, then the stop.
        QVERIFY2(events.size() >= 3 && events.at(events.size() - 3).startsWith("warning Recording stopped: "),
            qPrintable(events.join('|')));
        QCOMPARE(events.mid(events.size() - 2), (QStringList { "recording 0", "stopped 2" }));
        QCOMPARE(slot->telemetry()->stateValue(), RecordingTelemetry::State::Failed);
        QVERIFY(slot->telemetry()->warning().startsWith(QStringLiteral("Recording stopped: ")));
    }
};

QTEST_GUILESS_MAIN(TestSlotRecording)
#include "tst_slotrecording.moc"
