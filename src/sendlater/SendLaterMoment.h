#pragma once
// What the "Send Message Later" dialog decides when OK is pressed: the two number edits
// are checked first, then the chosen option gives the moment. The dialog only reads its
// controls into a SendLaterChoice and shows what comes back.
#include <ctime>
#include <string>

enum class SendLaterMode
{
    None,  // neither option chosen: OK asks for one
    Delay, // "I want to send the message in" hours and minutes
    Date,  // "I want to send this message on" a date at a time
};

struct SendLaterChoice
{
    SendLaterMode Mode = SendLaterMode::None;
    std::string HoursText = "0";   // as typed in the hours edit
    std::string MinutesText = "0"; // as typed in the minutes edit
    bool DateValid = true;
    bool TimeValid = true;
    int Year = 1970, Month = 1, Day = 1;  // the date picker
    int Hour = 0, Minute = 0, Second = 0; // the time picker
};

enum class SendLaterVerdict
{
    NoOption,       // neither option chosen: the dialog asks for one and stays open
    Accept,         // `moment` holds the moment
    HoursNotNumber, // the hours edit does not hold a whole number
    HoursRange,
    MinutesNotNumber,
    MinutesRange,
    InvalidDate,
    InvalidTime,
    InThePast,
};

struct SendLaterDecision
{
    SendLaterVerdict Verdict = SendLaterVerdict::NoOption;
    std::time_t Moment = 0;
    int Hours = 0; // the numbers read, for "SendLaterHours" and "SendLaterMinutes"
    int Minutes = 0;
};

inline constexpr int kSendLaterMaxHours = 23;
inline constexpr int kSendLaterMaxMinutes = 59;

// `now` is the calendar time at the press of OK; the picked date and time are local time.
SendLaterDecision DecideSendLaterMoment(const SendLaterChoice& choice, std::time_t now);

// The message the dialog shows for a refusal; empty for Accept.
std::string SendLaterVerdictText(SendLaterVerdict verdict);

// A whole number as an edit holds it (blanks around it allowed); false otherwise.
bool ParseWholeNumber(const std::string& text, int& value);
