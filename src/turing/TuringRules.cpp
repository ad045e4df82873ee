#include "turing/TuringRules.h"

#include "settings/Options.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr int32_t kMaxDelay = 900;

char FoldCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool CharMatches(char text, char pattern)
{
    return pattern == '?' || FoldCase(text) == FoldCase(pattern);
}

// Does the segment [pattern, pattern + length) match the text at `text`?
bool SegmentMatches(const char* text, const char* pattern, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (!CharMatches(text[i], pattern[i]))
            return false;
    return true;
}

bool IsCStyleSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C runtime's atoi, saturating instead of overflowing.
int32_t ToInteger(const std::string& field)
{
    size_t i = 0;
    while (i < field.size() && IsCStyleSpace(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > std::numeric_limits<int32_t>::max())
            value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    }
    value = negative ? -value : value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::vector<std::string> SplitAtTabs(const std::string& value)
{
    std::vector<std::string> fields(1);
    for (char c : value) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

bool MatchWildcard(const char* text, const char* pattern)
{
    if (!text)
        text = "";
    if (!pattern)
        pattern = "";
    if (std::strcmp(pattern, "*") == 0)
        return true;

    // The part before the first "*" anchors at the start of the text.
    for (; *pattern && *pattern != '*'; ++pattern, ++text)
        if (!*text || !CharMatches(*text, *pattern))
            return false;
    if (!*pattern)
        return !*text;

    size_t remaining = std::strlen(text);
    for (;;) {
        while (*pattern == '*')
            ++pattern;
        if (!*pattern)
            return true; // a trailing "*" takes any rest
        const char* end = std::strchr(pattern, '*');
        size_t length = end ? static_cast<size_t>(end - pattern) : std::strlen(pattern);
        if (length > remaining)
            return false;
        if (!end) // the last segment anchors at the end of the text
            return SegmentMatches(text + remaining - length, pattern, length);
        // A middle segment takes its leftmost place; that never loses a match.
        size_t start = 0;
        while (start + length <= remaining && !SegmentMatches(text + start, pattern, length))
            ++start;
        if (start + length > remaining)
            return false;
        text += start + length;
        remaining -= start + length;
        pattern = end;
    }
}

void NormalizeResponseMessage(std::string& message)
{
    size_t lead = 0;
    while (message.compare(lead, 4, "\r\n\r\n") == 0)
        lead += 2;
    message.erase(0, lead);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    std::replace(message.begin(), message.end(), '\t', ' ');
}

std::string FormatResponseValue(const TuringResponse& response)
{
    return std::to_string(response.Probability) + "%\t" + std::to_string(response.MinDelay) + "\t" +
           std::to_string(response.MaxDelay) + "\t" + response.Message;
}

TuringResponse ParseResponseValue(const std::string& value)
{
    std::vector<std::string> fields = SplitAtTabs(value);
    fields.resize(std::max<size_t>(fields.size(), 4));

    TuringResponse response;
    std::string probability = fields[0];
    while (!probability.empty() && probability.back() == '%')
        probability.pop_back();
    if (probability.empty())
        probability = "100";
    response.Probability = std::clamp(ToInteger(probability), 0, 100);

    int32_t first = std::clamp(ToInteger(fields[1].empty() ? "0" : fields[1]), 0, kMaxDelay);
    int32_t second = std::clamp(ToInteger(fields[2].empty() ? "0" : fields[2]), 0, kMaxDelay);
    response.MinDelay = std::min(first, second);
    response.MaxDelay = std::max(first, second);

    response.Message = fields[3];
    NormalizeResponseMessage(response.Message);
    if (response.Message.empty())
        response.Message = kDefaultTuringMessage;
    return response;
}

void LoadTuringRules(const COptions& options, std::vector<TuringRule>& rules)
{
    rules.clear();
    if (options.Get(Opt::Turing) == 0)
        return;
    StoredRule stored;
    for (int n = 0; options.ReadRule(n, stored); ++n) {
        TuringRule rule;
        rule.Name = stored.Name;
        rule.Condition = stored.Condition;
        for (const std::string& value : stored.Responses)
            rule.Responses.push_back(ParseResponseValue(value));
        rules.push_back(std::move(rule));
    }
}

bool SaveTuringRules(COptions& options, const std::vector<TuringRule>& rules)
{
    if (options.Get(Opt::Turing) == 0)
        return true;
    bool ok = true;
    int n = 0;
    for (const TuringRule& rule : rules) {
        StoredRule stored{rule.Name, rule.Condition, {}};
        for (const TuringResponse& response : rule.Responses)
            stored.Responses.push_back(FormatResponseValue(response));
        ok &= options.WriteRule(n++, stored);
    }
    // Rules beyond the list go. A deletion that fails ends the sweep rather than
    // retrying the same rule for ever.
    StoredRule leftover;
    for (; options.ReadRule(n, leftover); ++n) {
        if (!options.DeleteRule(n))
            return false;
    }
    return ok;
}
