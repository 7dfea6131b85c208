// What only the recording program's own runs show; files, splits, kills and full drives through
// the app are proven by the e2e and slots tests.
#include "tests/common/probe.h"
#include "tests/common/simnetwork.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// One run of the program, its reports collected line by line.
struct Run : QObject {
    QProcess process;
    QList<QByteArray> reports;
    QByteArray pending;

    explicit Run(const QStringList& arguments)
    {
        connect(&process, &QProcess::readyReadStandardOutput, this, [this] {
            pending += process.readAllStandardOutput();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                reports << pending.left(end);
        });
        process.setProcessEnvironment(TestEnv::childEnvironment("recorder"));
        process.start(TestEnv::binDir() + "/NewTek NDI Record.exe", arguments);
    }
    ~Run() override { process.kill(), process.waitForFinished(5000); }
    static QStringList args(const QString& output, const QStringList& more = { "-nothumbnail" })
    {
        return QStringList { "-i", "Cam", "-o", output } + more;
    }
    // An attribute of the latest report named `name`; "?" when none came in time.
    QString report(const QString& name, const QString& attribute = "filename", int ms = 15000)
    {
        QDeadlineTimer deadline(ms);
        do {
            for (auto it = reports.crbegin(); it != reports.crend(); ++it) {
                QXmlStreamReader xml(*it);
                if (xml.readNextStartElement() && xml.name() == name)
                    return xml.attributes().value(attribute).toString();
            }
        } while (!deadline.hasExpired() && (QTest::qWait(20), true));
        return "?";
    }
    bool frames(int n)
    {
        return QTest::qWaitFor([&] { return report("recording", "no_frames", 0).toInt() >= n; }, 20000);
    }
    bool quit() { return process.write("<quit/>\r\n"), process.waitForFinished(15000) && process.exitCode() == 0; }
};

} // namespace

class TestRecordingProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        NdiSim::use();
        NdiSim::write({ NdiSim::source("Cam", NdiSim::video(320, 180), NdiSim::tone(0.5)) });
    }

    void recordLevelScalesAudio_data()
    {
        QTest::addColumn<QByteArray>("gain");
        QTest::addRow("-20 dB") << QByteArray("-20");
        QTest::addRow("+12 dB above full scale, unclipped") << QByteArray("12");
    }

    void recordLevelScalesAudio()
    {
        QFETCH(QByteArray, gain);
        const QString output = TestEnv::makeFolder("gain" + gain) + "/level.mov";
        Run run(Run::args(output, { "-nothumbnail", "-noautostart" }));
        run.process.write("<record_level gain=\"" + gain + "\"/>\r\n<start/>\r\n");
        QVERIFY(run.frames(15));
        QVERIFY(run.quit());
        const double peak = E2E::audioPeakDb(output), expected = 20.0 * std::log10(0.5) + gain.toDouble();
        QVERIFY2(qAbs(peak - expected) < 0.1, qPrintable(QString::number(peak)));
    }

    // A preview beside the file unless told not to, with every frame at 80 x 44.
    void preview_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::addRow("on") << true;
        QTest::addRow("off") << false;
    }

    void preview()
    {
        QFETCH(bool, preview);
        const QString output = TestEnv::makeFolder(QStringLiteral("preview-") + QTest::currentDataTag()) + "/cam.mov";
        Run run(Run::args(output, preview ? QStringList() : QStringList { "-nothumbnail" }));
        QCOMPARE(run.report("record_started", "filename_pvw"), preview ? output + ".preview" : QString());
        QVERIFY(run.frames(25));
        QVERIFY(run.quit());
        QCOMPARE(QFileInfo::exists(output + ".preview"), preview);
        if (!preview)
            return;
        const E2E::ProbeResult small = E2E::probe(output + ".preview");
        QCOMPARE(QSize(small.width, small.height), QSize(80, 44));
        QCOMPARE(small.videoFrames, E2E::probe(output).videoFrames);
    }

    void waitsForStartWhenArmed()
    {
        const QString dir = TestEnv::makeFolder("armed");
        Run run(Run::args(dir + "/armed.mov", { "-noautostart", "-nothumbnail" }));
        run.process.write("<record_level gain=\"-3\"/>\r\n"); // answered on stderr once the program is up
        QVERIFY(
            QTest::qWaitFor([&] { return run.process.readAllStandardError().contains("Record level -3 dB"); }, 10000));
        QTest::qWait(500);
        QVERIFY(run.quit());
        QCOMPARE(run.reports, QList<QByteArray>());
        QVERIFY(QDir(dir).isEmpty());
    }

    void sameNameInTheSameSecondIsNotOverwritten()
    {
        const QString name = TestEnv::makeFolder("same") + "/Cam_2024-05-01_14-03-59";
        Run first(Run::args(name + ".mov")), second(Run::args(name + ".mov"));
        const QSet<QString> names { first.report("record_started"), second.report("record_started") };
        QCOMPARE(names, (QSet<QString> { name + ".mov", name + " (2).mov" }));
        QVERIFY(first.frames(10) && second.frames(10) && first.quit() && second.quit());
        for (const QString& file : names)
            QVERIFY2(E2E::probe(file).videoFrames >= 10, qPrintable(file));
    }

    void killedRecordingStaysPlayable()
    {
        const QString output = TestEnv::makeFolder("killed") + "/killed.mov";
        Run run(Run::args(output));
        QVERIFY(run.frames(75));
        run.process.kill();
        QVERIFY(run.process.waitForFinished(5000));
        const E2E::ProbeResult probe = E2E::probe(output);
        QVERIFY2(probe.ok && probe.videoFrames >= 75 - 30, qPrintable(probe.errors)); // all but about the last second
    }

    // A parent that stops reading must not stop the recording, nor keep the program from quitting.
    void keepsRecordingWhileReportsAreNotRead()
    {
        const QByteArray fifo = (TestEnv::root() + "/reports").toLocal8Bit();
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int filler = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0 && filler >= 0);
        while (::write(filler, "\n", 1) > 0) { } // full before the first report
        ::close(filler);
        const QString output = TestEnv::makeFolder("unread") + "/unread.mov";
        QProcess run;
        run.setStandardOutputFile(QString::fromLocal8Bit(fifo));
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(TestEnv::binDir() + "/NewTek NDI Record.exe", Run::args(output));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() > 1 << 20, 30000); // far more than one report's worth
        run.write("<quit/>\r\n");
        QVERIFY(run.waitForFinished(15000) && run.exitCode() == 0);
        ::close(reader);
        QVERIFY(E2E::probe(output).videoFrames >= 25);
    }

    void reportsErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::addRow("no output") << QStringList { "-i", "Cam" } << 2 << "No output file given (-o PATH)";
        QTest::addRow("no source") << QStringList { "-o", "/tmp/x.mov" } << 2 << "No source given (-i NAME)";
        QTest::addRow("folder missing") << QStringList { "-i", "Cam", "-o", "/no/such/x.mov" } << 0
                                        << "Folder does not exist: /no/such";
        QTest::addRow("source never seen")
            << QStringList { "-i", "Nobody", "-o", "OUT" } << 0 << "Source Nobody sends no video";
    }

    void reportsErrors()
    {
        QFETCH(QStringList, arguments);
        Run run(arguments.replaceInStrings("OUT", TestEnv::makeFolder("nobody") + "/x.mov"));
        QTEST(run.report("record_error", "error", 20000), "error");
        run.process.write("<quit/>\r\n");
        QVERIFY(run.process.waitForFinished(15000) || run.process.state() == QProcess::NotRunning);
        QTEST(run.process.exitCode(), "exitCode");
    }
};

QTEST_GUILESS_MAIN(TestRecordingProgram)
#include "tst_recordingprogram.moc"
