#include "simencodedpicture.h"

#include "Processing.NDI.Lib.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QDir>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstring>
#include <vector>

namespace ndisim
{

namespace
{

    // Layout: magic, frame count (uint64), count + 1 offsets from the file's start (uint64), packets.
    constexpr char magic[8] = { 'N', 'D', 'S', 'I', 'M', 'S', 'Q', '1' };
    constexpr qint64 headerSize = 16;

    uint64_t readU64(const uchar* at)
    {
        uint64_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }

    void appendU64(QByteArray& out, uint64_t value)
    {
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }

    // UYVY into the three planes of 4:2:2.
    void toPlanar(const uint8_t* uyvy, int stride, AVFrame* frame)
    {
        for (int y = 0; y < frame->height; ++y) {
            const uint8_t* in = uyvy + static_cast<size_t>(y) * stride;
            uint8_t* luma = frame->data[0] + static_cast<size_t>(y) * frame->linesize[0];
            uint8_t* cb = frame->data[1] + static_cast<size_t>(y) * frame->linesize[1];
            uint8_t* cr = frame->data[2] + static_cast<size_t>(y) * frame->linesize[2];
            for (int x = 0; x + 1 < frame->width; x += 2, in += 4) {
                *cb++ = in[0];
                *luma++ = in[1];
                *cr++ = in[2];
                *luma++ = in[3];
            }
        }
    }

    struct Encoder {
        AVCodecContext* codec = nullptr;
        AVFrame* frame = nullptr;
        AVPacket* packet = nullptr;
        ~Encoder()
        {
            avcodec_free_context(&codec);
            av_frame_free(&frame);
            av_packet_free(&packet);
        }
    };

} // namespace

QString EncodedPicture::cacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return (base.isEmpty() ? QDir::tempPath() : base) + QStringLiteral("/stavelin-ndisim");
}

QString EncodedPicture::cacheName(const PictureSpec& spec, int64_t period)
{
    static const char* const patterns[] = { "solid", "bars", "moving" };
    return QString::asprintf("shq2-%s-%02x%02x%02x%02x-%dx%d-p%lld.bin", patterns[static_cast<int>(spec.pattern)],
        spec.color.a, spec.color.r, spec.color.g, spec.color.b, spec.width, spec.height,
        static_cast<long long>(period));
}

std::shared_ptr<EncodedPicture> EncodedPicture::obtain(Picture& picture, std::string* error)
{
    const QString folder = cacheFolder();
    if (!QDir().mkpath(folder)) {
        *error = "cannot make " + folder.toStdString();
        return nullptr;
    }
    const QString path = folder + QLatin1Char('/') + cacheName(picture.spec(), picture.period());
    auto encoded = std::shared_ptr<EncodedPicture>(new EncodedPicture);
    if (encoded->map(path))
        return encoded;
    // One process encodes; the others wait for its file rather than doing the same work.
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.setStaleLockTime(120000);
    if (!lock.tryLock(120000)) {
        *error = "cannot lock " + path.toStdString();
        return nullptr;
    }
    if (encoded->map(path) || (encode(picture, path, error) && encoded->map(path)))
        return encoded;
    if (error->empty())
        *error = "unusable cache file " + path.toStdString();
    return nullptr;
}

bool EncodedPicture::map(const QString& path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    m_size = m_file.size();
    m_data = m_size > headerSize ? m_file.map(0, m_size) : nullptr;
    if (!m_data || std::memcmp(m_data, magic, sizeof magic) != 0) {
        m_file.close();
        return false;
    }
    m_count = static_cast<int64_t>(readU64(m_data + 8));
    const qint64 table = headerSize + (m_count + 1) * 8;
    bool ok = m_count > 0 && m_count < 100000 && table <= m_size;
    for (int64_t i = 0; ok && i < m_count; ++i) {
        const uint64_t begin = readU64(m_data + headerSize + i * 8), end = readU64(m_data + headerSize + i * 8 + 8);
        ok = begin >= uint64_t(table) && begin < end && end <= uint64_t(m_size);
    }
    if (!ok) {
        m_file.close();
        m_data = nullptr;
    }
    return ok;
}

std::pair<const uint8_t*, size_t> EncodedPicture::packet(int64_t index) const
{
    int64_t i = index % m_count;
    if (i < 0)
        i += m_count;
    const uint64_t begin = readU64(m_data + headerSize + i * 8), end = readU64(m_data + headerSize + i * 8 + 8);
    return { m_data + begin, static_cast<size_t>(end - begin) };
}

bool EncodedPicture::encode(Picture& picture, const QString& path, std::string* error)
{
    const PictureSpec& spec = picture.spec();
    const AVCodec* speedhq = avcodec_find_encoder(AV_CODEC_ID_SPEEDHQ);
    if (!speedhq || spec.fourcc != NDIlib_FourCC_video_type_UYVY || spec.width % 2 != 0) {
        *error = "no SpeedHQ encoder for this picture";
        return false;
    }
    Encoder e;
    e.codec = avcodec_alloc_context3(speedhq);
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    if (!e.codec || !e.frame || !e.packet) {
        *error = "out of memory";
        return false;
    }
    e.codec->width = spec.width;
    e.codec->height = spec.height;
    e.codec->pix_fmt = AV_PIX_FMT_YUV422P;
    e.codec->time_base = AVRational { 1, 25 };
    e.codec->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    e.frame->format = AV_PIX_FMT_YUV422P;
    e.frame->width = spec.width;
    e.frame->height = spec.height;
    if (avcodec_open2(e.codec, speedhq, nullptr) < 0 || av_frame_get_buffer(e.frame, 0) < 0) {
        *error = "cannot open the SpeedHQ encoder";
        return false;
    }

    const int64_t count = picture.period();
    std::vector<QByteArray> packets;
    for (int64_t index = 0; index < count; ++index) {
        const FrameHandle source = picture.acquire(index);
        toPlanar(source->data.get(), picture.stride(), e.frame);
        Picture::release(source);
        e.frame->pts = index;
        if (avcodec_send_frame(e.codec, e.frame) < 0 || avcodec_receive_packet(e.codec, e.packet) < 0) {
            *error = "SpeedHQ encoding failed";
            return false;
        }
        packets.emplace_back(reinterpret_cast<const char*>(e.packet->data), e.packet->size);
        av_packet_unref(e.packet);
    }

    QByteArray head(magic, sizeof magic);
    appendU64(head, static_cast<uint64_t>(count));
    uint64_t offset = static_cast<uint64_t>(headerSize + (count + 1) * 8);
    for (const QByteArray& packet : packets) {
        appendU64(head, offset);
        offset += static_cast<uint64_t>(packet.size());
    }
    appendU64(head, offset);
    QSaveFile out(path);
    bool ok = out.open(QIODevice::WriteOnly) && out.write(head) == head.size();
    for (const QByteArray& packet : packets)
        ok = ok && out.write(packet) == packet.size();
    if (!ok || !out.commit()) {
        *error = "cannot write " + path.toStdString();
        return false;
    }
    return true;
}

} // namespace ndisim
