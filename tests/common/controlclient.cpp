#include "tests/common/controlclient.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTest>

namespace E2E {

bool ControlClient::connectTo(quint16 port, int timeoutMs)
{
    const bool connected = QTest::qWaitFor(
        [&] {
            if (socket.state() == QAbstractSocket::ConnectedState)
                return true;
            socket.abort();
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(500);
        },
        timeoutMs);
    // The greeting comes first.
    return connected && nextLine().startsWith("<hello ");
}

QByteArray ControlClient::nextLine(int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return socket.canReadLine(); }, timeoutMs))
        return QByteArray();
    return socket.readLine().trimmed();
}

QByteArray ControlClient::command(const QByteArray& line, int timeoutMs)
{
    socket.write(line + "\r\n");
    return nextLine(timeoutMs);
}

QByteArray ControlClient::recordingState(int slot)
{
    const QByteArray reply = command("<status slot=\"" + QByteArray::number(slot) + "\"/>");
    const int at = reply.indexOf("recording=\"");
    if (at < 0)
        return QByteArray();
    return reply.mid(at + 11, 1);
}

int httpGet(quint16 port, const QByteArray& target, QByteArray* body, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return 0;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (socket.waitForReadyRead(200))
            answer += socket.readAll();
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    answer += socket.readAll();
    if (!answer.startsWith("HTTP/1.1 "))
        return 0;
    if (body)
        *body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    return answer.mid(9, 3).toInt();
}

} // namespace E2E
