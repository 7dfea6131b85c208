#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

// The application itself on the demo network: a slot bound and recorded through the control port
// writes a real file into its folder, and the binding survives an orderly exit.
class TestSlotApp : public QObject
{
    Q_OBJECT

private:
    static QByteArray command(QTcpSocket& socket, const QByteArray& line)
    {
        socket.write(line + "\r\n");
        if (!QTest::qWaitFor([&socket] { return socket.canReadLine(); }, 20000))
            return QByteArray();
        return socket.readLine().trimmed();
    }

private Q_SLOTS:
    void bindRecordAndPersist()
    {
        const QString program = TestEnv::binDir() + QStringLiteral("/StavelinRecorder");
        if (!QFile::exists(program) || !QFile::exists(TestEnv::binDir() + QStringLiteral("/NewTek NDI Record.exe")))
            QSKIP("the application or the recording program has not been built");

        QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app"));
        env.remove(QStringLiteral("NDI_SIM_SOURCES"));
        if (!TestEnv::hasDisplay())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("recordings"));
        const QString configFile
            = env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Stavelin/Recorder.conf");
        const ushort port = TestEnv::freePort();
        {
            QSettings settings(configFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("tcpServerEnabled"), true);
            settings.setValue(QStringLiteral("tcpServerPort"), port);
            settings.setValue(QStringLiteral("defaultLocation"), folder);
        }

        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(program, {});
        QVERIFY(app.waitForStarted());

        QTcpSocket socket;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (socket.state() == QAbstractSocket::ConnectedState)
                    return true;
                socket.abort();
                socket.connectToHost(QHostAddress::LocalHost, port);
                return socket.waitForConnected(500);
            },
            30000));
        // The greeting line comes first.
        QVERIFY(QTest::qWaitFor([&socket] { return socket.canReadLine(); }, 20000));
        QVERIFY(socket.readLine().contains(RECORDER_VERSION));

        QCOMPARE(command(socket, "<connect slot=\"2\" source=\"DEMO (Camera 1)\" uid=\"c\"/>"),
            QByteArray("<succes uid=\"c\" />"));
        QCOMPARE(command(socket, "<recording_start slot=\"2\" uid=\"r\"/>"), QByteArray("<succes uid=\"r\" />"));
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder).entryList({ QStringLiteral("*.mov") }, QDir::Files).isEmpty(), 30000);
        QCOMPARE(command(socket, "<recording_stop slot=\"2\" uid=\"s\"/>"), QByteArray("<succes uid=\"s\" />"));
        QCOMPARE(command(socket, "<recording_stop slot=\"2\" uid=\"t\"/>"),
            QByteArray("<failure reason=\"Slot is not recording\" uid=\"t\" />"));
        socket.disconnectFromHost();

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);

        const QStringList files = QDir(folder).entryList({ QStringLiteral("*.mov") }, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("DEMO (Camera 1)_")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QDir(folder).filePath(files.first())).size() > 0, 20000);

        QSettings stored(configFile, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("slots/3/source")).toString(), QStringLiteral("DEMO (Camera 1)"));
        QCOMPARE(stored.value(QStringLiteral("slots/2/source")).toString(), QStringLiteral("none"));
        QCOMPARE(stored.value(QStringLiteral("slots/size")).toInt(), 10);
    }
};

QTEST_GUILESS_MAIN(TestSlotApp)
#include "tst_slotapp.moc"
