#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QTest>

#include <cmath>

using namespace E2E;

// Four slots recording at once with splitting every minute: every piece plays, the pieces add up
// to the time recorded, and no piece replaces another.
class TestE2ESplit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fourSlotsSplitEveryMinute()
    {
        if (!QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder")))
            QSKIP("the application has not been built");
        const int seconds = qEnvironmentVariableIsSet("RECORDER_E2E_RECORD_SECONDS")
            ? qEnvironmentVariableIntValue("RECORDER_E2E_RECORD_SECONDS")
            : 75;
        QVERIFY(seconds > 0);
        const int splits = (seconds - 1) / 60;

        AppRun app(QStringLiteral("split"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("split-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        app.setSetting(QStringLiteral("chopEnabled"), true);
        app.setSetting(QStringLiteral("chopMinutes"), 1);
        QJsonArray sources;
        for (int n = 1; n <= 4; ++n)
            sources.append(smallSource(QStringLiteral("SPLIT (Cam %1)").arg(n), 10));
        app.setSources(sources);
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(client.command(QStringLiteral("<connect slot=\"%1\" source=\"SPLIT (Cam %1)\"/>").arg(n).toUtf8()),
                QByteArray("<succes uid=\"\" />"));
        }
        QCOMPARE(client.command("<recording_subscribe/>"), QByteArray("<succes uid=\"\" />"));

        // Every confirmation arrives as an event; its arrival time is the start of that recording.
        QElapsedTimer clock;
        clock.start();
        QHash<int, qint64> startedAt;
        // Replies and events interleave: all four starts go out at once and both kinds are counted.
        for (int n = 1; n <= 4; ++n)
            client.socket.write(QStringLiteral("<recording_start slot=\"%1\"/>\r\n").arg(n).toUtf8());
        int accepted = 0;
        while (startedAt.size() < 4 || accepted < 4) {
            const QByteArray line = client.nextLine(30000);
            QVERIFY2(!line.isEmpty(), "not every recording was accepted and confirmed");
            if (line == "<succes uid=\"\" />")
                ++accepted;
            else if (line.startsWith("<recording slot=") && line.contains("state=\"1\""))
                startedAt.insert(line.mid(17).split('"').first().toInt(), clock.elapsed());
            else
                QFAIL(line.constData());
        }

        QVERIFY(QTest::qWaitFor(
            [&] { return clock.elapsed() > qint64(seconds) * 1000 + startedAt.value(1); }, (seconds + 30) * 1000));
        QHash<int, qint64> stoppedAt;
        for (int n = 1; n <= 4; ++n) {
            stoppedAt.insert(n, clock.elapsed());
            client.socket.write(QStringLiteral("<recording_stop slot=\"%1\"/>\r\n").arg(n).toUtf8());
        }
        int stopped = 0;
        int confirmed = 0;
        while (stopped < 4 || confirmed < 4) {
            const QByteArray line = client.nextLine(30000);
            QVERIFY2(!line.isEmpty(), "not every recording was stopped");
            if (line == "<succes uid=\"\" />")
                ++stopped;
            else if (line.startsWith("<recording slot=") && line.contains("state=\"0\""))
                ++confirmed;
            else
                QFAIL(line.constData());
        }
        QVERIFY(app.terminate(60000));
        QCOMPARE(app.logCount(QStringLiteral("is splitting recording")), 4 * splits);

        const QStringList files = movFiles(folder);
        QCOMPARE(files.size(), 4 * (splits + 1));
        for (int n = 1; n <= 4; ++n) {
            const QString prefix = QStringLiteral("SPLIT (Cam %1)_").arg(n);
            double total = 0.0;
            QList<double> pieces;
            for (const QString& file : files) {
                if (!QFileInfo(file).fileName().startsWith(prefix))
                    continue;
                const ProbeResult result = probe(file);
                QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
                pieces.append(result.duration);
                total += result.duration;
            }
            QCOMPARE(pieces.size(), splits + 1);
            // A recording program that fell behind says so, and then its pieces hold less than the
            // wall-clock time; on a machine that busy only the count and the playability are exact.
            const bool delayed = app.log().contains(QStringLiteral("Something delayed everything."));
            const double recorded = double(stoppedAt.value(n) - startedAt.value(n)) / 1000.0;
            const QString figures = QStringLiteral("slot %1: %2 s in %3 files for %4 s recorded")
                                        .arg(n)
                                        .arg(total)
                                        .arg(pieces.size())
                                        .arg(recorded);
            qInfo("%s%s", qPrintable(figures), delayed ? " (the recording programs reported delays)" : "");
            if (delayed) {
                QVERIFY2(total > recorded * 0.7 && total < recorded + 1.0, qPrintable(figures));
                continue;
            }
            // Every piece but the last is one interval long (names sort by the numbering of the
            // program, so count the full pieces instead of relying on the order).
            int fullMinutes = 0;
            for (double piece : pieces)
                fullMinutes += std::abs(piece - 60.0) < 1.0 ? 1 : 0;
            QVERIFY2(fullMinutes >= splits, qPrintable(figures));
            // Latency of both ends, and two frames per split.
            const double allowance = 1.0 + splits * 2.0 / 10.0;
            QVERIFY2(std::abs(total - recorded) <= allowance, qPrintable(figures));
        }
    }
};

QTEST_GUILESS_MAIN(TestE2ESplit)
#include "tst_e2esplit.moc"
