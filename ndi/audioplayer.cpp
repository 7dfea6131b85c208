#include "ndi/audioplayer.h"

#include "ndi/defaultsamplerate.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QDebug>
#include <QMediaDevices>

AudioPlayer::~AudioPlayer()
{
    quit();
    wait();
}

void AudioPlayer::start(QIODevice* device)
{
    m_device = device;
    QThread::start(QThread::InheritPriority);
}

void AudioPlayer::run()
{
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Float);
    format.setChannelCount(2);
    format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
    format.setSampleRate(defaultSampleRate());
    if (!output.isFormatSupported(format))
        qDebug() << "Default format not supported";

    QAudioSink sink(output, format);
    sink.start(m_device);
    exec();
    sink.stop();
}
