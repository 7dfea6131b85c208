#include "audio/ndidevice.h"

#include <algorithm>

NDIDevice::NDIDevice(QObject* parent)
    : QIODevice(parent)
{
    open(QIODevice::ReadOnly);
}

qint64 NDIDevice::bytesAvailable() const
{
    if (!m_receivers.listening())
        return 0;
    return QIODevice::bytesAvailable() + 2000;
}

qint64 NDIDevice::readData(char* data, qint64 maxlen)
{
    if (maxlen <= 0)
        return 0;
    // Whole frames only: the receiver hands out exactly frames x 8 bytes, and a partial frame
    // would read past its buffer.
    const qint64 frames = std::min(maxlen, maxReadBytes) / bytesPerFrame;
    const qint64 n = frames * bytesPerFrame;
    m_receivers.pull(frames, n > 0 ? data : nullptr);
    Q_EMIT dataRead(frames);
    return n;
}

qint64 NDIDevice::writeData(const char* data, qint64 len)
{
    Q_UNUSED(data);
    Q_UNUSED(len);
    return 0;
}
