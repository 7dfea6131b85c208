#include "remote/guardedhttpserver.h"

namespace
{

// The connection a request thread serves: handlers and content providers run on that thread.
thread_local void* t_connection = nullptr;

} // namespace

GuardedHttpServer::GuardedHttpServer()
{
    // A request is under way from its headers to its answer; only the wait before it counts, and
    // a body (which nothing here needs) must arrive within that wait as well.
    set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        auto* connection = static_cast<Connection*>(t_connection);
        if (connection && !request.has_header("Content-Length") && !request.has_header("Transfer-Encoding"))
            connection->waitingSince = 0;
        return HandlerResponse::Unhandled;
    });
    set_logger([](const httplib::Request&, const httplib::Response&) {
        if (auto* connection = static_cast<Connection*>(t_connection))
            connection->waitingSince = nowMs();
    });
    m_watchdog = std::thread(&GuardedHttpServer::watch, this);
}

GuardedHttpServer::~GuardedHttpServer()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    m_watchdog.join();
}

int64_t GuardedHttpServer::nowMs()
{
    // Never 0, which means "answering".
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count() + 1;
}

bool GuardedHttpServer::bindExclusive(const char* host, int port)
{
    // The library's own options on Linux add SO_REUSEPORT, which lets two servers share the port.
    set_socket_options(&PortableSocket::makeExclusive);
    return bind_to_port(host, port);
}

void GuardedHttpServer::closeAll()
{
    if (is_running())
        stop();
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (Connection* connection : m_connections)
        connection->socket.shutdown();
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock)
{
    Connection connection(sock);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.insert(&connection);
    }
    t_connection = &connection;
    // The library keeps this entry private; this file alone is built without access checks.
    const bool result = httplib::Server::process_and_close_socket(sock);
    t_connection = nullptr;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.erase(&connection);
    }
    return result;
}

bool GuardedHttpServer::streamClientTakes() const
{
    auto* connection = static_cast<Connection*>(t_connection);
    if (!connection)
        return true;
    if (!connection->streaming) {
        connection->streaming = true;
        connection->socket.boundSending(m_limits.streamSendBuffer, m_limits.stream);
    }
    return connection->socket.waitForRoom(m_limits.stream);
}

void GuardedHttpServer::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_ending; })) {
        const int64_t now = nowMs();
        for (Connection* connection : m_connections) {
            const int64_t since = connection->waitingSince;
            // Shutting the socket down wakes the thread blocked on it; the library then closes it.
            if (since != 0 && now - since > m_limits.request.count())
                connection->socket.shutdown();
        }
    }
}
