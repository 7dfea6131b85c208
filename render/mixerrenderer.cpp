#include "render/mixerrenderer.h"

#include "app/logger.h"
#include "ndi/receiver.h"

#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace
{

const char* const vertexSource = R"(
#version 400 core
in vec2 position;
in vec2 texcoord;
out vec2 Texcoord;
void main()
{
    Texcoord = texcoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

// BGRA is sampled as it is. UYVY arrives as two-byte texels (r holds U or V, g holds Y) and is
// converted right here, in the cell, at the pixels it covers: each fragment fetches its texel and
// the pair that carries its colour (video-range BT.709). Outside the picture (the aspect bars) it
// adds nothing, like the border of a BGRA picture.
const char* const drawFragmentSource = R"(
#version 400 core
in vec2 Texcoord;
uniform sampler2D picture;
uniform int uyvy;
layout(location = 0)
out vec4 dd_FragColor;

void main()
{
    if (uyvy == 0) {
        dd_FragColor = texture(picture, Texcoord);
        return;
    }
    if (any(lessThan(Texcoord, vec2(0.0))) || any(greaterThanEqual(Texcoord, vec2(1.0)))) {
        dd_FragColor = vec4(0.0);
        return;
    }
    ivec2 size = textureSize(picture, 0);
    ivec2 texel = min(ivec2(Texcoord * vec2(size)), size - 1);
    int pair = texel.x - texel.x % 2;
    float y = texelFetch(picture, texel, 0).g * 255.0;
    float u = texelFetch(picture, ivec2(pair, texel.y), 0).r * 255.0;
    float v = texelFetch(picture, ivec2(pair + 1, texel.y), 0).r * 255.0;
    vec4 rgba;
    rgba.r = (1.164 * (y - 16.0) + 1.793 * (v - 128.0)) / 255.0;
    rgba.g = (1.164 * (y - 16.0) - 0.213 * (u - 128.0) - 0.534 * (v - 128.0)) / 255.0;
    rgba.b = (1.164 * (y - 16.0) + 2.1148 * (u - 128.0)) / 255.0;
    rgba.a = 1.0;
    dd_FragColor = rgba;
}
)";

const GLfloat fullWindowQuad[16] = { -1, 1, 0, 0, 1, 1, 1, 0, 1, -1, 1, 1, -1, -1, 0, 1 };
const GLuint quadIndices[6] = { 0, 1, 2, 2, 3, 0 };

constexpr GLuint positionLocation = 0;
constexpr GLuint texcoordLocation = 1;

qint64 threadCpuNanoseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool buildProgram(QOpenGLShaderProgram* program, const char* fragmentSource)
{
    bool ok = program->addCacheableShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource);
    ok = program->addCacheableShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource) && ok;
    // Both programs share one vertex array, so the attributes must sit at the same places.
    program->bindAttributeLocation("position", positionLocation);
    program->bindAttributeLocation("texcoord", texcoordLocation);
    return program->link() && ok;
}

} // namespace

std::atomic<int> MixerRenderer::s_liveRenderers { 0 };
std::atomic<bool> MixerRenderer::s_firstPictureLogged { false };

MixerRenderer::MixerRenderer(Mixer* mixer, const CellLayout& layout, std::shared_ptr<Counters> counters)
    : m_mixer(mixer)
    , m_layout(layout)
    , m_records(std::make_unique<TextureSet>())
    , m_counters(counters ? std::move(counters) : std::make_shared<Counters>())
{
    ++s_liveRenderers;
}

MixerRenderer::~MixerRenderer()
{
    // Normally deleted on the render thread with the context current (scene graph invalidation
    // or the cleanup job the item schedules), so the GL objects go here. Without that context
    // they cannot be named any more; they go with the context itself.
    if (m_glCreated && QOpenGLContext::currentContext() == m_context)
        releaseGl();
    delete m_drawProgram;
    --s_liveRenderers;
}

void MixerRenderer::setDrawingList(std::vector<ReceiverSource> list)
{
    m_drawingList = std::move(list);
    m_hasDrawingList = true;
}

