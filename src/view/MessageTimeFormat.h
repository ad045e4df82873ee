#pragma once
// Date and time texts of message prefixes. The names, the AM/PM text and the date and
// time layouts are always those of the English default locale, produced here rather than
// by the C library, so a prefix reads the same whatever locale the user runs under.
#include "common/MessageTime.h"

#include <ctime>
#include <string>
#include <string_view>

// Converts a usable time to a calendar time through the local time zone (daylight saving
// decided by the zone), normalising out-of-range fields as mktime does: 31 February
// becomes 3 March. False when the time is not usable or lies outside what the calendar
// conversion can represent.
bool ToCalendarTime(const MessageTime& time, std::tm& out);
// The same, as the seconds since the epoch.
bool ToCalendarSeconds(const MessageTime& time, std::time_t& out);

// Appends `conversion` formatted like strftime in the English default locale, with the
// "#" flag (numbers without leading zeros, "%#x" the long date). Supported: %a %A %b %B
// %c %d %H %I %j %m %M %p %S %w %x %X %y %Y %%. On an unknown conversion or a field out
// of range nothing at all is appended (strftime yields nothing) and the result is false.
bool AppendTime(std::string& out, const std::tm& time, std::string_view conversion);
std::string FormatTime(const std::tm& time, std::string_view conversion);

// "AM" before noon, "PM" from noon on.
const char* AmPmText(int hour);
