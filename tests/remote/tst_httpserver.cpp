#include "app/settingsmodel.h"
#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"
#include "tests/remote/remotefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// One "/api/events" stream; its messages as they arrive, each chunk being one message.
struct EventStream {
    QTcpSocket socket;
    QByteArray raw;
    bool open(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { raw += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        return QTest::qWaitFor([this] { return raw.contains("\r\n\r\n"); }, 5000);
    }
    int status() const { return raw.mid(9, 3).toInt(); }
    // Without "data: ", and without pings and the throttled level and progress reports unless asked.
    QList<QByteArray> events(bool all = false) const
    {
        QList<QByteArray> out;
        for (const QByteArray& line : raw.mid(raw.indexOf("\r\n\r\n")).split('\n')) {
            if (line.startsWith("data: ") && (all || (line != "data: ping" && !line.contains("\"event\":\"levels\"") && !line.contains("\"event\":\"progress\""))))
                out << line.mid(6);
        }
        return out;
    }
};

// A client that asks for events and then never reads, its receive buffer small.
int deadStream(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), small = 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray get("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::write(fd, get.constData(), size_t(get.size())) == get.size();
    return sent ? fd : (::close(fd), -1);
}

QByteArray panelFile(const QString& name)
{
    QFile file(QStringLiteral(TESTS_SOURCE_DIR "/../panel/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

const QByteArray success = "{\n    \"result\": \"success\"\n}\n";
QByteArray failure(const char* reason)
{
    return QByteArray("{\n    \"reason\": \"") + reason + "\",\n    \"result\": \"failure\"\n}\n";
}

} // namespace

// The HTTP server's transport with real sockets: routes, the event stream and its limits, access.
// What a command answers is the command layer's business, the JSON bytes HttpJson's.
class TestHttpServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<RemoteFixture> fixture;
    std::unique_ptr<HttpServer> server;
    quint16 port = 0;

    int get(const QByteArray& request, QByteArray* body = nullptr, QByteArray* head = nullptr)
    {
        return E2E::httpRequest(port, request, head, body);
    }
    QByteArray api(const QByteArray& query)
    {
        QByteArray head, body;
        const int status = get("GET /api" + query, &body, &head);
        const bool plain = head.contains("Content-Type: text/plain\r\n") && head.contains("Access-Control-Allow-Origin: *\r\n");
        return status == 200 && plain ? body : "status " + QByteArray::number(status);
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
        fixture->settings()->setHttpServerEnabled(false);
        server = std::make_unique<HttpServer>(fixture->model.get(), fixture->audio.get(), fixture->recorder.get(),
            fixture->sources.get(), fixture->settings());
        QVERIFY(server->worker()->setPanelPath(QDir(TestEnv::binDir()).filePath(QStringLiteral("panel"))));
        port = TestEnv::freePort();
        LogCapture::clear();
        fixture->settings()->setHttpServerPort(port);
        fixture->settings()->setHttpServerEnabled(true);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(port)));
    }

