#pragma once

#include "remote/httproutes.h"
#include "remote/metricsexposition.h"
#include "remote/slotcommands.h"

#include <QJsonObject>
#include <QTimer>

#include <functional>
#include <memory>

class HttpServerWorkerThread;
class Receiver;
class SettingsModel;
class SlotEvents;

// The web panel's server: static files, GET "/api" commands answered in JSON and the
// "/api/events" stream. The routes say what each request gets; the HTTP library runs on the worker
// thread and its request threads; every command and every read of the recorder runs here, on the
// main thread.
class HttpServer : public QObject
{
    Q_OBJECT

public:
    HttpServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
        SourcesModel* sources, SettingsModel* settings);
    ~HttpServer() override;

    // Main thread.
    SlotCommands& commands() { return m_commands; }
    QJsonObject statusObject() const;
    QJsonObject sourcesObject() const;
    bool isRunning() const;
    // The picture source of a slot: false when the id names no slot; a null receiver while the
    // slot is unbound.
    bool pictureReceiver(uint slot, std::shared_ptr<Receiver>& receiver) const;
    HttpServerWorkerThread* worker() const { return m_worker.get(); }
    HttpRoutes& routes() { return m_routes; }
    // The process's facts for "/metrics"; the event streams are counted by the routes.
    MetricsExposition::Process processFacts() const;
    // How many clients the TCP port has (main thread; none when not set).
    void setTcpClientCount(std::function<int()> count) { m_tcpClientCount = std::move(count); }

private:
    void sendEvent(const QJsonObject& event);
    // Also when a disable is still winding down: waits for it and starts afresh.
    void listen(ushort port);
    // Stops the worker and waits for it; its request threads wait for the main thread no longer.
    void stopAndWait();

    SlotCommands m_commands;
    std::shared_ptr<SlotEvents> m_events;
    HttpRoutes m_routes;
    // Destroyed before the routes it hands requests to.
    const std::unique_ptr<HttpServerWorkerThread> m_worker;
    SettingsModel* const m_settings;
    // Taken as the recorder's start: the server is made during start-up.
    const qint64 m_startedMs;
    std::function<int()> m_tcpClientCount;
    // Repeats a stop request that came before the listener ran (after a disable, which does not wait).
    QTimer m_stopRetry;
    // Twice a second, while a panel watches: every slot's levels.
    QTimer m_levels;
};
