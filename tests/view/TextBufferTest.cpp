#include "view/TextBuffer.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

void ExpectTerminated(const CTextBuffer& buffer)
{
    EXPECT_EQ(buffer.Data()[buffer.Length()], '\0');
}

TEST(TextBuffer, GrowsByAtLeastItsCapacity)
{
    CTextBuffer buffer;
    EXPECT_EQ(buffer.Capacity(), 10000u);
    EXPECT_EQ(buffer.Length(), 0u);
    ExpectTerminated(buffer);

    buffer.Append(std::string(10000, 'a'));
    EXPECT_EQ(buffer.Capacity(), 10000u);
    buffer.Append('b');
    EXPECT_EQ(buffer.Capacity(), 20000u); // the shortfall of 1 is less than the capacity
    buffer.Append(std::string(50000, 'c'));
    EXPECT_EQ(buffer.Capacity(), 60001u); // the shortfall of 40,001 is more
    EXPECT_EQ(buffer.Length(), 60001u);
    ExpectTerminated(buffer);
    EXPECT_EQ(buffer.View().substr(9999, 3), "abc");

    buffer.Clear();
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_EQ(buffer.Capacity(), 60001u);
    ExpectTerminated(buffer);
}

TEST(TextBuffer, AppendsIntegers)
{
    const struct
    {
        long long Value;
        const char* Text;
    } cases[] = {{0, "0"},
                 {7, "7"},
                 {-42, "-42"},
                 {2147483647, "2147483647"},
                 {LLONG_MIN, "-9223372036854775808"}};
    for (const auto& c : cases) {
        CTextBuffer buffer;
        buffer.Append("n=");
        buffer.AppendInt(c.Value);
        EXPECT_EQ(buffer.View(), std::string("n=") + c.Text);
    }
}

TEST(TextBuffer, InsertAndDeleteStayInside)
{
    CTextBuffer buffer;
    buffer.Append("hello world");
    buffer.Insert(5, ",");
    EXPECT_EQ(buffer.View(), "hello, world");
    buffer.Insert(0, ">");
    buffer.Insert(1000, "!"); // past the end: at the end
    EXPECT_EQ(buffer.View(), ">hello, world!");
    buffer.Delete(0, 1);
    buffer.Delete(5, 1);
    EXPECT_EQ(buffer.View(), "hello world!");
    buffer.Delete(5, 1000); // only what is there
    EXPECT_EQ(buffer.View(), "hello");
    buffer.Delete(99, 1);
    buffer.Delete(2, 0);
    EXPECT_EQ(buffer.View(), "hello");
    ExpectTerminated(buffer);

    // An insertion that makes the buffer grow keeps both halves.
    buffer.Insert(2, std::string(20000, '-'));
    EXPECT_EQ(buffer.Length(), 20005u);
    EXPECT_EQ(buffer.View().substr(0, 3), "he-");
    EXPECT_EQ(buffer.View().substr(20001), "-llo");
    ExpectTerminated(buffer);
}

TEST(TextBuffer, CopiesOfItsOwnBytes)
{
    CTextBuffer buffer;
    buffer.Append(std::string(6000, 'x'));
    buffer.Append("END");
    // Appending all of itself makes it grow while the source is its own storage.
    buffer.Append(buffer.Data(), buffer.Length());
    buffer.Append(buffer.View());
    EXPECT_EQ(buffer.Length(), 24012u);
    EXPECT_EQ(buffer.View().substr(6000, 4), "ENDx");
    EXPECT_EQ(buffer.View().substr(24009), "END");
    buffer.Insert(3, buffer.View().substr(6000, 3));
    EXPECT_EQ(buffer.View().substr(0, 7), "xxxENDx");
    ExpectTerminated(buffer);
}

} // namespace
