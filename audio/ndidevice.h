#pragma once

#include <QIODevice>

#include <memory>
#include <vector>

class Receiver;

// The sound device's source: a read-only stream that pulls each block of audio from the listened
// receiver, or plays silence while there is none. Every read also reports how many frames it
// delivered (dataRead), which clocks the level metering of all other slots.
class NDIDevice : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int samplesPerRead = 2048;
    static constexpr int channels = 2;
    static constexpr qint64 bytesPerFrame = channels * qint64(sizeof(float));
    static constexpr qint64 maxReadBytes = samplesPerRead * bytesPerFrame; // 16384

    explicit NDIDevice(QObject* parent = nullptr);

    // Main thread. The device shares ownership, so a receiver dropped meanwhile by its slot or by
    // stopListening stays alive until the read that uses it has finished.
    void setReceiver(std::shared_ptr<Receiver> receiver);
    std::shared_ptr<Receiver> receiver() const;

    qint64 bytesAvailable() const override;

Q_SIGNALS:
    // Frames just delivered; emitted on the audio thread inside the read.
    void dataRead(qint64 len);

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    const std::vector<float> m_silence; // read-only after construction
    // Written by the main thread, read by the audio thread: std::atomic_store/atomic_load only.
    std::shared_ptr<Receiver> m_receiver;
};
