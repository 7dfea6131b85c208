#include "tests/common/testenv.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>

#include <cstdlib>

namespace
{

QString g_root;
bool g_ownSound = false;

// Every XDG variable and HOME set into base, the folders made (the runtime one private).
template <typename Set> void privateHome(const QString& base, Set set)
{
    for (const auto& [name, sub] : { std::pair { "XDG_CONFIG_HOME", "config" }, { "XDG_DATA_HOME", "data" },
             { "XDG_CACHE_HOME", "cache" }, { "XDG_RUNTIME_DIR", "runtime" }, { "HOME", "home" } }) {
        QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub));
        set(QString::fromLatin1(name), base + QLatin1Char('/') + QLatin1String(sub));
    }
    QFile::setPermissions(base + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct Isolation {
    Isolation()
    {
        char pattern[] = "/tmp/recorder-test-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        g_root = QString::fromLocal8Bit(pattern);
        privateHome(
            g_root, [](const QString& name, const QString& path) { qputenv(name.toLatin1(), path.toLocal8Bit()); });
        QFile file(QStringLiteral(TESTENV_FILE)); // what the "headless" fixture started
        for (const QByteArray& line : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>())
            if (const QByteArray name = line.left(line.indexOf('='));
                !name.isEmpty() && qEnvironmentVariableIsEmpty(name.constData()))
                qputenv(name.constData(), line.mid(name.size() + 1));
    }
    ~Isolation()
    {
        if (g_ownSound)
            QProcess::execute(QStringLiteral(TESTS_SOURCE_DIR "/env/stop.sh"), { g_root + QStringLiteral("/sound") });
        if (qEnvironmentVariableIsEmpty("RECORDER_KEEP_TEST_FILES"))
            QDir(g_root).removeRecursively();
    }
} const isolation;

} // namespace

QString TestEnv::root()
{
    return g_root;
}
QString TestEnv::binDir()
{
    return QStringLiteral(RECORDER_BIN_DIR);
}
bool TestEnv::hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}
QString TestEnv::makeFolder(const QString& name)
{
    return QDir().mkpath(root() + '/' + name), root() + '/' + name;
}

bool TestEnv::useOwnSoundServer()
{
    g_ownSound = true;
    QProcess start;
    start.start(QStringLiteral(TESTS_SOURCE_DIR "/env/start.sh"),
        { g_root + QStringLiteral("/sound"), QStringLiteral("sound") });
    const QByteArray out = start.waitForFinished(30000) ? start.readAllStandardOutput() : QByteArray();
    const int at = out.indexOf("PULSE_SERVER=");
    return at >= 0 && qputenv("PULSE_SERVER", out.mid(at + 13).split('\n').first());
}

QProcessEnvironment TestEnv::childEnvironment(const QString& name)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    privateHome(makeFolder(name), [&env](const QString& key, const QString& path) { env.insert(key, path); });
    return env;
}

quint16 TestEnv::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}
