// The console's edge: encodings, message lines, typed commands.
#include "app/console/ConsoleText.h"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleTextTest, TheTerminalEncodingIsConvertedAtTheEdge)
{
    CTerminalCodec utf8("UTF-8");
    EXPECT_EQ(utf8.ToTerminal("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(utf8.FromTerminal("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 \x80");
    // Outside Windows-1252 (a Greek letter, an emoji) and broken bytes become "?".
    EXPECT_EQ(utf8.FromTerminal("\xCE\xB1 \xF0\x9F\x98\x80 \xFF"), "? ? ?");

    // The plain C locale is spoken as UTF-8.
    EXPECT_TRUE(CTerminalCodec("ANSI_X3.4-1968").IsUtf8());

    CTerminalCodec latin9("ISO-8859-15");
    ASSERT_FALSE(latin9.IsUtf8());
    EXPECT_EQ(latin9.ToTerminal("caf\xE9 \x80"), "caf\xE9 \xA4"); // the euro sign moves
    EXPECT_EQ(latin9.FromTerminal("caf\xE9 \xA4"), "caf\xE9 \x80");
    EXPECT_EQ(latin9.ToTerminal("\x83"), "?"); // the florin sign, which Latin-9 lacks
}

TEST(ConsoleTextTest, AMessageIsOneLineWithItsFurtherLinesIndented)
{
    ChatMessage message;
    message.Sender = "Owen";
    message.Recipients = {"Ann", "Bob"};
    message.Text = "Lunch?\nAt noon\n\nbring cake";
    message.Time.Set(958'000'000);
    std::string shown = FormatConsoleMessage(message, "<a>u</a> ('to' <a>r</a>)> ");
    EXPECT_EQ(shown, "Owen (to Ann and Bob)> Lunch?\n    At noon\n    \n    bring cake");

    ChatMessage toAll = message;
    toAll.AllUsers = true;
    toAll.Recipients.clear();
    toAll.Text = std::string(1, 'x');
    EXPECT_EQ(FormatConsoleMessage(toAll, "u ('to' r)> "), "Owen (to all users)> x");
}

TEST(ConsoleTextTest, TypedLinesAndCommands)
{
    ConsoleCommand plain = ParseConsoleLine("hello /to you");
    EXPECT_EQ(plain.Kind, ConsoleCommandKind::Text);
    EXPECT_EQ(plain.Text, "hello /to you");
    EXPECT_EQ(ParseConsoleLine("//etc/passwd is gone").Text, "/etc/passwd is gone");

    ConsoleCommand to = ParseConsoleLine("/to  Ann , Bob Smith,,");
    EXPECT_EQ(to.Kind, ConsoleCommandKind::To);
    EXPECT_EQ(to.Names, (std::vector<std::string>{"Ann", "Bob Smith"}));
    EXPECT_TRUE(ParseConsoleLine("/TO All").AllUsers);
    EXPECT_EQ(ParseConsoleLine("/to").Kind, ConsoleCommandKind::Bad);

    ConsoleCommand later = ParseConsoleLine("/later 90 Meeting  now");
    EXPECT_EQ(later.Kind, ConsoleCommandKind::Later);
    EXPECT_EQ(later.Minutes, 90);
    EXPECT_EQ(later.Text, "Meeting  now");
    EXPECT_EQ(ParseConsoleLine("/later 0").Text, "");
    for (const char* bad : {"/later", "/later x", "/later 1440 hi", "/later 5x hi",
                            "/later 99999999999999 hi", "/later -5 hi"})
        EXPECT_EQ(ParseConsoleLine(bad).Kind, ConsoleCommandKind::Bad) << bad;

    EXPECT_EQ(ParseConsoleLine("/quit").Kind, ConsoleCommandKind::Quit);
    EXPECT_EQ(ParseConsoleLine("/refresh").Kind, ConsoleCommandKind::Refresh);
    EXPECT_EQ(ParseConsoleLine("/who").Kind, ConsoleCommandKind::Who);
    EXPECT_EQ(ParseConsoleLine("/frobnicate").Kind, ConsoleCommandKind::Bad);
}

} // namespace
