#pragma once

#include <QJsonObject>
#include <QStringList>

#include <tuple>

namespace E2E
{

// ffprobe: ok when every frame of the video stream decodes without an error.
struct ProbeResult {
    bool ok = false;
    double duration = 0.0; // seconds (container)
    qint64 videoFrames = 0;
    int width = 0, height = 0;
    QString errors;
};
ProbeResult probe(const QString& file);
// How long each stream lasts (s; 0 when absent) and the time code track's start ("hh:mm:ss:ff", empty
// when there is none).
struct StreamTimes {
    double video = 0.0, audio = 0.0;
    QString timecode;
};
StreamTimes streamTimes(const QString& file);
QStringList movFiles(const QString& folder);
// A JSON file's object (a continuity record); empty when it cannot be read as one.
QJsonObject jsonFile(const QString& path);
// Exit code (-1 when it did not finish), stdout and stderr; FILE among the arguments is the file.
std::tuple<int, QByteArray, QByteArray> run(const QString& program, const QString& arguments, const QString& file);
// The overall audio peak in dBFS (float files may go above 0); NaN without audio.
double audioPeakDb(const QString& file);

} // namespace E2E
