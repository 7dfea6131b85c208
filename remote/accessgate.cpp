#include "remote/accessgate.h"

#include "app/logger.h"
#include "remote/slotcommands.h"
#include "slots/commandresults.h"

#include <httplib.h>

#include <chrono>

AccessGate::AccessGate()
    : m_attempts([] {
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    })
{
}

void AccessGate::setKey(const QString& key)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_key = key;
}

QString AccessGate::admit(const httplib::Request& request)
{
    // The first occurrence counts.
    QString given = request.has_param("key") ? QString::fromStdString(request.get_param_value("key", 0)) : QString();
    if (given.isEmpty() && request.has_header("Authorization")) {
        given = QString::fromStdString(request.get_header_value("Authorization")).trimmed();
        if (given.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
            given = given.mid(7).trimmed();
    }
    const QString address = QString::fromStdString(request.remote_addr);
    QString result;
    AccessKeyAttempts::Verdict verdict;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        result = SlotCommands::checkAccessKey(m_key, given);
        // Only keys given count: the panel asks without one first.
        if (!given.isEmpty())
            verdict = m_attempts.attempt(address, result == CommandResult::accessKeyWrong);
    }
    if (verdict.log)
        Logger::write(AccessKeyAttempts::logLine(QStringLiteral("HTTP panel"), address, verdict));
    if (verdict.delayMs > 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopped.wait_for(lock, std::chrono::milliseconds(verdict.delayMs), [this] { return m_stopping; });
    }
    return result;
}

void AccessGate::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
}

void AccessGate::start()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = false;
}
