#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// When a running recording splits: every interval from its start, on that grid even when a split
// came late. Times are ms of a monotonic clock, so a change of the wall clock moves nothing.
class SplitSchedule : public QObject
{
    Q_OBJECT

public:
    explicit SplitSchedule(QObject* parent = nullptr);

    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // At the start of a recording; no splits when interval is 0 or less.
    void start(qint64 intervalMs);
    // After a split: the next one on the grid, or none when splitting was switched off meanwhile.
    void advance(qint64 intervalMs);
    void stop();

    qint64 nextDue() const { return m_nextDue; } // ms since the start; 0 when none is due
    quint16 splits() const { return m_splits; }
    const QTimer& timer() const { return m_timer; }

Q_SIGNALS:
    void due();

private:
    void arm(qint64 inMs);

    std::function<qint64()> m_clock;
    QTimer m_timer;
    qint64 m_startMs = 0;
    qint64 m_nextDue = 0;
    quint16 m_splits = 0;
};
