#include "slots/ratewindow.h"

void RateWindow::add(qint64 atMs, qint64 bytes)
{
    if (!m_looks.empty() && atMs <= m_looks.back().atMs)
        return;
    if (bytes < m_lastBytes)
        m_earlierPieces += m_lastBytes;
    m_lastBytes = bytes;
    m_looks.push_back({ atMs, m_earlierPieces + bytes });
    // The oldest look kept is the last one at least a window old, so the span reaches the full window.
    while (m_looks.size() > 2 && atMs - m_looks[1].atMs >= windowMs)
        m_looks.pop_front();
}

double RateWindow::bytesPerSecond() const
{
    if (m_looks.size() < 2)
        return 0.0;
    const Look& first = m_looks.front();
    const Look& last = m_looks.back();
    return double(last.bytes - first.bytes) * 1000.0 / double(last.atMs - first.atMs);
}

bool RateWindow::settled() const
{
    return m_looks.size() >= 2 && m_looks.back().atMs - m_looks.front().atMs >= settleMs;
}
