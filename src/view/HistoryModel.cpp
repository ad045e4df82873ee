#include "view/HistoryModel.h"

#include "view/MessageTimeFormat.h"

#include <algorithm>
#include <cctype>

FontSpec HistoryDisplaySettings::DefaultPrefixFont()
{
    FontSpec font;
    font.Valid = true;
    font.FaceName = "Times New Roman";
    font.Size = 200;
    font.Bold = true;
    return font;
}

FontSpec HistoryDisplaySettings::DefaultMessageFont()
{
    FontSpec font = DefaultPrefixFont();
    font.Bold = false;
    return font;
}

CHistoryEditModel::CHistoryEditModel()
{
    m_format.Parse(m_settings.PrefixFormat);
}

void CHistoryEditModel::Configure(const HistoryDisplaySettings& settings)
{
    m_settings = settings;
    m_format = CPrefixFormat(m_settings.PrefixFormat);
}

HistoryStream CHistoryEditModel::Show(std::span<const ChatMessage> messages, bool append)
{
    HistoryStream stream;
    bool cleared = false; // a reload notice goes, even if nothing follows it
    if (m_reloadPending) {
        m_reloadPending = false;
        ClearAll();
        cleared = true;
    }
    if (!append)
        m_textLength = 0;
    else if (messages.empty() && !cleared)
        return stream;
    // The caller may pass our own list (a redisplay): work from a copy then.
    std::vector<ChatMessage> own;
    if (!messages.empty() && !m_messages.empty() && messages.data() >= m_messages.data() &&
        messages.data() < m_messages.data() + m_messages.size()) {
        own.assign(messages.begin(), messages.end());
        messages = own;
    }
    const int shownBefore = append ? static_cast<int>(m_messages.size()) : 0;
    if (!append) {
        m_messages.clear();
        m_ranges.clear();
        m_links.clear();
    }
    stream.ReplaceAll = !append || cleared;
    stream.Paragraphs.reserve(messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        const ChatMessage& message = messages[i];
        std::vector<PrefixLink> links;
        // The links are placed in the prefix as formatted; they move with the characters
        // that the view drops.
        std::string prefix =
            NormalisePrefix(m_format.Format(message.Time, message.Sender, FormatRecipients(message),
                                            static_cast<int>(i) + shownBefore, m_textLength,
                                            m_settings.Links ? &links : nullptr),
                            m_textLength, links);
        std::string text = NormaliseHistoryText(message.Text);
        std::vector<TextSpan> addresses = FindAddresses(text);
        text = BreakLongRuns(std::move(text), &addresses);
        MessageRange range;
        range.Start = m_textLength;
        range.End = range.Start + static_cast<int32_t>(prefix.size() + text.size()) + 1;
        const int32_t textStart = range.Start + static_cast<int32_t>(prefix.size());
        for (const TextSpan& address : addresses)
            stream.Addresses.push_back({textStart + address.Start, textStart + address.End});
        m_textLength = range.End;
        m_ranges.push_back(range);
        m_messages.push_back(message);
        stream.Links.insert(stream.Links.end(), links.begin(), links.end());
        stream.Paragraphs.push_back({std::move(prefix), std::move(text)});
    }
    m_links.insert(m_links.end(), stream.Links.begin(), stream.Links.end());
    stream.Draw = !(m_notDisplayed && append && !cleared);
    if (!stream.Draw)
        stream.Paragraphs.clear();
    return stream;
}

std::optional<HistoryNotice> CHistoryEditModel::FinishShow(bool drawn, bool cancelled)
{
    // Messages only stored while the notice shows leave it in place.
    if (!drawn)
        return std::nullopt;
    m_notDisplayed = cancelled;
    if (!cancelled)
        return std::nullopt;
    return Notice(kNotDisplayedNotice, kNotDisplayedLink);
}

HistoryStream CHistoryEditModel::Redisplay()
{
    return Show(m_messages, false);
}

HistoryNotice CHistoryEditModel::ShowReloadNotice(std::string_view text)
{
    ClearAll();
    m_reloadPending = true;
    return Notice(text, kReloadLink);
}

