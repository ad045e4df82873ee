#pragma once
// Texts inside the program are Windows-1252 bytes (the wire and the log stay compatible
// with other copies); the edges (terminal, widgets) speak Unicode.
#include <string>
#include <string_view>

// The Unicode code point of a Windows-1252 byte (undefined bytes map to themselves).
char32_t Cp1252ToUnicode(unsigned char byte);
// The Windows-1252 byte for a code point, or '?' where it has none.
char UnicodeToCp1252(char32_t codePoint);

std::string Cp1252ToUtf8(std::string_view text);
// Appends one code point (up to U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);
// Malformed UTF-8 sequences and characters outside Windows-1252 become '?'.
std::string Utf8ToCp1252(std::string_view text);

enum class Utf8Conversion
{
    Ok,
    Malformed, // not UTF-8
    Unmapped,  // a character Windows-1252 does not have
};
// Converts the whole text or nothing: stops at the first malformed sequence or character
// outside Windows-1252 (given in `unmapped`).
Utf8Conversion Utf8ToCp1252Exact(std::string_view text, std::string& out, char32_t& unmapped);
