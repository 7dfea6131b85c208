#pragma once

#include <QObject>

#include <vector>

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

// A small copy of a receiver's newest picture (at most PictureSnapshot::maxWidth x maxHeight, in
// the picture's own pixel format) for whoever wants to look at it off the render thread.
struct PictureSnapshot {
    static constexpr int maxWidth = 320;
    static constexpr int maxHeight = 180;
    int width = 0;
    int height = 0;
    qint32 pixelFormat = 0; // as VideoFrameInfo
    float aspectRatio = 1.0f;
    qint64 serial = 0;
    std::vector<uchar> data; // tightly packed rows
};

// The levels of one pull, per channel, on the scale described at Receiver.
struct AudioLevels {
    int left = 0;
    int right = 0;
};

// What the receiver's pictures are like, as last seen by the render thread (any thread).
struct PictureFormat {
    int width = 0;
    int height = 0;
    double frameRate = 0.0;
    qint64 msSinceNewPicture = -1; // -1: none since the source was bound
    qint64 msSinceBound = -1;
};

// A source of pictures, sound and tally that consumers pull from.
// Tally values: 0 neither, 1 on preview, 2 on program. Levels: 74 - trunc(-25 log10(peak)) per
// channel.
class Receiver : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Render thread only.
    virtual VideoFrameInfo videoFrame() = 0;
    // Audio output thread only: samples per channel, interleaved float stereo, valid until the
    // next call; null when levelsOnly. The pull's levels go to levels.
    virtual const float* readAudio(qint64 samples, bool levelsOnly, AudioLevels& levels) = 0;
    // Any thread: the newest small picture into out (reusing its storage); false if none.
    virtual bool snapshot(PictureSnapshot& out) const
    {
        Q_UNUSED(out);
        return false;
    }
    virtual PictureFormat pictureFormat() const { return {}; }

Q_SIGNALS:
    void tallyUpdated(int tallyState);
};
