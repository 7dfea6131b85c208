// libFuzzer entry for the TCP line handler: any line, any answers from the command layer, any
// source names. Every reply must be whole lines of well-formed XML, one element per line.
#include <QJsonObject>
#include "remote/tcpprotocol.h"

#include <QXmlStreamReader>

#include <cstdint>
#include <cstdlib>

namespace
{

class FuzzBackend : public TcpProtocol::Backend
{
public:
    QString answer;
    QStringList names;
    QList<SlotSnapshot> slotList;
    QByteArray written;

    QString recordingStart(uint) override { return answer; }
    QString recordingStop(uint) override { return answer; }
    QString connectSource(uint, const QString& source) override { return source; }
    QString disconnectSource(uint) override { return answer; }
    QString listenOn(uint) override { return answer; }
    QString listenOff() override { return answer; }
    QStringList sourceNames() override { return names; }
    QList<SlotSnapshot> slotSnapshots() override { return slotList; }
    void setTallySubscribed(bool) override { }
    void setRecordingSubscribed(bool) override { }
    void setProgressSubscribed(bool) override { }
    QJsonArray recordings() override
    {
        return { QJsonObject { { QStringLiteral("source"), QStringLiteral("<&\"\n>") }, { QStringLiteral("slot"), 1 } } };
    }
    QString authenticate(const QString&) override { return answer; }
    bool admitted() override { return true; }
    void write(const QByteArray& bytes) override { written += bytes; }
};

void checkLines(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (!bytes.endsWith("\r\n"))
        std::abort();
    const QList<QByteArray> lines = bytes.chopped(2).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        // Only the line end may hold a line break: every line but the last still ends in CR.
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r'))
                std::abort();
            line.chop(1);
        }
        if (line.contains('\r'))
            std::abort();
        // Block openers ("<status uid=...>") and closers ("<sources/>") are single lines on purpose.
        for (const char* block : { "status", "sources", "recordings", "progress" }) {
            if (line.startsWith(QByteArray("<") + block + " uid=") && line.endsWith("\">")) {
                line += QByteArray("</") + block + ">";
                break;
            }
        }
        QXmlStreamReader reader(line);
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // The first line is the client's; the rest supplies names and answers from the recorder.
    const qsizetype end = input.indexOf('\n');
    const QByteArray line = end < 0 ? input : input.left(end + 1);
    const QList<QByteArray> parts = end < 0 ? QList<QByteArray>() : input.mid(end + 1).split('\x1e');

    FuzzBackend backend;
    backend.answer = parts.isEmpty() ? QStringLiteral("success") : QString::fromUtf8(parts.first());
    for (const QByteArray& part : parts) {
        backend.names << QString::fromUtf8(part);
        SlotSnapshot slot;
        slot.connectedSource = QString::fromUtf8(part);
        slot.isRecording = part.size() % 2;
        slot.tallyState = int(part.size() % 3);
        backend.slotList << slot;
    }
    TcpProtocol::handleLine(line, backend);
    checkLines(backend.written);
    return 0;
}
