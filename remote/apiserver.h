#pragma once

#include "slots/slotsnapshot.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class Slot;
class SlotListAudioHelper;
class SlotListModel;
class SlotListRecorder;
class SourcesModel;

// The one place where remote commands touch the slots. Both servers derive from it and put the
// result texts into their own replies; every operation runs on the main thread.
class ApiServer : public QObject
{
    Q_OBJECT

public:
    ApiServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
        SourcesModel* sources, QObject* parent = nullptr);

    // Read on the main thread for the status and sources answers of both servers.
    QList<SlotSnapshot> slotSnapshots() const;
    QStringList sourceNames() const;
    bool isRecordingAll() const;
    // Every folder a slot may record into, each once.
    QStringList recordingFolders() const;
    // The newest recordings' continuity records in those folders (any thread: files only).
    static QJsonArray recordingsIn(const QStringList& folders);

    static SlotSnapshot snapshotOf(const Slot* slot);
    // Whether a client that gave `given` may use a server whose key is `expected` (any thread):
    // success, or the reason it may not. An empty key lets everyone in.
    static QString checkAccessKey(const QString& expected, const QString& given);

    // The meta-object order of the seven operations is part of the interface (the HTTP server
    // invokes them by name), so nothing may be declared before them.
public Q_SLOTS:
    QString recordingStart(uint slot);
    QString recordingStop(uint slot);
    QString connectSource(uint slot, QString source);
    QString renameSlot(uint slot, QString name);
    QString disconnectSource(uint slot);
    QString listenOn(uint slot);
    QString listenOff();

protected:
    // Null when the id names no slot; id 0 names none.
    Slot* slotFor(uint slot) const;
    QList<Slot*> allSlots() const;

    SlotListModel* const m_slots;
    SlotListAudioHelper* const m_audioHelper;
    SlotListRecorder* const m_recorder;
    SourcesModel* const m_sources;
};
