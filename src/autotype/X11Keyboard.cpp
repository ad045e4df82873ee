#include "autotype/X11Keyboard.h"

#include "platform/Cp1252.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// The keysym a Windows-1252 byte stands for; 0 when none. Control characters that have a
// key of their own map to it, as the Windows layout look-up does.
KeySym KeysymOf(unsigned char character)
{
    switch (character) {
    case '\r':
    case '\n':
        return XK_Return;
    case '\t':
        return XK_Tab;
    case '\b':
        return XK_BackSpace;
    case 0x1B:
        return XK_Escape;
    default:
        break;
    }
    if (character < 0x20 || character == 0x7F)
        return 0;
    char32_t code = Cp1252ToUnicode(character);
    if ((code >= 0x20 && code <= 0x7E) || (code >= 0xA0 && code <= 0xFF))
        return code; // Latin-1 keysyms are their code points
    return 0x01000000 + code;
}

} // namespace

CX11Keyboard::CX11Keyboard(const std::string& displayName)
{
    m_display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!m_display)
        return;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    m_hasXTest = XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor);
}

CX11Keyboard::~CX11Keyboard()
{
    if (m_display)
        XCloseDisplay(m_display);
}

KeyLookup CX11Keyboard::LookupCharacter(unsigned char character)
{
    KeyLookup key;
    KeySym keysym = KeysymOf(character);
    if (!m_display || keysym == 0)
        return key;
    KeyCode keycode = XKeysymToKeycode(m_display, keysym);
    if (keycode == 0)
        return key;
    XkbStateRec state{};
    XkbGetState(m_display, XkbUseCoreKbd, &state);
    // Level 1 is the plain key, level 2 the key with Shift. A character that needs more
    // (AltGr) is left out rather than typed as another one.
    for (int level = 0; level < 2; ++level) {
        if (XkbKeycodeToKeysym(m_display, keycode, state.group, level) == keysym) {
            key.Found = true;
            key.VirtualKey = static_cast<uint16_t>(kKeycodeBase + keycode);
            key.Shift = level == 1;
            return key;
        }
    }
    return key;
}

bool CX11Keyboard::SendKey(unsigned keycode, bool down)
{
    return keycode != 0 && XTestFakeKeyEvent(m_display, keycode, down ? True : False, CurrentTime);
}

bool CX11Keyboard::SendModifier(uint16_t virtualKey, bool down)
{
    KeySym left = XK_Shift_L, right = XK_Shift_R;
    if (virtualKey == kVirtualKeyControl) {
        left = XK_Control_L;
        right = XK_Control_R;
    } else if (virtualKey == kVirtualKeyAlt) {
        left = XK_Alt_L;
        right = XK_Alt_R;
    }
    if (down)
        return SendKey(XKeysymToKeycode(m_display, left), true);
    // The hot key may be held on either side; a release of a key that is up does nothing.
    SendKey(XKeysymToKeycode(m_display, right), false);
    return SendKey(XKeysymToKeycode(m_display, left), false);
}

bool CX11Keyboard::Inject(std::span<const KeyInput> events)
{
    if (!IsAvailable())
        return false;
    bool ok = true;
    for (const KeyInput& event : events) {
        bool down = event.Flags == kKeyDown;
        if (event.VirtualKey >= kKeycodeBase)
            ok = SendKey(event.VirtualKey - kKeycodeBase, down) && ok;
        else
            ok = SendModifier(event.VirtualKey, down) && ok;
    }
    XFlush(m_display);
    return ok;
}
