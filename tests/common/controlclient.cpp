#include "tests/common/controlclient.h"

#include <QHostAddress>
#include <QTest>

namespace E2E
{

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

QByteArray ControlClient::rawLines(int n, int timeoutMs)
{
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        if (!QTest::qWaitFor([this] { return socket.canReadLine(); }, timeoutMs))
            return out + socket.readAll();
        out += socket.readLine();
    }
    return out;
}

void ControlClient::send(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
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

int httpRequest(quint16 port, const QByteArray& request, QByteArray* head, QByteArray* body, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor(
            [&] {
                return socket.state() != QAbstractSocket::ConnectingState
                    && socket.state() != QAbstractSocket::HostLookupState;
            },
            timeoutMs)
        || socket.state() != QAbstractSocket::ConnectedState)
        return 0;
    const QList<QByteArray> lines = request.split('\n');
    socket.write(lines.first() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n");
    for (const QByteArray& line : lines.mid(1))
        socket.write(line + "\r\n");
    socket.write("\r\n");
    QByteArray answer;
    (void)QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    answer += socket.readAll();
    const qsizetype end = answer.indexOf("\r\n\r\n");
    if (!answer.startsWith("HTTP/1.1 ") || end < 0)
        return 0;
    if (head)
        *head = answer.left(end + 2);
    if (body)
        *body = answer.mid(end + 4);
    return answer.mid(9, 3).toInt();
}

int httpGet(quint16 port, const QByteArray& target, QByteArray* body, int timeoutMs)
{
    return httpRequest(port, "GET " + target, nullptr, body, timeoutMs);
}

} // namespace E2E
