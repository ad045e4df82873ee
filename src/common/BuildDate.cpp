#include "common/BuildDate.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {
constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};
} // namespace

std::string BuildDateText(const char* compilerDate)
{
    // Collapse double blanks ("Sep  6 2006"), then "Mon D YYYY" -> "Month D, YYYY".
    std::string text;
    for (const char* p = compilerDate; *p; ++p)
        if (!(*p == ' ' && !text.empty() && text.back() == ' '))
            text += *p;
    for (const char* month : kMonths) {
        if (text.compare(0, 3, month, 3) == 0) {
            text.replace(0, 3, month);
            break;
        }
    }
    if (auto blank = text.rfind(' '); blank != std::string::npos)
        text = text.substr(0, blank) + "," + text.substr(blank);
    return text;
}

std::time_t BuildTimestamp(const char* compilerDate, const char* compilerTime)
{
    char month[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(compilerDate, "%3s %d %d", month, &day, &year) != 3)
        return 0;
    std::sscanf(compilerTime, "%d:%d:%d", &hour, &minute, &second);
    std::tm when{};
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (std::strncmp(kMonths[i], month, 3) == 0)
            when.tm_mon = static_cast<int>(i);
    when.tm_mday = day;
    when.tm_year = year - 1900;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_isdst = -1;
    return std::mktime(&when);
}

const std::string& ProgramBuildDate()
{
    static const std::string text = BuildDateText(__DATE__);
    return text;
}
