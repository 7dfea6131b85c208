#include "tests/common/apprun.h"
#include "tests/common/testenv.h"

#include <QFile>
#include <QProcess>
#include <QTest>

// The real application, its web panel driven in headless Chromium by panel.test.mjs.
class TestPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
        if (!QFile::exists(QStringLiteral("/usr/bin/chromium"))
            || !QFile::exists(QStringLiteral(PANEL_TEST_DIR "/node_modules/playwright-core/package.json")))
            QSKIP("needs /usr/bin/chromium and playwright-core (npm ci in tests/panel)");
    }

    void panelDrivesTheRecorder()
    {
        E2E::AppRun app(QStringLiteral("app"));
        const QString source = QStringLiteral("PANELHOST (Desk & \"Cam\")"), key = QStringLiteral("desk&key");
        app.setSources({ NdiSim::small(source, 10) });
        app.setSetting(QStringLiteral("serverAccessKey"), key);
        app.setSetting(QStringLiteral("gridDimensions"), 44);
        for (const char* key : { "defaultLocation", "defaultLocationB" })
            app.setSetting(QLatin1String(key), TestEnv::makeFolder(QStringLiteral("videos")));
        QVERIFY(app.start(true));
        QProcess node;
        QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("node"));
        env.insert(QStringLiteral("PANEL_URL"), QStringLiteral("http://127.0.0.1:%1/").arg(app.httpPort));
        env.insert(QStringLiteral("SOURCE_NAME"), source);
        env.insert(QStringLiteral("ACCESS_KEY"), key);
        node.setProcessEnvironment(env);
        node.setWorkingDirectory(QStringLiteral(PANEL_TEST_DIR));
        node.setProcessChannelMode(QProcess::MergedChannels);
        node.start(QStringLiteral("node"), { QStringLiteral("panel.test.mjs") });
        QVERIFY(QTest::qWaitFor([&] { return node.state() == QProcess::NotRunning; }, 150000));
        QVERIFY2(node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0, node.readAll().constData());
        QVERIFY(app.terminate());
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "tst_panel.moc"
