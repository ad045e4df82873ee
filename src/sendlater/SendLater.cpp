#include "sendlater/SendLater.h"

#include "platform/Clock.h"
#include "platform/Registry.h"
#include "settings/Options.h"

#include <cstdint>
#include <limits>

namespace {

std::vector<std::string> SplitLines(const std::string& value)
{
    std::vector<std::string> lines;
    if (value.empty())
        return lines;
    size_t start = 0;
    for (;;) {
        size_t end = value.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(value.substr(start));
            return lines;
        }
        lines.push_back(value.substr(start, end - start));
        start = end + 1;
    }
}

// A plain decimal number; values too large for the clock read as the farthest moment.
bool ParseMoment(const std::string& line, std::time_t& moment)
{
    if (line.empty())
        return false;
    uint64_t value = 0;
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<std::time_t>::max());
    for (char c : line) {
        if (c < '0' || c > '9')
            return false;
        value = value > (kLimit - 9) / 10 ? kLimit : value * 10 + static_cast<uint64_t>(c - '0');
    }
    moment = static_cast<std::time_t>(value);
    return true;
}

bool IsFreeSlot(const std::optional<RegValue>& value)
{
    return !value || value->Type != RegType::String || value->Text.empty();
}

} // namespace

std::string FormatScheduledValue(const ScheduledMessage& message)
{
    std::string value = std::to_string(message.Moment < 0 ? 0 : message.Moment);
    value += '\n';
    for (const std::string& name : message.Recipients)
        value += name + '\n';
    value += '\n';
    value += message.Text;
    return value;
}

ScheduledParse ParseScheduledValue(const std::string& value, ScheduledMessage& message)
{
    std::vector<std::string> lines = SplitLines(value);
    if (lines.empty() || !ParseMoment(lines[0], message.Moment))
        return ScheduledParse::Malformed;
    message.Recipients.clear();
    message.Text.clear();
    size_t i = 1;
    for (; i < lines.size() && !lines[i].empty(); ++i)
        message.Recipients.push_back(lines[i]);
    if (i == lines.size())
        return ScheduledParse::NoSeparator;
    for (size_t first = ++i; i < lines.size(); ++i) {
        if (i > first)
            message.Text += '\n';
        message.Text += lines[i];
    }
    return ScheduledParse::Ok;
}

CSendLater::CSendLater(COptions& options, const IClock& clock) : m_options(options), m_clock(clock)
{}

std::optional<std::time_t> CSendLater::NextMoment() const
{
    CRegKey key(m_options.Registry(), KeyPath(), false);
    if (!key.IsOpen())
        return std::nullopt;
    std::optional<std::time_t> earliest;
    for (const RegValue& value : key.Values()) {
        ScheduledMessage message;
        // GetDueMessage deletes a malformed value at once.
        if (value.Type != RegType::String ||
            ParseScheduledValue(value.Text, message) == ScheduledParse::Malformed)
            message.Moment = std::numeric_limits<std::time_t>::min();
        if (!earliest || message.Moment < *earliest)
            earliest = message.Moment;
    }
    return earliest;
}

std::string CSendLater::KeyPath() const
{
    return m_options.ProductKey() + "\\SendLater";
}

bool CSendLater::ScheduleMessage(const std::string& text,
                                 const std::vector<std::string>& recipients,
                                 const MomentChooser& chooseMoment, std::string& errorText)
{
    errorText.clear();
    if (text.empty()) {
        errorText = kSendLaterEmptyText;
        return false;
    }
    std::time_t moment = 0;
    if (!chooseMoment || !chooseMoment(moment))
        return false;
    return ScheduleMessage(text, recipients, moment, errorText);
}

bool CSendLater::ScheduleMessage(const std::string& text,
                                 const std::vector<std::string>& recipients, std::time_t moment,
                                 std::string& errorText)
{
    errorText.clear();
    if (text.empty()) {
        errorText = kSendLaterEmptyText;
        return false;
    }
    if (!Store({moment, recipients, kScheduledPrefix + text})) {
        errorText = kSendLaterNoRegistryText;
        return false;
    }
    return true;
}

bool CSendLater::Store(const ScheduledMessage& message)
{
    std::string value = FormatScheduledValue(message);
    CRegKey key(m_options.Registry(), KeyPath(), true);
    if (!key.IsOpen())
        return false;
    int n = 1;
    while (!IsFreeSlot(key.Query(std::to_string(n))))
        ++n;
    // A write that did not land is reported, so the text stays with the user.
    return key.SetString(std::to_string(n), value);
}

bool CSendLater::GetDueMessage(std::vector<std::string>& recipients, std::string& text,
                               std::time_t* moment)
{
    CRegKey key(m_options.Registry(), KeyPath(), false);
    if (!key.IsOpen())
        return false;
    std::time_t now = m_clock.Now();
    for (const RegValue& value : key.Values()) {
        ScheduledMessage message;
        ScheduledParse parsed = value.Type == RegType::String
                                    ? ParseScheduledValue(value.Text, message)
                                    : ScheduledParse::Malformed;
        if (parsed == ScheduledParse::Malformed) {
            key.DeleteValue(value.Name);
            continue;
        }
        if (message.Moment >= now)
            continue;
        // Only the copy whose deletion removed the value sends it, so two processes
        // polling the same store never both send one message.
        if (!key.DeleteValue(value.Name) || parsed != ScheduledParse::Ok)
            return false;
        recipients = std::move(message.Recipients);
        text = std::move(message.Text);
        if (moment)
            *moment = message.Moment;
        return true;
    }
    return false;
}
