#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"
#include "tests/remote/remotefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// One "/api/events" stream, a chunk per message; all = with pings and the throttled reports.
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
    QList<QByteArray> events(bool all = false) const
    {
        static const QRegularExpression beat(R"re(^(ping|.*"event":"(levels|progress)"))re");
        QList<QByteArray> out;
        for (const QByteArray& line : raw.split('\n'))
            if (line.startsWith("data: ") && (all || !beat.match(QString::fromUtf8(line.mid(6))).hasMatch()))
                out << line.mid(6);
        return out;
    }
};

// A client that asks for events and then never reads, its receive buffer small.
int deadStream(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), small = 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address { AF_INET, htons(port), { htonl(INADDR_LOOPBACK) }, {} };
    const char get[] = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return ::write(fd, get, sizeof get - 1) == sizeof get - 1 ? fd : -1;
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

    QByteArray api(const QByteArray& query)
    {
        QByteArray head, body;
        const int status = E2E::httpRequest(port, "GET /api" + query, &head, &body);
        const bool plain
            = head.contains("Content-Type: text/plain\r\n") && head.contains("Access-Control-Allow-Origin: *");
        return status == 200 && plain ? body : "status " + QByteArray::number(status);
    }
    auto worker() { return server->worker(); }
    static QByteArray panelFile(const char* name)
    {
        QFile file(QStringLiteral(TESTS_SOURCE_DIR "/../panel/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
    }
    const QByteArray success = "{\n    \"result\": \"success\"\n}\n";
    static QByteArray failure(const char* why)
    {
        return "{\n    \"reason\": \"" + QByteArray(why) + "\",\n    \"result\": \"failure\"\n}\n";
    }

private Q_SLOTS:
    void initTestCase() { LogCapture::install(), fixture = std::make_unique<RemoteFixture>(4, false); }
    void cleanup() { server.reset(); }
    void cleanupTestCase() { fixture.reset(); }
    void init()
    {
        fixture->reset();
        fixture->settings()->setHttpServerEnabled(false);
        server = std::make_unique<HttpServer>(fixture->model.get(), fixture->audio.get(), fixture->recorder.get(),
            fixture->sources.get(), fixture->settings());
        QVERIFY(worker()->setPanelPath(QDir(TestEnv::binDir()).filePath(QStringLiteral("panel"))));
        LogCapture::clear();
        fixture->settings()->setHttpServerPort(port = TestEnv::freePort());
        fixture->settings()->setHttpServerEnabled(true);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(port)));
    }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        const auto row
            = [](const QByteArray& request, int status, const char* type, const QByteArray& body, bool keyed = false) {
                  QTest::newRow(request.constData()) << request << keyed << status << QByteArray(type) << body;
              };
        for (const auto& [path, file, type] :
            { std::tuple { "GET /", "index.html", "text/html" }, { "GET /app.js", "app.js", "text/javascript" },
                { "GET /style.css", "style.css", "text/css" }, { "GET /favicon.svg", "favicon.svg", "image/svg+xml" } })
            row(path, 200, type, panelFile(file), true); // the panel needs no key
        for (const char* path :
            { "/nothing.html", "/../CMakeCache.txt", "/%2e%2e/%2e%2e/CMakeCache.txt", "/api/other" })
            row("GET " + QByteArray(path), 404, "", {});
        row("POST /api?command=listen_off\nContent-Length: 0", 404, "", {});
        row("POST /api\nContent-Length: 100000000000", 413, "", {}); // refused before it is read
        row("HEAD /api?command=listen_off", 200, "text/plain", {});
        row("GET /api?command=listen_off", 200, "text/plain", success);
        row("GET /api?command=sources", 200, "text/plain", "{\n    \"sources\": [\n    ]\n}\n");
        row("GET /api", 200, "text/plain", failure("Invalid command"));
        row("GET /api?command=STATUS", 200, "text/plain", failure("Invalid command"));
        row("GET /api?command=progress&slot=5", 200, "text/plain", failure("Slot id invalid"));
        row("GET /api?command=recordings", 200, "text/plain", "{\n    \"recordings\": [\n    ]\n}\n");
        for (const char* bad : { "", "?slot=0", "?slot=99", "?slot=1x" })
            row("GET /api/snapshot" + QByteArray(bad), 400, "text/plain", failure("Slot id invalid"));
        row("GET /api/snapshot?slot=2", 404, "text/plain", failure("No picture")); // unbound
        row("GET /api/snapshot?slot=1", 404, "text/plain", failure("No picture")); // bound, no picture yet
        for (const char* keyless : { "/api?command=listen_off", "/api/events", "/api/snapshot?slot=1" })
            row("GET " + QByteArray(keyless), 401, "text/plain", failure("Access key required"), true);
        for (const char* wrong : { "nope", "s%3Acre", "s%3AcreT", "s%3Acret!" }) // every character counts
            row("GET /api?command=listen_off&key=" + QByteArray(wrong), 401, "text/plain", failure("Access key wrong"),
                true);
        row("GET /api?command=listen_off&key=s%3Acret", 200, "text/plain", success, true);
        row("GET /api?command=listen_off\nAuthorization: Bearer s:cret", 200, "text/plain", success, true);
    }

    void routes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, type);
        QFETCH(bool, keyed);
        fixture->bind(1, QStringLiteral("A"));
        fixture->settings()->setServerAccessKey(keyed ? QStringLiteral("s:cret") : QString());
        QByteArray head, body;
        QTEST(E2E::httpRequest(port, request, &head, &body), "status");
        QVERIFY2(type.isEmpty() || head.contains("Content-Type: " + type + "\r\n"), head.constData());
        QVERIFY(head.contains("Access-Control-Allow-Origin: *") || type != "text/plain");
        QTEST(body, "body");
    }

    void streamStartsWithStateThenEventsInOrderAndPings()
    {
        fixture->bind(2, QStringLiteral("HOST (B)"));
        fixture->slot(2)->setTallyState(1);
        EventStream stream;
        QElapsedTimer clock;
        clock.start();
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
        fixture->slot(2)->setTallyState(2);
        QCOMPARE(E2E::httpRequest(port, "HEAD /api?command=recording_start&slot=2"), 200);
        fixture->slot(2)->recordingStarted();
        // Parameters are decoded, the first of a name counts.
        for (const char* query : { "recording_stop&slot=2", "rename&slot=2&name=K%C3%A4m+%26+%22x%22&name=no",
                 "rename&slot=2&name=K%C3%A4m+%26+%22x%22", "disconnect&slot=2", "listen&slot=4&slot=3",
                 "recording_start" })
            QCOMPARE(api(QByteArray("?command=") + query), success);
        fixture->sources->sourceAdded(QStringLiteral("HOST (New)"));
        // Starting turns isRecording on before isWaiting off: two events, each computed on the spot.
        const QList<QByteArray> expected
            = { R"({"event":"tally","slot":"2","state":"2"})", R"({"event":"recording","slot":"2","state":"waiting"})",
                  R"({"event":"recording","slot":"2","state":"recording"})",
                  R"({"event":"recording","slot":"2","state":"recording"})",
                  R"({"event":"recording","slot":"2","state":"ready"})",
                  "{\"event\":\"rename\",\"name\":\"Käm & \\\"x\\\"\",\"slot\":\"2\"}",
                  R"({"event":"connected","slot":"2","source":"none"})", R"({"event":"tally","slot":"2","state":"0"})",
                  R"({"event":"recording_all","state":"1"})", R"x({"event":"sources","sources":["HOST (New)"]})x" };
        QTRY_COMPARE(stream.events().size(), expected.size() + 2);
        QCOMPARE(stream.events().mid(2), expected);
        QVERIFY(fixture->slot(4)->isListening());
        // About ten pings a second; levels twice a second, every slot with its meters and free space.
        QTRY_VERIFY_WITH_TIMEOUT(stream.events(true).count("ping") >= 5, 5000);
        QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(QRegularExpression(R"re(data: {"event":"levels","freeGigabytes":{("[1-4]":[-\d.e+]+,?){4}},)re"
                                       R"re("levels":{("[1-4]":\[[-\d.e+]+,[-\d.e+]+\],?){4}}})re")
                        .match(QString::fromLatin1(stream.raw))
                        .hasMatch());
    }

    // Five streams at most. One whose client takes nothing is ended, so its place comes free; a
    // stop waits for none.
    void streamLimitAndDeadStreams()
    {
        std::vector<int> dead;
        for (int i = 0; i < 5; ++i)
            dead.push_back(deadStream(port));
        QVERIFY(std::count(dead.begin(), dead.end(), -1) == 0);
        QTRY_COMPARE(worker()->streamCount(), 5);
        EventStream sixth;
        QVERIFY(sixth.open(port));
        QCOMPARE(sixth.status(), 503);
        QCOMPARE(api("?command=listen_off"), success);
        for (int i = 0; i < 8; ++i) // enough to fill what the small buffers hold
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'a' + char(i))), success);
        QTRY_COMPARE_WITH_TIMEOUT(worker()->streamCount(), 0, 15000);
        QTRY_COMPARE(worker()->queueCount(), 0);
        EventStream again;
        QVERIFY(again.open(port));
        QCOMPARE(again.status(), 200);
        QTRY_COMPARE(again.events().size(), 2);
        dead.push_back(deadStream(port));
        QTRY_COMPARE(worker()->streamCount(), 2);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'k' + char(i))), success);
        QElapsedTimer clock;
        clock.start();
        fixture->settings()->setHttpServerPort(TestEnv::freePort());
        QVERIFY2(clock.elapsed() < 2000, "a stop waited for a client");
        for (const int fd : dead)
            ::close(fd);
    }

    // A stream ended while stopping leaves its queue: events meanwhile must not pile up in it. A
    // server that starts without its panel still answers the API.
    void lifecycle()
    {
        EventStream stream;
        QVERIFY(stream.open(port));
        QTRY_COMPARE(worker()->queueCount(), 1);
        fixture->settings()->setHttpServerEnabled(false);
        QTRY_COMPARE(stream.socket.state(), QAbstractSocket::UnconnectedState);
        for (int i = 0; i < 5000; ++i)
            fixture->slot(1)->setTallyState(i % 3);
        QVERIFY(worker()->queuedMessageCount() <= HttpServerWorkerThread::maxQueuedMessages);
        QTRY_VERIFY(!worker()->isRunning());
        QVERIFY(!worker()->setPanelPath(TestEnv::root() + QStringLiteral("/no-panel-here")));
        QVERIFY(LogCapture::contains(QStringLiteral("Missing panel path")));
        fixture->settings()->setHttpServerEnabled(true);
        QCOMPARE(worker()->queueCount(), 0);
        checkLifecycle(fixture->settings(), &SettingsModel::setHttpServerEnabled, &SettingsModel::setHttpServerPort,
            "HTTP panel", port);
        QCOMPARE(api("?command=listen_off"), success);
        QCOMPARE(E2E::httpGet(port, "/index.html"), 404);
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
