#pragma once

#include <QByteArray>

#include <map>
#include <mutex>

struct PictureSnapshot;

// The last picture sent for each slot, as JPEG: every viewer within maxAgeMs gets the same bytes,
// so many panels cost one encoding. Any thread.
class JpegCache
{
public:
    static constexpr qint64 maxAgeMs = 250;

    // The slot's bytes if sent less than maxAgeMs before nowMs, else empty.
    QByteArray fresh(uint slot, qint64 nowMs);
    // The picture's bytes, encoded only if the cache does not hold that picture already.
    QByteArray store(uint slot, const PictureSnapshot& picture, qint64 nowMs);

private:
    struct Entry {
        QByteArray jpeg;
        qint64 serial = 0;
        qint64 atMs = -1;
    };
    std::mutex m_mutex; // guards m_entries
    std::map<uint, Entry> m_entries;
};
