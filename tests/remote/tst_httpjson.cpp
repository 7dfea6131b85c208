#include "remote/httpjson.h"

#include <QTest>

namespace
{

SlotSnapshot snapshot(uint id, bool recording, bool waiting, const QString& source, const QString& name, int tally)
{
    SlotSnapshot s;
    s.id = id;
    s.isRecording = recording;
    s.isWaiting = waiting;
    s.connectedSource = source;
    s.displayName = name;
    s.tallyState = tally;
    return s;
}

} // namespace

class TestHttpJson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusAnswerBytes()
    {
        const QList<SlotSnapshot> slotList
            = { snapshot(1, true, false, QStringLiteral("HOST (A)"), QStringLiteral("Cam 1"), 2),
                  snapshot(2, false, false, QStringLiteral("none"), QString(), 0) };
        QCOMPARE(HttpJson::answerBody(HttpJson::statusObject(false, slotList)),
            QByteArray("{\n"
                       "    \"recording_all\": \"0\",\n"
                       "    \"slots\": {\n"
                       "        \"1\": {\n"
                       "            \"displayName\": \"Cam 1\",\n"
                       "            \"id\": \"1\",\n"
                       "            \"recording\": \"recording\",\n"
                       "            \"source\": \"HOST (A)\",\n"
                       "            \"tally\": 2\n"
                       "        },\n"
                       "        \"2\": {\n"
                       "            \"displayName\": \"\",\n"
                       "            \"id\": \"2\",\n"
                       "            \"recording\": \"ready\",\n"
                       "            \"source\": \"none\",\n"
                       "            \"tally\": 0\n"
                       "        }\n"
                       "    }\n"
                       "}\n"));
    }

    void slotKeysSortAsText()
    {
        QList<SlotSnapshot> slotList;
        for (uint id = 1; id <= 10; ++id)
            slotList << snapshot(id, false, false, QStringLiteral("none"), QString(), 0);
        const QByteArray body = HttpJson::answerBody(HttpJson::statusObject(true, slotList));
        QVERIFY(body.indexOf("\"10\": {") < body.indexOf("\"2\": {"));
        QVERIFY(body.contains("\"recording_all\": \"1\""));
    }

    void recordingText_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("waiting");
        QTest::addColumn<QString>("text");
        QTest::addRow("idle") << false << false << QStringLiteral("ready");
        QTest::addRow("waiting") << false << true << QStringLiteral("waiting");
        QTest::addRow("recording") << true << false << QStringLiteral("recording");
        QTest::addRow("recording wins over waiting") << true << true << QStringLiteral("recording");
    }

    void recordingText()
    {
        QFETCH(bool, recording);
        QFETCH(bool, waiting);
        QFETCH(QString, text);
        const SlotSnapshot slot = snapshot(4, recording, waiting, QStringLiteral("x"), QString(), 0);
        QCOMPARE(HttpJson::slotObject(slot).value(QStringLiteral("recording")).toString(), text);
        QCOMPARE(HttpJson::eventMessage(QJsonDocument(HttpJson::recordingEvent(slot))),
            QStringLiteral("data: {\"event\":\"recording\",\"slot\":\"4\",\"state\":\"%1\"}\n\n").arg(text));
    }

    void results_data()
    {
        QTest::addColumn<QString>("result");
        QTest::addColumn<QByteArray>("body");
        QTest::addRow("success") << QStringLiteral("success") << QByteArray("{\n    \"result\": \"success\"\n}\n");
        QTest::addRow("refusal") << QStringLiteral("Slot id invalid")
                                 << QByteArray(
                                        "{\n    \"reason\": \"Slot id invalid\",\n    \"result\": \"failure\"\n}\n");
        QTest::addRow("quotes in a reason") << QStringLiteral(
            "a \"b\"") << QByteArray("{\n    \"reason\": \"a \\\"b\\\"\",\n    \"result\": \"failure\"\n}\n");
    }

    void results()
    {
        QFETCH(QString, result);
        QFETCH(QByteArray, body);
        QCOMPARE(HttpJson::answerBody(HttpJson::resultObject(result)), body);
    }

    void eventMessages_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QString>("message");
        QTest::addRow("tally as text") << HttpJson::tallyEvent(
            3, 1) << QStringLiteral("data: {\"event\":\"tally\",\"slot\":\"3\",\"state\":\"1\"}\n\n");
        QTest::addRow("connected") << HttpJson::connectedEvent(2, QStringLiteral("none"))
                                   << QStringLiteral(
                                          "data: {\"event\":\"connected\",\"slot\":\"2\",\"source\":\"none\"}\n\n");
        QTest::addRow("rename") << HttpJson::renameEvent(1, QStringLiteral("Cam 1"))
                                << QStringLiteral("data: {\"event\":\"rename\",\"name\":\"Cam 1\",\"slot\":\"1\"}\n\n");
        QTest::addRow("rename with a line break stays one data line")
            << HttpJson::renameEvent(1, QStringLiteral("a\nb"))
            << QStringLiteral("data: {\"event\":\"rename\",\"name\":\"a\\nb\",\"slot\":\"1\"}\n\n");
        QTest::addRow("record-all on") << HttpJson::recordingAllEvent(true)
                                       << QStringLiteral("data: {\"event\":\"recording_all\",\"state\":\"1\"}\n\n");
        QTest::addRow("sources") << HttpJson::withEvent(
            HttpJson::sourcesObject({ QStringLiteral("A"), QStringLiteral("B") }), QStringLiteral("sources"))
                                 << QStringLiteral("data: {\"event\":\"sources\",\"sources\":[\"A\",\"B\"]}\n\n");
        QTest::addRow("status")
            << HttpJson::withEvent(
                   HttpJson::statusObject(false, { snapshot(1, false, true, QStringLiteral("S"), QString(), 1) }),
                   QStringLiteral("status"))
            << QStringLiteral(
                   "data: "
                   "{\"event\":\"status\",\"recording_all\":\"0\",\"slots\":{\"1\":{\"displayName\":\"\",\"id\":\"1\","
                   "\"recording\":\"waiting\",\"source\":\"S\",\"tally\":1}}}\n\n");
        SlotSnapshot recording = snapshot(2, true, false, QStringLiteral("S"), QString(), 0);
        recording.state = QStringLiteral("recording");
        recording.elapsedText = QStringLiteral("00:00:04");
        recording.elapsedMs = 4040;
        recording.pieceFrames = 1;
        recording.totalFrames = 101;
        recording.filePath = QStringLiteral("/v/S.mov");
        recording.piece = 2;
        recording.location = QStringLiteral("A");
        recording.bytesWritten = 5000000000;
        QTest::addRow("progress keeps large counts exact")
            << HttpJson::progressEvent(recording)
            << QStringLiteral("data: {\"bytes\":5000000000,\"delayed\":0,\"elapsed\":\"00:00:04\",\"elapsedMs\":4040,"
                              "\"event\":\"progress\",\"file\":\"/v/S.mov\",\"id\":\"2\",\"location\":\"A\",\"piece\":2,"
                              "\"pieceFrames\":1,\"state\":\"recording\",\"totalFrames\":101,\"warning\":\"\"}\n\n");
        QTest::addRow("warning") << HttpJson::warningEvent(3, QStringLiteral("Recording stalled"))
                                 << QStringLiteral(
                                        "data: {\"event\":\"warning\",\"id\":\"3\",\"message\":\"Recording stalled\"}\n\n");
    }

    void eventMessages()
    {
        QFETCH(QJsonObject, object);
        QFETCH(QString, message);
        QCOMPARE(HttpJson::eventMessage(QJsonDocument(object)), message);
    }
};

QTEST_GUILESS_MAIN(TestHttpJson)
#include "tst_httpjson.moc"
