#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"

#include "tests/common/testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include <csignal>

namespace E2E
{

QJsonObject smallSource(const QString& name, int fps)
{
    return QJsonObject { { QStringLiteral("name"), name },
        { QStringLiteral("video"),
            QJsonObject { { QStringLiteral("width"), 320 }, { QStringLiteral("height"), 180 },
                { QStringLiteral("fps"), fps }, { QStringLiteral("pattern"), QStringLiteral("moving") } } },
        { QStringLiteral("audio"),
            QJsonObject { { QStringLiteral("frequency"), 1000 }, { QStringLiteral("peak"), 0.5 } } } };
}

AppRun::AppRun(const QString& name)
    : m_root(TestEnv::root() + QLatin1Char('/') + name)
    , m_env(TestEnv::childEnvironment(name))
{
    QDir().mkpath(m_root);
    m_configFile = m_env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Stavelin/Recorder.conf");
    m_sourcesFile = m_root + QStringLiteral("/sources.json");
    m_env.insert(QStringLiteral("NDI_SIM_SOURCES"), m_sourcesFile);
    if (!TestEnv::hasDisplay())
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    setSources({});
}

AppRun::~AppRun()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
    }
}

void AppRun::setSetting(const QString& key, const QVariant& value)
{
    m_settings.insert(key, value);
}

void AppRun::setSources(const QJsonArray& sources)
{
    // Written beside and renamed over, so the network never sees half a file.
    const QString temporary = m_sourcesFile + QStringLiteral(".new");
    QFile file(temporary);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
        file.close();
        ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_sourcesFile).constData());
    }
}

bool AppRun::start(bool withHttp)
{
    const QString program = TestEnv::binDir() + QStringLiteral("/StavelinRecorder");
    if (!QFile::exists(program))
        return false;
    tcpPort = TestEnv::freePort();
    {
        QSettings settings(m_configFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("tcpServerEnabled"), true);
        settings.setValue(QStringLiteral("tcpServerPort"), tcpPort);
        if (withHttp) {
            httpPort = TestEnv::freePort();
            settings.setValue(QStringLiteral("httpServerEnabled"), true);
            settings.setValue(QStringLiteral("httpServerPort"), httpPort);
        }
        for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    process.setProcessEnvironment(m_env);
    process.setStandardOutputFile(outputFile(), QIODevice::Append);
    process.setStandardErrorFile(outputFile(), QIODevice::Append);
    process.start(program, {});
    if (!process.waitForStarted(10000))
        return false;
    return waitForLog(QStringLiteral("Application initialized"), 60000);
}

bool AppRun::terminate(int timeoutMs)
{
    if (process.state() != QProcess::Running)
        return false;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(timeoutMs))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString AppRun::log() const
{
    const QString folder = m_env.value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Stavelin/Recorder/logs");
    QString text;
    for (const QString& name : QDir(folder).entryList({ QStringLiteral("log*.txt") }, QDir::Files, QDir::Name)) {
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

bool AppRun::waitForLog(const QString& text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
}

int AppRun::logCount(const QString& text) const
{
    return log().count(text);
}

QList<ChildProcess> AppRun::recorders() const
{
    QList<ChildProcess> found;
    const qint64 parent = process.processId();
    if (parent <= 0)
        return found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The name in parentheses may hold blanks; the fields after its closing one do not.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields.at(0) == "Z" || fields.at(1).toLongLong() != parent)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        QStringList arguments;
        for (const QByteArray& part : cmdline.readAll().split('\0'))
            arguments << QString::fromUtf8(part);
        if (!arguments.isEmpty() && arguments.first().endsWith(QStringLiteral("NDI Record.exe")))
            found.append(ChildProcess { pid, arguments });
    }
    return found;
}

} // namespace E2E
