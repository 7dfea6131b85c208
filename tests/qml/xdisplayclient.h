#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>

struct xcb_connection_t;

// Talks to the X display the way a window manager or a user would, so a test can drive another
// process's window: find it by title, move and resize it, ask it to close.
class XDisplayClient
{
public:
    XDisplayClient();
    ~XDisplayClient();
    XDisplayClient(const XDisplayClient&) = delete;
    XDisplayClient& operator=(const XDisplayClient&) = delete;

    bool isConnected() const { return m_connection != nullptr; }

    // The first mapped top-level window whose title starts with `prefix`, or 0.
    uint32_t findWindow(const QString& prefix, QString* title = nullptr) const;
    bool isMapped(uint32_t window) const;
    QRect geometry(uint32_t window) const;
    void setGeometry(uint32_t window, const QRect& rect) const;
    // Pointer events at a point of the window, delivered to the window's own client.
    void moveTo(uint32_t window, const QPoint& at) const;
    void click(uint32_t window, const QPoint& at) const;
    // Sends WM_DELETE_WINDOW, as a window manager's close button does.
    void requestClose(uint32_t window) const;

private:
    void sendPointerEvent(uint32_t window, uint8_t type, const QPoint& at) const;
    uint32_t atom(const char* name) const;
    QString windowTitle(uint32_t window) const;

    xcb_connection_t* m_connection = nullptr;
    uint32_t m_root = 0;
};
