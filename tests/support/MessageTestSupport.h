#pragma once
// A message as the log and protocol tests start from: "R.T." to "Owen" on 8 May 2000 at
// 15:47:38.
#include "common/ChatMessage.h"

#include <string>

inline ChatMessage MakeMessage(const std::string& id, const std::string& text,
                               const std::string& sender = "R.T.")
{
    ChatMessage message;
    message.Id = id;
    message.Sender = sender;
    message.Recipients = {"Owen"};
    message.Text = text;
    message.Time.Year = 2000;
    message.Time.Month = 5;
    message.Time.Day = 8;
    message.Time.Hour = 15;
    message.Time.Minute = 47;
    message.Time.Second = 38;
    message.Time.HasYear = message.Time.HasMonth = message.Time.HasDay = true;
    message.Time.HasHour = message.Time.HasMinute = message.Time.HasSecond = true;
    return message;
}
