#include "remote/httproutes.h"

#include "ndi/receiver.h"
#include "remote/commandtable.h"
#include "remote/guardedhttpserver.h"
#include "remote/httpjson.h"
#include "remote/httpserver.h"
#include "slots/commandresults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>

#include <chrono>

namespace
{

constexpr auto pollInterval = std::chrono::milliseconds(100);

const char* const corsHeader = "Access-Control-Allow-Origin";

QString queryValue(const httplib::Request& request, const char* key)
{
    // The first occurrence counts; a missing parameter reads as empty text.
    return request.has_param(key) ? QString::fromStdString(request.get_param_value(key, 0)) : QString();
}

} // namespace

HttpRoutes::HttpRoutes(HttpServer* server)
    : m_server(server)
    , m_panelPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("panel")).toUtf8())
    , m_calls(server)
    , m_streams([this] { return initialMessages(); })
{
}

void HttpRoutes::install(GuardedHttpServer& http)
{
    m_http = &http;
    mountPanel();

    http.Get(
        "/api", [this](const httplib::Request& request, httplib::Response& response) { handleApi(request, response); });
    http.Get("/api/events",
        [this](const httplib::Request& request, httplib::Response& response) { handleEvents(request, response); });
    http.Get("/api/snapshot",
        [this](const httplib::Request& request, httplib::Response& response) { handleSnapshot(request, response); });
    http.Get("/metrics",
        [this](const httplib::Request& request, httplib::Response& response) { handleMetrics(request, response); });
}

bool HttpRoutes::mountPanel()
{
    if (m_http->set_mount_point("/", m_panelPath.toStdString()))
        return true;
    qDebug() << "Missing panel path";
    return false;
}

bool HttpRoutes::setPanelPath(const QString& path)
{
    m_http->remove_mount_point("/");
    m_panelPath = path.toUtf8();
    return mountPanel();
}

void HttpRoutes::stop()
{
    m_stopping = true;
    m_access.stop();
    m_calls.stop();
    m_streams.stop();
}

void HttpRoutes::start()
{
    m_stopping = false;
    m_access.start();
    m_calls.start();
    m_streams.start();
}

void HttpRoutes::setAccessKey(const QString& key)
{
    m_access.setKey(key);
}

// ---- "/api" (request threads) -------------------------------------------------------------

bool HttpRoutes::refused(const httplib::Request& request, httplib::Response& response)
{
    response.set_header(corsHeader, "*");
    if (m_stopping) {
        // No hand-off to a main thread that may be waiting for this very thread pool.
        response.status = 503;
        return true;
    }
    const QString access = m_access.admit(request);
    if (access == CommandResult::success)
        return false;
    response.status = 401;
    response.set_content(HttpJson::answerBody(HttpJson::resultObject(access)).toStdString(), "text/plain");
    return true;
}

void HttpRoutes::handleApi(const httplib::Request& request, httplib::Response& response)
{
    if (refused(request, response))
        return;

    using Answer = CommandTable::Answer;
    QString result = CommandResult::invalidCommand;
    QJsonObject answer;
    const CommandTable::Command* command = CommandTable::find(queryValue(request, "command"), CommandTable::Http);
    CommandTable::Arguments arguments;
    arguments.hasSlot = request.has_param("slot");
    arguments.slot = CommandTable::slotId(queryValue(request, "slot"));
    if (command && (command->arguments & CommandTable::SourceArgument))
        arguments.source = queryValue(request, "source");
    if (command && (command->arguments & CommandTable::NameArgument))
        arguments.name = queryValue(request, "name");

    const bool ran = !command || m_calls.run([&] {
        SlotCommands& commands = m_server->commands();
        if (command->answer == Answer::Result) {
            result = command->run(commands, arguments);
        } else if (command->answer == Answer::Sources) {
            answer = m_server->sourcesObject();
        } else if (command->answer == Answer::Status) {
            answer = m_server->statusObject();
        } else if (command->answer == Answer::Recordings) {
            answer = HttpJson::recordingsObject(commands.recordings());
        } else {
            QList<SlotSnapshot> list = commands.slotSnapshots();
            const int index = CommandTable::slotIndex(arguments.slot, list.size());
            // Progress and state cover every slot when "slot" is left out; history names one.
            if ((arguments.hasSlot || command->answer == Answer::History) && index < 0) {
                result = CommandResult::slotIdInvalid;
                return;
            }
            if (command->answer == Answer::History)
                answer = QJsonObject { { QStringLiteral("history"), HttpJson::historyArray(list.at(index)) } };
            else if (arguments.hasSlot)
                list = { list.at(index) };
            if (command->answer == Answer::State)
                answer = HttpJson::stateAnswer(list);
            else if (command->answer == Answer::Progress)
                answer = HttpJson::progressAnswer(list);
        }
    });
    if (!ran) {
        response.status = 503; // stopped before the main thread took the command
        return;
    }
    if (answer.isEmpty())
        answer = HttpJson::resultObject(result);
    response.set_content(HttpJson::answerBody(answer).toStdString(), "text/plain");
}

// ---- "/api/events" (request threads) -------------------------------------------------------

void HttpRoutes::handleEvents(const httplib::Request& request, httplib::Response& response)
{
    response.set_header(corsHeader, "*");
    const QString access = m_access.admit(request);
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
            if (!m_http->streamClientTakes() || !sink.is_writable())
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

void HttpRoutes::handleSnapshot(const httplib::Request& request, httplib::Response& response)
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
    const QString access = m_access.admit(request);
    if (access != CommandResult::success)
        return refuse(401, access);
    const uint slot = CommandTable::slotId(queryValue(request, "slot"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QByteArray cached = m_jpegs.fresh(slot, now);
    if (!cached.isEmpty()) {
        response.set_content(cached.toStdString(), "image/jpeg");
        response.set_header("Cache-Control", "no-store");
        return;
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

    response.set_content(m_jpegs.store(slot, picture, now).toStdString(), "image/jpeg");
    response.set_header("Cache-Control", "no-store");
}

// ---- "/metrics" (request threads) ---------------------------------------------------------

void HttpRoutes::handleMetrics(const httplib::Request& request, httplib::Response& response)
{
    if (refused(request, response))
        return;
    // Only copying the snapshots runs on the main thread; the text is made here.
    QList<SlotSnapshot> slotList;
    MetricsExposition::Process process;
    if (!m_calls.run([&] {
            slotList = m_server->commands().slotSnapshots();
            process = m_server->processFacts();
        })) {
        response.status = 503;
        return;
    }
    process.eventStreams = m_streams.count();
    response.set_content(MetricsExposition::text(slotList, process).toStdString(), MetricsExposition::contentType);
}

// ---- queues (main thread) ------------------------------------------------------------------

QStringList HttpRoutes::initialMessages() const
{
    return {
        HttpJson::eventMessage(QJsonDocument(HttpJson::withEvent(m_server->statusObject(), QStringLiteral("status")))),
        HttpJson::eventMessage(QJsonDocument(HttpJson::withEvent(m_server->sourcesObject(), QStringLiteral("sources"))))
    };
}

void HttpRoutes::sendEvent(const QJsonDocument& doc)
{
    m_streams.send(HttpJson::eventMessage(doc));
}
