#pragma once

#include "tests/common/simnetwork.h"

#include <QProcess>
#include <QVariantMap>

// The real application as a child: its own settings, simulated network and folders; its log file
// is where we learn what it did.
namespace E2E {

struct ChildProcess { qint64 pid = 0; QStringList arguments; };

class AppRun
{
public:
    explicit AppRun(const QString& name);
    ~AppRun();
    static bool built(); // the app and the recording program

    void setSetting(const QString& key, const QVariant& value) { m_settings.insert(key, value); }
    void setSources(const QJsonArray& sources) { NdiSim::write(sources, m_root + QStringLiteral("/sources.json")); }
    // With the control port (and the panel port when asked), until the log says start-up is done.
    bool start(bool withHttp = false);
    // SIGTERM and the exit; true when it ended normally with code 0.
    bool terminate(int timeoutMs = 30000);
    bool isRunning() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }

    QString log() const;
    bool waitForLog(const QString& text, int timeoutMs);
    int logCount(const QString& text) const { return log().count(text); }
    QString logsFolder() const;
    // The recording programs among the app's children (arguments from /proc).
    QList<ChildProcess> recorders() const;

    QString configFile() const;
    QString root() const { return m_root; }

    quint16 tcpPort = 0;
    quint16 httpPort = 0;
    QProcess process;

private:
    QString m_root;
    QProcessEnvironment m_env;
    QVariantMap m_settings;
};

} // namespace E2E
