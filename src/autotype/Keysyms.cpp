#include "autotype/Keysyms.h"

#include "platform/Cp1252.h"

uint32_t KeysymOfCharacter(unsigned char character)
{
    switch (character) {
    case '\r':
    case '\n':
        return 0xff0d; // Return
    case '\t':
        return 0xff09; // Tab
    case '\b':
        return 0xff08; // BackSpace
    case 0x1B:
        return 0xff1b; // Escape
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
