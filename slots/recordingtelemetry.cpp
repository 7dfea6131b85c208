#include "slots/recordingtelemetry.h"

#include "storage/drivemonitorprovider.h"

#include <QFileInfo>

#include <algorithm>

RecordingTelemetry::RecordingTelemetry(const RecordingStateMachine* machine, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
{
    m_announce.setSingleShot(true);
    connect(&m_announce, &QTimer::timeout, this, &RecordingTelemetry::announce);
    connect(machine, &RecordingStateMachine::changed, this, &RecordingTelemetry::refresh);
}

QString RecordingTelemetry::state() const
{
    switch (stateValue()) {
    case State::Dropping:
    case State::NoSignal: return QStringLiteral("recording");
    case State::Idle: return QStringLiteral("idle");
    default: break;
    }
    return RecordingStateMachine::stateName(stateValue());
}

QString RecordingTelemetry::fileName() const
{
    return QFileInfo(filePath()).fileName();
}

QString RecordingTelemetry::clockText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void RecordingTelemetry::refresh()
{
    if (m_announce.isActive())
        return;
    // At most two announcements a second, however often the figures change; the first of a quiet
    // spell at once.
    const qint64 since = m_lastAnnounce.isValid() ? m_lastAnnounce.elapsed() : minimumGapMs;
    m_announce.start(int(std::clamp<qint64>(minimumGapMs - since, 0, minimumGapMs)));
}

void RecordingTelemetry::announce()
{
    m_announce.stop();
    m_lastAnnounce.start();
    // The file's size is asked only when it is announced, a stat twice a second at most, and shown
    // with the next announcement.
    const QString path = filePath();
    if (!path.isEmpty() && stateValue() != State::Idle) {
        DriveMonitorProvider::instance()->worker()->ask(
            QFileInfo(path).absolutePath(), QStringLiteral("size"), [path] { return QFileInfo(path).size(); }, this,
            [this](const QVariant& size) { m_bytesWritten = size.toLongLong(); });
    }
    Q_EMIT changed();
}
