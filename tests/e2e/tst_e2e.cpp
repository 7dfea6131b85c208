#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

using namespace E2E;

namespace
{

bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return !line.isEmpty() && line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

qint64 writerOf(const AppRun& app, const QString& file)
{
    for (const ChildProcess& child : app.recorders()) {
        if (child.arguments.contains(file))
            return child.pid;
    }
    return 0;
}

QString failures(const QStringList& files, double minimum)
{
    QString text;
    for (const QString& file : files) {
        const ProbeResult result = probe(file);
        if (!result.ok || result.duration < minimum)
            text += QStringLiteral("%1: %2 s %3\n").arg(file).arg(result.duration).arg(result.errors);
    }
    return text;
}

} // namespace

// What only the whole app proves: recording programs that die or freeze under it, drives that fill,
// a source that leaves, and an orderly end; every file through ffprobe.
class TestE2E : public QObject
{
    Q_OBJECT
    std::unique_ptr<AppRun> app;
    ControlClient client;
    QString folder;

    // The app on sources of the given names (recording into a folder of the test's name), slots
    // 1.. bound to them.
    void start(const QStringList& sources, const QVariantMap& settings = {}, int fps = 25)
    {
        const QString name = QTest::currentTestFunction();
        app = std::make_unique<AppRun>(name);
        folder = TestEnv::makeFolder(name + QStringLiteral("-videos"));
        app->setSetting(QStringLiteral("defaultLocation"), folder);
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            app->setSetting(it.key(), it.value());
        QJsonArray network;
        for (const QString& source : sources)
            network.append(NdiSim::small(source, fps));
        app->setSources(network);
        // A low soft limit under a higher hard one, as many systems set: the app raises it.
        app->process.setChildProcessModifier([] {
            rlimit limit {};
            ::getrlimit(RLIMIT_NOFILE, &limit), limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 256);
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
        QVERIFY(app->start());
        client.socket.abort();
        QVERIFY(client.connectTo(app->tcpPort));
        for (int n = 1; n <= sources.size(); ++n)
            QCOMPARE(client.command(
                         QStringLiteral("<connect slot=\"%1\" source=\"%2\"/>").arg(n).arg(sources[n - 1]).toUtf8()),
                QByteArray("<succes uid=\"\" />"));
    }
    void record(int slot, bool confirmed = true)
    {
        QCOMPARE(
            client.command(
                QStringLiteral("<recording_%1 slot=\"%2\"/>").arg(confirmed ? "start" : "stop").arg(slot).toUtf8()),
            QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(slot), QByteArray(confirmed ? "1" : "0"), 30000);
    }
    void waitForSeconds(const QString& file, double seconds)
    {
        QTRY_VERIFY_WITH_TIMEOUT(probe(file).duration >= seconds, 30000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!AppRun::built())
            QSKIP("the application or the recording program has not been built");
    }
    void cleanup() { app.reset(); }

    // A killed program is replaced and the recording goes on in a new piece; what was written stays
    // playable and the record holds what ffprobe finds. A record the last run left open ends at start.
    void recorderKilledMidRecording()
    {
        const QString stale = TestEnv::makeFolder(QStringLiteral("recorderKilledMidRecording-videos"))
            + QStringLiteral("/OLD (Cam)_2026-12-01.recording.json");
        NdiSim::writeText(R"({"frames": 208, "stopReason": null})", stale);
        start({ QStringLiteral("KILL (Cam 1)") });
        QCOMPARE(jsonFile(stale)["stopReason"].toString(), QStringLiteral("app ended"));
        record(1);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        waitForSeconds(movFiles(folder).first(), 3.0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::kill(pid_t(writerOf(*app, movFiles(folder).first())), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 20000);
        const qint64 recovery = clock.elapsed();
        QCOMPARE(client.recordingState(1), QByteArray("1"));
        waitForSeconds(movFiles(folder).last(), 2.0);
        record(1, false);
        QVERIFY(app->terminate());
        QVERIFY2(failures(movFiles(folder), 2.0).isEmpty(), qPrintable(failures(movFiles(folder), 2.0)));
        const QStringList records = QDir(folder).entryList({ QStringLiteral("KILL*.recording.json") });
        QCOMPARE(records.size(), 1);
        const QJsonObject record = jsonFile(QDir(folder).filePath(records[0]));
        QStringList seen, probed;
        for (const QJsonValue& piece : record["pieces"].toArray()) {
            seen << piece["reason"].toString() + ' ' + QString::number(piece["frames"].toInteger());
            probed << piece["reason"].toString() + ' ' + QString::number(probe(piece["path"].toString()).videoFrames);
        }
        qInfo("new piece %lld ms after the kill; record %s, ffprobe %s", recovery, qPrintable(seen.join(", ")),
            qPrintable(probed.join(", ")));
        // Also the killed program's piece: what it reported but never put in its file is not counted
        // (ffprobe also counts a frame cut off mid-write).
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1], probed[1]);
        QVERIFY2(seen[0].startsWith("start ") && qAbs(seen[0].mid(6).toInt() - probed[0].mid(6).toInt()) <= 1,
            qPrintable(seen[0] + " against " + probed[0]));
    }

