#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QVariantMap>

// The real application as a child process: its own settings, its own simulated network, its own
// folders; its log file is where we learn what it did.
namespace E2E {

// A simulated source of small pictures, cheap enough for several recordings on two cores.
QJsonObject smallSource(const QString& name, int fps = 25);

struct ChildProcess {
    qint64 pid = 0;
    QStringList arguments;
};

class AppRun
{
public:
    explicit AppRun(const QString& name);
    ~AppRun();

    // Written before start: the global keys of the settings file.
    void setSetting(const QString& key, const QVariant& value);
    // The simulated network; may be rewritten while the app runs.
    void setSources(const QJsonArray& sources);

    // Starts with the control port (and the panel port when asked) and waits for the log line
    // that says start-up is done.
    bool start(bool withHttp = false);
    // SIGTERM, then waits for the exit; true when it ended normally with code 0.
    bool terminate(int timeoutMs = 30000);
    bool isRunning() const { return process.state() == QProcess::Running; }

    QString log() const;
    bool waitForLog(const QString& text, int timeoutMs);
    int logCount(const QString& text) const;

    // The recording programs among the app's children (arguments from /proc).
    QList<ChildProcess> recorders() const;
    qint64 pid() const { return process.processId(); }

    QString configFile() const { return m_configFile; }
    QString root() const { return m_root; }
    QString outputFile() const { return m_root + QStringLiteral("/app-output.txt"); }

    quint16 tcpPort = 0;
    quint16 httpPort = 0;
    QProcess process;

private:
    QString m_root;
    QString m_configFile;
    QString m_sourcesFile;
    QProcessEnvironment m_env;
    QVariantMap m_settings;
};

// A control-port client: one line out, one line back.
class ControlClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 30000);
    QByteArray command(const QByteArray& line, int timeoutMs = 20000);
    // The next complete line (without its end), or an empty array after the time-out.
    QByteArray nextLine(int timeoutMs = 20000);
    // The "recording" attribute of the slot line for one slot ("0", "1"), empty when none came.
    QByteArray recordingState(int slot);

    QTcpSocket socket;
};

// A raw GET to 127.0.0.1; returns the status code (0 when no answer) and the body.
int httpGet(quint16 port, const QByteArray& target, QByteArray* body = nullptr, int timeoutMs = 10000);

// ffprobe: every frame of the video stream decodes without an error.
struct ProbeResult {
    bool ok = false;
    double duration = 0.0; // seconds (container)
    qint64 videoFrames = 0;
    QString errors;
};
ProbeResult probe(const QString& file);
// The kinds of the file's streams in order ("video", "audio").
QStringList streamTypes(const QString& file);

QStringList movFiles(const QString& folder);

} // namespace E2E
