#include "remote/tcpapiserver.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "remote/serverswitch.h"
#include "remote/slotevents.h"
#include "remote/tcpprotocol.h"
#include "slots/commandresults.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <utility>

namespace
{

// A socket may hold a little more than one maximal line before the rest waits in the kernel.
constexpr qint64 socketReadBufferSize = 4 * TcpProtocol::maxLineLength;

} // namespace

// What one client's line may act on: the command layer, and this client's subscriptions.
class TcpApiServer::ClientBackend : public TcpProtocol::Backend
{
public:
    ClientBackend(TcpApiServer* server, QTcpSocket* socket)
        : m_server(server)
        , m_socket(socket)
    {
    }

    QString recordingStart(uint slot) override { return commands().recordingStart(slot); }
    QString recordingStop(uint slot) override { return commands().recordingStop(slot); }
    QString connectSource(uint slot, const QString& source) override { return commands().connectSource(slot, source); }
    QString renameSlot(uint slot, const QString& name) override { return commands().renameSlot(slot, name); }
    QString disconnectSource(uint slot) override { return commands().disconnectSource(slot); }
    QString listenOn(uint slot) override { return commands().listenOn(slot); }
    QString listenOff() override { return commands().listenOff(); }
    QStringList sourceNames() override { return commands().sourceNames(); }
    QList<SlotSnapshot> slotSnapshots() override { return commands().slotSnapshots(); }
    void setSubscribed(CommandTable::Subscription what, bool on) override
    {
        using Subscription = CommandTable::Subscription;
        QSet<QTcpSocket*>& subscribers = what == Subscription::Tally ? m_server->m_tallySubscribers
            : what == Subscription::Recording                        ? m_server->m_recordingSubscribers
            : what == Subscription::Progress                         ? m_server->m_progressSubscribers
                                                                     : m_server->m_stateSubscribers;
        if (on)
            subscribers.insert(m_socket);
        else
            subscribers.remove(m_socket);
    }
    QJsonArray recordings() override { return commands().recordings(); }
    QString authenticate(const QString& key) override
    {
        const QString result = SlotCommands::checkAccessKey(m_server->m_settings->serverAccessKey(), key);
        const QString address = m_socket->peerAddress().toString();
        const AccessKeyAttempts::Verdict verdict
            = m_server->m_keyAttempts.attempt(address, result == CommandResult::accessKeyWrong);
        if (verdict.log)
            Logger::write(AccessKeyAttempts::logLine(QStringLiteral("TCP API"), address, verdict));
        if (verdict.delayMs > 0)
            m_server->hold(m_socket, verdict.delayMs);
        if (result == CommandResult::success)
            m_server->m_admitted.insert(m_socket);
        else
            m_server->m_admitted.remove(m_socket);
        return result;
    }
    bool admitted() override
    {
        return m_server->m_settings->serverAccessKey().isEmpty() || m_server->m_admitted.contains(m_socket);
    }
    void write(const QByteArray& bytes) override { m_server->send(m_socket, bytes); }

private:
    SlotCommands& commands() { return m_server->m_commands; }

    TcpApiServer* const m_server;
    QTcpSocket* const m_socket;
};

