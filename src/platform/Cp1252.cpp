#include "platform/Cp1252.h"

#include <array>

namespace {

// 0x80..0x9F; the five undefined positions keep their byte value.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t Cp1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHigh[byte - 0x80];
    return byte;
}

char UnicodeToCp1252(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

std::string Cp1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char byte : text)
        AppendUtf8(out, Cp1252ToUnicode(byte));
    return out;
}

namespace {

// The code point of the UTF-8 sequence at `i` and its length; 0 for a malformed sequence
// (a stray or missing continuation byte, an overlong form, a surrogate, beyond U+10FFFF).
size_t DecodeUtf8At(std::string_view text, size_t i, char32_t& c)
{
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80         ? 1
                    : (lead >> 5) == 6  ? 2
                    : (lead >> 4) == 14 ? 3
                    : (lead >> 3) == 30 ? 4
                                        : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string Utf8ToCp1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        size_t length = DecodeUtf8At(text, i, c);
        if (length == 0) {
            out += '?';
            ++i;
            continue;
        }
        out += UnicodeToCp1252(c);
        i += length;
    }
    return out;
}

Utf8Conversion Utf8ToCp1252Exact(std::string_view text, std::string& out, char32_t& unmapped)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        size_t length = DecodeUtf8At(text, i, c);
        if (length == 0)
            return Utf8Conversion::Malformed;
        char byte = UnicodeToCp1252(c);
        if (byte == '?' && c != U'?') {
            unmapped = c;
            return Utf8Conversion::Unmapped;
        }
        out += byte;
        i += length;
    }
    return Utf8Conversion::Ok;
}
