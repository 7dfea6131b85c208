#include "remote/tcpprotocol.h"

#include "slots/commandresults.h"

#include <QJsonObject>
#include <QXmlStreamReader>

namespace
{

const QByteArray lineEnd = QByteArrayLiteral("\r\n");

QByteArray line(const QString& text)
{
    return text.toUtf8() + lineEnd;
}

QString attr(const QString& value)
{
    return TcpProtocol::escaped(value);
}

} // namespace

uint TcpProtocol::slotId(const QString& text)
{
    bool ok = false;
    const uint id = text.toUInt(&ok);
    return ok ? id : 0;
}

QString TcpProtocol::escaped(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\t': out += QLatin1String("&#9;"); break;
        case '\n': out += QLatin1String("&#10;"); break;
        case '\r': out += QLatin1String("&#13;"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
                out += QChar(0xFFFD);
            else
                out += c;
        }
    }
    return out;
}

QByteArray TcpProtocol::helloLine()
{
    return line(QStringLiteral("<hello app=\"Stavelin Recorder\" release=\"%1\" protocol=\"1.0\" />")
                    .arg(QStringLiteral(RECORDER_VERSION)));
}

QByteArray TcpProtocol::resultLine(const QString& result, const QString& uid)
{
    if (result == CommandResult::success)
        return line(QStringLiteral("<succes uid=\"%1\" />").arg(attr(uid)));
    return line(QStringLiteral("<failure reason=\"%1\" uid=\"%2\" />").arg(attr(result), attr(uid)));
}

QByteArray TcpProtocol::sourcesBlock(const QString& uid, const QStringList& names)
{
    QByteArray out = line(QStringLiteral("<sources uid=\"%1\">").arg(attr(uid)));
    for (const QString& name : names)
        out += line(QStringLiteral("  <source name=\"%1\" />").arg(attr(name)));
    out += line(QStringLiteral("<sources/>"));
    return out;
}

QByteArray TcpProtocol::slotLine(uint id, const SlotSnapshot& slot, const QString& uid, bool indented)
{
    QString text = QStringLiteral("%1<slot id=\"%2\" recording=\"%3\" source=\"%4\" tally=\"%5\" ")
                       .arg(indented ? QStringLiteral("  ") : QString())
                       .arg(id)
                       .arg(slot.isRecording ? QLatin1Char('1') : QLatin1Char('0'))
                       .arg(attr(slot.connectedSource))
                       .arg(uint(slot.tallyState));
    if (!uid.isEmpty())
        text += QStringLiteral("uid=\"%1\" ").arg(attr(uid));
    text += QStringLiteral("/>");
    return line(text);
}

QByteArray TcpProtocol::statusBlock(const QString& uid, const QList<SlotSnapshot>& slotList)
{
    QByteArray out = line(QStringLiteral("<status uid=\"%1\">").arg(attr(uid)));
    uint id = 1;
    for (const SlotSnapshot& slot : slotList)
        out += slotLine(id++, slot, QString(), true);
    out += line(QStringLiteral("<status/>"));
    return out;
}

QByteArray TcpProtocol::recordingAllEvent(bool state)
{
    return line(QStringLiteral("<recording_all state=\"%1\" />").arg(state ? 1 : 0));
}

QByteArray TcpProtocol::recordingEvent(int slot, bool state)
{
    return line(QStringLiteral("<recording slot=\"%1\" state=\"%2\" />").arg(slot).arg(state ? 1 : 0));
}

QByteArray TcpProtocol::tallyEvent(int slot, int tally)
{
    return line(QStringLiteral("<tally slot=\"%1\" state=\"%2\" />").arg(slot).arg(tally));
}

QByteArray TcpProtocol::progressLine(const SlotSnapshot& slot, const QString& uid, bool indented)
{
    QString text = QStringLiteral("%1<progress slot=\"%2\" state=\"%3\" elapsed=\"%4\" elapsed_ms=\"%5\" "
                                  "piece_frames=\"%6\" total_frames=\"%7\" piece=\"%8\" location=\"%9\" ")
                       .arg(indented ? QStringLiteral("  ") : QString())
                       .arg(slot.id)
                       .arg(attr(slot.state), attr(slot.elapsedText))
                       .arg(slot.elapsedMs)
                       .arg(slot.pieceFrames)
                       .arg(slot.totalFrames)
                       .arg(slot.piece)
                       .arg(attr(slot.location));
    text += QStringLiteral("delayed=\"%1\" bytes=\"%2\" file=\"%3\" warning=\"%4\" ")
                .arg(slot.delayedCount)
                .arg(slot.bytesWritten)
                .arg(attr(slot.filePath), attr(slot.warning));
    if (!uid.isEmpty())
        text += QStringLiteral("uid=\"%1\" ").arg(attr(uid));
    text += QStringLiteral("/>");
    return line(text);
}

