#pragma once

#include <QObject>
#include <QPointer>

class SlotListModel;

// The record-all controller: starts or stops every bound slot at once. Its flag is its own state
// (what the last walk did), not derived from the slots.
class SlotListRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecordingAll READ isRecordingAll NOTIFY isRecordingAllChanged)
    Q_PROPERTY(bool isRecordingAny READ isRecordingAny)
    // Any slot recording or waiting for its start: what closing the window or stopping all would end.
    Q_PROPERTY(bool anyBusy READ anyBusy)

public:
    explicit SlotListRecorder(SlotListModel* slotList, QObject* parent = nullptr);

    bool isRecordingAll() const { return m_isRecordingAll; }
    // A waiting slot does not count: only confirmed recordings.
    bool isRecordingAny() const;
    bool anyBusy() const;

public Q_SLOTS:
    // Record-all, for the window and the remote commands alike: each starts (or stops) every
    // connected slot and turns record-all on (off); false, with nothing done, when it already is.
    bool startAll();
    bool stopAll();
    // Every recording stops, whether record-all started it or not.
    void stopEverything();
    void toggleRecordingAll();
    void setIsRecordingAll(bool isRecordingAll);

Q_SIGNALS:
    void isRecordingAllChanged(bool isRecordingAll);

private:
    bool m_isRecordingAll = false;
    QPointer<SlotListModel> m_slotList;
};
