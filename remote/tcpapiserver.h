#pragma once

#include "remote/accesskeyattempts.h"
#include "remote/slotcommands.h"

#include <QHash>
#include <QSet>
#include <QTcpServer>

#include <memory>

class QTcpSocket;
class SettingsModel;
class SlotEvents;

// The TCP control port: one XML element per line in, one reply line out, and on request a line
// for every tally and recording change. Lives and runs entirely on the main thread.
class TcpApiServer : public QObject
{
    Q_OBJECT

public:
    TcpApiServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
        SourcesModel* sources, SettingsModel* settings);
    ~TcpApiServer() override;

    bool isListening() const { return m_server.isListening(); }
    // The port actually bound (differs from the setting only when that is 0).
    quint16 serverPort() const { return m_server.serverPort(); }
    int clientCount() const { return int(m_clients.size()); }
    SlotCommands& commands() { return m_commands; }

    // Replies and events a client has not taken yet, beyond which it is dropped.
    static constexpr qint64 maxUnsentBytes = 4 * 1024 * 1024;
    // Clients at once; each holds a file descriptor, which the recording programs need as well.
    static constexpr int maxClients = 64;

public Q_SLOTS:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();

private:
    class ClientBackend;
    void listen(ushort port);
    void close();
    // Closes the port and forgets every client, disconnected from this server; they are the caller's.
    QSet<QTcpSocket*> forgetClients();
    void readLines(QTcpSocket* socket);
    void refuse(QTcpSocket* socket);
    // Answers to a client that keeps guessing the key wait; its lines meanwhile wait unread.
    void hold(QTcpSocket* socket, int delayMs);
    void release(QTcpSocket* socket);
    void forget(QTcpSocket* socket);
    void writeTo(const QSet<QTcpSocket*>& clients, const QByteArray& line);
    // Writes, or drops a client that has left too much unread (it would grow our memory).
    void send(QTcpSocket* socket, const QByteArray& bytes);

    SlotCommands m_commands;
    std::shared_ptr<SlotEvents> m_events;
    QTcpServer m_server;
    QSet<QTcpSocket*> m_clients;
    QSet<QTcpSocket*> m_tallySubscribers;
    QSet<QTcpSocket*> m_recordingSubscribers;
    QSet<QTcpSocket*> m_progressSubscribers;
    QSet<QTcpSocket*> m_stateSubscribers;
    QSet<QTcpSocket*> m_admitted; // clients that gave the access key
    QHash<QTcpSocket*, QByteArray> m_held; // clients whose answers wait, with what waits
    AccessKeyAttempts m_keyAttempts;
    int m_refusedUnlogged = 0; // refused since the refusal was logged, while full
    bool m_refusing = false;
    SettingsModel* const m_settings;
};
