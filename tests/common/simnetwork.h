#pragma once

#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

// The simulated network: a sources file, by default in the test's private folder, that the runtime
// reads from NDI_SIM_SOURCES (set by use() before the runtime is first touched).
namespace NdiSim
{
inline QString path()
{
    return TestEnv::root() + QStringLiteral("/sources.json");
}
// Whole or not at all: the runtime never reads half a file.
inline void writeText(const QByteArray& text, const QString& file = path())
{
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly) && out.write(text) == text.size())
        out.commit();
}
inline void write(const QJsonArray& sources, const QString& file = path())
{
    writeText(QJsonDocument(QJsonObject { { "sources", sources } }).toJson(), file);
}
inline void use(const QJsonArray& sources = {})
{
    write(sources), qputenv("NDI_SIM_SOURCES", path().toLocal8Bit());
}
inline QJsonObject video(int width, int height, const QString& format = QStringLiteral("UYVY"),
    const QString& pattern = QStringLiteral("moving"), const QString& color = QStringLiteral("#808080"),
    double fps = 25)
{
    return { { "width", width }, { "height", height }, { "fps", fps }, { "format", format }, { "aspect", 0 },
        { "pattern", pattern }, { "color", color } };
}
inline QJsonObject tone(double peak, double frequency = 1000)
{
    return { { "frequency", frequency }, { "peak", peak } };
}
inline QJsonObject source(
    const QString& name, const QJsonValue& video, const QJsonValue& audio, const QString& url = {})
{
    QJsonObject object { { "name", name }, { "video", video }, { "audio", audio } };
    if (!url.isEmpty())
        object.insert(QStringLiteral("url"), url);
    return object;
}
// Small pictures, cheap enough for several recordings at once on two cores.
inline QJsonObject small(const QString& name, int fps = 25, const QString& url = {})
{
    return source(name,
        video(320, 180, QStringLiteral("UYVY"), QStringLiteral("moving"), QStringLiteral("#808080"), fps), tone(0.5),
        url);
}
} // namespace NdiSim
