#include "sendlater/SendLaterMoment.h"

#include "sendlater/SendLater.h"

#include <cctype>
#include <climits>

bool ParseWholeNumber(const std::string& text, int& value)
{
    size_t i = 0, end = text.size();
    while (i < end && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == end)
        return false;
    long long number = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + (text[i] - '0');
        if (number > INT_MAX)
            number = INT_MAX; // reads as out of range, not as a wrapped small number
    }
    value = static_cast<int>(negative ? -number : number);
    return true;
}

SendLaterDecision DecideSendLaterMoment(const SendLaterChoice& choice, std::time_t now)
{
    SendLaterDecision decision;
    // The edits are checked whichever option is chosen, as the dialog reads all its
    // controls before it looks at the option.
    if (!ParseWholeNumber(choice.HoursText, decision.Hours)) {
        decision.Verdict = SendLaterVerdict::HoursNotNumber;
        return decision;
    }
    if (decision.Hours < 0 || decision.Hours > kSendLaterMaxHours) {
        decision.Verdict = SendLaterVerdict::HoursRange;
        return decision;
    }
    if (!ParseWholeNumber(choice.MinutesText, decision.Minutes)) {
        decision.Verdict = SendLaterVerdict::MinutesNotNumber;
        return decision;
    }
    if (decision.Minutes < 0 || decision.Minutes > kSendLaterMaxMinutes) {
        decision.Verdict = SendLaterVerdict::MinutesRange;
        return decision;
    }

    switch (choice.Mode) {
    case SendLaterMode::None:
        decision.Verdict = SendLaterVerdict::NoOption;
        return decision;
    case SendLaterMode::Delay:
        decision.Moment =
            now + static_cast<std::time_t>(decision.Hours * 60 + decision.Minutes) * 60;
        decision.Verdict = SendLaterVerdict::Accept;
        return decision;
    case SendLaterMode::Date:
        break;
    }
    if (!choice.DateValid) {
        decision.Verdict = SendLaterVerdict::InvalidDate;
        return decision;
    }
    if (!choice.TimeValid) {
        decision.Verdict = SendLaterVerdict::InvalidTime;
        return decision;
    }
    std::tm local{};
    local.tm_year = choice.Year - 1900;
    local.tm_mon = choice.Month - 1;
    local.tm_mday = choice.Day;
    local.tm_hour = choice.Hour;
    local.tm_min = choice.Minute;
    local.tm_sec = choice.Second;
    local.tm_isdst = -1;
    std::time_t moment = std::mktime(&local);
    if (moment == static_cast<std::time_t>(-1)) {
        decision.Verdict = SendLaterVerdict::InvalidDate;
        return decision;
    }
    // The current second itself is accepted: it is sent at the next poll.
    if (moment < now) {
        decision.Verdict = SendLaterVerdict::InThePast;
        return decision;
    }
    decision.Moment = moment;
    decision.Verdict = SendLaterVerdict::Accept;
    return decision;
}

std::string SendLaterVerdictText(SendLaterVerdict verdict)
{
    switch (verdict) {
    case SendLaterVerdict::Accept:
        return {};
    case SendLaterVerdict::NoOption:
        return kSendLaterNoOptionText;
    case SendLaterVerdict::HoursNotNumber:
    case SendLaterVerdict::MinutesNotNumber:
        return "Please enter an integer.";
    case SendLaterVerdict::HoursRange:
        return "Please enter an integer between 0 and " + std::to_string(kSendLaterMaxHours) + ".";
    case SendLaterVerdict::MinutesRange:
        return "Please enter an integer between 0 and " + std::to_string(kSendLaterMaxMinutes) +
               ".";
    case SendLaterVerdict::InvalidDate:
        return "Please enter a valid date.";
    case SendLaterVerdict::InvalidTime:
        return "Please enter a valid time.";
    case SendLaterVerdict::InThePast:
        return kSendLaterPastText;
    }
    return {};
}
