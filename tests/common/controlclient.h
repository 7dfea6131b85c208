#pragma once

#include <QByteArray>
#include <QTcpSocket>

namespace E2E
{

// A control-port client: one line out, one line back.
class ControlClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 30000);
    QByteArray command(const QByteArray& line, int timeoutMs = 20000);
    // The next complete line (without its end), or an empty array after the time-out.
    QByteArray nextLine(int timeoutMs = 20000);
    // The next n lines exactly as sent, ends included; after the time-out whatever came.
    QByteArray rawLines(int n = 1, int timeoutMs = 5000);
    void send(const QByteArray& bytes);
    // The "recording" attribute of the slot line for one slot ("0", "1"), empty when none came.
    QByteArray recordingState(int slot);

    QTcpSocket socket;
};

// A raw request to 127.0.0.1 ("GET /x" and optional header lines), waiting with events processed
// (a server in this process may need them); the status (0 when no answer), the head and the body.
int httpRequest(quint16 port, const QByteArray& request, QByteArray* head = nullptr, QByteArray* body = nullptr,
    int timeoutMs = 10000);
int httpGet(quint16 port, const QByteArray& target, QByteArray* body = nullptr, int timeoutMs = 10000);

} // namespace E2E
