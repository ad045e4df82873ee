#pragma once
// The broken-down local time of a message, with one presence flag per field; a time is
// usable only when all six fields are present.
#include <ctime>

struct MessageTime
{
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    bool HasYear = false;
    bool HasMonth = false;
    bool HasDay = false;
    bool HasHour = false;
    bool HasMinute = false;
    bool HasSecond = false;

    bool IsUsable() const
    {
        return HasYear && HasMonth && HasDay && HasHour && HasMinute && HasSecond;
    }

    // Fills all six fields from the local time of `when` and sets all six flags.
    void Set(std::time_t when)
    {
        std::tm local{};
        localtime_r(&when, &local);
        Year = local.tm_year + 1900;
        Month = local.tm_mon + 1;
        Day = local.tm_mday;
        Hour = local.tm_hour;
        Minute = local.tm_min;
        Second = local.tm_sec;
        HasYear = HasMonth = HasDay = HasHour = HasMinute = HasSecond = true;
    }

    static MessageTime From(std::time_t when)
    {
        MessageTime time;
        time.Set(when);
        return time;
    }

    bool operator==(const MessageTime&) const = default;
};
