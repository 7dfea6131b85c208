#pragma once

#include "ndi/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"
#include "tests/common/controlclient.h"
#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"

#include <memory>

class SettingsModel;

// The objects the servers are built on, as start-up makes them: optional special slots first,
// then the grid slots, so that slot ids and slot numbers agree. Slot numbers count per process,
// so a test process makes one fixture and resets it between test functions.
class RemoteFixture
{
public:
    RemoteFixture(int gridSlots, bool withExtras);
    ~RemoteFixture();

    SettingsModel* settings() const;
    QList<Slot*> slotList() const { return model->allSlots(); }
    Slot* slot(int id) const { return slotList().at(id - 1); }
    // Every slot idle and unbound, tally 0, nobody listening, record-all off, names empty.
    void reset();
    // Bound for the command layer's purposes (no receiver needed to start a recording).
    void bind(int id, const QString& source);

    std::unique_ptr<SourcesModel> sources;
    std::unique_ptr<SlotListModel> model;
    std::unique_ptr<SlotListRecorder> recorder;
    std::unique_ptr<SlotListAudioHelper> audio;
};

// The settings and log words of one control server.
struct ServerSwitches {
    void (SettingsModel::*setEnabled)(bool);
    void (SettingsModel::*setPort)(ushort);
    QString name;
};

// What both servers do on port and enable changes, and where they listen, starting from a server
// listening on `port`; `port` follows the server. Fails the running test on the first fault.
void checkLifecycle(SettingsModel* settings, const ServerSwitches& server, quint16& port);
