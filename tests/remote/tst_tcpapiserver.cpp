#include "app/settingsmodel.h"
#include "remote/tcpapiserver.h"
#include "remote/tcpprotocol.h"
#include "tests/remote/remotefixture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

namespace
{

// The server listens on both protocols, so an IPv4 peer may show in its mapped IPv6 form.
const QString acceptedLine = QStringLiteral(" Accepted API connection from (::ffff:)?127\\.0\\.0\\.1$");
const QString closedLine = QStringLiteral(" Closed API connection with (::ffff:)?127\\.0\\.0\\.1$");

const QByteArray hello = "<hello app=\"Stavelin Recorder\" release=\"0.9.6.0\" protocol=\"1.0\" />\r\n";

} // namespace

// Real sockets on 127.0.0.1 against a server on a port the OS picked, over four grid slots.
class TestTcpApiServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RemoteFixture> fixture;
    std::unique_ptr<TcpApiServer> server;
    quint16 port = 0;

    // A connected client past its greeting.
    std::unique_ptr<LineClient> client()
    {
        auto c = std::make_unique<LineClient>();
        if (!c->connectTo(port) || c->takeLines(1) != hello)
            return nullptr;
        return c;
    }

    QByteArray ask(LineClient& c, const QByteArray& line, int replyLines = 1)
    {
        c.send(line);
        return c.takeLines(replyLines);
    }

