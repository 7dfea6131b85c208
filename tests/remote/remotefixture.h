#pragma once

#include "app/settingsmodel.h"
#include "ndi/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"
#include "tests/common/controlclient.h"
#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"

#include <memory>

// The objects the servers are built on, as start-up makes them: optional special slots first,
// then the grid slots, so that slot ids and slot numbers agree. Slot numbers count per process,
// so a test process makes one fixture and resets it between test functions.
struct RemoteFixture {
    RemoteFixture(int gridSlots, bool withExtras);
    SettingsModel* settings() const { return SettingsModel::instance(); }
    Slot* slot(int id) const { return model->allSlots().at(id - 1); }
    void reset();
    // No receiver needed to start a recording.
    void bind(int id, const QString& source) { slot(id)->setConnectedSource(source), slot(id)->setIsConnected(true); }

    std::unique_ptr<SourcesModel> sources = std::make_unique<SourcesModel>();
    std::unique_ptr<SlotListModel> model = std::make_unique<SlotListModel>();
    std::unique_ptr<SlotListRecorder> recorder;
    std::unique_ptr<SlotListAudioHelper> audio;
};

// What both servers do on port and enable changes and where they listen, from a server listening
// on `port`, which follows the server. Fails the running test on the first fault.
void checkLifecycle(SettingsModel* settings, void (SettingsModel::*setEnabled)(bool),
    void (SettingsModel::*setPort)(ushort), const QString& name, quint16& port);
