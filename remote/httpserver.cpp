#include "remote/httpserver.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "app/threadhandover.h"
#include "ndi/sourcesmodel.h"
#include "recording/ndirecorder.h"
#include "remote/httpjson.h"
#include "remote/httpserverworkerthread.h"
#include "remote/serverswitch.h"
#include "remote/slotevents.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QCoreApplication>
#include <QDateTime>

HttpServer::HttpServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
    SourcesModel* sources, SettingsModel* settings)
    : m_commands(slotsModel, audioHelper, recorder, sources)
    , m_events(SlotEvents::of(slotsModel, recorder, sources))
    , m_routes(this)
    , m_worker(std::make_unique<HttpServerWorkerThread>(m_routes))
    , m_settings(settings)
    , m_startedMs(QDateTime::currentMSecsSinceEpoch())
{
    connect(m_worker.get(), &HttpServerWorkerThread::listening, this,
        [](ushort port) { Logger::write(QStringLiteral("HTTP panel listening on port ") + QString::number(port)); });
    connect(m_worker.get(), &HttpServerWorkerThread::listenFailed, this, [](ushort port) {
        Logger::write(QStringLiteral("Unable to start HTTP panel on port ") + QString::number(port));
    });
    m_stopRetry.setInterval(20);
    connect(&m_stopRetry, &QTimer::timeout, this, [this] {
        if (m_worker->isRunning())
            m_worker->stopListener();
        else
            m_stopRetry.stop();
    });

    m_levels.setInterval(500);
    connect(&m_levels, &QTimer::timeout, this, [this] {
        if (m_routes.streamCount() == 0)
            return;
        QList<HttpJson::SlotLevels> levels;
        for (const Slot* slot : m_commands.allSlots())
            levels.append({ slot->leftLevel(), slot->rightLevel(), double(slot->freeGigabytes()) });
        m_routes.sendEvent(QJsonDocument(HttpJson::levelsEvent(levels)));
    });
    m_levels.start();

    connect(settings, &SettingsModel::serverAccessKeyChanged, this,
        [this](const QString& key) { m_routes.setAccessKey(key); });
    m_routes.setAccessKey(settings->serverAccessKey());

    SlotEvents* events = m_events.get();
    connect(events, &SlotEvents::sourceAdded, this,
        [this] { sendEvent(HttpJson::withEvent(sourcesObject(), QStringLiteral("sources"))); });
    connect(events, &SlotEvents::recordingAllChanged, this,
        [this](bool state) { sendEvent(HttpJson::recordingAllEvent(state)); });
    const auto recording = [this](int, const SlotSnapshot& slot) { sendEvent(HttpJson::recordingEvent(slot)); };
    connect(events, &SlotEvents::recordingChanged, this, recording);
    connect(events, &SlotEvents::waitingChanged, this, recording);
    connect(events, &SlotEvents::tallyChanged, this,
        [this](int number, const SlotSnapshot& slot) { sendEvent(HttpJson::tallyEvent(number, slot.tallyState)); });
    connect(events, &SlotEvents::connectedSourceChanged, this, [this](int number, const SlotSnapshot& slot) {
        sendEvent(HttpJson::connectedEvent(number, slot.connectedSource));
    });
    connect(events, &SlotEvents::displayNameChanged, this,
        [this](int number, const SlotSnapshot& slot) { sendEvent(HttpJson::renameEvent(number, slot.displayName)); });
    connect(events, &SlotEvents::progressChanged, this, [this](int, const SlotSnapshot& slot) {
        sendEvent(HttpJson::progressEvent(slot));
        sendEvent(HttpJson::withEvent(HttpJson::stateObject(slot), QStringLiteral("state")));
    });
    connect(events, &SlotEvents::warning, this,
        [this](int number, const QString& message) { sendEvent(HttpJson::warningEvent(number, message)); });
    connect(events, &SlotEvents::warningCleared, this,
        [this](int number, const QString& message) { sendEvent(HttpJson::warningClearedEvent(number, message)); });

    auto* onOff = new ServerSwitch(settings->httpServerEnabled(), settings->httpServerPort(),
        { [this](ushort port) { listen(port); },
            [this] {
                // Not waited for: a request in flight may need the main thread to finish.
                m_worker->requestStop();
                m_stopRetry.start();
            },
            [this] { return isRunning(); } },
        this);
    connect(settings, &SettingsModel::httpServerPortChanged, onOff, &ServerSwitch::setPort);
    connect(settings, &SettingsModel::httpServerEnabledChanged, onOff, &ServerSwitch::setEnabled);
    connect(settings, &SettingsModel::serverLocalOnlyChanged, onOff, &ServerSwitch::rebind);
}

HttpServer::~HttpServer()
{
    if (m_worker->isRunning())
        stopAndWait();
}

bool HttpServer::isRunning() const
{
    return m_worker->isRunning() && !m_worker->isStopping();
}

QJsonObject HttpServer::statusObject() const
{
    return HttpJson::statusObject(m_commands.isRecordingAll(), m_commands.slotSnapshots());
}

QJsonObject HttpServer::sourcesObject() const
{
    return HttpJson::sourcesObject(m_commands.sourceNames());
}

MetricsExposition::Process HttpServer::processFacts() const
{
    MetricsExposition::Process facts;
    facts.version = QCoreApplication::applicationVersion();
    facts.startedMs = m_startedMs;
    facts.recordingPrograms = NDIRecorder::runningPrograms();
    facts.tcpClients = m_tcpClientCount ? m_tcpClientCount() : 0;
    return facts;
}

void HttpServer::stopAndWait()
{
    // Request threads waiting for the main thread give up at the stop, so none holds the join.
    m_worker->requestStop();
    while (!m_worker->wait(QDeadlineTimer(10)))
        m_worker->stopListener();
    ThreadHandover::receive(m_worker.get());
    m_stopRetry.stop();
}

void HttpServer::listen(ushort port)
{
    // A stop still being repeated for an earlier disable must not reach the new listener.
    m_stopRetry.stop();
    if (m_worker->isRunning())
        stopAndWait();
    else
        ThreadHandover::receive(m_worker.get()); // it ended on its own, e.g. the port was taken
    m_worker->clearStopping();
    m_worker->setPort(port);
    m_worker->setLocalOnly(m_settings->serverLocalOnly());
    m_worker->start(QThread::InheritPriority);
}

bool HttpServer::pictureReceiver(uint slot, std::shared_ptr<Receiver>& receiver) const
{
    const Slot* target = m_commands.slotFor(slot);
    if (!target)
        return false;
    receiver = target->activeReceiver();
    return true;
}

void HttpServer::sendEvent(const QJsonObject& event)
{
    m_routes.sendEvent(QJsonDocument(event));
}
