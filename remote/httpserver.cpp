#include "remote/httpserver.h"

#include "app/logger.h"
#include "app/settingsmodel.h"
#include "app/threadhandover.h"
#include "ndi/sourcesmodel.h"
#include "recording/ndirecorder.h"
#include "remote/httpjson.h"
#include "remote/httpserverworkerthread.h"
#include "remote/serverswitch.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QCoreApplication>
#include <QDateTime>

HttpServer::HttpServer(SlotListModel* slotsModel, SlotListAudioHelper* audioHelper, SlotListRecorder* recorder,
    SourcesModel* sources, SettingsModel* settings)
    : ApiServer(slotsModel, audioHelper, recorder, sources)
    , m_worker(new HttpServerWorkerThread(this))
    , m_settings(settings)
    , m_startedMs(QDateTime::currentMSecsSinceEpoch())
{
    connect(m_worker, &HttpServerWorkerThread::listening, this,
        [](ushort port) { Logger::write(QStringLiteral("HTTP panel listening on port ") + QString::number(port)); });
    connect(m_worker, &HttpServerWorkerThread::listenFailed, this, [](ushort port) {
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
        if (m_worker->streamCount() == 0)
            return;
        QList<HttpJson::SlotLevels> levels;
        for (const Slot* slot : allSlots())
            levels.append({ slot->leftLevel(), slot->rightLevel(), double(slot->freeGigabytes()) });
        m_worker->sendEvent(QJsonDocument(HttpJson::levelsEvent(levels)));
    });
    m_levels.start();

    connect(settings, &SettingsModel::serverAccessKeyChanged, m_worker, &HttpServerWorkerThread::setAccessKey);
    m_worker->setAccessKey(settings->serverAccessKey());

    connect(sources, &SourcesModel::sourceAddedSig, this, &HttpServer::onSourceAdded);
    connect(recorder, &SlotListRecorder::isRecordingAllChanged, this, &HttpServer::onRecordingAllChanged);
    for (Slot* slot : allSlots()) {
        connect(slot, &Slot::tallyStateChanged, this, &HttpServer::onTallyChanged);
        connect(slot, &Slot::isRecordingChanged, this, &HttpServer::onRecordingChanged);
        connect(slot, &Slot::isWaitingChanged, this, &HttpServer::onRecordingChanged);
        connect(slot, &Slot::connectedSourceChanged, this, &HttpServer::onConnectedSourceChanged);
        connect(slot, &Slot::displayNameChanged, this, &HttpServer::onDisplayNameChanged);
        connect(slot->telemetry(), &RecordingTelemetry::changed, this, &HttpServer::onProgressChanged);
        connect(slot, &Slot::recordingWarning, this, &HttpServer::onRecordingWarning);
        connect(slot, &Slot::recordingWarningCleared, this, &HttpServer::onRecordingWarningCleared);
    }

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
    return HttpJson::statusObject(isRecordingAll(), slotSnapshots());
}

QJsonObject HttpServer::sourcesObject() const
{
    return HttpJson::sourcesObject(sourceNames());
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
    ThreadHandover::receive(m_worker);
    m_stopRetry.stop();
}

void HttpServer::listen(ushort port)
{
    // A stop still being repeated for an earlier disable must not reach the new listener.
    m_stopRetry.stop();
    if (m_worker->isRunning())
        stopAndWait();
    else
        ThreadHandover::receive(m_worker); // it ended on its own, e.g. the port was taken
    m_worker->clearStopping();
    m_worker->setPort(port);
    m_worker->setLocalOnly(m_settings->serverLocalOnly());
    m_worker->start(QThread::InheritPriority);
}

void HttpServer::onRecordingChanged(bool)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::recordingEvent(snapshotOf(slot))));
}

void HttpServer::onTallyChanged(int tally)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::tallyEvent(slot->index0(), tally)));
}

void HttpServer::onConnectedSourceChanged(QString source)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::connectedEvent(slot->index0(), source)));
}

void HttpServer::onSourceAdded()
{
    m_worker->sendEvent(QJsonDocument(HttpJson::withEvent(sourcesObject(), QStringLiteral("sources"))));
}

void HttpServer::onDisplayNameChanged(QString name)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::renameEvent(slot->index0(), name)));
}

void HttpServer::onRecordingAllChanged(bool state)
{
    m_worker->sendEvent(QJsonDocument(HttpJson::recordingAllEvent(state)));
}

void HttpServer::onProgressChanged()
{
    auto* slot = qobject_cast<Slot*>(sender() ? sender()->parent() : nullptr);
    if (!slot)
        return;
    const SlotSnapshot snapshot = snapshotOf(slot);
    m_worker->sendEvent(QJsonDocument(HttpJson::progressEvent(snapshot)));
    m_worker->sendEvent(QJsonDocument(HttpJson::withEvent(HttpJson::stateObject(snapshot), QStringLiteral("state"))));
}

bool HttpServer::pictureReceiver(uint slot, std::shared_ptr<Receiver>& receiver) const
{
    const Slot* target = slotFor(slot);
    if (!target)
        return false;
    receiver = target->activeReceiver();
    return true;
}

void HttpServer::onRecordingWarning(QString message)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::warningEvent(slot->index0(), message)));
}

void HttpServer::onRecordingWarningCleared(QString message)
{
    auto* slot = qobject_cast<Slot*>(sender());
    if (!slot)
        return;
    m_worker->sendEvent(QJsonDocument(HttpJson::warningClearedEvent(slot->index0(), message)));
}