HistoryNotice CHistoryEditModel::Notice(std::string_view text, std::string_view link)
{
    std::string line = NormaliseHistoryText(text);
    HistoryNotice notice;
    notice.Link.Start = static_cast<int32_t>(line.size()) + 2;
    notice.Link.End = notice.Link.Start + static_cast<int32_t>(link.size());
    line += "  ";
    line += link;
    line += '.';
    notice.Line = std::move(line);
    return notice;
}

void CHistoryEditModel::ClearAll()
{
    m_messages.clear();
    m_ranges.clear();
    m_links.clear();
    m_textLength = 0;
}

HistoryStream CHistoryEditModel::ClearSelected(int32_t s, int32_t e, int32_t& caret)
{
    if (e < s)
        std::swap(s, e);
    int lowest = -1;
    for (int i = static_cast<int>(m_ranges.size()) - 1; i >= 0; --i) {
        const int32_t a = m_ranges[static_cast<size_t>(i)].Start;
        const int32_t b = m_ranges[static_cast<size_t>(i)].End;
        const bool touches = (s == e && s == a) || (s > a && s < b) || (e > a && e < b) ||
                             (a > s && a < e) || (b > s && b < e) ||
                             (s >= a && e <= b && s != b && e != a) ||
                             (a >= s && b <= e && a != e && b != s);
        if (!touches)
            continue;
        m_messages.erase(m_messages.begin() + i);
        m_ranges.erase(m_ranges.begin() + i);
        lowest = i;
    }
    HistoryStream stream = Redisplay();
    if (lowest < 0)
        caret = s;
    else if (static_cast<size_t>(lowest) >= m_ranges.size())
        caret = m_textLength;
    else
        caret = m_ranges[static_cast<size_t>(lowest)].Start;
    return stream;
}

HistoryClick CHistoryEditModel::Click(int32_t start, int32_t end, std::string_view text) const
{
    HistoryClick click;
    if (text.empty())
        return click;
    if (m_reloadPending) {
        click.What = HistoryClick::Action::Reload;
    } else if (m_notDisplayed) {
        click.What = HistoryClick::Action::Redisplay;
    } else {
        for (const PrefixLink& link : m_links)
            if (link.Start == start && link.End == end) {
                if (link.MessageIndex < 0 ||
                    static_cast<size_t>(link.MessageIndex) >= m_messages.size())
                    return click;
                click.What = HistoryClick::Action::NameLink;
                click.MessageIndex = link.MessageIndex;
                click.LinkKind = link.Kind;
                return click;
            }
        click.What = HistoryClick::Action::Open;
        click.Target = std::string(text);
        // A bare e-mail address is opened as one.
        if (click.Target.find("://") == std::string::npos &&
            click.Target.find('@') != std::string::npos &&
            click.Target.compare(0, 7, "mailto:") != 0)
            click.Target = "mailto:" + click.Target;
    }
    return click;
}

bool IsFromCutoff(const MessageTime& time, std::time_t cutoff)
{
    std::time_t when = 0;
    return ToCalendarSeconds(time, when) && when >= cutoff;
}

namespace {

// `at`, when given, receives for each offset of `text` (and its end) the offset in the
// result where that character's output starts.
std::string Normalise(std::string_view text, std::vector<int32_t>* at)
{
    std::string out;
    out.reserve(text.size());
    if (at)
        at->assign(text.size() + 1, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        if (at)
            (*at)[i] = static_cast<int32_t>(out.size());
        const char c = text[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
                if (at)
                    (*at)[i] = static_cast<int32_t>(out.size());
            }
        } else if (static_cast<unsigned char>(c) >= 32 || c == '\t' || c == '\n') {
            out += c;
        }
    }
    if (at)
        at->back() = static_cast<int32_t>(out.size());
    return out;
}

} // namespace

std::string NormaliseHistoryText(std::string_view text)
{
    return Normalise(text, nullptr);
}

