#pragma once
// Global hot keys on an X11 desktop: each key is grabbed on the root window (four times,
// with and without NumLock and CapsLock, so the locks do not matter), and its presses are
// picked out of Qt's event stream by a native event filter. A key another program holds
// comes back as HotKeyResult::Taken; without X11 (Wayland) every key is Unavailable.
//
// A press starts a grab of the whole keyboard that lasts until the key is let go, so keys
// sent to other programs while it is held come back to us. Released(id) follows a press
// once the key and every modifier are up again, the moment to type into another window
// (or once the key is up and the modifiers stay held kHoldLimitMs).
//
// Use (after the QApplication exists):
//   CX11HotKeys hotKeys;
//   HotKeyResult r = hotKeys.Register({atom, kHotKeySuper, 'g'});
//   QObject::connect(&hotKeys, &CX11HotKeys::Pressed, window, [](uint32_t id) { ... });
// The destructor lets go of every key; Unregister(id) of one.
#include "app/desktop/HotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

class CX11HotKeys : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit CX11HotKeys(QObject* parent = nullptr);
    ~CX11HotKeys() override;

    // This session is an X11 one.
    static bool IsAvailable();

    HotKeyResult Register(const HotKey& key);
    void Unregister(uint32_t id);
    void UnregisterAll();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // How long Released waits for the modifiers to come up once the key is up; after that
    // it comes with them held.
    static constexpr int kHoldLimitMs = 2000;

signals:
    void Pressed(uint32_t id);
    // After Pressed(id): the hot key is up, and the modifiers are up or held too long.
    void Released(uint32_t id);

private:
    struct Grab
    {
        uint32_t Id;
        uint8_t KeyCode;
        uint16_t Modifiers; // X modifier mask without the locks
    };
    void Ungrab(const Grab& grab);
    std::vector<uint16_t> LockCombinations() const;
    void WatchRelease(const Grab& grab);
    void CheckRelease();
    bool AnyKeyDown(const std::vector<uint8_t>& keyCodes) const;

    xcb_connection_t* m_connection = nullptr;
    uint32_t m_root = 0;
    uint16_t m_numLock = 0;
    uint16_t m_super = 0;
    uint16_t m_alt = 0;
    std::vector<Grab> m_grabs;

    // The pressed hot keys whose release is awaited, all together.
    std::vector<uint32_t> m_releaseIds;
    std::vector<uint8_t> m_pressedKeyCodes;
    std::vector<uint8_t> m_modifierKeyCodes;
    QTimer m_releasePoll;
    QElapsedTimer m_heldFor;
};
