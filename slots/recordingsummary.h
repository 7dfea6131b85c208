#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

class Slot;
class SlotListModel;

// The window's summary line: how many slots record, and for every drive being recorded to its
// free space and how long that lasts at the rate the recordings on it write. Main thread.
class RecordingSummary : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int recordingCount READ recordingCount NOTIFY changed)
    // One map per drive: "drive" (its mount point), "freeGigabytes", "secondsLeft" (-1 unknown),
    // "text" ("Drive /srv: 412 GB, 5 h 20 min left").
    Q_PROPERTY(QVariantList drives READ drives NOTIFY changed)

public:
    explicit RecordingSummary(SlotListModel* slotList, QObject* parent = nullptr);

    int recordingCount() const { return m_recordingCount; }
    QVariantList drives() const { return m_drives; }

    // One recording: where it writes, the drive's free bytes, and how fast it writes.
    struct Recording {
        QString drive;
        qint64 freeBytes = 0;
        double bytesPerSecond = 0.0;
        Slot* slot = nullptr;
    };
    static QVariantList summarize(const QList<Recording>& recordings);
    static QString durationText(qint64 seconds);

public Q_SLOTS:
    void update();

Q_SIGNALS:
    void changed();

private:
    SlotListModel* const m_slots;
    QTimer m_timer;
    int m_recordingCount = 0;
    QVariantList m_drives;
    // Per slot: the piece's size at the last look, when, and the rate it grew at.
    struct Sample {
        qint64 bytes = 0;
        qint64 atMs = 0;
        double bytesPerSecond = 0.0;
    };
    QHash<const Slot*, Sample> m_samples;
};
