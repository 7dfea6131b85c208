#pragma once

#include <QByteArray>
#include <QTcpSocket>

namespace E2E {

// A control-port client: one line out, one line back.
class ControlClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 30000);
    QByteArray command(const QByteArray& line, int timeoutMs = 20000);
    // The next complete line (without its end), or an empty array after the time-out.
    QByteArray nextLine(int timeoutMs = 20000);
    // The "recording" attribute of the slot line for one slot ("0", "1"), empty when none came.
    QByteArray recordingState(int slot);

    QTcpSocket socket;
};

// A raw GET to 127.0.0.1; returns the status code (0 when no answer) and the body.
int httpGet(quint16 port, const QByteArray& target, QByteArray* body = nullptr, int timeoutMs = 10000);

} // namespace E2E