void MixerRenderer::init()
{
    if (m_glCreated)
        return;
    if (!m_window || m_window->rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL
        || !initializeOpenGLFunctions()) {
        // Tried on every frame; said once until it works again.
        if (m_counters->glState.exchange(2) != 2)
            Logger::write(QStringLiteral("Cannot initialize OpenGL"));
        m_initializationFailed = true;
        return;
    }
    m_counters->glState = 1;
    m_initializationFailed = false;
    // Qt leaves an error of its own pending; ours start from a clean state.
    while (glGetError() != GL_NO_ERROR) { }

    m_context = QOpenGLContext::currentContext();
    m_gpuName = QString::fromUtf8(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    m_drawProgram = new QOpenGLShaderProgram();
    if (!buildProgram(m_drawProgram, drawFragmentSource))
        Logger::write(QStringLiteral("Cannot link draw shaders"));

    glGenVertexArrays(1, &m_vao);
    glBindVertexArray(m_vao);
    glGenBuffers(1, &m_vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(fullWindowQuad), fullWindowQuad, GL_DYNAMIC_DRAW);
    glGenBuffers(1, &m_elementBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_elementBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(quadIndices), quadIndices, GL_STATIC_DRAW);

    glVertexAttribPointer(positionLocation, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
    glEnableVertexAttribArray(positionLocation);
    glVertexAttribPointer(texcoordLocation, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
    glEnableVertexAttribArray(texcoordLocation);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    for (TextureRecord& record : *m_records)
        createRecord(record);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    m_drawProgram->bind();
    m_drawProgram->setUniformValue("picture", 0);
    m_uyvyLocation = m_drawProgram->uniformLocation("uyvy");
    m_drawProgram->release();
    m_glCreated = true;
}

void MixerRenderer::createRecord(TextureRecord& record)
{
    record = TextureRecord();
    // Storage comes with the first frame (see upload): a software driver clears every buffer it
    // allocates, and 32 full-size buffers up front cost seconds and over a gigabyte of memory for
    // cells that may never show more than a small picture.
    glGenBuffers(1, &record.staging);
    glGenTextures(1, &record.source);
    glBindTexture(GL_TEXTURE_2D, record.source);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RG8, 100, 100, 0, GL_RG, GL_UNSIGNED_BYTE, nullptr);
    // The placeholder storage is two-channel: the first real frame always re-specifies it.
    record.sourceStorage = QSize();
}

void MixerRenderer::releaseRecord(TextureRecord& record)
{
    if (record.fence)
        glDeleteSync(record.fence);
    if (record.staging)
        glDeleteBuffers(1, &record.staging);
    if (record.source)
        glDeleteTextures(1, &record.source);
    record = TextureRecord();
}

void MixerRenderer::releaseGl()
{
    delete m_drawProgram;
    m_drawProgram = nullptr;
    for (TextureRecord& record : *m_records)
        releaseRecord(record);
    glDeleteBuffers(1, &m_vertexBuffer);
    glDeleteBuffers(1, &m_elementBuffer);
    glDeleteVertexArrays(1, &m_vao);
    m_vertexBuffer = m_elementBuffer = m_vao = 0;
    m_glCreated = false;
}

void MixerRenderer::waitForFence(TextureRecord& record)
{
    if (!record.fence)
        return;
    // The fence went in one upload period ago, so this normally returns at once. A failed wait
    // ends the poll: the fence is dropped rather than polled for ever.
    GLbitfield flags = GL_SYNC_FLUSH_COMMANDS_BIT;
    for (;;) {
        const GLenum result = glClientWaitSync(record.fence, flags, 0);
        if (result == GL_ALREADY_SIGNALED || result == GL_CONDITION_SATISFIED || result == GL_WAIT_FAILED)
            break;
        flags = 0;
    }
    glDeleteSync(record.fence);
    record.fence = nullptr;
}

void MixerRenderer::upload(TextureRecord& record, const VideoFrameInfo& frame, int step)
{
    const bool uyvy = frame.pixelFormat == 2;
    const int pixelBytes = uyvy ? 2 : 4;
    // A UYVY picture narrower than one pair has nothing to convert (and a pair to over-read).
    record.empty = frame.width < (uyvy ? 2 : 1) || frame.height < 1 || !frame.data;
    if (record.empty)
        return;
    if (qint64(frame.height) * frame.width * pixelBytes > stagingBytes) {
        // Larger than any picture this path is made for.
        record.empty = true;
        ++m_counters->skippedFrames;
        return;
    }
    // Every step-th row and column (in UYVY every step-th pair of pixels, which share their
    // colour): the cell shows no more than that, and what is not read costs nothing.
    const int width = uyvy ? std::max(2, (frame.width / 2 / step) * 2) : std::max(1, frame.width / step);
    const int height = std::max(1, frame.height / step);
    record.width = width;
    record.height = height;
    record.step = step;
    record.aspect = frame.aspectRatio;
    record.formatCode = uyvy ? 2 : 0;
    const int rowBytes = width * pixelBytes;
    const qint64 bytes = qint64(height) * rowBytes;

    glBindTexture(GL_TEXTURE_2D, record.source);
    const QSize size(width, height);
    if (record.sourceStorage != size) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        record.sourceStorage = size;
    }
    waitForFence(record);

    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, record.staging);
    if (bytes > record.stagingAllocated) {
        // Grows to the largest picture seen (in whole mebibytes), so that a cell showing a small
        // picture does not hold a full-size buffer.
        record.stagingAllocated = std::min(stagingBytes, (bytes + 0xFFFFF) & ~qint64(0xFFFFF));
        glBufferData(GL_PIXEL_UNPACK_BUFFER, record.stagingAllocated, nullptr, GL_STREAM_DRAW);
    }
    auto* mapped = static_cast<uchar*>(
        glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, bytes, GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT));
    if (mapped) {
        const qint64 sourceRowBytes = qint64(frame.width) * pixelBytes;
        if (step == 1 && width == frame.width) {
            std::memcpy(mapped, frame.data, size_t(bytes));
        } else {
            // Four bytes at a time: one BGRA pixel, or one UYVY pair.
            const qint64 stride = qint64(step) * 4;
            const int units = rowBytes / 4;
            for (int y = 0; y < height; ++y) {
                const uchar* from = frame.data + qint64(y) * step * sourceRowBytes;
                uchar* to = mapped + qint64(y) * rowBytes;
                for (int x = 0; x < units; ++x)
                    std::memcpy(to + x * 4, from + x * stride, 4);
            }
        }
        glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
        m_counters->uploadedBytes += quint64(bytes);
    }
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, uyvy ? GL_RG : GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    record.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    ++m_counters->uploads;
}

