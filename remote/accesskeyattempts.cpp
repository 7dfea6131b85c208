#include "remote/accesskeyattempts.h"

AccessKeyAttempts::AccessKeyAttempts(std::function<qint64()> clock)
    : m_clock(std::move(clock))
{
}

AccessKeyAttempts::Verdict AccessKeyAttempts::attempt(const QString& address, bool wrong)
{
    const qint64 now = m_clock();
    forgetOld(now);
    Verdict verdict;
    if (!wrong) {
        const auto it = m_clients.constFind(address);
        if (it != m_clients.cend() && int(it->failures.size()) >= failuresBeforeDelay)
            verdict.delayMs = answerDelayMs;
        return verdict;
    }
    Client& client = m_clients[address];
    client.failures.push_back(now);
    if (!client.logged || now - client.loggedAt >= logIntervalMs) {
        verdict.log = true;
        verdict.unlogged = client.unlogged;
        client.logged = true;
        client.loggedAt = now;
        client.unlogged = 0;
    } else {
        ++client.unlogged;
    }
    if (int(client.failures.size()) >= failuresBeforeDelay)
        verdict.delayMs = answerDelayMs;
    return verdict;
}

QString AccessKeyAttempts::logLine(const QString& server, const QString& address, const Verdict& verdict)
{
    QString line = QStringLiteral("%1: wrong access key from %2").arg(server, address);
    if (verdict.unlogged > 0)
        line += QStringLiteral(" (and %1 more since the last line)").arg(verdict.unlogged);
    if (verdict.delayMs > 0)
        line += QStringLiteral("; answered %1 s late").arg(verdict.delayMs / 1000.0);
    return line;
}

void AccessKeyAttempts::forgetOld(qint64 now)
{
    // Only what can still count is kept: a stream of new addresses cannot make this grow for ever.
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        while (!it->failures.empty() && now - it->failures.front() >= failureWindowMs)
            it->failures.pop_front();
        // Its unlogged failures would be said in its next line; a minute later they are old news.
        if (it->failures.empty())
            it = m_clients.erase(it);
        else
            ++it;
    }
}
