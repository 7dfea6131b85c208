// Commands per second on the TCP control port, over one connection and over 50 at once, each
// client sending its next command as soon as the reply line is in. A line echo over the same
// socket stack (QTcpServer on the main thread) gives the ceiling. Clients run on their own thread.
#include "app/settingsmodel.h"
#include "bench/benchfixture_remote.h"
#include "remote/tcpapiserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace
{

constexpr int runMilliseconds = 2000;

// Ping-pong clients; everything here lives on the client thread.
class LoadClients : public QObject
{
    Q_OBJECT

public:
    void run(quint16 port, int connections, QByteArray command, bool greeting)
    {
        m_command = command + '\n';
        m_replies = 0;
        for (int i = 0; i < connections; ++i) {
            auto* socket = new QTcpSocket(this);
            auto* skip = new int(greeting ? 1 : 0);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, skip] {
                while (socket->canReadLine()) {
                    socket->readLine();
                    if (*skip > 0) {
                        --*skip;
                        if (m_running)
                            socket->write(m_command);
                        continue;
                    }
                    ++m_replies;
                    if (m_running)
                        socket->write(m_command);
                }
            });
            connect(socket, &QObject::destroyed, this, [skip] { delete skip; });
            connect(socket, &QTcpSocket::connected, this, [this, socket, greeting] {
                if (!greeting)
                    socket->write(m_command);
            });
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        m_running = true;
        m_clock.start();
        QTimer::singleShot(runMilliseconds, this, [this] {
            m_running = false;
            const double seconds = double(m_clock.elapsed()) / 1000.0;
            const qint64 replies = m_replies;
            qDeleteAll(findChildren<QTcpSocket*>());
            emit finished(double(replies) / seconds);
        });
    }

Q_SIGNALS:
    void finished(double perSecond);

private:
    QByteArray m_command;
    qint64 m_replies = 0;
    bool m_running = false;
    QElapsedTimer m_clock;
};

class EchoServer : public QObject
{
public:
    EchoServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    while (socket->canReadLine())
                        socket->write(socket->readLine().trimmed() + "\r\n");
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::Any, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

double measure(QThread& thread, quint16 port, int connections, const QByteArray& command, bool greeting)
{
    auto* clients = new LoadClients;
    clients->moveToThread(&thread);
    double result = 0;
    QEventLoop loop;
    QObject::connect(clients, &LoadClients::finished, &loop, [&](double perSecond) {
        result = perSecond;
        loop.quit();
    });
    QMetaObject::invokeMethod(clients, [=] { clients->run(port, connections, command, greeting); });
    loop.exec();
    clients->deleteLater();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RemoteBenchFixture fixture;
    SettingsModel settings;
    settings.setTcpServerPort(RemoteBenchFixture::freePort());
    settings.setTcpServerEnabled(true);
    TcpApiServer server(
        fixture.model.get(), fixture.audio.get(), fixture.recorder.get(), fixture.sources.get(), &settings);
    EchoServer echo;
    if (!server.isListening() || echo.port() == 0) {
        std::fprintf(stderr, "could not listen\n");
        return 1;
    }

    QThread clientThread;
    clientThread.start();

    std::printf("TCP control port, ping-pong clients for %d ms each, replies per second\n", runMilliseconds);
    std::printf("%-38s %6s %12s %9s\n", "scenario", "conns", "replies/s", "of echo");
    const struct {
        const char* name;
        const char* key;
        QByteArray command;
    } commands[] = {
        { "<status slot='1'/>", "status", "<status slot='1'/>" },
        { "<listen_off/>", "listen_off", "<listen_off/>" },
        { "<recording_stop slot='2'/> (refused)", "refused", "<recording_stop slot='2'/>" },
    };
    for (int connections : { 1, 50 }) {
        const double ceiling = measure(clientThread, echo.port(), connections, "<status slot='1'/>", false);
        std::printf("%-38s %6d %12.0f %8.0f%%\n", "line echo (ceiling)", connections, ceiling, 100.0);
        std::printf("RESULT tcp_echo_c%d=%.0f replies/s\n", connections, ceiling);
        for (const auto& c : commands) {
            const double rate = measure(clientThread, server.serverPort(), connections, c.command, true);
            std::printf("%-38s %6d %12.0f %8.0f%%\n", c.name, connections, rate, 100.0 * rate / ceiling);
            std::printf("RESULT tcp_%s_c%d=%.0f replies/s\n", c.key, connections, rate);
            std::printf("RESULT tcp_%s_c%d_pct=%.1f %%echo\n", c.key, connections, 100.0 * rate / ceiling);
        }
    }
    clientThread.quit();
    clientThread.wait();
    return 0;
}

#include "bench_tcpapi.moc"
