#include "tests/common/testenv.h"
#include "tests/ndi/recorderrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// The recording program as the app runs it: a real process receiving a simulated NDI source,
// files checked with ffprobe.
class TestRecordingProgram : public QObject
{
    Q_OBJECT

private:
    QStringList m_mounts;

    static QString folder(const QString& name) { return TestEnv::makeFolder(name); }

    static QStringList args(const QString& source, const QString& output, const QStringList& more = {})
    {
        return QStringList { QStringLiteral("-i"), source, QStringLiteral("-o"), output } + more;
    }

    QString mountTmpfs(const QString& name, const QByteArray& options)
    {
        const QString dir = folder(name);
        if (::mount("tmpfs", dir.toLocal8Bit().constData(), "tmpfs", 0, options.constData()) != 0)
            return {};
        m_mounts << dir;
        return dir;
    }

    // Written whole: the runtime must never see half a file.
    static bool writeNetwork(const QString& path, const QByteArray& sources)
    {
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("{\"sources\": [" + sources + "]}") > 0 && file.commit();
    }

    struct Timing {
        double video = -1.0; // seconds; -1 when the stream is missing
        double audio = -1.0;
        QString frameRate;
    };

    // What probe() leaves out: how long each stream lasts.
    static Timing timing(const QString& path)
    {
        QProcess ffprobe;
        ffprobe.start(QStringLiteral("ffprobe"),
            { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=codec_type,duration,avg_frame_rate"), QStringLiteral("-of"),
                QStringLiteral("json"), path });
        Timing result;
        if (!ffprobe.waitForFinished(60000))
            return result;
        const QJsonArray streams = QJsonDocument::fromJson(ffprobe.readAllStandardOutput())
                                       .object()
                                       .value(QStringLiteral("streams"))
                                       .toArray();
        for (const QJsonValue& value : streams) {
            const QJsonObject stream = value.toObject();
            const double seconds = stream.value(QStringLiteral("duration")).toString().toDouble();
            if (stream.value(QStringLiteral("codec_type")).toString() == QLatin1String("video")) {
                result.video = seconds;
                result.frameRate = stream.value(QStringLiteral("avg_frame_rate")).toString();
            } else {
                result.audio = seconds;
            }
        }
        return result;
    }

    static int videoFrames(const QJsonObject& probe)
    {
        return probe.value(QStringLiteral("video"))
            .toObject()
            .value(QStringLiteral("nb_read_frames"))
            .toString()
            .toInt();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(RecorderRun::programPath()), qPrintable(RecorderRun::programPath()));
        RecorderRun::setSources(R"json({"sources": [
{"name": "Small Cam", "url": "127.0.0.1:7001",
 "video": {"width": 320, "height": 180, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.5}},
{"name": "Graphics & Titles", "url": "127.0.0.1:7002",
 "video": {"width": 320, "height": 240, "fps": 30, "format": "BGRA", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.25}},
{"name": "Studio 4:3", "url": "127.0.0.1:7003",
 "video": {"width": 720, "height": 576, "fps": 25, "format": "UYVY", "aspect": 1.3333333, "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.5}},
{"name": "No Sound", "url": "127.0.0.1:7004",
 "video": {"width": 320, "height": 180, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": null}
]})json");
    }

    void cleanup()
    {
        for (const QString& dir : std::as_const(m_mounts))
            ::umount2(dir.toLocal8Bit().constData(), MNT_DETACH);
        m_mounts.clear();
    }

    void recordsTheSource_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QString>("displayAspect");
        QTest::addColumn<bool>("withAudio");
        QTest::addRow("UYVY source") << QStringLiteral("Small Cam") << 320 << 180 << 25 << QStringLiteral("16:9")
                                     << true;
        QTest::addRow("BGRA source converted to 4:2:2")
            << QStringLiteral("Graphics & Titles") << 320 << 240 << 30 << QStringLiteral("4:3") << true;
        QTest::addRow("4:3 picture from non-square pixels")
            << QStringLiteral("Studio 4:3") << 720 << 576 << 25 << QStringLiteral("4:3") << true;
        QTest::addRow("source without audio")
            << QStringLiteral("No Sound") << 320 << 180 << 25 << QStringLiteral("16:9") << false;
    }

