#include "app/settingsmodel.h"
#include "audio/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "recording/ndirecorder.h"
#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"
#include "remote/tcpapiserver.h"
#include "remote/tcpprotocol.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"
#include "tests/common/controlclient.h"
#include "tests/common/logcapture.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

enum Op { Start, Stop, Connect, Disconnect, Rename, Listen, ListenOff };
// One command on slots set up as told (bound ones show "HOST (Cam n)", busy ones record), its
// result, and which slots are busy and whether record-all is on afterwards.
struct Row {
    Op op;
    uint slot;
    QString arg, result;
    QList<int> bound, busyBefore;
    bool allBefore;
    QList<int> busyAfter;
    bool allAfter;
    int viewingOnly;
};

bool reaches(quint16 port, const char* address = "127.0.0.1")
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QString::fromLatin1(address)), port);
    return socket.waitForConnected(2000);
}

// A listener that offers to share its port, as a second recorder would.
int squat(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in address { AF_INET, 0, {}, {} };
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

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
        static const QRegularExpression beat(R"re(^(ping|.*"event":"(levels|progress|state)"))re");
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

Q_DECLARE_METATYPE(Row)

// The command layer and both servers over real sockets on 127.0.0.1, with two special slots ahead
// of three grid slots, as start-up makes them, so that slot ids and slot numbers agree. Slot
// numbers count per process, so the slots are made once and reset between test functions.
class TestServers : public QObject
{
    Q_OBJECT

    std::unique_ptr<SourcesModel> sources;
    std::unique_ptr<SlotListModel> model;
    std::unique_ptr<SlotListRecorder> recorder;
    std::unique_ptr<SlotListAudioHelper> audio;
    std::unique_ptr<TcpApiServer> tcp;
    std::unique_ptr<HttpServer> http;
    quint16 tcpPort = 0, httpPort = 0;

    SettingsModel* settings() const { return SettingsModel::instance(); }
    Slot* slot(int id) const { return model->allSlots().at(id - 1); }
    void bind(int id, const QString& source) { QCOMPARE(slot(id)->connectSource(source), QStringLiteral("success")); }

    // Both protocols are served, so an IPv4 peer may show in its mapped IPv6 form.
    static bool logged(const char* p) { return LogCapture::matches(p + QStringLiteral("(::ffff:)?127\\.0\\.0\\.1")); }
    static bool answers(E2E::ControlClient& c) { return c.command("<listen_off uid='x'/>") == "<succes uid=\"x\" />"; }
    static QByteArray ok(const char* uid = "") { return QByteArray("<succes uid=\"") + uid + "\" />\r\n"; }

    // The body of a good answer; the routes test checks its headers.
    QByteArray api(const QByteArray& query)
    {
        QByteArray body;
        const int status = E2E::httpGet(httpPort, "/api" + query, &body);
        return status == 200 ? body : "status " + QByteArray::number(status);
    }
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
    void initTestCase()
    {
        LogCapture::install();
        NdiSim::use(); // an empty network
        // A recording program that accepts every command and never reports: a started slot stays
        // waiting until it is stopped, whatever the timing of the test.
        const QString folder = TestEnv::makeFolder(QStringLiteral("silent-recorder"));
        QFile program(folder + QStringLiteral("/NewTek NDI Record.exe"));
        if (program.open(QIODevice::WriteOnly) && program.write("#!/bin/sh\nexec cat >/dev/null\n") > 0)
            program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        NDIRecorder::setProgramFolder(folder);
        // Real folders with room: a slot stops a recording whose drive it cannot measure.
        settings()->setLocation(TestEnv::makeFolder(QStringLiteral("videos-a")));
        settings()->setLocationB(TestEnv::makeFolder(QStringLiteral("videos-b")));
        sources = std::make_unique<SourcesModel>();
        Slot::setSourcesModel(sources.get());
        model = std::make_unique<SlotListModel>();
        model->setExtra1(new Slot()), model->setExtra2(new Slot());
        for (int i = 0; i < 3; ++i)
            model->append(new Slot());
        recorder = std::make_unique<SlotListRecorder>(model.get());
        audio = std::make_unique<SlotListAudioHelper>(model.get());
    }
    void init()
    {
        audio->stopListening();
        for (Slot* slot : model->allSlots()) {
            slot->stopRecording(Slot::User); // refused where nothing records
            slot->setViewingOnly(false);
            slot->disconnectSource();
            slot->setTallyState(0);
            slot->setDisplayName(QString());
        }
        recorder->setIsRecordingAll(false);
        settings()->setServerAccessKey(QString());
        settings()->setTcpServerEnabled(true);
        settings()->setTcpServerPort(tcpPort = TestEnv::freePort());
        settings()->setHttpServerEnabled(false);
        tcp = std::make_unique<TcpApiServer>(model.get(), audio.get(), recorder.get(), sources.get(), settings());
        http = std::make_unique<HttpServer>(model.get(), audio.get(), recorder.get(), sources.get(), settings());
        QVERIFY(http->routes().setPanelPath(QDir(TestEnv::binDir()).filePath(QStringLiteral("panel"))));
        LogCapture::clear();
        settings()->setHttpServerPort(httpPort = TestEnv::freePort());
        settings()->setHttpServerEnabled(true);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("HTTP panel listening on port %1").arg(httpPort)));
    }
    void cleanup() { tcp.reset(), http.reset(); }

    // Every outcome of the commands both servers pass on, through the command layer they share.
    void commands_data()
    {
        QTest::addColumn<Row>("row");
        const QString ok = "success", invalid = "Slot id invalid";
        const auto row = [](const char* name, const Row& r) { QTest::newRow(name) << r; };
        row("start a bound slot", { Start, 3, {}, ok, { 3 }, {}, false, { 3 }, false, 0 });
        row("start an unbound slot", { Start, 4, {}, "Slot not connected to any source", {}, {}, false, {}, false, 0 });
        row("start a recording slot", { Start, 3, {}, "Already recording", { 3 }, { 3 }, false, { 3 }, false, 0 });
        row("start a viewing-only slot", { Start, 2, {}, "Slot set to viewing only", { 2 }, {}, false, {}, false, 2 });
        row("slot 0 starts all bound, viewing-only skipped",
            { Start, 0, {}, ok, { 2, 4, 5 }, {}, false, { 2, 5 }, true, 4 });
        row("record-all with nothing bound", { Start, 0, {}, ok, {}, {}, false, {}, true, 0 });
        row("record-all twice", { Start, 0, {}, "Already recording", { 2 }, {}, true, {}, true, 0 });
        row("start past the end", { Start, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("start the largest id", { Start, 4294967295u, {}, invalid, {}, {}, false, {}, false, 0 });
        row("stop a recording slot", { Stop, 1, {}, ok, { 1, 2 }, { 1, 2 }, false, { 2 }, false, 0 });
        row("stop an idle slot", { Stop, 1, {}, "Slot is not recording", { 1 }, {}, false, {}, false, 0 });
        row("stop-all while off", { Stop, 0, {}, "Not recording", { 1 }, { 1 }, false, { 1 }, false, 0 });
        row("stop-all", { Stop, 0, {}, ok, { 1, 3 }, { 1, 3 }, true, {}, false, 0 });
        row("one slot stopped leaves record-all on", { Stop, 3, {}, ok, { 3 }, { 3 }, true, {}, true, 0 });
        row("stop past the end", { Stop, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("connect", { Connect, 2, "HOST (X)", ok, {}, {}, false, {}, false, 0 });
        row("connect slot 0", { Connect, 0, "HOST (X)", invalid, {}, {}, false, {}, false, 0 });
        row("connect blanks", { Connect, 2, "  ", "Source name missing", { 2 }, {}, false, {}, false, 0 });
        row("disconnect", { Disconnect, 2, {}, ok, { 2, 3 }, {}, false, {}, false, 0 });
        row("disconnect past the end", { Disconnect, 6, {}, invalid, { 5 }, {}, false, {}, false, 0 });
        row("rename special slot 1", { Rename, 1, "Cam \"1\"", ok, {}, {}, false, {}, false, 0 });
        row("rename the last slot", { Rename, 5, "Last", ok, {}, {}, false, {}, false, 0 });
        row("rename past the end", { Rename, 6, "x", invalid, {}, {}, false, {}, false, 0 });
        row("listen", { Listen, 4, {}, ok, {}, {}, false, {}, false, 0 });
        row("listen past the end", { Listen, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("listen off", { ListenOff, 0, {}, ok, {}, {}, false, {}, false, 0 });
    }
    void commands()
    {
        QFETCH(Row, row);
        const auto source = [&](int id) {
            return row.bound.contains(id) ? QStringLiteral("HOST (Cam %1)").arg(id) : QStringLiteral("none");
        };
        for (const int id : row.bound)
            bind(id, source(id));
        for (const int id : row.busyBefore)
            slot(id)->recordingStarted(); // as the program confirms
        QCOMPARE(recorder->anyBusy(), !row.busyBefore.isEmpty()); // what refuses the window's close
        if (row.viewingOnly)
            slot(row.viewingOnly)->setViewingOnly(true);
        recorder->setIsRecordingAll(row.allBefore);
        if (row.op == ListenOff)
            audio->startListening(slot(3));
        const QString result = row.op == Start ? tcp->commands().recordingStart(row.slot)
            : row.op == Stop                   ? tcp->commands().recordingStop(row.slot)
            : row.op == Connect                ? tcp->commands().connectSource(row.slot, row.arg)
            : row.op == Disconnect             ? tcp->commands().disconnectSource(row.slot)
            : row.op == Rename                 ? tcp->commands().renameSlot(row.slot, row.arg)
            : row.op == Listen                 ? tcp->commands().listenOn(row.slot)
                                               : tcp->commands().listenOff();
        QCOMPARE(result, row.result);
        QCOMPARE(recorder->isRecordingAll(), row.allAfter);
        QCOMPARE(recorder->anyBusy(), !row.busyAfter.isEmpty()); // a slot waiting to start counts too
        for (Slot* s : model->allSlots()) {
            const int id = s->index0();
            const auto done = [&](Op op) { return row.op == op && uint(id) == row.slot && result == "success"; };
            QCOMPARE(s->isRecording() || s->isWaiting(), row.busyAfter.contains(id));
            QCOMPARE(s->connectedSource(), done(Connect) ? row.arg : done(Disconnect) ? "none" : source(id));
            QCOMPARE(s->displayName(), done(Rename) ? row.arg : QString());
            QCOMPARE(s->isListening(), done(Listen));
        }
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
        row("GET /api?command=progress&slot=6", 200, "text/plain", failure("Slot id invalid"));
        row("GET /api?command=recordings", 200, "text/plain", "{\n    \"recordings\": [\n    ]\n}\n");
        for (const char* bad : { "", "?slot=0", "?slot=99", "?slot=1x" })
            row("GET /api/snapshot" + QByteArray(bad), 400, "text/plain", failure("Slot id invalid"));
        row("GET /api/snapshot?slot=2", 404, "text/plain", failure("No picture")); // unbound
        row("GET /api/snapshot?slot=1", 404, "text/plain", failure("No picture")); // bound, no picture yet
        for (const char* keyless : { "/api?command=listen_off", "/api/events", "/api/snapshot?slot=1", "/metrics" })
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
        bind(1, QStringLiteral("A"));
        settings()->setServerAccessKey(keyed ? QStringLiteral("s:cret") : QString());
        QByteArray head, body;
        QTEST(E2E::httpRequest(httpPort, request, &head, &body), "status");
        QVERIFY2(type.isEmpty() || head.contains("Content-Type: " + type + "\r\n"), head.constData());
        QVERIFY(head.contains("Access-Control-Allow-Origin: *") || type != "text/plain");
        QTEST(body, "body");
    }

    void streamStartsWithStateThenEventsInOrderAndPings()
    {
        bind(2, QStringLiteral("HOST (B)"));
        slot(2)->setTallyState(1);
        EventStream stream;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(stream.open(httpPort));
        QCOMPARE(stream.status(), 200);
        for (const char* header : { "Content-Type: text/event-stream\r\n", "Access-Control-Allow-Origin: *\r\n",
                 "Transfer-Encoding: chunked\r\n" })
            QVERIFY2(stream.raw.contains(header), header);
        QTRY_COMPARE(stream.events().size(), 2);
        QVERIFY(stream.events().at(0).startsWith("{\"event\":\"status\",\"recording_all\":\"0\",\"slots\":{\"1\":{"));
        QVERIFY(stream.events().at(0).contains("\"2\":{\"displayName\":\"\",\"id\":\"2\",\"recording\":\"ready\","
                                               "\"source\":\"HOST (B)\",\"tally\":1}"));
        QVERIFY(stream.events().at(1).startsWith("{\"event\":\"sources\",\"sources\":["));
        slot(2)->setTallyState(2);
        QCOMPARE(E2E::httpRequest(httpPort, "HEAD /api?command=recording_start&slot=2"), 200);
        slot(2)->recordingStarted();
        // Parameters are decoded, the first of a name counts.
        for (const char* query : { "recording_stop&slot=2", "rename&slot=2&name=K%C3%A4m+%26+%22x%22&name=no",
                 "rename&slot=2&name=K%C3%A4m+%26+%22x%22", "disconnect&slot=2", "listen&slot=4&slot=3",
                 "recording_start" })
            QCOMPARE(api(QByteArray("?command=") + query), success);
        sources->sourceAdded(QStringLiteral("HOST (New)"));
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
        QVERIFY(slot(4)->isListening());
        // About ten pings a second; levels twice a second, every slot with its meters and free space.
        QTRY_VERIFY_WITH_TIMEOUT(stream.events(true).count("ping") >= 5, 5000);
        QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(QRegularExpression(R"re(data: {"event":"levels","freeGigabytes":{("[1-5]":[-\d.e+]+,?){5}},)re"
                                       R"re("levels":{("[1-5]":\[[-\d.e+]+,[-\d.e+]+\],?){5}}})re")
                        .match(QString::fromLatin1(stream.raw))
                        .hasMatch());
    }

    // Five streams at most. One whose client takes nothing is ended, so its place comes free; a
    // stop waits for none.
    void streamLimitAndDeadStreams()
    {
        std::vector<int> dead;
        for (int i = 0; i < 5; ++i)
            dead.push_back(deadStream(httpPort));
        QVERIFY(std::count(dead.begin(), dead.end(), -1) == 0);
        QTRY_COMPARE(http->routes().streamCount(), 5);
        EventStream sixth;
        QVERIFY(sixth.open(httpPort));
        QCOMPARE(sixth.status(), 503);
        QCOMPARE(api("?command=listen_off"), success);
        for (int i = 0; i < 8; ++i) // enough to fill what the small buffers hold
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'a' + char(i))), success);
        QTRY_COMPARE_WITH_TIMEOUT(http->routes().streamCount(), 0, 15000);
        QTRY_COMPARE(http->routes().queueCount(), 0);
        EventStream again;
        QVERIFY(again.open(httpPort));
        QCOMPARE(again.status(), 200);
        dead.push_back(deadStream(httpPort));
        QTRY_COMPARE(http->routes().streamCount(), 2);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(api("?command=rename&slot=1&name=" + QByteArray(2000, 'k' + char(i))), success);
        QElapsedTimer clock;
        clock.start();
        settings()->setHttpServerPort(TestEnv::freePort());
        QVERIFY2(clock.elapsed() < 2000, "a stop waited for a client");
        for (const int fd : dead)
            ::close(fd);
    }

    // A stream ended while stopping leaves its queue: events meanwhile must not pile up in it. A
    // server that starts without its panel still answers the API.
    void stopLeavesNoQueueAndApiWithoutPanel()
    {
        EventStream stream;
        QVERIFY(stream.open(httpPort));
        QTRY_COMPARE(http->routes().queueCount(), 1);
        settings()->setHttpServerEnabled(false);
        QTRY_COMPARE(stream.socket.state(), QAbstractSocket::UnconnectedState);
        for (int i = 0; i < 5000; ++i)
            slot(1)->setTallyState(i % 3);
        QVERIFY(http->routes().queuedMessageCount() <= EventStreams::maxQueuedMessages);
        QTRY_VERIFY(!http->worker()->isRunning());
        QVERIFY(!http->routes().setPanelPath(TestEnv::root() + QStringLiteral("/no-panel-here")));
        QVERIFY(LogCapture::contains(QStringLiteral("Missing panel path")));
        settings()->setHttpServerEnabled(true);
        QCOMPARE(http->routes().queueCount(), 0);
        QTRY_COMPARE(api("?command=listen_off"), success);
        QCOMPARE(E2E::httpGet(httpPort, "/index.html"), 404);
    }

    // Lines are framed by their ends, malformed ones dropped; an over-long line, complete or not, ends
    // its sender's connection alone; a client leaving mid-line leaves nothing run.
    void framing()
    {
        bind(2, QStringLiteral("HOST (A)"));
        E2E::ControlClient c;
        QVERIFY(c.connectTo(tcpPort));
        QTRY_VERIFY(logged("Accepted API connection from "));
        c.send("<listen slot='1' uid='one'/>\n<listen_off uid='two'/>\r\n");
        QCOMPARE(c.rawLines(2), ok("one") + ok("two"));
        c.send("<listen_off uid='first'/>\n<recording_start slot='2'");
        QCOMPARE(c.rawLines(), ok("first"));
        QVERIFY(!slot(2)->isWaiting());
        c.send(" uid='second'/>\n");
        QCOMPARE(c.rawLines(), ok("second"));
        QVERIFY(slot(2)->isWaiting());
        c.send("<<<>>>\n<listen slot=>\nplain words\n</listen>\n<listen slot='1'\n<listen_off uid='after'/>\n");
        QCOMPARE(c.rawLines(), ok("after")); // in order: nothing came for the lines before it
        const QByteArray head = "<listen_off uid='", tail = "'/>";
        c.send(head + QByteArray(TcpProtocol::maxLineLength - head.size() - tail.size(), 'u') + tail + "\r\n");
        QVERIFY(c.rawLines().startsWith("<succes uid=\"uuu")); // the longest line allowed
        for (const QByteArray& bytes : { QByteArray(TcpProtocol::maxLineLength + 4096, 'a'),
                 head + QByteArray(TcpProtocol::maxLineLength, 'u') + tail + "\n" }) {
            E2E::ControlClient flooder;
            QVERIFY(flooder.connectTo(tcpPort));
            flooder.send(bytes);
            QTRY_COMPARE(flooder.socket.state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(flooder.socket.bytesAvailable(), 0);
            QVERIFY(logged("Dropped an over-long API line .* from "));
            QTRY_COMPARE(tcp->clientCount(), 1);
        }
        QVERIFY(answers(c));
        slot(2)->stopRecording(Slot::User);
        c.send("<recording_start slot='2'");
        c.socket.disconnectFromHost();
        QTRY_COMPARE(tcp->clientCount(), 0);
        QVERIFY(logged("Closed API connection with "));
        QVERIFY(!slot(2)->isWaiting());
    }

    // Events reach subscribers alone, before the reply they cause; a key is asked for before anything
    // else and again when it changes; a subscriber that stops reading is dropped, others unaffected.
    void sessions()
    {
        E2E::ControlClient subscriber, other;
        QVERIFY(subscriber.connectTo(tcpPort) && other.connectTo(tcpPort));
        subscriber.send("<tally_subscribe/>\n<recording_subscribe/>\n");
        QCOMPARE(subscriber.rawLines(2), ok() + ok());
        slot(3)->setTallyState(2);
        slot(2)->recordingStarted();
        subscriber.send("<recording_stop slot='2'/>\n<tally_unsubscribe/>\n");
        QCOMPARE(subscriber.rawLines(5),
            "<tally slot=\"3\" state=\"2\" />\r\n<recording slot=\"2\" state=\"1\" />\r\n"
            "<recording slot=\"2\" state=\"0\" />\r\n"
                + ok() + ok());
        slot(3)->setTallyState(1);
        QVERIFY(answers(other) && answers(subscriber));

        settings()->setServerAccessKey(QStringLiteral("s:cret"));
        const QByteArray required = "<failure reason=\"Access key required\" uid=\"\" />\r\n";
        other.send("<listen slot='1'/>\n<auth key='nope'/>\n");
        QCOMPARE(other.rawLines(2), required + "<failure reason=\"Access key wrong\" uid=\"\" />\r\n");
        QVERIFY(!slot(1)->isListening());
        other.send("<auth key='s:cret'/>\n<listen slot='1'/>\n");
        QCOMPARE(other.rawLines(2), ok() + ok());
        QVERIFY(slot(1)->isListening());
        settings()->setServerAccessKey(QString());

        QTcpSocket stalled;
        stalled.setReadBufferSize(64);
        stalled.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(stalled.waitForConnected(5000) && stalled.write("<tally_subscribe/>\n") > 0 && stalled.flush());
        QTRY_COMPARE(tcp->clientCount(), 3);
        QTest::qWait(100);
        for (int round = 0; round < 300 && tcp->clientCount() == 3; ++round) {
            for (int i = 0; i < 20000; ++i)
                slot(1)->setTallyState(i % 3);
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(tcp->clientCount(), 2);
        QVERIFY(logged("Dropped API connection with .*") && LogCapture::matches("it does not read its replies$"));
        QVERIFY(answers(other));
        settings()->setServerAccessKey(QStringLiteral("other"));
        QCOMPARE(other.command("<listen_off/>") + "\r\n", required);
    }

    // 64 clients are served; more are refused with a reason and closed, which is logged once (and
    // how many more when a place comes free).
    void clientLimit()
    {
        std::vector<std::unique_ptr<E2E::ControlClient>> clients(64);
        for (auto& c : clients)
            QVERIFY((c = std::make_unique<E2E::ControlClient>())->connectTo(tcpPort));
        for (int i = 0; i < 3; ++i) {
            E2E::ControlClient refused;
            refused.socket.connectToHost(QHostAddress::LocalHost, tcpPort);
            QCOMPARE(refused.nextLine(), QByteArray("<failure reason=\"Too many connections\" uid=\"\" />"));
            QTRY_COMPARE(refused.socket.state(), QAbstractSocket::UnconnectedState);
        }
        QVERIFY(answers(*clients.front()) && answers(*clients.back()));
        QCOMPARE(LogCapture::peek().filter("Refused API connection from").size(), 1);
        clients.front()->socket.abort();
        QTRY_VERIFY(LogCapture::contains("Refused 2 more API connections while 64 clients were connected"));
        QVERIFY(clients.front()->connectTo(tcpPort) && answers(*clients.front()));
    }

    // Wrong keys are logged; the tenth within a minute from one address, and what that client
    // sends after it, is answered a second late and in order, on both servers.
    void guessedKeysAreAnsweredLate()
    {
        settings()->setServerAccessKey(QStringLiteral("s:cret"));
        E2E::ControlClient c;
        QVERIFY(c.connectTo(tcpPort));
        const QByteArray wrong = "<failure reason=\"Access key wrong\" uid=\"\" />\r\n";
        for (int i = 0; i < 9; ++i)
            QVERIFY(c.command("<auth key='guess'/>") + "\r\n" == wrong && E2E::httpGet(httpPort, "/api?key=x") == 401);
        QElapsedTimer clock;
        clock.start();
        c.send("<auth key='guess'/>\n<listen_off uid='next'/>\n");
        QCOMPARE(c.rawLines(2), wrong + "<failure reason=\"Access key required\" uid=\"next\" />\r\n");
        const qint64 tcpLate = clock.restart();
        QVERIFY(E2E::httpGet(httpPort, "/api?key=x") == 401 && tcpLate >= 900 && clock.elapsed() >= 900);
        QVERIFY(logged("TCP API: wrong access key from ") && logged("HTTP panel: wrong access key from "));
        QCOMPARE(c.command("<auth key='s:cret'/>"), ok().trimmed()); // the right key still lets it in
    }

    void lifecycle_data()
    {
        QTest::addColumn<bool>("isHttp");
        QTest::newRow("TCP") << false;
        QTest::newRow("HTTP") << true;
    }

    // Port and enable changes and where the server listens; after each step it listens on `port` alone.
    void lifecycle()
    {
        QFETCH(bool, isHttp);
        SettingsModel* s = settings();
        const auto enable = isHttp ? &SettingsModel::setHttpServerEnabled : &SettingsModel::setTcpServerEnabled;
        const auto setPort = isHttp ? &SettingsModel::setHttpServerPort : &SettingsModel::setTcpServerPort;
        const QString name = isHttp ? "HTTP panel" : "TCP API";
        quint16& port = isHttp ? httpPort : tcpPort;
        const auto logged
            = [&](quint16 p) { return LogCapture::contains(name + " listening on port " + QString::number(p)); };
        const auto step = [&](const std::function<void(quint16)>& act, bool newPort = true) {
            const quint16 old = port;
            port = newPort ? TestEnv::freePort() : port;
            LogCapture::clear();
            act(old);
            QTRY_VERIFY(logged(port));
            QTRY_VERIFY(reaches(port));
            QTRY_VERIFY(old == port || !reaches(old));
        };
        step([&](quint16) { (s->*setPort)(port); });
        step([&](quint16 old) {
            (s->*enable)(false);
            QTRY_VERIFY(!reaches(old));
            (s->*setPort)(port);
            QTest::qWait(200);
            QVERIFY2(!reaches(port), "a port change opened a disabled server");
            (s->*enable)(true);
        });
        step([&](quint16) { (s->*enable)(false), (s->*enable)(true); }, false);
        step([&](quint16) {
            quint16 taken = 0;
            const int squatter = squat(&taken);
            (s->*setPort)(taken);
            QTRY_VERIFY(LogCapture::contains(QStringLiteral("Unable to start %1 on port %2").arg(name).arg(taken)));
            QVERIFY(!logged(taken));
            ::close(squatter);
            (s->*setPort)(port); // after a port in use, the next change brings it back
        });
        // On every interface (127.0.0.2 reaches it), or on this machine's 127.0.0.1 alone.
        for (const bool localOnly : { true, false }) {
            s->setServerLocalOnly(localOnly);
            QTRY_VERIFY(reaches(port));
            QTRY_COMPARE(reaches(port, "127.0.0.2"), !localOnly);
        }
    }
};

QTEST_GUILESS_MAIN(TestServers)
#include "tst_servers.moc"
