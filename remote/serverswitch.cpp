#include "remote/serverswitch.h"

ServerSwitch::ServerSwitch(bool enabled, ushort port, Listener listener, QObject* parent)
    : QObject(parent)
    , m_listener(std::move(listener))
    , m_enabled(enabled)
    , m_port(port)
{
    if (m_enabled)
        m_listener.listen(m_port);
}

void ServerSwitch::setPort(ushort port)
{
    m_port = port;
    if (m_enabled)
        m_listener.listen(m_port);
}

void ServerSwitch::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled && !m_listener.isListening())
        m_listener.listen(m_port);
    else if (!enabled && m_listener.isListening())
        m_listener.close();
}
