#pragma once
#include <string>

// User and computer names compare without regard to letter case (Windows-1252 letters).
bool NamesEqualNoCase(const std::string& a, const std::string& b);
// The name in lower case, as a key for look-ups that ignore letter case.
std::string FoldNameCase(const std::string& name);
