#include "ndi/ndifind.h"

#include "app/logger.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>

namespace
{
NDIFind* g_instance = nullptr; // main thread only
}

NDIFind* NDIFind::instance()
{
    if (!g_instance) {
        g_instance = new NDIFind();
        // The discovery thread must not outlive the application object: statics it uses go after it.
        qAddPostRoutine([] { delete g_instance; });
    }
    return g_instance;
}

NDIFind::NDIFind()
{
    if (NDIlib_initialize()) {
        Logger::write(QStringLiteral("NDI initialized"));
    } else {
        Logger::write(QStringLiteral("Unable to initialize NDI"));
        m_runtimeProblem = QStringLiteral("The NDI runtime is missing or cannot start: no sources can be found or "
                                          "recorded. Install the NDI Runtime (it comes with NDI Tools, from "
                                          "https://ndi.video/tools/) and start the recorder again.");
        Logger::write(m_runtimeProblem);
    }
    m_finder = NDIlib_find_create_v2(nullptr);
    m_thread = std::thread([this] { run(); });
}

NDIFind::~NDIFind()
{
    m_stop.exchange(true);
    if (m_thread.joinable())
        m_thread.join();
    if (m_finder)
        NDIlib_find_destroy(m_finder);
    if (g_instance == this)
        g_instance = nullptr;
}

void NDIFind::run()
{
    std::map<QString, QString> previous; // name to address, as the last pass saw them
    bool firstPass = true;
    while (!m_stop.load()) {
        // The runtime's change notice is spent by any caller of the list (currentSources() on the
        // main thread too), so it only wakes this loop early; the list itself says what changed.
        NDIlib_find_wait_for_sources(m_finder, 500);
        QMutexLocker lock(&m_mutex);
        uint32_t count = 0;
        const NDIlib_source_t* sources = NDIlib_find_get_current_sources(m_finder, &count);
        std::map<QString, QString> present;
        for (uint32_t i = 0; sources && i < count; ++i)
            present[QString::fromUtf8(sources[i].p_ndi_name ? sources[i].p_ndi_name : "")]
                = sources[i].p_url_address ? QString::fromUtf8(sources[i].p_url_address) : QString();
        if (present == previous && !firstPass)
            continue;
        firstPass = false;
        previous = present;
        for (uint32_t i = 0; sources && i < count; ++i) {
            const QString name = QString::fromUtf8(sources[i].p_ndi_name ? sources[i].p_ndi_name : "");
            if (m_sources.find(name) == m_sources.end()) {
                // Announced through the main thread's event loop: a pass that runs before start-up
                // has connected sourceAdded would otherwise lose the name for good.
                QMetaObject::invokeMethod(
                    this, [this, name] { Q_EMIT sourceAdded(name); }, Qt::QueuedConnection);
                Logger::write(QStringLiteral("Source added: ") + name);
            }
            m_sources[name] = Record { name, present[name] };
        }
        for (const auto& entry : m_sources) {
            if (present.find(entry.first) == present.end())
                Logger::write(QStringLiteral("Source removed: ") + entry.first);
        }
    }
}

QString NDIFind::urlAddress(const QString& name)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_sources.find(name);
    return it == m_sources.end() ? QString() : it->second.urlAddress;
}

std::map<QString, NDISourceDescription> NDIFind::currentSources()
{
    std::map<QString, NDISourceDescription> result;
    QMutexLocker lock(&m_mutex);
    uint32_t count = 0;
    const NDIlib_source_t* sources = NDIlib_find_get_current_sources(m_finder, &count);
    for (uint32_t i = 0; sources && i < count; ++i) {
        NDISourceDescription description;
        description.name = QByteArray(sources[i].p_ndi_name ? sources[i].p_ndi_name : "");
        description.hasUrlAddress = sources[i].p_url_address != nullptr;
        description.urlAddress = QByteArray(sources[i].p_url_address ? sources[i].p_url_address : "");
        result[QString::fromUtf8(description.name)] = description;
    }
    return result;
}
