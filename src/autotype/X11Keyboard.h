#pragma once
// The keyboard layout and key injection of an X11 desktop (XTest). It keeps a display
// connection of its own, so it works beside whatever toolkit the program runs.
//
// A character the layout has no key for (an "é" on a US layout) is given a key for the
// time being: a keycode that no key uses gets its symbol. Programs read the changed table
// when their events reach them, so RestoreKeyboardMapping (or the destructor) puts the
// table back only once they had time to, a second or so after typing.
#include "autotype/AutoTyper.h"

#include <string>
#include <utility>
#include <vector>

struct _XDisplay;

class CX11Keyboard : public IKeyboardLayout, public IKeyInjector
{
public:
    // `displayName` empty: $DISPLAY.
    explicit CX11Keyboard(const std::string& displayName = std::string());
    ~CX11Keyboard() override;
    CX11Keyboard(const CX11Keyboard&) = delete;
    CX11Keyboard& operator=(const CX11Keyboard&) = delete;

    bool IsAvailable() const override { return m_display && m_hasXTest; }
    KeyLookup LookupCharacter(unsigned char character) override;
    bool Inject(std::span<const KeyInput> events) override;

    // Gives the keycodes lent to characters without a key back to no symbol.
    void RestoreKeyboardMapping();
    bool HasTemporaryKeys() const { return !m_temporary.empty(); }

    // Keys of the layout are numbered above the modifiers' virtual keys.
    static constexpr uint16_t kKeycodeBase = 0x100;

private:
    bool SendKey(unsigned keycode, bool down);
    bool SendModifier(uint16_t virtualKey, bool down);
    unsigned TemporaryKeyCode(unsigned long keysym);
    void ReadMappingChanges();

    _XDisplay* m_display = nullptr;
    bool m_hasXTest = false;
    std::vector<std::pair<unsigned long, unsigned>> m_temporary; // keysym, keycode lent to it
};