TcpApiServer::TcpApiServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
    SourcesModel* sources, SettingsModel* settings)
    : m_commands(slotsModel, audioHelper, recorder, sources)
    , m_events(SlotEvents::of(slotsModel, recorder, sources))
    , m_keyAttempts([] {
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    })
    , m_settings(settings)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpApiServer::onNewConnection);
    SlotEvents* events = m_events.get();
    connect(events, &SlotEvents::recordingAllChanged, this,
        [this](bool state) { writeTo(m_recordingSubscribers, TcpProtocol::recordingAllEvent(state)); });
    connect(events, &SlotEvents::recordingChanged, this, [this](int number, const SlotSnapshot& slot) {
        writeTo(m_recordingSubscribers, TcpProtocol::recordingEvent(number, slot.isRecording));
    });
    connect(events, &SlotEvents::tallyChanged, this, [this](int number, const SlotSnapshot& slot) {
        writeTo(m_tallySubscribers, TcpProtocol::tallyEvent(number, slot.tallyState));
    });
    connect(events, &SlotEvents::progressChanged, this, [this](int, const SlotSnapshot& slot) {
        writeTo(m_progressSubscribers, TcpProtocol::progressLine(slot, QString(), false));
        writeTo(m_stateSubscribers, TcpProtocol::stateLine(slot, QString(), false));
    });
    connect(events, &SlotEvents::warning, this, [this](int number, const QString& message) {
        writeTo(m_progressSubscribers + m_stateSubscribers, TcpProtocol::warningEvent(number, message));
    });
    connect(events, &SlotEvents::warningCleared, this, [this](int number, const QString& message) {
        writeTo(m_stateSubscribers, TcpProtocol::warningClearedEvent(number, message));
    });
    // A new key: every client shows it anew.
    connect(settings, &SettingsModel::serverAccessKeyChanged, this, [this] { m_admitted.clear(); });

    auto* onOff = new ServerSwitch(settings->tcpServerEnabled(), settings->tcpServerPort(),
        { [this](ushort port) { listen(port); }, [this] { close(); }, [this] { return m_server.isListening(); } },
        this);
    connect(settings, &SettingsModel::tcpServerPortChanged, onOff, &ServerSwitch::setPort);
    connect(settings, &SettingsModel::tcpServerEnabledChanged, onOff, &ServerSwitch::setEnabled);
    connect(settings, &SettingsModel::serverLocalOnlyChanged, onOff, &ServerSwitch::rebind);
}

TcpApiServer::~TcpApiServer()
{
    // Sockets go now and quietly: nobody is left to hear their disconnected signals.
    for (QTcpSocket* socket : forgetClients())
        delete socket;
}

QSet<QTcpSocket*> TcpApiServer::forgetClients()
{
    m_server.close();
    const QSet<QTcpSocket*> clients = std::exchange(m_clients, {});
    m_tallySubscribers.clear();
    m_recordingSubscribers.clear();
    m_progressSubscribers.clear();
    m_stateSubscribers.clear();
    m_admitted.clear();
    m_held.clear();
    // Forgotten already: their disconnected signals must not log or touch the sets again.
    for (QTcpSocket* socket : clients)
        socket->disconnect(this);
    return clients;
}

void TcpApiServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_clients.size() >= maxClients) {
            refuse(socket);
            continue;
        }
        socket->setReadBufferSize(socketReadBufferSize);
        connect(socket, &QTcpSocket::readyRead, this, &TcpApiServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &TcpApiServer::onDisconnected);
        m_clients.insert(socket);
        const QByteArray greeting = TcpProtocol::helloLine();
        Logger::write(QStringLiteral("Accepted API connection from ") + socket->peerAddress().toString());
        socket->write(greeting);
    }
}

void TcpApiServer::refuse(QTcpSocket* socket)
{
    // Said once for a flood: again only after a place came free meanwhile.
    if (!m_refusing) {
        m_refusing = true;
        Logger::write(QStringLiteral("Refused API connection from %1: %2 clients are connected already")
                          .arg(socket->peerAddress().toString())
                          .arg(maxClients));
    } else {
        ++m_refusedUnlogged;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(TcpProtocol::resultLine(QStringLiteral("Too many connections"), QString()));
    socket->disconnectFromHost();
}

void TcpApiServer::onReadyRead()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket)
        readLines(socket);
}

