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
    using Answer = CommandTable::Answer;
    QXmlStreamReader reader(line);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString uid = attributes.value(QLatin1String("uid")).toString();

        if (name == QLatin1String("auth")) {
            backend.write(resultLine(backend.authenticate(attributes.value(QLatin1String("key")).toString()), uid));
            continue;
        }
        if (!backend.admitted()) {
            backend.write(resultLine(CommandResult::accessKeyRequired, uid));
            continue;
        }
        const CommandTable::Command* command = CommandTable::find(name, CommandTable::Tcp);
        if (!command) {
            backend.write(resultLine(CommandResult::commandUnsupported, uid));
            continue;
        }
        CommandTable::Arguments arguments;
        arguments.hasSlot = attributes.hasAttribute(QLatin1String("slot"));
        arguments.slot = CommandTable::slotId(attributes.value(QLatin1String("slot")));
        if (command->arguments & CommandTable::SourceArgument)
            arguments.source = attributes.value(QLatin1String("source")).toString();
        if (command->arguments & CommandTable::NameArgument)
            arguments.name = attributes.value(QLatin1String("name")).toString();

        if (command->answer == Answer::Result) {
            backend.write(resultLine(command->run(backend, arguments), uid));
        } else if (command->answer == Answer::Sources) {
            backend.write(sourcesBlock(uid, backend.sourceNames()));
        } else if (command->answer == Answer::Recordings) {
            backend.write(recordingsBlock(uid, backend.recordings()));
        } else {
            const QList<SlotSnapshot> slotList = backend.slotSnapshots();
            // Status asks for all slots with slot 0 (or none); the others by leaving "slot" out.
            const bool all = command->answer == Answer::Status ? arguments.slot == 0
                : command->answer == Answer::History           ? false
                                                               : !arguments.hasSlot;
            const int index = CommandTable::slotIndex(arguments.slot, slotList.size());
            if (all) {
                backend.write(command->answer == Answer::Status ? statusBlock(uid, slotList)
                        : command->answer == Answer::Progress   ? progressBlock(uid, slotList)
                                                                : stateBlock(uid, slotList));
            } else if (index < 0) {
                backend.write(resultLine(CommandResult::slotIdInvalid, uid));
            } else {
                const SlotSnapshot& slot = slotList.at(index);
                backend.write(command->answer == Answer::Status ? slotLine(arguments.slot, slot, uid, false)
                        : command->answer == Answer::Progress   ? progressLine(slot, uid, false)
                        : command->answer == Answer::History    ? historyBlock(uid, slot)
                                                                : stateLine(slot, uid, false));
            }
        }
    }
}
