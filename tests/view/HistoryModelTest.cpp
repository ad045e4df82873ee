#include "view/HistoryModel.h"

#include "ViewTestSupport.h"

#include <gtest/gtest.h>

namespace {

// "<a>u</a>> " keeps the arithmetic of the ranges readable: "Ann> " is 5 characters.
HistoryDisplaySettings SimpleSettings(bool links = true)
{
    HistoryDisplaySettings settings;
    settings.PrefixFormat = "<a>u</a> <a>r</a>> ";
    settings.Links = links;
    return settings;
}

std::vector<MessageRange> Ranges(std::initializer_list<std::pair<int32_t, int32_t>> list)
{
    std::vector<MessageRange> ranges;
    for (auto [start, end] : list)
        ranges.push_back({true, start, end});
    return ranges;
}

TEST(HistoryModelTest, RangesAndLinksAfterAppendsAndAClear)
{
    CHistoryEditModel model;
    model.Configure(SimpleSettings());
    // "Ann Owen> hi" = 12 characters + paragraph mark.
    std::vector<ChatMessage> first = {Message("Ann", "hi"), Message("Bob", "a\r\nb\rc\x01")};
    HistoryStream stream = model.Show(first, false);
    EXPECT_TRUE(stream.Draw);
    EXPECT_TRUE(stream.ReplaceAll);
    EXPECT_EQ(model.Ranges(), Ranges({{0, 13}, {13, 13 + 10 + 5 + 1}}));
    ASSERT_EQ(stream.Links.size(), 4u);
    EXPECT_EQ(stream.Links[0], (PrefixLink{kPrefixLinkSender, 0, 3, 0}));
    EXPECT_EQ(stream.Links[1], (PrefixLink{kPrefixLinkRecipients, 4, 8, 0}));
    EXPECT_EQ(stream.Links[2], (PrefixLink{kPrefixLinkSender, 13, 16, 1}));
    EXPECT_EQ(stream.Links[3], (PrefixLink{kPrefixLinkRecipients, 17, 21, 1}));
    EXPECT_EQ(model.TextLength(), 29);

    stream = model.Show(std::vector<ChatMessage>{Message("Cy", "x")}, true);
    EXPECT_FALSE(stream.ReplaceAll);
    EXPECT_EQ(model.Ranges().back(), (MessageRange{true, 29, 29 + 9 + 1 + 1}));
    ASSERT_EQ(stream.Links.size(), 2u);
    EXPECT_EQ(stream.Links[0], (PrefixLink{kPrefixLinkSender, 29, 31, 2}));
    EXPECT_EQ(model.Links().size(), 6u);
    // Only the new message, with no paragraph after it.
    EXPECT_EQ(stream.Paragraphs, (std::vector<HistoryParagraph>{{"Cy Owen> ", "x"}}));

    EXPECT_TRUE(model.Show({}, true).Paragraphs.empty());

    model.ClearAll();
    EXPECT_EQ(model.TextLength(), 0);
    model.Show(std::vector<ChatMessage>{Message("Dee", "y")}, true);
    EXPECT_EQ(model.Ranges(), Ranges({{0, 12}}));
    EXPECT_EQ(model.Links().front(), (PrefixLink{kPrefixLinkSender, 0, 3, 0}));

    model.Configure(SimpleSettings(false));
    stream = model.Redisplay();
    EXPECT_TRUE(stream.Links.empty());
    EXPECT_TRUE(model.Links().empty());
    EXPECT_EQ(model.Ranges(), Ranges({{0, 12}}));
}

TEST(HistoryModelTest, NameLinksCoverTheNamesAfterControlCharactersGo)
{
    // Each sender shows as "Ann"; the recipients' link follows at "Ann " + "Owen".
    struct Case
    {
        const char* Sender;
        std::vector<std::string> Recipients;
    } cases[] = {
        {"\x01\x02\x03Ann", {"Owen"}},
        {"A\x1bn\x1fn", {"Owen"}},
        {"Ann\x01", {"\x02Ow\x03en\x04"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sender);
        CHistoryEditModel model;
        model.Configure(SimpleSettings());
        // A first message with control characters moves everything after it, too.
        HistoryStream stream =
            model.Show(std::vector<ChatMessage>{Message(c.Sender, "hi", c.Recipients),
                                                Message(c.Sender, "x", c.Recipients)},
                       false);
        ASSERT_EQ(stream.Links.size(), 4u);
        const int32_t name = 3; // "Ann"
        EXPECT_EQ(stream.Links[0], (PrefixLink{kPrefixLinkSender, 0, name, 0}));
        EXPECT_EQ(stream.Links[1], (PrefixLink{kPrefixLinkRecipients, name + 1, name + 5, 0}));
        const int32_t second = model.Ranges()[1].Start;
        EXPECT_EQ(second, name + 5 + 2 + 2 + 1);
        EXPECT_EQ(stream.Links[2], (PrefixLink{kPrefixLinkSender, second, second + name, 1}));
        EXPECT_EQ(stream.Links[3],
                  (PrefixLink{kPrefixLinkRecipients, second + name + 1, second + name + 5, 1}));
    }
}

TEST(HistoryModelTest, AddressesInMessageTexts)
{
    CHistoryEditModel model;
    model.Configure(SimpleSettings());
    HistoryStream stream = model.Show(
        std::vector<ChatMessage>{Message("Ann", "see www.x.org, or mail a.b@c.com")}, false);
    // The text starts after "Ann Owen> " (10 characters).
    EXPECT_EQ(stream.Addresses, (std::vector<TextSpan>{{14, 23}, {33, 42}}));
}

TEST(HistoryModelTest, FindAddresses)
{
    struct Case
    {
        const char* Text;
        std::vector<std::string> Found;
    };
    const Case cases[] = {
        {"go to http://example.com/a?b=1.", {"http://example.com/a?b=1"}},
        {"(https://x.y/z) and WWW.Q.COM!", {"https://x.y/z", "WWW.Q.COM"}},
        {"mailto:ann@x.org; ftp://f.g", {"mailto:ann@x.org", "ftp://f.g"}},
        {"mail ann.lee@mail.example.co.uk.", {"ann.lee@mail.example.co.uk"}},
        {"not: a@b, x@y.z, @c.com, http://, shwww.x, .a@b.cd", {"a@b.cd"}},
        {"<file://C:/x y>", {"file://C:/x"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> found;
        const std::string text = c.Text;
        for (const TextSpan& span : FindAddresses(text))
            found.push_back(text.substr(static_cast<size_t>(span.Start),
                                        static_cast<size_t>(span.End - span.Start)));
        EXPECT_EQ(found, c.Found) << c.Text;
    }
}

// Five messages "A Owen> xy" to "E Owen> xy", 10 characters and a paragraph mark each:
// [0,11) [11,22) [22,33) [33,44) [44,55).
void ShowFive(CHistoryEditModel& model)
{
    model.Configure(SimpleSettings());
    std::vector<ChatMessage> messages;
    for (char c = 'A'; c <= 'E'; ++c)
        messages.push_back(Message(std::string(1, c), "xy"));
    model.Show(messages, false);
}

TEST(HistoryModelTest, ClearSelectedMessages)
{
    struct Case
    {
        int32_t Start, End;
        std::string Left; // senders of what remains
        int32_t Caret;
    };
    const Case cases[] = {
        {11, 11, "ACDE", 11},  // caret at the start of a message: that message only
        {10, 10, "BCDE", 0},   // caret inside a message (before its paragraph mark)
        {12, 13, "ACDE", 11},  // inside one message
        {11, 22, "ACDE", 11},  // exactly one message
        {5, 15, "CDE", 0},     // across two
        {0, 55, "", 0},        // everything: the caret at the end of the (empty) text
        {50, 55, "ABCD", 44},  // the last one: the caret at the end
        {44, 44, "ABCD", 44},  // caret at the start of the last one
        {55, 55, "ABCDE", 55}, // caret at the very end: nothing
        {22, 11, "ACDE", 11},  // a selection made backwards
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Start) + "-" + std::to_string(c.End));
        CHistoryEditModel model;
        ShowFive(model);
        int32_t caret = -1;
        HistoryStream stream = model.ClearSelected(c.Start, c.End, caret);
        EXPECT_TRUE(stream.ReplaceAll);
        std::string left;
        for (const ChatMessage& message : model.Messages())
            left += message.Sender;
        EXPECT_EQ(left, c.Left);
        EXPECT_EQ(caret, c.Caret);
        EXPECT_EQ(model.TextLength(), static_cast<int32_t>(c.Left.size()) * 11);
        // Links point at the messages' new places.
        for (const PrefixLink& link : model.Links())
            EXPECT_EQ(link.Start, model.Ranges()[static_cast<size_t>(link.MessageIndex)].Start +
                                      (link.Kind == kPrefixLinkSender ? 0 : 2));
    }
}

TEST(HistoryModelTest, ClicksOnLinks)
{
    CHistoryEditModel model;
    ShowFive(model);
    // The sender link of the third message.
    HistoryClick click = model.Click(22, 23, "C");
    EXPECT_EQ(click.What, HistoryClick::Action::NameLink);
    EXPECT_EQ(click.MessageIndex, 2);
    EXPECT_EQ(click.LinkKind, kPrefixLinkSender);
    EXPECT_EQ(model.Messages()[2].Sender, "C");
    click = model.Click(24, 28, "Owen");
    EXPECT_EQ(click.LinkKind, kPrefixLinkRecipients);

    struct Case
    {
        const char* Text;
        HistoryClick::Action What;
        std::string Target;
    };
    const Case cases[] = {
        {"www.x.org", HistoryClick::Action::Open, "www.x.org"},
        {"ann@x.org", HistoryClick::Action::Open, "mailto:ann@x.org"},
        {"mailto:ann@x.org", HistoryClick::Action::Open, "mailto:ann@x.org"},
        {"http://u:p@x.org", HistoryClick::Action::Open, "http://u:p@x.org"},
        {"", HistoryClick::Action::None, ""},
    };
    for (const Case& c : cases) {
        click = model.Click(100, 110, c.Text);
        EXPECT_EQ(click.What, c.What) << c.Text;
        EXPECT_EQ(click.Target, c.Target) << c.Text;
    }
}

TEST(HistoryModelTest, NotDisplayedNotice)
{
    CHistoryEditModel model;
    ShowFive(model);
    HistoryStream stream = model.Redisplay();
    std::optional<HistoryNotice> notice = model.FinishShow(stream.Draw, true);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(model.NotDisplayed());
    EXPECT_EQ(notice->Line, "The messages are not displayed.  Display.");
    EXPECT_EQ(notice->Link, (TextSpan{33, 40}));

    // Appended while the notice shows: stored, not drawn, and the notice stays.
    stream = model.Show(std::vector<ChatMessage>{Message("F", "new")}, true);
    EXPECT_FALSE(stream.Draw);
    EXPECT_TRUE(stream.Paragraphs.empty());
    EXPECT_FALSE(model.FinishShow(stream.Draw, false));
    EXPECT_TRUE(model.NotDisplayed());
    EXPECT_EQ(model.Messages().size(), 6u);

    EXPECT_EQ(model.Click(33, 40, "Display").What, HistoryClick::Action::Redisplay);
    stream = model.Redisplay();
    EXPECT_TRUE(stream.Draw);
    EXPECT_FALSE(model.FinishShow(stream.Draw, false));
    EXPECT_FALSE(model.NotDisplayed());
    EXPECT_EQ(model.Ranges().back(), (MessageRange{true, 55, 67}));
}

TEST(HistoryModelTest, ReloadNotice)
{
    CHistoryEditModel model;
    ShowFive(model);
    HistoryNotice notice =
        model.ShowReloadNotice("The Zib Tam log has changed and must be reloaded.");
    EXPECT_TRUE(model.ReloadPending());
    EXPECT_TRUE(model.Messages().empty());
    EXPECT_EQ(notice.Link.End - notice.Link.Start, 6);
    EXPECT_EQ(model.Click(notice.Link.Start, notice.Link.End, "Reload").What,
              HistoryClick::Action::Reload);
    // The next display clears the notice, even an append.
    HistoryStream stream = model.Show(std::vector<ChatMessage>{Message("A", "xy")}, true);
    EXPECT_FALSE(model.ReloadPending());
    EXPECT_TRUE(stream.ReplaceAll);
    EXPECT_EQ(model.Ranges(), Ranges({{0, 11}}));
    EXPECT_EQ(stream.Paragraphs, (std::vector<HistoryParagraph>{{"A Owen> ", "xy"}}));
}

TEST(HistoryModelTest, OpenItemText)
{
    struct Case
    {
        const char* Selection;
        const char* Item;
        bool Enabled;
    };
    const Case cases[] = {
        {"C:\\Temp\\file.txt\\", "&Open \"C:\\Temp\\file.txt\"", true},
        {"  \"http://x.org/\" ", "&Open \"http://x.org\"", true},
        {"123456789012345678901234567890", "&Open \"1234567890123456789012...\"", true},
        {"1234567890123456789012345", "&Open \"1234567890123456789012345\"", true},
        {"two\nlines", "&Open \"\"", false},
        {" \t\r\n\"", "&Open \"\"", false},
        {"\\\\server\\share\\", "&Open \"\\\\server\\share\"", true},
        {"", "&Open \"\"", false},
    };
    for (const Case& c : cases) {
        bool enabled = !c.Enabled;
        EXPECT_EQ(OpenItemText(c.Selection, &enabled), c.Item) << c.Selection;
        EXPECT_EQ(enabled, c.Enabled) << c.Selection;
    }
}

TEST(HistoryModelTest, MenuAndKeys)
{
    HistoryMenu menu = HistoryMenuFor(0, 0, 0, false, "");
    EXPECT_FALSE(menu.Copy || menu.SelectAll || menu.ClearAll || menu.ClearSelected || menu.Open);
    menu = HistoryMenuFor(3, 8, 20, true, "hello");
    EXPECT_TRUE(menu.Copy && menu.SelectAll && menu.ClearAll && menu.ClearSelected && menu.Open);
    EXPECT_FALSE(HistoryMenuFor(0, 20, 20, true, "all").SelectAll);

    const std::pair<char, HistoryKeyAction> keys[] = {
        {'a', HistoryKeyAction::SelectAll},     {'C', HistoryKeyAction::Copy},
        {'d', HistoryKeyAction::ClearSelected}, {'X', HistoryKeyAction::Cut},
        {'e', HistoryKeyAction::Ignore},        {'L', HistoryKeyAction::Ignore},
        {'r', HistoryKeyAction::Ignore},        {'V', HistoryKeyAction::Ignore},
        {'z', HistoryKeyAction::Pass},
    };
    for (auto [key, action] : keys)
        EXPECT_EQ(HistoryControlKey(key), action) << key;
}

TEST(HistoryModelTest, OpenLinkRules)
{
    EXPECT_EQ(NetworkPathUrl("\\\\host\\share\\dir"), "smb://host/share/dir");
    EXPECT_EQ(OpenLinkFailureText("mailto:ann@x.org"),
              "Zib Tam could not find a mail program installed on your computer.  You can send "
              "an e-mail to this address at\r\nann@x.org");
    EXPECT_EQ(OpenLinkFailureText("\\\\h\\s"),
              "Zib Tam could not find the network path\r\nspecified.  Please verify the path "
              "and try again.");
    EXPECT_EQ(OpenLinkFailureText("www.x.org"),
              "Zib Tam could not find a web browser on your computer.  You can visit this site "
              "at\r\nwww.x.org");
}

TEST(HistoryModelTest, TimeFilter)
{
    ScopedTimeZone zone("UTC");
    CHistoryMessageList list;
    ChatMessage early = Message("A", "1");
    early.Time = MakeTime(2020, 1, 1, 10, 0, 0);
    ChatMessage late = Message("B", "2");
    late.Time = MakeTime(2020, 1, 1, 12, 0, 0);
    ChatMessage timeless = Message("C", "3");
    timeless.Time = MessageTime{};
    list.Set({early, late, timeless});
    EXPECT_EQ(list.Shown().size(), 3u);

    list.SetTimeFilter(1577880000); // 2020-01-01 12:00:00 UTC
    EXPECT_EQ(list.ShownIndex(), (std::vector<int>{-1, 0, -1}));
    std::vector<ChatMessage> added = list.Add(std::vector<ChatMessage>{early, late});
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].Sender, "B");
    EXPECT_EQ(list.ShownIndex(), (std::vector<int>{-1, 0, -1, -1, 1}));

