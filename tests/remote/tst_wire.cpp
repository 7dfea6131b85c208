#include "remote/accesskeyattempts.h"
#include "remote/httpjson.h"
#include "remote/metricsexposition.h"
#include "tests/remote/notingbackend.h"

#include <QFile>
#include <QJsonObject>
#include <QTest>
#include <QXmlStreamReader>

namespace
{

SlotSnapshot slot(uint id, const char* word, const QString& source = QStringLiteral("none"))
{
    SlotSnapshot s;
    s.id = id, s.stateWord = QLatin1String(word), s.connectedSource = source;
    return s;
}

const MetricsExposition::Process process { QStringLiteral("1.2.3"), 1700000000123, 3, 2, 1 };

} // namespace

// The remote layer without sockets: the TCP line handler over a backend that notes its calls, the
// JSON events, the metrics exposition and the verdicts on access keys.
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

    // The exposition's lines for given slots: each named line exactly once, none starting as the
    // others (written with ' for ", to stay readable).
    void metricsLines_data()
    {
        QTest::addColumn<QList<SlotSnapshot>>("slotList");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        SlotSnapshot recording = slot(3, "recording", QStringLiteral("CAM (1)"));
        recording.busy = true, recording.elapsedMs = 1500, recording.wallMs = 2000, recording.totalFrames = 37,
        recording.droppedFrames = 2, recording.bytesWritten = 123456789, recording.droppingPercent = 12,
        recording.framesWrittenTotal = 90000, recording.droppedFramesTotal = 12, recording.delayedTotal = 7,
        recording.stallsTotal = 2, recording.recoveriesTotal = 1;
        QTest::addRow("a recording slot, its counters and the process")
            << QList<SlotSnapshot> { recording }
            << QStringList({ "stavelin_slot_state{slot='3',source='CAM (1)',state='recording'} 1",
                   "stavelin_slot_state{slot='3',source='CAM (1)',state='ready'} 0", "stavelin_slot_busy{slot='3'} 1",
                   "stavelin_slot_recorded_seconds{slot='3'} 1.5", "stavelin_slot_wall_seconds{slot='3'} 2",
                   "stavelin_slot_recording_frames_written{slot='3'} 37",
                   "stavelin_slot_recording_frames_dropped{slot='3'} 2",
                   "stavelin_slot_piece_written_bytes{slot='3'} 123456789", "stavelin_build_info{version='1.2.3'} 1",
                   "stavelin_start_time_seconds 1700000000.123", "stavelin_recording_programs 3",
                   "stavelin_control_clients{kind='tcp'} 2", "stavelin_control_clients{kind='events'} 1",
                   "stavelin_slot_dropping_ratio{slot='3'} 0.12", "stavelin_slot_frames_written_total{slot='3'} 90000",
                   "stavelin_slot_frames_dropped_total{slot='3'} 12", "stavelin_slot_delayed_reports_total{slot='3'} 7",
                   "stavelin_slot_stalls_total{slot='3'} 2", "stavelin_slot_recoveries_total{slot='3'} 1" })
            << QStringList({ "stavelin_slot_state{slot='3',source='CAM (1)',state='failed'} 1" });

        SlotSnapshot odd = slot(2, "no signal", QStringLiteral("HOST (Cam \"1\" \\ x)"));
        odd.displayName = QStringLiteral("two\nlines"), odd.signalLost = true, odd.tallyState = 2;
        QTest::addRow("quotes, backslashes and line feeds escaped")
            << QList<SlotSnapshot> { odd }
            << QStringList({ "stavelin_slot_info{slot='2',source='HOST (Cam \\'1\\' \\\\ x)',name='two\\nlines'} 1",
                   "stavelin_slot_signal_lost{slot='2'} 1", "stavelin_slot_tally{slot='2'} 2" })
            << QStringList {};

        // The time left comes from the slot that records there, not the first on the drive.
        QList<SlotSnapshot> shared { slot(1, "ready", "A"), slot(2, "recording", "B"), slot(3, "ready", "C"),
            slot(4, "empty") };
        shared[0].drive = shared[1].drive = QStringLiteral("/srv"), shared[2].drive = QStringLiteral("/mnt/b");
        shared[0].freeBytes = shared[1].freeBytes = shared[3].freeBytes = 4000000000000, shared[1].secondsLeft = 5400.5;
        shared[3].drive = QStringLiteral("/x");
        QTest::addRow("a shared drive once, unknown figures left out, an empty slot names none")
            << shared
            << QStringList({ "stavelin_slot_drive_info{slot='2',drive='/srv'} 1",
                   "stavelin_slot_drive_info{slot='3',drive='/mnt/b'} 1",
                   "stavelin_drive_free_bytes{drive='/srv'} 4000000000000",
                   "stavelin_drive_time_left_seconds{drive='/srv'} 5400.5",
                   "stavelin_slot_info{slot='4',source='',name=''} 1",
                   "stavelin_slot_state{slot='4',source='',state='empty'} 1" })
            << QStringList(
                   { "stavelin_drive_free_bytes{drive='/mnt/b'}", "stavelin_drive_time_left_seconds{drive='/mnt/b'}",
                       "stavelin_slot_drive_info{slot='4'", "stavelin_drive_free_bytes{drive='/x'}" });
    }
    void metricsLines()
    {
        QFETCH(QList<SlotSnapshot>, slotList);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QString text = '\n' + QString::fromUtf8(MetricsExposition::text(slotList, process)).replace('"', '\'');
        for (const QString& line : present)
            QVERIFY2(text.count('\n' + line + '\n') == 1, qPrintable(line + " in" + text));
        for (const QString& start : absent)
            QVERIFY2(!text.contains('\n' + start), qPrintable(start));
    }

    // The README names every family the recorder writes.
    void everyFamilyDocumented()
    {
        QFile readme(QStringLiteral(TESTS_SOURCE_DIR "/../README.md"));
        const QString documented = readme.open(QIODevice::ReadOnly) ? QString::fromUtf8(readme.readAll()) : QString();
        const QStringList types
            = QString::fromUtf8(MetricsExposition::text({}, process)).split('\n').filter(QStringLiteral("# TYPE "));
        QCOMPARE(types.size(), 23);
        for (const QString& type : types)
            QVERIFY2(documented.contains('`' + type.section(' ', 2, 2) + '`'), qPrintable(type));
    }

    // Key attempts "<ms><address>" (a capital: the right key) and their verdicts: "L" logged, "L<n>"
    // logged with n unlogged before it, "-" not logged; "+" answered late.
    void accessKeyVerdicts_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("verdicts");
        const auto tries = [](int n, int step) {
            QStringList events;
            for (int i = 0; i < n; ++i)
                events << QString::number(i * step) + 'a';
            return events.join(' ');
        };
        QTest::addRow("a line a second per address, counting the rest") << "0a 1b 400a 999a 1000a 1500a 2600a 2600A"
                                                                        << "L L - - L2 - L1 -";
        QTest::addRow("the tenth in a minute is late") << tries(10, 6000) << "L L L L L L L L L L+";
        QTest::addRow("ten in more than a minute are not") << tries(10, 6667) << "L L L L L L L L L L";
        QTest::addRow("late until the first of ten is a minute old, for that address alone")
            << tries(10, 10) + " 59999A 59999B 60000A"
            << "L - - - - - - - - -+ -+ - -";
        QTest::addRow("failures a minute old are forgotten") << "0a 10a 70000a"
                                                             << "L - L";
    }

    void accessKeyVerdicts()
    {
        QFETCH(QString, events);
        qint64 now = 0;
        AccessKeyAttempts attempts([&now] { return now; });
        QStringList seen;
        for (const QString& event : events.split(' ')) {
            now = event.chopped(1).toLongLong();
            const AccessKeyAttempts::Verdict v = attempts.attempt(event.right(1).toLower(), event.back().isLower());
            seen << (v.log ? "L" + (v.unlogged ? QString::number(v.unlogged) : QString()) : "-")
                    + (v.delayMs ? "+" : "");
        }
        QTEST(seen.join(' '), "verdicts");
    }
};

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
