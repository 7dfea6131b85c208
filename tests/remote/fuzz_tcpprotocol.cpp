// libFuzzer entry for the TCP line handler: any line, any answers from the command layer, any
// source names. Every reply must be whole lines of well-formed XML, one element per line.
#include "tests/remote/notingbackend.h"

#include <QJsonObject>
#include <QXmlStreamReader>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // The first line is the client's; the rest supplies names and answers from the recorder.
    const qsizetype end = input.indexOf('\n');
    const QList<QByteArray> parts = end < 0 ? QList<QByteArray>() : input.mid(end + 1).split('\x1e');
    NotingBackend backend;
    backend.records = { QJsonObject { { "source", "<&\"\n>" }, { "slot", 1 } } };
    backend.answer = parts.isEmpty() ? backend.answer : QString::fromUtf8(parts.first());
    for (const QByteArray& part : parts) {
        backend.sources << QString::fromUtf8(part);
        backend.slotList << SlotSnapshot { 0, part.size() % 2 == 1, false, backend.sources.last(), {},
            int(part.size() % 3) };
    }
    TcpProtocol::handleLine(end < 0 ? input : input.left(end + 1), backend);
    const QByteArray& out = backend.written;
    // Only line ends may hold a line break or a carriage return.
    const qsizetype ends = out.count("\r\n");
    if (out.isEmpty())
        return 0;
    if (!out.endsWith("\r\n") || out.count('\n') != ends || out.count('\r') != ends)
        std::abort();
    for (QByteArray line : out.chopped(2).split('\n')) {
        line = line.endsWith('\r') ? line.chopped(1) : line;
        // Block openers ("<status uid=...>") and closers ("<sources/>") are single lines on purpose.
        for (const char* block : { "status", "sources", "recordings", "progress", "state", "history" }) {
            if (line.startsWith(QByteArray("<") + block + " ") && line.endsWith("\">"))
                line += QByteArray("</") + block + ">";
        }
        QXmlStreamReader reader(line);
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError())
            std::abort();
    }
    return 0;
}
