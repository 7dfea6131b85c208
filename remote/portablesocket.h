#pragma once

#include <httplib.h>

#include <chrono>

// The few socket calls that differ between Linux and Windows, for the guarded HTTP server. An
// object is a handle of our own to a connection's socket: the library closes its handle before
// the guard forgets the connection, and that number may meanwhile name another socket.
class PortableSocket
{
public:
    // The options for a listening socket that no second listener may share.
    static void makeExclusive(socket_t listener);

    explicit PortableSocket(socket_t connection);
    ~PortableSocket();
    PortableSocket(const PortableSocket&) = delete;
    PortableSocket& operator=(const PortableSocket&) = delete;

    // Ends both directions: a thread blocked on the socket wakes, and the library then closes it.
    void shutdown();
    // A small send buffer, so that a client that takes nothing soon leaves it without room, and a
    // deadline after which a write that finds no room fails instead of blocking.
    void boundSending(int bytes, std::chrono::milliseconds deadline);
    // Waits up to the time given for room to write; false if none came.
    bool waitForRoom(std::chrono::milliseconds wait);

private:
    socket_t m_socket;
};
