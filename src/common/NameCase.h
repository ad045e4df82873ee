#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// User and computer names compare without regard to letter case (Windows-1252 letters).
bool NamesEqualNoCase(const std::string& a, const std::string& b);
// The name in lower case, as a key for look-ups that ignore letter case.
std::string FoldNameCase(const std::string& name);

// Hash and equality of names without regard to letter case, for maps keyed by name: a
// look-up hashes the name as it comes instead of making a folded copy of it first.
struct NameCaseHash
{
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const;
};
struct NameCaseEqual
{
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};
