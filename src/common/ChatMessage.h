#pragma once
// One chat message, copied by value everywhere. Texts are Windows-1252 bytes; `Text`
// never holds a carriage return (lines end with a line feed alone).
#include "common/MessageTime.h"

#include <string>
#include <vector>

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
