#pragma once
// The console front end's texts: the terminal's encoding at the edge (Windows-1252
// inside), a shown message as lines, and the commands a typed line may hold.
#include "common/ChatMessage.h"

#include <string>
#include <string_view>
#include <vector>

// Converts between Windows-1252 and the terminal's character set (the locale's).
class CTerminalCodec
{
public:
    // `codeset` as nl_langinfo(CODESET) names it. The plain C locale's ASCII is taken as
    // UTF-8: ASCII cannot show the program's texts, and terminals today speak UTF-8.
    explicit CTerminalCodec(std::string codeset);
    // The codec of the current locale (setlocale must have run).
    static CTerminalCodec ForCurrentLocale();

    std::string ToTerminal(std::string_view cp1252) const;
    // Characters outside Windows-1252, and bytes that are not text, become "?".
    std::string FromTerminal(std::string_view bytes) const;
    bool IsUtf8() const { return m_utf8; }
    const std::string& Codeset() const { return m_codeset; }

private:
    std::string Convert(std::string_view bytes, const char* to, const char* from) const;

    std::string m_codeset;
    bool m_utf8 = true;
};

// How far continuation lines of a message are indented.
inline constexpr std::string_view kContinuationIndent = "    ";

// One shown message: the prefix in `prefixFormat` and the text; the text's further lines
// indented. Windows-1252, lines separated by line feeds, no final line feed.
std::string FormatConsoleMessage(const ChatMessage& message, std::string_view prefixFormat);
// A plain text (a message box, a notice of the console) with its further lines indented.
std::string IndentContinuation(std::string_view text);

enum class ConsoleCommandKind
{
    Text,    // an ordinary line: send it
    To,      // "/to NAME, NAME" or "/to all"
    Later,   // "/later MINUTES TEXT"
    Refresh, // "/refresh"
    Who,     // "/who"
    Quit,    // "/quit"
    Help,    // "/help"
    Bad,     // a command that is not understood; Error says why
};

struct ConsoleCommand
{
    ConsoleCommandKind Kind = ConsoleCommandKind::Text;
    std::vector<std::string> Names; // /to; empty with AllUsers for "/to all"
    bool AllUsers = false;
    int Minutes = 0;  // /later
    std::string Text; // the text to send (Text, Later)
    std::string Error;
};

// `line` without its line end. A line starting with "//" sends the rest starting with "/".
ConsoleCommand ParseConsoleLine(const std::string& line);

inline constexpr const char* kConsoleHelp =
    "Type a line and press Enter to send it. Commands:\n"
    "/to NAME, NAME   send to these users from now on; /to all for all users\n"
    "/later MINUTES TEXT   send TEXT after so many minutes (Send Later)\n"
    "/refresh   ask everyone to announce themselves again\n"
    "/who   list the users who are present\n"
    "/quit   log off and end\n"
    "//TEXT   send a line that begins with \"/\"";
