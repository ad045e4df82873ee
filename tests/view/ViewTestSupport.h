#pragma once
// Shared pieces of the view tests: a usable MessageTime, a history message, a font, and scoped
// changes of the time zone and the C locale that put the process back as it was.
#include "common/ChatMessage.h"
#include "common/MessageTime.h"
#include "view/FontSpec.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

inline MessageTime MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    MessageTime time;
    time.Year = year;
    time.Month = month;
    time.Day = day;
    time.Hour = hour;
    time.Minute = minute;
    time.Second = second;
    time.HasYear = time.HasMonth = time.HasDay = true;
    time.HasHour = time.HasMinute = time.HasSecond = true;
    return time;
}

// A message of the history tests, sent on 8 May 2000 at 15:47:38; no recipients means all users.
inline ChatMessage Message(const std::string& sender, const std::string& text,
                           std::vector<std::string> recipients = {"Owen"})
{
    ChatMessage message;
    message.Sender = sender;
    message.Text = text;
    message.Recipients = std::move(recipients);
    message.AllUsers = message.Recipients.empty();
    message.Time = MakeTime(2000, 5, 8, 15, 47, 38);
    return message;
}

inline FontSpec Font(const char* face, int size, uint32_t color, bool bold = false,
                     bool italic = false, bool underline = false, bool strikeOut = false)
{
    FontSpec font;
    font.Valid = true;
    font.FaceName = face;
    font.Size = size;
    font.Color = color;
    font.Bold = bold;
    font.Italic = italic;
    font.Underline = underline;
    font.StrikeOut = strikeOut;
    return font;
}

class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_old;
};

// Switches every category of the C locale; Active() is false when the locale is missing.
class ScopedLocale
{
public:
    explicit ScopedLocale(const char* name)
    {
        m_old = std::setlocale(LC_ALL, nullptr);
        m_active = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, m_old.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool Active() const { return m_active; }

private:
    std::string m_old;
    bool m_active = false;
};