QByteArray TcpProtocol::progressBlock(const QString& uid, const QList<SlotSnapshot>& slotList)
{
    QByteArray out = line(QStringLiteral("<progress uid=\"%1\">").arg(attr(uid)));
    for (const SlotSnapshot& slot : slotList)
        out += progressLine(slot, QString(), true);
    out += line(QStringLiteral("<progress/>"));
    return out;
}

QByteArray TcpProtocol::warningEvent(int slot, const QString& message)
{
    return line(QStringLiteral("<warning slot=\"%1\" message=\"%2\" />").arg(slot).arg(attr(message)));
}

QByteArray TcpProtocol::stateLine(const SlotSnapshot& slot, const QString& uid, bool indented)
{
    QString text = QStringLiteral("%1<state slot=\"%2\" word=\"%3\" label=\"%4\" busy=\"%5\" wall_ms=\"%6\" ")
                       .arg(indented ? QStringLiteral("  ") : QString())
                       .arg(slot.id)
                       .arg(attr(slot.stateWord), attr(slot.stateLabel))
                       .arg(slot.busy ? 1 : 0)
                       .arg(slot.wallMs);
    text += QStringLiteral("recorded_ms=\"%1\" dropped_frames=\"%2\" dropping_percent=\"%3\" warning=\"%4\" ")
                .arg(slot.elapsedMs)
                .arg(slot.droppedFrames)
                .arg(slot.droppingPercent)
                .arg(attr(slot.warning));
    text += QStringLiteral("folder=\"%1\" location=\"%2\" low_space=\"%3\" ")
                .arg(attr(slot.currentFolder), attr(slot.location))
                .arg(slot.lowSpace ? 1 : 0);
    if (!uid.isEmpty())
        text += QStringLiteral("uid=\"%1\" ").arg(attr(uid));
    text += QStringLiteral("/>");
    return line(text);
}

QByteArray TcpProtocol::stateBlock(const QString& uid, const QList<SlotSnapshot>& slotList)
{
    QByteArray out = line(QStringLiteral("<state uid=\"%1\">").arg(attr(uid)));
    for (const SlotSnapshot& slot : slotList)
        out += stateLine(slot, QString(), true);
    out += line(QStringLiteral("<state/>"));
    return out;
}

QByteArray TcpProtocol::warningClearedEvent(int slot, const QString& message)
{
    return line(QStringLiteral("<warning_cleared slot=\"%1\" message=\"%2\" />").arg(slot).arg(attr(message)));
}

QByteArray TcpProtocol::historyBlock(const QString& uid, const SlotSnapshot& slot)
{
    QByteArray out = line(QStringLiteral("<history slot=\"%1\" uid=\"%2\">").arg(slot.id).arg(attr(uid)));
    for (const SlotSnapshot::HistoryEntry& entry : slot.history)
        out += line(QStringLiteral("  <event time=\"%1\" text=\"%2\" />")
                        .arg(entry.time.toString(Qt::ISODateWithMs), attr(entry.text)));
    out += line(QStringLiteral("<history/>"));
    return out;
}

QByteArray TcpProtocol::recordingsBlock(const QString& uid, const QJsonArray& records)
{
    QByteArray out = line(QStringLiteral("<recordings uid=\"%1\">").arg(attr(uid)));
    for (const QJsonValue& value : records) {
        const QJsonObject record = value.toObject();
        out += line(QStringLiteral("  <record source=\"%1\" slot=\"%2\" start=\"%3\" stop=\"%4\" frames=\"%5\" "
                                   "gap_frames=\"%6\" pieces=\"%7\" stop_reason=\"%8\" path=\"%9\" />")
                        .arg(attr(record.value(QLatin1String("source")).toString()))
                        .arg(record.value(QLatin1String("slot")).toInt())
                        .arg(attr(record.value(QLatin1String("start")).toString()),
                            attr(record.value(QLatin1String("stop")).toString()))
                        .arg(qint64(record.value(QLatin1String("frames")).toDouble()))
                        .arg(qint64(record.value(QLatin1String("gapFrames")).toDouble()))
                        .arg(record.value(QLatin1String("pieces")).toArray().size())
                        .arg(attr(record.value(QLatin1String("stopReason")).toString()),
                            attr(record.value(QLatin1String("record")).toString())));
    }
    out += line(QStringLiteral("<recordings/>"));
    return out;
}

