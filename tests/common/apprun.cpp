#include "tests/common/apprun.h"

#include <QDir>
#include <QSettings>
#include <QTest>

#include <csignal>

E2E::AppRun::AppRun(const QString& name) : m_root(TestEnv::makeFolder(name)), m_env(TestEnv::childEnvironment(name))
{
    m_env.insert(QStringLiteral("NDI_SIM_SOURCES"), m_root + QStringLiteral("/sources.json"));
    if (!TestEnv::hasDisplay())
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    setSources({});
}

E2E::AppRun::~AppRun()
{
    process.kill();
    process.waitForFinished(10000);
}

bool E2E::AppRun::built()
{
    return QFile::exists(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"))
        && QFile::exists(TestEnv::binDir() + QStringLiteral("/NewTek NDI Record.exe"));
}

QString E2E::AppRun::configFile() const { return m_env.value("XDG_CONFIG_HOME") + QStringLiteral("/Stavelin/Recorder.conf"); }
QString E2E::AppRun::logsFolder() const { return m_env.value("XDG_DATA_HOME") + QStringLiteral("/Stavelin/Recorder/logs"); }

bool E2E::AppRun::start(bool withHttp)
{
    tcpPort = TestEnv::freePort();
    httpPort = withHttp ? TestEnv::freePort() : 0;
    QSettings settings(configFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("tcpServerEnabled"), true);
    settings.setValue(QStringLiteral("tcpServerPort"), tcpPort);
    settings.setValue(QStringLiteral("httpServerEnabled"), withHttp);
    settings.setValue(QStringLiteral("httpServerPort"), httpPort);
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
    process.setProcessEnvironment(m_env);
    process.setStandardOutputFile(m_root + QStringLiteral("/app-output.txt"), QIODevice::Append);
    process.setStandardErrorFile(m_root + QStringLiteral("/app-output.txt"), QIODevice::Append);
    process.start(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"), {});
    return process.waitForStarted(10000) && waitForLog(QStringLiteral("Application initialized"), 60000);
}

bool E2E::AppRun::terminate(int timeoutMs)
{
    return isRunning() && ::kill(pid_t(pid()), SIGTERM) == 0 && process.waitForFinished(timeoutMs)
        && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString E2E::AppRun::log() const
{
    QString text;
    for (const QFileInfo& info : QDir(logsFolder()).entryInfoList({ QStringLiteral("log*.txt") }, QDir::Files, QDir::Name)) {
        QFile file(info.filePath());
        text += file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    return text;
}

bool E2E::AppRun::waitForLog(const QString& text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
}

QList<E2E::ChildProcess> E2E::AppRun::recorders() const
{
    QList<ChildProcess> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (pid() <= 0 || !stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        // The name in parentheses may hold blanks; the state and the parent follow its closing one.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const QStringList arguments = QString::fromUtf8(cmdline.readAll()).split(QChar(0));
        if (fields.size() > 1 && fields.at(0) != "Z" && fields.at(1).toLongLong() == pid()
            && arguments.first().endsWith(QStringLiteral("NDI Record.exe")))
            found.append(ChildProcess { entry.toLongLong(), arguments });
    }
    return found;
}
