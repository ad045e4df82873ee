#pragma once
// The program's texts with one "%s" in them (message boxes, notices).
#include <string>
#include <string_view>

// `format` with its first "%s" replaced by `text`; as it stands when it has none.
inline std::string FormatWithText(std::string_view format, std::string_view text)
{
    auto at = format.find("%s");
    if (at == std::string_view::npos)
        return std::string(format);
    std::string result(format.substr(0, at));
    result += text;
    result += format.substr(at + 2);
    return result;
}
