#pragma once
// The chat window's side of the notifications (INotifierHost) on Qt Widgets: flashing is
// the urgency hint (QApplication::alert) together with the tray icon's blinking, on a
// window shown minimised for it unless that would put it in front of the user's work; the
// pop-up raises the window or its open dialog and brings a window that lies almost off
// the screen back to the middle; sounds go to CSoundPlayer; the password-box question goes
// to IPasswordFocus (the accessibility bus) where the desktop can answer it.
//
// Use (CChatDlg):
//   CWidgetNotifierHost host(*this, &tray, sounds, &passwordFocus,
//                            {.FocusInputBox = [this] { m_input->setFocus(); },
//                             .SelectDefaultRecipients = [this] { m_users->SelectDefault(); },
//                             .RememberedMaximized = [this] { return m_rememberMaximized; }});
//   CChatNotifier notifier(options, clock, timers, host);
#include "app/desktop/ChatNotifier.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class CSoundPlayer;
class CTrayIcon;

// Whether the keyboard focus of the program in front is in a password box.
class IPasswordFocus
{
public:
    virtual ~IPasswordFocus() = default;
    virtual bool IsPasswordBoxFocused() const = 0;
};

// Qt writes the initial state into WM_HINTS only when its own idea of the state changes, so
// a window shown minimised and then restored by the window manager keeps "iconic" there, and
// is mapped iconic, out of sight, when shown again. This sets it to normal; for a hidden
// window on X11 only.
void MarkInitialStateNormal(QWidget& window);
// Sets a top-level widget's state on the widget and on its native window alike.
void SetWindowStates(QWidget& window, Qt::WindowStates states);
// Whether a window shown minimised stays out of sight. Tiling window managers (no minimise
// among the actions their X11 side supports) map it like any other, in front and focused;
// on Wayland a client cannot tell, and the request to minimise only follows the mapping.
// A window manager without the desktop hints minimises (iconifies) as X11 always did.
bool DesktopCanMinimize();

class CWidgetNotifierHost : public INotifierHost
{
public:
    struct Hooks
    {
        std::function<void()> FocusInputBox;
        std::function<void()> SelectDefaultRecipients;
        // The window was maximised when it was last hidden.
        std::function<bool()> RememberedMaximized;
        // The desktop shows the alert another way (its notifications), so a desktop that
        // cannot minimise need not map the window to flash it. Unset: it does not.
        std::function<bool()> AlertsElsewhere;
        // DesktopCanMinimize when unset; tests put their own in.
        std::function<bool()> CanMinimize;
    };

    CWidgetNotifierHost(QWidget& window, CTrayIcon* tray, CSoundPlayer& sounds,
                        const IPasswordFocus* passwordFocus, Hooks hooks);

    bool IsUserLooking() const override;
    bool IsChatWindowForeground() const override;
    bool IsPasswordBoxFocused() const override;
    bool IsDialogOpen() const override;
    bool IsWindowHidden() const override;
    void ShowMinimizedWithoutActivation() override;
    void Flash(bool on) override;
    void PopUp() override;
    void SelectDefaultRecipients() override;
    bool PlaySoundFile(const std::string& path, bool repeat) override;
    void PlaySystemSound(bool repeat) override;
    void StopSound() override;

    // The window's open dialog, or the window itself: what the user is to see.
    QWidget* LastActivePopup() const;

private:
    QWidget& m_window;
    QPointer<CTrayIcon> m_tray;
    CSoundPlayer& m_sounds;
    const IPasswordFocus* m_passwordFocus;
    Hooks m_hooks;
};
