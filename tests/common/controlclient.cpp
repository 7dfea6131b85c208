#include "tests/common/controlclient.h"

#include <QHostAddress>
#include <QTest>

namespace E2E
{

bool ControlClient::connectTo(quint16 port, int timeoutMs)
{
    const auto attempt = [&] {
        if (socket.state() == QAbstractSocket::ConnectedState)
            return true;
        socket.abort();
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(500);
    };
    return QTest::qWaitFor(attempt, timeoutMs) && nextLine().startsWith("<hello ");
}

QByteArray ControlClient::rawLines(int n, int timeoutMs)
{
    QByteArray out;
    while (n-- > 0) {
        if (!QTest::qWaitFor([this] { return socket.canReadLine(); }, timeoutMs))
            return out + socket.readAll();
        out += socket.readLine();
    }
    return out;
}

QByteArray ControlClient::recordingState(int slot)
{
    const QByteArray reply = command("<status slot=\"" + QByteArray::number(slot) + "\"/>");
    const qsizetype at = reply.indexOf("recording=\"");
    return at < 0 ? QByteArray() : reply.mid(at + 11, 1);
}

int httpRequest(quint16 port, const QByteArray& request, QByteArray* head, QByteArray* body, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const auto in = [&socket](QAbstractSocket::SocketState state) { return socket.state() == state; };
    (void)QTest::qWaitFor(
        [&] { return in(QAbstractSocket::ConnectedState) || in(QAbstractSocket::UnconnectedState); }, timeoutMs);
    if (!in(QAbstractSocket::ConnectedState))
        return 0;
    QByteArray text = request + "\n";
    text.insert(text.indexOf('\n'), " HTTP/1.1\nHost: 127.0.0.1\nConnection: close");
    socket.write(text.replace("\n", "\r\n") + "\r\n");
    (void)QTest::qWaitFor([&] { return in(QAbstractSocket::UnconnectedState); }, timeoutMs);
    const QByteArray answer = socket.readAll();
    const qsizetype end = answer.indexOf("\r\n\r\n");
    if (!answer.startsWith("HTTP/1.1 ") || end < 0)
        return 0;
    if (head)
        *head = answer.left(end + 2);
    if (body)
        *body = answer.mid(end + 4);
    return answer.mid(9, 3).toInt();
}

} // namespace E2E
