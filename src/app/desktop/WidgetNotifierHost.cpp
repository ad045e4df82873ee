#include "app/desktop/WidgetNotifierHost.h"

#include "app/desktop/TrayIcon.h"
#include "platform/SoundPlayer.h"
#include "platform/X11KeyMap.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace {

ScreenRect ToScreenRect(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

} // namespace

void MarkInitialStateNormal(QWidget& window)
{
    xcb_connection_t* connection = QtX11Connection();
    if (!connection || !window.testAttribute(Qt::WA_WState_Created) || window.isVisible())
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    // WM_HINTS: flags, input, initial state, icon pixmap, icon window, icon x and y, icon
    // mask, window group.
    constexpr uint32_t kFields = 9;
    constexpr uint32_t kStateHint = 1u << 1;
    constexpr uint32_t kNormalState = 1;
    std::array<uint32_t, kFields> hints{};
    xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kFields);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr)) {
        if (reply->format == 32) {
            const auto bytes =
                static_cast<size_t>(std::max(0, xcb_get_property_value_length(reply)));
            std::memcpy(hints.data(), xcb_get_property_value(reply), std::min(bytes, sizeof hints));
        }
        std::free(reply);
    }
    if ((hints[0] & kStateHint) && hints[2] == kNormalState)
        return;
    hints[0] |= kStateHint;
    hints[2] = kNormalState;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS,
                        32, kFields, hints.data());
    xcb_flush(connection);
}

bool DesktopCanMinimize()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    xcb_connection_t* connection = QtX11Connection();
    if (!connection)
        return true;
    auto atom = [&](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    };
    auto values = [&](const char* property) {
        std::vector<uint32_t> read;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, QtX11Root(), atom(property), XCB_ATOM_ANY, 0, 4096),
            nullptr);
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            read.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return read;
    };
    if (values("_NET_SUPPORTING_WM_CHECK").empty())
        return true;
    const std::vector<uint32_t> supported = values("_NET_SUPPORTED");
    return std::find(supported.begin(), supported.end(), atom("_NET_WM_ACTION_MINIMIZE")) !=
           supported.end();
}

void SetWindowStates(QWidget& window, Qt::WindowStates states)
{
    window.setWindowState(states);
    // The widget and its native window keep a state each, and a restore on the task bar can
    // leave them apart (the widget restored, the native window minimised); the widget then
    // sees no change to pass on, and the next show maps the window iconic.
    if (QWindow* handle = window.windowHandle())
        handle->setWindowStates(states & ~Qt::WindowActive);
}

CWidgetNotifierHost::CWidgetNotifierHost(QWidget& window, CTrayIcon* tray, CSoundPlayer& sounds,
                                         const IPasswordFocus* passwordFocus, Hooks hooks)
    : m_window(window), m_tray(tray), m_sounds(sounds), m_passwordFocus(passwordFocus),
      m_hooks(std::move(hooks))
{}

QWidget* CWidgetNotifierHost::LastActivePopup() const
{
    // A dialog of the window is a visible top-level widget whose parent chain reaches it.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == &m_window || !widget->isVisible() || !widget->isWindow())
            continue;
        if (!(widget->windowType() == Qt::Dialog || widget->isModal()))
            continue;
        for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget())
            if (parent == &m_window)
                return widget;
    }
    return &m_window;
}

bool CWidgetNotifierHost::IsUserLooking() const
{
    QWidget* active = QApplication::activeWindow();
    return active && active == LastActivePopup();
}

bool CWidgetNotifierHost::IsChatWindowForeground() const
{
    return QApplication::activeWindow() == &m_window;
}

bool CWidgetNotifierHost::IsPasswordBoxFocused() const
{
    return m_passwordFocus && m_passwordFocus->IsPasswordBoxFocused();
}

bool CWidgetNotifierHost::IsDialogOpen() const
{
    return LastActivePopup() != &m_window;
}

bool CWidgetNotifierHost::IsWindowHidden() const
{
    return !m_window.isVisible();
}

void CWidgetNotifierHost::ShowMinimizedWithoutActivation()
{
    // Where it would come up in front of the user's work, the window stays in the tray and
    // the desktop's notification and the tray's attention say that a message came.
    const bool canMinimize = m_hooks.CanMinimize ? m_hooks.CanMinimize() : DesktopCanMinimize();
    if (!canMinimize && m_hooks.AlertsElsewhere && m_hooks.AlertsElsewhere())
        return;
    bool was = m_window.testAttribute(Qt::WA_ShowWithoutActivating);
    m_window.setAttribute(Qt::WA_ShowWithoutActivating, true);
    m_window.showMinimized();
    m_window.setAttribute(Qt::WA_ShowWithoutActivating, was);
}

void CWidgetNotifierHost::Flash(bool on)
{
    // The urgency hint for one phase: it clears itself when the phase ends, so the task
    // bars that show it blink with us.
    if (on)
        QApplication::alert(&m_window, static_cast<int>(CChatNotifier::kFlashPeriodMs));
    if (!m_tray)
        return;
    // An off phase while nobody looks is a pause in the blinking; one while the user looks
    // ends it.
    if (on || !IsUserLooking())
        m_tray->SetAttention(on);
    else
        m_tray->EndAttention();
}

void CWidgetNotifierHost::PopUp()
{
    if (m_tray)
        m_tray->EndAttention();
    QWidget* popup = LastActivePopup();
    // Whatever happened before (shown minimised by a flash, restored from the task bar,
    // hidden), the window comes back restored, or maximised as it was: a state left
    // minimised would map it iconic, out of sight.
    bool maximized = m_hooks.RememberedMaximized && m_hooks.RememberedMaximized();
    Qt::WindowStates wanted = m_window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (maximized)
        wanted |= Qt::WindowMaximized;
    if (!m_window.isVisible()) {
        SetWindowStates(m_window, wanted);
        MarkInitialStateNormal(m_window);
        m_window.show();
    } else if (m_window.isMinimized() || m_window.windowState() != wanted) {
        SetWindowStates(m_window, wanted);
    }
    popup->raise();
    popup->activateWindow();

    QScreen* screen = popup->screen() ? popup->screen() : QGuiApplication::primaryScreen();
    if (screen && !popup->isMaximized()) {
        QRect frame = popup->frameGeometry();
        if (NeedsCentring(ToScreenRect(frame), ToScreenRect(screen->virtualGeometry()))) {
            QScreen* target = QGuiApplication::primaryScreen();
            ScreenRect centred =
                CentredIn(ToScreenRect(frame), ToScreenRect(target->availableGeometry()));
            popup->move(centred.X, centred.Y);
        }
    }
    if (popup == &m_window && m_hooks.FocusInputBox)
        m_hooks.FocusInputBox();
}

void CWidgetNotifierHost::SelectDefaultRecipients()
{
    if (m_hooks.SelectDefaultRecipients)
        m_hooks.SelectDefaultRecipients();
}

bool CWidgetNotifierHost::PlaySoundFile(const std::string& path, bool repeat)
{
    return m_sounds.PlayFile(path, repeat);
}

void CWidgetNotifierHost::PlaySystemSound(bool repeat)
{
    m_sounds.PlaySystemSound(repeat);
}

void CWidgetNotifierHost::StopSound()
{
    m_sounds.Stop();
}