std::string BreakLongRuns(std::string text, std::vector<TextSpan>* spans)
{
    std::vector<int32_t> breaks; // the breaks go before these characters of `text`
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == kViewBreak) {
            run = 0;
            continue;
        }
        if (run == kLongestUnbrokenRun) {
            breaks.push_back(static_cast<int32_t>(i));
            run = 0;
        }
        ++run;
    }
    if (breaks.empty())
        return text;
    std::string broken;
    broken.reserve(text.size() + breaks.size());
    size_t from = 0;
    for (int32_t at : breaks) {
        broken.append(text, from, static_cast<size_t>(at) - from);
        broken += kViewBreak;
        from = static_cast<size_t>(at);
    }
    broken.append(text, from);
    if (spans) {
        for (TextSpan& span : *spans) {
            // A break before a span's first character stays outside it.
            span.Start += static_cast<int32_t>(
                std::upper_bound(breaks.begin(), breaks.end(), span.Start) - breaks.begin());
            span.End += static_cast<int32_t>(
                std::lower_bound(breaks.begin(), breaks.end(), span.End) - breaks.begin());
        }
    }
    return broken;
}

std::string NormalisePrefix(std::string_view prefix, int32_t start, std::vector<PrefixLink>& links)
{
    if (links.empty())
        return Normalise(prefix, nullptr);
    std::vector<int32_t> at;
    std::string out = Normalise(prefix, &at);
    const auto moved = [&](int32_t position) {
        const auto offset = static_cast<size_t>(std::clamp<int64_t>(
            static_cast<int64_t>(position) - start, 0, static_cast<int64_t>(prefix.size())));
        return start + at[offset];
    };
    for (PrefixLink& link : links) {
        link.Start = moved(link.Start);
        link.End = moved(link.End);
    }
    return out;
}

namespace {

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[at + i]) != prefix[i])
            return false;
    return true;
}

bool IsAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool EndsAddress(char c)
{
    return static_cast<unsigned char>(c) <= 32 || c == '<' || c == '>' || c == '"' || c == '\x7f';
}

bool IsTrailingPunctuation(char c)
{
    return c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?' || c == '\'' ||
           c == ')' || c == ']' || c == '}';
}

bool IsLocalPartChar(char c)
{
    return IsAsciiAlnum(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}

bool IsDomainChar(char c)
{
    return IsAsciiAlnum(c) || c == '.' || c == '-';
}

constexpr std::string_view kSchemes[] = {"http://", "https://", "ftp://", "file://",
                                         "mailto:", "news:",    "www."};

} // namespace

std::vector<TextSpan> FindAddresses(std::string_view text)
{
    std::vector<TextSpan> spans;
    size_t i = 0;
    while (i < text.size()) {
        if (i > 0 && IsAsciiAlnum(text[i - 1])) {
            ++i;
            continue;
        }
        size_t schemeLength = 0;
        for (std::string_view scheme : kSchemes)
            if (StartsWithNoCase(text, i, scheme)) {
                schemeLength = scheme.size();
                break;
            }
        if (schemeLength == 0) {
            ++i;
            continue;
        }
        size_t end = i + schemeLength;
        while (end < text.size() && !EndsAddress(text[end]))
            ++end;
        while (end > i + schemeLength && IsTrailingPunctuation(text[end - 1]))
            --end;
        if (end > i + schemeLength)
            spans.push_back({static_cast<int32_t>(i), static_cast<int32_t>(end)});
        i = std::max(end, i + 1);
    }
    // Bare e-mail addresses outside those.
    std::vector<TextSpan> mails;
    for (size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at + 1)) {
        const int32_t pos = static_cast<int32_t>(at);
        if (std::any_of(spans.begin(), spans.end(),
                        [pos](const TextSpan& s) { return pos >= s.Start && pos < s.End; }))
            continue;
        size_t left = at;
        while (left > 0 && IsLocalPartChar(text[left - 1]))
            --left;
        while (left < at && text[left] == '.')
            ++left;
        size_t right = at + 1;
        while (right < text.size() && IsDomainChar(text[right]))
            ++right;
        while (right > at + 1 && (text[right - 1] == '.' || text[right - 1] == '-'))
            --right;
        std::string_view domain = text.substr(at + 1, right - at - 1);
        const size_t dot = domain.rfind('.');
        if (left == at || dot == std::string_view::npos || dot == 0 || domain.size() - dot < 3 ||
            domain.find("..") != std::string_view::npos)
            continue;
        mails.push_back({static_cast<int32_t>(left), static_cast<int32_t>(right)});
        at = right - 1;
    }
    spans.insert(spans.end(), mails.begin(), mails.end());
    std::sort(spans.begin(), spans.end(),
              [](const TextSpan& a, const TextSpan& b) { return a.Start < b.Start; });
    return spans;
}