    // A frozen program is noticed (a warning while the slot still records), replaced by a new piece
    // and ended, and the record counts the frames the stall cost.
    void frozenRecorderIsReplaced()
    {
        start({ QStringLiteral("FROZEN (Cam 1)") });
        ControlClient watcher;
        QVERIFY(watcher.connectTo(app->tcpPort));
        QCOMPARE(watcher.command("<progress_subscribe/>"), QByteArray("<succes uid=\"\" />"));
        QElapsedTimer clock;
        clock.start();
        record(1);
        const qint64 startedAt = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        waitForSeconds(movFiles(folder).first(), 3.0);
        const qint64 frozen = writerOf(*app, movFiles(folder).first());
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
        const double recovery = double(clock.elapsed() - frozenAt) / 1000.0,
                     detection = double(warnedAt - frozenAt) / 1000.0;
        QVERIFY(app->waitForLog(QStringLiteral("continues its recording in a new file"), 5000));
        QTRY_VERIFY_WITH_TIMEOUT(!alive(frozen), 10000); // woken, told to quit and, at worst, killed
        waitForSeconds(movFiles(folder).last(), 3.0);
        record(1, false);
        const double recorded = double(clock.elapsed() - startedAt) / 1000.0;
        QVERIFY(app->terminate());
        double played = 0.0;
        for (const QString& file : movFiles(folder))
            played += probe(file).duration;
        QVERIFY2(failures(movFiles(folder), 2.0).isEmpty(), qPrintable(failures(movFiles(folder), 2.0)));
        const QJsonObject record
            = jsonFile(QDir(folder).filePath(QDir(folder).entryList({ QStringLiteral("*.recording.json") }).value(0)));
        QCOMPARE(
            record.value("pieces").toArray().at(1).toObject().value("reason").toString(), QStringLiteral("recovery"));
        const int gap = record.value("gapFrames").toInt();
        const QString figures = QString::asprintf("warning after %.1f s, new piece after %.1f s, gap %d frames, "
                                                  "%.1f s played of %.1f s",
            detection, recovery, gap, played, recorded);
        // Generous bounds on a shared machine: the point is that both happen, and in this order; the
        // gap is the stall at 25 frames a second, and nothing else is missing.
        QVERIFY2(detection > 2.0 && detection < 4.0 && recovery > detection && recovery < 12.0, qPrintable(figures));
        QVERIFY2(std::abs(gap / 25.0 - recovery) < 2.0 && std::abs(played - (recorded - gap / 25.0)) < 2.0,
            qPrintable(figures));
    }

