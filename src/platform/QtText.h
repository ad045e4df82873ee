#pragma once
// Conversions between the core's Windows-1252 texts and Qt's strings.
#include <QString>
#include <string>
#include <string_view>

QString FromCp1252(std::string_view text);
// Characters outside Windows-1252 become '?'.
std::string ToCp1252(const QString& text);
// A password typed at a masked box: a character outside Windows-1252 becomes one that no
// stored password holds (DEL) instead of the '?' a password may hold.
std::string ToCp1252Password(const QString& text);
