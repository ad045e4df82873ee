#pragma once
// One chat message, copied by value everywhere. Texts are Windows-1252 bytes; `Text`
// never holds a carriage return (lines end with a line feed alone).
#include "common/MessageTime.h"

#include <cstddef>
#include <string>
#include <vector>

// The longest text the chat window's input box lets a user send (one byte a character on
// the wire); a longer one that arrives is shown cut.
inline constexpr std::size_t kMaxMessageLength = 20480;

struct ChatMessage
{
    bool Loopback = false; // did not come from another user's computer
    bool AllUsers = false; // addressed to all users; Recipients is then empty
    std::string Id;
    std::string Sender; // "Zib Tam" for the program's own notices
    std::string Text;
    std::vector<std::string> Recipients;
    MessageTime Time;
    bool Log = true; // written to the XML log

    bool operator==(const ChatMessage&) const = default;
};
