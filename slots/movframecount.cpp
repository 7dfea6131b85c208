#include "slots/movframecount.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <functional>

namespace
{

quint32 be32(const QByteArray& data, qint64 at)
{
    return at >= 0 && at + 4 <= data.size() ? qFromBigEndian<quint32>(data.constData() + at) : 0;
}

// A box's payload within the data read.
struct Range {
    qint64 from = 0, to = 0;
};

// Each box in the range: its type and payload; a box that does not fit ends the walk.
void eachBox(const QByteArray& data, Range range, const std::function<void(const QByteArray&, Range)>& visit)
{
    for (qint64 at = range.from; at + 8 <= range.to;) {
        qint64 size = be32(data, at), header = 8;
        if (size == 1)
            size = qint64(quint64(be32(data, at + 8)) << 32 | be32(data, at + 12)), header = 16;
        else if (size == 0)
            size = range.to - at;
        if (size < header || at + size > range.to)
            return;
        visit(data.mid(at + 4, 4), { at + header, at + size });
        at += size;
    }
}

// The first box of that type in the range; empty when there is none.
Range child(const QByteArray& data, Range range, const char* type)
{
    Range found;
    eachBox(data, range, [&](const QByteArray& t, Range payload) {
        if (found.to == 0 && t == type)
            found = payload;
    });
    return found;
}

// The samples of one track fragment whose data lies wholly in the file: a program ended while it
// wrote the fragment's data leaves the last ones cut.
qint64 wholeSamples(const QByteArray& moof, Range traf, Range tfhd, qint64 moofAt, qint64 fileSize)
{
    const quint32 tfhdFlags = be32(moof, tfhd.from) & 0xffffff;
    qint64 field = tfhd.from + 8;
    qint64 base = moofAt;
    if (tfhdFlags & 0x1)
        base = qint64(quint64(be32(moof, field)) << 32 | be32(moof, field + 4)), field += 8;
    field += (tfhdFlags & 0x2 ? 4 : 0) + (tfhdFlags & 0x8 ? 4 : 0);
    const quint32 defaultSize = tfhdFlags & 0x10 ? be32(moof, field) : 0;
    qint64 whole = 0, end = base;
    eachBox(moof, traf, [&](const QByteArray& t, Range trun) {
        if (t != "trun")
            return;
        const quint32 flags = be32(moof, trun.from) & 0xffffff, count = be32(moof, trun.from + 4);
        qint64 at = trun.from + 8;
        if (flags & 0x1)
            end = base + qint32(be32(moof, at)), at += 4;
        at += flags & 0x4 ? 4 : 0;
        for (quint32 i = 0; i < count && at <= trun.to; ++i) {
            at += flags & 0x100 ? 4 : 0;
            end += flags & 0x200 ? be32(moof, at) : defaultSize;
            at += (flags & 0x200 ? 4 : 0) + (flags & 0x400 ? 4 : 0) + (flags & 0x800 ? 4 : 0);
            whole += end <= fileSize;
        }
    });
    return whole;
}

} // namespace

qint64 MovFrameCount::videoFrames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const qint64 fileSize = file.size();
    quint32 videoTrack = 0;
    qint64 indexed = 0, fragmented = 0;
    bool haveIndex = false;
    for (qint64 at = 0; at + 8 <= fileSize && file.seek(at);) {
        const QByteArray head = file.read(16);
        qint64 size = be32(head, 0);
        if (size == 1)
            size = qint64(quint64(be32(head, 8)) << 32 | be32(head, 12));
        else if (size == 0)
            size = fileSize - at;
        const QByteArray type = head.mid(4, 4);
        // An index or a fragment header cut short tells nothing; data cut short is checked per sample.
        if (size < 8 || (type != "mdat" && at + size > fileSize))
            break;
        if ((type == "moov" || type == "moof") && size <= 64 << 20 && file.seek(at)) {
            const QByteArray box = file.read(size);
            const Range whole { 8, box.size() };
            if (type == "moov") {
                haveIndex = true;
                eachBox(box, whole, [&](const QByteArray& t, Range trak) {
                    const Range mdia = child(box, trak, "mdia"), tkhd = child(box, trak, "tkhd");
                    if (t != "trak" || videoTrack || box.mid(child(box, mdia, "hdlr").from + 8, 4) != "vide")
                        return;
                    videoTrack = be32(box, tkhd.from + (box.at(tkhd.from) == 1 ? 20 : 12));
                    const Range stbl = child(box, child(box, mdia, "minf"), "stbl");
                    indexed = be32(box, child(box, stbl, "stsz").from + 8);
                });
            } else {
                eachBox(box, whole, [&](const QByteArray& t, Range traf) {
                    const Range tfhd = child(box, traf, "tfhd");
                    if (t == "traf" && be32(box, tfhd.from + 4) == videoTrack)
                        fragmented += wholeSamples(box, traf, tfhd, at, fileSize);
                });
            }
        }
        at += size;
    }
    return haveIndex && videoTrack ? indexed + fragmented : -1;
}
