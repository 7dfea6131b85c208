#include "app/settingsmodel.h"
#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"
#include "tests/common/testenv.h"
#include "tests/remote/remotefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

struct HttpAnswer {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

// Raw HTTP/1.1 over a QTcpSocket, waiting with the event loop running: the recorder's main thread
// is this thread, and every request waits for it.
HttpAnswer request(quint16 port, const QByteArray& method, const QByteArray& target, const QByteArray& headers = {})
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray raw;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { raw += socket.readAll(); });
    bool refused = false;
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &socket,
        [&] { refused = socket.state() != QAbstractSocket::ConnectedState; });
    if (!QTest::qWaitFor([&] { return refused || socket.state() == QAbstractSocket::ConnectedState; }, 5000) || refused)
        return {};
    const QByteArray length = method == "POST" ? "Content-Length: 0\r\n" : "";
    socket.write(
        method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + length + headers + "\r\n");
    (void)QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    raw += socket.readAll();

    HttpAnswer answer;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return answer;
    const QList<QByteArray> head = raw.left(headEnd).split('\n');
    answer.status = head.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray line = head.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        answer.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    answer.body = raw.mid(headEnd + 4);
    return answer;
}

// One "/api/events" stream: decodes the chunked body into its messages as they arrive.
class EventStream
{
public:
    bool open(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { raw += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000))
            return false;
        socket.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        return QTest::qWaitFor([this] { return raw.contains("\r\n\r\n"); }, 5000);
    }

    int status() const { return raw.split(' ').value(1).toInt(); }
    QByteArray head() const { return raw.left(raw.indexOf("\r\n\r\n") + 4); }

    // Every complete message so far, pings included, without the "data: " and the blank line.
    QList<QByteArray> messages() const
    {
        QByteArray body;
        qsizetype at = raw.indexOf("\r\n\r\n");
        if (at < 0)
            return {};
        at += 4;
        while (true) {
            const qsizetype sizeEnd = raw.indexOf("\r\n", at);
            if (sizeEnd < 0)
                break;
            bool ok = false;
            const qsizetype size = raw.mid(at, sizeEnd - at).toLongLong(&ok, 16);
            if (!ok || size == 0 || raw.size() < sizeEnd + 2 + size + 2)
                break;
            body += raw.mid(sizeEnd + 2, size);
            at = sizeEnd + 2 + size + 2;
        }
        QList<QByteArray> out;
        for (const QByteArray& message : body.split('\n')) {
            if (message.startsWith("data: "))
                out << message.mid(6);
        }
        return out;
    }

    // Everything but pings and the throttled progress and level reports, which come at their own pace.
    QList<QByteArray> events() const
    {
        QList<QByteArray> out;
        for (const QByteArray& message : messages()) {
            if (message != "ping" && !message.contains("\"event\":\"progress\"")
                && !message.startsWith("{\"event\":\"levels\""))
                out << message;
        }
        return out;
    }

    QList<QByteArray> levels() const
    {
        QList<QByteArray> out;
        for (const QByteArray& message : messages()) {
            if (message.startsWith("{\"event\":\"levels\""))
                out << message;
        }
        return out;
    }

    // Waits until n events (not pings) arrived, then returns them.
    QList<QByteArray> waitForEvents(int n, int timeoutMs = 5000)
    {
        (void)QTest::qWaitFor([&] { return events().size() >= n; }, timeoutMs);
        return events();
    }

    bool ended() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;
    QByteArray raw;
};

// A client that asks for events and then never reads: its socket's small buffer fills at once.
struct DeadStream {
    int fd = -1;
    explicit DeadStream(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray get("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::write(fd, get.constData(), size_t(get.size())) != get.size()) {
            ::close(fd);
            fd = -1;
        }
    }
    ~DeadStream()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing " + path.toUtf8() + '>');
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RemoteFixture> fixture;
    std::unique_ptr<HttpServer> server;
    quint16 port = 0;

