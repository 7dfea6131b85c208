#pragma once

#include <QString>
#include <QtGlobal>

// How many video frames a QuickTime file really holds, read from its index and fragments: what a
// crashed recording program reported may not all have reached its file. Plain file reads, no
// decoding.
class MovFrameCount
{
public:
    // The frames of the first video track in the index and in every fragment whose data is wholly
    // in the file; -1 when the file is not one we can read.
    static qint64 videoFrames(const QString& path);
};
