#pragma once
// The X keysym of a character: what both X11 and the Wayland desktop portal take to name
// the key that types it.
#include <cstdint>

// The keysym of a Windows-1252 byte; 0 when none. Control characters that have a key of
// their own map to it, as the Windows layout look-up does.
uint32_t KeysymOfCharacter(unsigned char character);

inline constexpr uint32_t kKeysymShiftLeft = 0xffe1;
inline constexpr uint32_t kKeysymControlLeft = 0xffe3;
inline constexpr uint32_t kKeysymAltLeft = 0xffe9;
