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

public:
    explicit SlotListRecorder(SlotListModel* slotList, QObject* parent = nullptr);

    bool isRecordingAll() const { return m_isRecordingAll; }
    // A waiting slot does not count: only confirmed recordings.
    bool isRecordingAny() const;

public Q_SLOTS:
    // The walks behind toggleRecordingAll, also used by the remote commands for all slots.
    void startAll();
    void stopAll();
    void toggleRecordingAll();
    void setIsRecordingAll(bool isRecordingAll);

Q_SIGNALS:
    void isRecordingAllChanged(bool isRecordingAll);

private:
    bool m_isRecordingAll = false;
    QPointer<SlotListModel> m_slotList;
};
