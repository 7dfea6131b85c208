#pragma once

#include "simsource.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ndisim
{

struct Snapshot {
    std::vector<std::shared_ptr<Source>> sources; // in the order of the sources file
    uint64_t generation = 0; // changes whenever the list of names and addresses changes
};

// The simulated network: the sources listed in the JSON file named by NDI_SIM_SOURCES, re-read when
// it changes, or a built-in demo network when the variable is not set.
class Network
{
public:
    static Network& instance();

    // The sources on the network now (thread-safe; the file is looked at every 100 ms at most).
    std::shared_ptr<const Snapshot> current();

    // Parsing, for the file and the demo network. Problems with single sources go to problems.
    static std::vector<SourceConfig> parse(const QByteArray& json, QString& error, QStringList& problems);
    static QByteArray demoJson();

private:
    Network();
    void refresh();
    void apply(const std::vector<SourceConfig>& configs);

    std::mutex m_mutex;
    QString m_path; // empty: the demo network
    std::shared_ptr<const Snapshot> m_snapshot; // m_mutex
    std::chrono::steady_clock::time_point m_lastCheck; // m_mutex
    bool m_checked = false; // m_mutex
    QByteArray m_content; // m_mutex; the file content the snapshot was made from
    QByteArray m_pendingBad; // m_mutex; unusable content seen once, applied when seen again
    QString m_lastProblem; // m_mutex; reported once
    std::vector<std::pair<std::string, std::shared_ptr<Source>>> m_sourcesByKey; // m_mutex
};

} // namespace ndisim
