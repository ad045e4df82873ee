#include "platform/X11KeyWatcher.h"

#include <QCoreApplication>
#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

CX11KeyWatcher::CX11KeyWatcher(QObject* parent) : QObject(parent) {}

CX11KeyWatcher::~CX11KeyWatcher()
{
    Stop();
}

int CX11KeyWatcher::VirtualKey(uint32_t keySym)
{
    if (keySym >= 'a' && keySym <= 'z')
        return static_cast<int>(keySym - 'a' + 'A');
    if ((keySym >= 'A' && keySym <= 'Z') || (keySym >= '0' && keySym <= '9') || keySym == ' ')
        return static_cast<int>(keySym);
    if (keySym == 0xffe1 || keySym == 0xffe2) // Shift_L, Shift_R
        return 0;
    return kOtherKey;
}

bool CX11KeyWatcher::Select(bool on)
{
    struct
    {
        xcb_input_event_mask_t Head;
        uint32_t Mask;
    } mask;
    mask.Head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.Head.mask_len = 1;
    mask.Mask = on ? XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS : 0;
    xcb_void_cookie_t cookie =
        xcb_input_xi_select_events_checked(m_connection, QtX11Root(), 1, &mask.Head);
    xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
    std::free(error);
    return error == nullptr;
}

bool CX11KeyWatcher::Start()
{
    if (m_running)
        return true;
    m_connection = QtX11Connection();
    if (!m_connection)
        return false;
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(m_connection, &xcb_input_id);
    if (!xi || !xi->present)
        return false;
    m_opcode = xi->major_opcode;
    // Qt has already agreed on an XInput2 version on this connection; raw events are 2.0.
    if (!Select(true))
        return false;
    m_keyboard = std::make_unique<CX11KeyMap>(m_connection);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_running = true;
    return true;
}

void CX11KeyWatcher::Stop()
{
    if (!m_running)
        return;
    Select(false);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_running = false;
}

bool CX11KeyWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return false;
    auto* generic = static_cast<xcb_ge_generic_event_t*>(message);
    if (generic->extension != m_opcode || generic->event_type != XCB_INPUT_RAW_KEY_PRESS)
        return false;
    // The key code sits before the part of the event that Qt may shift about.
    auto* raw = static_cast<xcb_input_raw_key_press_event_t*>(message);
    int virtualKey = VirtualKey(m_keyboard->KeySym(static_cast<uint8_t>(raw->detail)));
    if (virtualKey != 0)
        emit KeyPressed(virtualKey);
    return false;
}
