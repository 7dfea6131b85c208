#pragma once

#include "remote/accesskeyattempts.h"

#include <QString>

#include <condition_variable>
#include <mutex>

namespace httplib
{
struct Request;
}

// Who may use the HTTP server: the key given as "key" or as a bearer token, against the setting,
// with a client that keeps guessing slowed down on its own request thread. Any thread.
class AccessGate
{
public:
    AccessGate();

    void setKey(const QString& key);
    // Success, or why the request may not be served. A guessing client's thread waits here, until
    // its delay is over or the gate is stopped.
    QString admit(const httplib::Request& request);
    void stop();
    void start();

private:
    std::mutex m_mutex; // guards everything below
    std::condition_variable m_stopped;
    QString m_key;
    AccessKeyAttempts m_attempts;
    bool m_stopping = false;
};
