#include "tests/common/probe.h"

#include <QDir>
#include <QProcess>

namespace E2E
{

ProbeResult probe(const QString& file)
{
    ProbeResult result;
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
            QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
            QStringLiteral("format=duration:stream=nb_read_frames,width,height"), QStringLiteral("-of"),
            QStringLiteral("default=nw=1"), file });
    if (!ffprobe.waitForFinished(120000)) {
        result.errors = QStringLiteral("ffprobe did not finish");
        return result;
    }
    result.errors = QString::fromUtf8(ffprobe.readAllStandardError()).trimmed();
    for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
        if (line.startsWith("duration="))
            result.duration = line.mid(9).toDouble();
        else if (line.startsWith("nb_read_frames="))
            result.videoFrames = line.mid(15).toLongLong();
        else if (line.startsWith("width=") || line.startsWith("height="))
            (line[0] == 'w' ? result.width : result.height) = line.mid(line.indexOf('=') + 1).toInt();
    }
    result.ok = ffprobe.exitCode() == 0 && result.errors.isEmpty() && result.videoFrames > 0 && result.duration > 0.0;
    if (!result.ok && result.errors.isEmpty())
        result.errors = QStringLiteral("no decodable video (exit %1)").arg(ffprobe.exitCode());
    return result;
}

QStringList streamTypes(const QString& file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_type"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), file });
    if (!ffprobe.waitForFinished(60000))
        return {};
    return QString::fromUtf8(ffprobe.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList movFiles(const QString& folder)
{
    QStringList files;
    for (const QString& name :
        QDir(folder).entryList({ QStringLiteral("*.mov") }, QDir::Files | QDir::Hidden, QDir::Name))
        files << QDir(folder).filePath(name);
    return files;
}

double audioPeakDb(const QString& file)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { QStringLiteral("-nostats"), QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a"),
            QStringLiteral("-af"), QStringLiteral("astats=measure_perchannel=none"), QStringLiteral("-f"),
            QStringLiteral("null"), QStringLiteral("-") });
    const QByteArray log = ffmpeg.waitForFinished(60000) ? ffmpeg.readAllStandardError() : QByteArray();
    const qsizetype at = log.lastIndexOf("Peak level dB: ");
    return at < 0 ? qQNaN() : log.mid(at + 15, log.indexOf('\n', at) - at - 15).trimmed().toDouble();
}

} // namespace E2E
