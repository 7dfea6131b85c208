#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace E2E;

namespace
{

struct Usage {
    qint64 rssKiB = 0;
    int threads = 0;
};

Usage usageOf(qint64 pid)
{
    Usage usage;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return usage;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            usage.rssKiB = line.mid(6).trimmed().split(' ').first().toLongLong();
        else if (line.startsWith("Threads:"))
            usage.threads = line.mid(8).trimmed().toInt();
    }
    return usage;
}

} // namespace

// A bounded soak: recordings started and stopped over and over on four slots, status polled over
// both ports; the app's memory and thread count must not keep growing. A benchmark, not a test:
// it takes minutes and only a gross leak fails it.
class TestE2ESoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void memoryAndThreadsStayFlat()
    {
        if (!QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder")))
            QSKIP("the application has not been built");
        const int seconds = qEnvironmentVariableIsSet("RECORDER_SOAK_SECONDS")
            ? qEnvironmentVariableIntValue("RECORDER_SOAK_SECONDS")
            : 140;
        QVERIFY(seconds >= 20);

        AppRun app(QStringLiteral("soak"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("soak-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        QJsonArray sources;
        for (int n = 1; n <= 4; ++n)
            sources.append(NdiSim::small(QStringLiteral("SOAK (Cam %1)").arg(n), 10));
        app.setSources(sources);
        QVERIFY(app.start(true));

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(client.command(QStringLiteral("<connect slot=\"%1\" source=\"SOAK (Cam %1)\"/>").arg(n).toUtf8()),
                QByteArray("<succes uid=\"\" />"));
        }

        QList<Usage> samples;
        QElapsedTimer clock;
        clock.start();
        int cycles = 0;
        qint64 nextSample = 0;
        while (clock.elapsed() < qint64(seconds) * 1000) {
            // One cycle: all four record for a few seconds, then stop and wait until idle again.
            QCOMPARE(client.command("<recording_start slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
            for (int n = 1; n <= 4; ++n)
                QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(n), QByteArray("1"), 30000);
            const qint64 cycleEnd = clock.elapsed() + 6000;
            while (clock.elapsed() < cycleEnd) {
                QByteArray body;
                QCOMPARE(httpGet(app.httpPort, "/api?command=status", &body), 200);
                QVERIFY(body.contains("\"recording\""));
                QVERIFY(client.command("<status/>").startsWith("<status "));
                QByteArray line;
                do {
                    line = client.nextLine(5000);
                    QVERIFY(!line.isEmpty());
                } while (line != QByteArray("<status/>"));
                if (clock.elapsed() >= nextSample) {
                    samples.append(usageOf(app.pid()));
                    nextSample = clock.elapsed() + 2000;
                }
                QTest::qWait(200); // pacing of the polling clients, not a proof of anything
            }
            QCOMPARE(client.command("<recording_stop slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
            for (int n = 1; n <= 4; ++n)
                QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(n), QByteArray("0"), 30000);
            ++cycles;
        }
        QVERIFY(app.terminate());
        QCOMPARE(movFiles(folder).size(), 4 * cycles);

        // The first cycles warm up caches and pools; compare the second half with the first.
        QVERIFY(samples.size() >= 8);
        const int half = samples.size() / 2;
        qint64 firstRss = 0;
        qint64 secondRss = 0;
        int firstThreads = 0;
        int secondThreads = 0;
        for (int i = 0; i < samples.size(); ++i) {
            QVERIFY(samples.at(i).rssKiB > 0);
            if (i < half) {
                firstRss = std::max(firstRss, samples.at(i).rssKiB);
                firstThreads = std::max(firstThreads, samples.at(i).threads);
            } else {
                secondRss = std::max(secondRss, samples.at(i).rssKiB);
                secondThreads = std::max(secondThreads, samples.at(i).threads);
            }
        }
        qInfo("cycles %d, peak RSS %lld KiB then %lld KiB, peak threads %d then %d", cycles, firstRss, secondRss,
            firstThreads, secondThreads);
        std::printf("RESULT soak_cycles=%d cycles\n", cycles);
        std::printf("RESULT soak_rss_growth=%.1f %%\n", 100.0 * double(secondRss - firstRss) / double(firstRss));
        std::printf("RESULT soak_threads_growth=%d threads\n", secondThreads - firstThreads);
        std::fflush(stdout);
        QVERIFY2(secondRss <= firstRss + firstRss / 5 + 16 * 1024,
            qPrintable(QStringLiteral("%1 KiB after %2 KiB").arg(secondRss).arg(firstRss)));
        QVERIFY2(secondThreads <= firstThreads + 4,
            qPrintable(QStringLiteral("%1 threads after %2").arg(secondThreads).arg(firstThreads)));
        for (const QString& file : movFiles(folder).mid(0, 4)) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
        }
    }
};

QTEST_GUILESS_MAIN(TestE2ESoak)
#include "bench_soak.moc"
