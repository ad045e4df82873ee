#pragma once
// Key presses anywhere on the desktop, as the product-name animation needs them: XInput2
// raw key events selected on the root window, read by a native event filter, turned into
// the virtual-key codes the key-sequence matcher knows (letters 'A'-'Z', digits, the space
// bar 0x20; Shift is left out; anything else is kOtherKey, which breaks a sequence).
//
// Use:
//   CX11KeyWatcher watcher;           // Start() false: no X11 or no XInput2 here
//   watcher.Start();
//   QObject::connect(&watcher, &CX11KeyWatcher::KeyPressed, &tray, &CTrayIcon::OnKeyPressed);
#include "platform/X11KeyMap.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <memory>

class CX11KeyWatcher : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    static constexpr int kOtherKey = 0xFF;

    explicit CX11KeyWatcher(QObject* parent = nullptr);
    ~CX11KeyWatcher() override;

    bool Start();
    void Stop();
    bool IsRunning() const { return m_running; }

    // The virtual-key code of an X key symbol (0 for Shift, which is never fed).
    static int VirtualKey(uint32_t keySym);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void KeyPressed(int virtualKey);

private:
    bool Select(bool on);

    xcb_connection_t* m_connection = nullptr;
    std::unique_ptr<CX11KeyMap> m_keyboard;
    uint8_t m_opcode = 0;
    bool m_running = false;
};