    list.ClearTimeFilter();
    EXPECT_EQ(list.Shown().size(), 5u);
}

// The view's text of a long word gets a break opportunity after every 1,000 characters
// without a blank; spans found in the text move with the breaks.
TEST(HistoryModelTest, LongRunsGetBreakOpportunities)
{
    const std::string a1000(kLongestUnbrokenRun, 'a');
    struct Case
    {
        std::string Text;
        std::string Shown;
    };
    const Case cases[] = {
        {"", ""},
        {a1000, a1000},
        {a1000 + "b", a1000 + kViewBreak + "b"},
        {a1000 + a1000 + a1000 + "c",
         a1000 + kViewBreak + a1000 + kViewBreak + a1000 + kViewBreak + "c"},
        {a1000 + " " + a1000, a1000 + " " + a1000}, // blanks, tabs and line ends are breaks
        {a1000 + "\t" + a1000 + "\n" + a1000, a1000 + "\t" + a1000 + "\n" + a1000},
        {"x" + a1000 + " y", "x" + a1000.substr(1) + kViewBreak + "a y"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BreakLongRuns(c.Text), c.Shown) << c.Text.size();

    // Spans before, around, right after and beyond the breaks.
    std::vector<TextSpan> spans = {{0, 5}, {995, 1005}, {1000, 1010}, {2500, 2600}};
    EXPECT_EQ(BreakLongRuns(std::string(3000, 'w'), &spans).size(), 3002u);
    EXPECT_EQ(spans, (std::vector<TextSpan>{{0, 5}, {995, 1006}, {1001, 1011}, {2502, 2602}}));

    // Through the model: the shown text has the breaks (and the ranges count them), the kept
    // message does not, and an address after the long word is found where it is shown.
    CHistoryEditModel model;
    model.Configure(SimpleSettings());
    const std::string text = std::string(2500, 'z') + " see www.x.org";
    HistoryStream stream = model.Show(std::vector<ChatMessage>{Message("Ann", text)}, false);
    EXPECT_EQ(model.Messages()[0].Text, text);
    // "Ann Owen> " (10 characters), the text with two breaks, the paragraph mark.
    EXPECT_EQ(model.Ranges()[0].End, 10 + static_cast<int32_t>(text.size()) + 2 + 1);
    EXPECT_EQ(stream.Addresses, (std::vector<TextSpan>{{10 + 2502 + 5, 10 + 2502 + 14}}));
    EXPECT_NE(stream.Paragraphs[0].Text.find(std::string("z") + kViewBreak + "z"),
              std::string::npos);
}

TEST(HistoryModelTest, NormaliseHistoryText)
{
    EXPECT_EQ(NormaliseHistoryText("a\r\nb\rc\n\td\x01\x1f\x7f\xe9"), "a\nb\nc\n\td\x7f\xe9");
}

} // namespace
