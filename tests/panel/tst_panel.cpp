#include "tests/common/apprun.h"
#include "tests/common/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

// The real application with its panel port open, the panel driven in headless Chromium by
// panel.test.mjs (playwright-core from tests/panel/node_modules).
class TestPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
        if (!QFile::exists(QStringLiteral("/usr/bin/chromium")))
            QSKIP("no /usr/bin/chromium on this machine");
        if (!QFile::exists(QStringLiteral(PANEL_TEST_DIR "/node_modules/playwright-core/package.json")))
            QSKIP("playwright-core is not installed (npm ci in tests/panel)");
    }

    void panelDrivesTheRecorder()
    {
        E2E::AppRun app(QStringLiteral("app"));
        const QString source = QStringLiteral("PANELHOST (Desk & \"Cam\")");
        app.setSources({ E2E::smallSource(source, 10) });
        app.setSetting(QStringLiteral("serverAccessKey"), QStringLiteral("desk&key"));
        for (const char* key : { "defaultLocation", "defaultLocationB" })
            app.setSetting(QLatin1String(key), TestEnv::makeFolder(QStringLiteral("videos")));
        QVERIFY(app.start(true));
        QProcess node;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PANEL_URL"), QStringLiteral("http://127.0.0.1:%1/").arg(app.httpPort));
        env.insert(QStringLiteral("SOURCE_NAME"), source);
        env.insert(QStringLiteral("ACCESS_KEY"), QStringLiteral("desk&key"));
        env.insert(QStringLiteral("HOME"), TestEnv::root() + QStringLiteral("/home"));
        node.setProcessEnvironment(env);
        node.setWorkingDirectory(QStringLiteral(PANEL_TEST_DIR));
        node.setProcessChannelMode(QProcess::MergedChannels);
        node.start(QStringLiteral("node"), { QStringLiteral("panel.test.mjs") });
        QVERIFY(QTest::qWaitFor([&] { return node.state() == QProcess::NotRunning; }, 150000));
        const QByteArray output = node.readAll();
        QVERIFY2(node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0, output.constData());
        QVERIFY(app.terminate());
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "tst_panel.moc"
