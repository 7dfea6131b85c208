#include "slots/splitschedule.h"

#include "app/logger.h"
#include "slots/recordingrules.h"

#include <algorithm>
#include <limits>

SplitSchedule::SplitSchedule(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SplitSchedule::due);
}

void SplitSchedule::arm(qint64 inMs)
{
    m_timer.start(int(std::clamp<qint64>(inMs, 0, std::numeric_limits<int>::max())));
}

void SplitSchedule::start(qint64 intervalMs)
{
    m_startMs = m_clock();
    m_splits = 0;
    m_nextDue = 0;
    if (intervalMs > 0) {
        m_nextDue = intervalMs;
        arm(intervalMs);
    }
}

void SplitSchedule::advance(qint64 intervalMs)
{
    ++m_splits;
    if (intervalMs <= 0) {
        stop();
        return;
    }
    const qint64 now = m_clock() - m_startMs;
    const qint64 due = RecordingRules::nextSplitDueAfter(m_nextDue, intervalMs, now);
    if (due != m_nextDue + intervalMs)
        Logger::write(QStringLiteral("Time inconsitency"));
    m_nextDue = due;
    arm(due - now);
}

void SplitSchedule::stop()
{
    m_timer.stop();
    m_nextDue = 0;
}
