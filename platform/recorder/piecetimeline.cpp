#include "piecetimeline.h"

#include <algorithm>

namespace
{

// round(value * mul / div) for div > 0, without overflow for epoch times.
int64_t mulDivRound(int64_t value, int64_t mul, int64_t div)
{
    const __int128 product = static_cast<__int128>(value) * mul;
    const __int128 half = div / 2;
    return static_cast<int64_t>(product >= 0 ? (product + half) / div : -((-product + half) / div));
}

} // namespace

void PieceTimeline::begin(int64_t origin, int rateN, int rateD, int64_t maxGap)
{
    m_origin = origin;
    m_removed = 0;
    m_rateN = std::max(1, rateN);
    m_rateD = std::max(1, rateD);
    m_maxGap = maxGap;
    m_lastSlot = -1;
}

int64_t PieceTimeline::frameTicks() const
{
    return std::max<int64_t>(1, ticksPerSecond * m_rateD / m_rateN);
}

int64_t PieceTimeline::slotAt(int64_t time) const
{
    return mulDivRound(time - m_origin - m_removed, m_rateN, ticksPerSecond * m_rateD);
}

int64_t PieceTimeline::timeOfSlot(int64_t slot) const
{
    return m_origin + m_removed + mulDivRound(slot, ticksPerSecond * m_rateD, m_rateN);
}

int64_t PieceTimeline::videoSlot(int64_t time)
{
    const int64_t next = m_lastSlot + 1;
    const int64_t expected = timeOfSlot(next);
    if (time - expected > m_maxGap || expected - time > m_maxGap)
        m_removed += time - expected;
    m_lastSlot = std::max(next, slotAt(time));
    return m_lastSlot;
}

int64_t PieceTimeline::audioPosition(int64_t time, int rate, int64_t written, int samples)
{
    if (rate <= 0)
        return written;
    const int64_t expected = m_origin + m_removed + mulDivRound(written, ticksPerSecond, rate);
    if (time - expected > m_maxGap || expected + mulDivRound(samples, ticksPerSecond, rate) - time > m_maxGap)
        m_removed += time - expected;
    return mulDivRound(time - m_origin - m_removed, rate, ticksPerSecond);
}
