#pragma once

#include "audio/pulledreceivers.h"

#include <QIODevice>

// The sound device's source: a read-only stream that pulls each block of audio from the listened
// receiver, or plays silence while there is none. Every read also measures the levels of all
// other slots' receivers from as many frames, and reports how many it delivered (dataRead).
class NDIDevice : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int samplesPerRead = 2048;
    static constexpr int channels = 2;
    static constexpr qint64 bytesPerFrame = channels * qint64(sizeof(float));
    static constexpr qint64 maxReadBytes = samplesPerRead * bytesPerFrame; // 16384

    explicit NDIDevice(QObject* parent = nullptr);

    // Main thread: which receivers the reads pull; they stay alive until the read that uses them
    // has finished.
    PulledReceivers& receivers() { return m_receivers; }

    qint64 bytesAvailable() const override;

Q_SIGNALS:
    // Frames just delivered; emitted on the audio thread inside the read.
    void dataRead(qint64 len);

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    PulledReceivers m_receivers; // see there for which thread may do what
};
