#include "render/mixer.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "slots/slotlistmodel.h"

#include <QQuickWindow>
#include <QRunnable>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace
{

// Deletes the renderer on the render thread, with the context current, after the item has gone.
// A window that is no longer renderable deletes its jobs without running them; the renderer then
// goes with the job and leaves its GL objects to the context.
class CleanupJob : public QRunnable
{
public:
    explicit CleanupJob(MixerRenderer* renderer)
        : m_renderer(renderer)
    {
    }
    ~CleanupJob() override { delete m_renderer; }
    void run() override
    {
        delete m_renderer;
        m_renderer = nullptr;
    }

private:
    MixerRenderer* m_renderer;
};

} // namespace

Mixer::Mixer()
{
    const SettingsModel* settings = SettingsModel::instance();
    m_columns = settings->gridWidth();
    m_rows = settings->gridHeight();
    m_extras = settings->gridExtra();
    connect(this, &QQuickItem::windowChanged, this, &Mixer::handleWindowChanged);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &Mixer::update);
    m_watchTimer.setInterval(250);
    connect(&m_watchTimer, &QTimer::timeout, this, &Mixer::watchForReceivers);
    m_watchTimer.start();
    if (!qEnvironmentVariableIsEmpty("RECORDER_RENDER_STATS")) {
        connect(&m_statisticsTimer, &QTimer::timeout, this, &Mixer::logStatistics);
        m_statisticsTimer.start(2000);
    }
}

Mixer::~Mixer()
{
    // QQuickItem's own destructor no longer reaches our override, so hand the renderer over here.
    releaseResources();
}

Mixer::Statistics Mixer::statistics() const
{
    Statistics figures;
    figures.paintCount = m_counters->paintCount;
    figures.newPictureFrames = m_counters->newPictureFrames;
    figures.uploads = m_counters->uploads;
    figures.uploadedBytes = m_counters->uploadedBytes;
    figures.skippedFrames = m_counters->skippedFrames;
    figures.paintCpuNanoseconds = m_counters->paintCpuNanoseconds;
    return figures;
}

void Mixer::logStatistics()
{
    const Statistics now = statistics();
    Logger::write(QStringLiteral("Render statistics: %1 frames drawn, %2 with a new picture, %3 pictures uploaded")
                      .arg(now.paintCount - m_loggedStatistics.paintCount)
                      .arg(now.newPictureFrames - m_loggedStatistics.newPictureFrames)
                      .arg(now.uploads - m_loggedStatistics.uploads));
    m_loggedStatistics = now;
}

void Mixer::setFrameInterval(int ms)
{
    if (ms <= 0) {
        m_frameTimer.stop();
        return;
    }
    if (!m_frameTimer.isActive() || m_frameTimer.interval() != ms)
        m_frameTimer.start(ms);
}

void Mixer::watchForReceivers()
{
    if (m_frameTimer.isActive())
        return;
    // A receiver bound without any change to the scene (a source that comes back, a test's
    // list) still gets its first frame drawn.
    for (const MixerRenderer::ReceiverSource& source : drawingList()) {
        if (source && source()) {
            update();
            return;
        }
    }
}

void Mixer::setGridShape(int columns, int rows, int extras)
{
    m_columns = columns;
    m_rows = rows;
    m_extras = extras;
}

void Mixer::setReceiverSources(std::vector<MixerRenderer::ReceiverSource> sources)
{
    m_receiverSources = std::move(sources);
    m_hasReceiverSources = true;
}

void Mixer::handleWindowChanged(QQuickWindow* win)
{
    if (!win)
        return;
    // Direct connections: both run on the render thread, sync() while the GUI thread waits.
    connect(win, &QQuickWindow::beforeSynchronizing, this, &Mixer::sync, Qt::DirectConnection);
    connect(win, &QQuickWindow::sceneGraphInvalidated, this, &Mixer::cleanup, Qt::DirectConnection);
}

