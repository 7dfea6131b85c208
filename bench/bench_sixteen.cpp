// Sixteen 1080p30 slots recording at once with sixteen default previews, splitting as set, once
// on sources whose frames the recording programs write as received and once on raw sources they
// must encode: frames written against frames sent for every slot, "can't keep up" reports, CPU
// and resident memory of the application (against the same run before recording) and of every
// recording program, and the spread of the first frames' source times after one record-all; what
// the slots and the panel say while recording, and the records' lost frames against the files'.
//
// BENCH_SIXTEEN_SECONDS (600) sets how long each recording runs, BENCH_SIXTEEN_SPLIT_MINUTES (2)
// the split interval. Needs an X display; it writes about 3 MB/s per slot and removes it after.
#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/probe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using namespace E2E;

namespace
{

constexpr int slotCount = 16;
constexpr int fps = 30;

double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // Fields after the command name, which may hold spaces: utime and stime are 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() < 13
        ? 0.0
        : double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double rssMegabytes(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0.0;
}

// The state word of every slot, in slot order, as the TCP state block and the HTTP state answer
// (which the panel draws) give them.
QStringList tcpWords(ControlClient& client)
{
    static const QRegularExpression word(QStringLiteral(" word=\"([^\"]*)\""));
    client.send("<state/>\r\n");
    QStringList words;
    // A slow answer must be read to its end, or its rest is taken for the next command's answer.
    for (QByteArray line = client.nextLine(60000); !line.isEmpty() && line != "<state/>";
         line = client.nextLine(60000)) {
        const QRegularExpressionMatch match = word.match(QString::fromUtf8(line));
        if (match.hasMatch())
            words << match.captured(1);
    }
    return words;
}

QStringList httpWords(quint16 port)
{
    QByteArray body;
    httpGet(port, "/api?command=state", &body);
    QStringList words;
    for (const QJsonValue& slot : QJsonDocument::fromJson(body)[QStringLiteral("state")].toArray())
        words << slot[QStringLiteral("word")].toString();
    return words;
}

// "recording:16" or "dropping:12,recording:4".
QString tally(const QStringList& words)
{
    QMap<QString, int> counts;
    for (const QString& word : words)
        ++counts[word];
    QStringList parts;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        parts << QStringLiteral("%1:%2").arg(it.key()).arg(it.value());
    return parts.join(QLatin1Char(','));
}

int frameOfDay(const QString& timecode)
{
    const QStringList parts = timecode.split(':');
    return parts.size() == 4
        ? ((parts[0].toInt() * 60 + parts[1].toInt()) * 60 + parts[2].toInt()) * fps + parts[3].toInt()
        : -1;
}

// CPU as a share of one core over a wall-clock span, for a set of processes.
struct CpuWindow {
    QList<qint64> pids;
    QList<double> start;
    QElapsedTimer clock;
    void begin(const QList<qint64>& which)
    {
        pids = which;
        start.clear();
        for (qint64 pid : pids)
            start.append(cpuSeconds(pid));
        clock.start();
    }
    QList<double> percent() const
    {
        QList<double> out;
        for (int i = 0; i < pids.size(); ++i)
            out.append(100.0 * (cpuSeconds(pids[i]) - start[i]) / (double(clock.elapsed()) / 1000.0));
        return out;
    }
};

} // namespace

class BenchSixteen : public QObject
{
    Q_OBJECT

