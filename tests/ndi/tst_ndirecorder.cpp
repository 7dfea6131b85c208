#include "app/logger.h"
#include "ndi/ndifind.h"
#include "ndi/ndirecorder.h"
#include "tests/common/testenv.h"
#include "tests/ndi/recorderrun.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace
{

// Every signal of a controller as one ordered list of words.
class SignalLog : public QObject
{
public:
    explicit SignalLog(NDIRecorder* recorder)
    {
        connect(recorder, &NDIRecorder::recordingStarted, this, [this] { events << QStringLiteral("started"); });
        connect(recorder, &NDIRecorder::recordingError, this,
            [this](NDIRecorder::RecordingError error, const QString& message) {
                events << QStringLiteral("error %1 %2").arg(int(error)).arg(message);
            });
        connect(recorder, &NDIRecorder::processFinished, this, [this] { events << QStringLiteral("finished"); });
        connect(recorder, &NDIRecorder::processCrashed, this, [this] { events << QStringLiteral("crashed"); });
    }
    QStringList events;
};

QString tracePattern()
{
    return TestEnv::root() + QStringLiteral("/trace-{pid}.bin");
}

QByteArray traceOf(qint64 pid)
{
    QFile file(TestEnv::root() + QStringLiteral("/trace-%1.bin").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void setScript(const QJsonObject& script)
{
    const QString path = TestEnv::root() + QStringLiteral("/script.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(script).toJson());
    qputenv("FAKE_RECORDER_SCRIPT", path.toLocal8Bit());
}

QString logText()
{
    const QStringList logs = QDir(TestEnv::root()).entryList({ QStringLiteral("log *.txt") }, QDir::Files);
    if (logs.isEmpty())
        return {};
    QFile file(TestEnv::root() + QLatin1Char('/') + logs.first());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

const QString fakeFolder = QStringLiteral(FAKE_RECORDER_DIR);

} // namespace

class TestNDIRecorder : public QObject
{
    Q_OBJECT

private:
    // Starts the controller's process and waits until it runs; returns its process id.
    static qint64 startAndWait(NDIRecorder& recorder, const QString& source)
    {
        recorder.start(source);
        QProcess* process = recorder.currentProcess();
        if (!process || !process->waitForStarted(10000))
            return -1;
        return process->processId();
    }

private Q_SLOTS:
    void initTestCase()
    {
        Logger::init(TestEnv::root() + QStringLiteral("/log"));
        RecorderRun::setSources(R"json({"sources": [
{"name": "Small Cam", "url": "127.0.0.1:7001",
 "video": {"width": 320, "height": 180, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.5}},
{"name": "R&D (Cam 2)", "url": "127.0.0.1:7002",
 "video": {"width": 320, "height": 180, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.5}},
{"name": "No Address",
 "video": {"width": 320, "height": 180, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.5}}
]})json");
        qputenv("NDI_SIM_SOURCES", (TestEnv::root() + QStringLiteral("/sources.json")).toLocal8Bit());
        qputenv("NDI_RECORD_TRACE", tracePattern().toLocal8Bit());
        QVERIFY(QFileInfo::exists(TestEnv::binDir() + QLatin1Char('/') + NDIRecorder::programFileName()));
        QVERIFY(QFileInfo::exists(fakeFolder + QLatin1Char('/') + NDIRecorder::programFileName()));
        // Discovery must have seen the sources before the URL look-ups below mean anything.
        QTRY_COMPARE_WITH_TIMEOUT(
            NDIFind::instance()->urlAddress(QStringLiteral("Small Cam")), QStringLiteral("127.0.0.1:7001"), 10000);
    }

    void init()
    {
        NDIRecorder::setProgramFolder(fakeFolder);
        setScript({});
    }

    void cleanupTestCase() { NDIRecorder::setProgramFolder({}); }

    void programBesideTheApplication()
    {
        NDIRecorder::setProgramFolder({});
        QCOMPARE(NDIRecorder::programPath(),
            QCoreApplication::applicationDirPath() + QStringLiteral("/NewTek NDI Record.exe"));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("fileName");
        const QDateTime may1(QDate(2024, 5, 1), QTime(14, 3, 59));
        QTest::addRow("spaces and parentheses stay")
            << QStringLiteral("STUDIO (Cam 1)") << may1 << QStringLiteral("STUDIO (Cam 1)_2024-05-01_14-03-59.mov");
        QTest::addRow("ampersand stays") << QStringLiteral("R&D Cam") << may1
                                         << QStringLiteral("R&D Cam_2024-05-01_14-03-59.mov");
        QTest::addRow("24-hour clock") << QStringLiteral("A") << QDateTime(QDate(2023, 12, 31), QTime(23, 5, 9))
                                       << QStringLiteral("A_2023-12-31_23-05-09.mov");
        QTest::addRow("slashes cannot leave the folder")
            << QStringLiteral("../../etc/evil") << may1 << QStringLiteral(".._.._etc_evil_2024-05-01_14-03-59.mov");
        QTest::addRow("backslash") << QStringLiteral("PC\\Cam") << may1
                                   << QStringLiteral("PC_Cam_2024-05-01_14-03-59.mov");
        QTest::addRow("control characters")
            << QStringLiteral("Cam\t1\n") << may1 << QStringLiteral("Cam_1__2024-05-01_14-03-59.mov");
        QTest::addRow("dots alone") << QStringLiteral("..") << may1 << QStringLiteral(".._2024-05-01_14-03-59.mov");
        QTest::addRow("non-ASCII stays") << QStringLiteral("Kamera é 1") << may1
                                         << QStringLiteral("Kamera é 1_2024-05-01_14-03-59.mov");
    }

    void fileNames()
    {
        QFETCH(QString, source);
        QFETCH(QDateTime, time);
        QFETCH(QString, fileName);
        QCOMPARE(NDIRecorder::fileNameFor(source, time), fileName);
    }

    void commandBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("start") << NDIRecorder::startCommand() << QByteArray("<start/>\r\n");
        QTest::addRow("quit") << NDIRecorder::quitCommand() << QByteArray("<quit/>\r\n");
        QTest::addRow("gain -20") << NDIRecorder::levelCommand(-20.0f)
                                  << QByteArray("<record_level gain=\"-20\"/>\r\n");
        QTest::addRow("gain -14.5") << NDIRecorder::levelCommand(-14.5f)
                                    << QByteArray("<record_level gain=\"-14.5\"/>\r\n");
        QTest::addRow("gain 0") << NDIRecorder::levelCommand(0.0f) << QByteArray("<record_level gain=\"0\"/>\r\n");
        QTest::addRow("six significant digits")
            << NDIRecorder::levelCommand(-17.3f) << QByteArray("<record_level gain=\"-17.3\"/>\r\n");
        QTest::addRow("float widened first")
            << NDIRecorder::levelCommand(-34.123456f) << QByteArray("<record_level gain=\"-34.1235\"/>\r\n");
        QTest::addRow("tiny gain in exponent form")
            << NDIRecorder::levelCommand(1e-7f) << QByteArray("<record_level gain=\"1e-07\"/>\r\n");
        QTest::addRow("chop, UTF-8, nothing escaped")
            << NDIRecorder::chopCommand(QStringLiteral("D:/Rec/R&D é_1.mov"))
            << QByteArray("<record_chop filename=\"D:/Rec/R&D \xc3\xa9_1.mov\"/>\r\n");
    }

    void commandBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes, expected);
    }

    void arguments_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<QStringList>("tail"); // after "-o PATH"
        QTest::addRow("known address, no preview") << QStringLiteral(
            "Small Cam") << false << QStringList { "-u", "127.0.0.1:7001", "-nothumbnail", "-noautostart" };
        QTest::addRow("known address, preview")
            << QStringLiteral("Small Cam") << true << QStringList { "-u", "127.0.0.1:7001", "-noautostart" };
        QTest::addRow("never seen") << QStringLiteral("Nobody") << false
                                    << QStringList { "-nothumbnail", "-noautostart" };
        QTest::addRow("seen without address") << QStringLiteral("No Address") << true << QStringList { "-noautostart" };
    }

    void arguments()
    {
        QFETCH(QString, source);
        QFETCH(bool, preview);
        QFETCH(QStringList, tail);
        const QString dir = TestEnv::makeFolder(QStringLiteral("args/") + QTest::currentDataTag());
        NDIRecorder recorder;
        recorder.setFolder(dir);
        recorder.setRecordPreview(preview);
        const QDateTime before = QDateTime::currentDateTime();
        recorder.start(source);
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY(recorder.currentProcess());
        QVERIFY(recorder.fileName() == NDIRecorder::fileNameFor(source, before)
            || recorder.fileName() == NDIRecorder::fileNameFor(source, after));
        QCOMPARE(recorder.currentProcess()->program(), fakeFolder + QStringLiteral("/NewTek NDI Record.exe"));
        QCOMPARE(recorder.currentProcess()->arguments(),
            QStringList({ "-i", source, "-o", dir + QLatin1Char('/') + recorder.fileName() }) + tail);
    }

    // The name reaches the program verbatim, but the file stays inside the folder.
    void unsafeNamesStayInTheFolder_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addRow("parent folders") << QStringLiteral("../../outside");
        QTest::addRow("absolute path") << QStringLiteral("/etc/passwd");
        QTest::addRow("backslashes") << QStringLiteral("..\\..\\outside");
    }

    void unsafeNamesStayInTheFolder()
    {
        QFETCH(QString, source);
        const QString dir = TestEnv::makeFolder(QStringLiteral("unsafe"));
        NDIRecorder recorder;
        recorder.setFolder(dir);
        recorder.start(source);
        const QStringList args = recorder.currentProcess()->arguments();
        QCOMPARE(args.at(1), source);
        QCOMPARE(QFileInfo(args.at(3)).absolutePath(), dir);
        QCOMPARE(QFileInfo(args.at(3)).fileName(), recorder.fileName());
    }

    void emptyFolderMeansWorkingDirectory()
    {
        QPointer<QProcess> process;
        {
            NDIRecorder recorder;
            recorder.start(QStringLiteral("Nobody"));
            process = recorder.currentProcess();
            QCOMPARE(process->arguments().at(3), QDir::current().absoluteFilePath(recorder.fileName()));
        }
        QTRY_VERIFY(process.isNull()); // its trace is written before the next test counts them
    }

    void commandsWithoutProcessDoNothing()
    {
        const int tracesBefore = QDir(TestEnv::root()).entryList({ QStringLiteral("trace-*") }).size();
        NDIRecorder recorder;
        SignalLog log(&recorder);
        recorder.setRecordLevel(-20.0f);
        recorder.startRecording();
        recorder.restart();
        recorder.stop();
        QCOMPARE(recorder.currentProcess(), nullptr);
        QVERIFY(!recorder.isRecordingStarted());
        // A process that fails to start reports at once; one that was never launched cannot.
        QTest::qWait(0);
        QCOMPARE(log.events, QStringList());
        QCOMPARE(QDir(TestEnv::root()).entryList({ QStringLiteral("trace-*") }).size(), tracesBefore);
    }

    // Each row: what the program prints after <start/>, and the controller's signals for it. A
    // sentinel error follows, so rows that expect nothing prove it.
    void reports_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("events");
        QTest::addRow("started") << QStringLiteral("<record_started filename=\"a.mov\"/>\n")
                                 << QStringList { "started" };
        QTest::addRow("CR LF line end") << QStringLiteral("<record_started/>\r\n") << QStringList { "started" };
        QTest::addRow("error with text") << QStringLiteral("<record_error error=\"Disk &amp; folder\"/>\n")
                                         << QStringList { "error 0 Disk & folder" };
        QTest::addRow("error without attribute") << QStringLiteral("<record_error/>\n") << QStringList { "error 0 " };
        QTest::addRow("delay text alone")
            << QStringLiteral("Something delayed everything.\n") << QStringList { "error 1 " };
        QTest::addRow("delay text in another element")
            << QStringLiteral("<record_delayed message=\"Something delayed everything.\"/>\n")
            << QStringList { "error 1 " };
        QTest::addRow("started and delay text in one line")
            << QStringLiteral("<record_started/> Something delayed everything.\n") << QStringList { "started" };
        QTest::addRow("delay text in other case")
            << QStringLiteral("something delayed everything.\n") << QStringList {};
        QTest::addRow("progress is ignored")
            << QStringLiteral("<recording no_frames=\"5\" timecode=\"2000000\" vu_dB=\"-20.0\"/>\n") << QStringList {};
        QTest::addRow("not XML") << QStringLiteral("hello world\n") << QStringList {};
        QTest::addRow("two reports in one write") << QStringLiteral("<record_started/>\n<record_error error=\"x\"/>\n")
                                                  << QStringList { "started", "error 0 x" };
    }

    void reports()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, events);
        setScript({ { QStringLiteral("<start/>"),
            QJsonArray { output + QStringLiteral("<record_error error=\"sentinel\"/>\n") } } });
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, QStringLiteral("Nobody")) > 0);
        recorder.startRecording();
        QTRY_VERIFY(log.events.contains(QStringLiteral("error 0 sentinel")));
        QCOMPARE(log.events, events + QStringList { "error 0 sentinel" });
    }

    void logLines()
    {
        setScript({ { QStringLiteral("<start/>"),
            QJsonArray { QStringLiteral(
                "<record_error/>\n<record_error error=\"Folder gone\"/>\nSomething delayed everything.\n") } } });
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, QStringLiteral("Nobody")) > 0);
        recorder.startRecording();
        QTRY_COMPARE(log.events.size(), 3);
        const QStringList lines = logText().split(QLatin1Char('\n'));
        auto has = [&lines](const QString& end) {
            return std::any_of(
                lines.cbegin(), lines.cend(), [&end](const QString& line) { return line.endsWith(end); });
        };
        QVERIFY(has(QStringLiteral(" Recording Error: ")));
        QVERIFY(has(QStringLiteral(" Recording Error: Folder gone")));
        QVERIFY(has(QStringLiteral(" Recording Error: Something delayed everything.")));
    }

    void reportSplitAcrossReads()
    {
        setScript({ { QStringLiteral("<start/>"),
            QJsonArray { QStringLiteral("<record_sta"),
                QStringLiteral("rted filename=\"x.mov\"/>\n<record_error error=\"after\"/>\n") } } });
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, QStringLiteral("Nobody")) > 0);
        recorder.startRecording();
        // The first half has arrived and waits, unread, for its line end.
        QTRY_COMPARE(recorder.currentProcess()->bytesAvailable(), qint64(11));
        QCOMPARE(log.events, QStringList());
        recorder.startRecording();
        QTRY_COMPARE(log.events, (QStringList { "started", "error 0 after" }));
    }

    // The current process ending on its own is reported, so the slot can return to idle; the
    // next restart launches a fresh one.
    void currentProcessEndsOnItsOwn_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("events");
        QTest::addRow("exits") << QStringLiteral("@exit") << QStringList { "started", "finished" };
        QTest::addRow("crashes") << QStringLiteral("@crash") << QStringList { "started", "crashed" };
    }

    void currentProcessEndsOnItsOwn()
    {
        QFETCH(QString, ending);
        QFETCH(QStringList, events);
        setScript({ { QStringLiteral("<start/>"), QJsonArray { QStringLiteral("<record_started/>\n") } },
            { QStringLiteral("<record_level gain=\"-3\"/>"), QJsonArray { ending } } });
        NDIRecorder recorder;
        SignalLog log(&recorder);
        QVERIFY(startAndWait(recorder, QStringLiteral("Nobody")) > 0);
        QPointer<QProcess> ended = recorder.currentProcess();
        recorder.startRecording();
        QTRY_COMPARE(log.events, QStringList { "started" });
        recorder.setRecordLevel(-3.0f);
        QTRY_COMPARE(log.events, events);
        recorder.restart();
        QVERIFY(recorder.currentProcess() != ended);
        QVERIFY(!recorder.isRecordingStarted());
        QVERIFY(recorder.currentProcess()->waitForStarted(10000));
        QTRY_VERIFY(ended.isNull()); // the ended process object is gone as well
        QCOMPARE(log.events, events);
    }

    // A process told to quit no longer speaks for the controller: whatever it does while
    // finishing, the current recording is not disturbed. It is still deleted once it exits.
    void processToldToQuitIsNotReported_data()
    {
        QTest::addColumn<QString>("onQuit");
        QTest::addRow("exits") << QString();
        QTest::addRow("crashes") << QStringLiteral("@crash");
        QTest::addRow("reports an error, then exits")
            << QStringLiteral("<record_error error=\"late\"/>\n<record_stopped no_frames=\"3\"/>\n");
    }

    void processToldToQuitIsNotReported()
    {
        QFETCH(QString, onQuit);
        QJsonObject script { { QStringLiteral("<start/>"), QJsonArray { QStringLiteral("<record_started/>\n") } } };
        if (!onQuit.isEmpty())
            script.insert(QStringLiteral("<quit/>"), QJsonArray { onQuit });
        setScript(script);
        NDIRecorder recorder;
        SignalLog log(&recorder);
        const qint64 firstPid = startAndWait(recorder, QStringLiteral("Nobody"));
        QVERIFY(firstPid > 0);
        QPointer<QProcess> first = recorder.currentProcess();
        recorder.startRecording();
        QTRY_COMPARE(log.events, QStringList { "started" });

        recorder.restart();
        QVERIFY(recorder.currentProcess() != first);
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 10000);
        QCOMPARE(traceOf(firstPid), QByteArray("<start/>\r\n<quit/>\r\n"));
        QCOMPARE(log.events, QStringList { "started" });
    }

    // At shutdown no event loop runs after the controller is gone: the quit must leave at once.
    void destroyedControllerSendsQuitAtOnce()
    {
        auto recorder = std::make_unique<NDIRecorder>();
        const qint64 pid = startAndWait(*recorder, QStringLiteral("Nobody"));
        QVERIFY(pid > 0);
        QPointer<QProcess> process = recorder->currentProcess();
        recorder.reset();
        QByteArray trace;
        for (int i = 0; i < 250 && trace.isEmpty(); ++i) {
            QThread::msleep(20); // no events processed on purpose
            trace = traceOf(pid);
        }
        QCOMPARE(trace, QByteArray("<quit/>\r\n"));
        QTRY_VERIFY(process.isNull());
    }

    void missingProgramIsReported()
    {
        NDIRecorder::setProgramFolder(TestEnv::makeFolder(QStringLiteral("no-program")));
        NDIRecorder recorder;
        SignalLog log(&recorder);
        recorder.start(QStringLiteral("Small Cam"));
        QTRY_COMPARE(log.events.size(), 2);
        QCOMPARE(log.events.at(0), QStringLiteral("crashed"));
        QVERIFY2(log.events.at(1).startsWith(QStringLiteral("error 0 The recording program could not be started")),
            qPrintable(log.events.at(1)));
        QVERIFY(log.events.at(1).contains(QStringLiteral("NewTek NDI Record.exe")));
        QVERIFY(logText().contains(QStringLiteral("Process Error: ")));
        // Commands to the failed process are lost quietly; the next start tries again.
        recorder.setRecordLevel(-20.0f);
        recorder.startRecording();
        recorder.restart();
        QTRY_COMPARE(log.events.size(), 4);
        QCOMPARE(log.events.at(2), QStringLiteral("crashed"));
    }

    // The rest runs the real recording program.

    void startTwiceQuitsTheFirstOnce()
    {
        NDIRecorder::setProgramFolder(TestEnv::binDir());
        const QString dir = TestEnv::makeFolder(QStringLiteral("twice"));
        QPointer<QProcess> second;
        qint64 secondPid = 0;
        {
            NDIRecorder recorder;
            recorder.setFolder(dir);
            SignalLog log(&recorder);
            const qint64 firstPid = startAndWait(recorder, QStringLiteral("Small Cam"));
            QVERIFY(firstPid > 0);
            QPointer<QProcess> first = recorder.currentProcess();
            secondPid = startAndWait(recorder, QStringLiteral("Small Cam"));
            QVERIFY(secondPid > 0);
            second = recorder.currentProcess();
            QVERIFY(second != first);
            // Names have one-second resolution: the second process must not get the first's path.
            QVERIFY(second->arguments().at(3) != first->arguments().at(3));
            QVERIFY(!recorder.isRecordingStarted());
            QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 10000);
            QCOMPARE(traceOf(firstPid), QByteArray("<quit/>\r\n"));
            QCOMPARE(log.events, QStringList());
            QCOMPARE(second->state(), QProcess::Running);
        }
        // Destroying the controller tells its process to quit; the process finishes by itself.
        QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 10000);
        QCOMPARE(traceOf(secondPid), QByteArray("<quit/>\r\n"));
        QVERIFY(QDir(dir).isEmpty()); // armed processes write nothing
    }

    void chopBeforeStartLaunchesAnew()
    {
        NDIRecorder::setProgramFolder(TestEnv::binDir());
        const QString a = TestEnv::makeFolder(QStringLiteral("chop-before-a"));
        const QString b = TestEnv::makeFolder(QStringLiteral("chop-before-b"));
        NDIRecorder recorder;
        SignalLog log(&recorder);
        recorder.setFolder(a);
        const qint64 firstPid = startAndWait(recorder, QStringLiteral("Small Cam"));
        QPointer<QProcess> first = recorder.currentProcess();
        recorder.chop(b);
        QVERIFY(recorder.currentProcess() != first);
        QCOMPARE(recorder.currentProcess()->arguments().at(3), b + QLatin1Char('/') + recorder.fileName());
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 10000);
        QCOMPARE(traceOf(firstPid), QByteArray("<quit/>\r\n"));
        QCOMPARE(log.events, QStringList());
    }

    // A whole recording through the controller: level, start, a chop into the same folder, the
    // stop by restart; the program's files and the exact bytes it was sent.
    void recordsAndChopsThroughTheController()
    {
        NDIRecorder::setProgramFolder(TestEnv::binDir());
        const QString dir = TestEnv::makeFolder(QStringLiteral("through"));
        const QString source = QStringLiteral("R&D (Cam 2)");
        NDIRecorder recorder;
        SignalLog log(&recorder);
        recorder.setFolder(dir);
        const qint64 pid = startAndWait(recorder, source);
        QVERIFY(pid > 0);
        QPointer<QProcess> first = recorder.currentProcess();
        QCOMPARE(first->arguments().at(1), source);
        const QString firstFile = dir + QLatin1Char('/') + recorder.fileName();
        QVERIFY(recorder.fileName().startsWith(QStringLiteral("R&D (Cam 2)_")));
        QCOMPARE(first->arguments().at(3), firstFile);

        recorder.setRecordLevel(-20.0f);
        recorder.startRecording();
        QVERIFY(recorder.isRecordingStarted());
        QTRY_COMPARE_WITH_TIMEOUT(log.events, QStringList { "started" }, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(firstFile).size() > 200000, 15000);

        recorder.chop(dir);
        QTRY_COMPARE_WITH_TIMEOUT(log.events, (QStringList { "started", "started" }), 15000);
        QString secondFile = firstFile;
        secondFile.replace(QStringLiteral(".mov"), QStringLiteral(" (2).mov"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(secondFile).size() > 200000, 15000);

        recorder.restart();
        QVERIFY(!recorder.isRecordingStarted());
        QVERIFY(recorder.currentProcess() != first);
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 15000);
        QCOMPARE(traceOf(pid),
            "<record_level gain=\"-20\"/>\r\n<start/>\r\n<record_chop filename=\"" + firstFile.toUtf8()
                + "\"/>\r\n<quit/>\r\n");
        QCOMPARE(log.events, (QStringList { "started", "started" }));

        for (const QString& file : { firstFile, secondFile }) {
            const QJsonObject probe = RecorderRun::probe(file);
            QVERIFY2(probe.value(QStringLiteral("video"))
                         .toObject()
                         .value(QStringLiteral("nb_read_frames"))
                         .toString()
                         .toInt()
                    > 5,
                qPrintable(file));
            QCOMPARE(probe.value(QStringLiteral("audio")).toObject().value(QStringLiteral("codec_name")).toString(),
                QStringLiteral("pcm_f32le"));
            const double peak = RecorderRun::audioPeakDb(file);
            QVERIFY2(qAbs(peak - (20.0 * std::log10(0.5) - 20.0)) < 0.1, qPrintable(QString::number(peak)));
        }
        recorder.stop();
        QCOMPARE(recorder.currentProcess(), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestNDIRecorder)
#include "tst_ndirecorder.moc"