    // SIGTERM while two slots record and a third is armed: code 0, every file finished and playable,
    // no recording program left, the bindings stored. The soft limit of open files was raised.
    void terminatedWhileRecording()
    {
        start({ QStringLiteral("TERM (A)"), QStringLiteral("TERM (B)"), QStringLiteral("TERM (A)") });
        record(1);
        record(2);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 30000);
        for (const QString& file : movFiles(folder))
            waitForSeconds(file, 2.0);
        const QList<ChildProcess> programs = app->recorders();
        QCOMPARE(programs.size(), 3);
        QFile limits(QStringLiteral("/proc/%1/limits").arg(app->pid()));
        const QStringList open = QString(limits.open(QIODevice::ReadOnly) ? limits.readAll() : "")
                                     .split('\n')
                                     .filter("open files")
                                     .value(0)
                                     .simplified()
                                     .split(' ');
        QVERIFY2(open.size() > 4 && open.at(3) == open.at(4), qPrintable(open.join(' ')));
        QVERIFY(app->terminate());
        for (const ChildProcess& program : programs)
            QTRY_VERIFY_WITH_TIMEOUT(!alive(program.pid), 30000);
        QCOMPARE(movFiles(folder).size(), 2);
        QVERIFY2(failures(movFiles(folder), 2.0).isEmpty(), qPrintable(failures(movFiles(folder), 2.0)));
        for (const QString& name : QDir(folder).entryList({ QStringLiteral("*.recording.json") }))
            QCOMPARE(jsonFile(QDir(folder).filePath(name))["stopReason"], "exit"); // the app's end ended them
        QSettings stored(app->configFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("slots/3/source")).toString(), QStringLiteral("TERM (B)"));
        QCOMPARE(stored.value(QStringLiteral("defaultLocation")).toString(), folder);
    }

    // A and B on small drives of their own: an A filled up at once (the program cannot write, or the
    // space check sees it first) moves the recording to B with no more lost than the program lost, a
    // short B as well ends it with "Out of space".
    void fullDriveMovesThenStops()
    {
        const QStringList drives { TestEnv::makeFolder(QStringLiteral("drive-a")),
            TestEnv::makeFolder(QStringLiteral("drive-b")) };
        for (const QString& point : drives) {
            if (std::get<0>(run(QStringLiteral("mount"), QStringLiteral("-t tmpfs -o size=1G tmpfs FILE"), point)))
                QSKIP("mounting a small drive is not permitted here");
        }
        const auto unmount = qScopeGuard([&] {
            for (const QString& point : drives)
                run(QStringLiteral("umount"), QStringLiteral("-l FILE"), point);
        });
        // Leaves that much free, in one go. The program writes on meanwhile, so a try that finds the
        // space taken since it was measured measures again.
        const auto fill = [](const QString& point, qint64 left) {
            for (int attempt = 0; attempt < 20; ++attempt) {
                const qint64 size = QStorageInfo(point).bytesAvailable() - left;
                if (size <= 0)
                    return true;
                const QString filler = point + "/filler" + QString::number(attempt);
                if (std::get<0>(run(QStringLiteral("fallocate"), "-l " + QString::number(size) + " FILE", filler)) == 0)
                    return true;
                QFile::remove(filler);
            }
            return false;
        };
        start({ QStringLiteral("SPACE (Cam 1)") },
            { { "defaultLocation", drives[0] }, { "defaultLocationB", drives[1] }, { "abRecording", true } });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(client.command("<recording_subscribe/>"), QByteArray("<succes uid=\"\" />"));
        client.socket.write("<recording_start slot=\"1\"/>\r\n");
        QCOMPARE(client.nextLine(), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.nextLine(30000), QByteArray("<recording slot=\"1\" state=\"1\" />"));
        const qint64 startedAt = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(drives[0]).size(), 1, 20000);
        QTest::qWait(3000); // material on A before it fills
        QVERIFY(fill(drives[0], 65536));
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(drives[1]).size(), 1, 20000);
        QTest::qWait(3000); // and on B
        QVERIFY(!app->log().contains(QStringLiteral("Out of space")));
        QVERIFY(fill(drives[1], 350000000));
        QByteArray event;
        while ((event = client.nextLine(20000)).startsWith("<succes")) { }
        QCOMPARE(event, QByteArray("<recording slot=\"1\" state=\"0\" />"));
        const double recorded = double(clock.elapsed() - startedAt) / 1000.0;
        QVERIFY(app->terminate());
        const QStringList files = movFiles(drives[0]) + movFiles(drives[1]);
        // A's piece ends where its drive did, its last fragment maybe cut; B's is whole.
        QVERIFY2(files.size() == 2 && failures({ files[1] }, 2.0).isEmpty(), qPrintable(failures(files, 2.0)));
        const ProbeResult onA = probe(files[0]);
        const double total = onA.duration + probe(files[1]).duration;
        // Kept in the app's data folder while A is full; a good copy stays on A (the last that fitted).
        const QString name = QFileInfo(files[0]).completeBaseName() + ".recording.json";
        QVERIFY(!jsonFile(drives[0] + '/' + name)["pieces"].toArray().isEmpty());
        const QJsonObject record = jsonFile(app->dataFolder() + "/records/" + name);
        const QJsonArray pieces = record["pieces"].toArray();
        const QString figures
            = QString::asprintf("%.2f s in files for %.2f s; record: %d + %d frames, %d lost; files: %lld + %lld",
                total, recorded, pieces[0]["frames"].toInt(), pieces[1]["frames"].toInt(),
                record["droppedFrames"].toInt(), onA.videoFrames, probe(files[1]).videoFrames);
        qInfo("%s", qPrintable(figures));
        QCOMPARE(pieces[1]["reason"].toString(), QStringLiteral("location"));
        QVERIFY2(std::abs(total - recorded) <= 1.5 && onA.duration > 2.0
                && std::abs(pieces[0]["frames"].toInt() - onA.videoFrames) <= 1,
            qPrintable(figures));
    }

    // Sixteen slots recording at once through a split: every slot's pieces hold every frame its source
    // sent (none lost inside a piece, where a lost frame keeps its time, nor at the split, where the
    // time code runs on). The split interval is a whole minute.
    void sixteenSlotsKeepEveryFrame()
    {
        QStringList names;
        for (int n = 1; n <= 16; ++n)
            names << QStringLiteral("SIXTEEN (Cam %1)").arg(n);
        // 10 frames a second: two shared cores must not starve sixteen receivers into skipping.
        constexpr int fps = 10;
        start(names, { { "gridDimensions", 44 }, { "chopEnabled", true }, { "chopMinutes", 1 } }, fps);
        QCOMPARE(client.command("<recording_start slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 32, 120000);
        waitForSeconds(movFiles(folder).last(), 2.0);
        QCOMPARE(client.command("<recording_stop slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
        for (int n = 1; n <= 16; ++n)
            QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(n), QByteArray("0"), 30000);
        QVERIFY(app->terminate());
        const QStringList records = QDir(folder).entryList({ QStringLiteral("*.recording.json") });
        QCOMPARE(records.size(), 16);
        const auto frameOfDay = [](const QString& timecode) {
            const QStringList parts = timecode.split(':');
            return parts.size() == 4
                ? ((parts[0].toInt() * 60 + parts[1].toInt()) * 60 + parts[2].toInt()) * fps + parts[3].toInt()
                : -1;
        };
        qint64 total = 0;
        for (const QString& name : records) {
            const QJsonArray pieces = jsonFile(QDir(folder).filePath(name)).value("pieces").toArray();
            QString figures
                = name + QStringLiteral(" (%1 \"can't keep up\" in the log)").arg(app->log().count("keep up"));
            int expectedStart = -1;
            for (const QJsonValue& piece : pieces) {
                const QString path = piece.toObject().value("path").toString();
                const ProbeResult result = probe(path);
                const StreamTimes times = streamTimes(path);
                figures += QStringLiteral("; %1 frames in %2 s from %3")
                               .arg(result.videoFrames)
                               .arg(times.video)
                               .arg(times.timecode);
                QVERIFY2(result.ok && result.videoFrames == qRound64(times.video * fps), qPrintable(figures));
                QVERIFY2(expectedStart < 0 || frameOfDay(times.timecode) == expectedStart, qPrintable(figures));
                expectedStart = frameOfDay(times.timecode) + int(result.videoFrames);
                total += result.videoFrames;
            }
            QVERIFY2(pieces.size() == 2, qPrintable(figures));
        }
        qInfo("16 slots, 32 pieces, %lld frames, none lost", total);
    }

    // A source that leaves the network for a while: the recording lives through it, and the
    // pictures reach the same file again when it is back.
    void sourceLeavesAndReturns()
    {
        start({ QStringLiteral("AWAY (Cam 1)"), QStringLiteral("AWAY (Cam 2)") });
        QVERIFY(
            app->waitForLog(QStringLiteral("Source added: AWAY (Cam 1)"), 20000)); // known to the app before it leaves
        record(1);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        const QString file = movFiles(folder).first();
        waitForSeconds(file, 1.0);
        app->setSources({ NdiSim::small(QStringLiteral("AWAY (Cam 2)")) });
        QVERIFY2(
            app->waitForLog(QStringLiteral("Source removed: AWAY (Cam 1)"), 30000), qPrintable(app->log().right(3000)));
        const double before = probe(file).duration;
        // Every surface says so (its word comes from the one state), and the recording goes on.
        QTRY_VERIFY_WITH_TIMEOUT(client.command("<state slot='1'/>").contains("word=\"no signal\""), 10000);
        QCOMPARE(client.recordingState(1), QByteArray("1"));
        app->setSources(
            { NdiSim::small(QStringLiteral("AWAY (Cam 1)")), NdiSim::small(QStringLiteral("AWAY (Cam 2)")) });
        waitForSeconds(file, before + 2.0);
        record(1, false);
        QVERIFY(app->terminate(SIGINT)); // Ctrl+C ends the run as SIGTERM does
        QCOMPARE(movFiles(folder), QStringList { file });
        QVERIFY2(failures({ file }, before + 2.0).isEmpty(), qPrintable(failures({ file }, before + 2.0)));
        // The frames of the seconds away are lost.
        QVERIFY(jsonFile(file.chopped(4) + ".recording.json")["droppedFrames"].toInt() >= 25);
    }

    // The real Prometheus with the shipped rules scrapes two recorders through their access key, holds
    // every family and raises the stall alert for the one whose recording program is frozen, only it.
    void prometheusAlertsOnAStall()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("prometheus")).isEmpty(),
            "Prometheus is not installed (scripts/packages.txt lists it)");
        std::unique_ptr<AppRun> recorders[2];
        QStringList folders, targets;
        for (int i = 0; i < 2; ++i) {
            auto& r = recorders[i] = std::make_unique<AppRun>(QStringLiteral("prometheus%1").arg(i));
            folders << TestEnv::makeFolder(QStringLiteral("prometheus%1-videos").arg(i));
            r->setSources({ NdiSim::small(QStringLiteral("PROM (Cam %1)").arg(i)) });
            r->setSetting(QStringLiteral("defaultLocation"), folders[i]);
            r->setSetting(QStringLiteral("serverAccessKey"), QStringLiteral("k:ey"));
            ControlClient control;
            QVERIFY(r->start(true) && control.connectTo(r->tcpPort));
            for (const QString& line : { QStringLiteral("<auth key='k:ey'/>"),
                     QStringLiteral("<connect slot='1' source='PROM (Cam %1)'/>").arg(i),
                     QStringLiteral("<recording_start slot='1'/>") })
                QCOMPARE(control.command(line.toUtf8()), QByteArray("<succes uid=\"\" />"));
            targets << QStringLiteral("127.0.0.1:%1").arg(r->httpPort);
        }
        const QString root = TestEnv::makeFolder(QStringLiteral("prometheus"));
        NdiSim::writeText(
            QStringLiteral("global: { scrape_interval: 1s, evaluation_interval: 1s }\n"
                           "rule_files: ['" TESTS_SOURCE_DIR "/../deploy/prometheus/stavelin-rules.yml']\n"
                           "scrape_configs: [ { job_name: stavelin, authorization: { credentials: 'k:ey' },"
                           " static_configs: [ { targets: ['%1'] } ] } ]\n")
                .arg(targets.join("','"))
                .toUtf8(),
            root + QStringLiteral("/prometheus.yml"));
        const quint16 port = TestEnv::freePort();
        QProcess server; // killed at the end at the latest
        server.start(QStringLiteral("prometheus"),
            { "--config.file=" + root + "/prometheus.yml", "--storage.tsdb.path=" + root + "/data",
                QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) });
        const auto stop = qScopeGuard([&server] { server.terminate(), server.waitForFinished(20000); });
        // Answers stay short: Prometheus sends longer ones chunked.
        const auto api = [port](const QByteArray& path) {
            QByteArray body;
            httpGet(port, "/api/v1/" + path, &body);
            return QJsonDocument::fromJson(body).object().value("data");
        };

        QByteArray head, exposition;
        QCOMPARE(
            httpRequest(recorders[1]->httpPort, "GET /metrics\nAuthorization: Bearer k:ey", &head, &exposition), 200);
        QVERIFY2(head.contains("Content-Type: text/plain; version=0.0.4\r\n")
                && exposition.contains("\nstavelin_recording_programs 1\n"),
            head + exposition);
        QProcess lint;
        lint.start(QStringLiteral("promtool"), { QStringLiteral("check"), QStringLiteral("metrics") });
        lint.write(exposition), lint.closeWriteChannel();
        QVERIFY2(lint.waitForFinished(30000) && lint.exitCode() == 0, lint.readAll().constData());

        QTRY_VERIFY_WITH_TIMEOUT(
            movFiles(folders[1]).size() == 1 && probe(movFiles(folders[1])[0]).duration > 2, 30000);
        // A recording's drive gets its time left once its rate is known, and the scrape says it.
        QTRY_VERIFY_WITH_TIMEOUT(
            httpRequest(recorders[1]->httpPort, "GET /metrics\nAuthorization: Bearer k:ey", &head, &exposition) == 200
                && exposition.contains("\nstavelin_drive_time_left_seconds{"),
            40000); // the rate is trusted after 20 s of looks
        QCOMPARE(::kill(pid_t(writerOf(*recorders[1], movFiles(folders[1]).first())), SIGSTOP), 0);
        const auto stalled = [&api] {
            QStringList found;
            for (const QJsonValue& alert :
                api("query?query=ALERTS%7Balertname=%22RecordingStalledOrFailed%22%7D")["result"].toArray())
                found << alert["metric"]["instance"].toString() + " slot " + alert["metric"]["slot"].toString();
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(stalled(), QStringList { targets[1] + " slot 1" }, 30000);

        // Every family described, and every one with samples queryable.
        for (const QString& line : QString::fromUtf8(exposition).split('\n', Qt::SkipEmptyParts)) {
            const int at = line.startsWith('#') ? 2 : 0;
            const QString name = line.section(QRegularExpression(QStringLiteral("[{ ]")), at, at);
            if (line.startsWith(QStringLiteral("# TYPE ")))
                QVERIFY2(api("metadata?metric=" + name.toUtf8()).toObject().contains(name), qPrintable(line));
            else if (!line.startsWith('#'))
                QVERIFY2(
                    api("query?query=count(" + name.toUtf8() + ")")["result"][0]["value"][1].toString().toInt() > 0,
                    qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestE2E)
#include "tst_e2e.moc"
