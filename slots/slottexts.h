#pragma once

#include <QObject>
#include <QString>

class Slot;

// The texts a slot's cell shows beside its state, formatted from the slot's facts: the picture's
// format, the gain, the drive's free space and time left while recording, and the last events.
// Main thread only.
class SlotTexts : public QObject
{
    Q_OBJECT
    // The format the cell shows: the source's, or the preview's marked as such.
    Q_PROPERTY(QString formatLabel READ formatLabel NOTIFY changed)
    // "Gain +3.0 dB"; empty at 0 dB.
    Q_PROPERTY(QString gainText READ gainText NOTIFY changed)
    // While recording: free space and time left on the drive written to ("412 GB free, 5 h 20 min left").
    Q_PROPERTY(QString driveText READ driveText NOTIFY changed)
    // The last events of the slot, one "hh:mm:ss text" line each, oldest first.
    Q_PROPERTY(QString historyText READ historyText NOTIFY changed)

public:
    // Follows the slot's changes; the slot is its parent, so it never outlives it.
    explicit SlotTexts(Slot& slot);

    QString formatLabel() const;
    QString gainText() const;
    QString driveText() const;
    QString historyText() const;
    // Seconds the drive being recorded to lasts at the rate it fills; -1 while unknown or idle.
    qint64 secondsLeft() const { return m_secondsLeft; }
    void setSecondsLeft(qint64 seconds);

Q_SIGNALS:
    void changed();

private:
    const Slot& m_slot;
    qint64 m_secondsLeft = -1;
};
