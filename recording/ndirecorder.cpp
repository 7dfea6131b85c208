#include "recording/ndirecorder.h"

#include "app/logger.h"
#include "ndi/ndifind.h"
#include "ndi/xmlelementreader.h"
#include "recording/processlifetime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <chrono>

namespace
{

QString g_programFolder;

// Paths handed to a process recently, with the time: names have a resolution of one second, and a
// process may not have created its file yet when the next one is armed.
QHash<QString, qint64> g_claimedPaths;

// "name (number).mov": another file of the same source and second.
QString numberedPath(const QString& folder, QString name, int number)
{
    name.insert(name.size() - 4, QStringLiteral(" (%1)").arg(number));
    return QDir(folder).absoluteFilePath(name);
}

// Main thread only, like every controller.
int g_runningPrograms = 0;

qint64 attributeInt(const XmlElementInfo& element, const char* name)
{
    bool ok = false;
    const qint64 value = element.attributes.value(QLatin1String(name)).toLongLong(&ok);
    return ok ? value : 0;
}

const QByteArray lineEnd = QByteArrayLiteral("\r\n");

// File systems take names of at most 255 bytes (Windows: 255 UTF-16 units, never more than the
// UTF-8 bytes). Around the source name go "_yyyy-MM-dd_hh-mm-ss" (20), a number of ours and one the
// program may add when the name is taken meanwhile (" (9999)" each) and the longest ending of the
// files named after a piece, the record's ".recording.json" (15).
constexpr qsizetype maxNamePartBytes = 255 - 20 - 2 * 7 - 15;

} // namespace

NDIRecorder::NDIRecorder(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<NDIRecorder::RecordingError>("NDIRecorder::RecordingError");
    m_watch.setInterval(250);
    connect(&m_watch, &QTimer::timeout, this, &NDIRecorder::watch);
}

NDIRecorder::~NDIRecorder()
{
    if (!m_process)
        return;
    QProcess* process = m_process;
    tellToQuit(process, m_limits.exitGrace);
    // At shutdown no event loop may run again to send the command; a closing pipe would end the
    // program as well, but the command is the orderly way.
    if (process->state() == QProcess::Running)
        process->waitForBytesWritten(100);
}

int NDIRecorder::runningPrograms()
{
    return g_runningPrograms;
}

QString NDIRecorder::programFileName()
{
    return QStringLiteral("NewTek NDI Record.exe");
}

void NDIRecorder::setProgramFolder(const QString& folder)
{
    g_programFolder = folder;
}

QString NDIRecorder::programPath()
{
    const QString folder = g_programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : g_programFolder;
    return QDir(folder).filePath(programFileName());
}

QString NDIRecorder::fileNamePart(const QString& sourceName)
{
    // Only what would leave the folder or cannot be created; the rest of the name stays readable.
#ifdef Q_OS_WIN
    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
#else
    static const QString forbidden = QStringLiteral("/\\");
#endif
    QString part = sourceName;
    for (QChar& c : part) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || forbidden.contains(c))
            c = QLatin1Char('_');
    }
    // Cut after the last whole character that fits; a surrogate pair is one character.
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < part.size(); ++i) {
        const bool pair = part.at(i).isHighSurrogate() && i + 1 < part.size() && part.at(i + 1).isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(part.at(i), part.at(i + 1)) : part.at(i).unicode();
        bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (bytes > maxNamePartBytes)
            return part.left(i);
        if (pair)
            ++i;
    }
    return part;
}

QString NDIRecorder::fileNameFor(const QString& sourceName, const QDateTime& time)
{
    return fileNamePart(sourceName) + QLatin1Char('_') + time.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"))
        + QStringLiteral(".mov");
}

QStringList NDIRecorder::argumentsFor(
    const QString& sourceName, const QString& outputPath, const QString& url, bool recordPreview)
{
    QStringList arguments { QStringLiteral("-i"), sourceName, QStringLiteral("-o"), outputPath };
    if (!url.isEmpty())
        arguments << QStringLiteral("-u") << url;
    if (!recordPreview)
        arguments << QStringLiteral("-nothumbnail");
    arguments << QStringLiteral("-noautostart");
    return arguments;
}

QByteArray NDIRecorder::startCommand()
{
    return QByteArrayLiteral("<start/>") + lineEnd;
}

QByteArray NDIRecorder::quitCommand()
{
    return QByteArrayLiteral("<quit/>") + lineEnd;
}

QByteArray NDIRecorder::levelCommand(float gain)
{
    return QByteArrayLiteral("<record_level gain=\"") + QString::number(double(gain), 'g', 6).toUtf8()
        + QByteArrayLiteral("\"/>") + lineEnd;
}

