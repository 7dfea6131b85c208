#pragma once

#include "app/settingsmodel.h"
#include "ndi/sourcesmodel.h"
#include "recording/ndirecorder.h"
#include "slots/slot.h"
#include "tests/common/simnetwork.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTest>

// The slots' world: sources A and B on the simulated network and in the sources list, the real
// recording program, an empty settings store, folders a and b as the global A/B locations.
namespace SlotTest
{
inline bool setUp(SourcesModel& sources)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
    QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    NDIRecorder::setProgramFolder(TestEnv::binDir());
    NdiSim::use({ NdiSim::small("A", 25, "127.0.0.1:5961"), NdiSim::small("B", 25, "127.0.0.1:5962") });
    QSettings().clear();
    SettingsModel::instance()->setLocation(TestEnv::makeFolder(QStringLiteral("a")));
    SettingsModel::instance()->setLocationB(TestEnv::makeFolder(QStringLiteral("b")));
    SettingsModel::instance()->setAbRecording(true);
    for (const char* name : { "A", "B" })
        sources.sourceAdded(QString::fromLatin1(name));
    Slot::setSourcesModel(&sources);
    return QFile::exists(NDIRecorder::programPath());
}
// The arguments of the slot's recording process (none without one), once its file has a name.
inline QStringList arguments(Slot& s)
{
    const auto process = [&s] { return s.recorder()->currentProcess(); };
    (void)QTest::qWaitFor([&] { return !process() || !process()->arguments().isEmpty(); }, 5000);
    return process() ? process()->arguments() : QStringList();
}
} // namespace SlotTest
