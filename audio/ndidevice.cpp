#include "audio/ndidevice.h"

#include "ndi/receiver.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

NDIDevice::NDIDevice(QObject* parent)
    : QIODevice(parent)
    , m_silence(size_t(samplesPerRead) * channels, 0.0f)
{
    open(QIODevice::ReadOnly);
}

void NDIDevice::setReceiver(std::shared_ptr<Receiver> receiver)
{
    std::atomic_store(&m_receiver, std::move(receiver));
}

std::shared_ptr<Receiver> NDIDevice::receiver() const
{
    return std::atomic_load(&m_receiver);
}

qint64 NDIDevice::bytesAvailable() const
{
    qDebug() << "check";
    if (!receiver())
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
    if (n > 0) {
        const std::shared_ptr<Receiver> source = receiver();
        const float* samples = source ? source->readAudio(frames, false) : nullptr;
        std::memcpy(data, samples ? samples : m_silence.data(), size_t(n));
    }
    Q_EMIT dataRead(frames);
    return n;
}

qint64 NDIDevice::writeData(const char* data, qint64 len)
{
    Q_UNUSED(data);
    Q_UNUSED(len);
    return 0;
}
