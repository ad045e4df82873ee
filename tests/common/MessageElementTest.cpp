#include "common/MessageElement.h"

#include "MessageTestSupport.h"
#include "xml/XmlReader.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatMessageElement, WritesTheFourteenLines)
{
    ChatMessage message = MakeMessage("1a", "Hi");
    EXPECT_EQ(FormatMessageElement(message), "   <message>\r\n"
                                             "      <id>1a</id>\r\n"
                                             "      <from>R.T.</from>\r\n"
                                             "      <to><user>Owen</user></to>\r\n"
                                             "      <time>\r\n"
                                             "         <month>5</month>\r\n"
                                             "         <day>8</day>\r\n"
                                             "         <year>2000</year>\r\n"
                                             "         <hour>15</hour>\r\n"
                                             "         <minute>47</minute>\r\n"
                                             "         <second>38</second>\r\n"
                                             "      </time>\r\n"
                                             "      <text>Hi</text>\r\n"
                                             "   </message>\r\n");
}

// The line of the element that starts with `start`.
std::string LineOf(const std::string& element, const std::string& start)
{
    size_t at = element.find(start);
    if (at == std::string::npos)
        return "(missing)";
    return element.substr(at, element.find(">\r\n", at) + 1 - at);
}

TEST(FormatMessageElement, Values)
{
    struct Case
    {
        const char* Name;
        ChatMessage Message;
        std::string LineStart;
        std::string Line;
    };
    ChatMessage allUsers = MakeMessage("2", "x");
    allUsers.AllUsers = true;
    allUsers.Recipients.clear();
    ChatMessage noTime = MakeMessage("3", "x");
    noTime.Time = MessageTime();
    ChatMessage twoNames = MakeMessage("4", "x");
    twoNames.Recipients = {"A&B", "C"};
    ChatMessage nobody = MakeMessage("5", "x");
    nobody.Recipients.clear();
    // Values that look like the element's placeholders stay as they are.
    ChatMessage placeholders = MakeMessage("%sender%", "%message%", "%second%");
    const Case cases[] = {
        {"escaped text", MakeMessage("1", "a<b & c"), "      <text>",
         "      <text>a&lt;b &amp; c</text>"},
        {"two lines", MakeMessage("1", "one\ntwo"), "      <text>",
         "      <text>one\r\ntwo</text>"},
        {"byte 233", MakeMessage("1", "x", "Ren\xe9"), "      <from>",
         "      <from>Ren&#233;</from>"},
        {"all users", allUsers, "      <to>", "      <to>all users</to>"},
        {"no time", noTime, "         <year>", "         <year></year>"},
        {"no time", noTime, "         <second>", "         <second></second>"},
        {"two names", twoNames, "      <to>", "      <to><user>A&amp;B</user><user>C</user></to>"},
        {"nobody", nobody, "      <to>", "      <to></to>"},
        {"placeholders", placeholders, "      <id>", "      <id>%sender%</id>"},
        {"placeholders", placeholders, "      <from>", "      <from>%second%</from>"},
        {"placeholders", placeholders, "         <second>", "         <second>38</second>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LineOf(FormatMessageElement(c.Message), c.LineStart), c.Line) << c.Name;
}

// A handler like the protocol's: the document's root is the <message> element (depth 2).
class ProtocolMessageHandler : public IXmlHandler
{
public:
    std::vector<ChatMessage> Messages;
    void OnStartElement(const XmlElement* stack, int depth) override
    {
        if (depth == 2 && stack[1].Name.Is("message"))
            Messages.emplace_back();
        else if (depth > 2 && !Messages.empty())
            ReadMessageChild(stack, depth, 2, Messages.back());
    }
    void OnEndElement(const XmlElement*, int) override {}
};

std::vector<ChatMessage> ReadMessages(const std::string& body)
{
    ProtocolMessageHandler handler;
    CXmlReader reader(false);
    std::string error;
    EXPECT_TRUE(reader.Parse("<?xml version=\"1.0\"?>\n" + body, handler, error)) << error;
    return handler.Messages;
}

TEST(ReadMessageChild, ReadsBackWhatWasWritten)
{
    ChatMessage allUsers = MakeMessage("z9", "tab\there", "Ren\xe9");
    allUsers.AllUsers = true;
    allUsers.Recipients.clear();
    ChatMessage partialTime = MakeMessage("10", "x");
    partialTime.Time.HasHour = false;
    partialTime.Time.Hour = 0;
    ChatMessage odd = MakeMessage("1", "<&>'\"", "A");
    odd.Recipients = {"x y", "\x80\xff"};
    for (const ChatMessage& original : {MakeMessage("1a", "Hi"), allUsers, partialTime, odd}) {
        std::vector<ChatMessage> read = ReadMessages(FormatMessageElement(original));
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0], original) << original.Id;
    }
}

TEST(ReadMessageChild, Rules)
{
    struct Case
    {
        const char* Name;
        std::string Body; // inside <message>
        ChatMessage Expected;
    };
    auto with = [](auto change) {
        ChatMessage message;
        change(message);
        return message;
    };
    const Case cases[] = {
        {"leading blanks dropped, CR LF kept", "<text>  a\r\nb </text>",
         with([](ChatMessage& m) { m.Text = "a\r\nb "; })},
        {"all users only when exact", "<to>All Users</to>", ChatMessage()},
        {"empty user skipped", "<to><user></user><user>Kim</user></to>",
         with([](ChatMessage& m) { m.Recipients = {"Kim"}; })},
        {"user outside to ignored", "<user>Kim</user><from><user>Al</user></from>", ChatMessage()},
        {"bad time field stays missing", "<time><day>12345</day><hour> 07 </hour></time>",
         with([](ChatMessage& m) {
             m.Time.Hour = 7;
             m.Time.HasHour = true;
         })},
        {"names are case-sensitive", "<ID>1</ID><From>x</From>", ChatMessage()},
        {"deeper elements ignored", "<to><user><id>9</id></user></to>", ChatMessage()},
        {"later value wins", "<id>1</id><id>2</id>", with([](ChatMessage& m) { m.Id = "2"; })},
    };
    for (const Case& c : cases) {
        std::vector<ChatMessage> read = ReadMessages("<message>" + c.Body + "</message>");
        ASSERT_EQ(read.size(), 1u) << c.Name;
        EXPECT_EQ(read[0], c.Expected) << c.Name;
    }
}

} // namespace
