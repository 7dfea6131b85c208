#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Drives the external recording program for one slot: one armed process per bound source, commands
// on its standard input, reports from its standard output. Main thread only.
class NDIRecorder : public QObject
{
    Q_OBJECT
public:
    enum RecordingError {
        General = 0,
        Delayed = 1,
        Quit = 2,
    };
    Q_ENUM(RecordingError)

    explicit NDIRecorder(QObject* parent = nullptr);
    // Tells the current process to quit; it finishes its file and exits on its own.
    ~NDIRecorder() override;

    static QString programFileName();
    // The folder holding the recording program; empty (the default) means the application's folder.
    static void setProgramFolder(const QString& folder);
    static QString programPath();

    // The source name with only what cannot stand in a file name replaced by '_'.
    static QString fileNamePart(const QString& sourceName);
    static QString fileNameFor(const QString& sourceName, const QDateTime& time);
    static QStringList argumentsFor(
        const QString& sourceName, const QString& outputPath, const QString& url, bool recordPreview);
    static QByteArray startCommand();
    static QByteArray quitCommand();
    static QByteArray levelCommand(float gain);
    static QByteArray chopCommand(const QString& path);

    QProcess* currentProcess() const { return m_process; }
    bool isRecordingStarted() const { return m_recordingStarted; }
    QString fileName() const { return m_fileName; }
    QString folder() const { return m_folder; }

public Q_SLOTS:
    void start(QString sourceName);
    void stop();
    void restart();
    void startRecording();
    void setRecordLevel(float gain);
    void setFolder(QString folder);
    void setRecordPreview(bool enabled);
    void chop(QString folder);

Q_SIGNALS:
    void recordingStarted();
    void recordingError(NDIRecorder::RecordingError error, QString message);
    void processFinished();
    void processCrashed();

private Q_SLOTS:
    void errorOccurred();
    void started();
    void readyRead();
    void finished(int exitCode);

private:
    void handleReport(const QByteArray& line);
    void write(const QByteArray& command);
    void tellToQuit(QProcess* process);

    // The process that gets every command; owned while current. Processes told to quit delete
    // themselves when they exit.
    QProcess* m_process = nullptr;
    QList<QProcess*> m_processes;
    QString m_sourceName;
    QString m_folder;
    QString m_fileName;
    bool m_recordingStarted = false;
    bool m_recordPreview = false;
};
