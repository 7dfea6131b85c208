#include "render/mixerrenderer.h"

#include "app/logger.h"
#include "ndi/receiver.h"

#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QQuickWindow>

#include <algorithm>
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

const char* const drawFragmentSource = R"(
#version 400 core
in vec3 Color;
in vec2 Texcoord;
uniform int usage;
uniform sampler2D tex[3];
layout(location = 0)
out vec4 dd_FragColor;

void main()
{
        dd_FragColor = texture(tex[0], Texcoord);
}
)";

// UYVY arrives as two-byte texels: r holds U or V, g holds Y. Video-range BT.709.
const char* const convertFragmentSource = R"(
#version 400 core
in vec3 Color;
in vec2 Texcoord;
uniform sampler2D tex[3];
layout(location = 0)
out vec4 dd_FragColor;

void main()
{
    float textureWidth = textureSize(tex[0],0).x;
    float y = texture(tex[0], Texcoord.xy).g;
    float u;
    float v;
    if(mod(Texcoord.x*textureWidth, 2.0f) < 1.0)
    {
        u = texture(tex[0], Texcoord.xy).r;
        v = textureOffset(tex[0], Texcoord.st, ivec2(1, 0)).r;
    }
    else
    {
        u = textureOffset(tex[0], Texcoord.xy, ivec2(-1, 0)).r;
        v = texture(tex[0], Texcoord.xy).r;
    }
    vec4 rgba;
    rgba.r = (1.164*(y*255 - 16)                        + 1.793*(v*255 - 128))/255;
    rgba.g = (1.164*(y*255 - 16) - 0.213*(u*255 - 128) - 0.534*(v*255 - 128))/255;
    rgba.b = (1.164*(y*255 - 16) + 2.1148*(u*255 - 128)                       )/255;
    rgba.a = 1;
    dd_FragColor = rgba;
}
)";

const GLfloat fullWindowQuad[16] = { -1, 1, 0, 0, 1, 1, 1, 0, 1, -1, 1, 1, -1, -1, 0, 1 };
const GLfloat fullFrameQuad[16] = { -1, -1, 0, 0, 1, -1, 1, 0, 1, 1, 1, 1, -1, 1, 0, 1 };
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

bool MixerRenderer::Pacing::frame(qint64 deltaMs)
{
    ring[writeIndex] = float(deltaMs);
    writeIndex = (writeIndex + 1) % int(ring.size());
    int sum = 0;
    for (float entry : ring)
        sum = int(float(sum) + entry);
    const double average = sum / 10.0;
    // A late frame gets an extra step so that it uploads at once instead of waiting a frame more.
    if (deltaMs > 24.0 && average < 31.0 && counter % 2 == 0)
        ++counter;
    ++counter;
    return counter % 2 == 0 || average > 31.0;
}

MixerRenderer::MixerRenderer(Mixer* mixer, const CellLayout& layout, std::shared_ptr<Counters> counters)
    : m_mixer(mixer)
    , m_layout(layout)
    , m_drawSet(std::make_unique<TextureSet>())
    , m_uploadSet(std::make_unique<TextureSet>())
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
    delete m_convertProgram;
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
        Logger::write(QStringLiteral("Cannot initialize OpenGL"));
        m_initializationFailed = true;
        return;
    }
    m_initializationFailed = false;
    // Qt leaves an error of its own pending; ours start from a clean state.
    while (glGetError() != GL_NO_ERROR) { }

    m_context = QOpenGLContext::currentContext();
    m_gpuName = QString::fromUtf8(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    m_drawProgram = new QOpenGLShaderProgram();
    if (!buildProgram(m_drawProgram, drawFragmentSource))
        Logger::write(QStringLiteral("Cannot link draw shaders"));
    m_convertProgram = new QOpenGLShaderProgram();
    if (!buildProgram(m_convertProgram, convertFragmentSource))
        Logger::write(QStringLiteral("Cannot link convert shaders"));

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

    for (TextureRecord& record : *m_drawSet)
        createRecord(record);
    for (TextureRecord& record : *m_uploadSet)
        createRecord(record);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    glGenFramebuffers(1, &m_framebuffer);
    m_pacing = Pacing();
    m_glCreated = true;
}

void MixerRenderer::createRecord(TextureRecord& record)
{
    record = TextureRecord();
    // Storage comes with the first frame (see upload): a software driver clears every buffer it
    // allocates, and 32 full-size buffers up front cost seconds and over a gigabyte of memory for
    // cells that may never show more than a small picture.
    glGenBuffers(1, &record.staging);
    for (GLuint* texture : { &record.source, &record.converted }) {
        glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RG8, 100, 100, 0, GL_RG, GL_UNSIGNED_BYTE, nullptr);
    }
    // The placeholder storage is two-channel: the first real frame always re-specifies it.
    record.sourceStorage = record.convertedStorage = QSize();
}

void MixerRenderer::releaseRecord(TextureRecord& record)
{
    if (record.fence)
        glDeleteSync(record.fence);
    if (record.staging)
        glDeleteBuffers(1, &record.staging);
    if (record.source)
        glDeleteTextures(1, &record.source);
    if (record.converted)
        glDeleteTextures(1, &record.converted);
    record = TextureRecord();
}