    void recordsTheSource()
    {
        QFETCH(QString, source);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fps);
        QFETCH(QString, displayAspect);
        QFETCH(bool, withAudio);
        const QString output
            = folder(QStringLiteral("plain-%1x%2%3").arg(width).arg(height).arg(withAudio ? "" : "-silent"))
            + QStringLiteral("/take 1.mov");
        RecorderRun run;
        run.start(args(source, output, { QStringLiteral("-nothumbnail") }));

        const QByteArray started = run.waitFor(QStringLiteral("record_started"));
        QVERIFY2(!started.isEmpty(), qPrintable(run.standardError()));
        const auto startedAttributes = RecorderRun::attributes(started);
        QCOMPARE(startedAttributes.value(QStringLiteral("filename")), output);
        QCOMPARE(startedAttributes.value(QStringLiteral("filename_pvw")), QString());
        QCOMPARE(startedAttributes.value(QStringLiteral("width")).toInt(), width);
        QCOMPARE(startedAttributes.value(QStringLiteral("height")).toInt(), height);
        QVERIFY(!startedAttributes.contains(QStringLiteral("reason")));
        const double rate = startedAttributes.value(QStringLiteral("frame_rate_n")).toDouble()
            / startedAttributes.value(QStringLiteral("frame_rate_d")).toDouble();
        QCOMPARE(rate, double(fps));

