// Cost of the window as a user runs it: the real application on the simulated network, a 4 x 4
// grid of 1080p30 sources, measured from outside over 10 s after it has settled: whole-process
// CPU (from /proc), frames drawn and frames with a new picture (from the log lines the app writes
// with RECORDER_RENDER_STATS set), resident memory, and the time from start to the first preview
// picture. Needs an X display with OpenGL 4; a sound server makes the meters move.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace
{

constexpr int sourceFps = 30;

struct Scenario {
    const char* key;
    const char* what;
    int bound = 0; // slots 1..bound viewing a source
    bool fullResolution = false;
    int recording = 0; // of those, slots 1..recording record
};

struct Figures {
    double cpuPercent = -1; // of one core
    double framesPerSecond = -1;
    double newPictureShare = -1; // frames drawn per frame with a new picture
    double rssMegabytes = -1;
    qint64 firstPictureMs = -1;
    bool keptUp = true;
};

double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = file.readAll();
    // Fields after the command name, which may hold spaces: utime and stime are 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double rssMegabytes(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

QString logText(const QString& home)
{
    QString text;
    QDirIterator it(
        home + QStringLiteral("/data/Stavelin/Recorder/logs"), { QStringLiteral("log *.txt") }, QDir::Files);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString writeSources(const QString& folder)
{
    QJsonArray sources;
    for (int i = 0; i < 16; ++i) {
        sources.append(QJsonObject { { QStringLiteral("name"), QStringLiteral("Camera %1").arg(i + 1) },
            { QStringLiteral("video"),
                QJsonObject { { QStringLiteral("width"), 1920 }, { QStringLiteral("height"), 1080 },
                    { QStringLiteral("fps"), sourceFps }, { QStringLiteral("format"), QStringLiteral("UYVY") },
                    { QStringLiteral("aspect"), 0 }, { QStringLiteral("pattern"), QStringLiteral("moving") },
                    { QStringLiteral("color"), QStringLiteral("#3060c0") } } },
            { QStringLiteral("audio"),
                QJsonObject {
                    { QStringLiteral("frequency"), 300 + 40 * i }, { QStringLiteral("peak"), 0.05 * (i + 1) } } } });
    }
    QFile file(folder + QStringLiteral("/sources.json"));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
    return file.fileName();
}

Figures run(const Scenario& scenario, const QString& sourcesFile)
{
    Figures figures;
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("config/Stavelin"));
    QDir(home.path()).mkpath(QStringLiteral("videos"));
    const quint16 tcpPort = freePort();
    QFile settings(home.filePath(QStringLiteral("config/Stavelin/Recorder.conf")));
    if (!settings.open(QIODevice::WriteOnly))
        return figures;
    settings.write(QStringLiteral("[General]\ngridDimensions=44\ntcpServerEnabled=true\ntcpServerPort=%1\n"
                                  "defaultLocation=%2\ndefaultLocationB=%2\n\n[slots]\n")
                       .arg(tcpPort)
                       .arg(home.filePath(QStringLiteral("videos")))
                       .toUtf8());
    // Entry 1 is the first special slot; the grid's slots follow.
    for (int slot = 1; slot <= scenario.bound; ++slot) {
        settings.write(QStringLiteral("%1\\source=Camera %2\n%1\\viewingOnly=%3\n%1\\isFullRes=%4\n")
                           .arg(slot + 1)
                           .arg(slot)
                           .arg(slot <= scenario.recording ? "false" : "true")
                           .arg(scenario.fullResolution ? "true" : "false")
                           .toUtf8());
    }
    settings.write("size=17\n");
    settings.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NDI_SIM_SOURCES"), sourcesFile);
    env.insert(QStringLiteral("RECORDER_RENDER_STATS"), QStringLiteral("1"));
    for (const char* sub : { "config", "data", "cache" })
        env.insert(
            QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(sub).toUpper()), home.filePath(QLatin1String(sub)));
    env.insert(QStringLiteral("HOME"), home.path());
    QProcess app;
    app.setProcessEnvironment(env);
    app.setStandardOutputFile(QProcess::nullDevice());
    app.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer sinceStart;
    sinceStart.start();
    // BENCH_APP measures another build of the application (an older one, for comparison).
    const QString program
        = qEnvironmentVariableIsEmpty("BENCH_APP") ? QStringLiteral(APP_PATH) : qEnvironmentVariable("BENCH_APP");
    app.start(program, {});
    if (!app.waitForStarted(10000))
        return figures;

    if (scenario.bound > 0) {
        (void)QTest::qWaitFor(
            [&] {
                if (logText(home.path()).contains(QStringLiteral("First preview picture drawn"))) {
                    figures.firstPictureMs = sinceStart.elapsed();
                    return true;
                }
                return false;
            },
            20000);
    }
    if (scenario.recording > 0) {
        QTest::qWait(2000);
        QTcpSocket control;
        control.connectToHost(QHostAddress::LocalHost, tcpPort);
        if (control.waitForConnected(5000)) {
            for (int slot = 1; slot <= scenario.recording; ++slot)
                control.write(QStringLiteral("<recording_start slot='%1'/>\n").arg(slot).toUtf8());
            control.waitForBytesWritten(2000);
            QTest::qWait(500);
        }
    }
    QTest::qWait(int(std::max<qint64>(0, 8000 - sinceStart.elapsed())));
    const QString logBefore = logText(home.path());
    const double cpuBefore = cpuSeconds(app.processId());
    QElapsedTimer window;
    window.start();
    QTest::qWait(10000);
    const double cpuAfter = cpuSeconds(app.processId());
    const double seconds = double(window.nsecsElapsed()) / 1e9;
    figures.rssMegabytes = rssMegabytes(app.processId());
    if (cpuBefore >= 0 && cpuAfter >= 0)
        figures.cpuPercent = 100.0 * (cpuAfter - cpuBefore) / seconds;

    // The statistics lines written during the window (every 2 s; five of them).
    const QString logAfter = logText(home.path());
    static const QRegularExpression line(
        QStringLiteral("Render statistics: (\\d+) frames drawn, (\\d+) with a new picture"));
    qint64 drawn = 0;
    qint64 fresh = 0;
    int lines = 0;
    for (auto it = line.globalMatch(logAfter.mid(logBefore.size())); it.hasNext(); ++lines) {
        const QRegularExpressionMatch match = it.next();
        drawn += match.captured(1).toLongLong();
        fresh += match.captured(2).toLongLong();
    }
    if (lines > 0) {
        figures.framesPerSecond = double(drawn) / (2.0 * lines);
        figures.newPictureShare = fresh > 0 ? double(drawn) / double(fresh) : (drawn == 0 ? 1.0 : -1);
    }
    figures.keptUp = !logAfter.contains(QStringLiteral("Recording can't keep up"));

    app.terminate();
    if (!app.waitForFinished(15000))
        app.kill();
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("bench_window: needs an X display with OpenGL 4 (run under Xvfb)\n");
        return 0;
    }
    QTemporaryDir folder;
    const QString sources = writeSources(folder.path());
    if (sources.isEmpty())
        return 1;
    const Scenario scenarios[] = {
        { "idle", "4x4, nothing bound", 0, false, 0 },
        { "default16", "16 bound, default previews", 16, false, 0 },
        { "full16", "16 bound, full resolution", 16, true, 0 },
        { "rec6", "16 default previews, 6 recording", 16, false, 6 },
    };
    std::printf("%-11s %-34s %9s %10s %12s %9s %12s %8s\n", "case", "what", "CPU %", "frames/s", "drawn/new", "RSS MB",
        "first ms", "kept up");
    for (const Scenario& scenario : scenarios) {
        const Figures f = run(scenario, sources);
        std::printf("%-11s %-34s %9.1f %10.1f %12.2f %9.1f %12lld %8s\n", scenario.key, scenario.what, f.cpuPercent,
            f.framesPerSecond, f.newPictureShare, f.rssMegabytes, f.firstPictureMs, f.keptUp ? "yes" : "no");
        std::printf("RESULT window_cpu_%s=%.1f %%core\n", scenario.key, f.cpuPercent);
        std::printf("RESULT window_fps_%s=%.1f fps\n", scenario.key, f.framesPerSecond);
        std::printf("RESULT window_drawn_per_new_%s=%.2f x\n", scenario.key, f.newPictureShare);
        std::printf("RESULT window_rss_%s=%.1f MB\n", scenario.key, f.rssMegabytes);
        if (f.firstPictureMs >= 0)
            std::printf("RESULT window_first_picture_%s=%lld ms\n", scenario.key, f.firstPictureMs);
        if (scenario.recording > 0)
            std::printf("RESULT window_kept_up_%s=%s -\n", scenario.key, f.keptUp ? "yes" : "no");
    }
    std::printf("RESULT window_source_fps=%d fps\n", sourceFps);
    return 0;
}
