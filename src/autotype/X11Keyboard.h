#pragma once
// The keyboard layout and key injection of an X11 desktop (XTest). It keeps a display
// connection of its own, so it works beside whatever toolkit the program runs.
#include "autotype/AutoTyper.h"

#include <string>

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

    // Keys of the layout are numbered above the modifiers' virtual keys.
    static constexpr uint16_t kKeycodeBase = 0x100;

private:
    bool SendKey(unsigned keycode, bool down);
    bool SendModifier(uint16_t virtualKey, bool down);

    _XDisplay* m_display = nullptr;
    bool m_hasXTest = false;
};
