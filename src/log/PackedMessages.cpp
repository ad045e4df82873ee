#include "log/PackedMessages.h"

#include <algorithm>
#include <cstdint>

namespace {

// Flags of the first byte (two bytes as a varint) of a message.
constexpr unsigned kLoopback = 1 << 0;
constexpr unsigned kAllUsers = 1 << 1;
constexpr unsigned kLog = 1 << 2;
constexpr unsigned kHasYear = 1 << 3;
constexpr unsigned kHasMonth = 1 << 4;
constexpr unsigned kHasDay = 1 << 5;
constexpr unsigned kHasHour = 1 << 6;
constexpr unsigned kHasMinute = 1 << 7;
constexpr unsigned kHasSecond = 1 << 8;

void PutNumber(std::string& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// Time fields are any int the log holds, negative ones too.
void PutInt(std::string& out, int value)
{
    const int64_t wide = value;
    PutNumber(out, static_cast<uint64_t>((wide << 1) ^ (wide >> 63)));
}

void PutString(std::string& out, const std::string& text)
{
    PutNumber(out, text.size());
    out += text;
}

class CReader
{
public:
    explicit CReader(const char* at) : m_at(reinterpret_cast<const unsigned char*>(at)) {}

    uint64_t Number()
    {
        uint64_t value = 0;
        for (int shift = 0;; shift += 7) {
            const unsigned char byte = *m_at++;
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
    }
    int Int()
    {
        const uint64_t value = Number();
        return static_cast<int>(static_cast<int64_t>(value >> 1) ^
                                -static_cast<int64_t>(value & 1));
    }
    void String(std::string& text)
    {
        const size_t length = static_cast<size_t>(Number());
        text.assign(reinterpret_cast<const char*>(m_at), length);
        m_at += length;
    }

private:
    const unsigned char* m_at;
};

// Reads the flags and the time; the reader is left at the id.
unsigned ReadHead(CReader& reader, MessageTime& time)
{
    const unsigned flags = static_cast<unsigned>(reader.Number());
    time.Year = reader.Int();
    time.Month = reader.Int();
    time.Day = reader.Int();
    time.Hour = reader.Int();
    time.Minute = reader.Int();
    time.Second = reader.Int();
    time.HasYear = flags & kHasYear;
    time.HasMonth = flags & kHasMonth;
    time.HasDay = flags & kHasDay;
    time.HasHour = flags & kHasHour;
    time.HasMinute = flags & kHasMinute;
    time.HasSecond = flags & kHasSecond;
    return flags;
}

} // namespace

void CPackedMessages::Clear()
{
    m_bytes.clear();
    m_starts.clear();
}

void CPackedMessages::Release()
{
    std::string().swap(m_bytes);
    std::vector<size_t>().swap(m_starts);
}

void CPackedMessages::Reserve(size_t messages, size_t bytes)
{
    m_starts.reserve(m_starts.size() + messages);
    m_bytes.reserve(m_bytes.size() + bytes);
}

void CPackedMessages::Add(const ChatMessage& message)
{
    m_starts.push_back(m_bytes.size());
    const MessageTime& time = message.Time;
    const unsigned flags = (message.Loopback ? kLoopback : 0) | (message.AllUsers ? kAllUsers : 0) |
                           (message.Log ? kLog : 0) | (time.HasYear ? kHasYear : 0) |
                           (time.HasMonth ? kHasMonth : 0) | (time.HasDay ? kHasDay : 0) |
                           (time.HasHour ? kHasHour : 0) | (time.HasMinute ? kHasMinute : 0) |
                           (time.HasSecond ? kHasSecond : 0);
    PutNumber(m_bytes, flags);
    for (int field : {time.Year, time.Month, time.Day, time.Hour, time.Minute, time.Second})
        PutInt(m_bytes, field);
    PutString(m_bytes, message.Id);
    PutString(m_bytes, message.Sender);
    PutString(m_bytes, message.Text);
    PutNumber(m_bytes, message.Recipients.size());
    for (const std::string& recipient : message.Recipients)
        PutString(m_bytes, recipient);
}

void CPackedMessages::Add(std::span<const ChatMessage> messages)
{
    for (const ChatMessage& message : messages)
        Add(message);
}

void CPackedMessages::Get(size_t index, ChatMessage& message) const
{
    CReader reader(m_bytes.data() + m_starts[index]);
    const unsigned flags = ReadHead(reader, message.Time);
    message.Loopback = flags & kLoopback;
    message.AllUsers = flags & kAllUsers;
    message.Log = flags & kLog;
    reader.String(message.Id);
    reader.String(message.Sender);
    reader.String(message.Text);
    message.Recipients.resize(static_cast<size_t>(reader.Number()));
    for (std::string& recipient : message.Recipients)
        reader.String(recipient);
}

ChatMessage CPackedMessages::operator[](size_t index) const
{
    ChatMessage message;
    Get(index, message);
    return message;
}

std::vector<ChatMessage> CPackedMessages::Unpack(size_t from, size_t to) const
{
    to = std::min(to, size());
    std::vector<ChatMessage> messages(to > from ? to - from : 0);
    for (size_t i = from; i < to; ++i)
        Get(i, messages[i - from]);
    return messages;
}

MessageTime CPackedMessages::TimeOf(size_t index) const
{
    CReader reader(m_bytes.data() + m_starts[index]);
    MessageTime time;
    ReadHead(reader, time);
    return time;
}

void CPackedMessages::AddFrom(const CPackedMessages& from, size_t index)
{
    const size_t start = from.m_starts[index];
    const size_t end = index + 1 < from.m_starts.size() ? from.m_starts[index + 1] : from.Bytes();
    m_starts.push_back(m_bytes.size());
    m_bytes.append(from.m_bytes, start, end - start);
}
