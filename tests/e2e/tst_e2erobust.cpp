#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

using namespace E2E;

namespace
{

QSet<QString> treeOf(const QString& folder)
{
    QSet<QString> entries;
    QDirIterator it(
        folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.insert(it.next());
    return entries;
}

QByteArray xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&apos;")).toUtf8();
}

} // namespace

// The app under conditions it does not choose: a source that leaves and returns, and clients that
// send garbage or names made to break paths and markup.
class TestE2ERobust : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFileInfo::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder")))
            QSKIP("the application has not been built");
    }

    void sourceLeavesAndReturns()
    {
        AppRun app(QStringLiteral("away"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("away-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        const QJsonObject source = smallSource(QStringLiteral("AWAY (Cam 1)"));
        app.setSources({ source, smallSource(QStringLiteral("AWAY (Cam 2)")) });
        QVERIFY(app.start());

        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        QVERIFY(app.waitForLog(QStringLiteral("Source added: AWAY (Cam 1)"), 20000));
        QCOMPARE(client.command("<connect slot=\"1\" source=\"AWAY (Cam 1)\"/>"), QByteArray("<succes uid=\"\" />"));
        QCOMPARE(client.command("<recording_start slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(1), QByteArray("1"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(probe(movFiles(folder).first()).duration >= 1.0, 30000);

        app.setSources({ smallSource(QStringLiteral("AWAY (Cam 2)")) });
        QVERIFY(app.waitForLog(QStringLiteral("Source removed: AWAY (Cam 1)"), 20000));
        const double before = probe(movFiles(folder).first()).duration;
        QTest::qWait(3000); // away for a while: the recording must live through it
        QCOMPARE(client.recordingState(1), QByteArray("1"));
        QVERIFY(app.isRunning());

        app.setSources({ source, smallSource(QStringLiteral("AWAY (Cam 2)")) });
        // A name seen before is not announced again; it simply reappears in the finder's passes.
        QCOMPARE(app.logCount(QStringLiteral("Source added: AWAY (Cam 1)")), 1);
        // Back on the network, its pictures reach the file again.
        QTRY_VERIFY_WITH_TIMEOUT(probe(movFiles(folder).first()).duration > before + 2.0, 30000);
        QCOMPARE(client.recordingState(1), QByteArray("1"));
        QCOMPARE(client.command("<recording_stop slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QVERIFY(app.terminate());

        const QStringList files = movFiles(folder);
        QCOMPARE(files.size(), 1);
        const ProbeResult result = probe(files.first());
        QVERIFY2(result.ok, qPrintable(result.errors));
        QVERIFY2(result.duration > before + 2.0, qPrintable(QString::number(result.duration)));
    }

    void hostileInput()
    {
        AppRun app(QStringLiteral("hostile"));
        const QString folder = TestEnv::makeFolder(QStringLiteral("hostile-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        const QStringList names {
            QStringLiteral("Q \"quoted\" 'single' <b>"),
            QStringLiteral("A & B &amp; C"),
            QStringLiteral("../../escape/..\\up"),
            QStringLiteral("L") + QString(200, QLatin1Char('x')),
            QStringLiteral("Камера 東京 ①"),
        };
        QJsonArray sources;
        for (const QString& name : names)
            sources.append(smallSource(name, 10));
        app.setSources(sources);
        QVERIFY(app.start(true));
        const QSet<QString> rootBefore = treeOf(TestEnv::root());

        ControlClient good;
        QVERIFY(good.connectTo(app.tcpPort));

        // Garbage on the control port: random bytes, then a line of several megabytes.
        {
            ControlClient bad;
            QVERIFY(bad.connectTo(app.tcpPort));
            QByteArray noise(256 * 1024, Qt::Uninitialized);
            QRandomGenerator random(20261206);
            for (char& c : noise)
                c = char(random.generate() & 0xff);
            bad.socket.write(noise);
            bad.socket.write(QByteArray(6 * 1024 * 1024, '<'));
            bad.socket.write("\r\n");
            (void)QTest::qWaitFor(
                [&] { return bad.socket.bytesToWrite() == 0 || bad.socket.state() != QAbstractSocket::ConnectedState; },
                20000);
            // Whatever became of that client, the others are served.
            QVERIFY(good.command("<status slot=\"1\" uid=\"g\"/>").endsWith("uid=\"g\" />"));
        }

        // Hostile queries on the panel port; the answers must be answers, never files from outside.
        const QList<QByteArray> targets {
            "/api?command=connect&slot=1&source=..%2F..%2Fetc%2Fpasswd",
            "/api?command=status&slot=99999999999999999999",
            "/api?command=status&slot=-1",
            "/api?command=%00%ff%fe&slot=%zz",
            "/api?command=rename&slot=1&name=%3Cscript%3Ealert(1)%3C%2Fscript%3E",
            "/api?command=" + QByteArray(20000, 'a'),
            "/api?" + QByteArray(3000, '&'),
            "/../../../../etc/passwd",
            "/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
            "/..%2f..%2f..%2fetc%2fpasswd",
        };
        for (const QByteArray& target : targets) {
            QByteArray body;
            const int status = httpGet(app.httpPort, target, &body);
            QVERIFY2(!body.contains("root:"), target.left(80).constData());
            QVERIFY2(status == 0 || (status >= 200 && status < 500), qPrintable(QString::number(status)));
        }
        {
            QTcpSocket raw;
            raw.connectToHost(QHostAddress::LocalHost, app.httpPort);
            QVERIFY(raw.waitForConnected(5000));
            raw.write("\x16\x03\x01 GET\r\n\r\n\xff\xfe garbage\r\n\r\n");
            raw.waitForBytesWritten(5000);
            raw.waitForReadyRead(3000);
        }
        QByteArray statusBody;
        QCOMPARE(httpGet(app.httpPort, "/api?command=status", &statusBody), 200);
        QVERIFY(statusBody.contains("\"recording_all\""));

        // Each hostile name bound and recorded, through the control port with its markup escaped.
        for (int n = 0; n < names.size(); ++n) {
            const QByteArray slot = QByteArray::number(n + 1);
            QCOMPARE(good.command("<connect slot=\"" + slot + "\" source=\"" + xmlEscaped(names.at(n)) + "\"/>"),
                QByteArray("<succes uid=\"\" />"));
            QCOMPARE(good.command("<recording_start slot=\"" + slot + "\"/>"), QByteArray("<succes uid=\"\" />"));
        }
        for (int n = 0; n < names.size(); ++n)
            QTRY_COMPARE_WITH_TIMEOUT(good.recordingState(n + 1), QByteArray("1"), 30000);
        // The status line carries every name back, escaped so that it still parses.
        for (int n = 0; n < names.size(); ++n) {
            const QByteArray line = good.command("<status slot=\"" + QByteArray::number(n + 1) + "\"/>");
            QXmlStreamReader reader(line);
            QVERIFY2(reader.readNextStartElement(), line.constData());
            QCOMPARE(reader.attributes().value(QStringLiteral("source")).toString(), names.at(n));
        }
        QTRY_COMPARE_WITH_TIMEOUT(movFiles(folder).size(), names.size(), 30000);
        QTest::qWait(2000); // some pictures in every file
        for (int n = 0; n < names.size(); ++n) {
            QCOMPARE(good.command("<recording_stop slot=\"" + QByteArray::number(n + 1) + "\"/>"),
                QByteArray("<succes uid=\"\" />"));
        }
        QVERIFY(app.terminate());

        // Files only directly in the folder, a movie and its record per name, every movie playable.
        const QSet<QString> written = treeOf(folder);
        QCOMPARE(written.size(), 2 * names.size());
        for (const QString& path : written) {
            QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(folder).absoluteFilePath());
            if (path.endsWith(QLatin1String(".recording.json")))
                continue;
            const ProbeResult result = probe(path);
            QVERIFY2(result.ok, qPrintable(path + QStringLiteral(": ") + result.errors));
        }
        // Nothing new anywhere else under the test's root but the app's own folders.
        const QString appOwn = app.root();
        for (const QString& path : treeOf(TestEnv::root()) - rootBefore) {
            QVERIFY2(path.startsWith(folder + QLatin1Char('/')) || path.startsWith(appOwn + QLatin1Char('/')),
                qPrintable(path));
        }
        QVERIFY(!QFileInfo::exists(QFileInfo(TestEnv::root() + QStringLiteral("/../escape")).absoluteFilePath()));
    }
};

QTEST_GUILESS_MAIN(TestE2ERobust)
#include "tst_e2erobust.moc"
