#include "net/DeliveryReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {
bool IsWhite(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
} // namespace

std::string MessageExcerpt(const std::string& text)
{
    constexpr int kLimit = 25;
    if (text.size() <= static_cast<size_t>(kLimit))
        return text;

    std::string line = text;
    line.erase(0, line.find_first_not_of('\n'));
    if (size_t feed = line.find('\n'); feed != std::string::npos)
        line.resize(feed);
    size_t first = 0;
    while (first < line.size() && IsWhite(line[first]))
        ++first;
    line.erase(0, first);

    int n = std::min(static_cast<int>(line.size()), kLimit);
    // The rightmost blank far enough from the end leaves room for the dots; without one
    // the words are cut hard. The cut may fall before the start: nothing is kept then.
    int cut = n - 3;
    for (int pos = n - 4; pos >= 0; --pos) {
        if (IsWhite(line[pos])) {
            cut = pos;
            break;
        }
    }
    std::string excerpt = cut > 0 ? line.substr(0, static_cast<size_t>(cut)) : std::string();
    while (!excerpt.empty() && IsWhite(excerpt.back()))
        excerpt.pop_back();
    return excerpt + "...";
}

std::string FormatClockTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    int hour = local.tm_hour % 12;
    if (hour == 0)
        hour = 12;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return buffer;
}

std::string FormatSentDescription(const std::string& recipients, std::time_t sendTime,
                                  const std::string& text)
{
    return "to " + recipients + " at " + FormatClockTime(sendTime) + " (\"" + MessageExcerpt(text) +
           "\")";
}

std::string FormatDeliveryReport(bool confirmed, const std::string& description)
{
    if (confirmed)
        return "Zib Tam has good news for you!  The message you sent " + description +
               " was delivered successfully.";
    return "Zib Tam could not confirm that the message you sent " + description +
           " was delivered successfully.";
}
