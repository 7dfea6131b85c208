#include "render/levelmeter.h"

#include <QElapsedTimer>
#include <QVariantMap>

#include <algorithm>

namespace
{

qint64 steadyMs()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

} // namespace

LevelMeter::LevelMeter(QObject* parent)
    : LevelMeter(steadyMs, parent)
{
}

LevelMeter::LevelMeter(Clock clock, QObject* parent)
    : QObject(parent)
    , m_clock(std::move(clock))
{
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &LevelMeter::refresh);
}

void LevelMeter::setLevel(int channel, int level)
{
    level = std::clamp(level, 0, 100);
    const qint64 now = m_clock();
    Channel& c = m_channels[channel];
    c.level = level;
    if (level >= c.peak || c.peakAt < 0 || now - c.peakAt >= peakHoldMs) {
        c.peak = level;
        c.peakAt = now;
    }
    if (level >= fullScalePosition)
        m_clipAt = now;
    if (!m_timer.isActive())
        m_timer.start();
    emit changed();
}

void LevelMeter::refresh()
{
    const qint64 now = m_clock();
    bool held = false;
    bool moved = false;
    for (Channel& c : m_channels) {
        if (c.peakAt >= 0 && now - c.peakAt >= peakHoldMs && c.peak != c.level) {
            c.peak = c.level;
            c.peakAt = now;
            moved = true;
        }
        held = held || c.peak != c.level;
    }
    if (m_clipAt >= 0 && now - m_clipAt >= clipHoldMs) {
        m_clipAt = -1;
        moved = true;
    }
    if (!held && m_clipAt < 0)
        m_timer.stop();
    if (moved)
        emit changed();
}

QVariantList LevelMeter::marks(double height, double labelHeight) const
{
    static const int decibelMarks[] = { 12, 6, 0, -6, -12, -20, -30, -40, -50 };
    QVariantList list;
    double lastY = -1e9;
    for (int db : decibelMarks) {
        const double fraction = 1.0 - (fullScalePosition + db / 0.8) / 100.0;
        const double y = fraction * height;
        if (y - lastY < labelHeight || y + labelHeight / 2 > height)
            continue;
        lastY = y;
        list.append(
            QVariantMap { { QStringLiteral("label"), db > 0 ? QStringLiteral("+%1").arg(db) : QString::number(db) },
                { QStringLiteral("fraction"), fraction } });
    }
    return list;
}