QByteArray NDIRecorder::chopCommand(const QString& path)
{
    return QByteArrayLiteral("<record_chop filename=\"") + path.toUtf8() + QByteArrayLiteral("\"/>") + lineEnd;
}

QString NDIRecorder::freePath(const QString& folder, const QString& name, const QStringList& taken)
{
    QString path = QDir(folder).absoluteFilePath(name);
    for (int number = 2; taken.contains(path) || QFileInfo::exists(path); ++number)
        path = numberedPath(folder, name, number);
    return path;
}

qint64 NDIRecorder::now()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void NDIRecorder::start(QString sourceName)
{
    if (!m_processes.isEmpty()) {
        QProcess* previous = m_processes.takeFirst();
        tellToQuit(previous, m_limits.exitGrace);
        m_recordingStarted = false;
    }

    auto* process = new QProcess;
    m_process = process;
    m_sourceName = sourceName;
    m_startFailure.clear();
    process->setProperty("generation", ++m_generation);
    resetSupervision();
    connect(process, &QProcess::errorOccurred, this, &NDIRecorder::errorOccurred);
    connect(process, &QProcess::started, this, &NDIRecorder::started);
    connect(process, &QIODevice::readyRead, this, &NDIRecorder::readyRead);
    // The current process ending on its own is reported; one told to quit is not.
    connect(process, &QProcess::finished, this, &NDIRecorder::finished);
    // Counted by the process itself, so that it stays right after the controller has let it go.
    connect(process, &QProcess::started, process, [] { ++g_runningPrograms; });
    connect(process, &QProcess::finished, process, [] { --g_runningPrograms; });
    process->setReadChannel(QProcess::StandardOutput);
    // Nobody reads the program's diagnostics; passed through, they cannot pile up in our memory
    // over a recording of many hours.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A recording process must not outlive us: on our death it is told to finish its file.
    ProcessLifetime::tieToApplication(process);

    m_processes.append(process);
    m_unsent.clear();
    m_fileName.clear();
    // Names handed out a moment ago may not be files yet.
    const qint64 t = now();
    for (auto it = g_claimedPaths.begin(); it != g_claimedPaths.end();)
        it = t - it.value() > 10000 ? g_claimedPaths.erase(it) : std::next(it);
    const QString folder = m_folder;
    const QString name = fileNameFor(sourceName, QDateTime::currentDateTime());
    const auto question = [folder, name, taken = QStringList(g_claimedPaths.keys())] {
        return QVariant(freePath(folder, name, taken));
    };
    const auto answer = [this, process](const QVariant& path) {
        if (process == m_process)
            launch(process, path.toString());
    };
    if (m_offload)
        m_offload(folder, question, process, answer);
    else
        answer(question());
}

void NDIRecorder::launch(QProcess* process, const QString& found)
{
    // Another slot may have claimed the same name while this one was asked.
    QString outputPath = found;
    for (int number = 2; g_claimedPaths.contains(outputPath); ++number)
        outputPath = numberedPath(QFileInfo(found).absolutePath(), QFileInfo(found).fileName(), number);
    g_claimedPaths.insert(outputPath, now());
    if (m_sourceName != m_shortenedLogged && fileNamePart(m_sourceName).size() < m_sourceName.size()) {
        m_shortenedLogged = m_sourceName;
        Logger::write(QStringLiteral("The source name %1 is too long for a file name; its files are named %2")
                          .arg(m_sourceName, QFileInfo(outputPath).fileName()));
    }
    m_fileName = QFileInfo(outputPath).fileName();
    const QString url = NDIFind::instance()->urlAddress(m_sourceName);
    process->setProperty("launched", true);
    process->start(programPath(), argumentsFor(m_sourceName, outputPath, url, m_recordPreview), QIODevice::ReadWrite);
    for (const QByteArray& command : std::exchange(m_unsent, {}))
        write(command);
}

bool NDIRecorder::processAlive() const
{
    return m_process && (!m_process->property("launched").toBool() || m_process->state() != QProcess::NotRunning);
}

void NDIRecorder::stop()
{
    if (!m_process)
        return;
    QProcess* process = m_process;
    m_processes.removeAll(process);
    m_process = nullptr;
    tellToQuit(process, m_limits.exitGrace);
    resetSupervision();
}

void NDIRecorder::restart()
{
    if (m_process)
        start(m_sourceName);
}

void NDIRecorder::startRecording()
{
    if (!m_process)
        return;
    if (!m_recordingStarted) {
        m_startSentAt = now();
        m_lastError = m_startFailure;
        m_watch.start();
    }
    m_recordingStarted = true;
    write(startCommand());
    // The failure came when the process was armed; whoever waits for this start hears it now.
    if (!m_startFailure.isEmpty() && m_process->state() == QProcess::NotRunning)
        Q_EMIT recordingError(General, m_startFailure);
}

