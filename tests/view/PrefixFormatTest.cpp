#include "view/PrefixFormat.h"

#include "ViewTestSupport.h"
#include "common/ChatMessage.h"
#include "settings/Options.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

const MessageTime kSample = MakeTime(2000, 5, 8, 15, 47, 38); // a Monday afternoon
const MessageTime kMorning = MakeTime(2009, 1, 4, 9, 5, 3);   // a Sunday morning

std::string Render(std::string_view format, const MessageTime& time = kSample)
{
    CPrefixFormat prefix(format);
    return prefix.Format(time, "R.T.", "Owen", 0, 0);
}

std::string Repeat(std::string_view unit, size_t times)
{
    std::string text;
    text.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

struct RenderCase
{
    const char* Format;
    const char* Expected;
};

TEST(PrefixFormat, EveryRowOfTheTokenTable)
{
    const RenderCase cases[] = {
        {"<a>", ""},
        {"</a>", ""},
        {"u", "R.T."},
        {"r", "Owen"},
        {"ttttt", "15:47:38"},
        {"TT", "PM"},
        {"T", "P"},
        {"tt", "pm"},
        {"t", "p"},
        {"HH", "15"},
        {"H", "15"},
        {"hh", "03"},
        {"h", "3"},
        {"dddddd", "Monday, May 08, 2000"},
        {"ddddd", "5/8/00"},
        {"dddd", "Monday"},
        {"ddd", "Mon"},
        {"dd", "08"},
        {"d", "8"},
        {"mmmm", "May"},
        {"mmm", "May"},
        {"mm", "05"},
        {"m", "5"},
        {"nn", "47"},
        {"n", "47"},
        {"ss", "38"},
        {"s", "38"},
        {"yyyy", "2000"},
        {"yyy", "2000"},
        {"yy", "00"},
        {"y", "00"},
    };
    ASSERT_EQ(PrefixTokenTable().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_STREQ(PrefixTokenTable()[i].Token, cases[i].Format) << "row " << i + 1;
        EXPECT_EQ(Render(cases[i].Format), cases[i].Expected) << cases[i].Format;
    }
}

TEST(PrefixFormat, MorningAndTwelveOClock)
{
    const struct
    {
        const char* Format;
        MessageTime Time;
        const char* Expected;
    } cases[] = {
        {"HH|H|hh|h", kMorning, "09|9|09|9"},
        {"nn|n|ss|s", kMorning, "05|5|03|3"},
        {"TT|T|tt|t", kMorning, "AM|A|am|a"},
        {"ttttt", kMorning, "9:05:03"},
        {"dddddd", kMorning, "Sunday, January 04, 2009"},
        {"ddddd|mmm|d|m|y", kMorning, "1/4/09|Jan|4|1|09"},
        {"hh:nn TT", MakeTime(2000, 5, 8, 15, 0, 0), "03:00 PM"},
        {"h TT", MakeTime(2000, 5, 8, 0, 0, 0), "12 AM"},
        {"h TT", MakeTime(2000, 5, 8, 12, 0, 0), "12 PM"},
        {"hh TT", MakeTime(2000, 5, 8, 23, 59, 59), "11 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Render(c.Format, c.Time), c.Expected) << c.Format;
}

TEST(PrefixFormat, ParsingQuirks)
{
    const RenderCase cases[] = {
        // The table is passed once; a row that matched is not tried again in that pass.
        {"TTTT", "PMPP"},
        {"TTTTT", "15:47:38"},
        {"Tt", "Pp"},
        {"tT", "pP"},
        {"Tttttt", "15:47:38p"},
        {"hh:nn", "03:47"},
        {"hH", "315"},
        {"yyyyy", "200000"},
        {"ddddddd", "Monday, May 08, 20008"},
        // Case: "any" rows ignore it, "exact" rows do not.
        {"U R", "R.T. Owen"},
        {"DDDD MMMM YY NN SS", "Monday May 00 47 38"},
        {"TTTTT|tttT", "15:47:38|pmpP"},
        // Everything that starts no token stands for itself.
        {"(<b>) [x]: @!", "(<b>) [x]: @!"},
        {"<a >u</ a>", "<a >R.T.</ a>"},
        {"('to' <a>r</a>)", "(to Owen)"},
    };
    for (const RenderCase& c : cases)
        EXPECT_EQ(Render(c.Format), c.Expected) << c.Format;
}

TEST(PrefixFormat, QuotedText)
{
    const RenderCase cases[] = {
        {"''", "'"},
        {"\"\"", "\""},
        {"'it''s'", "it's"},
        {"\"say \"\"hi\"\"\"", "say \"hi\""},
        {"'abc", "abc"},
        {"\"a'b\" 'a\"b'", "a'b a\"b"},
        {"'hh' h", "hh 3"},
        {"''''", "''"},
        {"'''", "'"},
        {"u'", "R.T."},
        {"'", "ERROR"},
        {"'u'", "u"},
        {"'<a>u</a>'", "<a>u</a>"},
    };
    for (const RenderCase& c : cases)
        EXPECT_EQ(Render(c.Format), c.Expected) << c.Format;
}

TEST(PrefixFormat, DefaultsAndReadyMadeFormatsOnTheSample)
{
    EXPECT_EQ(FormatPrefixSample(Opt::MessagePrefix.Default), "R.T. (to Owen) 3:47 PM> ");
    EXPECT_EQ(FormatPrefixSample(Opt::LogPrefix.Default), "R.T. (to Owen) 5/8/00 3:47 PM> ");

    const RenderCase presets[] = {
        {"<a>u</a> ('to' <a>r</a>)> ", "R.T. (to Owen)> "},
        {"<a>u</a> ('to' <a>r</a>) H:nn> ", "R.T. (to Owen) 15:47> "},
        {"<a>u</a> ('to' <a>r</a>) h:nn TT> ", "R.T. (to Owen) 3:47 PM> "},
        {"<a>u</a> ('to' <a>r</a>) ddd H:nn> ", "R.T. (to Owen) Mon 15:47> "},
        {"<a>u</a> ('to' <a>r</a>) ddd h:nn TT> ", "R.T. (to Owen) Mon 3:47 PM> "},
        {"<a>u</a> ('to' <a>r</a>) ddd h:nn:ss TT> ", "R.T. (to Owen) Mon 3:47:38 PM> "},
        {"<a>u</a> ('to' <a>r</a>) m/d/yy H:nn> ", "R.T. (to Owen) 5/8/00 15:47> "},
    };
    ASSERT_EQ(PrefixFormatPresets().size(), std::size(presets));
    for (size_t i = 0; i < std::size(presets); ++i) {
        EXPECT_STREQ(PrefixFormatPresets()[i], presets[i].Format) << i;
        EXPECT_EQ(FormatPrefixSample(PrefixFormatPresets()[i]), presets[i].Expected) << i;
    }
}

TEST(PrefixFormat, EmptyFormatAndUnusableTime)
{
    CPrefixFormat empty;
    empty.Parse("");
    EXPECT_TRUE(empty.IsEmpty());
    std::vector<PrefixLink> links;
    EXPECT_EQ(empty.Format(kSample, "R.T.", "Owen", 3, 10, &links), "ERROR");
    EXPECT_EQ(empty.Format(MessageTime{}, "", "", 0, 0), "ERROR");
    EXPECT_TRUE(links.empty());
    // A format ends at its first zero byte, as a stored text does.
    EXPECT_EQ(Render(std::string_view("\0u", 2)), "ERROR");
    EXPECT_EQ(Render(std::string_view("r\0u", 3)), "Owen");

    const std::string format = "<a>u</a> ('to' <a>r</a>) m/d/yy h:nn:ss TT tt ttttt dddddd> ";
    for (int missing = 0; missing < 6; ++missing) {
        MessageTime time = kSample;
        bool* flags[] = {&time.HasYear, &time.HasMonth,  &time.HasDay,
                         &time.HasHour, &time.HasMinute, &time.HasSecond};
        *flags[missing] = false;
        EXPECT_EQ(Render(format, time), "R.T. (to Owen) ?/?/? ?:?:? ? ? ? ?> ") << missing;
    }
}

TEST(PrefixFormat, TimesTheCalendarCannotShowProduceNothing)
{
    // The fields are still present, so no "?": the calendar conversion fails instead.
    EXPECT_EQ(Render("[d/m/yyyy h:nn TT] u", MakeTime(INT_MIN, 5, 8, 15, 47, 38)), "[// : ] R.T.");
    EXPECT_EQ(Render("[d/m/yyyy]", MakeTime(2000, INT_MIN, 8, 15, 47, 38)), "[//]");
    // Out-of-range fields roll over as the calendar does.
    EXPECT_EQ(Render("d mmm yyyy", MakeTime(2001, 2, 31, 12, 0, 0)), "3 Mar 2001");
    EXPECT_EQ(Render("d mmm yyyy", MakeTime(2000, 2, 31, 12, 0, 0)), "2 Mar 2000");
    // Must not crash, whatever the calendar makes of it.
    Render("dddddd ttttt", MakeTime(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX));
}

struct LinkCase
{
    const char* Format;
    int Offset;
    const char* Expected;
    std::vector<PrefixLink> Links;
};

TEST(PrefixFormat, NameLinks)
{
    const LinkCase cases[] = {
        {"<a>u</a> ('to' <a>r</a>) m/d/yy h:nn TT> ",
         0,
         "R.T. (to Owen) 5/8/00 3:47 PM> ",
         {{kPrefixLinkSender, 0, 4, 7}, {kPrefixLinkRecipients, 9, 13, 7}}},
        {"<a>u</a> ('to' <a>r</a>) m/d/yy h:nn TT> ",
         1000,
         "R.T. (to Owen) 5/8/00 3:47 PM> ",
         {{kPrefixLinkSender, 1000, 1004, 7}, {kPrefixLinkRecipients, 1009, 1013, 7}}},
        {"<A>U</A>: ", 5, "R.T.: ", {{kPrefixLinkSender, 5, 9, 7}}},
        {"h <a>r</a><a>u</a>", 0, "3 OwenR.T.", {{2, 2, 6, 7}, {1, 6, 10, 7}}},
        {"<a><a>u</a>", 0, "R.T.", {{kPrefixLinkSender, 0, 4, 7}}},
        // Any other arrangement of the markers makes no link and no text.
        {"<a> u</a>", 0, " R.T.", {}},
        {"<a>R.T.</a>", 0, "Owen.P.", {}},
        {"<a>uu</a>", 0, "R.T.R.T.", {}},
        {"<a>h</a>", 0, "3", {}},
        {"u</a>", 0, "R.T.", {}},
        {"<a>u", 0, "R.T.", {}},
        {"<a>'u'</a>", 0, "u", {}},
        {"<a></a>", 0, "", {}},
        {"<a>u</a></a>", 0, "R.T.", {{kPrefixLinkSender, 0, 4, 7}}},
    };
    for (const LinkCase& c : cases) {
        CPrefixFormat prefix(c.Format);
        std::vector<PrefixLink> links;
        EXPECT_EQ(prefix.Format(kSample, "R.T.", "Owen", 7, c.Offset, &links), c.Expected)
            << c.Format;
        EXPECT_EQ(links, c.Links) << c.Format;
        EXPECT_EQ(prefix.Format(kSample, "R.T.", "Owen", 7, c.Offset), c.Expected) << c.Format;
    }
}

TEST(PrefixFormat, LinksAreAppendedToTheCallersList)
{
    CPrefixFormat prefix(Opt::MessagePrefix.Default);
    std::vector<PrefixLink> links;
    std::string first = prefix.Format(kSample, "Ann", "Bob and Cy", 0, 0, &links);
    prefix.Format(kSample, "Dee", "all users", 1, static_cast<int>(first.size()) + 6, &links);
    const std::vector<PrefixLink> expected = {
        {1, 0, 3, 0}, {2, 8, 18, 0}, {1, 35, 38, 1}, {2, 43, 52, 1}};
    EXPECT_EQ(first, "Ann (to Bob and Cy) 3:47 PM> ");
    EXPECT_EQ(links, expected);
}

TEST(PrefixFormat, ParsedOnce)
{
    CPrefixFormat prefix;
    prefix.Parse("u");
    prefix.Parse("r");
    EXPECT_EQ(prefix.Format(kSample, "R.T.", "Owen", 0, 0), "R.T.");

    CPrefixFormat unquotedLater;
    unquotedLater.Parse("'"); // gives no tokens, so a later parse still counts
    unquotedLater.Parse("r");
    EXPECT_EQ(unquotedLater.Format(kSample, "R.T.", "Owen", 0, 0), "Owen");
}

TEST(PrefixFormat, HugeFormatsAreLinear)
{
    // 100,000 characters of the default format, links included.
    const std::string unit = Opt::MessagePrefix.Default; // 33 characters
    const size_t times = 100000 / unit.size() + 1;
    const std::string format = Repeat(unit, times);
    ASSERT_GE(format.size(), 100000u);
    CPrefixFormat prefix(format);
    std::vector<PrefixLink> links;
    const std::string text = prefix.Format(kSample, "R.T.", "Owen", 1, 0, &links);
    EXPECT_EQ(text, Repeat("R.T. (to Owen) 3:47 PM> ", times));
    ASSERT_EQ(links.size(), 2 * times);
    EXPECT_EQ(links.back(), (PrefixLink{2, static_cast<int32_t>(text.size() - 15),
                                        static_cast<int32_t>(text.size() - 11), 1}));

    // Only quotes: pairs are literal quotes, a last lone quote ends the format.
    EXPECT_EQ(Render(std::string(100000, '\'')), std::string(50000, '\''));
    EXPECT_EQ(Render(std::string(100001, '"')), std::string(50000, '"'));
    // Alternating quotes: each run holds the other quote character and closes after it.
    std::string alternating = Repeat("'\"", 50000);
    EXPECT_EQ(Render(alternating), Repeat("\"'", 33333).substr(0, 33333));

    // A long sender and recipients text passes through whole.
    std::string sender(1 << 20, 'x');
    EXPECT_EQ(CPrefixFormat("<a>u</a>").Format(kSample, sender, "", 0, 0), sender);
}

TEST(FormatRecipients, OneLine)
{
    const struct
    {
        bool AllUsers;
        std::vector<std::string> Names;
        const char* Expected;
    } cases[] = {
        {true, {}, "all users"},
        {true, {"Ann", "Bob"}, "all users"},
        {false, {}, "???"},
        {false, {"Owen"}, "Owen"},
        {false, {"A", "B"}, "A and B"},
        {false, {"A", "B", "C"}, "A, B, and C"},
        {false, {"A", "B", "C", "D"}, "A, B, C, and D"},
        {false, {""}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatRecipients(c.AllUsers, c.Names), c.Expected) << c.Expected;

    ChatMessage message;
    message.Recipients = {"Ann", "Bob"};
    EXPECT_EQ(FormatRecipients(message), "Ann and Bob");
    message.AllUsers = true;
    EXPECT_EQ(FormatRecipients(message), "all users");
}

// Every format that shows names, AM/PM or dates, in one text.
std::vector<std::string> LocaleSensitiveOutputs()
{
    std::vector<std::string> outputs;
    std::string all;
    for (const PrefixTokenRow& row : PrefixTokenTable())
        all += std::string(row.Token) + "|";
    for (const MessageTime& time : {kSample, kMorning, MakeTime(2024, 9, 21, 0, 1, 2)}) {
        outputs.push_back(Render(all, time));
        outputs.push_back(Render("TIME ttttt DDDDDD dddddd Iiu", time));
        for (const char* preset : PrefixFormatPresets())
            outputs.push_back(Render(preset, time));
    }
    outputs.push_back(FormatRecipients(false, {"I", "i", "\xC9"}));
    return outputs;
}

TEST(PrefixFormat, SameTextsUnderEveryLocale)
{
    const std::vector<std::string> expected = LocaleSensitiveOutputs();
    EXPECT_EQ(expected[0].substr(0, 40), "||R.T.|Owen|15:47:38|PM|P|pm|p|15|15|03|");
    int tried = 0;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "tr_TR.UTF-8", "ja_JP.UTF-8",
                             "de_DE.ISO-8859-1", "C.UTF-8"}) {
        ScopedLocale locale(name);
        if (!locale.Active())
            continue;
        ++tried;
        EXPECT_EQ(LocaleSensitiveOutputs(), expected) << name;
    }
    // The same through the environment, as a user's session would set it.
    {
        const char* old = std::getenv("LC_ALL");
        std::string saved = old ? old : "";
        setenv("LC_ALL", "de_DE.UTF-8", 1);
        ScopedLocale fromEnvironment("");
        if (fromEnvironment.Active()) {
            ++tried;
            EXPECT_EQ(LocaleSensitiveOutputs(), expected) << "LC_ALL=de_DE.UTF-8";
        }
        if (old)
            setenv("LC_ALL", saved.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    if (tried == 0)
        GTEST_SKIP() << "no locale besides C is installed (Debian package locales-all)";
}

TEST(PrefixFormat, SameFieldsInEveryTimeZone)
{
    const std::string expected = Render("dddddd ttttt TT");
    EXPECT_EQ(expected, "Monday, May 08, 2000 15:47:38 PM");
    for (const char* zone : {"UTC", "America/New_York", "Europe/Berlin", "Australia/Lord_Howe",
                             "Pacific/Kiritimati", "Asia/Kolkata"}) {
        ScopedTimeZone scoped(zone);
        EXPECT_EQ(Render("dddddd ttttt TT"), expected) << zone;
    }
}

} // namespace
