#include "tests/ndi/recorderrun.h"

#include "tests/common/testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace
{

QString sourcesFile()
{
    return TestEnv::root() + QStringLiteral("/sources.json");
}

} // namespace

RecorderRun::RecorderRun(QObject* parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &RecorderRun::readReports);
    connect(
        &m_process, &QProcess::readyReadStandardError, this, [this] { m_stderr += m_process.readAllStandardError(); });
}

RecorderRun::~RecorderRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString RecorderRun::programPath()
{
    return TestEnv::binDir() + QStringLiteral("/NewTek NDI Record.exe");
}

void RecorderRun::setSources(const QByteArray& json)
{
    QFile file(sourcesFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(json);
}

void RecorderRun::start(const QStringList& arguments, const QProcessEnvironment& extra)
{
    QProcessEnvironment environment = TestEnv::childEnvironment(QStringLiteral("recorder"));
    environment.insert(QStringLiteral("NDI_SIM_SOURCES"), sourcesFile());
    for (const QString& key : extra.keys())
        environment.insert(key, extra.value(key));
    m_process.setProcessEnvironment(environment);
    m_process.start(programPath(), arguments);
}

void RecorderRun::send(const QByteArray& bytes)
{
    m_process.write(bytes);
}

void RecorderRun::readReports()
{
    m_pending += m_process.readAllStandardOutput();
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        m_reports << m_pending.left(end);
        m_pending.remove(0, end + 1);
    }
}

QByteArray RecorderRun::waitFor(const QString& name, int timeoutMs, int* index, int from)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (int i = from; i < m_reports.size(); ++i) {
            if (elementName(m_reports.at(i)) == name) {
                if (index)
                    *index = i;
                return m_reports.at(i);
            }
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return {};
        QTest::qWait(20);
        readReports();
    }
}

bool RecorderRun::waitForFrames(int frames, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (int i = m_reports.size() - 1; i >= 0; --i) {
            if (elementName(m_reports.at(i)) == QLatin1String("recording")
                && attributes(m_reports.at(i)).value(QStringLiteral("no_frames")).toInt() >= frames)
                return true;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
}

bool RecorderRun::waitForExit(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    const bool finished = m_process.waitForFinished(timeoutMs);
    readReports();
    return finished;
}

QMap<QString, QString> RecorderRun::attributes(const QByteArray& report)
{
    QMap<QString, QString> result;
    QXmlStreamReader reader(report);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            for (const QXmlStreamAttribute& a : reader.attributes())
                result.insert(a.name().toString(), a.value().toString());
            break;
        }
    }
    return result;
}

QString RecorderRun::elementName(const QByteArray& report)
{
    QXmlStreamReader reader(report);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            return reader.name().toString();
    }
    return {};
}

QJsonObject RecorderRun::probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
            QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_type,codec_name,pix_fmt,width,height,display_aspect_ratio,nb_read_frames,"
                           "sample_rate,channels,"
                           "sample_fmt:format=duration,format_name"),
            QStringLiteral("-of"), QStringLiteral("json"), path });
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return {};
    const QJsonObject all = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    QJsonObject result;
    for (const QJsonValue& stream : all.value(QStringLiteral("streams")).toArray()) {
        const QString type = stream.toObject().value(QStringLiteral("codec_type")).toString();
        if (!result.contains(type))
            result.insert(type, stream);
    }
    result.insert(QStringLiteral("duration"),
        all.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble());
    result.insert(
        QStringLiteral("format"), all.value(QStringLiteral("format")).toObject().value(QStringLiteral("format_name")));
    return result;
}

double RecorderRun::audioPeakDb(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-i"), path,
            QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-af"),
            QStringLiteral("astats=measure_perchannel=none"), QStringLiteral("-f"), QStringLiteral("null"),
            QStringLiteral("-") });
    if (!ffmpeg.waitForFinished(60000))
        return qQNaN();
    const QString log = QString::fromUtf8(ffmpeg.readAllStandardError());
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("Peak level dB: (-?[0-9.]+|-inf)")).match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : qQNaN();
}
