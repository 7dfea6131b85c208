#pragma once

#include "app/settingsmodel.h"
#include "ndi/ndirecorder.h"
#include "tests/common/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStringList>

// Shared set-up for the slot tests: the simulated NDI network, the real recording program and an
// isolated settings store.
namespace SlotTest
{

// Small pictures keep the recording program cheap on a shared machine.
inline QJsonObject sourceJson(const QString& name, int port)
{
    return QJsonObject {
        { QStringLiteral("name"), name },
        { QStringLiteral("url"), QStringLiteral("127.0.0.1:%1").arg(port) },
        { QStringLiteral("video"),
            QJsonObject { { QStringLiteral("width"), 320 }, { QStringLiteral("height"), 180 },
                { QStringLiteral("fps"), 25 }, { QStringLiteral("format"), QStringLiteral("UYVY") },
                { QStringLiteral("pattern"), QStringLiteral("moving") } } },
        { QStringLiteral("audio"),
            QJsonObject { { QStringLiteral("frequency"), 1000 }, { QStringLiteral("peak"), 0.5 } } },
        { QStringLiteral("tally"), QJsonObject { { QStringLiteral("program"), true } } },
    };
}

// Must run before anything creates the discovery instance.
inline void setUpNetwork(const QStringList& names)
{
    QJsonArray sources;
    int port = 5961;
    for (const QString& name : names)
        sources.append(sourceJson(name, port++));
    const QString path = TestEnv::root() + QStringLiteral("/network.json");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
    qputenv("NDI_SIM_SOURCES", QFile::encodeName(path));
}

inline void setUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
    QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    NDIRecorder::setProgramFolder(TestEnv::binDir());
}

inline bool recordingProgramExists()
{
    return QFile::exists(NDIRecorder::programPath());
}

inline void clearStore()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

// The arguments of the recording process the slot's controller holds now (empty without one).
inline QStringList currentArguments(NDIRecorder* recorder)
{
    return recorder->currentProcess() ? recorder->currentProcess()->arguments() : QStringList();
}

} // namespace SlotTest
