// Costs on the main thread of the slot layer: building the sixteen slots of the largest grid (each
// with its receiver, recording controller and drive monitors) and delivering level reports through
// the slot list model to a listening view, as the audio thread's reports arrive for every slot.
// Prints figures; asserts nothing. Runs in a temporary home so no real settings are touched.
#include "app/settingsmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <time.h>

#include <chrono>
#include <cstdio>

namespace
{

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
    QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    SettingsModel::instance();

    const double buildStart = threadCpuMs();
    auto model = std::make_unique<SlotListModel>();
    model->createSlots(4, 4, 0);
    const double buildMs = threadCpuMs() - buildStart;
    std::printf("build 16 slots: %.2f ms CPU (%.3f ms per slot)\n", buildMs, buildMs / 16);
    std::printf("RESULT slots_build16=%.2f ms\n", buildMs);

    long changes = 0;
    QObject::connect(model.get(), &QAbstractItemModel::dataChanged, model.get(),
        [&changes](const QModelIndex& topLeft) { changes += topLeft.row() >= 0; });
    // 50 reports a second per slot for one minute.
    const int rounds = 50 * 60;
    const QList<Slot*> all = model->allSlots();
    const double levelStart = threadCpuMs();
    for (int round = 0; round < rounds; ++round) {
        for (Slot* slot : all)
            slot->vuUpdated(40 + round % 30, 35 + round % 20);
    }
    const double levelMs = threadCpuMs() - levelStart;
    const long reports = long(rounds) * all.size();
    std::printf("level reports: %ld in %.1f ms CPU (%.2f us each, %ld dataChanged); one minute of 16 slots "
                "costs %.2f%% of one core\n",
        reports, levelMs, levelMs * 1000 / double(reports), changes, levelMs / 600.0);
    std::printf("RESULT slots_level_report=%.2f us\n", levelMs * 1000 / double(reports));

    const double teardownStart = threadCpuMs();
    model.reset();
    std::printf("tear down 16 slots (settings written): %.2f ms CPU\n", threadCpuMs() - teardownStart);
    return 0;
}
