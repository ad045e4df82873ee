#include "view/PrefixFormat.h"

#include "common/ChatMessage.h"
#include "view/MessageTimeFormat.h"

#include <ctime>
#include <iterator>

namespace {

using K = PrefixRowKind;
using P = AmPmForm;

// Rows of one letter come after the longer rows they begin, so the longest token wins.
const PrefixTokenRow kRows[31] = {
    {K::LinkOpen, "<a>", "", true, P::None},    {K::LinkClose, "</a>", "", true, P::None},
    {K::Sender, "u", "", true, P::None},        {K::Recipients, "r", "", true, P::None},
    {K::Time, "ttttt", "%X", true, P::None},    {K::Time, "TT", "%p", false, P::AsIs},
    {K::Time, "T", "%p", false, P::First},      {K::Time, "tt", "%p", false, P::Lower},
    {K::Time, "t", "%p", false, P::LowerFirst}, {K::Time, "HH", "%H", false, P::None},
    {K::Time, "H", "%#H", false, P::None},      {K::Time, "hh", "%I", false, P::None},
    {K::Time, "h", "%#I", false, P::None},      {K::Time, "dddddd", "%#x", true, P::None},
    {K::Time, "ddddd", "%x", true, P::None},    {K::Time, "dddd", "%A", true, P::None},
    {K::Time, "ddd", "%a", true, P::None},      {K::Time, "dd", "%d", true, P::None},
    {K::Time, "d", "%#d", true, P::None},       {K::Time, "mmmm", "%B", true, P::None},
    {K::Time, "mmm", "%b", true, P::None},      {K::Time, "mm", "%m", true, P::None},
    {K::Time, "m", "%#m", true, P::None},       {K::Time, "nn", "%M", true, P::None},
    {K::Time, "n", "%#M", true, P::None},       {K::Time, "ss", "%S", true, P::None},
    {K::Time, "s", "%#S", true, P::None},       {K::Time, "yyyy", "%Y", true, P::None},
    {K::Time, "yyy", "%Y", true, P::None},      {K::Time, "yy", "%y", true, P::None},
    {K::Time, "y", "%y", true, P::None},
};

const char* const kPresets[7] = {
    "<a>u</a> ('to' <a>r</a>)> ",
    "<a>u</a> ('to' <a>r</a>) H:nn> ",
    "<a>u</a> ('to' <a>r</a>) h:nn TT> ",
    "<a>u</a> ('to' <a>r</a>) ddd H:nn> ",
    "<a>u</a> ('to' <a>r</a>) ddd h:nn TT> ",
    "<a>u</a> ('to' <a>r</a>) ddd h:nn:ss TT> ",
    "<a>u</a> ('to' <a>r</a>) m/d/yy H:nn> ",
};

// ASCII only: the tokens are ASCII, and the user's locale must not change what matches.
char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Matches(std::string_view text, size_t pos, const PrefixTokenRow& row)
{
    std::string_view token(row.Token);
    if (text.size() - pos < token.size())
        return false;
    for (size_t i = 0; i < token.size(); ++i) {
        char a = text[pos + i];
        char b = token[i];
        if (row.AnyCase ? AsciiLower(a) != AsciiLower(b) : a != b)
            return false;
    }
    return true;
}

PrefixToken Literal(char c)
{
    return PrefixToken{true, c, -1};
}

void AppendAmPm(std::string& out, const char* amPm, AmPmForm form)
{
    std::string_view text(amPm);
    if (text.empty())
        return;
    switch (form) {
    case AmPmForm::AsIs:
        out += text;
        break;
    case AmPmForm::First:
        out += text[0];
        break;
    case AmPmForm::Lower:
        for (char c : text)
            out += AsciiLower(c);
        break;
    case AmPmForm::LowerFirst:
        out += AsciiLower(text[0]);
        break;
    case AmPmForm::None:
        break;
    }
}

} // namespace

std::span<const PrefixTokenRow> PrefixTokenTable()
{
    return kRows;
}

