#include "autotype/X11Keyboard.h"

#include "autotype/Keysyms.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

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
    if (!m_display)
        return;
    RestoreKeyboardMapping();
    XCloseDisplay(m_display);
}

unsigned CX11Keyboard::TemporaryKeyCode(unsigned long keysym)
{
    for (const auto& [symbol, keycode] : m_temporary)
        if (symbol == keysym)
            return keycode;
    int minKeyCode = 0, maxKeyCode = 0, perKeyCode = 0;
    XDisplayKeycodes(m_display, &minKeyCode, &maxKeyCode);
    KeySym* table = XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKeyCode),
                                        maxKeyCode - minKeyCode + 1, &perKeyCode);
    if (!table)
        return 0;
    // From the top: the low keycodes are the ones keyboards have keys for.
    unsigned spare = 0;
    for (int keycode = maxKeyCode; keycode >= minKeyCode && !spare; --keycode) {
        const KeySym* syms = table + (keycode - minKeyCode) * perKeyCode;
        bool unused = true;
        for (int i = 0; i < perKeyCode; ++i)
            unused = unused && syms[i] == NoSymbol;
        for (const auto& lent : m_temporary)
            unused = unused && lent.second != static_cast<unsigned>(keycode);
        if (unused)
            spare = static_cast<unsigned>(keycode);
    }
    XFree(table);
    if (!spare)
        return 0;
    // The same symbol with and without Shift, so the typer's Shift handling cannot miss it.
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(m_display, static_cast<int>(spare), 2, syms, 1);
    XSync(m_display, False);
    m_temporary.emplace_back(keysym, spare);
    return spare;
}

void CX11Keyboard::RestoreKeyboardMapping()
{
    if (!m_display || m_temporary.empty())
        return;
    for (const auto& lent : m_temporary) {
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(m_display, static_cast<int>(lent.second), 1, &none, 1);
    }
    m_temporary.clear();
    XSync(m_display, False);
}

void CX11Keyboard::ReadMappingChanges()
{
    // Xlib keeps its own copy of the keyboard tables, brought up to date only by the
    // notices in the event queue, our own changes among them.
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
}

KeyLookup CX11Keyboard::LookupCharacter(unsigned char character)
{
    KeyLookup key;
    if (m_display)
        ReadMappingChanges();
    KeySym keysym = KeysymOfCharacter(character);
    if (!m_display || keysym == 0)
        return key;
    KeyCode keycode = XKeysymToKeycode(m_display, keysym);
    if (keycode != 0) {
        XkbStateRec state{};
        XkbGetState(m_display, XkbUseCoreKbd, &state);
        // Level 1 is the plain key, level 2 the key with Shift. A character that needs
        // more (AltGr) gets a key of its own below rather than being typed as another one.
        for (int level = 0; level < 2; ++level) {
            if (XkbKeycodeToKeysym(m_display, keycode, state.group, level) == keysym) {
                key.Found = true;
                key.VirtualKey = static_cast<uint16_t>(kKeycodeBase + keycode);
                key.Shift = level == 1;
                return key;
            }
        }
    }
    if (unsigned lent = TemporaryKeyCode(keysym)) {
        key.Found = true;
        key.VirtualKey = static_cast<uint16_t>(kKeycodeBase + lent);
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
