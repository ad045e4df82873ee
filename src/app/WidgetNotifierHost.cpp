#include "app/WidgetNotifierHost.h"

#include "app/TrayIcon.h"
#include "platform/SoundPlayer.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>

namespace {

ScreenRect ToScreenRect(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

} // namespace

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
    if (m_tray)
        m_tray->SetAttention(on);
}

void CWidgetNotifierHost::PopUp()
{
    if (m_tray)
        m_tray->SetAttention(false);
    QWidget* popup = LastActivePopup();
    if (popup == &m_window) {
        bool maximized = m_hooks.RememberedMaximized && m_hooks.RememberedMaximized();
        if (maximized)
            m_window.showMaximized();
        else if (m_window.isMinimized() || !m_window.isVisible())
            m_window.showNormal();
    } else if (!m_window.isVisible() || m_window.isMinimized()) {
        m_window.showNormal();
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
