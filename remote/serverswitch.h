#pragma once

#include <QObject>

#include <functional>

// When a control server listens, the same for both: on its port while it is enabled. A port or
// address change moves a running server and must not open one the user switched off.
class ServerSwitch : public QObject
{
    Q_OBJECT

public:
    struct Listener {
        std::function<void(ushort port)> listen; // replaces a running listener
        std::function<void()> close;
        std::function<bool()> isListening;
    };
    ServerSwitch(bool enabled, ushort port, Listener listener, QObject* parent);

    void setPort(ushort port);
    void setEnabled(bool enabled);
    // Another address is bound as another port would be.
    void rebind() { setPort(m_port); }

private:
    Listener m_listener;
    bool m_enabled;
    ushort m_port;
};
