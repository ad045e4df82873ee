#include "view/MessageTimeFormat.h"

#include "ViewTestSupport.h"

#include <climits>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::tm Sample()
{
    // Monday, 8 May 2000, 15:47:38
    std::tm time{};
    time.tm_year = 100;
    time.tm_mon = 4;
    time.tm_mday = 8;
    time.tm_hour = 15;
    time.tm_min = 47;
    time.tm_sec = 38;
    time.tm_wday = 1;
    time.tm_yday = 128;
    return time;
}

std::tm Morning()
{
    // Sunday, 4 January 2009, 9:05:03
    std::tm time{};
    time.tm_year = 109;
    time.tm_mon = 0;
    time.tm_mday = 4;
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 3;
    time.tm_wday = 0;
    time.tm_yday = 3;
    return time;
}

struct ConversionCase
{
    const char* Conversion;
    const char* Afternoon;
    const char* MorningText;
};

TEST(MessageTimeFormat, EnglishDefaultLocaleConversions)
{
    const ConversionCase cases[] = {
        {"%X", "15:47:38", "9:05:03"},
        {"%#X", "15:47:38", "9:05:03"},
        {"%x", "5/8/00", "1/4/09"},
        {"%#x", "Monday, May 08, 2000", "Sunday, January 04, 2009"},
        {"%c", "5/8/00 15:47:38", "1/4/09 9:05:03"},
        {"%p", "PM", "AM"},
        {"%H", "15", "09"},
        {"%#H", "15", "9"},
        {"%I", "03", "09"},
        {"%#I", "3", "9"},
        {"%A", "Monday", "Sunday"},
        {"%a", "Mon", "Sun"},
        {"%d", "08", "04"},
        {"%#d", "8", "4"},
        {"%B", "May", "January"},
        {"%b", "May", "Jan"},
        {"%m", "05", "01"},
        {"%#m", "5", "1"},
        {"%M", "47", "05"},
        {"%#M", "47", "5"},
        {"%S", "38", "03"},
        {"%#S", "38", "3"},
        {"%Y", "2000", "2009"},
        {"%y", "00", "09"},
        {"%#y", "0", "9"},
        {"%j", "129", "004"},
        {"%w", "1", "0"},
        {"%%", "%", "%"},
        {"at %H:%M.", "at 15:47.", "at 09:05."},
    };
    for (const ConversionCase& c : cases) {
        EXPECT_EQ(FormatTime(Sample(), c.Conversion), c.Afternoon) << c.Conversion;
        EXPECT_EQ(FormatTime(Morning(), c.Conversion), c.MorningText) << c.Conversion;
    }
}

TEST(MessageTimeFormat, TwelveHourClockAroundMidnightAndNoon)
{
    const struct
    {
        int Hour;
        const char* Text;
    } cases[] = {{0, "12 AM"},  {1, "1 AM"},  {11, "11 AM"},
                 {12, "12 PM"}, {13, "1 PM"}, {23, "11 PM"}};
    for (const auto& c : cases) {
        std::tm time = Sample();
        time.tm_hour = c.Hour;
        EXPECT_EQ(FormatTime(time, "%#I %p"), c.Text) << c.Hour;
    }
}

TEST(MessageTimeFormat, UnknownConversionOrBadFieldYieldsNothing)
{
    std::tm badMonth = Sample();
    badMonth.tm_mon = 12;
    std::tm badDay = Sample();
    badDay.tm_wday = 7;
    const struct
    {
        std::tm Time;
        const char* Conversion;
    } cases[] = {
        {Sample(), "%Q"}, {Sample(), "x %"}, {Sample(), "%#"}, {badMonth, "%d %B"},
        {badMonth, "%m"}, {badDay, "%A"},    {badDay, "%#x"},
    };
    for (const auto& c : cases) {
        std::string out = "kept";
        EXPECT_FALSE(AppendTime(out, c.Time, c.Conversion)) << c.Conversion;
        EXPECT_EQ(out, "kept") << c.Conversion;
    }
}

TEST(MessageTimeFormat, CalendarConversionNormalisesLikeTheCalendar)
{
    ScopedTimeZone zone("UTC");
    const struct
    {
        MessageTime Time;
        const char* Expected;
    } cases[] = {
        {MakeTime(2000, 5, 8, 15, 47, 38), "Monday 5/8/2000 15:47:38"},
        {MakeTime(2001, 2, 31, 0, 0, 0), "Saturday 3/3/2001 0:00:00"},
        {MakeTime(2000, 2, 31, 0, 0, 0), "Thursday 3/2/2000 0:00:00"},
        {MakeTime(1999, 12, 31, 24, 0, 0), "Saturday 1/1/2000 0:00:00"},
        {MakeTime(2000, 13, 1, 0, 0, 0), "Monday 1/1/2001 0:00:00"},
        {MakeTime(1969, 12, 31, 23, 59, 59), "Wednesday 12/31/1969 23:59:59"},
    };
    for (const auto& c : cases) {
        std::tm calendar{};
        ASSERT_TRUE(ToCalendarTime(c.Time, calendar)) << c.Expected;
        EXPECT_EQ(FormatTime(calendar, "%A %#m/%#d/%Y %X"), c.Expected);
    }
}

