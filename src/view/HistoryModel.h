#pragma once
// What the chat history view decides, without a widget: which messages it shows (the time
// filter), the paragraphs it writes, where each message and name link lies in the text, the
// notices, what a click on a link means, the overlap rules of Clear Selected Messages and
// the texts of its context menu. CChatHistory / CChatHistoryEdit render this; the log
// viewer's classic view uses the same.
#include "common/ChatMessage.h"
#include "view/FontSpec.h"
#include "view/PrefixFormat.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HistoryDisplaySettings
{
    FontSpec PrefixFont = DefaultPrefixFont();
    FontSpec MessageFont = DefaultMessageFont();
    std::string PrefixFormat = "<a>u</a> ('to' <a>r</a>) h:nn TT> ";
    bool Links = true;
    std::optional<uint32_t> Background; // none: the system's window colour

    static FontSpec DefaultPrefixFont();
    static FontSpec DefaultMessageFont();
    bool operator==(const HistoryDisplaySettings&) const = default;
};

// Where one shown message lies: [Start, End), End counting its paragraph mark.
struct MessageRange
{
    bool Valid = true;
    int32_t Start = 0;
    int32_t End = 0;

    bool operator==(const MessageRange&) const = default;
};

// A range of characters of the shown text.
struct TextSpan
{
    int32_t Start = 0;
    int32_t End = 0;

    bool operator==(const TextSpan&) const = default;
};

// One shown message as the view writes it: the prefix in the prefix font, the text in the
// message font, then a paragraph mark. Both as the view shows them (normalised, the text
// with its breaks); a "\n" in them is a paragraph mark too.
struct HistoryParagraph
{
    std::string Prefix;
    std::string Text;

    bool operator==(const HistoryParagraph&) const = default;
};

// What the view writes into its text after Show or a redisplay.
struct HistoryStream
{
    bool Draw = false;      // false: the messages were only stored
    bool ReplaceAll = true; // the whole content, or at the end of the text
    std::vector<HistoryParagraph> Paragraphs;
    std::vector<PrefixLink> Links;   // the new name links, in text positions
    std::vector<TextSpan> Addresses; // web and e-mail addresses in the new message texts
};

// A line with one link word, shown as the whole content (in the message font).
struct HistoryNotice
{
    std::string Line;
    TextSpan Link;
};

// What a left click on a link asks for.
struct HistoryClick
{
    enum class Action
    {
        None,
        Reload,    // tell the parent to reload
        Redisplay, // show all stored messages again
        NameLink,  // tell the parent: Message, LinkKind
        Open,      // open Target with OpenLink
    };
    Action What = Action::None;
    int MessageIndex = -1;
    int32_t LinkKind = 0;
    std::string Target;
};

// The context menu's items and whether each is enabled.
struct HistoryMenu
{
    bool Copy = false;
    bool SelectAll = false;
    bool ClearAll = false;
    bool ClearSelected = false;
    std::string OpenText; // "&Open \"...\""
    bool Open = false;
};

enum class HistoryKeyAction
{
    Pass, // the control handles it
    SelectAll,
    Copy,
    ClearSelected,
    Cut,
    Ignore, // alignment changes and pasting are not for a history
};

inline constexpr const char* kNotDisplayedNotice = "The messages are not displayed.";
inline constexpr const char* kNotDisplayedLink = "Display";
inline constexpr const char* kReloadLink = "Reload";
inline constexpr const char* kRedisplayStatus = "Redisplaying Zib Tam log...";

// The rich-text view's state: its own copy of the shown messages, their ranges and name
// links, the running text length, and the notice states.
class CHistoryEditModel
{
public:
    CHistoryEditModel();

    void Configure(const HistoryDisplaySettings& settings);
    const HistoryDisplaySettings& Settings() const { return m_settings; }

    // Shows `messages`, replacing what is shown or appended to it.
    HistoryStream Show(std::span<const ChatMessage> messages, bool append);
    // After a drawn Show: a cancelled display gives the "not displayed" notice.
    std::optional<HistoryNotice> FinishShow(bool drawn, bool cancelled);
    // Everything shown, written again as the whole content.
    HistoryStream Redisplay();

    // Empties the view and shows the reload notice until the next display.
    HistoryNotice ShowReloadNotice(std::string_view text);
    void ClearAll();

    // Removes the shown messages that the selection [start, end) touches and redisplays the
    // rest; `caret` gets where the caret goes afterwards.
    HistoryStream ClearSelected(int32_t start, int32_t end, int32_t& caret);

    // A left click on the link covering [start, end) whose text is `text`.
    HistoryClick Click(int32_t start, int32_t end, std::string_view text) const;

    const std::vector<ChatMessage>& Messages() const { return m_messages; }
    const std::vector<MessageRange>& Ranges() const { return m_ranges; }
    const std::vector<PrefixLink>& Links() const { return m_links; }
    int32_t TextLength() const { return m_textLength; }
    bool ReloadPending() const { return m_reloadPending; }
    bool NotDisplayed() const { return m_notDisplayed; }

private:
    HistoryNotice Notice(std::string_view text, std::string_view link);

    HistoryDisplaySettings m_settings;
    CPrefixFormat m_format;
    std::vector<ChatMessage> m_messages;
    std::vector<MessageRange> m_ranges;
    std::vector<PrefixLink> m_links;
    int32_t m_textLength = 0;
    bool m_reloadPending = false;
    bool m_notDisplayed = false;
};

// Whether a message of `time` is from `cutoff` on (a period's filter); never when its time
// lacks a field.
bool IsFromCutoff(const MessageTime& time, std::time_t cutoff);

