#include "remote/apiserver.h"

#include "audio/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/commandresults.h"
#include "slots/continuityrecord.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QDebug>

ApiServer::ApiServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
    SourcesModel* sources, QObject* parent)
    : QObject(parent)
    , m_slots(slotsModel)
    , m_audioHelper(audioHelper)
    , m_recorder(recorder)
    , m_sources(sources)
{
}

QList<Slot*> ApiServer::allSlots() const
{
    return m_slots->allSlots();
}

Slot* ApiServer::slotFor(uint slot) const
{
    const QList<Slot*> list = allSlots();
    // Unsigned on purpose: id 0 wraps to the largest index and is refused with the rest.
    const quint32 index = quint32(slot) - 1u;
    if (index >= quint32(list.size()))
        return nullptr;
    return list.at(int(index));
}

SlotSnapshot ApiServer::snapshotOf(const Slot* slot)
{
    return slot->snapshot();
}

QList<SlotSnapshot> ApiServer::slotSnapshots() const
{
    QList<SlotSnapshot> out;
    const QList<Slot*> list = allSlots();
    out.reserve(list.size());
    for (int i = 0; i < list.size(); ++i) {
        SlotSnapshot s = snapshotOf(list.at(i));
        s.id = uint(i + 1);
        out << s;
    }
    return out;
}

QStringList ApiServer::sourceNames() const
{
    QStringList names;
    const int count = m_sources->rowCount();
    for (int row = 0; row < count; ++row)
        names << m_sources->sourceAt(row);
    return names;
}

bool ApiServer::isRecordingAll() const
{
    return m_recorder->isRecordingAll();
}

QStringList ApiServer::recordingFolders() const
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

QJsonArray ApiServer::recordingsIn(const QStringList& folders)
{
    return ContinuityRecord::latest(folders, 50);
}

QString ApiServer::recordingStart(uint slot)
{
    if (slot != 0) {
        Slot* target = slotFor(slot);
        return target ? target->startRecording() : CommandResult::slotIdInvalid;
    }
    return m_recorder->startAll() ? CommandResult::success : CommandResult::alreadyRecording;
}

QString ApiServer::recordingStop(uint slot)
{
    if (slot != 0) {
        Slot* target = slotFor(slot);
        return target ? target->stopRecording(Slot::User) : CommandResult::slotIdInvalid;
    }
    return m_recorder->stopAll() ? CommandResult::success : CommandResult::notRecording;
}

QString ApiServer::checkAccessKey(const QString& expected, const QString& given)
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

QString ApiServer::connectSource(uint slot, QString source)
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

QString ApiServer::renameSlot(uint slot, QString name)
{
    Slot* target = slotFor(slot);
    if (!target)
        return CommandResult::slotIdInvalid;
    target->setDisplayName(name);
    return CommandResult::success;
}

QString ApiServer::disconnectSource(uint slot)
{
    qDebug() << "Api: disconnect";
    Slot* target = slotFor(slot);
    return target ? target->disconnectSource() : CommandResult::slotIdInvalid;
}

QString ApiServer::listenOn(uint slot)
{
    Slot* target = slotFor(slot);
    if (!target)
        return CommandResult::slotIdInvalid;
    m_audioHelper->startListening(target);
    return CommandResult::success;
}

QString ApiServer::listenOff()
{
    m_audioHelper->stopListening();
    return CommandResult::success;
}
