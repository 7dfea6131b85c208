#include "remote/httpjson.h"
#include "tests/remote/notingbackend.h"

#include <QJsonObject>
#include <QTest>
#include <QXmlStreamReader>

// The wire formats: the TCP line handler over a backend that notes its calls, and JSON events.
class TestWire : public QObject
{
    Q_OBJECT

    static QByteArray ok(const char* uid = "") { return QByteArray("<succes uid=\"") + uid + "\" />\r\n"; }
    static QByteArray no(const char* why, const char* uid = "")
    {
        return QByteArray("<failure reason=\"") + why + "\" uid=\"" + uid + "\" />\r\n";
    }

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("admitted");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("reply");
        const QString yes = QStringLiteral("success");
        const auto row = [](const QByteArray& line, const QString& answer, const QStringList& calls,
                             const QByteArray& reply, bool admitted = true) {
            QTest::newRow(line.constData()) << line << admitted << answer << calls << reply;
        };
        row("<recording_start slot='2' uid='a1'/>\n", yes, { "start 2" }, ok("a1"));
        row("<recording_stop slot=\"3\"/>\r\n", "Slot is not recording", { "stop 3" }, no("Slot is not recording"));
        row("<connect slot='1' source='A &amp; B &quot;1&quot;'/>", yes, { "connect 1 [A & B \"1\"]" }, ok());
        row("<connect slot='4'/>", yes, { "connect 4 []" }, ok());
        row("<disconnect slot='5' uid='d'/>", yes, { "disconnect 5" }, ok("d"));
        row("<listen slot='1'/>", yes, { "listen 1" }, ok());
        row("<tally_subscribe uid='t'><tally_unsubscribe/><recording_subscribe/><recording_unsubscribe/>"
            "<progress_subscribe/><progress_unsubscribe/></tally_subscribe>",
            "never used", { "tally 1", "tally 0", "recording 1", "recording 0", "progress 1", "progress 0" },
            ok("t") + ok() + ok() + ok() + ok() + ok());
        row("<rename slot='1' name='x'/>", yes, {}, no("Command unsupported"));
        row("<Recording_Start slot='1' uid='u'/>", yes, {}, no("Command unsupported", "u"));
        row("<recording_start slot='1'><recording_stop slot='2'/></recording_start>", yes, { "start 1", "stop 2" },
            ok() + ok());
        row("<recording_start slot='1'>\n", yes, { "start 1" }, ok());
        row("<listen slot='1'/><listen slot='2'/>", yes, { "listen 1" }, ok());
        row("<listen slot='3'/><<", yes, { "listen 3" }, ok());
        row("<?xml version='1.0'?><listen slot='2'/>", yes, { "listen 2" }, ok());
        row("<listen_off uid='a&quot; b=&quot;c'/>", yes, { "listen off" }, ok("a&quot; b=&quot;c"));
        row("<listen slot='4'/>", "a<b>&\"c\"", { "listen 4" }, no("a&lt;b&gt;&amp;&quot;c&quot;"));
        row("<recording_start slot='1' uid='r'/>", yes, {}, no("Access key required", "r"), false);
        row("<auth key='no' uid='a'><listen_off/></auth>", "Access key wrong", { "auth [no]" },
            no("Access key wrong", "a") + no("Access key required"), false);
        row("<auth key='k&amp;1'><listen_off/></auth>", yes, { "auth [k&1]", "listen off" }, ok() + ok(), false);
        const QByteArray all
            = "  <slot id=\"1\" recording=\"1\" source=\"HOST (Cam 1)\" tally=\"2\" />\r\n"
              "  <slot id=\"2\" recording=\"0\" source=\"Q &quot;A&amp;B&quot; &lt;x&gt;\" tally=\"0\" />\r\n";
        const QByteArray busy
            = "slot=\"1\" state=\"stalled\" elapsed=\"01:00:02\" elapsed_ms=\"3602000\" piece_frames=\"50\" "
              "total_frames=\"90050\" piece=\"2\" location=\"B\" delayed=\"1\" bytes=\"12345\" "
              "file=\"/v/A &amp; B.mov\" warning=\"Recording stalled\" ";
        const QByteArray idle
            = "slot=\"2\" state=\"idle\" elapsed=\"\" elapsed_ms=\"0\" piece_frames=\"0\" "
              "total_frames=\"0\" piece=\"0\" location=\"\" delayed=\"0\" bytes=\"0\" file=\"\" warning=\"\" ";
        row("<status slot='0' uid='z'/>", yes, {}, "<status uid=\"z\">\r\n" + all + "<status/>\r\n");
        row("<status slot='1' uid='q'/>", yes, {},
            "<slot id=\"1\" recording=\"1\" source=\"HOST (Cam 1)\" tally=\"2\" uid=\"q\" />\r\n");
        row("<status slot='3' uid='q'/>", yes, {}, no("Slot id invalid", "q"));
        row("<progress slot='1' uid='g'/>", yes, {}, "<progress " + busy + "uid=\"g\" />\r\n");
        row("<progress uid='all'/>", yes, {},
            "<progress uid=\"all\">\r\n  <progress " + busy + "/>\r\n  <progress " + idle + "/>\r\n<progress/>\r\n");
        row("<progress slot='0'/>", yes, {}, no("Slot id invalid"));
        row("<recordings uid='r'/>", yes, {},
            "<recordings uid=\"r\">\r\n  <record source=\"A &amp; B\" slot=\"3\" start=\"2026-12-07T10:00:00.000\" "
            "stop=\"\" frames=\"7500\" gap_frames=\"12\" pieces=\"2\" stop_reason=\"\" path=\"/v/r.json\" "
            "/>\r\n<recordings/>\r\n");
        // The state every surface shows, as the slot decided it.
        row("<state slot='1' uid='w'/>", yes, {},
            "<state slot=\"1\" word=\"stalled\" label=\"STALLED\" busy=\"1\" wall_ms=\"3605000\" "
            "recorded_ms=\"3602000\" dropped_frames=\"75\" dropping_percent=\"0\" warning=\"Recording stalled\" "
            "folder=\"/v\" location=\"B\" low_space=\"1\" uid=\"w\" />\r\n");
        row("<history slot='1' uid='h'/>", yes, {},
            "<history slot=\"1\" uid=\"h\">\r\n  <event time=\"2026-12-07T10:00:00.000\" text=\"Stalled &amp; x\""
            " />\r\n<history/>\r\n");
        row("<sources uid='s'/>", yes, {},
            "<sources uid=\"s\">\r\n  <source name=\"HOST (A)\" />\r\n  <source name=\"B &quot;2&quot; &amp; C\" />\r\n"
            "<sources/>\r\n");
    }

    void commands()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, admitted);
        QFETCH(QString, answer);
        NotingBackend backend;
        backend.isAdmitted = admitted, backend.answer = answer;
        backend.sources = { "HOST (A)", "B \"2\" & C" };
        backend.slotList = { { 1, true, false, "HOST (Cam 1)", "", 2, "stalled", 3602000, "01:00:02", 50, 90050,
                                 "/v/A & B.mov", 2, "B", 1, 12345, "Recording stalled" },
            { 2, false, false, "Q \"A&B\" <x>" } };
        SlotSnapshot& busy = backend.slotList.first();
        busy.stateWord = "stalled", busy.stateLabel = "STALLED", busy.busy = busy.lowSpace = true;
        busy.wallMs = 3605000, busy.droppedFrames = 75, busy.currentFolder = "/v";
        busy.history = { { QDateTime(QDate(2026, 12, 7), QTime(10, 0)), "Stalled & x" } };
        backend.records = { QJsonObject { { "source", "A & B" }, { "slot", 3 }, { "start", "2026-12-07T10:00:00.000" },
            { "frames", 7500.0 }, { "gapFrames", 12.0 }, { "pieces", QJsonArray { 1, 2 } },
            { "record", "/v/r.json" } } };
        TcpProtocol::handleLine(line, backend);
        QTEST(backend.calls, "calls");
        QTEST(backend.written, "reply");
    }

    void slotIds()
    {
        const struct {
            const char* text;
            uint id;
        } rows[] = { { "7", 7 }, { "007", 7 }, { " 3 ", 3 }, { "4294967295", 4294967295u }, { "", 0 }, { "-1", 0 },
            { "two", 0 }, { "4294967296", 0 }, { "1.5", 0 } };
        for (const auto& row : rows)
            QCOMPARE(TcpProtocol::slotId(QString::fromLatin1(row.text)), row.id);
    }

    void eventLines()
    {
        QCOMPARE(TcpProtocol::recordingAllEvent(true), QByteArray("<recording_all state=\"1\" />\r\n"));
        QCOMPARE(TcpProtocol::warningEvent(4, "Folder \"x\" & <y>"),
            QByteArray("<warning slot=\"4\" message=\"Folder &quot;x&quot; &amp; &lt;y&gt;\" />\r\n"));
        // Other control characters cannot appear in XML 1.0 at all.
        QCOMPARE(TcpProtocol::escaped(QStringLiteral("a\x01"
                                                     "b\x1f")),
            QStringLiteral("a\uFFFDb\uFFFD"));
        // Whatever a name holds, its line stays one well-formed line and reads back as the name.
        for (const char* text : { "say \"hi\"", "x\" tally=\"9", "</slot><slot id='9'>", "A&B &amp; &#10;",
                 "a\nb\r\nc\td", "Kamera \u00e9\u4e2d \U0001F3A5", "it's", "  two  blanks " }) {
            const QString name = QString::fromUtf8(text);
            const QByteArray line = TcpProtocol::slotLine(1, { 1, false, false, name }, name, false);
            QXmlStreamReader reader(line);
            QVERIFY2(line.endsWith("\r\n") && line.count('\n') == 1 && reader.readNextStartElement(), text);
            const auto attributes = reader.attributes();
            QCOMPARE(attributes.size(), 5);
            for (const char* key : { "source", "uid" })
                QCOMPARE(attributes.value(QLatin1String(key)).toString(), name);
            QVERIFY2(reader.readNext() && !reader.hasError(), qPrintable(reader.errorString()));
        }
    }

    // The JSON messages the event stream test does not see in full.
    void eventMessages_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QJsonObject& object, const char* json) {
            QTest::newRow(name) << object << QStringLiteral("data: %1\n\n").arg(QString::fromUtf8(json));
        };
        row("status while recording all",
            HttpJson::withEvent(HttpJson::statusObject(true, { { 1, false, true, "S", "", 1 } }), "status"),
            R"({"event":"status","recording_all":"1","slots":{"1":{"displayName":"","id":"1","recording":"waiting","source":"S","tally":1}}})");
        row("progress keeps large counts exact",
            HttpJson::progressEvent({ 2, true, false, "S", "", 0, "recording", 4040, "00:00:04", 1, 101, "/v/S.mov", 2,
                "A", 0, 5000000000 }),
            R"({"bytes":5000000000,"delayed":0,"elapsed":"00:00:04","elapsedMs":4040,"event":"progress","file":"/v/S.mov","id":"2","location":"A","piece":2,"pieceFrames":1,"state":"recording","totalFrames":101,"warning":""})");
        row("warning", HttpJson::warningEvent(3, "Recording stalled"),
            R"({"event":"warning","id":"3","message":"Recording stalled"})");
        SlotSnapshot dropping { 4, true };
        dropping.stateWord = "dropping", dropping.stateLabel = "DROPPING 12 %", dropping.wallMs = 9000;
        dropping.elapsedMs = 8000, dropping.droppedFrames = 25, dropping.droppingPercent = 12, dropping.location = "A";
        row("state", HttpJson::withEvent(HttpJson::stateObject(dropping), "state"),
            R"({"busy":false,"droppedFrames":25,"droppingPercent":12,"event":"state","folder":"","id":"4","label":"DROPPING 12 %","location":"A","lowSpace":false,"recordedMs":8000,"wallMs":9000,"warning":"","word":"dropping"})");
        row("levels", HttpJson::levelsEvent({ { 10, 20, 1.46 } }),
            R"({"event":"levels","freeGigabytes":{"1":1.5},"levels":{"1":[10,20]}})");
    }

    void eventMessages()
    {
        QFETCH(QJsonObject, object);
        QTEST(HttpJson::eventMessage(QJsonDocument(object)), "message");
    }
};

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