void NDIRecorder::setRecordLevel(float gain)
{
    m_recordLevel = gain;
    m_recordLevelSet = true;
    write(levelCommand(gain));
}

void NDIRecorder::setFolder(QString folder)
{
    m_folder = folder;
}

void NDIRecorder::setRecordPreview(bool enabled)
{
    m_recordPreview = enabled;
}

void NDIRecorder::chop(QString folder)
{
    m_folder = folder;
    if (!m_recordingStarted) {
        start(m_sourceName);
        return;
    }
    // A program still waiting for its file's name has nothing to split yet.
    if (m_process && !m_fileName.isEmpty())
        write(chopCommand(QDir(m_folder).absoluteFilePath(m_fileName)));
}

void NDIRecorder::write(const QByteArray& command)
{
    // A process that is still starting buffers the command; one that has ended cannot take it.
    if (m_process && !m_process->property("launched").toBool())
        m_unsent.append(command);
    else if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->write(command);
}

void NDIRecorder::tellToQuit(QProcess* process, int graceMs)
{
    if (process == m_process)
        m_process = nullptr;
    // From now on the process only finishes its file; it no longer speaks for this controller, and
    // it deletes itself once it has exited, even after the controller is gone.
    disconnect(process, &QIODevice::readyRead, this, &NDIRecorder::readyRead);
    disconnect(process, &QProcess::started, this, &NDIRecorder::started);
    const int generation = process->property("generation").toInt();
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    // Its last report still says how many frames the finished piece holds.
    connect(process, &QIODevice::readyRead, this, [this, process, generation] {
        while (process->canReadLine()) {
            const XmlElementInfo element = readXmlElement(process->readLine());
            if (element.name == QLatin1String("recording")) {
                process->setProperty("frames", attributeInt(element, "no_frames"));
                process->setProperty("timecode", attributeInt(element, "timecode"));
            } else if (element.name == QLatin1String("record_stopped")) {
                process->setProperty("doneReported", true);
                Q_EMIT processDone(
                    generation, attributeInt(element, "no_frames"), attributeInt(element, "last_timecode"));
            }
        }
    });
    connect(process, &QProcess::finished, this, [this, process, generation] {
        if (!process->property("doneReported").toBool() && process->property("frames").isValid())
            Q_EMIT processDone(
                generation, process->property("frames").toLongLong(), process->property("timecode").toLongLong());
    });
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    QTimer::singleShot(graceMs, process, [process, graceMs] {
        if (process->state() == QProcess::NotRunning)
            return;
        Logger::write(QStringLiteral("Recording program %1 has not exited %2 s after it was told to quit; ending it")
                          .arg(process->processId())
                          .arg(graceMs / 1000));
        process->kill();
    });
    process->write(quitCommand());
    // A stopped process could not read the command, nor end on our death.
    ProcessLifetime::resumeIfStopped(process);
}

void NDIRecorder::resetSupervision()
{
    m_watch.stop();
    m_confirmed = false;
    m_stalled = false;
    m_unconfirmedReported = false;
    m_lastAdvanceAt = now();
    m_lastFrames = -1;
}

void NDIRecorder::watch()
{
    if (!m_process || !m_recordingStarted) {
        m_watch.stop();
        return;
    }
    const qint64 t = now();
    if (!m_confirmed) {
        if (!m_unconfirmedReported && t - m_startSentAt >= m_limits.unconfirmed) {
            m_unconfirmedReported = true;
            Logger::write(QStringLiteral("Recording of %1 not confirmed %2 s after the start%3")
                              .arg(m_sourceName)
                              .arg(m_limits.unconfirmed / 1000)
                              .arg(m_lastError.isEmpty() ? QString() : QStringLiteral(": ") + m_lastError));
            Q_EMIT startUnconfirmed();
        }
        return;
    }
    // Without the source nothing can advance; only a program that stops reporting is stuck then.
    const bool present = !m_sourcePresent || m_sourcePresent();
    if (!present && m_process->property("reportedAt").isValid())
        m_lastAdvanceAt = std::max(m_lastAdvanceAt, m_process->property("reportedAt").toLongLong());
    const qint64 idle = t - m_lastAdvanceAt;
    if (!m_stalled && idle >= m_limits.stalled) {
        m_stalled = true;
        Logger::write(QStringLiteral("Recording stalled: %1 has written nothing for %2 s")
                          .arg(m_sourceName)
                          .arg(idle / 1000.0, 0, 'f', 1));
        Q_EMIT stalled();
    }
    if (idle >= m_limits.recover)
        replaceFrozenProcess();
}

