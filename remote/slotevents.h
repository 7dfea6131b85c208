#pragma once

#include "slots/slotsnapshot.h"

#include <QObject>
#include <QString>

#include <memory>

class SlotListModel;
class SlotListRecorder;
class SourcesModel;

// Listens to every slot, the record-all switch and the sources once, and tells both servers what
// changed: each slot event carries the slot's number and its snapshot taken once. Main thread.
class SlotEvents : public QObject
{
    Q_OBJECT
public:
    // The one instance for this slot list, shared by the servers: made for the first, gone with the
    // last, so it never outlives them into the slots' own end.
    static std::shared_ptr<SlotEvents> of(SlotListModel* slotList, SlotListRecorder* recorder, SourcesModel* sources);

Q_SIGNALS:
    void recordingChanged(int number, const SlotSnapshot& slot);
    void waitingChanged(int number, const SlotSnapshot& slot);
    void tallyChanged(int number, const SlotSnapshot& slot);
    void connectedSourceChanged(int number, const SlotSnapshot& slot);
    void displayNameChanged(int number, const SlotSnapshot& slot);
    void progressChanged(int number, const SlotSnapshot& slot);
    void warning(int number, const QString& message);
    void warningCleared(int number, const QString& message);
    void recordingAllChanged(bool state);
    void sourceAdded();

private:
    SlotEvents(SlotListModel* slotList, SlotListRecorder* recorder, SourcesModel* sources);
};
