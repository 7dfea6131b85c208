// Process control of the recording program: reports through a scripted shell program, the rest
// with the real program, whose NDI_RECORD_TRACE holds every byte it was sent.
#include "ndi/ndifind.h"
#include "recording/ndirecorder.h"
#include "slots/continuityrecord.h"
#include "tests/common/simnetwork.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <sys/resource.h>

namespace
{

// Every signal of a controller as one ordered list of words.
struct SignalLog : QObject {
    explicit SignalLog(NDIRecorder* r)
    {
        connect(r, &NDIRecorder::recordingStarted, this, [this] { events << "started"; });
        connect(r, &NDIRecorder::recordingError, this, [this](NDIRecorder::RecordingError e, const QString& m) {
            events << QStringLiteral("error %1 %2").arg(int(e)).arg(m);
        });
        connect(r, &NDIRecorder::processFinished, this, [this] { events << "finished"; });
        connect(r, &NDIRecorder::processCrashed, this, [this] { events << "crashed"; });
    }
    QStringList events;
};

QByteArray traceOf(qint64 pid)
{
    QFile file(TestEnv::root() + QStringLiteral("/trace-%1.bin").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 startAndWait(NDIRecorder& recorder, const QString& source)
{
    recorder.start(source);
    QProcess* process = recorder.currentProcess();
    return process && process->waitForStarted(10000) ? process->processId() : -1;
}

} // namespace

class TestNDIRecorder : public QObject
{
    Q_OBJECT

    QString m_fake;
    static QString longName() { return QString::fromUtf8("\xf0\x9f\x8e\xa5").repeated(70); } // 280 bytes

private Q_SLOTS:
    void initTestCase()
    {
        LogCapture::install();
        NdiSim::use({ NdiSim::source("R&D (Cam 2)", NdiSim::video(320, 180), NdiSim::tone(0.5), "127.0.0.1:7002"),
            NdiSim::small(longName()) });
        qputenv("NDI_RECORD_TRACE", (TestEnv::root() + "/trace-{pid}.bin").toLocal8Bit());
        // The scripted program runs $ON_START at each <start/> and $ON_QUIT before it quits.
        m_fake = TestEnv::makeFolder("fake");
        QFile script(m_fake + "/" + NDIRecorder::programFileName());
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nwhile IFS= read -r l; do case \"$l\" in\n\"<start/>\"*) eval \"$ON_START\";;\n"
                     "\"<quit/>\"*) eval \"$ON_QUIT\"; exit 0;;\nesac; done\n");
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        QTRY_COMPARE_WITH_TIMEOUT(
            NDIFind::instance()->urlAddress("R&D (Cam 2)"), QStringLiteral("127.0.0.1:7002"), 10000);
    }

    void init() { NDIRecorder::setProgramFolder(TestEnv::binDir()); }

    // What the program prints after <start/>, and the controller's signals for it; a final error
    // shows that rows expecting nothing got nothing.
    void reports_data()
    {
        QTest::addColumn<QByteArray>("onStart");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const char* onStart, const QStringList& events) {
            QTest::newRow(name) << QByteArray(onStart) << events;
        };
        row("started, CR LF", "printf '<record_started filename=\"a.mov\"/>\\r\\n'", { "started" });
        row("error", "echo '<record_error error=\"Disk &amp; folder\"/>'", { "error 0 Disk & folder" });
        row("delay element", "echo '<record_delayed message=\"Something delayed everything.\"/>'", { "error 1 " });
        row("started wins", "echo '<record_started/> Something delayed everything.'", { "started" });
        row("other case", "echo 'something delayed everything.'", {});
        row("two in one write", "printf '<record_started/>\\n<record_error error=\"x\"/>\\n'",
            { "started", "error 0 x" });
        row("split across reads", "printf '<record_sta'; sleep 0.5; echo 'rted/>'", { "started" });
        row("exits", "echo '<record_started/>'; exit 0", { "started", "finished" });
    }

