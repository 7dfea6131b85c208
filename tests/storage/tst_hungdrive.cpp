// A drive that stops answering under one slot's recording: a FUSE file system whose statfs and
// getattr hang while a control file exists, as a network share does. The window keeps drawing, both
// servers answer at once, the other slots record on, and the slot shows the drive as not answering
// until it answers again.
#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

using namespace E2E;

namespace
{

qint64 sizeOfNewest(const QString& folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList({ QStringLiteral("*.mov") }, QDir::Files, QDir::Time);
    return files.isEmpty() ? -1 : files.first().size();
}

qint64 percentile(QList<qint64> values, int percent)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(std::min<qsizetype>(values.size() - 1, values.size() * percent / 100));
}

} // namespace

class TestHungDrive : public QObject
{
    Q_OBJECT
    QProcess fileSystem;
    QString mountPoint, control;

private Q_SLOTS:
    void initTestCase()
    {
        if (!AppRun::built())
            QSKIP("the application or the recording program has not been built");
        if (!QFile::exists(QStringLiteral("/dev/fuse")))
            QSKIP("/dev/fuse is missing on this machine: no hung drive can be made");
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"), { "-c", "import fusepy" }) != 0)
            QSKIP("python3-fusepy is not installed: scripts/install-deps.sh brings it");
        const QString root = TestEnv::makeFolder(QStringLiteral("hung-drive"));
        mountPoint = TestEnv::makeFolder(QStringLiteral("hung-drive/mnt"));
        control = root + QStringLiteral("/hang");
        fileSystem.setProcessChannelMode(QProcess::ForwardedChannels);
        fileSystem.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral(TESTS_SOURCE_DIR "/storage/hangfs.py"), TestEnv::makeFolder("hung-drive/backing"),
                mountPoint, control });
        const auto mounted = [this] {
            QFile mounts(QStringLiteral("/proc/self/mounts"));
            return mounts.open(QIODevice::ReadOnly) && mounts.readAll().contains(' ' + mountPoint.toUtf8() + ' ');
        };
        if (!QTest::qWaitFor(mounted, 10000))
            QSKIP("FUSE cannot mount here (no permission in this container?)");
    }

    void cleanupTestCase()
    {
        QFile::remove(control);
        // Asked to end, the file system unmounts itself.
        fileSystem.terminate();
        if (!fileSystem.waitForFinished(5000))
            fileSystem.kill(), fileSystem.waitForFinished(5000);
    }

    void othersCarryOn()
    {
        AppRun app(QStringLiteral("othersCarryOn"));
        const QString normal = TestEnv::makeFolder(QStringLiteral("othersCarryOn-videos")),
                      hung = mountPoint + QStringLiteral("/rec");
        QVERIFY(QDir().mkpath(hung));
        // Slots 1 and 2 record to a normal folder, slot 3 to the drive that will hang (stored 1-based).
        for (const auto& [key, value] : QList<std::pair<const char*, QVariant>> { { "defaultLocation", normal },
                 { "slots/size", 4 }, { "slots/4/customLocationEnabled", true }, { "slots/4/customLocation", hung } })
            app.setSetting(QLatin1String(key), value);
        app.setEnvironment(QStringLiteral("RECORDER_RENDER_STATS"), QStringLiteral("1"));
        app.setSources({ NdiSim::small("A"), NdiSim::small("B"), NdiSim::small("C") });
        QVERIFY(app.start(true));
        ControlClient client, watcher;
        QVERIFY(client.connectTo(app.tcpPort) && watcher.connectTo(app.tcpPort));
        QCOMPARE(watcher.command("<state_subscribe/>"), QByteArray("<succes uid=\"\" />"));
        for (const char* slot : { "1", "2", "3" }) {
            const QByteArray source(1, char('A' + QByteArray(slot).toInt() - 1));
            QCOMPARE(client.command("<connect slot=\"" + QByteArray(slot) + "\" source=\"" + source + "\"/>"),
                QByteArray("<succes uid=\"\" />"));
            QCOMPARE(client.command("<recording_start slot=\"" + QByteArray(slot) + "\"/>"),
                QByteArray("<succes uid=\"\" />"));
        }
        for (int slot = 1; slot <= 3; ++slot)
            QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(slot), QByteArray("1"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(sizeOfNewest(normal) > 0 && sizeOfNewest(hung) > 0, 20000);

        while (watcher.socket.waitForReadyRead(200)) { }
        watcher.socket.readAll(); // what came before the hang
        QFile(control).open(QIODevice::WriteOnly);
        const qint64 logBefore = app.log().size(), normalBefore = sizeOfNewest(normal);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> tcp, http;
        QByteArrayList events;
        qint64 warnedAt = -1;
        const QByteArray warning = "<warning slot=\"3\" message=\"Drive not answering: " + mountPoint.toUtf8();
        while (clock.elapsed() < 6000) {
            QElapsedTimer asked;
            asked.start();
            client.send("<status slot=\"2\"/>\r\n");
            while (!client.socket.canReadLine() && client.socket.waitForReadyRead(2000)) { }
            tcp << asked.elapsed();
            QVERIFY(client.socket.readLine().contains("recording=\"1\""));
            for (const char* command : { "/api?command=status", "/api?command=recordings" }) {
                asked.start();
                QCOMPARE(httpGet(app.httpPort, command), 200);
                http << asked.elapsed();
            }
            while (watcher.socket.waitForReadyRead(50) || watcher.socket.canReadLine()) {
                while (watcher.socket.canReadLine())
                    events << watcher.socket.readLine().trimmed();
            }
            if (warnedAt < 0
                && std::any_of(events.cbegin(), events.cend(), [&](auto& e) { return e.startsWith(warning); }))
                warnedAt = clock.elapsed();
        }
        const QString during = app.log().mid(logBefore);
        qint64 drawn = 0, spells = 0;
        static const QRegularExpression statistics(QStringLiteral("Render statistics: (\\d+) frames drawn"));
        for (auto it = statistics.globalMatch(during); it.hasNext(); ++spells)
            drawn += it.next().captured(1).toLongLong();
        const QString figures = QString::asprintf(
            "status over TCP median %lld ms, 90th %lld ms, max %lld ms; over "
            "HTTP median %lld ms, 90th %lld ms, max %lld ms; window %.1f frames/s; warning after %lld ms",
            percentile(tcp, 50), percentile(tcp, 90), percentile(tcp, 100), percentile(http, 50), percentile(http, 90),
            percentile(http, 100), spells ? double(drawn) / (2.0 * double(spells)) : 0.0, warnedAt);
        qInfo("while the drive hangs: %s", qPrintable(figures));
        QVERIFY2(warnedAt >= 0 && warnedAt <= 3000, qPrintable(figures));
        // Nine answers in ten within 100 ms, and none near the hang: a shared machine under load has its
        // spikes, a main thread waiting on the drive would take seconds.
        QVERIFY2(percentile(tcp, 90) < 100 && percentile(http, 90) < 100, qPrintable(figures));
        QVERIFY2(percentile(tcp, 100) < 1000 && percentile(http, 100) < 1000, qPrintable(figures));
        QVERIFY2(spells >= 2 && drawn >= spells * 2 * 10, qPrintable(figures));
        // The other slots record on, unwarned.
        QVERIFY(sizeOfNewest(normal) > normalBefore);
        for (const QByteArray& event : std::as_const(events))
            QVERIFY2(event.contains("slot=\"3\"") || !(event.startsWith("<warning") || event.contains("stalled")),
                event.constData());

        QFile::remove(control);
        QElapsedTimer clearing;
        clearing.start();
        bool cleared = false;
        while (!cleared && clearing.elapsed() < 10000) {
            watcher.socket.waitForReadyRead(200);
            while (watcher.socket.canReadLine())
                cleared |= watcher.socket.readLine().startsWith(
                    "<warning_cleared slot=\"3\" message=\"Drive not answering");
        }
        QVERIFY2(cleared, "the warning stays after the drive answers");
        // Hung again: the stop writes its record to the drive, not on the window's time.
        QFile(control).open(QIODevice::WriteOnly);
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(client.command("<recording_stop slot=\"3\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(httpGet(app.httpPort, "/api?command=status"), 200);
        QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
        QFile::remove(control);
        QCOMPARE(client.recordingState(1) + client.recordingState(2) + client.recordingState(3), QByteArray("110"));
        QTRY_COMPARE_WITH_TIMEOUT(jsonFile(QDir(hung).entryInfoList({ "*.recording.json" }).value(0).filePath())
                                      .value("stopReason")
                                      .toString(),
            QStringLiteral("user"), 10000);
        QVERIFY(app.terminate());
    }
};

QTEST_GUILESS_MAIN(TestHungDrive)
#include "tst_hungdrive.moc"
