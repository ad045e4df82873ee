#include "platform/X11KeyMap.h"

#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

CX11KeyMap::CX11KeyMap(xcb_connection_t* connection)
{
    if (!connection)
        return;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    m_minKeyCode = setup->min_keycode;
    uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto* mapping = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, m_minKeyCode, count), nullptr);
    if (mapping) {
        m_perKeyCode = mapping->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        m_keySyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(mapping));
        std::free(mapping);
    }
    auto* modifiers =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (modifiers) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers);
        int per = modifiers->keycodes_per_modifier;
        m_modifierKeys.resize(8);
        for (int mod = 0; mod < 8; ++mod)
            for (int i = 0; i < per; ++i)
                if (uint8_t code = codes[mod * per + i])
                    m_modifierKeys[static_cast<size_t>(mod)].push_back(code);
        std::free(modifiers);
    }
}

uint8_t CX11KeyMap::KeyCode(uint32_t keySym) const
{
    if (m_perKeyCode <= 0)
        return 0;
    // The first level wins over a symbol reached with Shift or another group.
    for (int level = 0; level < m_perKeyCode; ++level)
        for (size_t i = static_cast<size_t>(level); i < m_keySyms.size();
             i += static_cast<size_t>(m_perKeyCode))
            if (m_keySyms[i] == keySym)
                return static_cast<uint8_t>(m_minKeyCode + i / static_cast<size_t>(m_perKeyCode));
    return 0;
}

uint32_t CX11KeyMap::KeySym(uint8_t keyCode) const
{
    if (m_perKeyCode <= 0 || keyCode < m_minKeyCode)
        return 0;
    size_t index = static_cast<size_t>(keyCode - m_minKeyCode) * static_cast<size_t>(m_perKeyCode);
    return index < m_keySyms.size() ? m_keySyms[index] : 0;
}

uint16_t CX11KeyMap::ModifierOf(uint32_t keySym) const
{
    uint8_t code = KeyCode(keySym);
    for (size_t mod = 0; code && mod < m_modifierKeys.size(); ++mod)
        for (uint8_t held : m_modifierKeys[mod])
            if (held == code)
                return static_cast<uint16_t>(1u << mod);
    return 0;
}

std::vector<uint8_t> CX11KeyMap::ModifierKeyCodes() const
{
    std::vector<uint8_t> codes;
    for (const std::vector<uint8_t>& mask : m_modifierKeys)
        codes.insert(codes.end(), mask.begin(), mask.end());
    return codes;
}

xcb_connection_t* QtX11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

uint32_t QtX11Root()
{
    xcb_connection_t* connection = QtX11Connection();
    if (!connection)
        return 0;
    // Qt works on the screen that $DISPLAY names.
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && it.rem > 1; ++i)
        xcb_screen_next(&it);
    return it.data->root;
}
