#include "remote/slotcommands.h"

#include "audio/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/commandresults.h"
#include "slots/recordwriter.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QDebug>

SlotCommands::SlotCommands(
    SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder, SourcesModel* sources)
    : m_slots(slotsModel)
    , m_audioHelper(audioHelper)
    , m_recorder(recorder)
    , m_sources(sources)
{
    // Read now, so that the first client to ask is answered from the files.
    recordings();
}

QList<Slot*> SlotCommands::allSlots() const
{
    return m_slots->allSlots();
}

Slot* SlotCommands::slotFor(uint slot) const
{
    const QList<Slot*> list = allSlots();
    const int index = CommandTable::slotIndex(slot, list.size());
    return index < 0 ? nullptr : list.at(index);
}

QList<SlotSnapshot> SlotCommands::slotSnapshots() const
{
    QList<SlotSnapshot> out;
    const QList<Slot*> list = allSlots();
    out.reserve(list.size());
    for (int i = 0; i < list.size(); ++i) {
        SlotSnapshot s = list.at(i)->snapshot();
        s.id = uint(i + 1);
        out << s;
    }
    return out;
}

QStringList SlotCommands::sourceNames() const
{
    QStringList names;
    const int count = m_sources->rowCount();
    for (int row = 0; row < count; ++row)
        names << m_sources->sourceAt(row);
    return names;
}

bool SlotCommands::isRecordingAll() const
{
    return m_recorder->isRecordingAll();
}

QStringList SlotCommands::recordingFolders() const
{
    QStringList folders;
    for (const Slot* slot : allSlots()) {
        for (const QString& folder : slot->recordingFolders()) {
            if (!folder.isEmpty() && !folders.contains(folder))
                folders << folder;
        }
    }
    return folders;
}

QJsonArray SlotCommands::recordings() const
{
    return RecordWriter::instance()->latest(recordingFolders());
}

QString SlotCommands::recordingStart(uint slot)
{
    if (slot != 0) {
        Slot* target = slotFor(slot);
        return target ? target->startRecording() : CommandResult::slotIdInvalid;
    }
    return m_recorder->startAll() ? CommandResult::success : CommandResult::alreadyRecording;
}

QString SlotCommands::recordingStop(uint slot)
{
    if (slot != 0) {
        Slot* target = slotFor(slot);
        return target ? target->stopRecording(Slot::User) : CommandResult::slotIdInvalid;
    }
    return m_recorder->stopAll() ? CommandResult::success : CommandResult::notRecording;
}

QString SlotCommands::checkAccessKey(const QString& expected, const QString& given)
{
    if (expected.isEmpty())
        return CommandResult::success;
    if (given.isEmpty())
        return CommandResult::accessKeyRequired;
    // Every character compared, so the time taken tells nothing of how much was right.
    const QByteArray a = expected.toUtf8();
    const QByteArray b = given.toUtf8();
    int differ = a.size() ^ b.size();
    for (qsizetype i = 0; i < a.size(); ++i)
        differ |= a.at(i) ^ (i < b.size() ? b.at(i) : 0);
    return differ == 0 ? CommandResult::success : CommandResult::accessKeyWrong;
}

QString SlotCommands::connectSource(uint slot, const QString& source)
{
    qDebug() << "Api: connect";
    Slot* target = slotFor(slot);
    if (!target)
        return CommandResult::slotIdInvalid;
    // A slot bound to nothing would later "start" a recording that can only fail.
    if (source.trimmed().isEmpty())
        return CommandResult::sourceNameMissing;
    return target->connectSource(source);
}

QString SlotCommands::renameSlot(uint slot, const QString& name)
{
    Slot* target = slotFor(slot);
    if (!target)
        return CommandResult::slotIdInvalid;
    target->setDisplayName(name);
    return CommandResult::success;
}

QString SlotCommands::disconnectSource(uint slot)
{
    qDebug() << "Api: disconnect";
    Slot* target = slotFor(slot);
    return target ? target->disconnectSource() : CommandResult::slotIdInvalid;
}

QString SlotCommands::listenOn(uint slot)
{
    Slot* target = slotFor(slot);
    if (!target)
        return CommandResult::slotIdInvalid;
    m_audioHelper->startListening(target);
    return CommandResult::success;
}

QString SlotCommands::listenOff()
{
    m_audioHelper->stopListening();
    return CommandResult::success;
}
