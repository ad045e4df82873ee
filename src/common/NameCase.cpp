#include "common/NameCase.h"

#include <algorithm>
#include <cstdint>

namespace {
// Lower case of a Windows-1252 byte: ASCII, the accented blocks and the four odd pairs.
unsigned char FoldCase(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 32);
    switch (c) {
    case 0x8A:
    case 0x8C:
    case 0x8E:
        return static_cast<unsigned char>(c + 16);
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}
} // namespace

bool NamesEqualNoCase(const std::string& a, const std::string& b)
{
    return NameCaseEqual()(a, b);
}

bool NameCaseEqual::operator()(std::string_view a, std::string_view b) const
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(static_cast<unsigned char>(x)) ==
                      FoldCase(static_cast<unsigned char>(y));
           });
}

std::size_t NameCaseHash::operator()(std::string_view name) const
{
    // FNV-1a over the folded bytes: names are short, and this needs no copy.
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : name) {
        hash ^= FoldCase(static_cast<unsigned char>(c));
        hash *= 1099511628211ull;
    }
    return static_cast<std::size_t>(hash);
}

std::string FoldNameCase(const std::string& name)
{
    std::string folded = name;
    for (char& c : folded)
        c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    return folded;
}
