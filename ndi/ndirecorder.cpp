#include "ndi/ndirecorder.h"

#include "app/logger.h"
#include "ndi/ndifind.h"
#include "ndi/xmlelementreader.h"

#include <QCoreApplication>
#include <QDir>

namespace
{

QString g_programFolder;

const QByteArray lineEnd = QByteArrayLiteral("\r\n");

} // namespace

NDIRecorder::NDIRecorder(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<NDIRecorder::RecordingError>("NDIRecorder::RecordingError");
}

NDIRecorder::~NDIRecorder()
{
    if (!m_process)
        return;
    QProcess* process = m_process;
    tellToQuit(process);
    // At shutdown no event loop may run again to send the command; a closing pipe would end the
    // program as well, but the command is the orderly way.
    if (process->state() == QProcess::Running)
        process->waitForBytesWritten(100);
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

void NDIRecorder::start(QString sourceName)
{
    if (!m_processes.isEmpty()) {
        QProcess* previous = m_processes.takeFirst();
        tellToQuit(previous);
        m_recordingStarted = false;
    }

    auto* process = new QProcess;
    m_process = process;
    m_sourceName = sourceName;
    connect(process, &QProcess::errorOccurred, this, &NDIRecorder::errorOccurred);
    connect(process, &QProcess::started, this, &NDIRecorder::started);
    connect(process, &QIODevice::readyRead, this, &NDIRecorder::readyRead);
    // The current process ending on its own is reported; one told to quit is not.
    connect(process, &QProcess::finished, this, &NDIRecorder::finished);
    process->setReadChannel(QProcess::StandardOutput);
    // Nobody reads the program's diagnostics; passed through, they cannot pile up in our memory
    // over a recording of many hours.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);

    m_fileName = fileNameFor(sourceName, QDateTime::currentDateTime());
    const QString outputPath = QDir(m_folder).absoluteFilePath(m_fileName);
    const QString url = NDIFind::instance()->urlAddress(sourceName);

    m_processes.append(process);
    process->start(programPath(), argumentsFor(sourceName, outputPath, url, m_recordPreview), QIODevice::ReadWrite);
}

void NDIRecorder::stop()
{
    if (!m_process)
        return;
    QProcess* process = m_process;
    m_processes.removeAll(process);
    m_process = nullptr;
    tellToQuit(process);
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
    m_recordingStarted = true;
    write(startCommand());
}

void NDIRecorder::setRecordLevel(float gain)
{
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
    if (m_process)
        write(chopCommand(QDir(m_folder).absoluteFilePath(m_fileName)));
}

void NDIRecorder::write(const QByteArray& command)
{
    // A process that is still starting buffers the command; one that has ended cannot take it.
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->write(command);
}

void NDIRecorder::tellToQuit(QProcess* process)
{
    if (process == m_process)
        m_process = nullptr;
    // From now on the process only finishes its file; it no longer speaks for this controller, and
    // it deletes itself once it has exited, even after the controller is gone.
    disconnect(process, &QIODevice::readyRead, this, &NDIRecorder::readyRead);
    disconnect(process, &QProcess::started, this, &NDIRecorder::started);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    process->write(quitCommand());
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
        Q_EMIT recordingError(General,
            QStringLiteral("The recording program could not be started (%1): %2")
                .arg(QDir::toNativeSeparators(process->program()), process->errorString()));
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
    if (element.name == QLatin1String("record_started")) {
        Q_EMIT recordingStarted();
    } else if (element.name == QLatin1String("record_error")) {
        Logger::write(QStringLiteral("Recording Error: ") + element.error);
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
