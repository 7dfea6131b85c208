// The stand-ins: the simulated NDI runtime through its C interface, and what only the recording
// program's own runs show (files, splits into taken names, kills and full drives through the app are
// proven by the e2e and slots tests). In order: the last functions take the sources away.
#include "tests/common/probe.h"
#include "tests/common/simnetwork.h"

#include <Processing.NDI.Lib.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace NdiSim;

namespace
{

const QString program = TestEnv::binDir() + "/NewTek NDI Record.exe";

QStringList args(const QString& output, const QStringList& more = { "-nothumbnail" })
{
    return QStringList { "-i", "Cam", "-o", output } + more;
}

struct Run {
    QProcess process;
    QByteArray out;

    explicit Run(const QStringList& arguments, int writeEvery = 1)
    {
        QObject::connect(
            &process, &QProcess::readyReadStandardOutput, &process, [this] { out += process.readAllStandardOutput(); });
        QProcessEnvironment environment = TestEnv::childEnvironment("recorder");
        environment.insert("STAVELIN_RECORDER_WRITE_EVERY", QString::number(writeEvery));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }
    ~Run() { process.kill(), process.waitForFinished(5000); }
    // An attribute of the latest report named `name`; "?" when none came in time.
    QString report(const QString& name, const QString& attribute, int ms = 15000)
    {
        QString value = "?";
        const auto found = [&] {
            for (const QByteArray& line : out.split('\n')) {
                QXmlStreamReader xml(line);
                if (xml.readNextStartElement() && xml.name() == name)
                    value = xml.attributes().value(attribute).toString();
            }
            return value != "?";
        };
        return QTest::qWaitFor(found, ms) ? value : "?";
    }
    bool frames(int n)
    {
        return QTest::qWaitFor([&] { return report("recording", "no_frames", 0).toInt() >= n; }, 20000);
    }
    bool quit() { return process.write("<quit/>\r\n"), process.waitForFinished(15000) && process.exitCode() == 0; }
};

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        use({ source("Cam", video(320, 180), tone(0.5)), source("PACE", QJsonValue::Null, tone(0.5)) });
        QVERIFY(NDIlib_initialize());
    }

    // Capture blocks until sound is due: 48000 samples a second without gaps. The pictures' pace
    // shows in the frame counts of the slots' recordings; metadata reach the receiver's tally.
    void captureRunsAtRealTimePace()
    {
        NDIlib_recv_create_v3_t settings {};
        settings.source_to_connect_to.p_ndi_name = "PACE";
        const std::unique_ptr<NDIlib_recv_instance_type, void (*)(NDIlib_recv_instance_t)> r(
            NDIlib_recv_create_v3(&settings), NDIlib_recv_destroy);
        QElapsedTimer timer;
        qint64 samples = 0, next = -1;
        for (timer.start(); timer.elapsed() < 1200;) {
            NDIlib_audio_frame_v2_t audio;
            if (NDIlib_recv_capture_v2(r.get(), nullptr, &audio, nullptr, 1000) != NDIlib_frame_type_audio)
                continue;
            QVERIFY(next < 0 || audio.timecode == next); // 100 ns units
            next = audio.timecode + qint64(audio.no_samples) * 10000000 / 48000;
            samples += audio.no_samples;
            NDIlib_recv_free_audio_v2(r.get(), &audio);
        }
        const double seconds = timer.elapsed() / 1000.0; // a little less only where load held the thread
        QVERIFY2(samples <= seconds * 48000 + 1920 && samples >= seconds * 48000 - 9600,
            qPrintable(QString::number(samples)));
    }

    // The gain scales the audio, unclipped above full scale; a preview at 80 x 44 with every frame
    // is written beside the file unless told not to.
    void levelAndPreview()
    {
        for (const auto& [gain, preview] : { std::pair { -20, false }, { 12, true } }) {
            const QString output = TestEnv::makeFolder(QStringLiteral("gain%1").arg(gain)) + "/cam.mov";
            Run run(args(
                output, preview ? QStringList { "-noautostart" } : QStringList { "-noautostart", "-nothumbnail" }));
            run.process.write(QStringLiteral("<record_level gain=\"%1\"/>\r\n<start/>\r\n").arg(gain).toUtf8());
            QCOMPARE(run.report("record_started", "filename_pvw"), preview ? output + ".preview" : QString());
            QVERIFY(run.frames(25) && run.quit());
            const double peak = E2E::audioPeakDb(output);
            QVERIFY2(qAbs(peak - 20.0 * std::log10(0.5) - gain) < 0.1, qPrintable(QString::number(peak)));
            QCOMPARE(QFileInfo::exists(output + ".preview"), preview);
            const E2E::ProbeResult small = E2E::probe(output + ".preview");
            QVERIFY(!preview
                || (QSize(small.width, small.height) == QSize(80, 44)
                    && small.videoFrames == E2E::probe(output).videoFrames));
        }
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
        run.start(program, args(output));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() > 1 << 20, 30000); // far more than one report's worth
        run.write("<quit/>\r\n");
        QVERIFY(run.waitForFinished(15000) && run.exitCode() == 0);
        ::close(reader);
        QVERIFY(E2E::probe(output).videoFrames >= 25);
    }

    // Pass-through and raw sources alike: a lost frame keeps its time (picture and sound in step, the
    // time code track and the reported start times running on over a split), and pass-through
    // writes what it received.
    void piecesKeepTheSourcesTime_data()
    {
        QTest::addColumn<bool>("compressed");
        QTest::addColumn<int>("every");
        QTest::addRow("raw, every frame") << false << 1;
        QTest::addRow("passed through, every other frame") << true << 2;
    }
    void piecesKeepTheSourcesTime()
    {
        QFETCH(bool, compressed);
        QFETCH(int, every);
        QJsonObject video = NdiSim::video(320, 180);
        video.insert("compressed", compressed);
        NdiSim::write({ NdiSim::source("Cam", video, NdiSim::tone(0.5)) });
        const QString folder = TestEnv::makeFolder(QTest::currentDataTag());
        Run run(args(folder + "/cam.mov"), every);
        run.process.setReadChannel(QProcess::StandardOutput);
        QVERIFY(run.frames(40 / every));
        const qint64 first = run.report("record_started", "first_frame_time").toLongLong();
        run.process.write("<record_chop/>\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(run.report("record_started", "first_frame_time").toLongLong() != first, 10000);
        const qint64 second = run.report("record_started", "first_frame_time").toLongLong();
        QVERIFY(run.frames(80 / every) && run.quit());
        const QString log = run.process.readAllStandardError();
        QVERIFY2(log.contains(compressed ? "SpeedHQ as received" : "encoded here"), qPrintable(log));

        const QStringList pieces { folder + "/cam.mov", folder + "/cam (2).mov" };
        QCOMPARE(E2E::movFiles(folder).size(), 2);
        const auto timecodeAt = [](qint64 ticks) {
            const qint64 frames = ticks % 864000000000LL / 400000, seconds = frames / 25;
            return QString::asprintf(
                "%02lld:%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60, frames % 25);
        };
        for (const auto& [piece, start] : { std::pair { pieces[0], first }, { pieces[1], second } }) {
            const E2E::ProbeResult result = E2E::probe(piece);
            const E2E::StreamTimes times = E2E::streamTimes(piece);
            const QString figures = QStringLiteral("%1: %2 frames, video %3 s, audio %4 s, time code %5")
                                        .arg(piece)
                                        .arg(result.videoFrames)
                                        .arg(times.video)
                                        .arg(times.audio)
                                        .arg(times.timecode);
            QVERIFY2(result.ok && std::abs(result.videoFrames - times.video * 25 / every) <= 2, qPrintable(figures));
            // Within a frame and the network's 20 ms audio block: where either ends is where it stopped.
            QVERIFY2(std::abs(times.video - times.audio) <= 1.0 / 25 + 0.02, qPrintable(figures));
            QCOMPARE(times.timecode, timecodeAt(start));
        }
        // The second piece begins where the first one's time ends.
        QCOMPARE(second - first, qRound64(E2E::streamTimes(pieces[0]).video * 25) * 400000);
    }

    // Only here: the app gives up waiting first (a missing folder shows through the app).
    void reportsASourceThatSendsNothing()
    {
        Run run({ "-i", "Nobody", "-o", TestEnv::makeFolder("nobody") + "/x.mov" });
        QCOMPARE(run.report("record_error", "error", 20000), QStringLiteral("Source Nobody sends no video"));
        QVERIFY(run.quit());
    }

    // Each problem of a sources file is reported once on stderr, although the file is looked at often;
    // a broken file empties the network. Last: it takes the sources away.
    void badFilesAreReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<int>("sources");
        QTest::addColumn<QString>("report");
        QTest::addRow("missing file") << QByteArray() << 0 << "cannot read";
        QTest::addRow("not JSON") << QByteArray("{\"sources\": [") << 0 << "not valid JSON";
        QTest::addRow("bad source left out")
            << QByteArray(R"({"sources": [{"name": "odd", "video": {"width": 101, "height": 10}},
            {"name": "fine", "video": null}]})")
            << 1 << "source 1 left out: a UYVY picture needs an even width";
        QTest::addRow("nameless source") << QByteArray(R"({"sources": [{"video": null}]})") << 0
                                         << "source 1 left out: a source needs a non-empty \"name\"";
    }

    void badFilesAreReportedOnce()
    {
        QFETCH(QByteArray, content);
        const QByteArray log = (TestEnv::root() + "/stderr-" + QTest::currentDataTag()).toLocal8Bit();
        const int saved = ::dup(2), file = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, 2);
        content.isNull() ? void(QFile::remove(path())) : writeText(content);
        NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
        uint32_t count = 0;
        QElapsedTimer timer;
        for (timer.start(); timer.elapsed() < 1000;)
            NDIlib_find_wait_for_sources(finder, 100), NDIlib_find_get_current_sources(finder, &count);
        NDIlib_find_destroy(finder);
        ::dup2(saved, 2), ::close(saved), ::close(file);
        QTEST(int(count), "sources");
        QFile errors(QString::fromLocal8Bit(log));
        QVERIFY(errors.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(errors.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QFETCH(QString, report);
        QVERIFY2(lines.first().contains(report), qPrintable(lines.first()));
    }

    // A file that cannot be read for a while (no descriptor free) leaves the network as it was.
    void momentarilyUnreadableFileKeepsSources()
    {
        use({ source("STAYS", QJsonValue::Null, tone(0.5)) });
        NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
        uint32_t seen[2] = {};
        rlimit saved {}, none {};
        ::getrlimit(RLIMIT_NOFILE, &saved), none.rlim_max = saved.rlim_max;
        for (uint32_t& count : seen) {
            QElapsedTimer timer;
            for (timer.start(); timer.elapsed() < 500;)
                NDIlib_find_wait_for_sources(finder, 100), NDIlib_find_get_current_sources(finder, &count);
            ::setrlimit(RLIMIT_NOFILE, &none); // for the second look
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        NDIlib_find_destroy(finder);
        QCOMPARE(QList<uint32_t>(std::begin(seen), std::end(seen)), QList<uint32_t>({ 1, 1 }));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
