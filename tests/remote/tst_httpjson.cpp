#include "remote/httpjson.h"

#include <QJsonArray>
#include <QTest>

// Snapshots are written as partial aggregates: the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// The messages the event stream test does not see in full; the others it compares byte for byte.
class TestHttpJson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eventMessages_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QJsonObject& object, const char* json) {
            QTest::newRow(name) << object << QStringLiteral("data: %1\n\n").arg(QString::fromUtf8(json));
        };
        row("rename with a line break stays one data line", HttpJson::renameEvent(1, "a\nb"),
            R"({"event":"rename","name":"a\nb","slot":"1"})");
        row("status while recording all",
            HttpJson::withEvent(HttpJson::statusObject(true, { { 1, false, true, "S", "", 1 } }), "status"),
            R"({"event":"status","recording_all":"1","slots":{"1":{"displayName":"","id":"1","recording":"waiting","source":"S","tally":1}}})");
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