void MixerRenderer::releaseGl()
{
    delete m_drawProgram;
    m_drawProgram = nullptr;
    delete m_convertProgram;
    m_convertProgram = nullptr;
    for (TextureRecord& record : *m_drawSet)
        releaseRecord(record);
    for (TextureRecord& record : *m_uploadSet)
        releaseRecord(record);
    glDeleteFramebuffers(1, &m_framebuffer);
    glDeleteBuffers(1, &m_vertexBuffer);
    glDeleteBuffers(1, &m_elementBuffer);
    glDeleteVertexArrays(1, &m_vao);
    m_framebuffer = m_vertexBuffer = m_elementBuffer = m_vao = 0;
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

void MixerRenderer::upload(TextureRecord& record, Receiver* receiver)
{
    VideoFrameInfo frame;
    frame.width = 0;
    frame.height = 0;
    frame.aspectRatio = 1.0f;
    frame.data = nullptr;
    if (receiver)
        frame = receiver->videoFrame();

    record.width = frame.width;
    record.height = frame.height;
    record.aspect = frame.aspectRatio;
    record.formatCode = frame.pixelFormat;
    switch (record.formatCode) {
    case 2:
        record.transferFormat = GL_RG;
        record.rowBytes = record.width * 2;
        break;
    case 1:
        record.transferFormat = GL_RGBA;
        record.rowBytes = record.width * 4;
        break;
    default:
        record.formatCode = 0;
        record.transferFormat = GL_BGRA;
        record.rowBytes = record.width * 4;
        break;
    }
    record.empty = record.width < 1 || record.height < 1 || !frame.data;
    if (record.empty)
        return;

    const qint64 bytes = qint64(record.height) * record.rowBytes;
    if (bytes > stagingBytes) {
        // Copying it would write past the end of the staging buffer.
        record.empty = true;
        ++m_counters->skippedFrames;
        return;
    }

    glBindTexture(GL_TEXTURE_2D, record.source);
    const QSize size(record.width, record.height);
    if (record.sourceStorage != size) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, record.width, record.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        record.sourceStorage = size;
    }
    waitForFence(record);

    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, record.staging);
    if (bytes > record.stagingAllocated) {
        // Grows to the largest frame seen (in whole mebibytes, up to the full size), so that a
        // cell showing a small picture does not hold a full-size buffer.
        record.stagingAllocated = std::min(stagingBytes, (bytes + 0xFFFFF) & ~qint64(0xFFFFF));
        glBufferData(GL_PIXEL_UNPACK_BUFFER, record.stagingAllocated, nullptr, GL_STREAM_DRAW);
    }
    record.mapped = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, bytes, GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
    if (record.mapped) {
        std::memcpy(record.mapped, frame.data, size_t(bytes));
        glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
        record.mapped = nullptr;
        m_counters->uploadedBytes += quint64(bytes);
    }
    glTexSubImage2D(
        GL_TEXTURE_2D, 0, 0, 0, record.width, record.height, record.transferFormat, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    record.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    record.convertedCurrent = false;
}

GLuint MixerRenderer::convert(TextureRecord& record, GLuint targetFramebuffer)
{
    m_convertProgram->bind();
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glBindTexture(GL_TEXTURE_2D, record.converted);
    const QSize size(record.width, record.height);
    if (record.convertedStorage != size) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, record.width, record.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        record.convertedStorage = size;
    }
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, record.converted, 0);
    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    glDrawBuffers(1, &drawBuffer);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);

    glBindVertexArray(m_vao);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(fullFrameQuad), fullFrameQuad, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_elementBuffer);
    glBindTexture(GL_TEXTURE_2D, record.source);
    glViewport(0, 0, record.width, record.height);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);

    glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    m_convertProgram->release();
    return record.converted;
}

void MixerRenderer::drawQuad(const CellLayout::Quad& quad, GLuint texture)
{
    m_drawProgram->bind();
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad.v), quad.v.data(), GL_DYNAMIC_DRAW);
    glBindVertexArray(m_vao);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_elementBuffer);
    glBindTexture(GL_TEXTURE_2D, texture);
    glViewport(0, 0, m_viewportSize.width(), m_viewportSize.height());
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

    // Qt renders into whatever framebuffer it chose (the window's, or another one when grabbing);
    // the conversion pass returns there instead of assuming framebuffer 0.
    GLint windowFramebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &windowFramebuffer);
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
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glActiveTexture(GL_TEXTURE0);
    m_drawProgram->bind();

    const auto now = std::chrono::steady_clock::now();
    qint64 deltaMs = 0;
    if (m_hasPreviousFrameTime)
        deltaMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_previousFrameTime).count();
    m_previousFrameTime = now;
    m_hasPreviousFrameTime = true;
    const bool uploadFrame = m_pacing.frame(deltaMs);
    if (uploadFrame) {
        std::swap(m_drawSet, m_uploadSet);
        ++m_counters->uploadFrames;
    }

    const float cellAspect = m_layout.cellAspect(m_viewportSize.width(), m_viewportSize.height());
    const size_t count = std::min({ m_drawingList.size(), m_layout.quads().size(), size_t(recordsPerSet) });
    for (size_t i = 0; i < count; ++i) {
        if (uploadFrame) {
            // Held only for this frame: a receiver the slot lets go of meanwhile is freed after.
            const std::shared_ptr<Receiver> receiver = m_drawingList[i] ? m_drawingList[i]() : nullptr;
            upload((*m_uploadSet)[i], receiver.get());
        }
        TextureRecord& record = (*m_drawSet)[i];
        if (record.empty)
            continue;
        GLuint texture = record.source;
        if (record.formatCode != 0) {
            if (!record.convertedCurrent)
                convert(record, GLuint(windowFramebuffer));
            record.convertedCurrent = true;
            texture = record.converted;
        }
        drawQuad(CellLayout::aspectFit(m_layout.quads()[i], record.aspect, cellAspect), texture);
    }

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