std::string TrimOpenText(std::string_view selection)
{
    constexpr std::string_view kBoth = "\r\n \t\"";
    constexpr std::string_view kRight = "\r\n \t\"\\/";
    const size_t first = selection.find_first_not_of(kBoth);
    if (first == std::string_view::npos)
        return {};
    selection.remove_prefix(first);
    const size_t last = selection.find_last_not_of(kRight);
    if (last == std::string_view::npos)
        return {};
    return std::string(selection.substr(0, last + 1));
}

std::string OpenItemText(std::string_view selection, bool* enabled)
{
    std::string text = TrimOpenText(selection);
    const bool usable = !text.empty() && text.find_first_of("\r\n") == std::string::npos;
    if (enabled)
        *enabled = usable;
    if (!usable)
        return "&Open \"\"";
    if (text.size() > 25)
        text = text.substr(0, 22) + "...";
    return "&Open \"" + text + "\"";
}

HistoryMenu HistoryMenuFor(int32_t selStart, int32_t selEnd, int32_t textLength, bool messagesShown,
                           std::string_view selectedText)
{
    HistoryMenu menu;
    const int32_t low = std::min(selStart, selEnd);
    const int32_t high = std::max(selStart, selEnd);
    menu.Copy = high > low;
    menu.SelectAll = textLength > 0 && !(low == 0 && high >= textLength);
    menu.ClearAll = textLength > 0;
    menu.ClearSelected = messagesShown;
    menu.OpenText = OpenItemText(selectedText, &menu.Open);
    return menu;
}

HistoryKeyAction HistoryControlKey(char letter)
{
    switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'A':
        return HistoryKeyAction::SelectAll;
    case 'C':
        return HistoryKeyAction::Copy;
    case 'D':
        return HistoryKeyAction::ClearSelected;
    case 'X':
        return HistoryKeyAction::Cut;
    case 'E':
    case 'L':
    case 'R':
    case 'V':
        return HistoryKeyAction::Ignore;
    default:
        return HistoryKeyAction::Pass;
    }
}

bool IsNetworkPath(std::string_view text)
{
    return text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
}

bool IsDrivePath(std::string_view text)
{
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) &&
           text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

std::string NetworkPathUrl(std::string_view text)
{
    std::string url = "smb://";
    for (char c : text.substr(IsNetworkPath(text) ? 2 : 0))
        url += c == '\\' ? '/' : c;
    return url;
}

std::string OpenLinkFailureText(std::string_view text)
{
    if (text.compare(0, 7, "mailto:") == 0)
        return "Zib Tam could not find a mail program installed on your computer.  You can "
               "send an e-mail to this address at\r\n" +
               std::string(text.substr(7));
    if (IsNetworkPath(text))
        return "Zib Tam could not find the network path\r\nspecified.  Please verify the path "
               "and try again.";
    if (IsDrivePath(text))
        return "Zib Tam cannot open \"" + std::string(text) +
               "\" here: it is a file on a drive of a Windows computer.";
    return "Zib Tam could not find a web browser on your computer.  You can visit this site "
           "at\r\n" +
           std::string(text);
}

namespace {

HistoryDisplaySettings SettingsFrom(const COptions& options)
{
    HistoryDisplaySettings settings;
    settings.PrefixFont = FontSpec::FromRecord(options.GetFont(FontKey::Prefix));
    settings.MessageFont = FontSpec::FromRecord(options.GetFont(FontKey::General));
    const std::string background = options.Get(Opt::ChatTextBackground);
    if (!background.empty() && background != "Lite")
        settings.Background = options.GetChatTextBackground();
    return settings;
}

} // namespace

HistoryDisplaySettings ChatHistorySettings(const COptions& options)
{
    HistoryDisplaySettings settings = SettingsFrom(options);
    settings.PrefixFormat = options.Get(Opt::MessagePrefix);
    settings.Links = options.Get(Opt::RecipientLinks) != 0;
    return settings;
}

HistoryDisplaySettings LogHistorySettings(const COptions& options)
{
    HistoryDisplaySettings settings = SettingsFrom(options);
    settings.PrefixFormat = options.Get(Opt::LogPrefix);
    settings.Links = false;
    return settings;
}
