#pragma once
// Messages held compactly: every field of every message in one buffer, one offset per
// message. A year's log of 100,000 messages takes about half of what as many ChatMessage
// objects do (each holds its text and its recipient list in blocks of their own); the log
// viewer keeps the whole log this way and unpacks the few messages it shows or searches.
#include "common/ChatMessage.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

class CPackedMessages
{
public:
    CPackedMessages() = default;
    explicit CPackedMessages(std::span<const ChatMessage> messages) { Add(messages); }

    size_t size() const { return m_starts.size(); }
    bool empty() const { return m_starts.empty(); }
    void Clear();
    // Gives back the room of a larger store: the memory of a large log goes when it does.
    void Release();
    // Room for `messages` more of `bytes` packed bytes, so that following the log does not
    // copy the buffer each time it fills.
    void Reserve(size_t messages, size_t bytes);
    size_t Bytes() const { return m_bytes.size(); }

    void Add(const ChatMessage& message);
    void Add(std::span<const ChatMessage> messages);
    // Message `index`, unpacked into `message` (whose strings keep their room: a loop over
    // many messages allocates little).
    void Get(size_t index, ChatMessage& message) const;
    ChatMessage operator[](size_t index) const;
    // Messages `from` to `to` (not included), unpacked.
    std::vector<ChatMessage> Unpack(size_t from, size_t to) const;
    MessageTime TimeOf(size_t index) const;
    // Appends message `index` of `from` as it lies there.
    void AddFrom(const CPackedMessages& from, size_t index);

private:
    std::string m_bytes;
    std::vector<size_t> m_starts; // of each message in m_bytes
};

// For a list of messages over this store (CFilteredMessageList).
inline void AddMessage(CPackedMessages& store, const ChatMessage& message)
{
    store.Add(message);
}
inline void AddMessageOf(CPackedMessages& store, const CPackedMessages& from, size_t index)
{
    store.AddFrom(from, index);
}
inline MessageTime MessageTimeOf(const CPackedMessages& store, size_t index)
{
    return store.TimeOf(index);
}
