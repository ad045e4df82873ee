#pragma once
// A font as the message writers use it, made from a stored font record.
#include "settings/Options.h"

#include <cstdint>
#include <string>

struct FontSpec
{
    bool Valid = false;
    std::string FaceName;
    int Size = 0; // twentieths of a point (the record's height in twips)
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    uint32_t Color = 0; // 0x00BBGGRR

    static FontSpec FromRecord(const FontRecord& record);

    bool operator==(const FontSpec&) const = default;
};

// The bytes of a Windows colour value.
inline int ColorRed(uint32_t color)
{
    return static_cast<int>(color & 0xFF);
}
inline int ColorGreen(uint32_t color)
{
    return static_cast<int>((color >> 8) & 0xFF);
}
inline int ColorBlue(uint32_t color)
{
    return static_cast<int>((color >> 16) & 0xFF);
}
