#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>

// Drives the external recording program for one slot: one armed process per bound source, commands
// on its standard input, reports from its standard output. It also supervises the recording
// process: a start that is never confirmed, a recording whose frames stop advancing, and a process
// that no longer answers are reported, and a frozen one is replaced. Main thread only.
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

    // Recording programs running in this process, armed or recording (main thread).
    static int runningPrograms();
    static QString programFileName();
    // The folder holding the recording program; empty (the default) means the application's folder.
    static void setProgramFolder(const QString& folder);
    static QString programPath();

    // The source name with only what cannot stand in a file name replaced by '_', cut on a
    // character's end where a file name with it would be too long for the file system.
    static QString fileNamePart(const QString& sourceName);
    static QString fileNameFor(const QString& sourceName, const QDateTime& time);
    static QStringList argumentsFor(
        const QString& sourceName, const QString& outputPath, const QString& url, bool recordPreview);
    static QByteArray startCommand();
    static QByteArray quitCommand();
    static QByteArray levelCommand(float gain);
    static QByteArray chopCommand(const QString& path);
    // The first of name, "name (2)", ... in folder that is neither taken nor a file. Asks the file
    // system: any thread but the main one, where a drive may hang.
    static QString freePath(const QString& folder, const QString& name, const QStringList& taken);

    // Runs a question about the folder's drive and hands its answer to the main thread, unless
    // context is gone by then. By default it is asked here and now; the application asks off the
    // main thread, and a new program starts once its file has a name.
    using Offload = std::function<void(const QString& folder, std::function<QVariant()> question, QObject* context,
        std::function<void(const QVariant&)> answer)>;
    void setOffload(Offload offload) { m_offload = std::move(offload); }

    // Supervision limits, milliseconds.
    struct Limits {
        int unconfirmed = 5000; // start sent, no confirmation
        // Reports come ten a second: the warning is up within 3 s of the last frame, and the new
        // piece, after the replacement has found the source, within 10 s.
        int stalled = 2500; // no advance: warn
        int recover = 8000; // no advance: replace the process
        int quitGrace = 2000; // a replaced process that has not exited is killed
        int exitGrace = 10000; // a process told to quit in order
    };
    void setLimits(const Limits& limits) { m_limits = limits; }
    // Whether the source currently sends; frames that do not advance without it are no stall.
    void setSourcePresent(std::function<bool()> present) { m_sourcePresent = std::move(present); }

    QProcess* currentProcess() const { return m_process; }
    // A current process that runs, starts, or waits for its file's name.
    bool processAlive() const;
    bool isRecordingStarted() const { return m_recordingStarted; }
    QString fileName() const { return m_fileName; }
    QString folder() const { return m_folder; }
    // Serial number of the current process, carried by the signals that concern one process.
    int generation() const { return m_generation; }
    bool isStalled() const { return m_stalled; }

public Q_SLOTS:
    void start(QString sourceName);
    void stop();
    void restart();
    void startRecording();
    void setRecordLevel(float gain);
    void setFolder(QString folder);
    void setRecordPreview(bool enabled);
    void chop(QString folder);
    // A new process goes on with the recording in the current folder; the old one, if it still
    // runs, is told to quit.
    void recover();

Q_SIGNALS:
    void recordingStarted();
    void recordingError(NDIRecorder::RecordingError error, QString message);
    void processFinished();
    void processCrashed();

    // The program writes a new piece: at the start, after a split, after a format change
    // (reason "format") or in a replacement process. firstFrameTime: the source's time of its first
    // frame (100 ns), -1 when the program does not say.
    void pieceStarted(int generation, QString path, int frameRateN, int frameRateD, QSize size, QString reason,
        qint64 firstFrameTime);
    // Progress of the current process: frames written since it started recording, and the time
    // they cover in 100 ns units.
    void progressed(int generation, qint64 frames, qint64 timecode);
    // The last frame count of a process, reported as it finishes (also after it was told to quit).
    void processDone(int generation, qint64 frames, qint64 timecode);
    // The program stopped writing by itself (a write failure) and is still running.
    void programStopped(int generation, QString reason);
    void startUnconfirmed();
    void stalled();
    void resumed();
    // A frozen process was ended; a new one writes to newPath's folder from now on.
    void replacedFrozen(int oldGeneration);

private Q_SLOTS:
    void errorOccurred();
    void started();
    void readyRead();
    void finished(int exitCode);

private:
    void launch(QProcess* process, const QString& path);
    void handleReport(const QByteArray& line);
    void write(const QByteArray& command);
    void tellToQuit(QProcess* process, int graceMs);
    void watch();
    void replaceFrozenProcess();
    void resetSupervision();
    static qint64 now();

    // The process that gets every command; owned while current. Processes told to quit delete
    // themselves when they exit.
    QProcess* m_process = nullptr;
    QList<QProcess*> m_processes;
    QString m_sourceName;
    QString m_folder;
    QString m_fileName;
    bool m_recordingStarted = false;
    bool m_recordPreview = false;
    float m_recordLevel = 0.0f;
    bool m_recordLevelSet = false;

    int m_generation = 0;
    Limits m_limits;
    std::function<bool()> m_sourcePresent;
    QTimer m_watch;
    bool m_confirmed = false;
    bool m_stalled = false;
    bool m_unconfirmedReported = false;
    qint64 m_startSentAt = 0;
    qint64 m_lastAdvanceAt = 0;
    qint64 m_lastFrames = -1;
    QString m_lastError;
    QString m_startFailure; // why the current process could not be started
    QString m_shortenedLogged; // the source whose shortened file names were last logged
    Offload m_offload;
    QList<QByteArray> m_unsent; // commands for the current process while it waits for its name
};
