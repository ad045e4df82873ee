#pragma once
// The chat window's icon in the panel's notification area: the status icon (connected or
// not), its tip, its menu, the little animation when the product's name is typed, and the
// blinking while the window asks for attention (many desktops have no task-bar button to
// flash). A left click or double click chooses "&Chat!"; the right button opens the menu.
// Where the panel shows StatusNotifierItems, the icon is one of those, and instead of
// blinking it says that it needs attention until the flashing ends.
//
// Use (the chat window owns one):
//   CTrayIcon tray(identity, clock, random);
//   connect(&tray, &CTrayIcon::CommandChosen, window, &Window::OnCommand);   // kChat, kExit...
//   tray.SetStatus(connected);                  // whenever the connection changes
//   tray.SetAttention(on);                      // INotifierHost::Flash, one phase
//   tray.EndAttention();                        // the flashing is over
//   connect(&keyWatcher, &CX11KeyWatcher::KeyPressed, &tray, &CTrayIcon::OnKeyPressed);
//   if (!tray.IsAvailable()) ... keep the window on the task bar (minimise, not hide)
#include "app/desktop/IconAnimation.h"
#include "app/desktop/KeySequenceMatcher.h"
#include "platform/Identity.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

class IClock;
class IRandom;
class QMenu;
class QSystemTrayIcon;
class CStatusNotifierItem;

class CTrayIcon : public QObject
{
    Q_OBJECT
public:
    // The menu's commands, as the window's other controls send them.
    enum Command : int
    {
        kChat = 123,
        kOptions = 1038,
        kEmailSupport = 32773,
        kHelpContents = 32774,
        kHomePage = 32775,
        kAbout = 57664,
        kExit = 57665,
    };
    static constexpr const char* kTip = "Zib Tam Freeware";

    CTrayIcon(const InstanceIdentity& identity, const IClock& clock, IRandom& random,
              QObject* parent = nullptr);
    ~CTrayIcon() override;

    // A panel is there to hold the icon.
    bool IsAvailable() const;

    void SetStatus(bool connected);
    // Shows the icon with this resource id until the next change.
    void SetIcon(int id);
    void AppendAnimation(const std::vector<int>& frames);
    bool IsAnimating() const { return m_animation.IsRunning(); }
    // One phase of the window's flashing: on shows the attention icon (an item with a
    // status needs attention from the first phase on, and the phases leave its icon alone).
    void SetAttention(bool on);
    // The flashing ended: the status icon again, and no more need for attention.
    void EndAttention();

    int ShownIcon() const { return m_attention ? -1 : m_iconId; }
    // The icon in an XEmbed notification area; null where the icon is a StatusNotifierItem.
    QSystemTrayIcon* SystemTrayIcon() const { return m_tray.get(); }
    CStatusNotifierItem* StatusNotifierItem() const { return m_item.get(); }
    QMenu* Menu() const { return m_menu.get(); }

public slots:
    // A key pressed anywhere on the desktop (the key watcher's virtual-key code).
    void OnKeyPressed(int virtualKey);

signals:
    void CommandChosen(int command);

private:
    void Show();
    void Animate();

    const InstanceIdentity& m_identity;
    IRandom& m_random;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<CStatusNotifierItem> m_item;
    CIconAnimation m_animation;
    CKeySequenceMatcher m_matcher;
    QTimer m_animationTimer;
    bool m_connected = false;
    int m_iconId = 0;
    bool m_attention = false;
};
