#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <cstdlib>
#include <string>

namespace
{

std::string g_root;
bool g_ownSound = false;

QString soundDir()
{
    return QString::fromStdString(g_root) + QStringLiteral("/sound");
}

void setFromFixture()
{
    QFile file(QStringLiteral(TESTENV_FILE));
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        if (qEnvironmentVariableIsEmpty(key.constData()))
            qputenv(key.constData(), line.mid(eq + 1));
    }
}

struct Isolation {
    Isolation()
    {
        char pattern[] = "/tmp/recorder-test-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        g_root = pattern;
        for (const char* sub : { "config", "data", "cache", "runtime", "home" }) {
            const std::string path = g_root + "/" + sub;
            QDir().mkpath(QString::fromStdString(path));
        }
        ::setenv("XDG_CONFIG_HOME", (g_root + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (g_root + "/data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (g_root + "/cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (g_root + "/runtime").c_str(), 1);
        ::setenv("HOME", (g_root + "/home").c_str(), 1);
        QFile::setPermissions(
            QString::fromStdString(g_root + "/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setFromFixture();
    }
    ~Isolation()
    {
        if (g_ownSound)
            QProcess::execute(QStringLiteral(TESTS_SOURCE_DIR "/env/stop.sh"), { soundDir() });
        if (qEnvironmentVariableIsEmpty("RECORDER_KEEP_TEST_FILES"))
            QDir(QString::fromStdString(g_root)).removeRecursively();
    }
};

const Isolation isolation;

} // namespace

namespace TestEnv
{

QString root()
{
    return QString::fromStdString(g_root);
}

QString binDir()
{
    return QStringLiteral(RECORDER_BIN_DIR);
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

bool hasSound()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

bool useOwnSoundServer()
{
    g_ownSound = true;
    QProcess start;
    start.start(QStringLiteral(TESTS_SOURCE_DIR "/env/start.sh"), { soundDir(), QStringLiteral("sound") });
    if (!start.waitForFinished(30000))
        return false;
    for (const QByteArray& line : start.readAllStandardOutput().split('\n')) {
        if (line.startsWith("PULSE_SERVER=")) {
            qputenv("PULSE_SERVER", line.mid(13));
            return true;
        }
    }
    return false;
}

QString makeFolder(const QString& name)
{
    const QString path = root() + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

QProcessEnvironment childEnvironment(const QString& name)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString base = makeFolder(name);
    for (const char* sub : { "config", "data", "cache", "runtime", "home" })
        QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(base + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), base + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), base + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), base + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), base + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("HOME"), base + QStringLiteral("/home"));
    return env;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}

} // namespace TestEnv
