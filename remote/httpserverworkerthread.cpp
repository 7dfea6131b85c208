#include "remote/httpserverworkerthread.h"

#include "app/logger.h"
#include "app/threadhandover.h"
#include "ndi/snapshotbuffer.h"
#include "remote/httpjson.h"
#include "remote/httpserver.h"
#include "remote/requestthreads.h"
#include "remote/tcpprotocol.h"
#include "slots/commandresults.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>

#include <chrono>

namespace
{

constexpr auto pollInterval = std::chrono::milliseconds(100);
// A thread for every connection in hand: slow clients hold theirs only for the request time-out,
// and each open stream one for its life.
constexpr size_t requestThreads = 96;
constexpr size_t maxRequestBody = 64 * 1024;

const char* const corsHeader = "Access-Control-Allow-Origin";

QString queryValue(const httplib::Request& request, const char* key)
{
    // The first occurrence counts; a missing parameter reads as empty text.
    return request.has_param(key) ? QString::fromStdString(request.get_param_value(key, 0)) : QString();
}

} // namespace

HttpServerWorkerThread::HttpServerWorkerThread(HttpServer* server)
    : QThread(server)
    , m_server(server)
    , m_keyAttempts([] {
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    })
    , m_panelPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("panel")).toUtf8())
    , m_calls(server)
    , m_streams([this] { return initialMessages(); })
{
    m_http.new_task_queue = [] { return new RequestThreads(requestThreads); };
    // Idle keep-alive connections and slow clients must not hold a thread for long, nor a stream
    // whose client has stopped reading hold up the one sending to it.
    m_http.set_keep_alive_timeout(1);
    m_http.set_read_timeout(2);
    m_http.set_write_timeout(1);
    // Headers and body go out in separate writes; with Nagle's algorithm the body would wait for
    // the client's delayed acknowledgement, about 40 ms per answer.
    m_http.set_tcp_nodelay(true);
    // Only GET is served; a request body is never needed and must not fill our memory.
    m_http.set_payload_max_length(maxRequestBody);

    mountPanel();

    m_http.Get(
        "/api", [this](const httplib::Request& request, httplib::Response& response) { handleApi(request, response); });
    m_http.Get("/api/events",
        [this](const httplib::Request& request, httplib::Response& response) { handleEvents(request, response); });
    m_http.Get("/api/snapshot",
        [this](const httplib::Request& request, httplib::Response& response) { handleSnapshot(request, response); });
    m_http.Get("/metrics",
        [this](const httplib::Request& request, httplib::Response& response) { handleMetrics(request, response); });
}

HttpServerWorkerThread::~HttpServerWorkerThread()
{
    // The owner has stopped and joined the thread already; this only guards against misuse.
    if (isRunning()) {
        requestStop();
        while (!wait(QDeadlineTimer(10)))
            stopListener();
    }
    ThreadHandover::receive(this);
}

bool HttpServerWorkerThread::mountPanel()
{
    if (m_http.set_mount_point("/", m_panelPath.toStdString()))
        return true;
    qDebug() << "Missing panel path";
    return false;
}

bool HttpServerWorkerThread::setPanelPath(const QString& path)
{
    m_http.remove_mount_point("/");
    m_panelPath = path.toUtf8();
    return mountPanel();
}

void HttpServerWorkerThread::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_calls.stop();
    m_streams.stop();
    stopListener();
}

void HttpServerWorkerThread::clearStopping()
{
    m_stopping = false;
    m_calls.start();
    m_streams.start();
}

void HttpServerWorkerThread::stopListener()
{
    // Connections are closed as well: a stop never waits for a client.
    m_http.closeAll();
}

void HttpServerWorkerThread::setAccessKey(const QString& key)
{
    const std::lock_guard<std::mutex> lock(m_keyMutex);
    m_accessKey = key;
}

QString HttpServerWorkerThread::admitted(const httplib::Request& request)
{
    QString given = queryValue(request, "key");
    if (given.isEmpty() && request.has_header("Authorization")) {
        given = QString::fromStdString(request.get_header_value("Authorization")).trimmed();
        if (given.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
            given = given.mid(7).trimmed();
    }
    QString result;
    AccessKeyAttempts::Verdict verdict;
    {
        const std::lock_guard<std::mutex> lock(m_keyMutex);
        result = ApiServer::checkAccessKey(m_accessKey, given);
        // Only keys given count: the panel asks without one first.
        if (!given.isEmpty())
            verdict = m_keyAttempts.attempt(
                QString::fromStdString(request.remote_addr), result == CommandResult::accessKeyWrong);
    }
    if (verdict.log)
        Logger::write(AccessKeyAttempts::logLine(
            QStringLiteral("HTTP panel"), QString::fromStdString(request.remote_addr), verdict));
    if (verdict.delayMs > 0) {
        // This request's own thread waits; a stop ends the wait.
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(verdict.delayMs), [this] { return m_stopping.load(); });
    }
    return result;
}

