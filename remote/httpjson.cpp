#include "remote/httpjson.h"

#include "slots/commandresults.h"

#include <QJsonArray>

#include <cmath>

QJsonObject HttpJson::slotObject(const SlotSnapshot& slot)
{
    return QJsonObject {
        { QStringLiteral("displayName"), slot.displayName },
        { QStringLiteral("id"), QString::number(slot.id) },
        { QStringLiteral("recording"), slot.recordingText() },
        { QStringLiteral("source"), slot.connectedSource },
        { QStringLiteral("tally"), slot.tallyState },
    };
}

QJsonObject HttpJson::statusObject(bool recordingAll, const QList<SlotSnapshot>& slotList)
{
    QJsonObject slotsObject;
    for (int i = 0; i < slotList.size(); ++i)
        slotsObject.insert(QString::number(i + 1), slotObject(slotList.at(i)));
    return QJsonObject {
        { QStringLiteral("recording_all"), recordingAll ? QStringLiteral("1") : QStringLiteral("0") },
        { QStringLiteral("slots"), slotsObject },
    };
}

QJsonObject HttpJson::sourcesObject(const QStringList& names)
{
    return QJsonObject { { QStringLiteral("sources"), QJsonArray::fromStringList(names) } };
}

QJsonObject HttpJson::progressObject(const SlotSnapshot& slot)
{
    return QJsonObject {
        { QStringLiteral("id"), QString::number(slot.id) },
        { QStringLiteral("state"), slot.state },
        { QStringLiteral("elapsed"), slot.elapsedText },
        { QStringLiteral("elapsedMs"), double(slot.elapsedMs) },
        { QStringLiteral("pieceFrames"), double(slot.pieceFrames) },
        { QStringLiteral("totalFrames"), double(slot.totalFrames) },
        { QStringLiteral("file"), slot.filePath },
        { QStringLiteral("piece"), slot.piece },
        { QStringLiteral("location"), slot.location },
        { QStringLiteral("delayed"), slot.delayedCount },
        { QStringLiteral("bytes"), double(slot.bytesWritten) },
        { QStringLiteral("warning"), slot.warning },
    };
}

QJsonObject HttpJson::stateObject(const SlotSnapshot& slot)
{
    return QJsonObject {
        { QStringLiteral("id"), QString::number(slot.id) },
        { QStringLiteral("word"), slot.stateWord },
        { QStringLiteral("label"), slot.stateLabel },
        { QStringLiteral("busy"), slot.busy },
        { QStringLiteral("wallMs"), double(slot.wallMs) },
        { QStringLiteral("recordedMs"), double(slot.elapsedMs) },
        { QStringLiteral("droppedFrames"), double(slot.droppedFrames) },
        { QStringLiteral("droppingPercent"), slot.droppingPercent },
        { QStringLiteral("warning"), slot.warning },
        { QStringLiteral("folder"), slot.currentFolder },
        { QStringLiteral("location"), slot.location },
        { QStringLiteral("lowSpace"), slot.lowSpace },
    };
}

QJsonObject HttpJson::stateAnswer(const QList<SlotSnapshot>& slotList)
{
    QJsonArray list;
    for (const SlotSnapshot& slot : slotList)
        list.append(stateObject(slot));
    return QJsonObject { { QStringLiteral("state"), list } };
}

QJsonArray HttpJson::historyArray(const SlotSnapshot& slot)
{
    QJsonArray list;
    for (const SlotSnapshot::HistoryEntry& entry : slot.history)
        list.append(QJsonObject { { QStringLiteral("time"), entry.time.toString(Qt::ISODateWithMs) },
            { QStringLiteral("text"), entry.text } });
    return list;
}

QJsonObject HttpJson::progressAnswer(const QList<SlotSnapshot>& slotList)
{
    QJsonArray list;
    for (const SlotSnapshot& slot : slotList)
        list.append(progressObject(slot));
    return QJsonObject { { QStringLiteral("progress"), list } };
}

QJsonObject HttpJson::progressEvent(const SlotSnapshot& slot)
{
    return withEvent(progressObject(slot), QStringLiteral("progress"));
}

QJsonObject HttpJson::levelsEvent(const QList<SlotLevels>& levels)
{
    QJsonObject meters;
    QJsonObject free;
    for (int i = 0; i < levels.size(); ++i) {
        const QString id = QString::number(i + 1);
        meters.insert(id, QJsonArray { levels.at(i).left, levels.at(i).right });
        free.insert(id, std::round(levels.at(i).freeGigabytes * 10.0) / 10.0);
    }
    return QJsonObject { { QStringLiteral("event"), QStringLiteral("levels") }, { QStringLiteral("levels"), meters },
        { QStringLiteral("freeGigabytes"), free } };
}

QJsonObject HttpJson::warningEvent(int slot, const QString& message)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("warning") },
        { QStringLiteral("id"), QString::number(slot) },
        { QStringLiteral("message"), message },
    };
}

QJsonObject HttpJson::warningClearedEvent(int slot, const QString& message)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("warning_cleared") },
        { QStringLiteral("id"), QString::number(slot) },
        { QStringLiteral("message"), message },
    };
}

QJsonObject HttpJson::recordingsObject(const QJsonArray& records)
{
    return QJsonObject { { QStringLiteral("recordings"), records } };
}

QJsonObject HttpJson::resultObject(const QString& result)
{
    if (result == CommandResult::success)
        return QJsonObject { { QStringLiteral("result"), CommandResult::success } };
    return QJsonObject {
        { QStringLiteral("reason"), result },
        { QStringLiteral("result"), QStringLiteral("failure") },
    };
}

QJsonObject HttpJson::withEvent(QJsonObject object, const QString& event)
{
    object.insert(QStringLiteral("event"), event);
    return object;
}

QJsonObject HttpJson::recordingEvent(const SlotSnapshot& slot)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("recording") },
        { QStringLiteral("slot"), QString::number(slot.id) },
        { QStringLiteral("state"), slot.recordingText() },
    };
}

QJsonObject HttpJson::tallyEvent(int slot, int tally)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("tally") },
        { QStringLiteral("slot"), QString::number(slot) },
        { QStringLiteral("state"), QString::number(tally) },
    };
}

QJsonObject HttpJson::connectedEvent(int slot, const QString& source)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("connected") },
        { QStringLiteral("slot"), QString::number(slot) },
        { QStringLiteral("source"), source },
    };
}

QJsonObject HttpJson::renameEvent(int slot, const QString& name)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("rename") },
        { QStringLiteral("name"), name },
        { QStringLiteral("slot"), QString::number(slot) },
    };
}

QJsonObject HttpJson::recordingAllEvent(bool state)
{
    return QJsonObject {
        { QStringLiteral("event"), QStringLiteral("recording_all") },
        { QStringLiteral("state"), state ? QStringLiteral("1") : QStringLiteral("0") },
    };
}

QByteArray HttpJson::answerBody(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QString HttpJson::eventMessage(const QJsonDocument& doc)
{
    return QStringLiteral("data: ") + QString::fromUtf8(doc.toJson(QJsonDocument::Compact)) + QStringLiteral("\n\n");
}

QString HttpJson::pingMessage()
{
    return QStringLiteral("data: ping\n\n");
}
