#include "log/PackedMessages.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

ChatMessage Message(std::string id, std::string sender, std::string text,
                    std::vector<std::string> recipients)
{
    ChatMessage message;
    message.Id = std::move(id);
    message.Sender = std::move(sender);
    message.Text = std::move(text);
    message.Recipients = std::move(recipients);
    message.Time = MessageTime::From(1700000000);
    return message;
}

// Messages whose every field differs from its neighbours': what goes in comes out.
std::vector<ChatMessage> Varied()
{
    std::vector<ChatMessage> messages;
    messages.push_back(Message("1", "Owen", "Hi\nthere", {"Kim", "R.T. Holm"}));
    ChatMessage empty;
    messages.push_back(empty); // no time, no fields, logged
    ChatMessage all = Message("", "Zib Tam", std::string(300, 'x'), {});
    all.AllUsers = true;
    all.Loopback = true;
    all.Log = false;
    messages.push_back(all);
    // Time fields are whatever the log held, flags apart from values.
    ChatMessage odd = Message("id with \"quotes\"", "", std::string("a\0b\xff", 4), {""});
    odd.Time.Year = INT_MIN;
    odd.Time.Month = -1;
    odd.Time.Day = INT_MAX;
    odd.Time.Hour = 128;
    odd.Time.HasMinute = false;
    odd.Time.HasYear = false;
    messages.push_back(odd);
    messages.push_back(Message(std::string(70000, 'i'), "Bob", "", {"a", "b", "c", "d"}));
    return messages;
}

TEST(PackedMessagesTest, GivesBackEveryFieldOfEveryMessage)
{
    const std::vector<ChatMessage> messages = Varied();
    CPackedMessages packed(messages);
    packed.Add(messages.front()); // one more after the first lot
    ASSERT_EQ(packed.size(), messages.size() + 1);
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(packed[i], messages[i]) << "message " << i;
        EXPECT_EQ(packed.TimeOf(i), messages[i].Time) << "message " << i;
    }
    EXPECT_EQ(packed[messages.size()], messages.front());
    // Unpacked into one message over and over, a field is never left from the one before.
    ChatMessage reused;
    for (size_t i : {4u, 0u, 2u, 1u, 3u}) {
        packed.Get(i, reused);
        EXPECT_EQ(reused, messages[i]) << "message " << i;
    }
    const std::vector<ChatMessage> middle = packed.Unpack(1, 4);
    EXPECT_EQ(middle, std::vector<ChatMessage>(messages.begin() + 1, messages.begin() + 4));
    EXPECT_TRUE(packed.Unpack(3, 2).empty());
    EXPECT_EQ(packed.Unpack(5, 100).size(), 1u); // cut at the end

    // Copied as they lie, the last one (which runs to the end of the buffer) too.
    CPackedMessages copy;
    for (size_t i : {5u, 3u, 0u})
        copy.AddFrom(packed, i);
    EXPECT_EQ(copy.Unpack(0, 3),
              (std::vector<ChatMessage>{messages.front(), messages[3], messages.front()}));
}

} // namespace
