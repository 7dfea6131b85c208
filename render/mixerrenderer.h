#pragma once

#include "render/celllayout.h"

#include <QObject>
#include <QOpenGLFunctions_4_0_Core>
#include <QSize>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class Mixer;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QQuickWindow;
class Receiver;

// Draws every slot's newest frame into its cell underneath the QML scene. Lives on the render
// thread: created by Mixer::sync, used by init()/paint() and deleted when the scene graph goes,
// always with the window's OpenGL context current. It never touches the Mixer item, which the GUI
// thread may delete at any time; everything it needs from there is copied in during sync.
class MixerRenderer : public QObject, protected QOpenGLFunctions_4_0_Core
{
    Q_OBJECT
public:
    // One entry per cell, in drawing order: called on the render thread, it returns the receiver
    // to draw now (null while nothing is connected). The caller keeps the returned pointer only
    // for the current frame, so a receiver replaced meanwhile is freed once that frame is done.
    using ReceiverSource = std::function<std::shared_ptr<Receiver>()>;

    // Frames larger than this (height x row bytes) do not fit a staging buffer and are skipped.
    static constexpr qint64 stagingBytes = 4096LL * 2160 * 4;
    static constexpr int recordsPerSet = 16;

    // Figures for tests and benchmarks: written by the render thread, read by anyone. The item
    // and its renderers share one set, so the figures survive a renderer and need no sync().
    struct Counters {
        std::atomic<quint64> uploadFrames { 0 };
        std::atomic<quint64> uploadedBytes { 0 };
        std::atomic<quint64> skippedFrames { 0 };
        std::atomic<quint64> paintCount { 0 };
        std::atomic<qint64> paintCpuNanoseconds { 0 }; // CPU time of the render thread in paint()
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

    // The pacing rule on its own: given the milliseconds since the previous frame, updates the
    // ring and the counter and tells whether this frame uploads.
    struct Pacing {
        std::array<float, 10> ring {};
        int writeIndex = 0;
        int counter = 0;
        Pacing() { ring.fill(42.0f); }
        bool frame(qint64 deltaMs);
    };

public Q_SLOTS:
    void init();
    void paint();

private:
    struct TextureRecord {
        int width = 1;
        int height = 1;
        float aspect = 1.0f;
        int rowBytes = 2;
        int formatCode = 0;
        GLenum transferFormat = GL_RGBA;
        GLuint staging = 0;
        qint64 stagingAllocated = 0; // bytes of storage the staging buffer has so far
        GLuint source = 0;
        GLuint converted = 0;
        void* mapped = nullptr;
        GLsync fence = nullptr;
        bool empty = true;
        // The converted texture holds the current source picture: the conversion runs once per
        // uploaded frame, not on every frame that shows it.
        bool convertedCurrent = false;
        // Storage currently specified for the two textures; re-specified only on a change.
        QSize sourceStorage;
        QSize convertedStorage;
    };
    using TextureSet = std::array<TextureRecord, recordsPerSet>;

    void createRecord(TextureRecord& record);
    void releaseRecord(TextureRecord& record);
    void waitForFence(TextureRecord& record);
    void upload(TextureRecord& record, Receiver* receiver);
    GLuint convert(TextureRecord& record, GLuint targetFramebuffer);
    void drawQuad(const CellLayout::Quad& quad, GLuint texture);
    void releaseGl();

    static std::atomic<int> s_liveRenderers;

    Mixer* m_mixer; // back pointer for identification only; never dereferenced on the render thread
    QSize m_viewportSize;
    QOpenGLShaderProgram* m_drawProgram = nullptr;
    QOpenGLShaderProgram* m_convertProgram = nullptr;
    QQuickWindow* m_window = nullptr;
    GLuint m_vao = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_elementBuffer = 0;
    GLuint m_framebuffer = 0;
    CellLayout m_layout;
    bool m_initializationFailed = false;
    bool m_glCreated = false;
    QOpenGLContext* m_context = nullptr; // the context the GL objects belong to
    Pacing m_pacing;
    // Two sets exchanged on every upload frame: frames are transferred into the upload set while
    // the draw set shows the frames transferred one upload frame earlier.
    std::unique_ptr<TextureSet> m_drawSet;
    std::unique_ptr<TextureSet> m_uploadSet;
    std::vector<ReceiverSource> m_drawingList;
    bool m_hasDrawingList = false;
    QString m_gpuName;
    bool m_hasPreviousFrameTime = false;
    std::chrono::steady_clock::time_point m_previousFrameTime;
    const std::shared_ptr<Counters> m_counters;
};
