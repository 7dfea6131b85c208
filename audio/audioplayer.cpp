#include "audio/audioplayer.h"

#include "app/logger.h"
#include "audio/ndidevice.h"
#include "ndi/defaultsamplerate.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{

// A sink that has not pulled for stallMs is not playing: the thread's own clock reads instead,
// so the meters never wait for it. A sink is given up when its output leaves the system, or after
// giveUpMs without a pull (some sinks hold a new stream for up to two seconds before they pull).
constexpr qint64 stallMs = 250;
constexpr qint64 giveUpMs = 5000;
constexpr int watchMs = 20;
constexpr qint64 lookForOutputMs = 1000;

} // namespace

AudioPlayer::~AudioPlayer()
{
    quit();
    wait();
}

void AudioPlayer::start(NDIDevice* device)
{
    m_device = device;
    QThread::start(QThread::InheritPriority);
}

void AudioPlayer::run()
{
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Float);
    format.setChannelCount(2);
    format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
    format.setSampleRate(defaultSampleRate());

    std::unique_ptr<QAudioSink> sink;
    QByteArray sinkOutput; // id of the output the sink plays to
    bool sinkPlayed = false; // the current sink has pulled
    bool everPlayed = false; // for the log: a return, not a first start
    QElapsedTimer uptime;
    uptime.start();
    qint64 openedAt = 0;
    qint64 lastPull = 0;
    qint64 lastLook = 0;

    // Set only on this thread, inside the sink's reads or the clock's own.
    bool clocking = false;
    const QMetaObject::Connection pulls = connect(
        m_device, &NDIDevice::dataRead, m_device,
        [&](qint64) {
            if (!clocking)
                lastPull = uptime.elapsed();
        },
        Qt::DirectConnection);

    // Without a sink the thread reads for it, at the same pace, into a buffer of its own.
    std::vector<char> scratch(size_t(NDIDevice::maxReadBytes));
    qint64 clockStart = -1;
    qint64 clockedFrames = 0;
    auto clockReads = [&] {
        const qint64 now = uptime.elapsed();
        if (clockStart < 0) {
            clockStart = now;
            clockedFrames = 0;
        }
        const qint64 rate = format.sampleRate();
        qint64 due = (now - clockStart) * rate / 1000 - clockedFrames;
        if (due > rate / 5) {
            // After a long wait (a suspended machine) no burst: the pace starts again from now.
            clockedFrames += due - rate / 5;
            due = rate / 5;
        }
        clocking = true;
        while (due > 0) {
            const qint64 frames = std::min<qint64>(due, NDIDevice::samplesPerRead);
            m_device->read(scratch.data(), frames * NDIDevice::bytesPerFrame);
            clockedFrames += frames;
            due -= frames;
        }
        clocking = false;
    };

    auto dropSink = [&] {
        sink.reset();
        sinkOutput.clear();
        sinkPlayed = false;
    };
    auto openSink = [&](const QAudioDevice& output) {
        dropSink();
        if (!output.isFormatSupported(format))
            Logger::write(QStringLiteral("Sound output ") + output.description()
                + QStringLiteral(" does not take float stereo at ") + QString::number(format.sampleRate())
                + QStringLiteral(" Hz; trying anyway"));
        sink = std::make_unique<QAudioSink>(output, format);
        sinkOutput = output.id();
        openedAt = uptime.elapsed();
        lastPull = openedAt - stallMs;
        sink->start(m_device);
    };
    const QString lost = QStringLiteral("Sound output lost: listening is silent and the meters run on their own "
                                        "clock until an output returns");

    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    connect(&watch, &QTimer::timeout, [&] {
        const qint64 now = uptime.elapsed();
        if (sink && now - lastPull < stallMs) {
            clockStart = -1;
            if (!sinkPlayed) {
                sinkPlayed = true;
                Logger::write((everPlayed ? QStringLiteral("Sound output back: ") : QStringLiteral("Sound output: "))
                    + QMediaDevices::defaultAudioOutput().description());
                everPlayed = true;
            }
        } else {
            clockReads();
            if (sink && now - std::max(lastPull, openedAt) > giveUpMs) {
                if (sinkPlayed)
                    Logger::write(lost);
                dropSink();
            }
        }

        if (now - lastLook < lookForOutputMs)
            return;
        lastLook = now;
        // The output played to may have left; a new default (chosen by the user, or the only one
        // left) is followed.
        const QAudioDevice output = QMediaDevices::defaultAudioOutput();
        if (sink && (output.isNull() || output.id() != sinkOutput)) {
            if (sinkPlayed)
                Logger::write(output.isNull() ? lost : QStringLiteral("Sound output moved to ") + output.description());
            dropSink();
        }
        if (!sink && !output.isNull())
            openSink(output);
    });

    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull())
        Logger::write(QStringLiteral("No sound output: the meters run on their own clock until one appears"));
    else
        openSink(output);
    watch.start(watchMs);
    exec();
    watch.stop();
    disconnect(pulls);
    if (sink)
        sink->stop();
}
