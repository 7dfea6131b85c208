// Cost of one pull of the sound device with 16 connected slots: the listened slot's block plus the
// levels of the 15 others, as the audio thread runs it. The pulls are driven here instead of by a
// sound card (the player finds no output device), so the figure is the work alone.
#include "audio/slotlistaudiohelper.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{

qint64 threadCpuNanoseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void measure(SlotListAudioHelper& helper, const char* label, const char* key)
{
    QByteArray buffer(int(NDIDevice::maxReadBytes), 0);
    std::vector<qint64> costs;
    const qint64 wallStart = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 400; ++i) {
        const qint64 start = threadCpuNanoseconds();
        helper.device()->read(buffer.data(), buffer.size());
        costs.push_back(threadCpuNanoseconds() - start);
    }
    const qint64 wall = QDateTime::currentMSecsSinceEpoch() - wallStart;
    std::sort(costs.begin(), costs.end());
    double sum = 0;
    for (qint64 c : costs)
        sum += double(c);
    const double pullPeriodUs = 2048.0 / 48000.0 * 1e6;
    std::printf(
        "%-28s mean %7.1f us  median %7.1f us  p99 %7.1f us  (%.2f%% of the %.0f us a pull lasts; %lld ms for 400)\n",
        label, sum / double(costs.size()) / 1000.0, double(costs[costs.size() / 2]) / 1000.0,
        double(costs[costs.size() * 99 / 100]) / 1000.0, 100.0 * sum / double(costs.size()) / 1000.0 / pullPeriodUs,
        pullPeriodUs, static_cast<long long>(wall));
    std::printf("RESULT audio_pull_%s_us=%.1f us\n", key, sum / double(costs.size()) / 1000.0);
    std::printf(
        "RESULT audio_pull_%s_pct=%.2f %%pull\n", key, 100.0 * sum / double(costs.size()) / 1000.0 / pullPeriodUs);
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir folder;
    QJsonArray sources;
    for (int i = 0; i < 16; ++i) {
        sources.append(QJsonObject { { QStringLiteral("name"), QStringLiteral("Tone %1").arg(i + 1) },
            { QStringLiteral("video"),
                QJsonObject { { QStringLiteral("width"), 64 }, { QStringLiteral("height"), 36 },
                    { QStringLiteral("fps"), 25 }, { QStringLiteral("format"), QStringLiteral("UYVY") },
                    { QStringLiteral("aspect"), 0 }, { QStringLiteral("pattern"), QStringLiteral("solid") },
                    { QStringLiteral("color"), QStringLiteral("#808080") } } },
            { QStringLiteral("audio"),
                QJsonObject {
                    { QStringLiteral("frequency"), 200 + 50 * i }, { QStringLiteral("peak"), 0.05 * (i + 1) } } } });
    }
    QFile file(folder.filePath(QStringLiteral("sources.json")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
    file.close();
    qputenv("NDI_SIM_SOURCES", file.fileName().toLocal8Bit());
    // No sound output: the player's sink stays idle and this thread does the pulling.
    qputenv("PULSE_SERVER", QByteArray("unix:") + folder.filePath(QStringLiteral("no-such-socket")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
    QCoreApplication app(argc, argv);

    SlotListModel slotList;
    for (int i = 0; i < 16; ++i) {
        auto* slot = new Slot;
        slot->setViewingOnly(true);
        slotList.append(slot);
        slot->connectSource(QStringLiteral("Tone %1").arg(i + 1));
    }
    SlotListAudioHelper helper(&slotList);
    QTest::qWait(1000); // let the synchronisers fill

    measure(helper, "16 slots, none listened:", "none");
    helper.startListening(slotList.allSlots().at(0));
    measure(helper, "16 slots, one listened:", "one");
    helper.stopListening();
    return 0;
}
