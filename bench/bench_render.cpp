// Cost of the preview: CPU time of the paint step per frame with 4, 9 and 16 slots of 1080p
// sources from the simulated network, and the bytes uploaded per second set against this
// machine's memcpy bandwidth measured in the same run. Needs an X display with OpenGL 4.
#include "ndi/ndireceiver.h"
#include "render/mixer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

double memcpyGigabytesPerSecond()
{
    const size_t size = 64u << 20;
    std::vector<char> from(size, 1);
    std::vector<char> to(size, 0);
    QElapsedTimer timer;
    timer.start();
    int copies = 0;
    while (timer.elapsed() < 1000) {
        std::memcpy(to.data(), from.data(), size);
        from[size_t(copies) % size] = char(copies);
        ++copies;
    }
    return double(copies) * double(size) / (double(timer.nsecsElapsed()) / 1e9) / 1e9;
}

struct Figures {
    double paintCpuMs = 0;
    double framesPerSecond = 0;
    double uploadMegabytesPerSecond = 0;
};

Figures measure(int count, int columns, int rows, const QString& format)
{
    Figures figures;
    std::vector<std::shared_ptr<NDIReceiver>> receivers;
    std::vector<MixerRenderer::ReceiverSource> list;
    for (int i = 0; i < count; ++i) {
        auto receiver = NDIReceiver::create(false, true); // full bandwidth: 1080p arrives whole
        receiver->connectToSource(QStringLiteral("%1 %2").arg(format).arg(i + 1));
        receivers.push_back(receiver);
        std::shared_ptr<Receiver> shared = receiver;
        list.push_back([shared] { return shared; });
    }
    QQuickView view;
    view.setSource(QUrl::fromLocalFile(QStringLiteral(BENCH_SCENE)));
    auto* mixer = view.rootObject() ? view.rootObject()->findChild<Mixer*>(QStringLiteral("mixer")) : nullptr;
    if (!mixer)
        return figures;
    mixer->setGridShape(columns, rows, 0);
    mixer->setReceiverSources(list);
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return figures;
    // Warm up: first frames allocate the staging buffers and textures.
    if (!QTest::qWaitFor([mixer] { return mixer->statistics().paintCount > 10 || mixer->cannotInitialize(); }, 20000)
        || mixer->cannotInitialize())
        return figures;

    const Mixer::Statistics before = mixer->statistics();
    QElapsedTimer timer;
    timer.start();
    QTest::qWait(5000);
    const Mixer::Statistics after = mixer->statistics();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const quint64 paints = after.paintCount - before.paintCount;
    if (paints > 0)
        figures.paintCpuMs = double(after.paintCpuNanoseconds - before.paintCpuNanoseconds) / 1e6 / double(paints);
    figures.framesPerSecond = double(paints) / seconds;
    figures.uploadMegabytesPerSecond = double(after.uploadedBytes - before.uploadedBytes) / seconds / 1e6;
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("bench_render: needs an X display with OpenGL 4 (run under Xvfb)\n");
        return 0;
    }
    QTemporaryDir folder;
    QJsonArray sources;
    for (const QString& format : { QStringLiteral("UYVY"), QStringLiteral("BGRA") }) {
        for (int i = 0; i < 16; ++i) {
            sources.append(QJsonObject { { QStringLiteral("name"), QStringLiteral("%1 %2").arg(format).arg(i + 1) },
                { QStringLiteral("video"),
                    QJsonObject { { QStringLiteral("width"), 1920 }, { QStringLiteral("height"), 1080 },
                        { QStringLiteral("fps"), 25 }, { QStringLiteral("format"), format },
                        { QStringLiteral("aspect"), 0 }, { QStringLiteral("pattern"), QStringLiteral("moving") },
                        { QStringLiteral("color"), QStringLiteral("#3060c0") } } },
                { QStringLiteral("audio"), QJsonValue() } });
        }
    }
    QFile file(folder.filePath(QStringLiteral("sources.json")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QJsonDocument(QJsonObject { { QStringLiteral("sources"), sources } }).toJson());
    file.close();
    qputenv("NDI_SIM_SOURCES", file.fileName().toLocal8Bit());
    // The settings the preview reads stay in the scratch folder, not in the user's.
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QGuiApplication app(argc, argv);

    const double memcpyGBs = memcpyGigabytesPerSecond();
    std::printf("memcpy bandwidth: %.2f GB/s\n", memcpyGBs);
    std::printf("RESULT render_memcpy=%.2f GB/s\n", memcpyGBs);
    std::printf(
        "%-6s %-5s %14s %10s %16s %14s\n", "slots", "fmt", "paint CPU ms", "frames/s", "upload MB/s", "% of memcpy");
    const struct {
        int count, columns, rows;
    } grids[] = { { 4, 2, 2 }, { 9, 3, 3 }, { 16, 4, 4 } };
    for (const QString& fmt : { QStringLiteral("UYVY"), QStringLiteral("BGRA") }) {
        for (const auto& grid : grids) {
            const Figures f = measure(grid.count, grid.columns, grid.rows, fmt);
            if (f.framesPerSecond == 0) {
                std::printf("no OpenGL 4 rendering here\n");
                return 0;
            }
            std::printf("%-6d %-5s %14.2f %10.1f %16.1f %13.1f%%\n", grid.count, qPrintable(fmt), f.paintCpuMs,
                f.framesPerSecond, f.uploadMegabytesPerSecond, 100.0 * f.uploadMegabytesPerSecond / 1000.0 / memcpyGBs);
            const QByteArray key = QByteArray::number(grid.count) + fmt.toLatin1();
            std::printf("RESULT render_paint_%s=%.2f ms\n", key.constData(), f.paintCpuMs);
            std::printf("RESULT render_fps_%s=%.1f fps\n", key.constData(), f.framesPerSecond);
            std::printf("RESULT render_upload_%s=%.1f MB/s\n", key.constData(), f.uploadMegabytesPerSecond);
            std::printf("RESULT render_upload_pct_%s=%.2f %%memcpy\n", key.constData(),
                100.0 * f.uploadMegabytesPerSecond / 1000.0 / memcpyGBs);
        }
    }
    return 0;
}
