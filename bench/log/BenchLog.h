#pragma once
// The log the viewer benches show: `count` messages 37 s apart up to `end`, five senders,
// each text two lines of a meeting notice.
#include "common/ChatMessage.h"
#include "common/MessageElement.h"

#include <ctime>
#include <fstream>
#include <string>

inline ChatMessage BenchMessage(int i, std::time_t start)
{
    static const char* const kNames[] = {"Owen", "R.T. Holm", "Kim", "Alessandra", "Bob"};
    ChatMessage message;
    message.Id = std::to_string(i);
    message.Sender = kNames[i % 5];
    message.Recipients = {kNames[(i + 1) % 5], kNames[(i + 3) % 5]};
    message.Time.Set(start + i * 37);
    message.Text = "Message " + std::to_string(i) +
                   ": the meeting moved to room 4 at three o'clock, bring the quarterly "
                   "figures and the draft for the customer letter.\nSee you there";
    return message;
}

inline void WriteBenchLog(const std::string& path, int count, std::time_t end)
{
    std::string bytes(kLogHeader);
    const std::time_t start = end - static_cast<std::time_t>(count) * 37;
    for (int i = 0; i < count; ++i)
        bytes += FormatMessageElement(BenchMessage(i, start));
    bytes += kLogTrailer;
    std::ofstream(path, std::ios::binary) << bytes;
}
