#include "view/MessageTimeFormat.h"

#include <climits>
#include <cstdint>

namespace {

const char* const kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char* const kDayAbbrevs[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
const char* const kMonthAbbrevs[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool InRange(int value, int low, int high)
{
    return value >= low && value <= high;
}

// `width` digits with leading zeros, or no leading zeros with the "#" flag.
void AppendNumber(std::string& out, long long value, int width, bool noLeadingZeros)
{
    bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        out += '-';
    if (!noLeadingZeros)
        for (int i = count; i < width; ++i)
            out += '0';
    while (count > 0)
        out += digits[--count];
}

long long FullYear(const std::tm& time)
{
    return static_cast<long long>(time.tm_year) + 1900;
}

// The English default locale's layouts.
const char* const kShortDate = "%#m/%#d/%y";   // "M/d/yy"
const char* const kLongDate = "%A, %B %d, %Y"; // "dddd, MMMM dd, yyyy"
const char* const kTimeOfDay = "%#H:%M:%S";    // "H:mm:ss"
const char* const kDateTime = "%#m/%#d/%y %#H:%M:%S";
const char* const kLongDateTime = "%A, %B %d, %Y, %#H:%M:%S";

bool AppendLayout(std::string& out, const std::tm& time, std::string_view layout);

bool AppendConversion(std::string& out, const std::tm& time, char conversion, bool alternate)
{
    switch (conversion) {
    case 'a':
        if (!InRange(time.tm_wday, 0, 6))
            return false;
        out += kDayAbbrevs[time.tm_wday];
        return true;
    case 'A':
        if (!InRange(time.tm_wday, 0, 6))
            return false;
        out += kDayNames[time.tm_wday];
        return true;
    case 'b':
        if (!InRange(time.tm_mon, 0, 11))
            return false;
        out += kMonthAbbrevs[time.tm_mon];
        return true;
    case 'B':
        if (!InRange(time.tm_mon, 0, 11))
            return false;
        out += kMonthNames[time.tm_mon];
        return true;
    case 'c':
        return AppendLayout(out, time, alternate ? kLongDateTime : kDateTime);
    case 'd':
        if (!InRange(time.tm_mday, 1, 31))
            return false;
        AppendNumber(out, time.tm_mday, 2, alternate);
        return true;
    case 'H':
        if (!InRange(time.tm_hour, 0, 23))
            return false;
        AppendNumber(out, time.tm_hour, 2, alternate);
        return true;
    case 'I':
        if (!InRange(time.tm_hour, 0, 23))
            return false;
        AppendNumber(out, time.tm_hour % 12 == 0 ? 12 : time.tm_hour % 12, 2, alternate);
        return true;
    case 'j':
        if (!InRange(time.tm_yday, 0, 365))
            return false;
        AppendNumber(out, time.tm_yday + 1, 3, alternate);
        return true;
    case 'm':
        if (!InRange(time.tm_mon, 0, 11))
            return false;
        AppendNumber(out, time.tm_mon + 1, 2, alternate);
        return true;
    case 'M':
        if (!InRange(time.tm_min, 0, 59))
            return false;
        AppendNumber(out, time.tm_min, 2, alternate);
        return true;
    case 'p':
        if (!InRange(time.tm_hour, 0, 23))
            return false;
        out += AmPmText(time.tm_hour);
        return true;
    case 'S':
        // 60 is a leap second.
        if (!InRange(time.tm_sec, 0, 60))
            return false;
        AppendNumber(out, time.tm_sec, 2, alternate);
        return true;
    case 'w':
        if (!InRange(time.tm_wday, 0, 6))
            return false;
        AppendNumber(out, time.tm_wday, 1, alternate);
        return true;
    case 'x':
        return AppendLayout(out, time, alternate ? kLongDate : kShortDate);
    case 'X':
        return AppendLayout(out, time, kTimeOfDay);
    case 'y': {
        long long year = FullYear(time);
        if (year < 0)
            return false;
        AppendNumber(out, year % 100, 2, alternate);
        return true;
    }
    case 'Y': {
        long long year = FullYear(time);
        if (year < 0)
            return false;
        AppendNumber(out, year, 1, alternate);
        return true;
    }
    case '%':
        out += '%';
        return true;
    default:
        return false;
    }
}

bool AppendLayout(std::string& out, const std::tm& time, std::string_view layout)
{
    for (size_t i = 0; i < layout.size(); ++i) {
        if (layout[i] != '%') {
            out += layout[i];
            continue;
        }
        bool alternate = false;
        if (i + 1 < layout.size() && layout[i + 1] == '#') {
            alternate = true;
            ++i;
        }
        if (i + 1 >= layout.size() || !AppendConversion(out, time, layout[i + 1], alternate))
            return false;
        ++i;
    }
    return true;
}

} // namespace

const char* AmPmText(int hour)
{
    return hour < 12 ? "AM" : "PM";
}

namespace {

// The fields of `time` counted in seconds as if they were universal time (timegm, unlike
// mktime, needs no time zone).
long long SecondsOfFields(std::tm time)
{
    return static_cast<long long>(timegm(&time));
}

bool SameFields(const std::tm& a, const std::tm& b)
{
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// mktime looks the time zone up again on every call (a look at /etc/localtime each time),
// which took half of the time of formatting a long history's prefixes. A run of times is
// converted with the zone's offset of the last one instead, when localtime_r (which does
// not look again) confirms the fields; every so many calls mktime looks again.
struct LastConversion
{
    bool Valid = false;
    std::time_t When = 0;
    std::tm Local{};
    int Reused = 0;
};
thread_local LastConversion t_last;
constexpr int kReusesBeforeLookingAgain = 64;

bool Convert(const MessageTime& time, std::tm& out, std::time_t& when)
{
    if (!time.IsUsable())
        return false;
    // Fields come from the network and the log: keep the offsets inside int.
    auto offset = [](int value, int by, int& result) {
        long long shifted = static_cast<long long>(value) - by;
        if (shifted < INT_MIN || shifted > INT_MAX)
            return false;
        result = static_cast<int>(shifted);
        return true;
    };
    std::tm local{};
    if (!offset(time.Year, 1900, local.tm_year) || !offset(time.Month, 1, local.tm_mon))
        return false;
    local.tm_mday = time.Day;
    local.tm_hour = time.Hour;
    local.tm_min = time.Minute;
    local.tm_sec = time.Second;
    local.tm_isdst = -1;
    if (t_last.Valid && t_last.Reused < kReusesBeforeLookingAgain) {
        // Fields that the calendar would move (31 February, a time skipped when the clocks
        // go forward) or another offset do not come back the same: mktime decides those.
        const std::time_t guess =
            t_last.When +
            static_cast<std::time_t>(SecondsOfFields(local) - SecondsOfFields(t_last.Local));
        std::tm found{};
        if (localtime_r(&guess, &found) && found.tm_gmtoff == t_last.Local.tm_gmtoff &&
            SameFields(found, local)) {
            ++t_last.Reused;
            out = found;
            when = guess;
            return true;
        }
    }
    // -1 is also a valid result (one second before the epoch); mktime leaves the record
    // alone only when it fails.
    local.tm_wday = -1;
    std::time_t calendar = std::mktime(&local);
    if (calendar == static_cast<std::time_t>(-1) && local.tm_wday == -1)
        return false;
    t_last = {true, calendar, local, 0};
    out = local;
    when = calendar;
    return true;
}

} // namespace

bool ToCalendarTime(const MessageTime& time, std::tm& out)
{
    std::time_t when = 0;
    return Convert(time, out, when);
}

bool ToCalendarSeconds(const MessageTime& time, std::time_t& out)
{
    std::tm fields{};
    return Convert(time, fields, out);
}

bool AppendTime(std::string& out, const std::tm& time, std::string_view conversion)
{
    const size_t start = out.size();
    if (AppendLayout(out, time, conversion))
        return true;
    out.resize(start);
    return false;
}

std::string FormatTime(const std::tm& time, std::string_view conversion)
{
    std::string out;
    AppendTime(out, time, conversion);
    return out;
}
