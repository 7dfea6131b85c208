#pragma once

#include "tests/common/simnetwork.h"

#include <QProcess>
#include <QTest>
#include <QVariantMap>

#include <csignal>

// The real application as a child: its own settings, simulated network and folders; its log file
// is where we learn what it did.
namespace E2E
{

struct ChildProcess {
    qint64 pid = 0;
    QStringList arguments;
};

class AppRun
{
public:
    explicit AppRun(const QString& name);
    ~AppRun() { process.kill(), process.waitForFinished(10000); }
    static bool built()
    {
        return QFile::exists(program()) && QFile::exists(TestEnv::binDir() + "/NewTek NDI Record.exe");
    }
    static QString program() { return TestEnv::binDir() + QStringLiteral("/StavelinRecorder"); }

    void setSetting(const QString& key, const QVariant& value) { m_settings.insert(key, value); }
    void setEnvironment(const QString& name, const QString& value) { m_env.insert(name, value); }
    void setSources(const QJsonArray& sources) { NdiSim::write(sources, m_root + QStringLiteral("/sources.json")); }
    // With the control port (and the panel port when asked), until the log says start-up is done.
    bool start(bool withHttp = false);
    // The signal and the exit; true when it ended normally with code 0.
    bool terminate(int signal = SIGTERM);
    bool isRunning() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }

    QString log() const;
    bool waitForLog(const QString& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
    }
    QString dataFolder() const { return m_env.value("XDG_DATA_HOME") + QStringLiteral("/Stavelin/Recorder"); }
    QString logsFolder() const { return dataFolder() + QStringLiteral("/logs"); }
    QString configFile() const { return m_env.value("XDG_CONFIG_HOME") + QStringLiteral("/Stavelin/Recorder.conf"); }
    // The recording programs among the app's children (arguments from /proc).
    QList<ChildProcess> recorders() const;

    quint16 tcpPort = 0, httpPort = 0;
    QProcess process;

private:
    QString m_root;
    QProcessEnvironment m_env;
    QVariantMap m_settings;
};

} // namespace E2E
