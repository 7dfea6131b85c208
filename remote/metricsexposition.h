#pragma once

#include "slots/slotsnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The "/metrics" answer in the Prometheus text format (version 0.0.4), built from the slots'
// snapshots and a few facts of the process, so that it can be formatted on any thread.
class MetricsExposition
{
public:
    struct Process {
        QString version;
        qint64 startedMs = 0; // since 1970, UTC
        int recordingPrograms = 0;
        int tcpClients = 0;
        int eventStreams = 0;
    };

    static constexpr const char* contentType = "text/plain; version=0.0.4";
    // Every word a slot's state gauge is given for, in the order written.
    static const QStringList& stateWords();
    static QByteArray text(const QList<SlotSnapshot>& slotList, const Process& process);
};