    // Builds the server switched off, points it at the panel next to the application, then
    // switches it on at a free port.
    void makeServer()
    {
        server.reset();
        SettingsModel* settings = fixture->settings();
        settings->setHttpServerEnabled(false);
        server = std::make_unique<HttpServer>(
            fixture->model.get(), fixture->audio.get(), fixture->recorder.get(), fixture->sources.get(), settings);
        QVERIFY(server->worker()->setPanelPath(QDir(TestEnv::binDir()).filePath(QStringLiteral("panel"))));
        port = TestEnv::freePort();
        QVERIFY(port != 0);
        LogCapture::clear();
        settings->setHttpServerPort(port);
        QVERIFY(!server->isRunning());
        settings->setHttpServerEnabled(true);
        QVERIFY(server->isRunning());
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(port)));
    }

    QByteArray api(const QByteArray& query)
    {
        const HttpAnswer answer = request(port, "GET", "/api" + query);
        if (answer.status != 200 || answer.headers.value("content-type") != "text/plain"
            || answer.headers.value("access-control-allow-origin") != "*")
            return "status " + QByteArray::number(answer.status) + ' ' + answer.headers.value("content-type");
        return answer.body;
    }

    static QByteArray failure(const QByteArray& reason)
    {
        return "{\n    \"reason\": \"" + reason + "\",\n    \"result\": \"failure\"\n}\n";
    }
    static QByteArray success() { return "{\n    \"result\": \"success\"\n}\n"; }

