#pragma once

// The vendor's header uses NULL without defining it.
#include <cstddef>

#include <Processing.NDI.Lib.h>

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <map>
#include <thread>

// A source as the finder listed it, with its own copy of the texts: the finder's list is replaced on
// every discovery pass, so pointers into it would not outlive the lock.
struct NDISourceDescription {
    QByteArray name;
    QByteArray urlAddress; // empty: the finder gave no address
    bool hasUrlAddress = false;

    // Valid while this description lives.
    NDIlib_source_t source() const
    {
        NDIlib_source_t s;
        s.p_ndi_name = name.constData();
        s.p_url_address = hasUrlAddress ? urlAddress.constData() : nullptr;
        return s;
    }
};

// Finds the NDI sources on the network: one discovery thread for the whole process announces each
// newly seen name once and logs names that have gone.
class NDIFind : public QObject
{
    Q_OBJECT
public:
    // The single instance, made on first call; main thread only.
    static NDIFind* instance();
    ~NDIFind() override;

    // Why the NDI runtime cannot be used and how to get it; empty when it started.
    QString runtimeProblem() const { return m_runtimeProblem; }
    // Last URL address seen for the name; empty for a name never seen.
    QString urlAddress(const QString& name);
    // The finder's list now, keyed by name (a name listed twice keeps the later description).
    std::map<QString, NDISourceDescription> currentSources();

Q_SIGNALS:
    // Emitted on the main thread, from its event loop, once per new name in discovery order.
    void sourceAdded(QString source);

private:
    NDIFind();
    void run();

    struct Record {
        QString name;
        QString urlAddress;
    };

    QString m_runtimeProblem; // set before the discovery thread starts, then read-only
    std::atomic<bool> m_stop { false }; // set by the destructor, read by the discovery thread
    QMutex m_mutex; // guards m_sources and every use of the finder's source list
    NDIlib_find_instance_t m_finder = nullptr; // wait: discovery thread only; list: under m_mutex
    std::map<QString, Record> m_sources; // m_mutex; every name seen since start
    std::thread m_thread; // owned; joined by the destructor
};
