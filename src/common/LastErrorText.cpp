#include "common/LastErrorText.h"

#include <cerrno>
#include <cstring>

std::string SystemErrorText(int code)
{
    if (code == 0)
        return std::string();
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in the buffer.
    std::string text = strerror_r(code, buffer, sizeof buffer);
    while (!text.empty() && (text.back() == ' ' || (text.back() >= 9 && text.back() <= 13)))
        text.pop_back();
    return text;
}

std::string LastErrorText()
{
    return SystemErrorText(errno);
}
