#include "tests/common/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <csignal>

// The real executable, started headless in a private home.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    static QString logsFolder(const QProcessEnvironment& env)
    {
        return env.value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Stavelin/Recorder/logs");
    }

    static QString logText(const QProcessEnvironment& env)
    {
        QString text;
        QDirIterator it(logsFolder(env), { QStringLiteral("log *.txt") }, QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

    static void startApp(QProcess& app, const QProcessEnvironment& env)
    {
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"), {});
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
    }

    void signalShutsDownInOrder_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addRow("SIGTERM") << SIGTERM;
        QTest::addRow("SIGINT") << SIGINT;
    }
    void signalShutsDownInOrder()
    {
        QFETCH(int, signalNumber);
        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-%1").arg(signalNumber));
        QVERIFY(!QDir(logsFolder(env)).exists());

        QProcess app;
        startApp(app, env);
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logText(env).contains(QLatin1String(" Application initialized\n")), 30000);
        QCOMPARE(QDir(logsFolder(env)).entryList(QDir::Files).size(), 1);

        const QString settingsFile
            = env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Stavelin/Recorder.conf");
        QVERIFY(!QFile::exists(settingsFile));

        ::kill(pid_t(app.processId()), signalNumber);
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);

        QVERIFY(QFile::exists(settingsFile));
        QSettings stored(settingsFile, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("gridDimensions")).toInt(), 33);
        QCOMPARE(stored.value(QStringLiteral("tcpServerPort")).toInt(), 9099);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
