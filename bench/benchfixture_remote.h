#pragma once

#include "app/settingsmodel.h"
#include "audio/slotlistaudiohelper.h"
#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QStandardPaths>
#include <QTcpServer>

#include <memory>

// The objects the remote servers stand on, as the application makes them: grid slots (four unless
// told) and a few sources. Settings live in Qt's test locations, never the user's.
struct RemoteBenchFixture {
    explicit RemoteBenchFixture(int slotCount = 4)
    {
        QStandardPaths::setTestModeEnabled(true);
        sources = std::make_unique<SourcesModel>();
        Slot::setSourcesModel(sources.get());
        model = std::make_unique<SlotListModel>();
        for (int i = 0; i < slotCount; ++i)
            model->append(new Slot());
        recorder = std::make_unique<SlotListRecorder>(model.get());
        audio = std::make_unique<SlotListAudioHelper>(model.get());
        for (int i = 1; i <= 4; ++i)
            sources->sourceAdded(QStringLiteral("BENCH (Camera %1)").arg(i));
    }
    ~RemoteBenchFixture()
    {
        audio.reset();
        recorder.reset();
        model.reset();
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
    }

    std::unique_ptr<SourcesModel> sources;
    std::unique_ptr<SlotListModel> model;
    std::unique_ptr<SlotListRecorder> recorder;
    std::unique_ptr<SlotListAudioHelper> audio;
};
