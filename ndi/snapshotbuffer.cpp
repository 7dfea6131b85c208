#include "ndi/snapshotbuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

SnapshotBuffer::SnapshotBuffer()
{
    for (PictureSnapshot& buffer : m_buffers)
        buffer.data.resize(size_t(PictureSnapshot::maxWidth) * PictureSnapshot::maxHeight * 4);
}

void SnapshotBuffer::publish(const VideoFrameInfo& frame)
{
    const bool uyvy = frame.pixelFormat == 2;
    if (!frame.data || frame.width < (uyvy ? 2 : 1) || frame.height < 1)
        return;
    const int step = std::max({ 1, (frame.width + PictureSnapshot::maxWidth - 1) / PictureSnapshot::maxWidth,
        (frame.height + PictureSnapshot::maxHeight - 1) / PictureSnapshot::maxHeight });
    // Four bytes at a time: a BGRA pixel, or a UYVY pair.
    const int units = uyvy ? std::max(1, frame.width / 2 / step) : std::max(1, frame.width / step);
    const int height = std::max(1, frame.height / step);
    PictureSnapshot& back = m_buffers[size_t(m_back)];
    back.width = uyvy ? units * 2 : units;
    back.height = height;
    back.pixelFormat = uyvy ? 2 : 0;
    back.aspectRatio = frame.aspectRatio;
    back.serial = frame.serial;
    const qint64 sourceRow = qint64(frame.width) * (uyvy ? 2 : 4);
    const qint64 stride = qint64(step) * 4;
    for (int y = 0; y < height; ++y) {
        const uchar* from = frame.data + qint64(y) * step * sourceRow;
        uchar* to = back.data.data() + qint64(y) * units * 4;
        for (int x = 0; x < units; ++x)
            std::memcpy(to + x * 4, from + x * stride, 4);
    }
    m_back = m_middle.exchange(m_back | freshBit) & ~freshBit;
}

bool SnapshotBuffer::take(PictureSnapshot& out) const
{
    std::lock_guard<std::mutex> lock(m_readers);
    if (m_middle.load() & freshBit)
        m_front = m_middle.exchange(m_front) & ~freshBit;
    const PictureSnapshot& front = m_buffers[size_t(m_front)];
    if (front.width < 1)
        return false;
    out.width = front.width;
    out.height = front.height;
    out.pixelFormat = front.pixelFormat;
    out.aspectRatio = front.aspectRatio;
    out.serial = front.serial;
    const size_t bytes = size_t(front.width) * front.height * (front.pixelFormat == 2 ? 2 : 4);
    out.data.assign(front.data.begin(), front.data.begin() + qint64(bytes));
    return true;
}

QImage SnapshotBuffer::image(const PictureSnapshot& snapshot)
{
    if (snapshot.width < 1 || snapshot.height < 1)
        return {};
    QImage picture(snapshot.width, snapshot.height, QImage::Format_RGB888);
    const bool uyvy = snapshot.pixelFormat == 2;
    auto clamp = [](double value) { return uchar(std::clamp(value, 0.0, 255.0)); };
    for (int y = 0; y < snapshot.height; ++y) {
        uchar* out = picture.scanLine(y);
        if (uyvy) {
            const uchar* in = snapshot.data.data() + qint64(y) * snapshot.width * 2;
            for (int x = 0; x < snapshot.width; ++x) {
                const uchar* pair = in + (x / 2) * 4;
                const double luma = 1.164 * (double(pair[x % 2 ? 3 : 1]) - 16.0);
                const double u = double(pair[0]) - 128.0;
                const double v = double(pair[2]) - 128.0;
                out[x * 3] = clamp(luma + 1.793 * v);
                out[x * 3 + 1] = clamp(luma - 0.213 * u - 0.534 * v);
                out[x * 3 + 2] = clamp(luma + 2.1148 * u);
            }
        } else {
            const uchar* in = snapshot.data.data() + qint64(y) * snapshot.width * 4;
            for (int x = 0; x < snapshot.width; ++x) {
                out[x * 3] = in[x * 4 + 2];
                out[x * 3 + 1] = in[x * 4 + 1];
                out[x * 3 + 2] = in[x * 4];
            }
        }
    }
    // Square-pixel output: the width follows the display aspect.
    const int width = snapshot.aspectRatio > 0.0f
        ? std::max(1, int(std::lround(snapshot.height * snapshot.aspectRatio)))
        : snapshot.width;
    return width == snapshot.width
        ? picture
        : picture.scaled(width, snapshot.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
