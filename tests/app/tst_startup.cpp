#include "tests/common/apprun.h"

#include <QDir>
#include <QSettings>
#include <QTest>

#include <csignal>

// The real executable, headless in a private home: one log file from the start, its settings
// written at an orderly end (here by Ctrl+C; the end by SIGTERM while recording is an e2e test).
class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsAndStoresItsSettings()
    {
        if (!TestEnv::hasDisplay() || !E2E::AppRun::built())
            QSKIP("needs the built app and an X display: run through CTest, whose fixture starts Xvfb");
        E2E::AppRun app(QStringLiteral("app"));
        QVERIFY(!QDir(app.logsFolder()).exists());
        QVERIFY(app.start());
        QCOMPARE(QDir(app.logsFolder()).entryList(QDir::Files).size(), 1);
        QCOMPARE(::kill(pid_t(app.pid()), SIGINT), 0);
        QVERIFY(app.process.waitForFinished(30000) && app.process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
        QSettings stored(app.configFile(), QSettings::IniFormat);
        QCOMPARE(QVariantList({ stored.value("gridDimensions").toInt(), stored.value("tcpServerPort").toInt() }),
            QVariantList({ 33, app.tcpPort }));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
