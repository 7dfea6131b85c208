#include "remote/commandtable.h"

#include "slots/commandresults.h"

#include <algorithm>

namespace
{

using Target = CommandTable::Target;
using Arguments = CommandTable::Arguments;
using Answer = CommandTable::Answer;
using Subscription = CommandTable::Subscription;

template <Subscription what, bool subscribed> QString subscribe(Target& target, const Arguments&)
{
    target.setSubscribed(what, subscribed);
    return CommandResult::success;
}

constexpr int slotOnly = CommandTable::SlotArgument;

const CommandTable::Command commands[] = {
    { "recording_start", CommandTable::Both, slotOnly, Answer::Result,
        [](Target& t, const Arguments& a) { return t.recordingStart(a.slot); } },
    { "recording_stop", CommandTable::Both, slotOnly, Answer::Result,
        [](Target& t, const Arguments& a) { return t.recordingStop(a.slot); } },
    { "connect", CommandTable::Both, CommandTable::SlotArgument | CommandTable::SourceArgument, Answer::Result,
        [](Target& t, const Arguments& a) { return t.connectSource(a.slot, a.source); } },
    { "rename", CommandTable::Http, CommandTable::SlotArgument | CommandTable::NameArgument, Answer::Result,
        [](Target& t, const Arguments& a) { return t.renameSlot(a.slot, a.name); } },
    { "disconnect", CommandTable::Both, slotOnly, Answer::Result,
        [](Target& t, const Arguments& a) { return t.disconnectSource(a.slot); } },
    { "listen", CommandTable::Both, slotOnly, Answer::Result,
        [](Target& t, const Arguments& a) { return t.listenOn(a.slot); } },
    { "listen_off", CommandTable::Both, CommandTable::NoArguments, Answer::Result,
        [](Target& t, const Arguments&) { return t.listenOff(); } },
    { "sources", CommandTable::Both, CommandTable::NoArguments, Answer::Sources, nullptr },
    { "status", CommandTable::Both, slotOnly, Answer::Status, nullptr },
    { "progress", CommandTable::Both, slotOnly, Answer::Progress, nullptr },
    { "state", CommandTable::Both, slotOnly, Answer::State, nullptr },
    { "history", CommandTable::Both, slotOnly, Answer::History, nullptr },
    { "recordings", CommandTable::Both, CommandTable::NoArguments, Answer::Recordings, nullptr },
    { "state_subscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::State, true> },
    { "state_unsubscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::State, false> },
    { "progress_subscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Progress, true> },
    { "progress_unsubscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Progress, false> },
    { "tally_subscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Tally, true> },
    { "tally_unsubscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Tally, false> },
    { "recording_subscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Recording, true> },
    { "recording_unsubscribe", CommandTable::Tcp, CommandTable::NoArguments, Answer::Result,
        subscribe<Subscription::Recording, false> },
};

} // namespace

const CommandTable::Command* CommandTable::find(QStringView name, Server server)
{
    for (const Command& command : commands) {
        if ((command.servers & server) && name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

uint CommandTable::slotId(QStringView text)
{
    bool ok = false;
    const uint id = text.toUInt(&ok);
    return ok ? id : 0;
}

int CommandTable::slotIndex(uint slot, qsizetype count)
{
    // Unsigned on purpose: id 0 wraps to the largest index and is refused with the rest.
    const uint index = slot - 1u;
    return index < quint64(count) ? int(index) : -1;
}
