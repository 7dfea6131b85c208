#include "remote/portablesocket.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace
{

#ifdef _WIN32
const socket_t noSocket = INVALID_SOCKET;
#else
const socket_t noSocket = -1;
#endif

template <typename T> void setOption(socket_t sock, int name, const T& value)
{
    // Windows takes the value as const char*, POSIX as const void*.
    ::setsockopt(sock, SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

void PortableSocket::makeExclusive(socket_t listener)
{
#ifdef _WIN32
    setOption(listener, SO_EXCLUSIVEADDRUSE, int(1));
#else
    // Not SO_REUSEPORT, which lets two servers share the port; this only allows a quick restart.
    setOption(listener, SO_REUSEADDR, int(1));
#endif
}

PortableSocket::PortableSocket(socket_t connection)
{
#ifdef _WIN32
    WSAPROTOCOL_INFOW info {};
    m_socket = WSADuplicateSocketW(connection, GetCurrentProcessId(), &info) == 0
        ? WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, WSA_FLAG_OVERLAPPED)
        : INVALID_SOCKET;
#else
    m_socket = ::dup(connection);
#endif
}

PortableSocket::~PortableSocket()
{
    if (m_socket == noSocket)
        return;
#ifdef _WIN32
    ::closesocket(m_socket);
#else
    ::close(m_socket);
#endif
}

void PortableSocket::shutdown()
{
    if (m_socket == noSocket)
        return;
#ifdef _WIN32
    ::shutdown(m_socket, SD_BOTH);
#else
    ::shutdown(m_socket, SHUT_RDWR);
#endif
}

void PortableSocket::boundSending(int bytes, std::chrono::milliseconds deadline)
{
    if (m_socket == noSocket)
        return;
    setOption(m_socket, SO_SNDBUF, bytes);
#ifdef _WIN32
    setOption(m_socket, SO_SNDTIMEO, DWORD(deadline.count()));
#else
    const timeval tv { time_t(deadline.count() / 1000), suseconds_t(deadline.count() % 1000 * 1000) };
    setOption(m_socket, SO_SNDTIMEO, tv);
#endif
}

bool PortableSocket::waitForRoom(std::chrono::milliseconds wait)
{
    if (m_socket == noSocket)
        return false;
#ifdef _WIN32
    // On Windows a set holds handles, not bits, so any socket fits.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(m_socket, &writable);
    timeval tv { long(wait.count() / 1000), long(wait.count() % 1000 * 1000) };
    return ::select(0, nullptr, &writable, nullptr, &tv) > 0;
#else
    pollfd fd { m_socket, POLLOUT, 0 };
    return ::poll(&fd, 1, int(wait.count())) > 0;
#endif
}
