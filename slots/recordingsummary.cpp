#include "slots/recordingsummary.h"

#include "slots/recordingtelemetry.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlocations.h"

#include <QSet>
#include <QVariantMap>

#include <map>

RecordingSummary::RecordingSummary(SlotListModel* slotList, QObject* parent)
    : QObject(parent)
    , m_slots(slotList)
{
    m_timer.setInterval(2000);
    connect(&m_timer, &QTimer::timeout, this, &RecordingSummary::update);
    m_timer.start();
}

QString RecordingSummary::durationText(qint64 seconds)
{
    if (seconds < 0)
        return {};
    if (seconds >= 48 * 3600)
        return QStringLiteral("%1 days").arg(seconds / 86400);
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    return QStringLiteral("%1 min").arg(seconds / 60);
}

QVariantList RecordingSummary::summarize(const QList<Recording>& recordings)
{
    struct Drive {
        qint64 freeBytes = 0;
        double bytesPerSecond = 0.0;
        bool settled = true;
    };
    std::map<QString, Drive> drives;
    for (const Recording& recording : recordings) {
        Drive& drive = drives[recording.drive];
        drive.freeBytes = recording.freeBytes;
        drive.bytesPerSecond += recording.bytesPerSecond;
        drive.settled = drive.settled && recording.settled;
    }
    QVariantList list;
    for (const auto& [name, drive] : drives) {
        const qint64 seconds
            = drive.settled && drive.bytesPerSecond > 0.0 ? qint64(double(drive.freeBytes) / drive.bytesPerSecond) : -1;
        const double gigabytes = double(drive.freeBytes) / 1e9;
        QString text = QStringLiteral("Drive ") + name + QStringLiteral(": ")
            + QString::number(gigabytes, 'f', gigabytes < 10 ? 1 : 0) + QStringLiteral(" GB");
        if (seconds >= 0)
            text += QStringLiteral(", ") + durationText(seconds) + QStringLiteral(" left");
        else if (!drive.settled)
            text += QStringLiteral(", ") + estimatingText();
        list.append(QVariantMap { { QStringLiteral("drive"), name }, { QStringLiteral("freeGigabytes"), gigabytes },
            { QStringLiteral("secondsLeft"), seconds }, { QStringLiteral("text"), text } });
    }
    return list;
}

void RecordingSummary::update()
{
    QList<Recording> recordings;
    QSet<const Slot*> seen;
    int count = 0;
    if (m_slots) {
        for (Slot* slot : m_slots->allSlots()) {
            const RecordingTelemetry* telemetry = slot->telemetry();
            const auto state = telemetry ? telemetry->stateValue() : RecordingTelemetry::State::Idle;
            if (state != RecordingTelemetry::State::Recording && state != RecordingTelemetry::State::Stalled)
                continue;
            ++count;
            // The drive written to, as its drive monitor last measured it.
            const SlotLocations* locations = slot->locations();
            Recording recording;
            recording.drive = locations->drive().isEmpty() ? locations->currentFolder() : locations->drive();
            recording.freeBytes = qint64(double(locations->freeGigabytes()) * 1e9);
            RateWindow& rate = m_samples[slot];
            rate.add(telemetry->elapsedMs(), telemetry->bytesWritten());
            recording.bytesPerSecond = rate.bytesPerSecond();
            recording.settled = rate.settled();
            recording.slot = slot;
            recordings.append(recording);
            seen.insert(slot);
        }
    }
    for (auto it = m_samples.begin(); it != m_samples.end();)
        it = seen.contains(it.key()) ? std::next(it) : m_samples.erase(it);
    const QVariantList drives = summarize(recordings);
    QHash<QString, qint64> secondsLeft;
    for (const QVariant& drive : drives)
        secondsLeft.insert(drive.toMap().value(QStringLiteral("drive")).toString(),
            drive.toMap().value(QStringLiteral("secondsLeft")).toLongLong());
    for (const Recording& recording : recordings)
        recording.slot->texts()->setSecondsLeft(secondsLeft.value(recording.drive, -1));
    for (Slot* slot : m_slots ? m_slots->allSlots() : QList<Slot*>()) {
        if (!seen.contains(slot))
            slot->texts()->setSecondsLeft(-1);
    }
    if (count == m_recordingCount && drives == m_drives)
        return;
    m_recordingCount = count;
    m_drives = drives;
    emit changed();
}
