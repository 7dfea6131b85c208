#pragma once

#include <QObject>

// One video frame as the renderer gets it. data points to tightly packed rows and stays valid
// until the next videoFrame() call on the same receiver; null when there is no frame.
struct VideoFrameInfo {
    qint32 width = 0;
    qint32 height = 0;
    float aspectRatio = 1.0f; // display aspect ratio
    qint32 pixelFormat = 0; // 0 BGRA (or BGRX), 2 UYVY
    const uchar* data = nullptr;
    // Changes whenever the picture does (the same frame handed out again keeps it); 0 unknown.
    qint64 serial = 0;
    double frameRate = 0.0; // frames a second, 0 unknown
};

// A source of pictures, sound and tally that consumers pull from.
// Tally values: 0 neither, 1 on preview, 2 on program. Levels: 74 - trunc(-25 log10(peak)) per
// channel; -999 on both channels means no source.
class Receiver : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Render thread only.
    virtual VideoFrameInfo videoFrame() = 0;
    // Audio output thread only: samples per channel, interleaved float stereo, valid until the
    // next call; null when levelsOnly.
    virtual const float* readAudio(qint64 samples, bool levelsOnly) = 0;

Q_SIGNALS:
    void vuUpdated(int leftLevel, int rightLevel);
    void tallyUpdated(int tallyState);
};
