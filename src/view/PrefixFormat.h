#pragma once
// The message prefix language: a format such as "<a>u</a> ('to' <a>r</a>) h:nn TT> " is
// parsed once into tokens and then formatted for each message, giving the prefix text and,
// when asked, the character ranges of the sender and recipient names (for name links).
#include "common/MessageTime.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ChatMessage;

enum class PrefixRowKind : uint8_t
{
    LinkOpen,
    LinkClose,
    Sender,
    Recipients,
    Time,
};

// Which part of the "%p" text an AM/PM row shows.
enum class AmPmForm : uint8_t
{
    None, // not an AM/PM row
    AsIs,
    First,
    Lower,
    LowerFirst,
};

// One row of the token table.
struct PrefixTokenRow
{
    PrefixRowKind Kind;
    const char* Token;
    const char* Conversion; // strftime conversion of a time row, else ""
    bool AnyCase;           // compared without regard to letter case
    AmPmForm AmPm;
};

// The 31 rows, in the order they are tried.
std::span<const PrefixTokenRow> PrefixTokenTable();

// One element of a parsed format: a literal character or a row of the token table.
struct PrefixToken
{
    bool IsLiteral = true;
    char Literal = 0;
    int Row = -1; // index into PrefixTokenTable()

    bool operator==(const PrefixToken&) const = default;
};

enum PrefixLinkKind : int32_t
{
    kPrefixLinkSender = 1,
    kPrefixLinkRecipients = 2,
};

// A name link produced while formatting: the characters [Start, End) of the prefix, plus
// the caller's position offset, cover the sender or the recipients of message MessageIndex.
struct PrefixLink
{
    int32_t Kind = 0;
    int32_t Start = 0;
    int32_t End = 0;
    int32_t MessageIndex = 0;

    bool operator==(const PrefixLink&) const = default;
};

class CPrefixFormat
{
public:
    CPrefixFormat() = default;
    explicit CPrefixFormat(std::string_view format) { Parse(format); }

    // Fills the token list from the format (up to its first zero byte). Does nothing when
    // the list already holds tokens or the format is empty: build a fresh object for a new
    // format text.
    void Parse(std::string_view format);

    // The prefix for one message. An empty format gives "ERROR". With `links`, a link is
    // appended for each "<a>u</a>" and "<a>r</a>" of the format.
    std::string Format(const MessageTime& time, std::string_view sender,
                       std::string_view recipients, int messageIndex, int offset,
                       std::vector<PrefixLink>* links = nullptr) const;

    const std::vector<PrefixToken>& Tokens() const { return m_tokens; }
    bool IsEmpty() const { return m_tokens.empty(); }

private:
    std::vector<PrefixToken> m_tokens;
    bool m_hasTimeTokens = false;
};

// A recipient list as one line: "all users", "???" for none, "A", "A and B", "A, B, and C".
std::string FormatRecipients(bool allUsers, const std::vector<std::string>& recipients);
std::string FormatRecipients(const ChatMessage& message);

// The ready-made formats the Format options page offers, in its order.
std::span<const char* const> PrefixFormatPresets();

// The sample message the Format page renders formats with: sent by "R.T." to "Owen" on
// 8 May 2000 at 15:47:38 local time.
MessageTime PrefixSampleTime();
inline constexpr const char* kPrefixSampleSender = "R.T.";
inline constexpr const char* kPrefixSampleRecipients = "Owen";
std::string FormatPrefixSample(std::string_view format);