void NDIRecorder::replaceFrozenProcess()
{
    QProcess* frozen = m_process;
    const int frozenGeneration = m_generation;
    Logger::write(QStringLiteral("Recording program %1 for %2 made no progress for %3 s; continuing in a new file")
                      .arg(frozen->processId())
                      .arg(m_sourceName)
                      .arg(m_limits.recover / 1000));
    m_processes.removeAll(frozen);
    tellToQuit(frozen, m_limits.quitGrace);
    recover();
    Q_EMIT replacedFrozen(frozenGeneration);
}

void NDIRecorder::recover()
{
    m_recordingStarted = false;
    start(m_sourceName);
    if (m_recordLevelSet)
        write(levelCommand(m_recordLevel));
    startRecording();
}

void NDIRecorder::errorOccurred()
{
    auto* process = qobject_cast<QProcess*>(sender());
    if (!process)
        return;
    Logger::write(QStringLiteral("Process Error: ") + process->errorString());
    if (process != m_process)
        return;
    Q_EMIT processCrashed();
    if (process->error() == QProcess::FailedToStart) {
        // Missing beside the executable, or not a program at all: the user's fix is to put it there.
        const QFileInfo program(process->program());
        m_startFailure = program.isFile() && program.isExecutable()
            ? QStringLiteral("The recording program could not be started (%1): %2")
                  .arg(QDir::toNativeSeparators(process->program()), process->errorString())
            : QStringLiteral("Recording program not found: ") + QDir::toNativeSeparators(process->program());
        Logger::write(m_startFailure);
        Q_EMIT recordingError(General, m_startFailure);
    }
}

void NDIRecorder::started() { }

void NDIRecorder::readyRead()
{
    QProcess* process = m_process;
    // A handler may replace or drop the process while we read.
    while (process && process == m_process && process->canReadLine())
        handleReport(process->readLine());
}

void NDIRecorder::handleReport(const QByteArray& line)
{
    const XmlElementInfo element = readXmlElement(line);
    const qint64 t = now();
    if (m_process)
        m_process->setProperty("reportedAt", t);
    if (element.name == QLatin1String("recording")) {
        const qint64 frames = attributeInt(element, "no_frames");
        if (frames > m_lastFrames) {
            m_lastFrames = frames;
            m_lastAdvanceAt = t;
            if (m_stalled) {
                m_stalled = false;
                Logger::write(QStringLiteral("Recording of %1 goes on").arg(m_sourceName));
                Q_EMIT resumed();
            }
        }
        Q_EMIT progressed(m_generation, frames, attributeInt(element, "timecode"));
    } else if (element.name == QLatin1String("record_started")) {
        m_confirmed = true;
        m_lastAdvanceAt = t;
        QString path = element.attributes.value(QLatin1String("filename")).toString();
        if (path.isEmpty())
            path = QDir(m_folder).absoluteFilePath(m_fileName);
        const int rateN = int(attributeInt(element, "frame_rate_n"));
        const int rateD = int(attributeInt(element, "frame_rate_d"));
        const QString reason = element.attributes.value(QLatin1String("reason")).toString();
        const QSize size(int(attributeInt(element, "width")), int(attributeInt(element, "height")));
        Q_EMIT recordingStarted();
        const bool timed = element.attributes.hasAttribute(QLatin1String("first_frame_time"));
        Q_EMIT pieceStarted(
            m_generation, path, rateN, rateD, size, reason, timed ? attributeInt(element, "first_frame_time") : -1);
    } else if (element.name == QLatin1String("record_stopped")) {
        // While we record, the program stopping by itself means it cannot write.
        if (m_recordingStarted && m_confirmed) {
            const QString reason
                = m_lastError.isEmpty() ? QStringLiteral("the recording program stopped writing") : m_lastError;
            Logger::write(QStringLiteral("Recording stopped by the recording program: ") + reason);
            m_recordingStarted = false;
            m_watch.stop();
            Q_EMIT processDone(
                m_generation, attributeInt(element, "no_frames"), attributeInt(element, "last_timecode"));
            Q_EMIT programStopped(m_generation, reason);
        }
    } else if (element.name == QLatin1String("record_error")) {
        Logger::write(QStringLiteral("Recording Error: ") + element.error);
        m_lastError = element.error;
        Q_EMIT recordingError(General, element.error);
    } else if (QString::fromUtf8(line).contains(QLatin1String("Something delayed everything."))) {
        Logger::write(QStringLiteral("Recording Error: Something delayed everything."));
        Q_EMIT recordingError(Delayed, QString());
    }
}

void NDIRecorder::finished(int exitCode)
{
    Q_UNUSED(exitCode)
    auto* process = qobject_cast<QProcess*>(sender());
    // A crash was already reported through errorOccurred.
    if (process && process == m_process && process->exitStatus() == QProcess::NormalExit)
        Q_EMIT processFinished();
}
