#include "app/Identity.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// Atom values are fixed numbers of our own; only equality between copies matters.
constexpr InstanceIdentity kPrimary{false,
                                    "Fernquill_ZibTam",
                                    "Fernquill_ZibTamLogViewer",
                                    "Fernquill_ZibTam_AutoType",
                                    0xC101,
                                    0xC102,
                                    0xC103,
                                    0x5B8C5911,
                                    0x7951BACA,
                                    106,
                                    109};
constexpr InstanceIdentity kSecondary{true,
                                      "Fernquill_ZibTamSecondary",
                                      "Fernquill_ZibTamLogViewerSecondary",
                                      "Fernquill_ZibTam_AutoType",
                                      0xC111,
                                      0xC112,
                                      0xC103,
                                      0x042384EE,
                                      0x26FE6735,
                                      107,
                                      108};

constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

std::string FileStem(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

} // namespace

const InstanceIdentity& InstanceIdentity::For(bool secondary)
{
    return secondary ? kSecondary : kPrimary;
}

bool IsSecondaryExecutable(const std::string& executablePath)
{
    std::string stem = FileStem(executablePath);
    return strcasecmp(stem.c_str(), "Zib Tam (Secondary)") == 0 ||
           strcasecmp(stem.c_str(), "SetupSecondary") == 0;
}

InstanceMode ModeFromCommandLine(const std::string& arguments)
{
    return arguments.compare(0, 4, "/log") == 0 ? InstanceMode::LogViewer : InstanceMode::Chat;
}

std::string MutexName(bool secondary, InstanceMode mode)
{
    std::string name = "ZibTam";
    if (mode == InstanceMode::LogViewer)
        name += "LogViewer";
    if (secondary)
        name += "Secondary";
    return name + "Mutex";
}

uint32_t IdentificationReply(const InstanceIdentity& own, InstanceMode ownMode, uint32_t magic)
{
    if (magic != own.Magic)
        return 0;
    return ownMode == InstanceMode::Chat ? own.ChatAtom : own.LogViewerAtom;
}

bool IsRunningInstanceReply(const InstanceIdentity& own, InstanceMode wanted, uint32_t reply)
{
    if (wanted == InstanceMode::LogViewer)
        return reply == own.LogViewerAtom;
    return reply == own.ChatAtom || reply == own.AlternativeReply;
}

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
