#pragma once
// Global hot keys on an X11 desktop: each key is grabbed on the root window (four times,
// with and without NumLock and CapsLock, so the locks do not matter), and its presses are
// picked out of Qt's event stream by a native event filter. A key another program holds
// comes back as HotKeyResult::Taken; without X11 (Wayland) every key is Unavailable.
//
// Use (after the QApplication exists):
//   CX11HotKeys hotKeys;
//   HotKeyResult r = hotKeys.Register({atom, kHotKeySuper, 'g'});
//   QObject::connect(&hotKeys, &CX11HotKeys::Pressed, window, [](uint32_t id) { ... });
// The destructor lets go of every key; Unregister(id) of one.
#include "app/HotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
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

signals:
    void Pressed(uint32_t id);

private:
    struct Grab
    {
        uint32_t Id;
        uint8_t KeyCode;
        uint16_t Modifiers; // X modifier mask without the locks
    };
    void Ungrab(const Grab& grab);
    std::vector<uint16_t> LockCombinations() const;

    xcb_connection_t* m_connection = nullptr;
    uint32_t m_root = 0;
    uint16_t m_numLock = 0;
    uint16_t m_super = 0;
    uint16_t m_alt = 0;
    std::vector<Grab> m_grabs;
};
