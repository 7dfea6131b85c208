#pragma once

#include <QtGlobal>

#include <deque>

// How fast a recording writes, over the last minute of looks at its size: a rate that follows the
// program's bursts makes the time left jump. A new piece (a smaller size) continues the count.
class RateWindow
{
public:
    static constexpr qint64 windowMs = 60000;
    // The rate is trusted once its looks span this long.
    static constexpr qint64 settleMs = 20000;

    void add(qint64 atMs, qint64 bytes);
    // Bytes per second over the window; 0 until two looks.
    double bytesPerSecond() const;
    bool settled() const;

private:
    struct Look {
        qint64 atMs;
        qint64 bytes;
    };
    std::deque<Look> m_looks;
    qint64 m_lastBytes = 0;
    qint64 m_earlierPieces = 0;
};
