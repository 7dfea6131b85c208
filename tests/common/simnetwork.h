#pragma once

#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QStringList>

// The simulated network of a test: a sources file in the test's private folder. Every test process
// points NDI_SIM_SOURCES at it before the NDI runtime is first used.
namespace NdiSim
{

inline QString path()
{
    return TestEnv::root() + QStringLiteral("/sources.json");
}

inline void writeText(const QByteArray& text)
{
    // Written whole, so the runtime never reads half a file.
    QSaveFile file(path());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text);
        file.commit();
    }
}

inline void write(const QJsonArray& sources)
{
    writeText(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
}

inline void use()
{
    write(QJsonArray());
    qputenv("NDI_SIM_SOURCES", path().toLocal8Bit());
}

inline QJsonObject video(int width, int height, const QString& format = QStringLiteral("UYVY"),
    const QString& pattern = QStringLiteral("moving"), const QString& color = QStringLiteral("#808080"),
    double fps = 25.0)
{
    return QJsonObject { { QStringLiteral("width"), width }, { QStringLiteral("height"), height },
        { QStringLiteral("fps"), fps }, { QStringLiteral("format"), format }, { QStringLiteral("aspect"), 0 },
        { QStringLiteral("pattern"), pattern }, { QStringLiteral("color"), color } };
}

inline QJsonObject tone(double peak, double frequency = 1000.0)
{
    return QJsonObject { { QStringLiteral("frequency"), frequency }, { QStringLiteral("peak"), peak } };
}

inline QJsonObject source(
    const QString& name, const QJsonValue& video, const QJsonValue& audio, const QString& url = QString())
{
    QJsonObject object { { QStringLiteral("name"), name }, { QStringLiteral("video"), video },
        { QStringLiteral("audio"), audio } };
    if (!url.isEmpty())
        object.insert(QStringLiteral("url"), url);
    return object;
}

} // namespace NdiSim
