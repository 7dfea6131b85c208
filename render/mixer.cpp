#include "render/mixer.h"

#include "app/settingsmodel.h"
#include "slots/slotlistmodel.h"

#include <QQuickWindow>
#include <QRunnable>

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
}

Mixer::~Mixer()
{
    // QQuickItem's own destructor no longer reaches our override, so hand the renderer over here.
    releaseResources();
}

Mixer::Statistics Mixer::statistics() const
{
    Statistics figures;
    figures.uploadFrames = m_counters->uploadFrames;
    figures.uploadedBytes = m_counters->uploadedBytes;
    figures.skippedFrames = m_counters->skippedFrames;
    figures.paintCount = m_counters->paintCount;
    figures.paintCpuNanoseconds = m_counters->paintCpuNanoseconds;
    return figures;
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
        // Keep rendering at the display rate: video changes without the scene changing. Asking
        // the window from the render thread is what the render loops expect here.
        connect(
            win, &QQuickWindow::frameSwapped, m_renderer, [win] { win->update(); }, Qt::DirectConnection);
    }
    const qreal ratio = win->effectiveDevicePixelRatio();
    m_renderer->setViewportSize(QSize(int(std::lround(win->width() * ratio)), int(std::lround(win->height() * ratio))));
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
