#pragma once

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
    };

    GuardedHttpServer();
    ~GuardedHttpServer() override;
    GuardedHttpServer(const GuardedHttpServer&) = delete;
    GuardedHttpServer& operator=(const GuardedHttpServer&) = delete;

    // Binds without sharing the port: a second listener on it fails.
    bool bindExclusive(const char* host, int port);
    // Ends the accept loop and every open connection, without waiting for any client.
    void closeAll();
    // From within a content provider: whether the stream's client still takes what is sent.
    bool streamClientTakes() const;

protected:
    bool process_and_close_socket(socket_t sock) override;

private:
    struct Connection {
        socket_t sock;
        std::atomic<int64_t> waitingSince; // ms on Clock; 0 while a request is being answered
        // Stream progress, on the connection's own thread only.
        uint64_t unsent = 0; // bytes the client had not taken at the last look
        Clock::time_point ackedAt; // when it last took some
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
