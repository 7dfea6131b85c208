#include "tests/common/probe.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace E2E
{

QJsonObject jsonFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

std::tuple<int, QByteArray, QByteArray> run(const QString& program, const QString& arguments, const QString& file)
{
    QProcess p;
    p.start(program, arguments.split(' ').replaceInStrings("FILE", file));
    const bool done = p.waitForFinished(120000);
    return { done ? p.exitCode() : -1, p.readAllStandardOutput(), done ? p.readAllStandardError() : "did not finish" };
}

ProbeResult probe(const QString& file)
{
    const auto [exitCode, out, err] = run("ffprobe",
        "-v error -count_frames -select_streams v:0 -show_entries format=duration:stream=nb_read_frames,width,height "
        "-of json FILE",
        file);
    const QJsonObject json = QJsonDocument::fromJson(out).object(), video = json["streams"][0].toObject();
    ProbeResult r { false, json["format"]["duration"].toString().toDouble(),
        video["nb_read_frames"].toString().toLongLong(), video["width"].toInt(), video["height"].toInt(),
        QString::fromUtf8(err).trimmed() };
    if (!(r.ok = exitCode == 0 && r.errors.isEmpty() && r.videoFrames > 0 && r.duration > 0.0) && r.errors.isEmpty())
        r.errors = QStringLiteral("no decodable video (exit %1)").arg(exitCode);
    return r;
}

StreamTimes streamTimes(const QString& file)
{
    const QByteArray out = std::get<1>(run("ffprobe",
        "-v error -show_entries stream=codec_type,codec_tag_string,duration:stream_tags=timecode -of json FILE", file));
    StreamTimes times;
    for (const QJsonValue& stream : QJsonDocument::fromJson(out).object()["streams"].toArray()) {
        const QString type = stream["codec_type"].toString();
        const double duration = stream["duration"].toString().toDouble();
        if (type == "video" || type == "audio")
            (type == "video" ? times.video : times.audio) = duration;
        if (stream["codec_tag_string"].toString() == "tmcd")
            times.timecode = stream["tags"]["timecode"].toString();
    }
    return times;
}

QStringList movFiles(const QString& folder)
{
    const QStringList names = QDir(folder).entryList({ "*.mov" }, QDir::Files | QDir::Hidden, QDir::Name);
    return QStringList(names).replaceInStrings(QRegularExpression("^"), folder + '/');
}

double audioPeakDb(const QString& file)
{
    const QByteArray log
        = std::get<2>(run("ffmpeg", "-nostats -i FILE -map 0:a -af astats=measure_perchannel=none -f null -", file));
    const qsizetype at = log.lastIndexOf("Peak level dB: ");
    return at < 0 ? qQNaN() : log.mid(at + 15, log.indexOf('\n', at) - at - 15).trimmed().toDouble();
}

} // namespace E2E
