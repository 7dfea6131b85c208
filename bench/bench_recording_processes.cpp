// How many recording programs, each receiving a 1080p30 source and writing it, this machine runs
// side by side in real time: the whole path the app uses, not just the encoder.
//
//   bench_recording_processes [folder] [seconds per round] [most programs]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include <memory>
#include <sys/resource.h>
#include <vector>

namespace
{

struct Program {
    std::unique_ptr<QProcess> process;
    QByteArray output;
    qint64 startedAt = -1; // ms on the round's clock when "record_started" came
};

// Frames recorded against frames due, for the worst program of the round; delays are reported
// by the program itself.
double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Also gives the CPU time the programs used per second of recording, which a busy machine does
// not change much.
bool runRound(const QString& program, const QString& folder, int count, int seconds, double* worstRatio, int* delays,
    double* cpuPerRecordingSecond)
{
    std::vector<Program> programs(static_cast<size_t>(count));
    rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        programs[size_t(i)].process = std::make_unique<QProcess>();
        programs[size_t(i)].process->start(program,
            { QStringLiteral("-i"), QStringLiteral("Bench 1080p30"), QStringLiteral("-o"),
                QStringLiteral("%1/round%2-%3.mov").arg(folder).arg(count).arg(i), QStringLiteral("-nothumbnail") });
    }
    while (clock.elapsed() < qint64(seconds) * 1000 + 3000) {
        for (Program& p : programs) {
            p.process->waitForReadyRead(10);
            p.output += p.process->readAllStandardOutput();
            if (p.startedAt < 0 && p.output.contains("<record_started"))
                p.startedAt = clock.elapsed();
        }
    }
    for (Program& p : programs) {
        p.process->write("<quit/>\r\n");
        p.process->closeWriteChannel();
    }
    *worstRatio = 1e9;
    *delays = 0;
    bool ok = true;
    for (Program& p : programs) {
        const qint64 stopAt = clock.elapsed();
        if (!p.process->waitForFinished(60000))
            ok = false;
        p.output += p.process->readAllStandardOutput();
        *delays += int(p.output.count("Something delayed everything."));
        const int at = p.output.lastIndexOf("<record_stopped no_frames=\"");
        if (at < 0 || p.startedAt < 0) {
            ok = false;
            *worstRatio = 0;
            continue;
        }
        const int frames = p.output.mid(at + 27).split('"').first().toInt();
        const double due = double(stopAt - p.startedAt) / 1000.0 * 30.0;
        *worstRatio = std::min(*worstRatio, frames / due);
    }
    rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);
    double recorded = 0.0;
    for (const Program& p : programs)
        recorded += p.startedAt >= 0 ? double(clock.elapsed() - p.startedAt) / 1000.0 : 0.0;
    *cpuPerRecordingSecond = recorded > 0 ? (cpuSeconds(after) - cpuSeconds(before)) / recorded : 0.0;
    for (const QString& file : QDir(folder).entryList({ QStringLiteral("round*.mov") }, QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + file);
    return ok && *delays == 0 && *worstRatio > 0.95;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString base = args.size() > 1 ? args.at(1) : QDir::tempPath();
    const int seconds = args.size() > 2 ? args.at(2).toInt() : 8;
    const int most = args.size() > 3 ? args.at(3).toInt() : 16;

    QTemporaryDir folder(base + QStringLiteral("/bench-rec-XXXXXX"));
    QFile sources(folder.path() + QStringLiteral("/sources.json"));
    if (!sources.open(QIODevice::WriteOnly))
        return 1;
    sources.write(R"({"sources": [{"name": "Bench 1080p30", "url": "127.0.0.1:7100",
        "video": {"width": 1920, "height": 1080, "fps": 30, "format": "UYVY", "pattern": "moving"},
        "audio": {"frequency": 1000, "peak": 0.5}}]})");
    sources.close();
    qputenv("NDI_SIM_SOURCES", sources.fileName().toLocal8Bit());
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/NewTek NDI Record.exe");

    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("Load average before the run: %s", load.readAll().constData());
    std::printf(
        "Recording programs side by side, each on a 1080p30 UYVY source, %d s per round, %d hardware threads:\n",
        seconds, QThread::idealThreadCount());
    int best = 0;
    for (int n = 1; n <= most; ++n) {
        double ratio = 0.0;
        int delays = 0;
        double cpu = 0.0;
        const bool ok = runRound(program, folder.path(), n, seconds, &ratio, &delays, &cpu);
        std::printf(
            "  %2d programs: worst %.1f%% of frames recorded, %d delay reports, %.2f CPU s per recording s %s\n", n,
            ratio * 100.0, delays, cpu, ok ? "(real time)" : "(falls behind)");
        if (n == 1 && cpu > 0) {
            std::printf("     (CPU bound: %.1f recordings on this machine)\n", QThread::idealThreadCount() / cpu);
            std::printf("RESULT recording_program_cpu=%.2f s/s\n", cpu);
        }
        std::fflush(stdout);
        if (!ok)
            break;
        best = n;
    }
    std::printf("Result: %d simultaneous 1080p30 recordings in real time\n", best);
    std::printf("RESULT recording_programs_realtime=%d recordings\n", best);
    return 0;
}