void TcpApiServer::readLines(QTcpSocket* socket)
{
    if (!m_clients.contains(socket) || m_held.contains(socket))
        return;
    ClientBackend backend(this, socket);
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        if (line.size() > TcpProtocol::maxLineLength + 2) {
            Logger::write(QStringLiteral("Dropped an over-long API line (%1 bytes) from %2")
                              .arg(line.size())
                              .arg(socket->peerAddress().toString()));
            socket->abort();
            return;
        }
        TcpProtocol::handleLine(line, backend);
        // A command may have ended this client (a write error disconnects it), or held it.
        if (!m_clients.contains(socket) || m_held.contains(socket))
            return;
    }
    // No line end in sight: a client that never ends its line must not fill our memory.
    if (socket->bytesAvailable() > TcpProtocol::maxLineLength) {
        Logger::write(QStringLiteral("Dropped an over-long API line (more than %1 bytes) from %2")
                          .arg(TcpProtocol::maxLineLength)
                          .arg(socket->peerAddress().toString()));
        socket->abort();
    }
}

void TcpApiServer::hold(QTcpSocket* socket, int delayMs)
{
    if (m_held.contains(socket))
        return;
    m_held.insert(socket, QByteArray());
    // The socket is the context: a client gone meanwhile takes its timer along.
    QTimer::singleShot(delayMs, socket, [this, socket] { release(socket); });
}

void TcpApiServer::release(QTcpSocket* socket)
{
    if (!m_held.contains(socket))
        return;
    const QByteArray waiting = m_held.take(socket);
    if (!waiting.isEmpty())
        send(socket, waiting);
    readLines(socket);
}

void TcpApiServer::onDisconnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    forget(socket);
    Logger::write(QStringLiteral("Closed API connection with ") + socket->peerAddress().toString());
    socket->deleteLater();
    if (m_refusing && m_clients.size() < maxClients) {
        m_refusing = false;
        if (m_refusedUnlogged > 0)
            Logger::write(QStringLiteral("Refused %1 more API connections while %2 clients were connected")
                              .arg(m_refusedUnlogged)
                              .arg(maxClients));
        m_refusedUnlogged = 0;
    }
}

void TcpApiServer::forget(QTcpSocket* socket)
{
    m_clients.remove(socket);
    m_tallySubscribers.remove(socket);
    m_recordingSubscribers.remove(socket);
    m_progressSubscribers.remove(socket);
    m_stateSubscribers.remove(socket);
    m_admitted.remove(socket);
    m_held.remove(socket);
}

void TcpApiServer::writeTo(const QSet<QTcpSocket*>& clients, const QByteArray& line)
{
    // A copy: a failing write may disconnect a client and change the set underneath.
    const QSet<QTcpSocket*> targets = clients;
    for (QTcpSocket* socket : targets) {
        if (m_clients.contains(socket))
            send(socket, line);
    }
}

void TcpApiServer::send(QTcpSocket* socket, const QByteArray& bytes)
{
    if (!m_clients.contains(socket))
        return;
    const auto held = m_held.find(socket);
    if (held != m_held.end()) {
        // Events keep their place behind the held answer, within the same bound.
        *held += bytes;
        if (held->size() > maxUnsentBytes) {
            Logger::write(QStringLiteral("Dropped API connection with %1: it does not read its replies")
                              .arg(socket->peerAddress().toString()));
            m_held.erase(held);
            socket->abort();
        }
        return;
    }
    socket->write(bytes);
    if (socket->bytesToWrite() > maxUnsentBytes) {
        Logger::write(QStringLiteral("Dropped API connection with %1: it does not read its replies")
                          .arg(socket->peerAddress().toString()));
        socket->abort();
    }
}

void TcpApiServer::listen(ushort port)
{
    if (m_server.isListening())
        close();
    if (m_server.listen(m_settings->serverLocalOnly() ? QHostAddress::LocalHost : QHostAddress::Any, port))
        Logger::write(QStringLiteral("TCP API listening on port ") + QString::number(port));
    else
        Logger::write(QStringLiteral("Unable to start TCP API on port ") + QString::number(port));
}

void TcpApiServer::close()
{
    m_refusing = false;
    m_refusedUnlogged = 0;
    for (QTcpSocket* socket : forgetClients()) {
        socket->abort();
        socket->deleteLater();
    }
}
