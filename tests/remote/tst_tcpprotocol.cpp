#include "remote/tcpprotocol.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QXmlStreamReader>

namespace
{

// Records every call and answers from canned values, so a test sees exactly what one line did.
class RecordingBackend : public TcpProtocol::Backend
{
public:
    QStringList calls;
    QByteArray written;
    QString answer = QStringLiteral("success");
    QStringList sources;
    QList<SlotSnapshot> slotList;
    QJsonArray records;
    int tallySubscribed = -1;
    int recordingSubscribed = -1;
    bool isAdmitted = true;

    QString recordingStart(uint slot) override { return note(QStringLiteral("recordingStart %1").arg(slot)); }
    QString recordingStop(uint slot) override { return note(QStringLiteral("recordingStop %1").arg(slot)); }
    QString connectSource(uint slot, const QString& source) override
    {
        return note(QStringLiteral("connectSource %1 [%2]").arg(slot).arg(source));
    }
    QString disconnectSource(uint slot) override { return note(QStringLiteral("disconnectSource %1").arg(slot)); }
    QString listenOn(uint slot) override { return note(QStringLiteral("listenOn %1").arg(slot)); }
    QString listenOff() override { return note(QStringLiteral("listenOff")); }
    QStringList sourceNames() override { return sources; }
    QList<SlotSnapshot> slotSnapshots() override { return slotList; }
    void setTallySubscribed(bool on) override
    {
        calls << QStringLiteral("tally %1").arg(on);
        tallySubscribed = on;
    }
    void setProgressSubscribed(bool on) override { calls << QStringLiteral("progress %1").arg(on); }
    QJsonArray recordings() override { return records; }
    QString authenticate(const QString& key) override
    {
        isAdmitted = note(QStringLiteral("auth [%1]").arg(key)) == QLatin1String("success");
        return answer;
    }
    bool admitted() override { return isAdmitted; }
    void setRecordingSubscribed(bool on) override
    {
        calls << QStringLiteral("recording %1").arg(on);
        recordingSubscribed = on;
    }
    void write(const QByteArray& bytes) override { written += bytes; }

private:
    QString note(const QString& call)
    {
        calls << call;
        return answer;
    }
};

SlotSnapshot snapshot(bool recording, const QString& source, int tally)
{
    SlotSnapshot s;
    s.isRecording = recording;
    s.connectedSource = source;
    s.tallyState = tally;
    return s;
}

} // namespace

class TestTcpProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("reply");

        const QString ok = QStringLiteral("success");
        QTest::addRow("start one slot") << QByteArray("<recording_start slot='2' uid='a1'/>\n") << ok
                                        << QStringList { "recordingStart 2" }
                                        << QByteArray("<succes uid=\"a1\" />\r\n");
        QTest::addRow("start without slot is record-all")
            << QByteArray("<recording_start/>\n") << QStringLiteral("Already recording")
            << QStringList { "recordingStart 0" }
            << QByteArray("<failure reason=\"Already recording\" uid=\"\" />\r\n");
        QTest::addRow("stop with CR LF") << QByteArray("<recording_stop slot=\"3\"/>\r\n")
                                         << QStringLiteral("Slot is not recording") << QStringList { "recordingStop 3" }
                                         << QByteArray("<failure reason=\"Slot is not recording\" uid=\"\" />\r\n");
        QTest::addRow("connect") << QByteArray("<connect slot='0' source='X'/>") << QStringLiteral("Slot id invalid")
                                 << QStringList { "connectSource 0 [X]" }
                                 << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n");
        QTest::addRow("connect with entities in the source")
            << QByteArray("<connect slot='1' source='A &amp; B &quot;1&quot; (x)'/>") << ok
            << QStringList { "connectSource 1 [A & B \"1\" (x)]" } << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("connect without source")
            << QByteArray("<connect slot='4'/>") << ok << QStringList { "connectSource 4 []" }
            << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("disconnect") << QByteArray("<disconnect slot='5' uid='d'/>") << ok
                                    << QStringList { "disconnectSource 5" } << QByteArray("<succes uid=\"d\" />\r\n");
        QTest::addRow("listen") << QByteArray("<listen slot='1'/>") << ok << QStringList { "listenOn 1" }
                                << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("listen off ignores slot")
            << QByteArray("<listen_off slot='9'/>") << ok << QStringList { "listenOff" }
            << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("subscriptions answer success whatever the layer says")
            << QByteArray(
                   "<tally_subscribe "
                   "uid='t'><tally_unsubscribe/><recording_subscribe/><recording_unsubscribe/></tally_subscribe>")
            << QStringLiteral("never used") << QStringList { "tally 1", "tally 0", "recording 1", "recording 0" }
            << QByteArray(
                   "<succes uid=\"t\" />\r\n<succes uid=\"\" />\r\n<succes uid=\"\" />\r\n<succes uid=\"\" />\r\n");
        QTest::addRow("progress subscriptions")
            << QByteArray("<progress_subscribe uid='p'><progress_unsubscribe/></progress_subscribe>")
            << QStringLiteral("never used") << QStringList { "progress 1", "progress 0" }
            << QByteArray("<succes uid=\"p\" />\r\n<succes uid=\"\" />\r\n");
        QTest::addRow("rename is not offered") << QByteArray("<rename slot='1' name='x'/>") << ok << QStringList {}
                                               << QByteArray("<failure reason=\"Command unsupported\" uid=\"\" />\r\n");
        QTest::addRow("names are case-sensitive")
            << QByteArray("<Recording_Start slot='1' uid='u'/>") << ok << QStringList {}
            << QByteArray("<failure reason=\"Command unsupported\" uid=\"u\" />\r\n");
        QTest::addRow("nested runs after its parent")
            << QByteArray("<recording_start slot='1'><recording_stop slot='2'/></recording_start>") << ok
            << QStringList { "recordingStart 1", "recordingStop 2" }
            << QByteArray("<succes uid=\"\" />\r\n<succes uid=\"\" />\r\n");
        QTest::addRow("unclosed start tag still runs")
            << QByteArray("<recording_start slot='1'>\n") << ok << QStringList { "recordingStart 1" }
            << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("second top-level element ignored")
            << QByteArray("<listen slot='1'/><listen slot='2'/>") << ok << QStringList { "listenOn 1" }
            << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("incomplete start tag does nothing")
            << QByteArray("<recording_start slot='1'") << ok << QStringList {} << QByteArray();
        QTest::addRow("plain text does nothing") << QByteArray("hello\n") << ok << QStringList {} << QByteArray();
        QTest::addRow("empty line does nothing") << QByteArray("\r\n") << ok << QStringList {} << QByteArray();
        QTest::addRow("error after a complete element")
            << QByteArray("<listen slot='3'/><<") << ok << QStringList { "listenOn 3" }
            << QByteArray("<succes uid=\"\" />\r\n");
        QTest::addRow("uid is escaped on the way back")
            << QByteArray("<listen_off uid='a&quot; b=&quot;c'/>") << ok << QStringList { "listenOff" }
            << QByteArray("<succes uid=\"a&quot; b=&quot;c\" />\r\n");
        QTest::addRow("reason is escaped")
            << QByteArray("<listen slot='1'/>") << QStringLiteral("a<b>&\"c\"") << QStringList { "listenOn 1" }
            << QByteArray("<failure reason=\"a&lt;b&gt;&amp;&quot;c&quot;\" uid=\"\" />\r\n");
        QTest::addRow("xml declaration first") << QByteArray("<?xml version='1.0'?><listen slot='2'/>") << ok
                                               << QStringList { "listenOn 2" } << QByteArray("<succes uid=\"\" />\r\n");
    }

    void commands()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, answer);
        QFETCH(QStringList, calls);
        QFETCH(QByteArray, reply);

        RecordingBackend backend;
        backend.answer = answer;
        TcpProtocol::handleLine(line, backend);
        QCOMPARE(backend.calls, calls);
        QCOMPARE(backend.written, reply);
    }

    // Without the key only <auth/> is heard; with it, the rest of the line runs.
    void accessKey_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("reply");
        QTest::addRow("command refused")
            << QByteArray("<recording_start slot='1' uid='r'/>") << QStringLiteral("success") << QStringList {}
            << QByteArray("<failure reason=\"Access key required\" uid=\"r\" />\r\n");
        QTest::addRow("wrong key") << QByteArray("<auth key='no' uid='a'><listen_off/></auth>")
                                   << QStringLiteral("Access key wrong") << QStringList { "auth [no]" }
                                   << QByteArray("<failure reason=\"Access key wrong\" uid=\"a\" />\r\n"
                                                 "<failure reason=\"Access key required\" uid=\"\" />\r\n");
        QTest::addRow("right key, then a command")
            << QByteArray("<auth key='k&amp;1'><listen_off/></auth>") << QStringLiteral("success")
            << QStringList { "auth [k&1]", "listenOff" }
            << QByteArray("<succes uid=\"\" />\r\n<succes uid=\"\" />\r\n");
    }

    void accessKey()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, answer);
        QFETCH(QStringList, calls);
        QFETCH(QByteArray, reply);
        RecordingBackend backend;
        backend.isAdmitted = false;
        backend.answer = answer;
        TcpProtocol::handleLine(line, backend);
        QCOMPARE(backend.calls, calls);
        QCOMPARE(backend.written, reply);
    }

    void slotIds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("id");
        QTest::addRow("plain") << QStringLiteral("7") << 7u;
        QTest::addRow("leading zeros") << QStringLiteral("007") << 7u;
        QTest::addRow("empty") << QString() << 0u;
        QTest::addRow("negative") << QStringLiteral("-1") << 0u;
        QTest::addRow("text") << QStringLiteral("two") << 0u;
        QTest::addRow("largest") << QStringLiteral("4294967295") << 4294967295u;
        QTest::addRow("too large") << QStringLiteral("4294967296") << 0u;
        QTest::addRow("fraction") << QStringLiteral("1.5") << 0u;
        QTest::addRow("blanks around") << QStringLiteral(" 3 ") << 3u;
    }

    void slotIds()
    {
        QFETCH(QString, text);
        QFETCH(uint, id);
        QCOMPARE(TcpProtocol::slotId(text), id);
    }

    void status_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");

        QTest::addRow("all slotList")
            << QByteArray("<status/>")
            << QByteArray(
                   "<status uid=\"\">\r\n"
                   "  <slot id=\"1\" recording=\"1\" source=\"HOST (Cam 1)\" tally=\"2\" />\r\n"
                   "  <slot id=\"2\" recording=\"0\" source=\"none\" tally=\"0\" />\r\n"
                   "  <slot id=\"3\" recording=\"0\" source=\"Q &quot;A&amp;B&quot; &lt;x&gt;\" tally=\"1\" />\r\n"
                   "<status/>\r\n");
        QTest::addRow("slot 0 with uid is all, slot lines without uid")
            << QByteArray("<status slot='0' uid='z'/>")
            << QByteArray(
                   "<status uid=\"z\">\r\n"
                   "  <slot id=\"1\" recording=\"1\" source=\"HOST (Cam 1)\" tally=\"2\" />\r\n"
                   "  <slot id=\"2\" recording=\"0\" source=\"none\" tally=\"0\" />\r\n"
                   "  <slot id=\"3\" recording=\"0\" source=\"Q &quot;A&amp;B&quot; &lt;x&gt;\" tally=\"1\" />\r\n"
                   "<status/>\r\n");
        QTest::addRow("one slot with uid")
            << QByteArray("<status slot='2' uid='q'/>")
            << QByteArray("<slot id=\"2\" recording=\"0\" source=\"none\" tally=\"0\" uid=\"q\" />\r\n");
        QTest::addRow("one slot without uid")
            << QByteArray("<status slot='1'/>")
            << QByteArray("<slot id=\"1\" recording=\"1\" source=\"HOST (Cam 1)\" tally=\"2\" />\r\n");
        QTest::addRow("slot past the end") << QByteArray("<status slot='4' uid='q'/>")
                                           << QByteArray("<failure reason=\"Slot id invalid\" uid=\"q\" />\r\n");
        QTest::addRow("largest id") << QByteArray("<status slot='4294967295'/>")
                                    << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n");
        const QByteArray recording = "slot=\"1\" state=\"stalled\" elapsed=\"01:00:02\" elapsed_ms=\"3602000\" "
                                     "piece_frames=\"50\" total_frames=\"90050\" piece=\"2\" location=\"B\" "
                                     "delayed=\"1\" bytes=\"12345\" file=\"/v/A &amp; &quot;B&quot;.mov\" "
                                     "warning=\"Recording stalled\" ";
        const QByteArray idle = "slot=\"2\" state=\"idle\" elapsed=\"\" elapsed_ms=\"0\" piece_frames=\"0\" "
                                "total_frames=\"0\" piece=\"0\" location=\"\" delayed=\"0\" bytes=\"0\" file=\"\" "
                                "warning=\"\" ";
        QTest::addRow("progress of one slot") << QByteArray("<progress slot='1' uid='g'/>")
                                              << QByteArray("<progress " + recording + "uid=\"g\" />\r\n");
        QTest::addRow("progress of every slot")
            << QByteArray("<progress uid='all'/>")
            << QByteArray("<progress uid=\"all\">\r\n  <progress " + recording + "/>\r\n  <progress " + idle
                + "/>\r\n  <progress slot=\"3\" " + idle.mid(9) + "/>\r\n<progress/>\r\n");
        QTest::addRow("progress past the end") << QByteArray("<progress slot='4'/>")
                                               << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n");
        QTest::addRow("progress of slot 0 is invalid") << QByteArray("<progress slot='0'/>")
                                                       << QByteArray("<failure reason=\"Slot id invalid\" uid=\"\" />\r\n");
        QTest::addRow("recordings") << QByteArray("<recordings uid='r'/>")
                                    << QByteArray("<recordings uid=\"r\">\r\n  <record source=\"A &amp; B\" slot=\"3\" "
                                                  "start=\"2026-12-07T10:00:00.000\" stop=\"\" frames=\"7500\" "
                                                  "gap_frames=\"12\" pieces=\"2\" stop_reason=\"\" "
                                                  "path=\"/v/A &amp; B.recording.json\" />\r\n<recordings/>\r\n");
    }

    void status()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        RecordingBackend backend;
        backend.slotList = { snapshot(true, QStringLiteral("HOST (Cam 1)"), 2),
            snapshot(false, QStringLiteral("none"), 0), snapshot(false, QStringLiteral("Q \"A&B\" <x>"), 1) };
        for (int i = 0; i < backend.slotList.size(); ++i)
            backend.slotList[i].id = uint(i + 1);
        SlotSnapshot& first = backend.slotList[0];
        first.state = QStringLiteral("stalled");
        first.elapsedText = QStringLiteral("01:00:02");
        first.elapsedMs = 3602000;
        first.pieceFrames = 50;
        first.totalFrames = 90050;
        first.piece = 2;
        first.location = QStringLiteral("B");
        first.delayedCount = 1;
        first.bytesWritten = 12345;
        first.filePath = QStringLiteral("/v/A & \"B\".mov");
        first.warning = QStringLiteral("Recording stalled");
        backend.records = { QJsonObject { { "source", "A & B" }, { "slot", 3 }, { "start", "2026-12-07T10:00:00.000" },
            { "frames", 7500.0 }, { "gapFrames", 12.0 }, { "pieces", QJsonArray { QJsonObject {}, QJsonObject {} } },
            { "stopReason", QJsonValue() }, { "record", "/v/A & B.recording.json" } } };
        TcpProtocol::handleLine(line, backend);
        QCOMPARE(backend.written, reply);
        QVERIFY(backend.calls.isEmpty());
    }

    void sources_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("reply");
        QTest::addRow("none") << QStringList {} << QByteArray("<sources uid=\"s\">\r\n<sources/>\r\n");
        QTest::addRow("two, one with quotes and ampersand")
            << QStringList { "HOST (A)", "HOST (\"B\" & C)" }
            << QByteArray("<sources uid=\"s\">\r\n  <source name=\"HOST (A)\" />\r\n"
                          "  <source name=\"HOST (&quot;B&quot; &amp; C)\" />\r\n<sources/>\r\n");
    }

    void sources()
    {
        QFETCH(QStringList, names);
        QFETCH(QByteArray, reply);
        RecordingBackend backend;
        backend.sources = names;
        TcpProtocol::handleLine("<sources uid='s'/>", backend);
        QCOMPARE(backend.written, reply);
    }

    void eventLines()
    {
        QCOMPARE(TcpProtocol::recordingAllEvent(true), QByteArray("<recording_all state=\"1\" />\r\n"));
        QCOMPARE(TcpProtocol::recordingAllEvent(false), QByteArray("<recording_all state=\"0\" />\r\n"));
        QCOMPARE(TcpProtocol::recordingEvent(12, true), QByteArray("<recording slot=\"12\" state=\"1\" />\r\n"));
        QCOMPARE(TcpProtocol::tallyEvent(3, 2), QByteArray("<tally slot=\"3\" state=\"2\" />\r\n"));
        QCOMPARE(TcpProtocol::warningEvent(4, QStringLiteral("Folder \"x\" & <y>")),
            QByteArray("<warning slot=\"4\" message=\"Folder &quot;x&quot; &amp; &lt;y&gt;\" />\r\n"));
        QCOMPARE(TcpProtocol::helloLine(),
            QByteArray("<hello app=\"Stavelin Recorder\" release=\"0.9.6.0\" protocol=\"1.0\" />\r\n"));
    }

    // Whatever a name holds, the line stays one well-formed line and reads back as the name.
    void escapedNamesReadBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("quotes") << QStringLiteral("say \"hi\"");
        QTest::addRow("attribute injection") << QStringLiteral("x\" tally=\"9");
        QTest::addRow("markup") << QStringLiteral("</slot><slot id='9'>");
        QTest::addRow("ampersands") << QStringLiteral("A&B &amp; &#10;");
        QTest::addRow("line breaks and tab") << QStringLiteral("a\nb\r\nc\td");
        QTest::addRow("unicode") << QStringLiteral("Kamera \u00e9\u4e2d \U0001F3A5");
        QTest::addRow("apostrophes") << QStringLiteral("it's");
        QTest::addRow("leading and trailing blanks") << QStringLiteral("  two  blanks ");
    }

    void escapedNamesReadBack()
    {
        QFETCH(QString, name);
        SlotSnapshot slot = snapshot(false, name, 0);
        const QByteArray line = TcpProtocol::slotLine(1, slot, name, false);
        QVERIFY(line.endsWith("\r\n"));
        QCOMPARE(line.count('\n'), 1);
        QXmlStreamReader reader(line);
        QVERIFY(reader.readNextStartElement());
        QCOMPARE(reader.name(), QLatin1String("slot"));
        QCOMPARE(reader.attributes().size(), 5);
        QCOMPARE(reader.attributes().value(QLatin1String("source")).toString(), name);
        QCOMPARE(reader.attributes().value(QLatin1String("uid")).toString(), name);
        QCOMPARE(reader.attributes().value(QLatin1String("tally")).toString(), QStringLiteral("0"));
        reader.readNext();
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    }

    void controlCharactersBecomeReplacement()
    {
        const QString name = QStringLiteral("a") + QChar(0x01) + QStringLiteral("b") + QChar(0x1F);
        QCOMPARE(TcpProtocol::escaped(name), QStringLiteral("a\uFFFDb\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(TestTcpProtocol)
#include "tst_tcpprotocol.moc"
