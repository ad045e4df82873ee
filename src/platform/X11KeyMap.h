#pragma once
// What the X server's keyboard tables say: the keycode of a key symbol, the key symbol of a
// keycode, and which modifier bit carries NumLock, Super and Alt. Shared by the hot keys
// and the key watcher; read once, on Qt's own connection.
#include <cstdint>
#include <vector>

struct xcb_connection_t;

class CX11KeyMap
{
public:
    explicit CX11KeyMap(xcb_connection_t* connection);

    // 0 when no key produces the symbol.
    uint8_t KeyCode(uint32_t keySym) const;
    // The symbol of the key's first level (lower-case letters for letter keys), or 0.
    uint32_t KeySym(uint8_t keyCode) const;
    // The modifier mask that holds a key producing `keySym` (0 when none does).
    uint16_t ModifierOf(uint32_t keySym) const;
    // Every keycode that holds one of the 8 modifier masks.
    std::vector<uint8_t> ModifierKeyCodes() const;

private:
    uint8_t m_minKeyCode = 8;
    int m_perKeyCode = 0;
    std::vector<uint32_t> m_keySyms;
    std::vector<std::vector<uint8_t>> m_modifierKeys; // the keycodes of each of the 8 masks
};

// The Qt application's X connection, or null when it does not run on X11.
xcb_connection_t* QtX11Connection();
uint32_t QtX11Root();
