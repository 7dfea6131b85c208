#pragma once

#include "simpicture.h"

#include <QFile>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace ndisim
{

// Every distinct frame of one picture as SpeedHQ 4:2:2 packets, encoded once and kept in a cache
// file (XDG cache folder) that every process showing the same pattern at the same size maps.
class EncodedPicture
{
public:
    // Maps the cache file, making it first when it is missing or unusable; null with a reason when
    // neither works (the caller then sends decoded pictures). May take a second for a large picture.
    static std::shared_ptr<EncodedPicture> obtain(Picture& picture, std::string* error);

    // The packet of the frame at a frame index.
    std::pair<const uint8_t*, size_t> packet(int64_t index) const;
    int64_t period() const { return m_count; }

    static QString cacheFolder();
    static QString cacheName(const PictureSpec& spec, int64_t period);

private:
    bool map(const QString& path);
    static bool encode(Picture& picture, const QString& path, std::string* error);

    QFile m_file;
    const uchar* m_data = nullptr;
    qint64 m_size = 0;
    int64_t m_count = 0;
};

} // namespace ndisim