    void cleanup() { server.reset(); }
    void cleanupTestCase() { fixture.reset(); }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        const auto row = [](const char* request, int status, const char* type, const QByteArray& body) {
            QTest::newRow(request) << QByteArray(request) << status << QByteArray(type) << body;
        };
        row("GET /", 200, "text/html", panelFile("index.html"));
        row("GET /app.js", 200, "text/javascript", panelFile("app.js"));
        row("GET /style.css", 200, "text/css", panelFile("style.css"));
        row("GET /favicon.svg", 200, "image/svg+xml", panelFile("favicon.svg"));
        for (const char* missing : { "GET /nothing.html", "GET /../CMakeCache.txt", "GET /%2e%2e/%2e%2e/CMakeCache.txt",
                 "GET /api/other", "POST /api?command=listen_off\nContent-Length: 0" })
            row(missing, 404, "", {});
        row("GET /api?command=listen_off", 200, "text/plain", success);
        row("HEAD /api?command=listen_off", 200, "text/plain", {});
        row("GET /api?command=sources", 200, "text/plain", "{\n    \"sources\": [\n    ]\n}\n");
        row("GET /api", 200, "text/plain", failure("Invalid command"));
        row("GET /api?command=STATUS", 200, "text/plain", failure("Invalid command"));
        row("GET /api?command=progress&slot=5", 200, "text/plain", failure("Slot id invalid"));
        row("GET /api?command=recordings", 200, "text/plain", "{\n    \"recordings\": [\n    ]\n}\n");
        // A body announced larger than any request needs is refused before it is read.
        row("POST /api\nContent-Length: 100000000000", 413, "", {});
    }

    void routes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, type);
        QByteArray head, body;
        QTEST(get(request, &body, &head), "status");
        QVERIFY2(type.isEmpty() || head.contains("Content-Type: " + type + "\r\n"), head.constData());
        QTEST(body, "body");
    }

    // Commands run through either method that may carry them; parameters are decoded, the first counts.
    void commandsReachTheSlots()
    {
        fixture->bind(2, QStringLiteral("HOST (A)"));
        QCOMPARE(get("POST /api?command=recording_start&slot=2\nContent-Length: 0"), 404);
        QVERIFY(!fixture->slot(2)->isWaiting());
        QCOMPARE(get("HEAD /api?command=recording_start&slot=2"), 200);
        QVERIFY(fixture->slot(2)->isWaiting());
        QCOMPARE(api("?command=rename&slot=3&name=K%C3%A4m+%26+%22x%22&name=no"), success);
        QCOMPARE(fixture->slot(3)->displayName(), QStringLiteral("Käm & \"x\""));
        QCOMPARE(api("?command=listen&slot=4&slot=3"), success);
        QVERIFY(fixture->slot(4)->isListening());
    }

    void missingPanel()
    {
        fixture->settings()->setHttpServerEnabled(false);
        QTRY_VERIFY(!server->worker()->isRunning());
        LogCapture::clear();
        QVERIFY(!server->worker()->setPanelPath(TestEnv::root() + QStringLiteral("/no-panel-here")));
        QVERIFY(LogCapture::contains(QStringLiteral("Missing panel path")));
        fixture->settings()->setHttpServerEnabled(true);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(port)));
        QCOMPARE(get("GET /index.html"), 404);
        QCOMPARE(api("?command=listen_off"), success);
    }

    void streamStartsWithStateThenEventsInOrder()
    {
        fixture->bind(2, QStringLiteral("HOST (B)"));
        fixture->slot(2)->setTallyState(1);
        EventStream stream;
        QVERIFY(stream.open(port));
        QCOMPARE(stream.status(), 200);
        for (const char* header : { "Content-Type: text/event-stream\r\n", "Access-Control-Allow-Origin: *\r\n",
                 "Transfer-Encoding: chunked\r\n" })
            QVERIFY2(stream.raw.contains(header), header);
        QTRY_COMPARE(stream.events().size(), 2);
        QVERIFY(stream.events().at(0).startsWith("{\"event\":\"status\",\"recording_all\":\"0\",\"slots\":{\"1\":{"));
        QVERIFY(stream.events().at(0).contains("\"2\":{\"displayName\":\"\",\"id\":\"2\",\"recording\":\"ready\","
                                                "\"source\":\"HOST (B)\",\"tally\":1}"));
        QVERIFY(stream.events().at(1).startsWith("{\"event\":\"sources\",\"sources\":["));
        Slot* s = fixture->slot(2);
        s->setTallyState(2);
        QCOMPARE(api("?command=recording_start&slot=2"), success);
        s->recordingStarted();
        QCOMPARE(api("?command=recording_stop&slot=2"), success);
        QCOMPARE(api("?command=rename&slot=2&name=Left"), success);
        QCOMPARE(api("?command=rename&slot=2&name=Left"), success); // unchanged: no event
        QCOMPARE(api("?command=disconnect&slot=2"), success);
        QCOMPARE(api("?command=recording_start"), success);
        fixture->sources->sourceAdded(QStringLiteral("HOST (New)"));
        const QList<QByteArray> expected = { R"({"event":"tally","slot":"2","state":"2"})",
            R"({"event":"recording","slot":"2","state":"waiting"})", R"({"event":"recording","slot":"2","state":"recording"})",
            R"({"event":"recording","slot":"2","state":"recording"})", R"({"event":"recording","slot":"2","state":"ready"})",
            R"({"event":"rename","name":"Left","slot":"2"})", R"({"event":"connected","slot":"2","source":"none"})",
            R"({"event":"tally","slot":"2","state":"0"})",
            R"({"event":"recording_all","state":"1"})", R"x({"event":"sources","sources":["HOST (New)"]})x" };
        QTRY_COMPARE(stream.events().mid(2).size(), expected.size());
        QCOMPARE(stream.events().mid(2), expected);
    }

    // About ten pings a second; levels twice a second, every slot with its meters and free space.
    void pingsAndLevels()
    {
        EventStream stream;
        QVERIFY(stream.open(port));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(stream.events(true).count("ping") >= 5, 5000);
        QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
        const auto levels = [&] {
            for (const QByteArray& message : stream.events(true)) {
                if (message.startsWith("{\"event\":\"levels\""))
                    return QJsonDocument::fromJson(message).object();
            }
            return QJsonObject();
        };
        QTRY_VERIFY(!levels().isEmpty());
        QCOMPARE(levels()["levels"].toObject().keys(), (QStringList { "1", "2", "3", "4" }));
        QCOMPARE(levels()["levels"].toObject()["1"].toArray().size(), 2);
        QVERIFY(levels()["freeGigabytes"].toObject()["4"].isDouble());
    }

    // Five streams at most; a freed place is taken again, and commands pass meanwhile.
    void streamLimit()
    {
        std::vector<std::unique_ptr<EventStream>> streams(6);
        for (auto& stream : streams) {
            stream = std::make_unique<EventStream>();
            QVERIFY(stream->open(port));
        }
        for (int i = 0; i < 6; ++i)
            QCOMPARE(streams[size_t(i)]->status(), i < 5 ? 200 : 503);
        QVERIFY(streams.back()->raw.contains("Access-Control-Allow-Origin: *\r\n"));
        QCOMPARE(server->worker()->streamCount(), 5);
        QCOMPARE(api("?command=listen_off"), success);
        streams.front()->socket.abort();
        QTRY_COMPARE(server->worker()->queueCount(), 4);
        EventStream again;
        QVERIFY(again.open(port));
        QCOMPARE(again.status(), 200);
        QTRY_COMPARE(again.events().size(), 2);
    }

    // Streams whose clients take nothing are ended, so their places come free; a stop waits for none.
    void deadStreamsAreEnded()
    {
        std::vector<int> dead;
        for (int i = 0; i < 5; ++i)
            dead.push_back(deadStream(port));
        QVERIFY(std::count(dead.begin(), dead.end(), -1) == 0);
        QTRY_COMPARE(server->worker()->streamCount(), 5);
        for (int i = 0; i < 8; ++i) // enough to fill what the small buffers hold
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'a' + char(i))), success);
        QTRY_COMPARE_WITH_TIMEOUT(server->worker()->streamCount(), 0, 15000);
        EventStream sixth;
        QVERIFY(sixth.open(port));
        QCOMPARE(sixth.status(), 200);
        dead.push_back(deadStream(port));
        QTRY_COMPARE(server->worker()->streamCount(), 2);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'k' + char(i))), success);
        QElapsedTimer clock;
        clock.start();
        fixture->settings()->setHttpServerPort(TestEnv::freePort());
        QVERIFY2(clock.elapsed() < 2000, "a stop waited for a client");
        for (const int fd : dead)
            ::close(fd);
    }

    // Clients trickling their headers hold no thread that others need, and are closed in time.
    void slowClientsHoldNothing()
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow(50);
        for (auto& socket : slow) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&slow] {
            for (const auto& socket : slow)
                socket->write("G");
        });
        trickle.start(300);
        QTRY_VERIFY(std::all_of(slow.begin(), slow.end(), [](const auto& s) { return s->state() == QAbstractSocket::ConnectedState; }));
        QTest::qWait(1000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(api("?command=status").contains("\"slots\""));
        QVERIFY2(clock.elapsed() < 1500, "a request waited for slow clients");
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(slow.begin(), slow.end(),
            [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; }), 12000);
    }

    // A port change with open streams and with requests waiting for this thread completes, and
    // leaves nothing hanging.
    void portChangeWithStreamsAndRequests()
    {
        for (int round = 0; round < 4; ++round) {
            std::vector<std::unique_ptr<EventStream>> streams(3);
            std::vector<std::unique_ptr<QTcpSocket>> requests(6);
            for (auto& stream : streams) {
                stream = std::make_unique<EventStream>();
                QVERIFY(stream->open(port));
            }
            for (auto& socket : requests) {
                socket = std::make_unique<QTcpSocket>();
                socket->connectToHost(QHostAddress::LocalHost, port);
                QVERIFY(socket->waitForConnected(5000));
                socket->write("GET /api?command=status HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
                socket->flush();
            }
            // The request threads reach their hand-off to this thread, which runs no event loop
            // until the port change: the change itself must serve or release them.
            QThread::msleep(300);
            QElapsedTimer clock;
            clock.start();
            port = TestEnv::freePort();
            fixture->settings()->setHttpServerPort(port);
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(server->worker()->streamCount(), 0);
            QCOMPARE(server->worker()->queueCount(), 0);
            for (const auto& stream : streams)
                QTRY_COMPARE(stream->socket.state(), QAbstractSocket::UnconnectedState);
            for (const auto& socket : requests)
                QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
            QTRY_COMPARE(api("?command=listen_off"), success);
        }
    }

    void snapshotRefusals_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        for (const char* bad : { "", "?slot=0", "?slot=99", "?slot=1x" })
            QTest::addRow("slot '%s'", bad) << QByteArray(bad) << 400 << failure("Slot id invalid");
        QTest::newRow("unbound") << QByteArray("?slot=2") << 404 << failure("No picture");
        QTest::newRow("bound, no picture yet") << QByteArray("?slot=1") << 404 << failure("No picture");
    }

    void snapshotRefusals()
    {
        QFETCH(QByteArray, query);
        fixture->bind(1, QStringLiteral("A"));
        QByteArray body;
        QTEST(get("GET /api/snapshot" + query, &body), "status");
        QTEST(body, "body");
    }

    void accessKey_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no key") << QByteArray("GET /api?command=listen_off") << 401 << failure("Access key required");
        QTest::newRow("wrong key") << QByteArray("GET /api?command=listen_off&key=nope") << 401 << failure("Access key wrong");
        QTest::newRow("key parameter") << QByteArray("GET /api?command=listen_off&key=s%3Acret") << 200 << success;
        QTest::newRow("bearer header") << QByteArray("GET /api?command=listen_off\nAuthorization: Bearer s:cret") << 200
                                       << success;
        QTest::newRow("events") << QByteArray("GET /api/events") << 401 << failure("Access key required");
        QTest::newRow("snapshot") << QByteArray("GET /api/snapshot?slot=1") << 401 << failure("Access key required");
        QTest::newRow("the panel itself is open") << QByteArray("GET /favicon.svg") << 200 << panelFile("favicon.svg");
    }

    void accessKey()
    {
        QFETCH(QByteArray, request);
        fixture->settings()->setServerAccessKey(QStringLiteral("s:cret"));
        QByteArray body;
        QTEST(get(request, &body), "status");
        QTEST(body, "body");
    }

    // A stream that ended while stopping leaves its queue; events meanwhile must not pile up in it.
    void staleQueuesStayBounded()
    {
        EventStream stream;
        QVERIFY(stream.open(port));
        QTRY_COMPARE(server->worker()->queueCount(), 1);
        fixture->settings()->setHttpServerEnabled(false);
        QTRY_COMPARE(stream.socket.state(), QAbstractSocket::UnconnectedState);
        for (int i = 0; i < 5000; ++i)
            fixture->slot(1)->setTallyState(i % 3);
        QVERIFY(server->worker()->queuedMessageCount() <= HttpServerWorkerThread::maxQueuedMessages);
        fixture->settings()->setHttpServerEnabled(true);
        QCOMPARE(server->worker()->queueCount(), 0);
    }

    void lifecycle()
    {
        checkLifecycle(fixture->settings(),
            { &SettingsModel::setHttpServerEnabled, &SettingsModel::setHttpServerPort, QStringLiteral("HTTP panel") }, port);
        QCOMPARE(api("?command=listen_off"), success);
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
