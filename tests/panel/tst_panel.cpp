#include "tests/common/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>

#include <QTcpServer>

#include <csignal>

namespace
{

QStringList recordings(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, { QStringLiteral("*.mov") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

} // namespace

// The real application with both servers on free ports, and the panel driven in headless
// Chromium by panel.test.mjs (playwright-core from tests/panel/node_modules).
class TestPanel : public QObject
{
    Q_OBJECT

private:
    static QString logText(const QProcessEnvironment& env)
    {
        QString text;
        QDirIterator it(env.value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Stavelin/Recorder/logs"),
            { QStringLiteral("log *.txt") }, QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

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
        const QProcessEnvironment base = TestEnv::childEnvironment(QStringLiteral("app"));
        QProcessEnvironment env = base;
        const quint16 httpPort = TestEnv::freePort();
        const quint16 tcpPort = TestEnv::freePort();
        QVERIFY(httpPort && tcpPort && httpPort != tcpPort);

        const QString videos = TestEnv::makeFolder(QStringLiteral("videos"));
        {
            QSettings settings(env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Stavelin/Recorder.conf"),
                QSettings::IniFormat);
            settings.setValue(QStringLiteral("httpServerEnabled"), true);
            settings.setValue(QStringLiteral("httpServerPort"), httpPort);
            settings.setValue(QStringLiteral("tcpServerEnabled"), true);
            settings.setValue(QStringLiteral("tcpServerPort"), tcpPort);
            settings.setValue(QStringLiteral("defaultLocation"), videos);
            settings.setValue(QStringLiteral("defaultLocationB"), videos);
            settings.setValue(QStringLiteral("serverAccessKey"), QStringLiteral("desk&key"));
        }
        const QString sourceName = QStringLiteral("PANELHOST (Desk & \"Cam\")");
        const QString sourcesFile = TestEnv::root() + QStringLiteral("/sources.json");
        {
            QFile file(sourcesFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QJsonObject desk {
                { QStringLiteral("name"), sourceName },
                { QStringLiteral("url"), QStringLiteral("127.0.0.1:5961") },
                { QStringLiteral("video"),
                    QJsonObject { { QStringLiteral("width"), 320 }, { QStringLiteral("height"), 180 },
                        { QStringLiteral("fps"), 10 }, { QStringLiteral("format"), QStringLiteral("UYVY") },
                        { QStringLiteral("pattern"), QStringLiteral("moving") } } },
                { QStringLiteral("audio"),
                    QJsonObject { { QStringLiteral("frequency"), 440 }, { QStringLiteral("peak"), 0.5 } } },
                { QStringLiteral("tally"), QJsonObject { { QStringLiteral("program"), true } } },
            };
            const QJsonObject other {
                { QStringLiteral("name"), QStringLiteral("PANELHOST (Other)") },
                { QStringLiteral("video"),
                    QJsonObject { { QStringLiteral("width"), 160 }, { QStringLiteral("height"), 90 },
                        { QStringLiteral("fps"), 5 }, { QStringLiteral("format"), QStringLiteral("UYVY") } } },
            };
            file.write(
                QJsonDocument(QJsonObject { { QStringLiteral("sources"), QJsonArray { desk, other } } }).toJson());
        }
        env.insert(QStringLiteral("NDI_SIM_SOURCES"), sourcesFile);

        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"), {});
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            logText(env).contains(QStringLiteral("HTTP panel listening on port %1").arg(httpPort)), 30000);
        QTRY_VERIFY(logText(env).contains(QStringLiteral("TCP API listening on port %1").arg(tcpPort)));

        const QString artifacts = QDir(TestEnv::binDir()).absoluteFilePath(QStringLiteral("../artifacts"));
        QDir().mkpath(artifacts);
        const QString screenshot = artifacts + QStringLiteral("/panel.png");
        QFile::remove(screenshot);

        QProcess node;
        QProcessEnvironment nodeEnv = QProcessEnvironment::systemEnvironment();
        nodeEnv.insert(QStringLiteral("PANEL_URL"), QStringLiteral("http://127.0.0.1:%1/").arg(httpPort));
        nodeEnv.insert(QStringLiteral("TCP_PORT"), QString::number(tcpPort));
        nodeEnv.insert(QStringLiteral("SLOT_COUNT"), QStringLiteral("9"));
        nodeEnv.insert(QStringLiteral("SOURCE_NAME"), sourceName);
        nodeEnv.insert(QStringLiteral("SCREENSHOT"), screenshot);
        nodeEnv.insert(QStringLiteral("PHONE_SCREENSHOT"), artifacts + QStringLiteral("/panel-phone.png"));
        nodeEnv.insert(QStringLiteral("ACCESS_KEY"), QStringLiteral("desk&key"));
        nodeEnv.insert(QStringLiteral("HOME"), TestEnv::root() + QStringLiteral("/home"));
        node.setProcessEnvironment(nodeEnv);
        node.setWorkingDirectory(QStringLiteral(PANEL_TEST_DIR));
        node.setProcessChannelMode(QProcess::MergedChannels);
        node.start(QStringLiteral("node"), { QStringLiteral("panel.test.mjs") });
        QVERIFY(node.waitForStarted());
        // The app must keep running its event loop meanwhile: wait with events processed.
        QVERIFY(QTest::qWaitFor([&] { return node.state() == QProcess::NotRunning; }, 150000));
        const QByteArray output = node.readAll();
        qInfo().noquote() << output;
        QVERIFY2(node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0, output.constData());

        QImage shot(screenshot);
        QVERIFY(!shot.isNull());
        QVERIFY(shot.width() >= 1280);

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return app.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(app.exitCode(), 0);
        // The recordings started from the panel and over TCP were really written.
        QVERIFY2(recordings(videos).size() >= 2, qPrintable(recordings(videos).join(QLatin1Char('\n'))));
        QVERIFY(logText(env).contains(QStringLiteral("Accepted API connection from ")));
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "tst_panel.moc"
