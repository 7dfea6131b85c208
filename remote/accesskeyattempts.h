#pragma once

#include <QHash>
#include <QString>

#include <deque>
#include <functional>

// Wrong access keys per client address: which failures are logged (at most one line a second per
// address, saying how many went unlogged) and when a client that keeps guessing is answered
// late. Not thread-safe; each server keeps its own. Times are ms of a monotonic clock.
class AccessKeyAttempts
{
public:
    static constexpr int failuresBeforeDelay = 10;
    static constexpr qint64 failureWindowMs = 60000;
    static constexpr qint64 logIntervalMs = 1000;
    static constexpr int answerDelayMs = 1000;

    explicit AccessKeyAttempts(std::function<qint64()> clock);

    struct Verdict {
        bool log = false;
        int unlogged = 0; // failures from the address since its last line, when log
        int delayMs = 0; // how long to hold the answer back
    };
    // A client at `address` gave a key; `wrong` when it was refused.
    Verdict attempt(const QString& address, bool wrong);
    static QString logLine(const QString& server, const QString& address, const Verdict& verdict);

private:
    struct Client {
        std::deque<qint64> failures; // within the window, oldest first
        qint64 loggedAt = 0;
        bool logged = false;
        int unlogged = 0;
    };
    void forgetOld(qint64 now);

    std::function<qint64()> m_clock;
    QHash<QString, Client> m_clients;
};
