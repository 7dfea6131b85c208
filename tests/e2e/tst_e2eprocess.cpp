#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QFileInfo>
#include <QSettings>
#include <QTest>

#include <csignal>

using namespace E2E;

// What happens to recordings when a process dies: the recording program killed under the app, and
// the app itself told to end while it records.
class TestE2EProcess : public QObject
{
    Q_OBJECT

private:
    static bool prerequisites()
    {
        return QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"))
            && QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/NewTek NDI Record.exe"));
    }

    static qint64 recorderFor(const AppRun& app, const QString& folder)
    {
        for (const ChildProcess& child : app.recorders()) {
            const int at = child.arguments.indexOf(QStringLiteral("-o"));
            if (at >= 0 && child.arguments.value(at + 1).startsWith(folder))
                return child.pid;
        }
        return 0;
    }

private Q_SLOTS:
    void recorderKilledMidRecording()
    {
        if (!prerequisites())
            QSKIP("the application or the recording program has not been built");
        AppRun app(QStringLiteral("killed"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("killed-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        app.setSources({ smallSource(QStringLiteral("KILL (Cam 1)")) });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"KILL (Cam 1)\" uid=\"c\"/>"),
            QByteArray("<succes uid=\"c\" />"));
        QCOMPARE(client.command("<recording_start slot=\"1\" uid=\"r\"/>"), QByteArray("<succes uid=\"r\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("1"), 30000);
        // A few seconds of material, i.e. several fragments, before the program dies.
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(probe(movFiles(folder).first()).duration >= 3.0, 30000);

        const QStringList before = movFiles(folder);
        QCOMPARE(before.size(), 1);
        const qint64 victim = recorderFor(app, folder);
        QVERIFY(victim > 0);
        QCOMPARE(::kill(pid_t(victim), SIGKILL), 0);

        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("0"), 20000);
        QVERIFY(app.waitForLog(QStringLiteral("Process Error: "), 10000));
        QVERIFY(app.isRunning());

        const ProbeResult killed = probe(before.first());
        QVERIFY2(killed.ok, qPrintable(killed.errors));
        // What was on disk before the kill is still there.
        QVERIFY2(killed.duration >= 3.0, qPrintable(QString::number(killed.duration)));

        // The next start needs a fresh armed program: binding again provides one.
        QCOMPARE(client.command("<disconnect slot=\"1\" uid=\"d\"/>"), QByteArray("<succes uid=\"d\" />"));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"KILL (Cam 1)\" uid=\"c2\"/>"),
            QByteArray("<succes uid=\"c2\" />"));
        QCOMPARE(client.command("<recording_start slot=\"1\" uid=\"r2\"/>"), QByteArray("<succes uid=\"r2\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("1"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 30000);
        QTest::qWait(3000); // material for the second file; its length is checked below
        QCOMPARE(client.command("<recording_stop slot=\"1\" uid=\"s\"/>"), QByteArray("<succes uid=\"s\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("0"), 20000);
        QVERIFY(app.terminate());

        const QStringList after = movFiles(folder);
        QCOMPARE(after.size(), 2);
        QVERIFY(after.contains(before.first()));
        for (const QString& file : after) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
        }
        // The killed file was not touched by the second recording.
        QCOMPARE(probe(before.first()).videoFrames, killed.videoFrames);
    }

    void terminatedWhileRecording()
    {
        if (!prerequisites())
            QSKIP("the application or the recording program has not been built");
        AppRun app(QStringLiteral("term"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("term-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        app.setSources({ smallSource(QStringLiteral("TERM (A)")), smallSource(QStringLiteral("TERM (B)")) });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        QCOMPARE(
            client.command("<connect slot=\"2\" source=\"TERM (A)\" uid=\"a\"/>"), QByteArray("<succes uid=\"a\" />"));
        QCOMPARE(
            client.command("<connect slot=\"4\" source=\"TERM (B)\" uid=\"b\"/>"), QByteArray("<succes uid=\"b\" />"));
        QCOMPARE(client.command("<recording_start slot=\"2\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_start slot=\"4\"/>"), QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(2), QByteArray("1"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(4), QByteArray("1"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 2, 30000);
        QTest::qWait(3000); // material to finalise
        const QList<ChildProcess> programs = app.recorders();
        QVERIFY(programs.size() >= 2);

        QVERIFY(app.terminate());
        // The recording programs finish their files after the quit command, on their own.
        for (const ChildProcess& program : programs)
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1/cmdline").arg(program.pid)), 30000);

        const QStringList files = movFiles(folder);
        QCOMPARE(files.size(), 2);
        for (const QString& file : files) {
            const ProbeResult result = probe(file);
            QVERIFY2(result.ok, qPrintable(file + QStringLiteral(": ") + result.errors));
            QVERIFY2(result.duration > 2.0, qPrintable(QString::number(result.duration)));
        }

        QSettings stored(app.configFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("slots/3/source")).toString(), QStringLiteral("TERM (A)"));
        QCOMPARE(stored.value(QStringLiteral("slots/5/source")).toString(), QStringLiteral("TERM (B)"));
        QCOMPARE(stored.value(QStringLiteral("tcpServerPort")).toUInt(), uint(app.tcpPort));
        QCOMPARE(stored.value(QStringLiteral("defaultLocation")).toString(), folder);
    }
};

QTEST_GUILESS_MAIN(TestE2EProcess)
#include "tst_e2eprocess.moc"
