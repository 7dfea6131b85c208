#pragma once

#include "render/mixerrenderer.h"

#include <QQuickItem>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <vector>

class QQuickWindow;
class SlotListModel;
Q_MOC_INCLUDE(<QQuickWindow>)
Q_MOC_INCLUDE("slots/slotlistmodel.h")

// The preview item: ties the OpenGL renderer to the window. The item needs no size; the renderer
// always covers the whole window underneath the QML scene. Lives on the GUI thread; the renderer
// lives on the render thread and the two meet only in sync(), while the GUI thread is blocked.
class Mixer : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double t READ t WRITE setT NOTIFY tChanged)
    Q_PROPERTY(SlotListModel* slotList READ slotList WRITE setSlotList)
    Q_PROPERTY(bool cannotInitialize READ cannotInitialize WRITE setCannotInitialize NOTIFY cannotInitializeChanged)
    Q_PROPERTY(QString gpuName READ gpuName WRITE setGpuName NOTIFY gpuNameChanged)
    // Pixels at the top of the window that hold the toolbar: the cells are drawn below them.
    Q_PROPERTY(int topInset READ topInset WRITE setTopInset NOTIFY topInsetChanged)

public:
    Mixer();
    ~Mixer() override;

    double t() const { return m_t; }
    SlotListModel* slotList() const { return m_slotList; }
    bool cannotInitialize() const { return m_cannotInitialize; }
    QString gpuName() const { return m_gpuName; }
    int topInset() const { return m_topInset; }

    // The grid comes from the settings when the item is made; a different one may be given
    // before the first frame (tests and benchmarks).
    void setGridShape(int columns, int rows, int extras);
    // Draws these instead of the slot list (tests and benchmarks); set before the first frame.
    void setReceiverSources(std::vector<MixerRenderer::ReceiverSource> sources);

    // What the renderers did so far (any thread).
    struct Statistics {
        quint64 paintCount = 0;
        quint64 newPictureFrames = 0;
        quint64 uploads = 0;
        quint64 uploadedBytes = 0;
        quint64 skippedFrames = 0;
        qint64 paintCpuNanoseconds = 0;
    };
    Statistics statistics() const;

public Q_SLOTS:
    void sync();
    void cleanup();
    void update();
    void setSlotList(SlotListModel* slotList);
    void setT(double t);
    void setCannotInitialize(bool cannotInitialize);
    void setGpuName(QString gpuName);
    void setTopInset(int topInset);

Q_SIGNALS:
    void tChanged();
    void cannotInitializeChanged(bool cannotInitialize);
    void gpuNameChanged(QString gpuName);
    void topInsetChanged();

private Q_SLOTS:
    void handleWindowChanged(QQuickWindow* win);

private:
    void releaseResources() override;
    std::vector<MixerRenderer::ReceiverSource> drawingList() const;
    void setFrameInterval(int ms);
    void watchForReceivers();
    void logStatistics();

    double m_t = 0.0;
    // Created, used and deleted on the render thread; the GUI thread touches the pointer only
    // while the render thread is blocked (releaseResources hands the object to a render job).
    MixerRenderer* m_renderer = nullptr;
    // Set by start-up on the GUI thread; read in sync() only. Its slots outlive the window.
    SlotListModel* m_slotList = nullptr;
    bool m_cannotInitialize = false;
    QString m_gpuName;
    int m_columns = 3;
    int m_rows = 3;
    int m_extras = 0;
    int m_topInset = 0;
    std::vector<MixerRenderer::ReceiverSource> m_receiverSources;
    bool m_hasReceiverSources = false;
    const std::shared_ptr<MixerRenderer::Counters> m_counters = std::make_shared<MixerRenderer::Counters>();
    // The window is drawn for the pictures only while something is bound, at the rate the
    // renderer asks for; the scene's own changes (meters, texts, animations) ask by themselves.
    QTimer m_frameTimer;
    int m_frameIntervalMs = 0; // as last published by the renderer; written in sync()
    QTimer m_watchTimer; // while the frame timer stands: has anything been bound?
    QTimer m_statisticsTimer;
    Statistics m_loggedStatistics;
};
