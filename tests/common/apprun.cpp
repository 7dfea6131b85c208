#include "tests/common/apprun.h"

#include <QDir>
#include <QSettings>

E2E::AppRun::AppRun(const QString& name)
    : m_root(TestEnv::makeFolder(name))
    , m_env(TestEnv::childEnvironment(name))
{
    m_env.insert(QStringLiteral("NDI_SIM_SOURCES"), m_root + QStringLiteral("/sources.json"));
    if (!TestEnv::hasDisplay())
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    setSources({});
}

bool E2E::AppRun::start(bool withHttp)
{
    std::tie(tcpPort, httpPort) = std::pair { TestEnv::freePort(), withHttp ? TestEnv::freePort() : quint16(0) };
    QVariantMap all { { "tcpServerEnabled", true }, { "tcpServerPort", tcpPort }, { "httpServerEnabled", withHttp },
        { "httpServerPort", httpPort } };
    all.insert(m_settings);
    QSettings settings(configFile(), QSettings::IniFormat);
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
    process.setProcessEnvironment(m_env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(m_root + QStringLiteral("/app-output.txt"), QIODevice::Append);
    process.start(program(), {});
    return process.waitForStarted(10000) && waitForLog(QStringLiteral("Application initialized"), 60000);
}

bool E2E::AppRun::terminate(int signal)
{
    return isRunning() && ::kill(pid_t(pid()), signal) == 0 && process.waitForFinished(30000)
        && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString E2E::AppRun::log() const
{
    QString text;
    for (const QFileInfo& info :
        QDir(logsFolder()).entryInfoList({ QStringLiteral("log*.txt") }, QDir::Files, QDir::Name)) {
        QFile file(info.filePath());
        text += file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    return text;
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