void CPrefixFormat::Parse(std::string_view format)
{
    if (!m_tokens.empty())
        return;
    // The format ends at its first zero byte, as a stored text does.
    format = format.substr(0, format.find('\0'));
    if (format.empty())
        return;

    const size_t size = format.size();
    size_t pos = 0;
    while (pos < size) {
        const char c = format[pos];
        if (c == '\'' || c == '"') {
            if (pos + 1 < size && format[pos + 1] == c) {
                m_tokens.push_back(Literal(c));
                pos += 2;
                continue;
            }
            if (pos + 1 >= size)
                break;
            // A quoted run: doubled quotes are one literal quote; an unclosed run goes on
            // to the end of the format.
            ++pos;
            while (pos < size) {
                if (format[pos] == c) {
                    if (pos + 1 < size && format[pos + 1] == c) {
                        m_tokens.push_back(Literal(c));
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                m_tokens.push_back(Literal(format[pos]));
                ++pos;
            }
            continue;
        }

        // One pass over the table: after a match the pass goes on with the next row at the
        // new position, so "TTTT" gives "TT", "T", "T".
        bool matched = false;
        for (size_t row = 0; row < std::size(kRows); ++row) {
            if (pos < size && Matches(format, pos, kRows[row])) {
                m_tokens.push_back(PrefixToken{false, 0, static_cast<int>(row)});
                pos += std::string_view(kRows[row].Token).size();
                matched = true;
                if (kRows[row].Kind == PrefixRowKind::Time)
                    m_hasTimeTokens = true;
            }
        }
        if (!matched) {
            m_tokens.push_back(Literal(c));
            ++pos;
        }
    }
}

std::string CPrefixFormat::Format(const MessageTime& time, std::string_view sender,
                                  std::string_view recipients, int messageIndex, int offset,
                                  std::vector<PrefixLink>* links) const
{
    if (m_tokens.empty())
        return "ERROR";

    const bool usable = time.IsUsable();
    std::tm calendar{};
    bool converted = false;
    if (m_hasTimeTokens && usable)
        converted = ToCalendarTime(time, calendar);
    const char* amPm = converted ? AmPmText(calendar.tm_hour) : "";

    std::string out;
    out.reserve(m_tokens.size() + sender.size() + recipients.size() + 16);

    const size_t none = static_cast<size_t>(-1);
    size_t openIndex = none;
    size_t openLength = 0;
    for (size_t i = 0; i < m_tokens.size(); ++i) {
        const PrefixToken& token = m_tokens[i];
        if (token.IsLiteral) {
            out += token.Literal;
            continue;
        }
        const PrefixTokenRow& row = kRows[token.Row];
        switch (row.Kind) {
        case PrefixRowKind::LinkOpen:
            openIndex = i;
            openLength = out.size();
            break;
        case PrefixRowKind::LinkClose:
            // Only "<a>u</a>" and "<a>r</a>" make a link; any other arrangement of the
            // markers produces nothing.
            if (links != nullptr && openIndex != none && i == openIndex + 2) {
                const PrefixToken& inner = m_tokens[openIndex + 1];
                if (!inner.IsLiteral && (kRows[inner.Row].Kind == PrefixRowKind::Sender ||
                                         kRows[inner.Row].Kind == PrefixRowKind::Recipients)) {
                    PrefixLink link;
                    link.Kind = kRows[inner.Row].Kind == PrefixRowKind::Sender
                                    ? kPrefixLinkSender
                                    : kPrefixLinkRecipients;
                    link.Start = static_cast<int32_t>(static_cast<int64_t>(openLength) + offset);
                    link.End = static_cast<int32_t>(static_cast<int64_t>(out.size()) + offset);
                    link.MessageIndex = messageIndex;
                    links->push_back(link);
                }
            }
            break;
        case PrefixRowKind::Sender:
            out += sender;
            break;
        case PrefixRowKind::Recipients:
            out += recipients;
            break;
        case PrefixRowKind::Time:
            if (!usable)
                out += '?';
            else if (!converted)
                break;
            else if (row.AmPm != AmPmForm::None)
                AppendAmPm(out, amPm, row.AmPm);
            else
                AppendTime(out, calendar, row.Conversion);
            break;
        }
    }
    return out;
}

std::string FormatRecipients(bool allUsers, const std::vector<std::string>& recipients)
{
    if (allUsers)
        return "all users";
    switch (recipients.size()) {
    case 0:
        return "???";
    case 1:
        return recipients[0];
    case 2:
        return recipients[0] + " and " + recipients[1];
    default:
        break;
    }
    std::string line;
    for (size_t i = 0; i + 1 < recipients.size(); ++i) {
        line += recipients[i];
        line += ", ";
    }
    line += "and ";
    line += recipients.back();
    return line;
}

std::string FormatRecipients(const ChatMessage& message)
{
    return FormatRecipients(message.AllUsers, message.Recipients);
}

std::span<const char* const> PrefixFormatPresets()
{
    return kPresets;
}

MessageTime PrefixSampleTime()
{
    MessageTime time;
    time.Year = 2000;
    time.Month = 5;
    time.Day = 8;
    time.Hour = 15;
    time.Minute = 47;
    time.Second = 38;
    time.HasYear = time.HasMonth = time.HasDay = true;
    time.HasHour = time.HasMinute = time.HasSecond = true;
    return time;
}

std::string FormatPrefixSample(std::string_view format)
{
    CPrefixFormat parsed(format);
    return parsed.Format(PrefixSampleTime(), kPrefixSampleSender, kPrefixSampleRecipients, 0, 0);
}
