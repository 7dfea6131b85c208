#include "remote/jpegcache.h"

#include "ndi/snapshotbuffer.h"

#include <QBuffer>
#include <QImage>

QByteArray JpegCache::fresh(uint slot, qint64 nowMs)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(slot);
    if (it != m_entries.end() && nowMs - it->second.atMs < maxAgeMs)
        return it->second.jpeg;
    return {};
}

QByteArray JpegCache::store(uint slot, const PictureSnapshot& picture, qint64 nowMs)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Entry& cached = m_entries[slot];
    if (cached.jpeg.isEmpty() || cached.serial != picture.serial || picture.serial == 0) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        SnapshotBuffer::image(picture).save(&buffer, "JPG", 75);
        cached.jpeg = jpeg;
        cached.serial = picture.serial;
    }
    cached.atMs = nowMs;
    return cached.jpeg;
}