    void reports()
    {
        QFETCH(QByteArray, onStart);
        QFETCH(QStringList, events);
        NDIRecorder::setProgramFolder(m_fake);
        qputenv("ON_START", onStart + "; echo '<record_error error=\"end\"/>'");
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, "Nobody") > 0);
        recorder.startRecording();
        if (!events.endsWith("finished") && !events.endsWith("crashed"))
            events << "error 0 end";
        QTRY_COMPARE(log.events, events);
    }

    // A name too long for a file name records under a shortened one (cut on a character's end, as the
    // rules say), beside which the continuity record fits as well; the log says so.
    void longSourceNameRecords()
    {
        const QString source = longName();
        NDIRecorder recorder;
        recorder.setFolder(TestEnv::makeFolder("long"));
        QSignalSpy pieces(&recorder, &NDIRecorder::pieceStarted);
        recorder.start(source);
        recorder.startRecording();
        QVERIFY(pieces.wait(20000));
        const QString path = pieces.at(0).at(1).toString(), name = QFileInfo(path).fileName();
        QVERIFY(name.startsWith(NDIRecorder::fileNamePart(source) + '_') && QFile::exists(path));
        QVERIFY(QFile(ContinuityRecord::recordPathFor(path)).open(QIODevice::WriteOnly));
        QVERIFY(LogCapture::contains(
            QStringLiteral("The source name %1 is too long for a file name; its files are named %2")
                .arg(source, name)));
    }

    // A program that cannot be started says why when it is armed, and again to whoever waits for
    // the recording to start: missing (or no program at all), or short of file descriptors.
    void programThatDoesNotStart_data()
    {
        QTest::addColumn<int>("kind"); // 0 missing, 1 not executable, 2 no descriptor free
        QTest::addRow("missing") << 0;
        QTest::addRow("not executable") << 1;
        QTest::addRow("no file descriptors") << 2;
    }

    void programThatDoesNotStart()
    {
        QFETCH(int, kind);
        const QString folder = kind == 2 ? TestEnv::binDir() : TestEnv::makeFolder(kind ? "unstartable" : "empty");
        const QString path = QDir::toNativeSeparators(folder + "/" + NDIRecorder::programFileName());
        if (kind == 1) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0);
        }
        NDIRecorder::setProgramFolder(folder);
        NDIRecorder recorder;
        SignalLog log(&recorder);
        rlimit saved {}, none {};
        ::getrlimit(RLIMIT_NOFILE, &saved), none.rlim_max = saved.rlim_max;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, kind == 2 ? &none : &saved), 0);
        recorder.start("R&D (Cam 2)");
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QTRY_COMPARE(log.events.size(), 2);
        recorder.startRecording();
        const QString reason = kind == 2
            ? "error 0 The recording program could not be started (" + path + "): Too many open files"
            : "error 0 Recording program not found: " + path;
        QTRY_COMPARE(log.events, QStringList({ "crashed", reason, reason }));
    }

    // A process told to quit no longer speaks for the controller, whatever it does meanwhile.
    void processToldToQuitIsNotReported()
    {
        NDIRecorder::setProgramFolder(m_fake);
        qputenv("ON_START", "echo '<record_started/>'");
        qputenv("ON_QUIT", "echo '<record_error error=\"late\"/>'; kill -9 $$");
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, "Nobody") > 0);
        QPointer<QProcess> first = recorder.currentProcess();
        recorder.startRecording();
        QTRY_COMPARE(log.events, QStringList { "started" });
        recorder.restart();
        QVERIFY(recorder.currentProcess() != first && !recorder.isRecordingStarted());
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 10000); // deleted once it has exited
        QCOMPARE(log.events, QStringList { "started" });
        qunsetenv("ON_QUIT");
    }

    // A second start, and a chop before recording, each arm a new process and quit the old one
    // once, as does the controller's end; armed processes write nothing. The program gets the
    // source's address.
    void rearmingQuitsThePreviousOnce()
    {
        const QString a = TestEnv::makeFolder("rearm-a"), b = TestEnv::makeFolder("rearm-b");
        QList<qint64> pids;
        QList<QPointer<QProcess>> processes;
        {
            NDIRecorder recorder;
            SignalLog log(&recorder);
            recorder.setFolder(a);
            for (int i = 0; i < 3; ++i) {
                if (i < 2)
                    recorder.start("R&D (Cam 2)");
                else
                    recorder.chop(b);
                QVERIFY(recorder.currentProcess() && recorder.currentProcess()->waitForStarted(10000));
                pids << recorder.currentProcess()->processId();
                processes << recorder.currentProcess();
            }
            QCOMPARE(processes[2]->arguments(),
                QStringList({ "-i", "R&D (Cam 2)", "-o", b + "/" + recorder.fileName(), "-u", "127.0.0.1:7002",
                    "-nothumbnail", "-noautostart" }));
            QTRY_VERIFY_WITH_TIMEOUT(processes[0].isNull() && processes[1].isNull(), 10000);
            QCOMPARE(processes[2]->state(), QProcess::Running);
            QCOMPARE(log.events, QStringList());
        }
        // At shutdown no event loop runs after the controller is gone: the quit must leave at once.
        QByteArray last;
        for (int i = 0; i < 250 && last.isEmpty(); ++i) {
            QThread::msleep(20); // no events processed on purpose
            last = traceOf(pids[2]);
        }
        QCOMPARE(last, QByteArray("<quit/>\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(processes[2].isNull(), 10000);
        for (qint64 pid : pids)
            QCOMPARE(traceOf(pid), QByteArray("<quit/>\r\n"));
        QVERIFY(QDir(a).isEmpty() && QDir(b).isEmpty());
    }

    // Two programs of one source armed in one second get files of their own, though their names
    // were looked up together; commands given meanwhile reach the program once it starts.
    void namesLookedUpTogether()
    {
        QList<std::function<void()>> answers;
        const auto later = [&answers](const QString&, auto question, QObject*, auto answer) {
            answers << [question, answer] { answer(question()); };
        };
        const QString folder = TestEnv::makeFolder("together");
        NDIRecorder first, second;
        for (NDIRecorder* recorder : { &first, &second }) {
            recorder->setOffload(later);
            recorder->setFolder(folder);
            recorder->start("R&D (Cam 2)");
            recorder->setRecordLevel(-6.0f);
        }
        QVERIFY(first.processAlive() && first.fileName().isEmpty());
        for (const auto& answer : std::as_const(answers))
            answer();
        QVERIFY(first.fileName() != second.fileName() && !second.fileName().isEmpty());
        QVERIFY(first.currentProcess()->waitForStarted(10000));
        QTRY_VERIFY(traceOf(first.currentProcess()->processId()).contains(NDIRecorder::levelCommand(-6.0f)));
    }
};

QTEST_GUILESS_MAIN(TestNDIRecorder)
#include "tst_ndirecorder.moc"
