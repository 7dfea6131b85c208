#pragma once

#include "slots/slotsnapshot.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

// The JSON answers of "/api" and the messages of "/api/events", built from snapshots so that
// they can be formatted on any thread. Ids and states are text; only a slot's tally is a number.
class HttpJson
{
public:
    static QJsonObject slotObject(const SlotSnapshot& slot);
    // The full slot list in order: entry n - 1 is slot n.
    static QJsonObject statusObject(bool recordingAll, const QList<SlotSnapshot>& slotList);
    static QJsonObject sourcesObject(const QStringList& names);
    static QJsonObject resultObject(const QString& result);

    // The same object with "event" added.
    static QJsonObject withEvent(QJsonObject object, const QString& event);

    static QJsonObject recordingEvent(const SlotSnapshot& slot);
    static QJsonObject tallyEvent(int slot, int tally);
    static QJsonObject connectedEvent(int slot, const QString& source);
    static QJsonObject renameEvent(int slot, const QString& name);
    static QJsonObject recordingAllEvent(bool state);

    // A slot's recording telemetry; "progress" answers it for all slots or one.
    static QJsonObject progressObject(const SlotSnapshot& slot);
    static QJsonObject progressAnswer(const QList<SlotSnapshot>& slotList);
    static QJsonObject progressEvent(const SlotSnapshot& slot);
    static QJsonObject warningEvent(int slot, const QString& message);
    static QJsonObject warningClearedEvent(int slot, const QString& message);
    // What a slot shows; "state" answers it for all slots or one, and the "state" event carries it.
    static QJsonObject stateObject(const SlotSnapshot& slot);
    static QJsonObject stateAnswer(const QList<SlotSnapshot>& slotList);
    // The slot's last events, oldest first: {"time","text"} each; "history" answers it.
    static QJsonArray historyArray(const SlotSnapshot& slot);
    // Every slot's meter levels (0-100, left and right) and the free gigabytes where it records,
    // slot n as "n".
    struct SlotLevels {
        int left = 0;
        int right = 0;
        double freeGigabytes = 0.0;
    };
    static QJsonObject levelsEvent(const QList<SlotLevels>& levels);
    static QJsonObject recordingsObject(const QJsonArray& records);

    // The indented body of an "/api" answer.
    static QByteArray answerBody(const QJsonObject& object);
    // One event-stream message: "data: ", the compact object, two line feeds.
    static QString eventMessage(const QJsonDocument& doc);
    static QString pingMessage();
};
