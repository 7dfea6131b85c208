#include "slots/recordingtelemetry.h"

#include <QFileInfo>

#include <algorithm>

RecordingTelemetry::RecordingTelemetry(QObject* parent)
    : QObject(parent)
{
    m_announce.setSingleShot(true);
    connect(&m_announce, &QTimer::timeout, this, &RecordingTelemetry::announce);
}

QString RecordingTelemetry::fileName() const
{
    return QFileInfo(m_filePath).fileName();
}

QString RecordingTelemetry::stateName(State state)
{
    switch (state) {
    case State::Waiting: return QStringLiteral("waiting");
    case State::Recording: return QStringLiteral("recording");
    case State::Stalled: return QStringLiteral("stalled");
    case State::Failed: return QStringLiteral("failed");
    case State::Idle: break;
    }
    return QStringLiteral("idle");
}

QString RecordingTelemetry::clockText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void RecordingTelemetry::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    announce();
}

void RecordingTelemetry::begin()
{
    m_elapsedMs = 0;
    m_pieceFrames = 0;
    m_totalFrames = 0;
    m_filePath.clear();
    m_piece = 0;
    m_delayedCount = 0;
    m_bytesWritten = 0;
    m_warning.clear();
    announce();
}

void RecordingTelemetry::setPiece(int piece, const QString& path, const QString& location)
{
    m_piece = piece;
    m_filePath = path;
    m_location = location;
    m_pieceFrames = 0;
    announce();
}

void RecordingTelemetry::setProgress(qint64 elapsedMs, qint64 pieceFrames, qint64 totalFrames)
{
    m_elapsedMs = elapsedMs;
    m_pieceFrames = pieceFrames;
    m_totalFrames = totalFrames;
    touch();
}

void RecordingTelemetry::countDelay()
{
    ++m_delayedCount;
    touch();
}

void RecordingTelemetry::setWarning(const QString& warning)
{
    m_warning = warning;
    announce();
}

void RecordingTelemetry::touch()
{
    if (m_announce.isActive())
        return;
    // At most two announcements a second, however often the figures change.
    const qint64 since = m_lastAnnounce.isValid() ? m_lastAnnounce.elapsed() : minimumGapMs;
    m_announce.start(int(std::clamp<qint64>(minimumGapMs - since, 0, minimumGapMs)));
}

void RecordingTelemetry::announce()
{
    if (m_lastAnnounce.isValid() && m_lastAnnounce.elapsed() < minimumGapMs && sender() != &m_announce) {
        touch();
        return;
    }
    m_announce.stop();
    m_lastAnnounce.start();
    // The file's size is read only when it is announced: a stat twice a second at most.
    if (!m_filePath.isEmpty() && m_state != State::Idle)
        m_bytesWritten = QFileInfo(m_filePath).size();
    Q_EMIT changed();
}
