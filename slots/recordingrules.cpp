#include "slots/recordingrules.h"

#include "slots/commandresults.h"
#include "slots/recordingsummary.h"

#include <algorithm>
#include <cmath>

RecordingRules::SpaceAction RecordingRules::spaceAction(
    bool forB, bool abRecording, bool locationBSelected, float gigabytesA, float gigabytesB, float fillRate)
{
    const float here = forB ? gigabytesB : gigabytesA;
    const float other = forB ? gigabytesA : gigabytesB;
    // Low means less than 0.6 of what a drive fills per check; only the location being written
    // counts, and moving needs the other to hold more than 0.7 of it.
    if (!(fillRate * 0.6f > here))
        return SpaceAction::None;
    const bool writesB = abRecording && locationBSelected;
    if (forB != writesB)
        return SpaceAction::None;
    if (!abRecording)
        return SpaceAction::Stop;
    return other > fillRate * 0.7f ? SpaceAction::SwitchToOther : SpaceAction::Stop;
}

qint64 RecordingRules::nextSplitDueAfter(qint64 lastDue, qint64 interval, qint64 now)
{
    const qint64 due = lastDue + interval;
    if (due >= now)
        return due;
    return (now / interval + 1) * interval;
}

int RecordingRules::meterLevel(int rawLevel, float standardGain, float audioGain)
{
    // Double precision and clamping before any conversion: the silent-block value and any gain
    // stay in range.
    double offset = std::trunc((double(standardGain) + 20.0 + double(audioGain)) * -1.4);
    if (!std::isfinite(offset))
        offset = 0.0;
    const double level = double(rawLevel) - offset + 1.0;
    return int(std::clamp(level, 0.0, 100.0));
}

QString RecordingRules::startRefusal(bool connected, bool recording, bool viewingOnly, bool folderExists)
{
    if (!connected)
        return CommandResult::notConnected;
    if (recording)
        return CommandResult::alreadyRecording;
    if (viewingOnly)
        return CommandResult::viewingOnly;
    if (!folderExists)
        return CommandResult::folderMissing;
    return {};
}

QString RecordingRules::formatLabel(const QString& recorded, const QString& received, bool fullRes)
{
    if (!recorded.isEmpty())
        return recorded;
    if (received.isEmpty() || fullRes)
        return received;
    return received + QStringLiteral(" preview");
}

QString RecordingRules::gainText(float gain)
{
    // Shown as rounded, so a gain that rounds to 0.0 dB is no gain.
    if (std::abs(gain) < 0.05f)
        return {};
    return QStringLiteral("Gain %1%2 dB").arg(gain > 0 ? QStringLiteral("+") : QString()).arg(gain, 0, 'f', 1);
}

QString RecordingRules::driveText(float gigabytes, qint64 secondsLeft)
{
    const QString space = QString::number(gigabytes, 'f', gigabytes < 10 ? 1 : 0) + QStringLiteral(" GB free, ");
    return space
        + (secondsLeft >= 0 ? RecordingSummary::durationText(secondsLeft) + QStringLiteral(" left")
                            : RecordingSummary::estimatingText());
}
