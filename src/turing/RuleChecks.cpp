#include "turing/RuleChecks.h"

#include <algorithm>

std::string DelayRangeText()
{
    return "The delay time must be between 0 and " + std::to_string(kMaxResponseDelay) +
           " seconds.";
}

std::string MessageLengthText()
{
    return "The message is limited to " + std::to_string(kMaxResponseLength) + " characters.";
}

std::string DelayFieldText()
{
    return "Please specify a delay between 0 and " + std::to_string(kMaxResponseDelay) + ".";
}

namespace {

bool InRange(int32_t value, int32_t maximum)
{
    return value >= 0 && value <= maximum;
}

// Length and emptiness of a message as it would be stored.
bool CheckMessage(const std::string& message, std::string& normalized, std::string& text)
{
    normalized = message;
    NormalizeResponseMessage(normalized);
    if (normalized.size() > static_cast<size_t>(kMaxResponseLength)) {
        text = MessageLengthText();
        return false;
    }
    if (normalized.empty()) {
        text = kNoMessage;
        return false;
    }
    return true;
}

} // namespace

bool ValidateResponse(const TuringResponse& response, std::string& text)
{
    if (!InRange(response.MinDelay, kMaxResponseDelay) ||
        !InRange(response.MaxDelay, kMaxResponseDelay)) {
        text = DelayRangeText();
        return false;
    }
    if (!InRange(response.Probability, 100)) {
        text = kProbabilityRange;
        return false;
    }
    std::string normalized;
    return CheckMessage(response.Message, normalized, text);
}

bool ValidateRule(const TuringRule& rule, RuleCheckResult& result)
{
    auto fail = [&](int32_t field, int32_t response, std::string text) {
        result.Field = field;
        result.ResponseFailed = field == 2;
        result.ResponseIndex = response;
        result.Text = std::move(text);
        return false;
    };
    if (rule.Condition.empty())
        return fail(1, 0, kNoCondition);
    if (rule.Responses.empty())
        return fail(2, 0, kNoResponse);
    // Summed wide so that no number of responses can wrap the total.
    int64_t total = 0;
    for (size_t i = 0; i < rule.Responses.size(); ++i) {
        std::string text;
        if (!ValidateResponse(rule.Responses[i], text))
            return fail(2, static_cast<int32_t>(i), text);
        total += rule.Responses[i].Probability;
    }
    if (total > 100)
        return fail(2, 0, kTotalProbability);
    return true;
}

bool ValidateRules(const std::vector<TuringRule>& rules, RuleCheckResult& result)
{
    for (size_t i = 0; i < rules.size(); ++i) {
        if (!ValidateRule(rules[i], result)) {
            result.RuleFailed = true;
            result.RuleIndex = static_cast<int32_t>(i);
            return false;
        }
    }
    return true;
}

std::string ResponseDisplayText(const TuringResponse& response)
{
    std::string delay = std::to_string(response.MinDelay);
    if (response.MinDelay != response.MaxDelay)
        delay += " - " + std::to_string(response.MaxDelay);
    return std::to_string(response.Probability) + "%\t" + delay + "\t" + response.Message;
}

bool ParseWholeNumber(const std::string& text, int maximum, int& value)
{
    // Blanks around the number are what a spin box may leave; anything else is refused.
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return false;
    size_t last = text.find_last_not_of(' ');
    if (last - first + 1 > 6)
        return false;
    int number = 0;
    for (size_t i = first; i <= last; ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number > maximum)
        return false;
    value = number;
    return true;
}

ResponseEntry CheckResponseEntry(const std::string& minDelay, const std::string& maxDelay,
                                 const std::string& probability, const std::string& message)
{
    ResponseEntry entry;
    int low = 0, high = 0, percent = 0;
    if (!ParseWholeNumber(minDelay, kMaxResponseDelay, low)) {
        entry.Failed = ResponseField::MinDelay;
        entry.Text = DelayFieldText();
        return entry;
    }
    if (!ParseWholeNumber(maxDelay, kMaxResponseDelay, high)) {
        entry.Failed = ResponseField::MaxDelay;
        entry.Text = DelayFieldText();
        return entry;
    }
    if (!ParseWholeNumber(probability, 100, percent)) {
        entry.Failed = ResponseField::Probability;
        entry.Text = kProbabilityField;
        return entry;
    }
    std::string normalized;
    if (!CheckMessage(message, normalized, entry.Text)) {
        entry.Failed = ResponseField::Message;
        return entry;
    }
    entry.Response.MinDelay = std::min(low, high);
    entry.Response.MaxDelay = std::max(low, high);
    entry.Response.Probability = percent;
    entry.Response.Message = normalized;
    return entry;
}

void CoupleMinDelay(int newMin, int& max)
{
    if (newMin > max)
        max = newMin;
}

void CoupleMaxDelay(int newMax, int& min)
{
    if (newMax < min)
        min = newMax;
}

int PositionAfterDelete(int position, int remaining)
{
    if (remaining <= 0)
        return -1;
    return position < remaining ? position : remaining - 1;
}