// How a list of messages reaches into the store that holds them; the log viewer's packed
// store has its own.
inline void AddMessage(std::vector<ChatMessage>& store, const ChatMessage& message)
{
    store.push_back(message);
}
inline void AddMessageOf(std::vector<ChatMessage>& store, const std::vector<ChatMessage>& from,
                         size_t index)
{
    store.push_back(from[index]);
}
inline const MessageTime& MessageTimeOf(const std::vector<ChatMessage>& store, size_t index)
{
    return store[index].Time;
}

// A list of messages and a period's filter over it: which of them the view shows. `Store`
// holds the messages, with AddMessage, AddMessageOf and MessageTimeOf for it.
template <typename Store> class CFilteredMessageList
{
public:
    void Set(Store messages)
    {
        m_messages = std::move(messages);
        Reindex();
    }
    // Appends; returns the new messages that pass the filter.
    std::vector<ChatMessage> Add(std::span<const ChatMessage> messages)
    {
        std::vector<ChatMessage> shown;
        for (const ChatMessage& message : messages) {
            AddMessage(m_messages, message);
            const bool passes = Passes(message.Time);
            m_shownIndex.push_back(passes ? m_shownCount++ : -1);
            if (passes)
                shown.push_back(message);
        }
        return shown;
    }
    // Empty, its memory given back.
    void Clear()
    {
        Store empty; // swapped, not moved: a string moved to keeps its room
        std::swap(m_messages, empty);
        std::vector<int>().swap(m_shownIndex);
        m_shownCount = 0;
    }

    void SetTimeFilter(std::time_t cutoff)
    {
        m_filtered = true;
        m_cutoff = cutoff;
        Reindex();
    }
    void ClearTimeFilter()
    {
        m_filtered = false;
        Reindex();
    }
    bool Passes(const MessageTime& time) const
    {
        return !m_filtered || IsFromCutoff(time, m_cutoff);
    }

    const Store& All() const { return m_messages; }
    Store Shown() const
    {
        Store shown;
        for (size_t i = 0; i < m_shownIndex.size(); ++i)
            if (m_shownIndex[i] >= 0)
                AddMessageOf(shown, m_messages, i);
        return shown;
    }
    // For each message its position among the shown ones, or -1.
    const std::vector<int>& ShownIndex() const { return m_shownIndex; }
    size_t ShownCount() const { return static_cast<size_t>(m_shownCount); }

private:
    void Reindex()
    {
        m_shownIndex.clear();
        m_shownIndex.reserve(m_messages.size());
        m_shownCount = 0;
        for (size_t i = 0; i < m_messages.size(); ++i)
            m_shownIndex.push_back(Passes(MessageTimeOf(m_messages, i)) ? m_shownCount++ : -1);
    }

    Store m_messages;
    std::vector<int> m_shownIndex;
    int m_shownCount = 0;
    bool m_filtered = false;
    std::time_t m_cutoff = 0;
};

// The container's list of messages and its time filter.
class CHistoryMessageList : public CFilteredMessageList<std::vector<ChatMessage>>
{
};

// A prefix or text as the view shows it: "\r\n" and lone "\r" become "\n", other
// characters below 32 except tab vanish.
std::string NormaliseHistoryText(std::string_view text);
// The same for a prefix that starts at `start` in the history, with its `links` moved to
// where the characters they cover end up.
std::string NormalisePrefix(std::string_view prefix, int32_t start, std::vector<PrefixLink>& links);

// Qt lays a word out in time that grows with the square of its length (one word of a
// megabyte froze the window for a minute). The view's text gets a break opportunity, an
// invisible soft hyphen, after every this many characters without a blank; then a long word
// costs what as much ordinary text costs.
inline constexpr size_t kLongestUnbrokenRun = 1000;
inline constexpr char kViewBreak = '\xAD';

// A normalised text as the view shows it, with kViewBreak in every run of more than
// kLongestUnbrokenRun characters without a blank; `spans` (positions in `text`) move with
// the inserted breaks. The stored message keeps its text.
std::string BreakLongRuns(std::string text, std::vector<TextSpan>* spans = nullptr);

// Web addresses (with a scheme, or starting "www.") and e-mail addresses in a text.
std::vector<TextSpan> FindAddresses(std::string_view text);

// The selection as the Open item and Open take it: blanks, line breaks, tabs and double
// quotes trimmed at both ends, and slashes and backslashes at the end too.
std::string TrimOpenText(std::string_view selection);
std::string OpenItemText(std::string_view selection, bool* enabled = nullptr);
HistoryMenu HistoryMenuFor(int32_t selStart, int32_t selEnd, int32_t textLength, bool messagesShown,
                           std::string_view selectedText);

// Control+letter in the history.
HistoryKeyAction HistoryControlKey(char letter);

// OpenLink's rules: a text starting with two backslashes is a network path.
bool IsNetworkPath(std::string_view text);
// A path on a drive letter ("C:\Temp\file.txt"): a file of a Windows computer, not one here.
bool IsDrivePath(std::string_view text);
// "\\host\share\dir" as "smb://host/share/dir".
std::string NetworkPathUrl(std::string_view text);
// The message OpenLink shows when the text could not be opened.
std::string OpenLinkFailureText(std::string_view text);

class COptions;
// The settings a history shows with: the chat window's ("MessagePrefix", name links as
// "RecipientLinks" says) or the log viewer's ("LogPrefix", no name links). An unset
// "ChatTextBackground" leaves the system's window colour.
HistoryDisplaySettings ChatHistorySettings(const COptions& options);
HistoryDisplaySettings LogHistorySettings(const COptions& options);
