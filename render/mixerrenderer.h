#pragma once

#include "render/celllayout.h"

#include <QObject>
#include <QOpenGLFunctions_4_0_Core>
#include <QSize>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class Mixer;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QQuickWindow;
class Receiver;
struct VideoFrameInfo;

// Draws every slot's newest frame into its cell underneath the QML scene. Lives on the render
// thread: created by Mixer::sync, used by init()/paint() and deleted when the scene graph goes,
// always with the window's OpenGL context current. It never touches the Mixer item, which the GUI
// thread may delete at any time; everything it needs from there is copied in during sync.
class MixerRenderer : public QObject, protected QOpenGLFunctions_4_0_Core
{
    Q_OBJECT
public:
    // One entry per cell, in drawing order: it returns the receiver to draw now (null while
    // nothing is connected). Called on the render thread, and on the GUI thread to see whether
    // anything is bound, so it must be safe from any thread. The caller keeps the returned pointer only
    // for the current frame, so a receiver replaced meanwhile is freed once that frame is done.
    using ReceiverSource = std::function<std::shared_ptr<Receiver>()>;

    // Frames larger than this (height x row bytes) do not fit a staging buffer and are skipped.
    static constexpr qint64 stagingBytes = 4096LL * 2160 * 4;
    static constexpr int recordsPerSet = 16;

    // Figures for tests and benchmarks: written by the render thread, read by anyone. The item
    // and its renderers share one set, so the figures survive a renderer and need no sync().
    struct Counters {
        std::atomic<quint64> paintCount { 0 }; // frames drawn
        std::atomic<quint64> newPictureFrames { 0 }; // frames drawn with at least one new picture
        std::atomic<quint64> uploads { 0 }; // pictures uploaded
        std::atomic<quint64> uploadedBytes { 0 };
        std::atomic<quint64> skippedFrames { 0 };
        std::atomic<qint64> paintCpuNanoseconds { 0 }; // CPU time of the render thread in paint()
        // 0 not tried, 1 working, 2 failed: "Cannot initialize OpenGL" is logged on a change to 2.
        std::atomic<int> glState { 0 };
    };

    MixerRenderer(Mixer* mixer, const CellLayout& layout, std::shared_ptr<Counters> counters);
    ~MixerRenderer() override;

    // Renderers in existence, for checking that none outlives its scene graph.
    static int liveRenderers() { return s_liveRenderers.load(); }

    // Set during synchronisation only (render thread, GUI thread blocked).
    void setViewportSize(const QSize& size) { m_viewportSize = size; }
    void setWindow(QQuickWindow* window) { m_window = window; }
    bool hasDrawingList() const { return m_hasDrawingList; }
    void setDrawingList(std::vector<ReceiverSource> list);

    // What init() found, read by Mixer::sync to publish it on the GUI thread.
    bool initializationFailed() const { return m_initializationFailed; }
    QString gpuName() const { return m_gpuName; }

    // How often the window should be drawn for the pictures, in milliseconds: 0 while no cell has
    // a receiver (nothing moves), else the period of the fastest source shown (a slower poll while
    // a receiver has no picture yet), never shorter than minIntervalMs. Read in sync.
    int frameIntervalMs() const { return m_frameIntervalMs; }
    // Set during synchronisation: the display's frame period.
    void setMinIntervalMs(int ms) { m_minIntervalMs = ms; }

public Q_SLOTS:
    void init();
    void paint();

private:
    struct TextureRecord {
        int width = 1; // of the uploaded (reduced) picture
        int height = 1;
        float aspect = 1.0f; // display aspect of the source
        int formatCode = 0;
        int step = 1; // the source's every step-th row and column was uploaded
        qint64 serial = 0; // of the picture uploaded
        GLuint staging = 0;
        qint64 stagingAllocated = 0; // bytes of storage the staging buffer has so far
        GLuint source = 0;
        GLsync fence = nullptr;
        bool empty = true;
        // Storage currently specified for the texture; re-specified only on a change.
        QSize sourceStorage;
    };
    using TextureSet = std::array<TextureRecord, recordsPerSet>;

    void createRecord(TextureRecord& record);
    void releaseRecord(TextureRecord& record);
    void waitForFence(TextureRecord& record);
    void upload(TextureRecord& record, const VideoFrameInfo& frame, int step);
    void drawQuad(const CellLayout::Quad& quad, const TextureRecord& record);
    void releaseGl();

    static std::atomic<int> s_liveRenderers;
    static std::atomic<bool> s_firstPictureLogged; // once a run: how long the start took shows in the log

    Mixer* m_mixer; // back pointer for identification only; never dereferenced on the render thread
    QSize m_viewportSize;
    QOpenGLShaderProgram* m_drawProgram = nullptr;
    QQuickWindow* m_window = nullptr;
    GLuint m_vao = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_elementBuffer = 0;
    int m_uyvyLocation = -1;
    CellLayout m_layout;
    bool m_initializationFailed = false;
    bool m_glCreated = false;
    QOpenGLContext* m_context = nullptr; // the context the GL objects belong to
    std::unique_ptr<TextureSet> m_records; // one per cell
    int m_frameIntervalMs = 0;
    int m_minIntervalMs = 16;
    std::vector<ReceiverSource> m_drawingList;
    bool m_hasDrawingList = false;
    QString m_gpuName;
    const std::shared_ptr<Counters> m_counters;
};
