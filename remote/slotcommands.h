#pragma once

#include "remote/commandtable.h"
#include "slots/slotsnapshot.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

class Slot;
class SlotListAudioHelper;
class SlotListModel;
class SlotListRecorder;
class SourcesModel;

// The one place where remote commands touch the slots, and what both servers read for their
// answers. Each server holds one; main thread only, apart from the static helpers.
class SlotCommands : public CommandTable::Target
{
public:
    SlotCommands(
        SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder, SourcesModel* sources);

    QString recordingStart(uint slot) override;
    QString recordingStop(uint slot) override;
    QString connectSource(uint slot, const QString& source) override;
    QString renameSlot(uint slot, const QString& name) override;
    QString disconnectSource(uint slot) override;
    QString listenOn(uint slot) override;
    QString listenOff() override;
    void setSubscribed(CommandTable::Subscription, bool) override { }

    // The full slot list in order: entry n - 1 is slot n, with id n.
    QList<SlotSnapshot> slotSnapshots() const;
    QStringList sourceNames() const;
    bool isRecordingAll() const;
    // Every folder a slot may record into, each once.
    QStringList recordingFolders() const;
    // Null when the id names no slot; id 0 names none.
    Slot* slotFor(uint slot) const;
    QList<Slot*> allSlots() const;
    SlotListRecorder* recorder() const { return m_recorder; }

    // The newest recordings' continuity records in the slots' folders, as last read.
    QJsonArray recordings() const;
    // Whether a client that gave `given` may use a server whose key is `expected` (any thread):
    // success, or the reason it may not. An empty key lets everyone in.
    static QString checkAccessKey(const QString& expected, const QString& given);

private:
    SlotListModel* const m_slots;
    SlotListAudioHelper* const m_audioHelper;
    SlotListRecorder* const m_recorder;
    SourcesModel* const m_sources;
};
