#pragma once

#include "remote/portablesocket.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

// The HTTP library's server with limits no client can get round: a connection must deliver each
// request whole within a few seconds, an event stream whose client takes nothing is ended, and a
// stop closes every connection at once instead of waiting for clients.
class GuardedHttpServer : public httplib::Server
{
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::chrono::milliseconds request { 3000 }; // from connecting, or the last answer, to a whole request
        std::chrono::milliseconds stream { 4000 }; // a stream whose client takes nothing
        int streamSendBuffer = 4096; // bytes: a client that takes nothing soon leaves none free
    };

    GuardedHttpServer();
    ~GuardedHttpServer() override;
    GuardedHttpServer(const GuardedHttpServer&) = delete;
    GuardedHttpServer& operator=(const GuardedHttpServer&) = delete;

    // Binds without sharing the port: a second listener on it fails.
    bool bindExclusive(const char* host, int port);
    // Ends the accept loop and every open connection, without waiting for any client.
    void closeAll();
    // From within a content provider: whether the stream's client still takes what is sent. Waits
    // up to the stream limit for room in the stream's bounded send buffer; none means it is gone.
    bool streamClientTakes() const;

protected:
    bool process_and_close_socket(socket_t sock) override;

private:
    struct Connection {
        explicit Connection(socket_t sock)
            : socket(sock)
        {
        }
        PortableSocket socket;
        std::atomic<int64_t> waitingSince { nowMs() }; // ms on Clock; 0 while a request is being answered
        bool streaming = false; // on the connection's own thread only
    };

    static int64_t nowMs();
    void watch();

    const Limits m_limits;
    std::mutex m_mutex; // guards m_connections and m_ending
    std::condition_variable m_wake;
    std::set<Connection*> m_connections;
    bool m_ending = false;
    std::thread m_watchdog;
};