std::vector<MixerRenderer::ReceiverSource> Mixer::drawingList() const
{
    if (m_hasReceiverSources)
        return m_receiverSources;
    std::vector<MixerRenderer::ReceiverSource> list;
    if (!m_slotList)
        return list;
    // The slots live until after the window has gone, so the render thread may keep pointers
    // to them; activeReceiver() is the one call on a slot that is safe from that thread.
    for (Slot* slot : m_slotList->allSlots())
        list.push_back([slot] { return slot->activeReceiver(); });
    return list;
}

void Mixer::sync()
{
    QQuickWindow* win = window();
    if (!win)
        return;
    if (!m_renderer) {
        m_renderer = new MixerRenderer(this, CellLayout(m_columns, m_rows, m_extras), m_counters);
        connect(win, &QQuickWindow::beforeRendering, m_renderer, &MixerRenderer::init, Qt::DirectConnection);
        connect(win, &QQuickWindow::beforeRenderPassRecording, m_renderer, &MixerRenderer::paint, Qt::DirectConnection);
    }
    const qreal refresh = win->screen() ? win->screen()->refreshRate() : 60.0;
    m_renderer->setMinIntervalMs(refresh >= 1.0 ? int(std::ceil(1000.0 / refresh)) : 16);
    const int interval = m_renderer->frameIntervalMs();
    if (interval != m_frameIntervalMs) {
        m_frameIntervalMs = interval;
        QMetaObject::invokeMethod(
            this, [this, interval] { setFrameInterval(interval); }, Qt::QueuedConnection);
    }
    const qreal ratio = win->effectiveDevicePixelRatio();
    // The viewport starts at the bottom, so leaving out the inset keeps the top band free of pictures.
    const int shownHeight = std::max(0, win->height() - m_topInset);
    m_renderer->setViewportSize(QSize(int(std::lround(win->width() * ratio)), int(std::lround(shownHeight * ratio))));
    m_renderer->setWindow(win);
    if (!m_renderer->hasDrawingList()) {
        std::vector<MixerRenderer::ReceiverSource> list = drawingList();
        if (!list.empty())
            m_renderer->setDrawingList(std::move(list));
    }

    // The renderer's findings reach the properties on the GUI thread, where QML reads them.
    const bool failed = m_renderer->initializationFailed();
    const QString gpu = m_renderer->gpuName();
    if (failed != m_cannotInitialize && failed)
        QMetaObject::invokeMethod(
            this, [this] { setCannotInitialize(true); }, Qt::QueuedConnection);
    if (!gpu.isEmpty() && gpu != m_gpuName)
        QMetaObject::invokeMethod(
            this, [this, gpu] { setGpuName(gpu); }, Qt::QueuedConnection);
}

void Mixer::cleanup()
{
    delete m_renderer;
    m_renderer = nullptr;
}

void Mixer::releaseResources()
{
    if (!m_renderer)
        return;
    if (QQuickWindow* win = window())
        win->scheduleRenderJob(new CleanupJob(m_renderer), QQuickWindow::BeforeSynchronizingStage);
    m_renderer = nullptr;
}

void Mixer::setTopInset(int topInset)
{
    if (topInset == m_topInset)
        return;
    m_topInset = topInset;
    emit topInsetChanged();
    update();
}

void Mixer::setSlotList(SlotListModel* slotList)
{
    m_slotList = slotList;
}

void Mixer::update()
{
    if (QQuickWindow* win = window())
        win->update();
}

void Mixer::setT(double t)
{
    if (m_t == t)
        return;
    m_t = t;
    Q_EMIT tChanged();
}

void Mixer::setCannotInitialize(bool cannotInitialize)
{
    if (m_cannotInitialize == cannotInitialize)
        return;
    m_cannotInitialize = cannotInitialize;
    Q_EMIT cannotInitializeChanged(m_cannotInitialize);
}

void Mixer::setGpuName(QString gpuName)
{
    if (m_gpuName == gpuName)
        return;
    m_gpuName = gpuName;
    Q_EMIT gpuNameChanged(m_gpuName);
}