// Times converted one after another (a history shown whole) come out as mktime gives each
// alone: across the clocks going forward and back, times the calendar moves, and another
// time zone in between.
TEST(MessageTimeFormat, ARunOfConversionsAgreesWithTheCalendar)
{
    const struct
    {
        const char* Zone;
        std::vector<MessageTime> Times;
    } runs[] = {
        {"Europe/Berlin",
         {MakeTime(2021, 3, 27, 12, 0, 0), MakeTime(2021, 3, 28, 1, 59, 59),
          MakeTime(2021, 3, 28, 2, 30, 0), // skipped when the clocks go forward
          MakeTime(2021, 3, 28, 3, 0, 0), MakeTime(2021, 7, 1, 12, 0, 0),
          MakeTime(2021, 10, 31, 2, 30, 0), // twice when they go back
          MakeTime(2021, 10, 31, 3, 0, 1), MakeTime(2021, 12, 1, 12, 0, 0),
          MakeTime(2021, 7, 1, 12, 0, 0), MakeTime(2021, 2, 31, 10, 0, 0),
          MakeTime(2021, 12, 31, 24, 0, 0), MakeTime(2021, 13, 1, 0, 0, 0),
          MakeTime(2021, 6, 30, 23, 59, 60)}},
        {"America/New_York",
         {MakeTime(2021, 3, 14, 1, 59, 0), MakeTime(2021, 3, 14, 2, 15, 0),
          MakeTime(2021, 3, 14, 3, 15, 0), MakeTime(2021, 11, 7, 1, 30, 0)}},
        // Half an hour forward and back.
        {"Australia/Lord_Howe",
         {MakeTime(2021, 10, 3, 1, 59, 0), MakeTime(2021, 10, 3, 2, 15, 0),
          MakeTime(2021, 10, 3, 2, 45, 0), MakeTime(2022, 4, 3, 1, 45, 0),
          MakeTime(2022, 4, 3, 2, 15, 0)}},
    };
    for (const auto& run : runs) {
        ScopedTimeZone zone(run.Zone);
        for (const MessageTime& time : run.Times) {
            std::tm alone{};
            alone.tm_year = time.Year - 1900;
            alone.tm_mon = time.Month - 1;
            alone.tm_mday = time.Day;
            alone.tm_hour = time.Hour;
            alone.tm_min = time.Minute;
            alone.tm_sec = time.Second;
            alone.tm_isdst = -1;
            const std::time_t aloneSeconds = std::mktime(&alone);
            ASSERT_NE(aloneSeconds, static_cast<std::time_t>(-1));
            std::tm converted{};
            ASSERT_TRUE(ToCalendarTime(time, converted));
            std::time_t seconds = 0;
            ASSERT_TRUE(ToCalendarSeconds(time, seconds));
            const std::string expected = FormatTime(alone, "%A %#m/%#d/%Y %X %j");
            EXPECT_EQ(FormatTime(converted, "%A %#m/%#d/%Y %X %j"), expected)
                << run.Zone << " " << time.Month << "/" << time.Day << " " << time.Hour << ":"
                << time.Minute << ":" << time.Second;
            EXPECT_EQ(seconds, aloneSeconds)
                << run.Zone << " " << time.Month << "/" << time.Day << " " << time.Hour << ":"
                << time.Minute << ":" << time.Second;
        }
    }
}

TEST(MessageTimeFormat, UnusableOrUnrepresentableTimesDoNotConvert)
{
    std::tm calendar{};
    MessageTime missing = MakeTime(2000, 5, 8, 15, 47, 38);
    missing.HasSecond = false;
    EXPECT_FALSE(ToCalendarTime(missing, calendar));
    EXPECT_FALSE(ToCalendarTime(MakeTime(INT_MIN, 1, 1, 0, 0, 0), calendar));
    EXPECT_FALSE(ToCalendarTime(MakeTime(2000, INT_MIN, 1, 0, 0, 0), calendar));
    // Whatever the calendar makes of these, asking must be safe.
    ToCalendarTime(MakeTime(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX), calendar);
    ToCalendarTime(MakeTime(2000, 1, INT_MIN, INT_MIN, INT_MIN, INT_MIN), calendar);
}

} // namespace
