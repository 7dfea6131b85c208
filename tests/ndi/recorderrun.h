#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

// One run of the recording program under test: its reports line by line, and what ffprobe and
// ffmpeg say about the files it wrote.
class RecorderRun : public QObject
{
    Q_OBJECT
public:
    explicit RecorderRun(QObject* parent = nullptr);
    ~RecorderRun() override;

    static QString programPath();
    // Writes the simulated network used by every run of this test process.
    static void setSources(const QByteArray& json);

    void start(const QStringList& arguments, const QProcessEnvironment& extra = {});
    void send(const QByteArray& bytes);

    // The first report after `from` whose element is `name`; empty when none came in time.
    QByteArray waitFor(const QString& name, int timeoutMs = 15000, int* index = nullptr, int from = 0);
    // Waits for a "recording" report with at least `frames` frames.
    bool waitForFrames(int frames, int timeoutMs = 20000);
    bool waitForExit(int timeoutMs = 15000);

    QProcess& process() { return m_process; }
    const QList<QByteArray>& reports() const { return m_reports; }
    QString standardError() const { return QString::fromUtf8(m_stderr); }

    static QMap<QString, QString> attributes(const QByteArray& report);
    static QString elementName(const QByteArray& report);

    // ffprobe's view of a file: "video" and "audio" stream objects and "duration".
    static QJsonObject probe(const QString& path);
    // The overall audio peak in dBFS (float files may go above 0).
    static double audioPeakDb(const QString& path);

private:
    void readReports();

    QProcess m_process;
    QByteArray m_pending;
    QByteArray m_stderr;
    QList<QByteArray> m_reports;
};
