#pragma once

#include <QByteArray>
#include <QTcpSocket>

namespace E2E
{

// A control-port client past its greeting: one line out, one line back.
class ControlClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 30000);
    QByteArray command(const QByteArray& line, int timeoutMs = 20000)
    {
        return send(line + "\r\n"), nextLine(timeoutMs);
    }
    QByteArray nextLine(int timeoutMs = 20000) { return rawLines(1, timeoutMs).trimmed(); }
    // The next n lines as sent, ends included; after the time-out whatever came.
    QByteArray rawLines(int n = 1, int timeoutMs = 5000);
    void send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
    // The "recording" attribute of one slot's status line ("0", "1"), empty when none came.
    QByteArray recordingState(int slot);

    QTcpSocket socket;
};

// A raw request ("GET /x", then optional header lines) with events processed, as a server in this
// process may need: the status (0 when no answer), the head and the body.
int httpRequest(quint16 port, const QByteArray& request, QByteArray* head = nullptr, QByteArray* body = nullptr,
    int timeoutMs = 10000);
inline int httpGet(quint16 port, const QByteArray& target, QByteArray* body = nullptr, int timeoutMs = 10000)
{
    return httpRequest(port, "GET " + target, nullptr, body, timeoutMs);
}

} // namespace E2E
