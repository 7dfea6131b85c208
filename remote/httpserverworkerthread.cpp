#include "remote/httpserverworkerthread.h"

#include "app/threadhandover.h"
#include "remote/httproutes.h"
#include "remote/requestthreads.h"

namespace
{

// A thread for every connection in hand: slow clients hold theirs only for the request time-out,
// and each open stream one for its life.
constexpr size_t requestThreads = 96;
constexpr size_t maxRequestBody = 64 * 1024;

} // namespace

HttpServerWorkerThread::HttpServerWorkerThread(HttpRoutes& routes)
    : m_routes(routes)
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

    m_routes.install(m_http);
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

void HttpServerWorkerThread::requestStop()
{
    m_stopping = true;
    // Request threads waiting for the main thread let go first: the main thread may join them next.
    m_routes.stop();
    stopListener();
}

void HttpServerWorkerThread::clearStopping()
{
    m_stopping = false;
    m_routes.start();
}

void HttpServerWorkerThread::stopListener()
{
    // Connections are closed as well: a stop never waits for a client.
    m_http.closeAll();
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
