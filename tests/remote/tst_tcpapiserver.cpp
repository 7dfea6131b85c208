#include "remote/tcpapiserver.h"
#include "remote/tcpprotocol.h"
#include "tests/remote/remotefixture.h"

#include <QTest>

// The TCP server's transport over real sockets on 127.0.0.1, on a port the OS picked, over four
// grid slots. What each command answers is the command layer's and the line handler's business.
class TestTcpApiServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<RemoteFixture> fixture;
    std::unique_ptr<TcpApiServer> server;
    quint16 port = 0;

    std::unique_ptr<E2E::ControlClient> client()
    {
        auto c = std::make_unique<E2E::ControlClient>();
        return c->connectTo(port, 5000) ? std::move(c) : nullptr;
    }
    // Both protocols are served, so an IPv4 peer may show in its mapped IPv6 form.
    static bool logged(const char* p) { return LogCapture::matches(p + QStringLiteral("(::ffff:)?127\\.0\\.0\\.1")); }
    static bool answers(E2E::ControlClient& c) { return c.command("<listen_off uid='x'/>") == "<succes uid=\"x\" />"; }
    static QByteArray ok(const char* uid = "") { return QByteArray("<succes uid=\"") + uid + "\" />\r\n"; }

private Q_SLOTS:
    void initTestCase() { LogCapture::install(), fixture = std::make_unique<RemoteFixture>(4, false); }
    void cleanup() { server.reset(); }
    void cleanupTestCase() { fixture.reset(); }
    void init()
    {
        fixture->reset();
        fixture->settings()->setTcpServerEnabled(true);
        fixture->settings()->setTcpServerPort(port = TestEnv::freePort());
        server = std::make_unique<TcpApiServer>(fixture->model.get(), fixture->audio.get(), fixture->recorder.get(),
            fixture->sources.get(), fixture->settings());
    }

    // Lines are framed by their ends, malformed ones dropped; an over-long line, complete or not, ends
    // its sender's connection alone; a client leaving mid-line leaves nothing run.
    void framing()
    {
        fixture->bind(2, QStringLiteral("HOST (A)"));
        auto c = client();
        QVERIFY(c);
        QTRY_VERIFY(logged("Accepted API connection from "));
        c->send("<listen slot='1' uid='one'/>\n<listen_off uid='two'/>\r\n");
        QCOMPARE(c->rawLines(2), ok("one") + ok("two"));
        c->send("<listen_off uid='first'/>\n<recording_start slot='2'");
        QCOMPARE(c->rawLines(), ok("first"));
        QVERIFY(!fixture->slot(2)->isWaiting());
        c->send(" uid='second'/>\n");
        QCOMPARE(c->rawLines(), ok("second"));
        QVERIFY(fixture->slot(2)->isWaiting());
        c->send("<<<>>>\n<listen slot=>\nplain words\n</listen>\n<listen slot='1'\n<listen_off uid='after'/>\n");
        QCOMPARE(c->rawLines(), ok("after"));
        QTest::qWait(100);
        QCOMPARE(c->socket.bytesAvailable(), 0);
        const QByteArray head = "<listen_off uid='", tail = "'/>";
        c->send(head + QByteArray(TcpProtocol::maxLineLength - head.size() - tail.size(), 'u') + tail + "\r\n");
        QVERIFY(c->rawLines().startsWith("<succes uid=\"uuu")); // the longest line allowed
        for (const QByteArray& bytes : { QByteArray(TcpProtocol::maxLineLength + 4096, 'a'),
                 head + QByteArray(TcpProtocol::maxLineLength, 'u') + tail + "\n" }) {
            auto flooder = client();
            QVERIFY(flooder);
            flooder->send(bytes);
            QTRY_COMPARE(flooder->socket.state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(flooder->socket.bytesAvailable(), 0);
            QVERIFY(logged("Dropped an over-long API line .* from "));
            QTRY_COMPARE(server->clientCount(), 1);
        }
        QVERIFY(answers(*c));
        fixture->slot(2)->stopRecording(Slot::User);
        c->send("<recording_start slot='2'");
        c->socket.disconnectFromHost();
        QTRY_COMPARE(server->clientCount(), 0);
        QVERIFY(logged("Closed API connection with "));
        QVERIFY(!fixture->slot(2)->isWaiting());
    }

    // Events reach subscribers alone, before the reply they cause; a key is asked for before anything
    // else and again when it changes; a subscriber that stops reading is dropped, others unaffected.
    void sessions()
    {
        auto subscriber = client(), other = client();
        QVERIFY(subscriber && other);
        subscriber->send("<tally_subscribe/>\n<recording_subscribe/>\n");
        QCOMPARE(subscriber->rawLines(2), ok() + ok());
        fixture->slot(3)->setTallyState(2);
        fixture->slot(2)->setIsRecording(true);
        subscriber->send("<recording_stop slot='2'/>\n<tally_unsubscribe/>\n");
        QCOMPARE(subscriber->rawLines(5),
            "<tally slot=\"3\" state=\"2\" />\r\n<recording slot=\"2\" state=\"1\" />\r\n"
            "<recording slot=\"2\" state=\"0\" />\r\n"
                + ok() + ok());
        QVERIFY(!fixture->slot(2)->isRecording());
        fixture->slot(3)->setTallyState(1);
        QVERIFY(answers(*other) && answers(*subscriber));

        fixture->settings()->setServerAccessKey(QStringLiteral("s:cret"));
        const QByteArray required = "<failure reason=\"Access key required\" uid=\"\" />\r\n";
        other->send("<listen slot='1'/>\n<auth key='nope'/>\n");
        QCOMPARE(other->rawLines(2), required + "<failure reason=\"Access key wrong\" uid=\"\" />\r\n");
        QVERIFY(!fixture->slot(1)->isListening());
        other->send("<auth key='s:cret'/>\n<listen slot='1'/>\n");
        QCOMPARE(other->rawLines(2), ok() + ok());
        QVERIFY(fixture->slot(1)->isListening());
        fixture->settings()->setServerAccessKey(QString());

        QTcpSocket stalled;
        stalled.setReadBufferSize(64);
        stalled.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(stalled.waitForConnected(5000) && stalled.write("<tally_subscribe/>\n") > 0 && stalled.flush());
        QTRY_COMPARE(server->clientCount(), 3);
        QTest::qWait(100);
        for (int round = 0; round < 300 && server->clientCount() == 3; ++round) {
            for (int i = 0; i < 20000; ++i)
                fixture->slot(1)->setTallyState(i % 3);
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(server->clientCount(), 2);
        QVERIFY(logged("Dropped API connection with .*") && LogCapture::matches("it does not read its replies$"));
        QVERIFY(answers(*other));
        fixture->settings()->setServerAccessKey(QStringLiteral("other"));
        QCOMPARE(other->command("<listen_off/>") + "\r\n", required);
    }

    void lifecycle()
    {
        checkLifecycle(fixture->settings(), &SettingsModel::setTcpServerEnabled, &SettingsModel::setTcpServerPort,
            "TCP API", port);
        QVERIFY(client());
    }
};

QTEST_GUILESS_MAIN(TestTcpApiServer)
#include "tst_tcpapiserver.moc"
