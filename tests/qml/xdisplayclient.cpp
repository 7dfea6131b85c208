#include "tests/qml/xdisplayclient.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

XDisplayClient::XDisplayClient()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = it.data->root;
}

XDisplayClient::~XDisplayClient()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

uint32_t XDisplayClient::atom(const char* name) const
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const uint32_t result = reply ? reply->atom : uint32_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

QString XDisplayClient::windowTitle(uint32_t window) const
{
    const uint32_t utf8 = atom("UTF8_STRING");
    for (uint32_t property : { atom("_NET_WM_NAME"), uint32_t(XCB_ATOM_WM_NAME) }) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(m_connection,
            xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
        if (!reply)
            continue;
        const int length = xcb_get_property_value_length(reply);
        QString title;
        if (length > 0 && (reply->type == utf8 || reply->type == XCB_ATOM_STRING))
            title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)), length);
        std::free(reply);
        if (!title.isEmpty())
            return title;
    }
    return {};
}

uint32_t XDisplayClient::findWindow(const QString& prefix, QString* title) const
{
    if (!m_connection)
        return 0;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
    if (!tree)
        return 0;
    uint32_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        const QString name = windowTitle(children[i]);
        if (name.startsWith(prefix) && isMapped(children[i])) {
            found = children[i];
            if (title)
                *title = name;
        }
    }
    std::free(tree);
    return found;
}

bool XDisplayClient::isMapped(uint32_t window) const
{
    xcb_get_window_attributes_reply_t* reply
        = xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
    const bool mapped = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return mapped;
}

QRect XDisplayClient::geometry(uint32_t window) const
{
    xcb_get_geometry_reply_t* reply
        = xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
    QRect rect;
    if (reply)
        rect = QRect(reply->x, reply->y, reply->width, reply->height);
    std::free(reply);
    return rect;
}

void XDisplayClient::setGeometry(uint32_t window, const QRect& rect) const
{
    const uint32_t values[]
        = { uint32_t(rect.x()), uint32_t(rect.y()), uint32_t(rect.width()), uint32_t(rect.height()) };
    xcb_configure_window(m_connection, window,
        XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(m_connection);
}

void XDisplayClient::requestClose(uint32_t window) const
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(m_connection);
}

void XDisplayClient::sendPointerEvent(uint32_t window, uint8_t type, const QPoint& at) const
{
    const QRect frame = geometry(window);
    xcb_button_press_event_t event; // motion and release events share this layout
    std::memset(&event, 0, sizeof event);
    event.response_type = type;
    event.detail = type == XCB_MOTION_NOTIFY ? 0 : 1;
    event.time = XCB_CURRENT_TIME;
    event.root = m_root;
    event.event = window;
    event.child = XCB_NONE;
    event.root_x = int16_t(frame.x() + at.x());
    event.root_y = int16_t(frame.y() + at.y());
    event.event_x = int16_t(at.x());
    event.event_y = int16_t(at.y());
    event.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
    event.same_screen = 1;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

void XDisplayClient::moveTo(uint32_t window, const QPoint& at) const
{
    sendPointerEvent(window, XCB_MOTION_NOTIFY, at);
    xcb_flush(m_connection);
}

void XDisplayClient::click(uint32_t window, const QPoint& at) const
{
    for (uint8_t type : { uint8_t(XCB_MOTION_NOTIFY), uint8_t(XCB_BUTTON_PRESS), uint8_t(XCB_BUTTON_RELEASE) })
        sendPointerEvent(window, type, at);
    xcb_flush(m_connection);
}
