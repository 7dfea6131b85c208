#include "ndi/defaultsamplerate.h"

#include "app/logger.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QMediaDevices>

namespace
{

int queryDefaultSampleRate()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    int rate = device.isNull() ? 0 : device.preferredFormat().sampleRate();
    if (rate <= 0) {
        // Pulling audio at rate 0 would ask the runtime for nothing, or divide by zero.
        Logger::write(QStringLiteral("No default audio output: using 48000"));
        rate = 48000;
    }
    Logger::write(QStringLiteral("Default sample rate: ") + QString::number(rate));
    return rate;
}

} // namespace

int defaultSampleRate()
{
    static const int rate = queryDefaultSampleRate();
    return rate;
}