        QVERIFY(run.waitForFrames(fps * 2));
        run.send("<quit/>\r\n");
        const QByteArray stopped = run.waitFor(QStringLiteral("record_stopped"));
        QVERIFY(!stopped.isEmpty());
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitCode(), 0);

        // Progress reports count up, about ten a second, in 100 ns time codes.
        int reports = 0;
        int lastFrames = -1;
        for (const QByteArray& report : run.reports()) {
            if (RecorderRun::elementName(report) != QLatin1String("recording"))
                continue;
            const auto a = RecorderRun::attributes(report);
            const int frames = a.value(QStringLiteral("no_frames")).toInt();
            QVERIFY(frames >= lastFrames);
            QCOMPARE(a.value(QStringLiteral("timecode")).toLongLong(), qint64(frames) * 10000000 / fps);
            QVERIFY(a.contains(QStringLiteral("vu_dB")));
            lastFrames = frames;
            ++reports;
        }
        QVERIFY2(reports >= 15, qPrintable(QString::number(reports)));

        const int total = RecorderRun::attributes(stopped).value(QStringLiteral("no_frames")).toInt();
        QCOMPARE(RecorderRun::attributes(stopped).value(QStringLiteral("last_timecode")).toLongLong(),
            qint64(total) * 10000000 / fps);
        const QJsonObject probe = RecorderRun::probe(output);
        QVERIFY2(probe.value(QStringLiteral("format")).toString().contains(QLatin1String("mov")), qPrintable(output));
        const QJsonObject video = probe.value(QStringLiteral("video")).toObject();
        const QJsonObject audio = probe.value(QStringLiteral("audio")).toObject();
        QCOMPARE(video.value(QStringLiteral("codec_name")).toString(), QStringLiteral("speedhq"));
        QCOMPARE(video.value(QStringLiteral("pix_fmt")).toString(), QStringLiteral("yuv422p"));
        QCOMPARE(video.value(QStringLiteral("width")).toInt(), width);
        QCOMPARE(video.value(QStringLiteral("height")).toInt(), height);
        QCOMPARE(video.value(QStringLiteral("display_aspect_ratio")).toString(), displayAspect);
        QCOMPARE(videoFrames(probe), total);
        QCOMPARE(probe.contains(QStringLiteral("audio")), withAudio);
        if (withAudio) {
            QCOMPARE(audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("pcm_f32le"));
            QCOMPARE(audio.value(QStringLiteral("sample_rate")).toString(), QStringLiteral("48000"));
            QCOMPARE(audio.value(QStringLiteral("channels")).toInt(), 2);
        }
        QVERIFY(qAbs(probe.value(QStringLiteral("duration")).toDouble() - double(total) / fps) < 0.2);
        QVERIFY(!QFileInfo::exists(output + QStringLiteral(".preview")));
    }

    void writesAPreviewUnlessTold()
    {
        const QString output = folder(QStringLiteral("preview")) + QStringLiteral("/cam.mov");
        RecorderRun run;
        run.start(args(QStringLiteral("Small Cam"), output));
        const QByteArray started = run.waitFor(QStringLiteral("record_started"));
        QCOMPARE(RecorderRun::attributes(started).value(QStringLiteral("filename_pvw")),
            output + QStringLiteral(".preview"));
        QVERIFY(run.waitForFrames(25));
        run.send("<quit/>\r\n");
        QVERIFY(run.waitForExit());
        const int total = RecorderRun::attributes(run.waitFor(QStringLiteral("record_stopped")))
                              .value(QStringLiteral("no_frames"))
                              .toInt();

        const QJsonObject preview = RecorderRun::probe(output + QStringLiteral(".preview"));
        const QJsonObject video = preview.value(QStringLiteral("video")).toObject();
        QCOMPARE(video.value(QStringLiteral("width")).toInt(), 80);
        QCOMPARE(video.value(QStringLiteral("height")).toInt(), 44);
        QCOMPARE(videoFrames(preview), total);
        QVERIFY(preview.contains(QStringLiteral("audio")));
    }

    void recordLevelScalesAudio_data()
    {
        QTest::addColumn<QByteArray>("gain");
        QTest::addColumn<double>("peakDb");
        const double source = 20.0 * std::log10(0.5);
        QTest::addRow("no gain") << QByteArray("0") << source;
        QTest::addRow("-20 dB") << QByteArray("-20") << source - 20.0;
        QTest::addRow("-14.5 dB") << QByteArray("-14.5") << source - 14.5;
        QTest::addRow("+12 dB goes above full scale unclipped") << QByteArray("12") << source + 12.0;
    }

    void recordLevelScalesAudio()
    {
        QFETCH(QByteArray, gain);
        QFETCH(double, peakDb);
        const QString output = folder(QStringLiteral("gain")) + QStringLiteral("/level ") + QString::fromLatin1(gain)
            + QStringLiteral(".mov");
        RecorderRun run;
        run.start(args(
            QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail"), QStringLiteral("-noautostart") }));
        run.send("<record_level gain=\"" + gain + "\"/>\r\n<start/>\r\n");
        QVERIFY(!run.waitFor(QStringLiteral("record_started")).isEmpty());
        QVERIFY(run.waitForFrames(15));
        run.send("<quit/>\r\n");
        QVERIFY(run.waitForExit());
        const double peak = RecorderRun::audioPeakDb(output);
        QVERIFY2(qAbs(peak - peakDb) < 0.1, qPrintable(QStringLiteral("%1 dB, expected %2").arg(peak).arg(peakDb)));
    }

    void waitsForStartWhenArmed()
    {
        const QString dir = folder(QStringLiteral("armed"));
        const QString output = dir + QStringLiteral("/armed.mov");
        RecorderRun run;
        run.start(args(
            QStringLiteral("Small Cam"), output, { QStringLiteral("-noautostart"), QStringLiteral("-nothumbnail") }));
        // A level change is answered on stderr only; once it is there the program is up and armed.
        run.send("<record_level gain=\"-3\"/>\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(run.standardError().contains(QLatin1String("Record level -3 dB")), 10000);
        QVERIFY(QDir(dir).isEmpty());
        QVERIFY(run.reports().isEmpty());
        run.send("<quit/>\r\n");
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitCode(), 0);
        QVERIFY(run.waitFor(QStringLiteral("record_stopped"), 0).isEmpty()); // nothing was recorded
        QVERIFY(QDir(dir).isEmpty());
    }

    // A chop closes one file and opens the next between two frames: no frame lost or repeated. A
    // source that changes its format starts the next file by itself, so no file mixes two formats.
    void chopSplitsBetweenFrames_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("change"); // the source's new video and audio
        QTest::addColumn<QString>("secondName");
        QTest::addColumn<int>("width"); // of the second file
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("sampleRate");
        QTest::addRow("to a new name") << QByteArray("<record_chop filename=\"DIR/part two.mov\"/>") << QByteArray()
                                       << QStringLiteral("part two.mov") << 320 << 180 << 25 << 48000;
        QTest::addRow("to the current name") << QByteArray("<record_chop filename=\"DIR/part.mov\"/>") << QByteArray()
                                             << QStringLiteral("part (2).mov") << 320 << 180 << 25 << 48000;
        QTest::addRow("without a name") << QByteArray("<record_chop/>") << QByteArray()
                                        << QStringLiteral("part (2).mov") << 320 << 180 << 25 << 48000;
        QTest::addRow("to another folder") << QByteArray("<record_chop filename=\"DIR/b/part.mov\"/>") << QByteArray()
                                           << QStringLiteral("b/part.mov") << 320 << 180 << 25 << 48000;
        QTest::addRow("source changes frame rate")
            << QByteArray() << QByteArray(R"("video": {"width": 320, "height": 180, "fps": 50}, "audio": {})")
            << QStringLiteral("part (2).mov") << 320 << 180 << 50 << 48000;
        QTest::addRow("source changes picture size")
            << QByteArray() << QByteArray(R"("video": {"width": 640, "height": 360, "fps": 25}, "audio": {})")
            << QStringLiteral("part (2).mov") << 640 << 360 << 25 << 48000;
        QTest::addRow("source changes audio rate")
            << QByteArray()
            << QByteArray(R"("video": {"width": 320, "height": 180, "fps": 25}, "audio": {"rate": 44100})")
            << QStringLiteral("part (2).mov") << 320 << 180 << 25 << 44100;
    }

    void chopSplitsBetweenFrames()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, change);
        QFETCH(QString, secondName);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fps);
        QFETCH(int, sampleRate);
        const QString dir = folder(QStringLiteral("chop-")
            + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        QDir(dir).mkdir(QStringLiteral("b"));
        const QString network = dir + QStringLiteral("/network.json");
        QVERIFY(writeNetwork(
            network, R"({"name": "Changing", "video": {"width": 320, "height": 180, "fps": 25}, "audio": {}})"));
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("NDI_SIM_SOURCES"), network);
        const QString first = dir + QStringLiteral("/part.mov");
        RecorderRun run;
        run.start(args(QStringLiteral("Changing"), first, { QStringLiteral("-nothumbnail") }), extra);
        int firstIndex = -1;
        QVERIFY(!run.waitFor(QStringLiteral("record_started"), 15000, &firstIndex).isEmpty());
        QVERIFY(run.waitForFrames(20));
        if (change.isEmpty())
            run.send(command.replace("DIR", dir.toUtf8()) + "\r\n");
        else
            QVERIFY(writeNetwork(network, R"({"name": "Changing", )" + change + "}"));
        const QByteArray next = run.waitFor(QStringLiteral("record_started"), 15000, nullptr, firstIndex + 1);
        QVERIFY2(!next.isEmpty(), qPrintable(run.standardError()));
        const auto started = RecorderRun::attributes(next);
        const QString second = dir + QLatin1Char('/') + secondName;
        QCOMPARE(started.value(QStringLiteral("filename")), second);
        QCOMPARE(started.value(QStringLiteral("reason")), change.isEmpty() ? QString() : QStringLiteral("format"));
        QCOMPARE(started.value(QStringLiteral("width")).toInt(), width);
        QCOMPARE(started.value(QStringLiteral("height")).toInt(), height);
        QCOMPARE(started.value(QStringLiteral("frame_rate_n")).toDouble()
                / started.value(QStringLiteral("frame_rate_d")).toDouble(),
            double(fps));
        QVERIFY(run.waitForFrames(45));
        run.send("<quit/>\r\n");
        QVERIFY(run.waitForExit());
        const auto stopped = RecorderRun::attributes(run.waitFor(QStringLiteral("record_stopped")));
        const int total = stopped.value(QStringLiteral("no_frames")).toInt();

        const QJsonObject firstProbe = RecorderRun::probe(first);
        const QJsonObject secondProbe = RecorderRun::probe(second);
        const int firstFrames = videoFrames(firstProbe);
        const int secondFrames = videoFrames(secondProbe);
        QVERIFY2(firstFrames >= 20 && secondFrames > 0,
            qPrintable(QStringLiteral("%1 + %2").arg(firstFrames).arg(secondFrames)));
        QCOMPARE(firstFrames + secondFrames, total);
        // The time code goes on at each piece's own rate.
        QCOMPARE(stopped.value(QStringLiteral("last_timecode")).toLongLong(),
            qint64(firstFrames) * 10000000 / 25 + qint64(secondFrames) * 10000000 / fps);
        QCOMPARE(secondProbe.value(QStringLiteral("video")).toObject().value(QStringLiteral("width")).toInt(), width);
        QCOMPARE(secondProbe.value(QStringLiteral("video")).toObject().value(QStringLiteral("height")).toInt(), height);
        QCOMPARE(secondProbe.value(QStringLiteral("audio")).toObject().value(QStringLiteral("sample_rate")).toString(),
            QString::number(sampleRate));
        QCOMPARE(timing(second).frameRate, QStringLiteral("%1/1").arg(fps));
        for (const QString& path : { first, second }) {
            const Timing t = timing(path);
            QVERIFY2(qAbs(t.video - t.audio) < 0.2,
                qPrintable(QStringLiteral("%1: video %2 s, audio %3 s").arg(path).arg(t.video).arg(t.audio)));
        }
    }

    void sameNameInTheSameSecondIsNotOverwritten()
    {
        const QString dir = folder(QStringLiteral("same"));
        const QString output = dir + QStringLiteral("/Small Cam_2024-05-01_14-03-59.mov");
        RecorderRun first;
        RecorderRun second;
        first.start(args(QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail") }));
        second.start(args(QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail") }));
        const QString a = RecorderRun::attributes(first.waitFor(QStringLiteral("record_started")))
                              .value(QStringLiteral("filename"));
        const QString b = RecorderRun::attributes(second.waitFor(QStringLiteral("record_started")))
                              .value(QStringLiteral("filename"));
        const QSet<QString> names { a, b };
        QCOMPARE(names, (QSet<QString> { output, dir + QStringLiteral("/Small Cam_2024-05-01_14-03-59 (2).mov") }));
        QVERIFY(first.waitForFrames(10));
        QVERIFY(second.waitForFrames(10));
        first.send("<quit/>\r\n");
        second.send("<exit/>\r\n");
        QVERIFY(first.waitForExit());
        QVERIFY(second.waitForExit());
        for (const QString& name : names)
            QVERIFY2(videoFrames(RecorderRun::probe(name)) >= 10, qPrintable(name));
    }

    void killedRecordingStaysPlayable()
    {
        const QString output = folder(QStringLiteral("killed")) + QStringLiteral("/killed.mov");
        RecorderRun run;
        run.start(args(QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail") }));
        QVERIFY(run.waitForFrames(75)); // three seconds
        run.process().kill();
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitStatus(), QProcess::CrashExit);
        QVERIFY(run.waitFor(QStringLiteral("record_stopped"), 0).isEmpty());

        const QJsonObject probe = RecorderRun::probe(output);
        // Everything but about the last second survives.
        QVERIFY2(videoFrames(probe) >= 75 - 30, qPrintable(QString::number(videoFrames(probe))));
        QCOMPARE(probe.value(QStringLiteral("video")).toObject().value(QStringLiteral("codec_name")).toString(),
            QStringLiteral("speedhq"));
        QVERIFY(probe.value(QStringLiteral("duration")).toDouble() >= 1.8);
    }

    void finishesWhenInputCloses()
    {
        const QString output = folder(QStringLiteral("orphan")) + QStringLiteral("/orphan.mov");
        RecorderRun run;
        run.start(args(QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail") }));
        QVERIFY(run.waitForFrames(10));
        run.process().closeWriteChannel();
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        const QByteArray stopped = run.waitFor(QStringLiteral("record_stopped"), 0);
        QVERIFY(!stopped.isEmpty());
        QCOMPARE(videoFrames(RecorderRun::probe(output)),
            RecorderRun::attributes(stopped).value(QStringLiteral("no_frames")).toInt());
    }

    // A parent that stops reading must not stop the recording, nor keep the program from quitting.
    void keepsRecordingWhileReportsAreNotRead()
    {
        const QString output = folder(QStringLiteral("unread")) + QStringLiteral("/unread.mov");
        const QByteArray fifo = (TestEnv::root() + QStringLiteral("/unread-reports")).toLocal8Bit();
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int filler = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0 && filler >= 0);
        // Full before the first report, as if the parent had stopped reading long ago.
        const QByteArray block(4096, '\n');
        while (::write(filler, block.constData(), size_t(block.size())) > 0) { }
        while (::write(filler, "\n", 1) > 0) { }
        ::close(filler);

        RecorderRun run;
        run.process().setStandardOutputFile(QString::fromLocal8Bit(fifo));
        run.start(args(QStringLiteral("Small Cam"), output, { QStringLiteral("-nothumbnail") }));
        // Seconds of pictures: far more than a program held up at its first report could write.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() > 1 << 20, 30000);
        run.send("<quit/>\r\n");
        QVERIFY2(run.waitForExit(), qPrintable(run.standardError()));
        ::close(reader);
        QCOMPARE(run.process().exitCode(), 0);
        QVERIFY(videoFrames(RecorderRun::probe(output)) >= 25);
    }

    void reportsErrorsAndKeepsRunning_data()
    {
        QTest::addColumn<QString>("where"); // "missing", "readonly", "full", "gone", "nosource" or "leaves"
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("stops"); // the recording ends by itself
        QTest::addRow("folder missing") << QStringLiteral("missing") << QStringLiteral("Folder does not exist: ")
                                        << false;
        QTest::addRow("folder not writable")
            << QStringLiteral("readonly") << QStringLiteral("Cannot write to folder ") << false;
        QTest::addRow("disk full") << QStringLiteral("full") << QStringLiteral("No space left on device") << true;
        QTest::addRow("chop into a folder removed meanwhile")
            << QStringLiteral("gone") << QStringLiteral("Folder does not exist: ") << true;
        QTest::addRow("source never seen")
            << QStringLiteral("nosource") << QStringLiteral("Source Nobody Here sends no video") << false;
        QTest::addRow("source leaves while recording")
            << QStringLiteral("leaves") << QStringLiteral("Source Leaving sends no video") << false;
    }

    void reportsErrorsAndKeepsRunning()
    {
        QFETCH(QString, where);
        QFETCH(QString, error);
        QFETCH(bool, stops);
        QString output = folder(QStringLiteral("errors-") + where) + QStringLiteral("/x.mov");
        QString source = QStringLiteral("Small Cam");
        if (where == QLatin1String("missing")) {
            output = TestEnv::root() + QStringLiteral("/no/such/folder/x.mov");
        } else if (where == QLatin1String("readonly")) {
            const QString dir = mountTmpfs(QStringLiteral("ro"), "ro,size=1M");
            if (dir.isEmpty())
                QSKIP("Mounting a tmpfs is not permitted here");
            output = dir + QStringLiteral("/x.mov");
        } else if (where == QLatin1String("full")) {
            const QString dir = mountTmpfs(QStringLiteral("full"), "size=2M");
            if (dir.isEmpty())
                QSKIP("Mounting a tmpfs is not permitted here");
            output = dir + QStringLiteral("/x.mov");
        } else if (where == QLatin1String("nosource")) {
            source = QStringLiteral("Nobody Here");
        }
        // A network of its own, so the source can leave it.
        const QString network = TestEnv::root() + QStringLiteral("/leaving.json");
        QProcessEnvironment extra;
        if (where == QLatin1String("leaves")) {
            source = QStringLiteral("Leaving");
            QVERIFY(writeNetwork(
                network, R"({"name": "Leaving", "video": {"width": 160, "height": 90, "fps": 25}, "audio": {}})"));
            extra.insert(QStringLiteral("NDI_SIM_SOURCES"), network);
        }
        RecorderRun run;
        run.start(args(source, output, { QStringLiteral("-nothumbnail") }), extra);
        if (where == QLatin1String("leaves")) {
            QVERIFY(run.waitForFrames(10));
            QVERIFY(writeNetwork(network, {}));
        } else if (where == QLatin1String("gone")) {
            QVERIFY(run.waitForFrames(10));
            QVERIFY(QFileInfo(output).dir().removeRecursively());
            run.send("<record_chop/>\r\n");
        }
        int errorIndex = -1;
        const QByteArray report = run.waitFor(QStringLiteral("record_error"), 20000, &errorIndex);
        QVERIFY2(!report.isEmpty(), qPrintable(run.standardError()));
        QVERIFY2(RecorderRun::attributes(report).value(QStringLiteral("error")).contains(error), report.constData());
        if (stops) // the end is reported at once, not only at quit
            QVERIFY(!run.waitFor(QStringLiteral("record_stopped"), 15000, nullptr, errorIndex + 1).isEmpty());
        QCOMPARE(run.process().state(), QProcess::Running);
        run.send("<quit/>\r\n");
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitCode(), 0);
        if (where == QLatin1String("full"))
            QVERIFY(videoFrames(RecorderRun::probe(output)) > 0); // what fitted is kept
    }

    void refusesABadCommandLine()
    {
        RecorderRun run;
        run.start({ QStringLiteral("-i"), QStringLiteral("Small Cam"), QStringLiteral("-nothumbnail") });
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), 2);
        QCOMPARE(run.reports(), QList<QByteArray> { "<record_error error=\"No output file given (-o PATH)\"/>" });
    }

    void traceHoldsTheExactBytes()
    {
        const QString trace = TestEnv::root() + QStringLiteral("/trace.bin");
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("NDI_RECORD_TRACE"), trace);
        const QString dir = folder(QStringLiteral("trace"));
        RecorderRun run;
        run.start(args(QStringLiteral("Small Cam"), dir + QStringLiteral("/t.mov"), { QStringLiteral("-noautostart") }),
            extra);
        const QByteArray bytes = "<record_level gain=\"-20\"/>\r\n<record_chop filename=\"" + dir.toUtf8()
            + "/R&D \"quoted\" \xc3\xa9.mov\"/>\r\n<quit/>\r\n";
        run.send(bytes);
        QVERIFY(run.waitForExit());
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
    }
};

QTEST_GUILESS_MAIN(TestRecordingProgram)
#include "tst_recordingprogram.moc"