void HttpServerWorkerThread::setPort(ushort port)
{
    m_port = port;
}

void HttpServerWorkerThread::run()
{
    // Whoever next finds this thread finished reads what it wrote; Qt's wait is hidden from the
    // thread sanitizer.
    struct Finished {
        const void* thread;
        ~Finished() { ThreadHandover::publish(thread); }
    } finished { this };
    const ushort port = m_port;
    if (!m_http.bindExclusive(m_localOnly ? "127.0.0.1" : "0.0.0.0", port)) {
        emit listenFailed(port);
        return;
    }
    emit listening(port);
    m_http.listen_after_bind();
}

// ---- "/api" (request threads) -------------------------------------------------------------

bool HttpServerWorkerThread::refused(const httplib::Request& request, httplib::Response& response)
{
    response.set_header(corsHeader, "*");
    if (m_stopping) {
        // No hand-off to a main thread that may be waiting for this very thread pool.
        response.status = 503;
        return true;
    }
    const QString access = admitted(request);
    if (access == CommandResult::success)
        return false;
    response.status = 401;
    response.set_content(HttpJson::answerBody(HttpJson::resultObject(access)).toStdString(), "text/plain");
    return true;
}

void HttpServerWorkerThread::handleApi(const httplib::Request& request, httplib::Response& response)
{
    if (refused(request, response))
        return;

    QString result = CommandResult::invalidCommand;
    QJsonObject answer;
    const QString command = queryValue(request, "command");
    const uint slot = TcpProtocol::slotId(queryValue(request, "slot"));
    bool ran = true;
    const auto onMain = [this, &ran](const std::function<void()>& work) { ran = ran && m_calls.run(work); };

    if (command == QLatin1String("recording_start")) {
        onMain([&] { result = m_server->recordingStart(slot); });
    } else if (command == QLatin1String("recording_stop")) {
        onMain([&] { result = m_server->recordingStop(slot); });
    } else if (command == QLatin1String("connect")) {
        const QString source = queryValue(request, "source");
        onMain([&] { result = m_server->connectSource(slot, source); });
    } else if (command == QLatin1String("rename")) {
        const QString name = queryValue(request, "name");
        onMain([&] { result = m_server->renameSlot(slot, name); });
    } else if (command == QLatin1String("disconnect")) {
        onMain([&] { result = m_server->disconnectSource(slot); });
    } else if (command == QLatin1String("listen")) {
        onMain([&] { result = m_server->listenOn(slot); });
    } else if (command == QLatin1String("listen_off")) {
        onMain([&] { result = m_server->listenOff(); });
    } else if (command == QLatin1String("sources")) {
        onMain([&] { answer = m_server->sourcesObject(); });
    } else if (command == QLatin1String("status")) {
        onMain([&] { answer = m_server->statusObject(); });
    } else if (command == QLatin1String("progress") || command == QLatin1String("state")) {
        const bool one = request.has_param("slot");
        onMain([&] {
            QList<SlotSnapshot> list = m_server->slotSnapshots();
            if (one) {
                if (slot == 0 || slot > uint(list.size())) {
                    result = CommandResult::slotIdInvalid;
                    return;
                }
                list = { list.at(int(slot - 1)) };
            }
            answer = command == QLatin1String("state") ? HttpJson::stateAnswer(list) : HttpJson::progressAnswer(list);
        });
    } else if (command == QLatin1String("history")) {
        onMain([&] {
            const QList<SlotSnapshot> list = m_server->slotSnapshots();
            if (slot == 0 || slot > uint(list.size()))
                result = CommandResult::slotIdInvalid;
            else
                answer = QJsonObject { { QStringLiteral("history"), HttpJson::historyArray(list.at(int(slot - 1))) } };
        });
    } else if (command == QLatin1String("recordings")) {
        QStringList folders;
        onMain([&] { folders = m_server->recordingFolders(); });
        // Reading the files is no work for the main thread.
        if (ran)
            answer = HttpJson::recordingsObject(ApiServer::recordingsIn(folders));
    }
    if (!ran) {
        response.status = 503; // stopped before the main thread took the command
        return;
    }
    if (answer.isEmpty())
        answer = HttpJson::resultObject(result);
    response.set_content(HttpJson::answerBody(answer).toStdString(), "text/plain");
}

// ---- "/api/events" (request threads) -------------------------------------------------------

