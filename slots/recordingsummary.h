#pragma once

#include "slots/ratewindow.h"

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
    // "text" ("Drive /srv: 412 GB, 5 h 20 min left"; "estimating time left" while a rate settles).
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
        // The rate has been measured long enough to tell the time left.
        bool settled = true;
    };
    static QVariantList summarize(const QList<Recording>& recordings);
    static QString durationText(qint64 seconds);
    static QString estimatingText() { return QStringLiteral("estimating time left"); }

public Q_SLOTS:
    void update();

Q_SIGNALS:
    void changed();

private:
    SlotListModel* const m_slots;
    QTimer m_timer;
    int m_recordingCount = 0;
    QVariantList m_drives;
    // Per slot: the sizes its pieces had at the last looks.
    QHash<const Slot*, RateWindow> m_samples;
};