void TcpProtocol::handleLine(const QByteArray& line, Backend& backend)
{
    QXmlStreamReader reader(line);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString uid = attributes.value(QLatin1String("uid")).toString();
        const uint slot = slotId(attributes.value(QLatin1String("slot")).toString());
        QString result = CommandResult::commandUnsupported;

        if (name == QLatin1String("auth")) {
            backend.write(resultLine(backend.authenticate(attributes.value(QLatin1String("key")).toString()), uid));
            continue;
        }
        if (!backend.admitted()) {
            backend.write(resultLine(CommandResult::accessKeyRequired, uid));
            continue;
        }
        if (name == QLatin1String("recording_start")) {
            result = backend.recordingStart(slot);
        } else if (name == QLatin1String("recording_stop")) {
            result = backend.recordingStop(slot);
        } else if (name == QLatin1String("connect")) {
            result = backend.connectSource(slot, attributes.value(QLatin1String("source")).toString());
        } else if (name == QLatin1String("disconnect")) {
            result = backend.disconnectSource(slot);
        } else if (name == QLatin1String("listen")) {
            result = backend.listenOn(slot);
        } else if (name == QLatin1String("listen_off")) {
            result = backend.listenOff();
        } else if (name == QLatin1String("sources")) {
            backend.write(sourcesBlock(uid, backend.sourceNames()));
            continue;
        } else if (name == QLatin1String("status")) {
            const QList<SlotSnapshot> slotList = backend.slotSnapshots();
            if (slot == 0)
                backend.write(statusBlock(uid, slotList));
            else if (slot - 1 < uint(slotList.size()))
                backend.write(slotLine(slot, slotList.at(int(slot - 1)), uid, false));
            else
                backend.write(resultLine(CommandResult::slotIdInvalid, uid));
            continue;
        } else if (name == QLatin1String("progress")) {
            const QList<SlotSnapshot> slotList = backend.slotSnapshots();
            if (!attributes.hasAttribute(QLatin1String("slot")))
                backend.write(progressBlock(uid, slotList));
            else if (slot - 1 < uint(slotList.size()))
                backend.write(progressLine(slotList.at(int(slot - 1)), uid, false));
            else
                backend.write(resultLine(CommandResult::slotIdInvalid, uid));
            continue;
        } else if (name == QLatin1String("state") || name == QLatin1String("history")) {
            const QList<SlotSnapshot> slotList = backend.slotSnapshots();
            const bool history = name == QLatin1String("history");
            if (!history && !attributes.hasAttribute(QLatin1String("slot")))
                backend.write(stateBlock(uid, slotList));
            else if (slot - 1 >= uint(slotList.size()))
                backend.write(resultLine(CommandResult::slotIdInvalid, uid));
            else if (history)
                backend.write(historyBlock(uid, slotList.at(int(slot - 1))));
            else
                backend.write(stateLine(slotList.at(int(slot - 1)), uid, false));
            continue;
        } else if (name == QLatin1String("state_subscribe") || name == QLatin1String("state_unsubscribe")) {
            backend.setStateSubscribed(name == QLatin1String("state_subscribe"));
            result = CommandResult::success;
        } else if (name == QLatin1String("recordings")) {
            backend.write(recordingsBlock(uid, backend.recordings()));
            continue;
        } else if (name == QLatin1String("progress_subscribe")) {
            backend.setProgressSubscribed(true);
            result = CommandResult::success;
        } else if (name == QLatin1String("progress_unsubscribe")) {
            backend.setProgressSubscribed(false);
            result = CommandResult::success;
        } else if (name == QLatin1String("tally_subscribe")) {
            backend.setTallySubscribed(true);
            result = CommandResult::success;
        } else if (name == QLatin1String("tally_unsubscribe")) {
            backend.setTallySubscribed(false);
            result = CommandResult::success;
        } else if (name == QLatin1String("recording_subscribe")) {
            backend.setRecordingSubscribed(true);
            result = CommandResult::success;
        } else if (name == QLatin1String("recording_unsubscribe")) {
            backend.setRecordingSubscribed(false);
            result = CommandResult::success;
        }
        backend.write(resultLine(result, uid));
    }
}
