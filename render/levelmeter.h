#pragma once

#include <QObject>
#include <QTimer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <functional>

// One cell's audio meter: a scale in dBFS, the peak of each channel held for a moment and a clip
// light that stays on long enough to be seen. Levels are the slot's meter positions, 0 to 100.
// Main thread.
class LevelMeter : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int leftLevel READ leftLevel WRITE setLeftLevel NOTIFY changed)
    Q_PROPERTY(int rightLevel READ rightLevel WRITE setRightLevel NOTIFY changed)
    Q_PROPERTY(int leftPeak READ leftPeak NOTIFY changed)
    Q_PROPERTY(int rightPeak READ rightPeak NOTIFY changed)
    Q_PROPERTY(bool clipped READ clipped NOTIFY changed)
    // Where full scale sits, as a fraction of the meter's height from its top.
    Q_PROPERTY(double fullScaleFraction READ fullScaleFraction CONSTANT)

public:
    using Clock = std::function<qint64()>;

    explicit LevelMeter(QObject* parent = nullptr);
    explicit LevelMeter(Clock clock, QObject* parent = nullptr);

    // A slot's meter position is 0.8 dB a step, full scale at 75 (gains included).
    static constexpr int fullScalePosition = 75;
    static constexpr qint64 peakHoldMs = 1500;
    static constexpr qint64 clipHoldMs = 3000;
    static double decibels(int position) { return 0.8 * (position - fullScalePosition); }
    static double fullScaleFraction() { return 1.0 - fullScalePosition / 100.0; }

    int leftLevel() const { return m_channels[0].level; }
    int rightLevel() const { return m_channels[1].level; }
    int leftPeak() const { return m_channels[0].peak; }
    int rightPeak() const { return m_channels[1].peak; }
    bool clipped() const { return m_clipAt >= 0; }

    void setLeftLevel(int level) { setLevel(0, level); }
    void setRightLevel(int level) { setLevel(1, level); }

    // The scale marks whose labels, labelHeight pixels tall, fit a meter height pixels tall
    // without touching: maps of "label" and "fraction" (from the top), the higher mark kept.
    Q_INVOKABLE QVariantList marks(double height, double labelHeight) const;

    // Lets held peaks fall and the clip light go out once their time is up.
    void refresh();

Q_SIGNALS:
    void changed();

private:
    struct Channel {
        int level = 0;
        int peak = 0;
        qint64 peakAt = -1;
    };
    void setLevel(int channel, int level);

    Clock m_clock;
    Channel m_channels[2];
    qint64 m_clipAt = -1;
    // Runs only while a peak is held or the clip light is on.
    QTimer m_timer;
};
