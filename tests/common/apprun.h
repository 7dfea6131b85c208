#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The real application as a child process: its own settings, its own simulated network, its own
// folders; its log file is where we learn what it did.
namespace E2E
{

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

} // namespace E2E
