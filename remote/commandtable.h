#pragma once

#include <QString>
#include <QStringView>

// Every command of both control servers, each written once: its wire name, the arguments it reads,
// which server offers it, what it calls and what it answers. The servers only read the arguments
// off their wire and format the answer.
class CommandTable
{
public:
    enum Server { Tcp = 1, Http = 2, Both = Tcp | Http };
    enum Argument { NoArguments = 0, SlotArgument = 1, SourceArgument = 2, NameArgument = 4 };
    // A result text, or one of the reads each server formats in its own way.
    enum class Answer { Result, Sources, Status, Progress, State, History, Recordings };
    enum class Subscription { Tally, Recording, Progress, State };

    // The arguments as read off the wire; only those the command reads are filled in.
    struct Arguments {
        uint slot = 0;
        bool hasSlot = false; // "slot" given at all, even if unreadable
        QString source;
        QString name;
    };

    // What result commands act on: the slots, and a TCP client's subscriptions.
    class Target
    {
    public:
        virtual ~Target() = default;
        virtual QString recordingStart(uint slot) = 0;
        virtual QString recordingStop(uint slot) = 0;
        virtual QString connectSource(uint slot, const QString& source) = 0;
        virtual QString renameSlot(uint slot, const QString& name) = 0;
        virtual QString disconnectSource(uint slot) = 0;
        virtual QString listenOn(uint slot) = 0;
        virtual QString listenOff() = 0;
        // Only commands of the TCP port call this.
        virtual void setSubscribed(Subscription what, bool subscribed) = 0;
    };

    struct Command {
        const char* name;
        int servers; // Server bits
        int arguments; // Argument bits
        Answer answer;
        QString (*run)(Target& target, const Arguments& arguments); // Result answers only
    };

    // The command of that name the server offers, or null.
    static const Command* find(QStringView name, Server server);

    // "slot" as QString::toUInt reads it; anything it refuses is 0 (all slots or invalid).
    static uint slotId(QStringView text);
    // The index of slot id in a list of count slots, or -1: id 0 and ids past the end name none.
    static int slotIndex(uint slot, qsizetype count);
};
