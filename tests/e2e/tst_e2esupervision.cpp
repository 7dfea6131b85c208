#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <csignal>

using namespace E2E;

// Recordings that are watched: a recording program that freezes is noticed and replaced, and no
// recording program outlives the app.
class TestE2ESupervision : public QObject
{
    Q_OBJECT

private:
    static bool prerequisites()
    {
        return QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"))
            && QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/NewTek NDI Record.exe"));
    }

    static qint64 writingRecorder(const AppRun& app, const QString& file)
    {
        for (const ChildProcess& child : app.recorders()) {
            if (child.arguments.contains(file))
                return child.pid;
        }
        return 0;
    }

    static bool alive(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
    }

private Q_SLOTS:
    void frozenRecorderIsReplaced()
    {
        if (!prerequisites())
            QSKIP("the application or the recording program has not been built");
        AppRun app(QStringLiteral("frozen"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("frozen-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        app.setSources({ smallSource(QStringLiteral("FROZEN (Cam 1)")) });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        ControlClient watcher;
        QVERIFY(watcher.connectTo(app.tcpPort));
        QCOMPARE(watcher.command("<progress_subscribe/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"FROZEN (Cam 1)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_start slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("1"), 30000);
        const qint64 startedAt = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(probe(movFiles(folder).first()).duration >= 3.0, 30000);
        const qint64 frozen = writingRecorder(app, movFiles(folder).first());
        QVERIFY(frozen > 0);

        QCOMPARE(::kill(pid_t(frozen), SIGSTOP), 0);
        const qint64 frozenAt = clock.elapsed();
        qint64 warnedAt = 0;
        while (warnedAt == 0 && clock.elapsed() - frozenAt < 15000) {
            const QByteArray line = watcher.nextLine(1000);
            if (line == "<warning slot=\"1\" message=\"Recording stalled\" />")
                warnedAt = clock.elapsed();
            else if (line.startsWith("<progress slot=\"1\"") && line.contains("state=\"stalled\""))
                QVERIFY2(client.recordingState(1) == "1", "a stalled recording is still a recording");
        }
        QVERIFY2(warnedAt > 0, "no stall warning");
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 20000);
        const qint64 pieceAt = clock.elapsed();
        QVERIFY(app.waitForLog(QStringLiteral("continues its recording in a new file"), 5000));
        QTRY_VERIFY_WITH_TIMEOUT(probe(movFiles(folder).last()).ok, 20000);
        QTest::qWait(3000); // material for the new piece
        QCOMPARE(client.command("<recording_stop slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        const qint64 stoppedAt = clock.elapsed();
        QVERIFY(app.terminate());
        // The frozen program was woken, told to quit and, at worst, killed: it is gone.
        QVERIFY(!alive(frozen));

        const double detection = double(warnedAt - frozenAt) / 1000.0;
        const double recovery = double(pieceAt - frozenAt) / 1000.0;
        const QStringList files = movFiles(folder);
        QCOMPARE(files.size(), 2);
        double played = 0.0;
        for (const QString& file : files) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
            played += result.duration;
        }
        const QStringList records = QDir(folder).entryList({ QStringLiteral("*.recording.json") });
        QCOMPARE(records.size(), 1);
        QFile recordFile(QDir(folder).filePath(records.first()));
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        const QJsonArray pieces = record.value(QLatin1String("pieces")).toArray();
        QCOMPARE(pieces.size(), 2);
        QCOMPARE(pieces.at(1).toObject().value(QLatin1String("reason")).toString(), QStringLiteral("recovery"));
        const int gap = record.value(QLatin1String("gapFrames")).toInt();
        const double recorded = double(stoppedAt - startedAt) / 1000.0;
        const QString figures = QStringLiteral("warning after %1 s, new piece after %2 s, gap %3 frames, %4 s played "
                                               "of %5 s recorded")
                                    .arg(detection)
                                    .arg(recovery)
                                    .arg(gap)
                                    .arg(played)
                                    .arg(recorded);
        qInfo("%s", qPrintable(figures));
        // Generous bounds on a shared machine: the point is that both happen, and in this order.
        QVERIFY2(detection > 2.0 && detection < 4.0, qPrintable(figures));
        QVERIFY2(recovery > detection && recovery < 12.0, qPrintable(figures));
        // The gap is the stall, in frames at 25 a second, and nothing else is missing.
        QVERIFY2(std::abs(gap / 25.0 - recovery) < 2.0, qPrintable(figures));
        QVERIFY2(std::abs(played - (recorded - gap / 25.0)) < 2.0, qPrintable(figures));
    }

    void killedAppLeavesNoRecorder()
    {
        if (!prerequisites())
            QSKIP("the application or the recording program has not been built");
        AppRun app(QStringLiteral("sigkill"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("sigkill-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        QJsonObject mute = smallSource(QStringLiteral("KILL (Mute)"));
        mute.insert(QStringLiteral("audio"), QJsonValue::Null);
        app.setSources({ smallSource(QStringLiteral("KILL (Cam 1)")), mute });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"KILL (Cam 1)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<connect slot=\"2\" source=\"KILL (Mute)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<connect slot=\"3\" source=\"KILL (Cam 1)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_start slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_start slot=\"2\"/>"), QByteArray("<succes uid=\"\" />"));
        // A source without sound records its pictures.
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(2), QByteArray("1"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 30000);
        for (const QString& file : movFiles(folder))
            QTRY_VERIFY_WITH_TIMEOUT(probe(file).duration >= 2.0, 30000);
        // Recording ones and the armed one of slot 3.
        const QList<ChildProcess> programs = app.recorders();
        QCOMPARE(programs.size(), 3);
        // One of them frozen: only a signal from the system can end it.
        QCOMPARE(::kill(pid_t(programs.first().pid), SIGSTOP), 0);

        QCOMPARE(::kill(pid_t(app.pid()), SIGKILL), 0);
        QVERIFY(app.process.waitForFinished(10000));
        QElapsedTimer clock;
        clock.start();
        for (const ChildProcess& program : programs)
            QTRY_VERIFY_WITH_TIMEOUT(!alive(program.pid), 2000);
        qInfo("every recording program gone %lld ms after the app", clock.elapsed());
        for (const ChildProcess& program : programs)
            ::kill(pid_t(program.pid), SIGKILL); // a failed run must not leave them behind

        const QStringList files = movFiles(folder);
        QCOMPARE(files.size(), 2);
        for (const QString& file : files) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
            const QStringList expected
                = file.contains(QStringLiteral("Mute")) ? QStringList { "video" } : QStringList { "video", "audio" };
            QCOMPARE(streamTypes(file), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestE2ESupervision)
#include "tst_e2esupervision.moc"
