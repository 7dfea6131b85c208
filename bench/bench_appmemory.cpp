// Resident memory of the whole application with 16 slots bound to moving 1080p sources of the
// simulated network (previews at the slots' default, reduced bandwidth), after it has settled.
// Needs an X display with OpenGL 4 and, for the meters, a sound server (both optional for the run).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace
{

// "VmRSS" and "VmHWM" of a process, in megabytes.
double statusMegabytes(qint64 pid, const char* key)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("bench_appmemory: needs an X display (run under Xvfb)\n");
        return 0;
    }
    QTemporaryDir folder;
    QJsonArray sources;
    for (int i = 0; i < 16; ++i) {
        sources.append(QJsonObject { { QStringLiteral("name"), QStringLiteral("Camera %1").arg(i + 1) },
            { QStringLiteral("video"),
                QJsonObject { { QStringLiteral("width"), 1920 }, { QStringLiteral("height"), 1080 },
                    { QStringLiteral("fps"), 25 },
                    { QStringLiteral("format"), i % 4 == 3 ? QStringLiteral("BGRA") : QStringLiteral("UYVY") },
                    { QStringLiteral("aspect"), 0 }, { QStringLiteral("pattern"), QStringLiteral("moving") },
                    { QStringLiteral("color"), QStringLiteral("#3060c0") } } },
            { QStringLiteral("audio"),
                QJsonObject {
                    { QStringLiteral("frequency"), 300 + 40 * i }, { QStringLiteral("peak"), 0.05 * (i + 1) } } } });
    }
    QFile sourcesFile(folder.filePath(QStringLiteral("sources.json")));
    if (!sourcesFile.open(QIODevice::WriteOnly))
        return 1;
    sourcesFile.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
    sourcesFile.close();

    // The user's settings: a 4 x 4 grid with every slot bound, viewing only.
    QDir(folder.path()).mkpath(QStringLiteral("config/Stavelin"));
    QFile settings(folder.filePath(QStringLiteral("config/Stavelin/Recorder.conf")));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("[General]\ngridDimensions=44\n\n[slots]\n");
    for (int slot = 1; slot <= 16; ++slot)
        settings.write(QStringLiteral("%1\\source=Camera %2\n%1\\viewingOnly=true\n").arg(slot + 1).arg(slot).toUtf8());
    settings.write("size=17\n");
    settings.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NDI_SIM_SOURCES"), sourcesFile.fileName());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), folder.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), folder.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("HOME"), folder.path());
    QProcess recorder;
    recorder.setProcessEnvironment(env);
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.setStandardOutputFile(QProcess::nullDevice());
    recorder.start(QStringLiteral(APP_PATH), {});
    if (!recorder.waitForStarted(10000)) {
        std::printf("bench_appmemory: cannot start %s\n", APP_PATH);
        return 1;
    }
    std::printf("%-10s %12s %12s\n", "seconds", "RSS MB", "peak RSS MB");
    double rss = -1, peak = -1;
    for (int second = 5; second <= 20; second += 5) {
        QTest::qWait(5000);
        if (recorder.state() != QProcess::Running)
            break;
        rss = statusMegabytes(recorder.processId(), "VmRSS:");
        peak = statusMegabytes(recorder.processId(), "VmHWM:");
        std::printf("%-10d %12.1f %12.1f\n", second, rss, peak);
    }
    if (rss > 0) {
        std::printf("RESULT appmemory_rss=%.1f MB\n", rss);
        std::printf("RESULT appmemory_peak=%.1f MB\n", peak);
    }
    recorder.terminate();
    recorder.waitForFinished(10000);
    return 0;
}
