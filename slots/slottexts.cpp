#include "slots/slottexts.h"

#include "slots/slot.h"

SlotTexts::SlotTexts(Slot& slot)
    : QObject(&slot)
    , m_slot(slot)
{
    connect(&slot, &Slot::shownChanged, this, &SlotTexts::changed);
    connect(&slot, &Slot::audioGainChanged, this, &SlotTexts::changed);
}

void SlotTexts::setSecondsLeft(qint64 seconds)
{
    if (seconds == m_secondsLeft)
        return;
    m_secondsLeft = seconds;
    emit changed();
}

QString SlotTexts::driveText() const
{
    if (!m_slot.isRecording())
        return {};
    return RecordingRules::driveText(m_slot.freeGigabytes(), m_secondsLeft);
}

QString SlotTexts::formatLabel() const
{
    QString recorded;
    const ContinuityRecord* record = m_slot.continuityRecord();
    if (m_slot.isRecording() && record && !record->pieces().isEmpty()) {
        const ContinuityRecord::Piece& piece = record->pieces().last();
        if (piece.size.isValid() && piece.frameRateD > 0)
            recorded = SlotPicture::formatText(
                piece.size.width(), piece.size.height(), double(piece.frameRateN) / piece.frameRateD);
    }
    return RecordingRules::formatLabel(recorded, m_slot.videoFormat(), m_slot.isFullRes());
}

QString SlotTexts::gainText() const
{
    return RecordingRules::gainText(m_slot.audioGain());
}

QString SlotTexts::historyText() const
{
    QStringList lines;
    for (const RecordingStateMachine::HistoryEntry& entry : m_slot.machine()->history())
        lines << entry.time.toString(QStringLiteral("HH:mm:ss ")) + entry.text;
    return lines.join(QLatin1Char('\n'));
}
