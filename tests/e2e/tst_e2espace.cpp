#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTest>

#include <cmath>

using namespace E2E;

namespace
{

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Leaves about `keepBytes` free on the drive of `folder`, in one go.
bool fillDrive(const QString& folder, qint64 keepBytes)
{
    const qint64 available = QStorageInfo(folder).bytesAvailable();
    if (available <= keepBytes)
        return true;
    return run(QStringLiteral("fallocate"),
        { QStringLiteral("-l"), QString::number(available - keepBytes), folder + QStringLiteral("/filler.bin") });
}

} // namespace

// Locations A and B on two small drives of their own: a full A moves the recording to B without a
// gap, a full B as well ends it with "Out of space", and every file plays.
class TestE2ESpace : public QObject
{
    Q_OBJECT

private:
    QStringList mounted;

private Q_SLOTS:
    void cleanup()
    {
        for (const QString& point : std::as_const(mounted)) {
            if (!run(QStringLiteral("umount"), { point }))
                run(QStringLiteral("umount"), { QStringLiteral("-l"), point });
        }
        mounted.clear();
    }

    void fullDriveMovesThenStops()
    {
        if (!QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder")))
            QSKIP("the application has not been built");
        const QString folderA = TestEnv::makeFolder(QStringLiteral("drive-a"));
        const QString folderB = TestEnv::makeFolder(QStringLiteral("drive-b"));
        for (const QString& point : { folderA, folderB }) {
            if (!run(QStringLiteral("mount"),
                    { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=1G"),
                        QStringLiteral("tmpfs"), point }))
                QSKIP("mounting a small drive is not permitted here");
            mounted.append(point);
        }
        QCOMPARE(QStorageInfo(folderA).rootPath(), folderA);

        AppRun app(QStringLiteral("space"));
        app.setSetting(QStringLiteral("defaultLocation"), folderA);
        app.setSetting(QStringLiteral("defaultLocationB"), folderB);
        app.setSetting(QStringLiteral("abRecording"), true);
        app.setSources({ smallSource(QStringLiteral("SPACE (Cam 1)")) });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"SPACE (Cam 1)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_subscribe/>"), QByteArray("<succes uid=\"\" />"));
        QElapsedTimer clock;
        clock.start();
        client.socket.write("<recording_start slot=\"1\"/>\r\n");
        QCOMPARE(client.nextLine(), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.nextLine(30000), QByteArray("<recording slot=\"1\" state=\"1\" />"));
        const qint64 startedAt = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folderA).size(), 1, 20000);
        QTest::qWait(3000); // material on A before it fills

        QVERIFY(fillDrive(folderA, 350LL * 1000 * 1000));
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folderB).size(), 1, 20000);
        QCOMPARE(client.recordingState(1), QByteArray("1"));
        QTest::qWait(3000); // material on B before it fills too
        QVERIFY(!app.log().contains(QStringLiteral("Out of space")));

        QVERIFY(fillDrive(folderB, 350LL * 1000 * 1000));
        QByteArray event;
        do {
            event = client.nextLine(20000);
        } while (!event.isEmpty() && event.startsWith("<succes"));
        QCOMPARE(event, QByteArray("<recording slot=\"1\" state=\"0\" />"));
        const qint64 stoppedAt = clock.elapsed();
        QVERIFY(app.waitForLog(QStringLiteral("Slot 1 stopped recording. Reason: Out of space"), 10000));
        QVERIFY(app.terminate());

        const QStringList files = movFiles(folderA) + movFiles(folderB);
        QCOMPARE(files.size(), 2);
        double total = 0.0;
        for (const QString& file : files) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
            QVERIFY2(result.duration > 2.0, qPrintable(QString::number(result.duration)));
            total += result.duration;
        }
        // No gap at the move: the two files together cover the whole recording.
        const double recorded = double(stoppedAt - startedAt) / 1000.0;
        QVERIFY2(std::abs(total - recorded) <= 1.5,
            qPrintable(QStringLiteral("%1 s in files for %2 s recorded").arg(total).arg(recorded)));
    }
};

QTEST_GUILESS_MAIN(TestE2ESpace)
#include "tst_e2espace.moc"
