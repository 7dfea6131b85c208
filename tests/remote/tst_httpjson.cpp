#include "remote/httpjson.h"

#include <QJsonArray>
#include <QTest>

// Snapshots are written as partial aggregates: the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class TestHttpJson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Ids and states are text, the tally a number; slot keys sort as text.
    void statusAnswerBytes()
    {
        QList<SlotSnapshot> list
            = { { 1, true, false, "HOST (A)", "Cam \"1\"", 2 }, { 2, false, true, "none", "", 0 } };
        const auto slot = [](const char* id, const char* name, const char* state, const char* source, int tally) {
            return QByteArray("        \"") + id + "\": {\n            \"displayName\": \"" + name
                + "\",\n            \"id\": \"" + id + "\",\n            \"recording\": \"" + state
                + "\",\n            \"source\": \"" + source
                + "\",\n            \"tally\": " + QByteArray::number(tally) + "\n        }";
        };
        QCOMPARE(HttpJson::answerBody(HttpJson::statusObject(false, list)),
            "{\n    \"recording_all\": \"0\",\n    \"slots\": {\n"
                + slot("1", "Cam \\\"1\\\"", "recording", "HOST (A)", 2) + ",\n" + slot("2", "", "waiting", "none", 0)
                + "\n    }\n}\n");
        for (uint id = 3; id <= 10; ++id)
            list << SlotSnapshot { id };
        const QByteArray body = HttpJson::answerBody(HttpJson::statusObject(true, list));
        QVERIFY(body.indexOf("\"10\": {") < body.indexOf("\"2\": {") && body.contains("\"recording_all\": \"1\""));
    }

    void answers_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("success") << HttpJson::resultObject("success")
                                 << QByteArray("{\n    \"result\": \"success\"\n}\n");
        QTest::newRow("refusal with quotes") << HttpJson::resultObject(
            "a \"b\"") << QByteArray("{\n    \"reason\": \"a \\\"b\\\"\",\n    \"result\": \"failure\"\n}\n");
        QTest::newRow("sources") << HttpJson::sourcesObject({ "A",
            "B \"2\"" }) << QByteArray("{\n    \"sources\": [\n        \"A\",\n        \"B \\\"2\\\"\"\n    ]\n}\n");
    }

    void answers()
    {
        QFETCH(QJsonObject, object);
        QTEST(HttpJson::answerBody(object), "body");
    }

    void eventMessages_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QJsonObject& object, const char* json) {
            QTest::newRow(name) << object << QStringLiteral("data: %1\n\n").arg(QString::fromUtf8(json));
        };
        row("tally as text", HttpJson::tallyEvent(3, 1), R"({"event":"tally","slot":"3","state":"1"})");
        row("connected", HttpJson::connectedEvent(2, "none"), R"({"event":"connected","slot":"2","source":"none"})");
        row("rename with a line break stays one data line", HttpJson::renameEvent(1, "a\nb"),
            R"({"event":"rename","name":"a\nb","slot":"1"})");
        row("record-all on", HttpJson::recordingAllEvent(true), R"({"event":"recording_all","state":"1"})");
        for (const auto& [recording, waiting, text] : { std::tuple { false, false, "ready" },
                 { false, true, "waiting" }, { true, false, "recording" }, { true, true, "recording" } })
            QTest::addRow("recording %s %d", text, waiting)
                << HttpJson::recordingEvent(SlotSnapshot { 4, recording, waiting })
                << QStringLiteral("data: {\"event\":\"recording\",\"slot\":\"4\","
                                  "\"state\":\"%1\"}\n\n")
                       .arg(QLatin1String(text));
        row("sources", HttpJson::withEvent(HttpJson::sourcesObject({ "A", "B" }), "sources"),
            R"({"event":"sources","sources":["A","B"]})");
        row("status", HttpJson::withEvent(HttpJson::statusObject(false, { { 1, false, true, "S", "", 1 } }), "status"),
            R"({"event":"status","recording_all":"0","slots":{"1":{"displayName":"","id":"1","recording":"waiting","source":"S","tally":1}}})");
        row("progress keeps large counts exact",
            HttpJson::progressEvent({ 2, true, false, "S", "", 0, "recording", 4040, "00:00:04", 1, 101, "/v/S.mov", 2,
                "A", 0, 5000000000 }),
            R"({"bytes":5000000000,"delayed":0,"elapsed":"00:00:04","elapsedMs":4040,"event":"progress","file":"/v/S.mov","id":"2","location":"A","piece":2,"pieceFrames":1,"state":"recording","totalFrames":101,"warning":""})");
        row("warning", HttpJson::warningEvent(3, "Recording stalled"),
            R"({"event":"warning","id":"3","message":"Recording stalled"})");
        row("levels", HttpJson::levelsEvent({ { 10, 20, 1.46 } }),
            R"({"event":"levels","freeGigabytes":{"1":1.5},"levels":{"1":[10,20]}})");
    }

    void eventMessages()
    {
        QFETCH(QJsonObject, object);
        QTEST(HttpJson::eventMessage(QJsonDocument(object)), "message");
    }
};

QTEST_GUILESS_MAIN(TestHttpJson)
#include "tst_httpjson.moc"