private Q_SLOTS:
    void initTestCase()
    {
        LogCapture::install();
        fixture = std::make_unique<RemoteFixture>(4, false);
    }

    void init()
    {
        fixture->reset();
        LogCapture::clear();
        port = TestEnv::freePort();
        QVERIFY(port != 0);
        SettingsModel* settings = fixture->settings();
        settings->setTcpServerEnabled(true);
        settings->setTcpServerPort(port);
        server = std::make_unique<TcpApiServer>(
            fixture->model.get(), fixture->audio.get(), fixture->recorder.get(), fixture->sources.get(), settings);
        QVERIFY(server->isListening());
        QCOMPARE(server->serverPort(), port);
        QVERIFY(LogCapture::contains(QStringLiteral("TCP API listening on port %1").arg(port)));
    }

    void cleanup() { server.reset(); }

    void cleanupTestCase() { fixture.reset(); }

    void greetingAndLogLines()
    {
        auto c = std::make_unique<LineClient>();
        QVERIFY(c->connectTo(port));
        QCOMPARE(c->takeLines(1), hello);
        QTRY_VERIFY(LogCapture::matches(acceptedLine));
        QCOMPARE(server->clientCount(), 1);
        c->socket.disconnectFromHost();
        QTRY_COMPARE(server->clientCount(), 0);
        QVERIFY(LogCapture::matches(closedLine));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("after");

        QTest::addRow("start bound idle slot") << "bind2" << QByteArray("<recording_start slot='2' uid='a1'/>\n")
                                               << QByteArray("<succes uid=\"a1\" />\r\n") << "waiting2";
        QTest::addRow("start unbound slot")
            << "" << QByteArray("<recording_start slot='3'/>\n")
            << QByteArray("<failure reason=\"Slot not connected to any source\" uid=\"\" />\r\n") << "idle3";
        QTest::addRow("start viewing-only slot")
            << "bind1 viewonly1" << QByteArray("<recording_start slot='1'/>\n")
            << QByteArray("<failure reason=\"Slot set to viewing only\" uid=\"\" />\r\n") << "idle1";
        QTest::addRow("start recording slot")
            << "bind1 recording1" << QByteArray("<recording_start slot='1' uid='r'/>\n")
            << QByteArray("<failure reason=\"Already recording\" uid=\"r\" />\r\n") << "recording1";
        QTest::addRow("start slot past the end")
            << "" << QByteArray("<recording_start slot='5'/>\n")
            << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n") << "";
        QTest::addRow("start all") << "bind2 bind4" << QByteArray("<recording_start/>\n")
                                   << QByteArray("<succes uid=\"\" />\r\n") << "all waiting2 waiting4 idle1";
        QTest::addRow("start all while on")
            << "all" << QByteArray("<recording_start uid='x'/>\n")
            << QByteArray("<failure reason=\"Already recording\" uid=\"x\" />\r\n") << "all";
        QTest::addRow("stop idle slot") << "bind3" << QByteArray("<recording_stop slot='3'/>\n")
                                        << QByteArray("<failure reason=\"Slot is not recording\" uid=\"\" />\r\n")
                                        << "";
        QTest::addRow("stop recording slot") << "bind3 recording3" << QByteArray("<recording_stop slot='3'/>\n")
                                             << QByteArray("<succes uid=\"\" />\r\n") << "stopped3";
        QTest::addRow("stop all while off")
            << "bind3 recording3" << QByteArray("<recording_stop slot='0'/>\n")
            << QByteArray("<failure reason=\"Not recording\" uid=\"\" />\r\n") << "recording3";
        QTest::addRow("stop all") << "all bind3 recording3" << QByteArray("<recording_stop/>\n")
                                  << QByteArray("<succes uid=\"\" />\r\n") << "stopped3 notall";
        QTest::addRow("connect slot 0") << "" << QByteArray("<connect slot='0' source='X'/>\n")
                                        << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n") << "";
        QTest::addRow("connect recording slot")
            << "bind2 recording2" << QByteArray("<connect slot='2' source='X'/>\n")
            << QByteArray("<failure reason=\"Recording in progress\" uid=\"\" />\r\n") << "recording2";
        QTest::addRow("disconnect recording slot")
            << "bind2 recording2" << QByteArray("<disconnect slot='2' uid='d'/>\n")
            << QByteArray("<failure reason=\"Recording in progress\" uid=\"d\" />\r\n") << "recording2";
        QTest::addRow("disconnect invalid id")
            << "" << QByteArray("<disconnect slot='-1'/>\n")
            << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n") << "";
        QTest::addRow("listen") << "" << QByteArray("<listen slot='3'/>\n") << QByteArray("<succes uid=\"\" />\r\n")
                                << "listening3";
        QTest::addRow("listen slot 0") << "" << QByteArray("<listen slot='0'/>\n")
                                       << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n") << "";
        QTest::addRow("listen off") << "listen3" << QByteArray("<listen_off/>\n")
                                    << QByteArray("<succes uid=\"\" />\r\n") << "quiet3";
        QTest::addRow("rename is not offered")
            << "" << QByteArray("<rename slot='1' name='x'/>\n")
            << QByteArray("<failure reason=\"Command unsupported\" uid=\"\" />\r\n") << "";
        QTest::addRow("unknown element") << "" << QByteArray("<format_disk uid='7'/>\n")
                                         << QByteArray("<failure reason=\"Command unsupported\" uid=\"7\" />\r\n")
                                         << "";
        QTest::addRow("unclosed start tag runs") << "bind4" << QByteArray("<recording_start slot='4'>\r\n")
                                                 << QByteArray("<succes uid=\"\" />\r\n") << "waiting4";
    }

    void commands()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(QString, after);

        for (const QString& step : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int id = step.back().isDigit() ? step.back().digitValue() : 0;
            if (step.startsWith(QLatin1String("bind")))
                fixture->bind(id, QStringLiteral("HOST (Cam %1)").arg(id));
            else if (step.startsWith(QLatin1String("viewonly")))
                fixture->slot(id)->setViewingOnly(true);
            else if (step.startsWith(QLatin1String("recording")))
                fixture->slot(id)->setIsRecording(true);
            else if (step.startsWith(QLatin1String("listen")))
                fixture->audio->startListening(fixture->slot(id));
            else if (step == QLatin1String("all"))
                fixture->recorder->setIsRecordingAll(true);
        }

        // No recording program runs beside the tests, so a start shows as waiting only for a
        // moment: the signals tell what the command did.
        std::vector<std::unique_ptr<QSignalSpy>> waitingSpies;
        for (Slot* s : fixture->slotList())
            waitingSpies.push_back(std::make_unique<QSignalSpy>(s, &Slot::isWaitingChanged));

        auto c = client();
        QVERIFY(c);
        QCOMPARE(ask(*c, line), reply);

        for (const QString& check : after.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int id = check.back().isDigit() ? check.back().digitValue() : 0;
            Slot* s = id ? fixture->slot(id) : nullptr;
            if (check.startsWith(QLatin1String("waiting"))) {
                QSignalSpy& spy = *waitingSpies.at(size_t(id - 1));
                QVERIFY2(!spy.isEmpty() && spy.first().first().toBool(), qPrintable(check));
            } else if (check.startsWith(QLatin1String("recording"))) {
                QVERIFY2(s->isRecording(), qPrintable(check));
            } else if (check.startsWith(QLatin1String("idle"))) {
                QVERIFY2(!s->isWaiting() && !s->isRecording(), qPrintable(check));
                QVERIFY2(waitingSpies.at(size_t(id - 1))->isEmpty(), qPrintable(check));
            } else if (check.startsWith(QLatin1String("listening")))
                QVERIFY2(s->isListening(), qPrintable(check));
            else if (check.startsWith(QLatin1String("quiet")))
                QVERIFY2(!s->isListening(), qPrintable(check));
            else if (check.startsWith(QLatin1String("stopped")))
                QVERIFY2(!s->isRecording() && !s->isWaiting(), qPrintable(check));
            else if (check == QLatin1String("all"))
                QVERIFY(fixture->recorder->isRecordingAll());
            else if (check == QLatin1String("notall"))
                QVERIFY(!fixture->recorder->isRecordingAll());
        }
    }

    void status_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("lines");
        const QByteArray all
            = "  <slot id=\"1\" recording=\"0\" source=\"none\" tally=\"0\" />\r\n"
              "  <slot id=\"2\" recording=\"1\" source=\"HOST (&quot;Q&quot; &amp; A)\" tally=\"2\" />\r\n"
              "  <slot id=\"3\" recording=\"0\" source=\"none\" tally=\"1\" />\r\n"
              "  <slot id=\"4\" recording=\"0\" source=\"HOST (B)\" tally=\"0\" />\r\n";
        QTest::addRow("no attributes") << QByteArray("<status/>\n")
                                       << QByteArray("<status uid=\"\">\r\n" + all + "<status/>\r\n") << 6;
        QTest::addRow("slot 0 with uid") << QByteArray("<status slot='0' uid='u'/>\n")
                                         << QByteArray("<status uid=\"u\">\r\n" + all + "<status/>\r\n") << 6;
        QTest::addRow("one slot with uid") << QByteArray("<status slot='2' uid='q'/>\n")
                                           << QByteArray("<slot id=\"2\" recording=\"1\" source=\"HOST (&quot;Q&quot; "
                                                         "&amp; A)\" tally=\"2\" uid=\"q\" />\r\n")
                                           << 1;
        QTest::addRow("waiting is not recording")
            << QByteArray("<status slot='4'/>\n")
            << QByteArray("<slot id=\"4\" recording=\"0\" source=\"HOST (B)\" tally=\"0\" />\r\n") << 1;
        QTest::addRow("invalid slot") << QByteArray("<status slot='9' uid='q'/>\n")
                                      << QByteArray("<failure reason=\"Slot id invalid\" uid=\"q\" />\r\n") << 1;
    }

    void status()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(int, lines);
        fixture->bind(2, QStringLiteral("HOST (\"Q\" & A)"));
        fixture->slot(2)->setIsRecording(true);
        fixture->slot(2)->setTallyState(2);
        fixture->slot(3)->setTallyState(1);
        fixture->bind(4, QStringLiteral("HOST (B)"));
        fixture->slot(4)->setIsWaiting(true);

        auto c = client();
        QVERIFY(c);
        const QByteArray got = ask(*c, line, lines);
        QCOMPARE(got, reply);
        // Whatever the names hold, a reader gets them back exactly.
        if (lines == 1 && got.startsWith("<slot id=\"2\"")) {
            QXmlStreamReader reader(got);
            QVERIFY(reader.readNextStartElement());
            QCOMPARE(reader.attributes().value(QLatin1String("source")).toString(), QStringLiteral("HOST (\"Q\" & A)"));
        }
    }

    // Runs before any source is known: the sources model only ever grows.
    void sources()
    {
        auto c = client();
        QVERIFY(c);
        QCOMPARE(ask(*c, "<sources uid='s1'/>\n", 2), QByteArray("<sources uid=\"s1\">\r\n<sources/>\r\n"));
        fixture->sources->sourceAdded(QStringLiteral("HOST (A)"));
        fixture->sources->sourceAdded(QStringLiteral("HOST (\"B\" & <C>)"));
        QCOMPARE(ask(*c, "<sources/>\n", 4),
            QByteArray("<sources uid=\"\">\r\n"
                       "  <source name=\"HOST (A)\" />\r\n"
                       "  <source name=\"HOST (&quot;B&quot; &amp; &lt;C&gt;)\" />\r\n"
                       "<sources/>\r\n"));
    }

    void framing()
    {
        fixture->bind(2, QStringLiteral("HOST (A)"));
        auto c = client();
        QVERIFY(c);
        // Two commands in one packet: both run, replies in order.
        c->send("<listen slot='1' uid='one'/>\n<listen_off uid='two'/>\r\n");
        QCOMPARE(c->takeLines(2), QByteArray("<succes uid=\"one\" />\r\n<succes uid=\"two\" />\r\n"));

        // One command over two packets runs once its line end arrives, and only then.
        QSignalSpy waiting(fixture->slot(2), &Slot::isWaitingChanged);
        c->send("<listen_off uid='first'/>\n<recording_start slot='2'");
        QCOMPARE(c->takeLines(1), QByteArray("<succes uid=\"first\" />\r\n"));
        QVERIFY(waiting.isEmpty());
        c->send(" uid='second'/>\n");
        QCOMPARE(c->takeLines(1), QByteArray("<succes uid=\"second\" />\r\n"));
        QVERIFY(!waiting.isEmpty());
        QCOMPARE(waiting.first().first().toBool(), true);

        // Malformed lines are dropped without a reply; the connection stays usable.
        c->send("<<<>>>\n<listen slot=>\nplain words\n</listen>\n<listen slot='1'\n<listen_off uid='after'/>\n");
        QCOMPARE(c->takeLines(1), QByteArray("<succes uid=\"after\" />\r\n"));
        QCOMPARE(c->pending(), QByteArray());
        QCOMPARE(c->socket.state(), QAbstractSocket::ConnectedState);
    }

    void subscriptions()
    {
        auto subscriber = client();
        auto bystander = client();
        QVERIFY(subscriber && bystander);
        QCOMPARE(ask(*subscriber, "<tally_subscribe uid='t'/>\n"), QByteArray("<succes uid=\"t\" />\r\n"));
        QCOMPARE(ask(*subscriber, "<recording_subscribe/>\n"), QByteArray("<succes uid=\"\" />\r\n"));
        QCOMPARE(ask(*subscriber, "<recording_subscribe/>\n"), QByteArray("<succes uid=\"\" />\r\n"));

        fixture->slot(3)->setTallyState(2);
        fixture->slot(3)->setTallyState(2); // unchanged: no event
        fixture->slot(1)->setTallyState(1);
        QCOMPARE(subscriber->takeLines(2),
            QByteArray("<tally slot=\"3\" state=\"2\" />\r\n<tally slot=\"1\" state=\"1\" />\r\n"));

        // Record-all from this client: the events it causes come before its reply.
        QCOMPARE(ask(*subscriber, "<recording_start/>\n", 2),
            QByteArray("<recording_all state=\"1\" />\r\n<succes uid=\"\" />\r\n"));
        fixture->slot(2)->setIsWaiting(true); // waiting is not announced on this protocol
        fixture->slot(2)->setIsRecording(true);
        QCOMPARE(subscriber->takeLines(1), QByteArray("<recording slot=\"2\" state=\"1\" />\r\n"));
        QCOMPARE(ask(*subscriber, "<recording_stop slot='2'/>\n", 2),
            QByteArray("<recording slot=\"2\" state=\"0\" />\r\n<succes uid=\"\" />\r\n"));

        // The bystander saw none of it: its next reply is the first thing it gets.
        QCOMPARE(ask(*bystander, "<listen_off uid='b'/>\n"), QByteArray("<succes uid=\"b\" />\r\n"));
        QCOMPARE(bystander->pending(), QByteArray());

        QCOMPARE(ask(*subscriber, "<tally_unsubscribe/>\n"), QByteArray("<succes uid=\"\" />\r\n"));
        QCOMPARE(ask(*subscriber, "<recording_unsubscribe/>\n"), QByteArray("<succes uid=\"\" />\r\n"));
        QCOMPARE(ask(*subscriber, "<tally_unsubscribe/>\n"), QByteArray("<succes uid=\"\" />\r\n"));
        fixture->slot(3)->setTallyState(0);
        fixture->recorder->setIsRecordingAll(false);
        QCOMPARE(ask(*subscriber, "<listen_off uid='end'/>\n"), QByteArray("<succes uid=\"end\" />\r\n"));
        QCOMPARE(subscriber->pending(), QByteArray());
    }

    void portChangeWhileEnabledRestarts()
    {
        auto c = client();
        QVERIFY(c);
        const quint16 next = TestEnv::freePort();
        LogCapture::clear();
        fixture->settings()->setTcpServerPort(next);
        QTRY_COMPARE(c->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server->serverPort(), next);
        QVERIFY(LogCapture::contains(QStringLiteral("TCP API listening on port %1").arg(next)));
        QTcpSocket old;
        old.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(old.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(old.error(), QAbstractSocket::ConnectionRefusedError);
        port = next;
        auto fresh = client();
        QVERIFY(fresh);
        QCOMPARE(server->clientCount(), 1);
    }

    void portChangeWhileDisabledStaysClosed()
    {
        auto c = client();
        QVERIFY(c);
        fixture->settings()->setTcpServerEnabled(false);
        QVERIFY(!server->isListening());
        QTRY_COMPARE(c->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server->clientCount(), 0);

        const quint16 next = TestEnv::freePort();
        fixture->settings()->setTcpServerPort(next);
        QVERIFY(!server->isListening());
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, next);
        QTRY_COMPARE(probe.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);

        // Switching it on again listens on the new port.
        fixture->settings()->setTcpServerEnabled(true);
        QVERIFY(server->isListening());
        port = next;
        QVERIFY(client());
    }

    void listensWhereTold() { checkListeningAddress(fixture->settings(), port); }

    void portInUseIsLogged()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::Any, 0));
        LogCapture::clear();
        fixture->settings()->setTcpServerPort(squatter.serverPort());
        QVERIFY(!server->isListening());
        QVERIFY(LogCapture::contains(QStringLiteral("Unable to start TCP API on port %1").arg(squatter.serverPort())));
        QVERIFY(!LogCapture::contains(QStringLiteral("TCP API listening on port %1").arg(squatter.serverPort())));
    }

    void clientLeavingMidLine()
    {
        fixture->bind(1, QStringLiteral("HOST (A)"));
        auto c = client();
        QVERIFY(c);
        QSignalSpy waiting(fixture->slot(1), &Slot::isWaitingChanged);
        c->send("<recording_start slot='1'");
        c->socket.disconnectFromHost();
        QTRY_COMPARE(server->clientCount(), 0);
        QVERIFY(waiting.isEmpty());
        QVERIFY(LogCapture::matches(closedLine));
        QVERIFY(client());
    }

    void overLongLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addRow("no line end") << QByteArray(TcpProtocol::maxLineLength + 4096, 'a');
        QTest::addRow("complete but too long")
            << QByteArray("<listen_off uid='" + QByteArray(TcpProtocol::maxLineLength, 'u') + "'/>\n");
    }

    void overLongLine()
    {
        QFETCH(QByteArray, bytes);
        auto flooder = client();
        auto other = client();
        QVERIFY(flooder && other);
        flooder->send(bytes);
        QTRY_COMPARE(flooder->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(flooder->pending(), QByteArray());
        QVERIFY(
            LogCapture::matches(QStringLiteral("Dropped an over-long API line .* from (::ffff:)?127\\.0\\.0\\.1$")));
        QCOMPARE(ask(*other, "<listen_off uid='ok'/>\n"), QByteArray("<succes uid=\"ok\" />\r\n"));
        QCOMPARE(server->clientCount(), 1);
    }

    // A subscriber that stops reading is dropped once too much is waiting for it; a client that
    // reads is unaffected.
    void nonReadingClientDropped()
    {
        auto other = client();
        QVERIFY(other);
        QTcpSocket stalled;
        stalled.setReadBufferSize(64);
        stalled.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(stalled.waitForConnected(5000));
        stalled.write("<tally_subscribe/>\n");
        stalled.flush();
        QTRY_COMPARE(server->clientCount(), 2);
        QTest::qWait(100); // lets the subscription line arrive before the flood

        Slot* s = fixture->slot(1);
        // The stalled socket reads nothing, so it would not even notice the drop: ask the server.
        for (int round = 0; round < 300 && server->clientCount() == 2; ++round) {
            for (int i = 0; i < 20000; ++i)
                s->setTallyState(i % 3);
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(server->clientCount(), 1);
        QVERIFY(LogCapture::matches(
            QStringLiteral("Dropped API connection with .*127\\.0\\.0\\.1: it does not read its replies$")));
        QCOMPARE(ask(*other, "<listen_off uid='still here'/>\n"), QByteArray("<succes uid=\"still here\" />\r\n"));
        QCOMPARE(server->clientCount(), 1);
    }

    void longestAllowedLine()
    {
        auto c = client();
        QVERIFY(c);
        QByteArray line = "<listen_off uid='";
        const QByteArray tail = "'/>";
        line += QByteArray(TcpProtocol::maxLineLength - line.size() - tail.size(), 'u') + tail;
        QCOMPARE(line.size(), TcpProtocol::maxLineLength);
        const QByteArray reply = ask(*c, line + "\r\n");
        QVERIFY(reply.startsWith("<succes uid=\"uuu"));
        QCOMPARE(c->socket.state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestTcpApiServer)
#include "tst_tcpapiserver.moc"
