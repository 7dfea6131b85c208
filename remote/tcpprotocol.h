#pragma once

#include "remote/commandtable.h"
#include "slots/slotsnapshot.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

// The line protocol of the TCP control port, apart from any socket: one line in, the commands it
// holds looked up in the command table and executed in order against a Backend, every reply handed to the Backend as
// complete bytes. Values written into lines are XML-escaped, so every line the server sends is well-formed XML.
class TcpProtocol
{
public:
    // A line without its end longer than this is never parsed; the server drops the client.
    static constexpr qsizetype maxLineLength = 64 * 1024;

    // What one client's line may act on. The TCP server implements it once per client.
    class Backend : public CommandTable::Target
    {
    public:
        virtual QStringList sourceNames() = 0;
        // The full slot list in order: entry n - 1 is slot n.
        virtual QList<SlotSnapshot> slotSnapshots() = 0;
        virtual QJsonArray recordings() = 0;
        // <auth key='...'/>: success, or why the key is not accepted.
        virtual QString authenticate(const QString& key) = 0;
        // Whether this client may give other commands (it has the key, or none is needed).
        virtual bool admitted() = 0;
        // Bytes for this client, one or more complete lines.
        virtual void write(const QByteArray& bytes) = 0;
    };

    // Parses one line (its end included or not) and executes every start element it holds, the
    // outer before the nested, up to the end of the line's document or its first XML error.
    static void handleLine(const QByteArray& line, Backend& backend);

    // The command table's reading of "slot".
    static uint slotId(const QString& text) { return CommandTable::slotId(text); }

    static QByteArray helloLine();
    static QByteArray resultLine(const QString& result, const QString& uid);
    static QByteArray sourcesBlock(const QString& uid, const QStringList& names);
    static QByteArray slotLine(uint id, const SlotSnapshot& slot, const QString& uid, bool indented);
    static QByteArray statusBlock(const QString& uid, const QList<SlotSnapshot>& slotList);
    static QByteArray recordingAllEvent(bool state);
    static QByteArray recordingEvent(int slot, bool state);
    static QByteArray tallyEvent(int slot, int tally);
    // A slot's recording telemetry: the reply to <progress slot='N'/> (with uid) and the event.
    static QByteArray progressLine(const SlotSnapshot& slot, const QString& uid, bool indented);
    static QByteArray progressBlock(const QString& uid, const QList<SlotSnapshot>& slotList);
    static QByteArray warningEvent(int slot, const QString& message);
    // What a slot shows (its state word and label, wall-clock and recorded time, frames lost): the
    // reply to <state slot='N'/> (with uid) and the event of state subscribers.
    static QByteArray stateLine(const SlotSnapshot& slot, const QString& uid, bool indented);
    static QByteArray stateBlock(const QString& uid, const QList<SlotSnapshot>& slotList);
    static QByteArray warningClearedEvent(int slot, const QString& message);
    // The slot's last events: <history slot uid>, one <event time text /> each, then <history/>.
    static QByteArray historyBlock(const QString& uid, const SlotSnapshot& slot);
    static QByteArray recordingsBlock(const QString& uid, const QJsonArray& records);

    // Text for a double-quoted attribute value that an XML reader reads back unchanged. Line
    // breaks and tabs become character references (they would end the line or be normalised
    // away); other control characters cannot appear in XML 1.0 at all and become U+FFFD.
    static QString escaped(const QString& value);
};