private Q_SLOTS:
    void initTestCase()
    {
        LogCapture::install();
        fixture = std::make_unique<RemoteFixture>(4, false);
    }

    void init()
    {
        fixture->reset();
        makeServer();
    }

    void cleanup() { server.reset(); }
    void cleanupTestCase() { fixture.reset(); }

    void commands_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("after");

        QTest::addRow("start bound slot")
            << "bind2" << QByteArray("?command=recording_start&slot=2") << success() << "waiting2";
        QTest::addRow("start without slot is record-all")
            << "bind3" << QByteArray("?command=recording_start") << success() << "all;waiting3";
        QTest::addRow("start all twice") << "all" << QByteArray("?command=recording_start&slot=0")
                                         << failure("Already recording") << "all";
        QTest::addRow("start unbound") << "" << QByteArray("?command=recording_start&slot=1")
                                       << failure("Slot not connected to any source") << "idle1";
        QTest::addRow("stop idle") << "bind1" << QByteArray("?command=recording_stop&slot=1")
                                   << failure("Slot is not recording") << "";
        QTest::addRow("stop all while off")
            << "" << QByteArray("?command=recording_stop") << failure("Not recording") << "";
        QTest::addRow("stop recording") << "bind4 recording4" << QByteArray("?command=recording_stop&slot=4")
                                        << success() << "idle4";
        QTest::addRow("connect past the end")
            << "" << QByteArray("?command=connect&slot=9&source=X") << failure("Slot id invalid") << "";
        QTest::addRow("connect while recording") << "bind2 recording2" << QByteArray("?command=connect&slot=2&source=X")
                                                 << failure("Recording in progress") << "recording2";
        QTest::addRow("disconnect while recording") << "bind2 recording2" << QByteArray("?command=disconnect&slot=2")
                                                    << failure("Recording in progress") << "recording2";
        QTest::addRow("disconnect") << "bind2" << QByteArray("?command=disconnect&slot=2") << success() << "unbound2";
        QTest::addRow("rename percent-decoded")
            << "" << QByteArray("?command=rename&slot=1&name=Cam%201") << success() << "name1=Cam 1";
        QTest::addRow("rename with plus and utf-8")
            << "" << QByteArray("?command=rename&slot=3&name=K%C3%A4m+%26+%22x%22") << success() << "name3=Käm & \"x\"";
        QTest::addRow("rename to empty") << "" << QByteArray("?command=rename&slot=2&name=") << success() << "name2=";
        QTest::addRow("rename slot 0") << "" << QByteArray("?command=rename&slot=0&name=x")
                                       << failure("Slot id invalid") << "";
        QTest::addRow("listen slot 0") << "" << QByteArray("?command=listen&slot=0") << failure("Slot id invalid")
                                       << "";
        QTest::addRow("listen") << "" << QByteArray("?command=listen&slot=4") << success() << "listening4";
        QTest::addRow("listen off") << "listen4" << QByteArray("?command=listen_off") << success() << "quiet4";
        QTest::addRow("first of repeated parameters")
            << "" << QByteArray("?command=listen&slot=2&slot=3") << success() << "listening2";
        QTest::addRow("negative slot is 0")
            << "" << QByteArray("?command=listen&slot=-2") << failure("Slot id invalid") << "";
        QTest::addRow("no parameters") << "" << QByteArray("") << failure("Invalid command") << "";
        QTest::addRow("unknown command") << "" << QByteArray("?command=format") << failure("Invalid command") << "";
        QTest::addRow("case differs") << "" << QByteArray("?command=STATUS") << failure("Invalid command") << "";
    }

    void commands()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, body);
        QFETCH(QString, after);

        for (const QString& step : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int id = step.back().isDigit() ? step.back().digitValue() : 0;
            if (step.startsWith(QLatin1String("bind")))
                fixture->bind(id, QStringLiteral("HOST (Cam %1)").arg(id));
            else if (step.startsWith(QLatin1String("recording")))
                QCOMPARE(fixture->slot(id)->startRecording(), QStringLiteral("success"));
            else if (step.startsWith(QLatin1String("listen")))
                fixture->audio->startListening(fixture->slot(id));
            else if (step == QLatin1String("all"))
                fixture->recorder->setIsRecordingAll(true);
        }

        QCOMPARE(api(query), body);

        for (const QString& check : after.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (check.startsWith(QLatin1String("name"))) {
                const int eq = int(check.indexOf(QLatin1Char('=')));
                QCOMPARE(fixture->slot(check.mid(4, eq - 4).toInt())->displayName(), check.mid(eq + 1));
                continue;
            }
            const int id = check.back().isDigit() ? check.back().digitValue() : 0;
            Slot* s = id ? fixture->slot(id) : nullptr;
            if (check.startsWith(QLatin1String("waiting")))
                QVERIFY2(s->isWaiting(), qPrintable(check));
            else if (check.startsWith(QLatin1String("recording")))
                QVERIFY2(s->isWaiting() || s->isRecording(), qPrintable(check));
            else if (check.startsWith(QLatin1String("idle")))
                QVERIFY2(!s->isWaiting() && !s->isRecording(), qPrintable(check));
            else if (check.startsWith(QLatin1String("unbound")))
                QVERIFY2(!s->isConnected(), qPrintable(check));
            else if (check.startsWith(QLatin1String("listening")))
                QVERIFY2(s->isListening(), qPrintable(check));
            else if (check.startsWith(QLatin1String("quiet")))
                QVERIFY2(!s->isListening(), qPrintable(check));
            else if (check == QLatin1String("all"))
                QVERIFY(fixture->recorder->isRecordingAll());
        }
    }

    void status()
    {
        fixture->bind(1, QStringLiteral("HOST (A)"));
        QCOMPARE(fixture->slot(1)->startRecording(), QStringLiteral("success"));
        fixture->slot(1)->recordingStarted();
        fixture->bind(2, QStringLiteral("HOST (B)"));
        fixture->slot(2)->setTallyState(2);
        fixture->slot(2)->setDisplayName(QStringLiteral("Wide \"2\""));
        fixture->bind(3, QStringLiteral("HOST (C)"));
        QCOMPARE(fixture->slot(3)->startRecording(), QStringLiteral("success"));

        const auto slotText = [](int id, const char* name, const char* state, const char* source, int tally) {
            return QByteArray("        \"") + QByteArray::number(id) + "\": {\n            \"displayName\": \"" + name
                + "\",\n            \"id\": \"" + QByteArray::number(id) + "\",\n            \"recording\": \"" + state
                + "\",\n            \"source\": \"" + source
                + "\",\n            \"tally\": " + QByteArray::number(tally) + "\n        }";
        };
        QCOMPARE(api("?command=status"),
            QByteArray("{\n    \"recording_all\": \"0\",\n    \"slots\": {\n")
                + slotText(1, "", "recording", "HOST (A)", 0) + ",\n"
                + slotText(2, "Wide \\\"2\\\"", "ready", "HOST (B)", 2) + ",\n"
                + slotText(3, "", "waiting", "HOST (C)", 0) + ",\n" + slotText(4, "", "ready", "none", 0)
                + "\n    }\n}\n");
    }

    // Runs before any source is known: the sources model only ever grows.
    void sources()
    {
        QCOMPARE(api("?command=sources"), QByteArray("{\n    \"sources\": [\n    ]\n}\n"));
        fixture->sources->sourceAdded(QStringLiteral("HOST (A)"));
        fixture->sources->sourceAdded(QStringLiteral("HOST (\"B\")"));
        QCOMPARE(api("?command=sources"),
            QByteArray("{\n    \"sources\": [\n        \"HOST (A)\",\n        \"HOST (\\\"B\\\")\"\n    ]\n}\n"));
    }

    void methods()
    {
        fixture->bind(2, QStringLiteral("HOST (A)"));
        const HttpAnswer post = request(port, "POST", "/api?command=recording_start&slot=2");
        QCOMPARE(post.status, 404);
        QVERIFY(!fixture->slot(2)->isWaiting());

        // A body announced larger than any request needs is refused before it is read.
        {
            QTcpSocket socket;
            QByteArray raw;
            QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { raw += socket.readAll(); });
            socket.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket.waitForConnected(5000));
            socket.write("POST /api HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000000\r\n\r\n");
            socket.write(QByteArray(64 * 1024, 'x'));
            QTRY_VERIFY(raw.contains("\r\n\r\n"));
            QVERIFY2(raw.startsWith("HTTP/1.1 413 "), raw.left(40).constData());
        }

        const HttpAnswer head = request(port, "HEAD", "/api?command=recording_start&slot=2");
        QCOMPARE(head.status, 200);
        QCOMPARE(head.body, QByteArray());
        QVERIFY(fixture->slot(2)->isWaiting());
    }

    void staticFiles_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("type");
        QTest::addRow("folder gives index") << QByteArray("/") << "index.html" << QByteArray("text/html");
        QTest::addRow("script") << QByteArray("/app.js") << "app.js" << QByteArray("text/javascript");
        QTest::addRow("style") << QByteArray("/style.css") << "style.css" << QByteArray("text/css");
        QTest::addRow("icon") << QByteArray("/favicon.svg") << "favicon.svg" << QByteArray("image/svg+xml");
    }

    void staticFiles()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, file);
        QFETCH(QByteArray, type);
        const HttpAnswer answer = request(port, "GET", path);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("content-type"), type);
        QCOMPARE(answer.body, fileBytes(QStringLiteral(TESTS_SOURCE_DIR "/../panel/") + file));
    }

    void notFound_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addRow("missing file") << QByteArray("/nothing.html");
        QTest::addRow("outside the folder") << QByteArray("/../CMakeCache.txt");
        QTest::addRow("encoded dots") << QByteArray("/%2e%2e/%2e%2e/CMakeCache.txt");
        QTest::addRow("api subpath") << QByteArray("/api/other");
    }

    void notFound()
    {
        QFETCH(QByteArray, path);
        QCOMPARE(request(port, "GET", path).status, 404);
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
        QCOMPARE(request(port, "GET", "/").status, 404);
        QCOMPARE(request(port, "GET", "/index.html").status, 404);
        QCOMPARE(api("?command=listen_off"), success());
    }

    void streamStartsWithStatusAndSources()
    {
        fixture->bind(2, QStringLiteral("HOST (B)"));
        fixture->slot(2)->setTallyState(1);
        EventStream stream;
        QVERIFY(stream.open(port));
        QCOMPARE(stream.status(), 200);
        QVERIFY(stream.head().contains("Content-Type: text/event-stream\r\n"));
        QVERIFY(stream.head().contains("Access-Control-Allow-Origin: *\r\n"));
        QVERIFY(stream.head().contains("Transfer-Encoding: chunked\r\n"));
        const QList<QByteArray> events = stream.waitForEvents(2);
        QCOMPARE(events.size(), 2);
        QVERIFY(events.at(0).startsWith("{\"event\":\"status\",\"recording_all\":\"0\",\"slots\":{\"1\":{"));
        QVERIFY(events.at(0).contains(
            "\"2\":{\"displayName\":\"\",\"id\":\"2\",\"recording\":\"ready\",\"source\":\"HOST (B)\",\"tally\":1}"));
        QVERIFY(events.at(1).startsWith("{\"event\":\"sources\",\"sources\":["));
    }

    void eventsInOrder()
    {
        fixture->bind(2, QStringLiteral("HOST (B)"));
        EventStream stream;
        QVERIFY(stream.open(port));
        QCOMPARE(stream.waitForEvents(2).size(), 2);

        Slot* s = fixture->slot(2);
        s->setTallyState(2);
        QCOMPARE(api("?command=recording_start&slot=2"), success());
        s->recordingStarted();
        QCOMPARE(api("?command=recording_stop&slot=2"), success());
        QCOMPARE(api("?command=rename&slot=2&name=Left"), success());
        QCOMPARE(api("?command=rename&slot=2&name=Left"), success()); // unchanged: no event
        QCOMPARE(api("?command=disconnect&slot=2"), success());
        QCOMPARE(api("?command=recording_start"), success());
        fixture->sources->sourceAdded(QStringLiteral("HOST (New)"));

        const QList<QByteArray> expected = {
            "{\"event\":\"tally\",\"slot\":\"2\",\"state\":\"2\"}",
            "{\"event\":\"recording\",\"slot\":\"2\",\"state\":\"waiting\"}",
            // isRecording turns on first, then isWaiting off: two events, both computed on the spot.
            "{\"event\":\"recording\",\"slot\":\"2\",\"state\":\"recording\"}",
            "{\"event\":\"recording\",\"slot\":\"2\",\"state\":\"recording\"}",
            "{\"event\":\"recording\",\"slot\":\"2\",\"state\":\"ready\"}",
            "{\"event\":\"rename\",\"name\":\"Left\",\"slot\":\"2\"}",
        };
        const QList<QByteArray> events = stream.waitForEvents(2 + int(expected.size()) + 4).mid(2);
        QCOMPARE(events.mid(0, expected.size()), expected);
        const QList<QByteArray> rest = events.mid(expected.size());
        // Disconnecting resets the tally and the source, in the slot's own order.
        QVERIFY2(rest.contains("{\"event\":\"connected\",\"slot\":\"2\",\"source\":\"none\"}"), rest.join('\n'));
        QVERIFY2(rest.contains("{\"event\":\"tally\",\"slot\":\"2\",\"state\":\"0\"}"), rest.join('\n'));
        QTRY_VERIFY(stream.events().contains("{\"event\":\"recording_all\",\"state\":\"1\"}"));
        QTRY_VERIFY(stream.events().last().startsWith("{\"event\":\"sources\",\"sources\":["));
        QVERIFY(stream.events().last().endsWith("\"HOST (New)\"]}"));
    }

    void pings()
    {
        EventStream stream;
        QVERIFY(stream.open(port));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(stream.messages().count("ping") >= 5, 5000);
        // About ten a second: five take at least 400 ms.
        QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(stream.events().size(), 2);
        // Levels twice a second, every slot with its meters and free space.
        QTRY_VERIFY(!stream.levels().isEmpty());
        const QJsonObject levels = QJsonDocument::fromJson(stream.levels().first()).object();
        QCOMPARE(levels.value(QStringLiteral("levels")).toObject().keys(), (QStringList { "1", "2", "3", "4" }));
        QCOMPARE(levels.value(QStringLiteral("levels")).toObject().value(QStringLiteral("1")).toArray().size(), 2);
        QVERIFY(levels.value(QStringLiteral("freeGigabytes")).toObject().value(QStringLiteral("4")).isDouble());
    }

    void sixthStreamRefused()
    {
        std::vector<std::unique_ptr<EventStream>> streams;
        for (int i = 0; i < 5; ++i) {
            streams.push_back(std::make_unique<EventStream>());
            QVERIFY(streams.back()->open(port));
            QCOMPARE(streams.back()->status(), 200);
        }
        QTRY_COMPARE(server->worker()->streamCount(), 5);
        EventStream sixth;
        QVERIFY(sixth.open(port));
        QCOMPARE(sixth.status(), 503);
        QVERIFY(sixth.head().contains("Access-Control-Allow-Origin: *\r\n"));
        QVERIFY(sixth.head().contains("Content-Length: 0\r\n"));
        QCOMPARE(server->worker()->streamCount(), 5);
        // Commands still get through while five streams hold their threads.
        QCOMPARE(api("?command=listen_off"), success());

        streams.front()->socket.abort();
        QTRY_COMPARE(server->worker()->streamCount(), 4);
        QTRY_COMPARE(server->worker()->queueCount(), 4);
        EventStream again;
        QVERIFY(again.open(port));
        QCOMPARE(again.status(), 200);
        QCOMPARE(again.waitForEvents(2).size(), 2);
    }

    void portChangesWithOpenStreams()
    {
        for (int round = 0; round < 8; ++round) {
            std::vector<std::unique_ptr<EventStream>> streams;
            for (int i = 0; i < 3; ++i) {
                streams.push_back(std::make_unique<EventStream>());
                QVERIFY(streams.back()->open(port));
            }
            QTRY_COMPARE(server->worker()->streamCount(), 3);
            const quint16 next = TestEnv::freePort();
            QElapsedTimer clock;
            clock.start();
            fixture->settings()->setHttpServerPort(next);
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(server->isRunning());
            QVERIFY(!server->worker()->isStopping());
            QCOMPARE(server->worker()->streamCount(), 0);
            QCOMPARE(server->worker()->queueCount(), 0);
            for (const auto& stream : streams)
                QTRY_VERIFY(stream->ended());
            port = next;
            QTRY_COMPARE(request(port, "GET", "/api?command=listen_off").status, 200);
        }
        EventStream stream;
        QVERIFY(stream.open(port));
        QCOMPARE(stream.status(), 200);
    }

    // A port change while requests are waiting for this thread: the change completes and no
    // request is left hanging.
    void portChangeWithRequestsInFlight()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 8; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket->waitForConnected(5000));
            socket->write("GET /api?command=status HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            socket->flush();
            clients.push_back(std::move(socket));
        }
        // Give the request threads time to reach their hand-off to this thread, which runs no
        // event loop until the port change: the change itself must serve or release them.
        QThread::msleep(300);
        const quint16 next = TestEnv::freePort();
        QElapsedTimer clock;
        clock.start();
        fixture->settings()->setHttpServerPort(next);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        for (const auto& socket : clients)
            QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
        port = next;
        QTRY_COMPARE(request(port, "GET", "/api?command=listen_off").status, 200);
    }

    void portChangeWhileDisabledStaysStopped()
    {
        fixture->settings()->setHttpServerEnabled(false);
        QTRY_VERIFY(!server->worker()->isRunning());
        const quint16 next = TestEnv::freePort();
        fixture->settings()->setHttpServerPort(next);
        QVERIFY(!server->worker()->isRunning());
        QCOMPARE(request(next, "GET", "/api?command=status").status, 0);
        fixture->settings()->setHttpServerEnabled(true);
        QVERIFY(server->isRunning());
        port = next;
        QTRY_COMPARE(request(port, "GET", "/api?command=listen_off").status, 200);
    }

    void enableRightAfterDisable()
    {
        fixture->settings()->setHttpServerEnabled(false);
        fixture->settings()->setHttpServerEnabled(true);
        QVERIFY(server->isRunning());
        QTRY_COMPARE(request(port, "GET", "/api?command=listen_off").status, 200);
    }

    void listensWhereTold() { checkListeningAddress(fixture->settings(), port); }

    // Also against a listener that offers to share its port, as a second recorder would.
    void portInUseIsLogged()
    {
        const int squatter = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(squatter, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(squatter, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        socklen_t size = sizeof address;
        QCOMPARE(::bind(squatter, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(squatter, 4), 0);
        QCOMPARE(::getsockname(squatter, reinterpret_cast<sockaddr*>(&address), &size), 0);
        const quint16 taken = ntohs(address.sin_port);
        LogCapture::clear();
        fixture->settings()->setHttpServerPort(taken);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("Unable to start HTTP panel on port %1").arg(taken)));
        QTRY_VERIFY(!server->worker()->isRunning());
        QVERIFY(!LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(taken)));
        ::close(squatter);
        // The next port change brings it back.
        port = TestEnv::freePort();
        fixture->settings()->setHttpServerPort(port);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(port)));
        QCOMPARE(api("?command=listen_off"), success());
    }

    // Clients trickling their headers a byte at a time hold no thread that others need, and are
    // closed when their time is up.
    void slowClientsHoldNothing()
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        int connected = 0;
        for (int i = 0; i < 50; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket* socket = slow.back().get();
            connect(socket, &QTcpSocket::connected, this, [socket, &connected] {
                ++connected;
                socket->write("G");
            });
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&slow] {
            for (const auto& socket : slow)
                socket->write("E");
        });
        trickle.start(300);
        QTRY_COMPARE(connected, 50);
        QTest::qWait(1000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(api("?command=status").contains("\"slots\""));
        qInfo("status answered in %lld ms beside 50 trickling clients", clock.elapsed());
        // Queued behind the slow ones it would wait for their time-outs, seconds.
        QVERIFY2(clock.elapsed() < 1500, "a request waited for slow clients");
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(slow.begin(), slow.end(),
                                     [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; }),
            6000);
    }

    // Streams whose clients take nothing are ended, so their places come free; and a stop waits
    // for none of them.
    void deadStreamsAreEnded()
    {
        std::vector<std::unique_ptr<DeadStream>> dead;
        for (int i = 0; i < 5; ++i) {
            dead.push_back(std::make_unique<DeadStream>(port));
            QVERIFY(dead.back()->fd >= 0);
        }
        QTRY_COMPARE(server->worker()->streamCount(), 5);
        // Enough to fill what the clients' small buffers hold.
        for (int i = 0; i < 8; ++i)
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'a' + char(i))), success());
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(server->worker()->streamCount(), 0, 15000);
        qInfo("five dead streams ended %lld ms after their buffers filled", clock.elapsed());
        EventStream sixth;
        QVERIFY(sixth.open(port));
        QCOMPARE(sixth.status(), 200);

        dead.push_back(std::make_unique<DeadStream>(port));
        QTRY_COMPARE(server->worker()->streamCount(), 2);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'k')), success());
        clock.restart();
        const quint16 next = TestEnv::freePort();
        fixture->settings()->setHttpServerPort(next);
        qInfo("port change with a stream that does not read took %lld ms", clock.elapsed());
        QVERIFY2(clock.elapsed() < 2000, "a stop waited for a client");
    }

    void snapshotRefusals_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addRow("no slot") << QByteArray("") << 400 << failure("Slot id invalid");
        QTest::addRow("slot 0") << QByteArray("?slot=0") << 400 << failure("Slot id invalid");
        QTest::addRow("past the last slot") << QByteArray("?slot=99") << 400 << failure("Slot id invalid");
        QTest::addRow("not a number") << QByteArray("?slot=1x") << 400 << failure("Slot id invalid");
        QTest::addRow("unbound") << QByteArray("?slot=2") << 404 << failure("No picture");
        QTest::addRow("bound, no picture yet") << QByteArray("?slot=1") << 404 << failure("No picture");
    }

    void snapshotRefusals()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        fixture->bind(1, QStringLiteral("A"));
        const HttpAnswer answer = request(port, "GET", "/api/snapshot" + query);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.body, body);
    }

    void accessKey_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addRow("no key") << QByteArray("/api?command=listen_off") << QByteArray() << 401
                                << failure("Access key required");
        QTest::addRow("wrong key") << QByteArray("/api?command=listen_off&key=nope") << QByteArray() << 401
                                   << failure("Access key wrong");
        QTest::addRow("key parameter") << QByteArray("/api?command=listen_off&key=s%3Acret") << QByteArray() << 200
                                       << success();
        QTest::addRow("bearer header") << QByteArray("/api?command=listen_off")
                                       << QByteArray("Authorization: Bearer s:cret\r\n") << 200 << success();
        QTest::addRow("events without key") << QByteArray("/api/events") << QByteArray() << 401
                                            << failure("Access key required");
        QTest::addRow("the panel itself is open") << QByteArray("/index.html") << QByteArray() << 200
                                                  << fileBytes(TestEnv::binDir() + QStringLiteral("/panel/index.html"));
    }

    void accessKey()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        fixture->settings()->setServerAccessKey(QStringLiteral("s:cret"));
        const HttpAnswer answer = request(port, "GET", target, headers);
        fixture->settings()->setServerAccessKey(QString());
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.body, body);
    }

    void staleQueuesStayBounded()
    {
        EventStream stream;
        QVERIFY(stream.open(port));
        QTRY_COMPARE(server->worker()->queueCount(), 1);
        // Disabling does not wait; the stream ends while the flag is up and leaves its queue.
        fixture->settings()->setHttpServerEnabled(false);
        QTRY_VERIFY(stream.ended());
        for (int i = 0; i < 5000; ++i)
            fixture->slot(1)->setTallyState(i % 3);
        QVERIFY(server->worker()->queuedMessageCount() <= HttpServerWorkerThread::maxQueuedMessages);
        fixture->settings()->setHttpServerEnabled(true);
        QCOMPARE(server->worker()->queueCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