void MixerRenderer::drawQuad(const CellLayout::Quad& quad, const TextureRecord& record)
{
    m_drawProgram->setUniformValue(m_uyvyLocation, record.formatCode == 2 ? 1 : 0);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad.v), quad.v.data(), GL_DYNAMIC_DRAW);
    glBindVertexArray(m_vao);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_elementBuffer);
    glBindTexture(GL_TEXTURE_2D, record.source);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
}

void MixerRenderer::paint()
{
    if (!m_window)
        return;
    m_window->beginExternalCommands();
    if (!m_hasDrawingList || !m_glCreated) {
        m_window->endExternalCommands();
        return;
    }
    const qint64 cpuStart = threadCpuNanoseconds();

    GLint unpackAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpackAlignment);
    GLint unpackRowLength = 0;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &unpackRowLength);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // rows are tightly packed, whatever the width
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glViewport(0, 0, m_viewportSize.width(), m_viewportSize.height());
    // Colour only: the render pass has just cleared depth for the scene drawn after this.
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glActiveTexture(GL_TEXTURE0);
    m_drawProgram->bind();

    const float cellAspect = m_layout.cellAspect(m_viewportSize.width(), m_viewportSize.height());
    const size_t count = std::min({ m_drawingList.size(), m_layout.quads().size(), size_t(recordsPerSet) });
    bool bound = false;
    bool waiting = false; // a receiver without a picture, or of unknown rate
    double fastest = 0.0;
    bool newPicture = false;
    for (size_t i = 0; i < count; ++i) {
        TextureRecord& record = (*m_records)[i];
        // Held only for this frame: a receiver the slot lets go of meanwhile is freed after.
        const std::shared_ptr<Receiver> receiver = m_drawingList[i] ? m_drawingList[i]() : nullptr;
        if (!receiver) {
            newPicture = newPicture || !record.empty;
            record.empty = true;
            continue;
        }
        bound = true;
        const VideoFrameInfo frame = receiver->videoFrame();
        if (!frame.data || frame.width < 1 || frame.height < 1) {
            newPicture = newPicture || !record.empty;
            record.empty = true;
            waiting = true;
            continue;
        }
        if (frame.frameRate > 0.0)
            fastest = std::max(fastest, frame.frameRate);
        else
            waiting = true;
        const CellLayout::Quad& quad = m_layout.quads()[i];
        const float aspect = frame.aspectRatio > 0.0f ? frame.aspectRatio : float(frame.width) / float(frame.height);
        const int step = CellLayout::reductionStep(frame.width, frame.height, aspect,
            (quad.right() - quad.left()) / 2.0f * float(m_viewportSize.width()),
            (quad.top() - quad.bottom()) / 2.0f * float(m_viewportSize.height()));
        // A frame handed out again is not uploaded again.
        if (record.empty || frame.serial == 0 || frame.serial != record.serial || step != record.step
            || frame.pixelFormat != record.formatCode || frame.aspectRatio != record.aspect) {
            upload(record, frame, step);
            record.serial = frame.serial;
            newPicture = true;
        }
        if (record.empty)
            continue;
        drawQuad(CellLayout::aspectFit(quad, record.aspect, cellAspect), record);
        if (!s_firstPictureLogged.exchange(true))
            Logger::write(QStringLiteral("First preview picture drawn"));
    }
    // At the fastest source's rate (never faster); polled at 25 a second while a picture is
    // awaited or its rate is unknown.
    int interval = fastest > 0.0 ? int(std::ceil(1000.0 / fastest)) : 0;
    if (waiting)
        interval = interval > 0 ? std::min(interval, 40) : 40;
    if (!bound)
        interval = 0;
    interval = interval > 0 ? std::max(interval, m_minIntervalMs) : 0;
    if (interval != m_frameIntervalMs) {
        // The item picks the new rate up in the next synchronisation, which this asks for.
        m_frameIntervalMs = interval;
        m_window->update();
    }
    if (newPicture)
        ++m_counters->newPictureFrames;

    m_drawProgram->release();
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, unpackRowLength);
    glDisable(GL_BLEND);

    m_counters->paintCpuNanoseconds += threadCpuNanoseconds() - cpuStart;
    ++m_counters->paintCount;
    m_window->endExternalCommands();
}