    void round(const char* mode, bool compressed)
    {
        const int seconds = qEnvironmentVariableIsSet("BENCH_SIXTEEN_SECONDS")
            ? qEnvironmentVariableIntValue("BENCH_SIXTEEN_SECONDS")
            : 600;
        const int splitMinutes = qEnvironmentVariableIsSet("BENCH_SIXTEEN_SPLIT_MINUTES")
            ? qEnvironmentVariableIntValue("BENCH_SIXTEEN_SPLIT_MINUTES")
            : 2;
        AppRun app(QString::fromLatin1(mode));
        const QString folder = TestEnv::makeFolder(QString::fromLatin1(mode) + QStringLiteral("-videos"));
        app.setSetting(QStringLiteral("defaultLocation"), folder);
        app.setSetting(QStringLiteral("gridDimensions"), 44);
        app.setSetting(QStringLiteral("chopEnabled"), true);
        app.setSetting(QStringLiteral("chopMinutes"), splitMinutes);
        QJsonArray sources;
        for (int n = 1; n <= slotCount; ++n) {
            QJsonObject video = NdiSim::video(
                1920, 1080, QStringLiteral("UYVY"), QStringLiteral("moving"), QStringLiteral("#808080"), fps);
            video.insert(QStringLiteral("compressed"), compressed);
            sources.append(NdiSim::source(QStringLiteral("BENCH (Cam %1)").arg(n), video, NdiSim::tone(0.5)));
        }
        app.setSources(sources);
        QVERIFY(app.start(true));
        ControlClient client;
        QVERIFY(client.connectTo(app.tcpPort));
        for (int n = 1; n <= slotCount; ++n)
            QCOMPARE(client.command(QStringLiteral("<connect slot=\"%1\" source=\"BENCH (Cam %1)\"/>").arg(n).toUtf8()),
                QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(app.recorders().size(), slotCount, 60000);

        // The same app, previews shown, before it records: what recording adds is measured against it.
        QTest::qWait(5000); // settling, not a proof
        CpuWindow idle;
        idle.begin({ app.pid() });
        QTest::qWait(20000);
        const double idleCpu = idle.percent().value(0);

        QCOMPARE(client.command("<recording_start slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
        for (int n = 1; n <= slotCount; ++n)
            QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(n), QByteArray("1"), 60000);
        QList<qint64> pids { app.pid() };
        for (const ChildProcess& child : app.recorders())
            pids.append(child.pid);
        CpuWindow busy;
        busy.begin(pids);
        QList<double> rss(pids.size(), 0.0);
        QElapsedTimer clock;
        clock.start();
        // What the window (the slots' words, which TCP gives) and the panel (HTTP) say, every 2 s.
        qint64 droppingSeenAt = -1;
        QStringList words, panelWords;
        while (clock.elapsed() < qint64(seconds) * 1000) {
            QTest::qWait(2000);
            for (int i = 0; i < pids.size(); ++i)
                rss[i] = std::max(rss[i], rssMegabytes(pids[i]));
            words = tcpWords(client), panelWords = httpWords(app.httpPort);
            if (droppingSeenAt < 0 && words.contains(QStringLiteral("dropping")))
                droppingSeenAt = clock.elapsed();
        }
        const QList<double> cpu = busy.percent();
        int agreeing = 0;
        for (int i = 0; i < words.size(); ++i)
            agreeing += words[i] == panelWords.value(i);
        QCOMPARE(client.command("<recording_stop slot=\"0\"/>"), QByteArray("<succes uid=\"\" />"));
        for (int n = 1; n <= slotCount; ++n)
            QTRY_COMPARE_WITH_TIMEOUT(client.recordingState(n), QByteArray("0"), 60000);
        const int delays = int(app.log().count(QStringLiteral("keep up")));
        QVERIFY(app.terminate());

        // Frames sent: the files' time (a lost frame keeps its time in them); written: packets in them.
        double worst = 1e9;
        qint64 recordedDrops = 0, probedDrops = 0, worstDifference = 0;
        QList<int> firstFrames;
        const QStringList records = QDir(folder).entryList({ QStringLiteral("*.recording.json") });
        for (const QString& name : records) {
            const QJsonObject record = jsonFile(QDir(folder).filePath(name));
            double covered = 0.0, written = 0.0;
            const QJsonArray pieces = record[QStringLiteral("pieces")].toArray();
            for (int i = 0; i < pieces.size(); ++i) {
                const QString path = pieces.at(i)[QStringLiteral("path")].toString();
                const StreamTimes times = streamTimes(path);
                covered += times.video * fps;
                written += std::get<1>(run(QStringLiteral("ffprobe"),
                                           QStringLiteral("-v error -count_packets -select_streams v:0 -show_entries "
                                                          "stream=nb_read_packets -of csv=p=0 FILE"),
                                           path))
                               .trimmed()
                               .toDouble();
                if (i == 0)
                    firstFrames.append(frameOfDay(times.timecode));
            }
            worst = std::min(worst, written / std::max(1.0, covered));
            const qint64 recorded = record[QStringLiteral("droppedFrames")].toInteger();
            const qint64 probed = std::max<qint64>(0, std::llround(covered - written));
            recordedDrops += recorded, probedDrops += probed;
            worstDifference = std::max(worstDifference, std::abs(recorded - probed));
        }
        QDir(folder).removeRecursively();
        const auto [low, high] = std::minmax_element(firstFrames.cbegin(), firstFrames.cend());
        const double programCpu = *std::max_element(cpu.cbegin() + 1, cpu.cend());
        const double programRss = *std::max_element(rss.cbegin() + 1, rss.cend());
        std::printf("%s: %lld records, worst slot wrote %.2f %% of the frames sent, %d \"can't keep up\" reports\n",
            mode, qlonglong(records.size()), 100.0 * worst, delays);
        std::printf("%s: app %.1f %% of a core (%.1f %% before recording), %.0f MB; busiest program %.1f %%, "
                    "largest %.0f MB; first frames spread over %d frames\n",
            mode, cpu.value(0), idleCpu, rss.value(0), programCpu, programRss,
            firstFrames.isEmpty() ? -1 : *high - *low);
        std::printf("RESULT sixteen_%s_written=%.2f %%\n", mode, 100.0 * worst);
        std::printf("RESULT sixteen_%s_delays=%d reports\n", mode, delays);
        std::printf("RESULT sixteen_%s_app_cpu=%.1f %%\n", mode, cpu.value(0));
        std::printf("RESULT sixteen_%s_app_idle_cpu=%.1f %%\n", mode, idleCpu);
        std::printf("RESULT sixteen_%s_app_rss=%.0f MB\n", mode, rss.value(0));
        std::printf("RESULT sixteen_%s_program_cpu=%.1f %%\n", mode, programCpu);
        std::printf("RESULT sixteen_%s_program_rss=%.0f MB\n", mode, programRss);
        std::printf("RESULT sixteen_%s_spread=%d frames\n", mode, firstFrames.isEmpty() ? -1 : *high - *low);
        std::printf("RESULT sixteen_%s_words=%s slots\n", mode, qPrintable(tally(words)));
        std::printf("RESULT sixteen_%s_panel_agrees=%d of %lld\n", mode, agreeing, qlonglong(words.size()));
        std::printf("RESULT sixteen_%s_dropping_seen=%lld ms\n", mode, droppingSeenAt);
        std::printf("RESULT sixteen_%s_dropped=%lld frames\n", mode, recordedDrops);
        std::printf("RESULT sixteen_%s_dropped_probed=%lld frames\n", mode, probedDrops);
        std::printf("RESULT sixteen_%s_dropped_difference=%lld frames\n", mode, worstDifference);
        std::fflush(stdout);
        QCOMPARE(records.size(), slotCount);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!AppRun::built())
            QSKIP("the application or the recording program has not been built");
    }
    void passThrough() { round("pass", true); }
    void raw() { round("raw", false); }
};

QTEST_GUILESS_MAIN(BenchSixteen)
#include "bench_sixteen.moc"
