#pragma once

#include "ndi/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTcpSocket>

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

// Either control server on the port listens where the settings say: on every interface (127.0.0.2
// reaches it), or on this machine's 127.0.0.1 alone. Fails the running test otherwise.
void checkListeningAddress(SettingsModel* settings, quint16 port);

#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"

// A client of the TCP control port that collects what it receives.
class LineClient
{
public:
    bool connectTo(quint16 port);
    // Waits (processing events) until n complete lines arrived, then takes them with their ends.
    QByteArray takeLines(int n, int timeoutMs = 5000);
    QByteArray pending() const { return buffer; }
    void send(const QByteArray& bytes);

    QTcpSocket socket;
    QByteArray buffer;
};