void HttpServerWorkerThread::handleEvents(const httplib::Request& request, httplib::Response& response)
{
    response.set_header(corsHeader, "*");
    const QString access = admitted(request);
    if (access != CommandResult::success) {
        response.status = 401;
        response.set_content(HttpJson::answerBody(HttpJson::resultObject(access)).toStdString(), "text/plain");
        return;
    }
    const quint64 id = m_streams.open();
    if (id == 0) {
        response.status = 503;
        return;
    }

    response.set_chunked_content_provider(
        "text/event-stream",
        [this, id](size_t, httplib::DataSink& sink) {
            QStringList messages;
            // Until the next event (sent at once) or the next ping.
            const EventStreams::Taken taken = m_streams.take(id, pollInterval, messages);
            if (taken == EventStreams::Taken::Ended) {
                sink.done();
                return true;
            }
            // A client that went away, or takes nothing of what it was sent, ends its stream:
            // polling it for ever would hold the thread and one of the five places.
            if (!m_http.streamClientTakes() || !sink.is_writable())
                return false;
            if (taken == EventStreams::Taken::NotReady)
                return true;
            if (messages.isEmpty())
                messages << HttpJson::pingMessage();
            for (const QString& message : qAsConst(messages)) {
                const QByteArray bytes = message.toUtf8();
                if (!sink.write(bytes.constData(), size_t(bytes.size())))
                    return true; // the library ends the stream after a failed write
            }
            return true;
        },
        [this, id](bool) { m_streams.close(id); });
}

// ---- "/api/snapshot" (request threads) -----------------------------------------------------

void HttpServerWorkerThread::handleSnapshot(const httplib::Request& request, httplib::Response& response)
{
    response.set_header(corsHeader, "*");
    if (m_stopping) {
        response.status = 503;
        return;
    }
    auto refuse = [&response](int status, const QString& reason) {
        response.status = status;
        response.set_content(HttpJson::answerBody(HttpJson::resultObject(reason)).toStdString(), "text/plain");
    };
    const QString access = admitted(request);
    if (access != CommandResult::success)
        return refuse(401, access);
    const uint slot = TcpProtocol::slotId(queryValue(request, "slot"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        std::lock_guard<std::mutex> lock(m_snapshotMutex);
        const auto it = m_snapshots.find(slot);
        if (it != m_snapshots.end() && now - it->second.atMs < snapshotMs) {
            response.set_content(it->second.jpeg.toStdString(), "image/jpeg");
            response.set_header("Cache-Control", "no-store");
            return;
        }
    }
    // Only the lookup runs on the main thread; copying and encoding the picture run here.
    bool valid = false;
    std::shared_ptr<Receiver> receiver;
    if (!m_calls.run([&] { valid = m_server->pictureReceiver(slot, receiver); })) {
        response.status = 503;
        return;
    }
    if (!valid)
        return refuse(400, CommandResult::slotIdInvalid);
    thread_local PictureSnapshot picture;
    if (!receiver || !receiver->snapshot(picture))
        return refuse(404, CommandResult::noPicture);

    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    CachedSnapshot& cached = m_snapshots[slot];
    if (cached.jpeg.isEmpty() || cached.serial != picture.serial || picture.serial == 0) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        SnapshotBuffer::image(picture).save(&buffer, "JPG", 75);
        cached.jpeg = jpeg;
        cached.serial = picture.serial;
    }
    cached.atMs = now;
    response.set_content(cached.jpeg.toStdString(), "image/jpeg");
    response.set_header("Cache-Control", "no-store");
}

// ---- "/metrics" (request threads) ---------------------------------------------------------

void HttpServerWorkerThread::handleMetrics(const httplib::Request& request, httplib::Response& response)
{
    if (refused(request, response))
        return;
    // Only copying the snapshots runs on the main thread; the text is made here.
    QList<SlotSnapshot> slotList;
    MetricsExposition::Process process;
    if (!m_calls.run([&] {
            slotList = m_server->slotSnapshots();
            process = m_server->processFacts();
        })) {
        response.status = 503;
        return;
    }
    process.eventStreams = m_streams.count();
    response.set_content(MetricsExposition::text(slotList, process).toStdString(), MetricsExposition::contentType);
}

// ---- queues (main thread) ------------------------------------------------------------------

QStringList HttpServerWorkerThread::initialMessages() const
{
    return {
        HttpJson::eventMessage(QJsonDocument(HttpJson::withEvent(m_server->statusObject(), QStringLiteral("status")))),
        HttpJson::eventMessage(QJsonDocument(HttpJson::withEvent(m_server->sourcesObject(), QStringLiteral("sources"))))
    };
}

void HttpServerWorkerThread::sendEvent(QJsonDocument doc)
{
    m_streams.send(HttpJson::eventMessage(doc));
}
