#include "sendlater/SendLaterMoment.h"

#include "platform/Clock.h"
#include "sendlater/SendLater.h"

#include <gtest/gtest.h>

namespace {

// The date and time pickers set to `moment` in local time.
SendLaterChoice DateChoice(std::time_t moment)
{
    std::tm local{};
    localtime_r(&moment, &local);
    SendLaterChoice choice;
    choice.Mode = SendLaterMode::Date;
    choice.Year = local.tm_year + 1900;
    choice.Month = local.tm_mon + 1;
    choice.Day = local.tm_mday;
    choice.Hour = local.tm_hour;
    choice.Minute = local.tm_min;
    choice.Second = local.tm_sec;
    return choice;
}

TEST(SendLaterMomentTest, DateModeRefusesThePastAndAcceptsTheCurrentSecond)
{
    CManualClock clock;
    clock.Advance(12'345'000);
    const std::time_t now = clock.Now();
    const struct
    {
        std::time_t picked;
        SendLaterVerdict verdict;
    } cases[] = {
        {now - 1, SendLaterVerdict::InThePast},
        {now - 86'400, SendLaterVerdict::InThePast},
        {now, SendLaterVerdict::Accept},
        {now + 1, SendLaterVerdict::Accept},
        {now + 400 * 86'400, SendLaterVerdict::Accept},
    };
    for (const auto& c : cases) {
        SendLaterDecision decision = DecideSendLaterMoment(DateChoice(c.picked), now);
        EXPECT_EQ(decision.Verdict, c.verdict) << c.picked - now;
        if (c.verdict == SendLaterVerdict::Accept) {
            EXPECT_EQ(decision.Moment, c.picked);
        }
    }
    EXPECT_EQ(SendLaterVerdictText(SendLaterVerdict::InThePast), kSendLaterPastText);
}

TEST(SendLaterMomentTest, NumberEditsAreCheckedFirstAndWithinTheirLimits)
{
    const std::time_t now = 1'000'000'000;
    const struct
    {
        const char* hours;
        const char* minutes;
        SendLaterMode mode;
        SendLaterVerdict verdict;
        std::time_t moment;
    } cases[] = {
        {"0", "0", SendLaterMode::Delay, SendLaterVerdict::Accept, now},
        {"23", "59", SendLaterMode::Delay, SendLaterVerdict::Accept, now + (23 * 60 + 59) * 60},
        {" 2 ", "5", SendLaterMode::Delay, SendLaterVerdict::Accept, now + 125 * 60},
        {"24", "0", SendLaterMode::Delay, SendLaterVerdict::HoursRange, 0},
        {"-1", "0", SendLaterMode::Delay, SendLaterVerdict::HoursRange, 0},
        {"0", "60", SendLaterMode::Delay, SendLaterVerdict::MinutesRange, 0},
        {"99999999999", "0", SendLaterMode::Delay, SendLaterVerdict::HoursRange, 0},
        {"", "0", SendLaterMode::Delay, SendLaterVerdict::HoursNotNumber, 0},
        {"1.5", "0", SendLaterMode::Delay, SendLaterVerdict::HoursNotNumber, 0},
        {"0", "x", SendLaterMode::Delay, SendLaterVerdict::MinutesNotNumber, 0},
        // The edits are read whatever option is chosen, and before it is looked at.
        {"24", "0", SendLaterMode::None, SendLaterVerdict::HoursRange, 0},
        {"0", "60", SendLaterMode::Date, SendLaterVerdict::MinutesRange, 0},
        {"3", "4", SendLaterMode::None, SendLaterVerdict::NoOption, 0},
    };
    for (const auto& c : cases) {
        SendLaterChoice choice = DateChoice(now + 60);
        choice.Mode = c.mode;
        choice.HoursText = c.hours;
        choice.MinutesText = c.minutes;
        SendLaterDecision decision = DecideSendLaterMoment(choice, now);
        EXPECT_EQ(decision.Verdict, c.verdict) << c.hours << " " << c.minutes;
        if (c.verdict == SendLaterVerdict::Accept) {
            EXPECT_EQ(decision.Moment, c.moment) << c.hours << " " << c.minutes;
        }
    }
    EXPECT_EQ(SendLaterVerdictText(SendLaterVerdict::HoursRange),
              "Please enter an integer between 0 and 23.");
    EXPECT_EQ(SendLaterVerdictText(SendLaterVerdict::MinutesRange),
              "Please enter an integer between 0 and 59.");
}

TEST(SendLaterMomentTest, InvalidPickersAreNamedDateFirst)
{
    SendLaterChoice choice = DateChoice(2'000'000'000);
    choice.DateValid = false;
    choice.TimeValid = false;
    EXPECT_EQ(DecideSendLaterMoment(choice, 0).Verdict, SendLaterVerdict::InvalidDate);
    choice.DateValid = true;
    EXPECT_EQ(DecideSendLaterMoment(choice, 0).Verdict, SendLaterVerdict::InvalidTime);
    EXPECT_EQ(SendLaterVerdictText(SendLaterVerdict::InvalidDate), "Please enter a valid date.");
    EXPECT_EQ(SendLaterVerdictText(SendLaterVerdict::InvalidTime), "Please enter a valid time.");
}

} // namespace
