#include "net/ProtocolDocument.h"

#include "net/Frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string kServer = "Server: Zib Tam Freeware/740\r\n";

std::string Framed(const std::string& body)
{
    return kServer + "Content-Length: " + std::to_string(body.size()) + "\n\n" + body;
}

TEST(ProtocolDocumentWriter, FramesByteForByte)
{
    const std::string prolog = "<?xml version=\"1.0\"?>\n";
    struct Case
    {
        const char* Name;
        ProtocolDocument Document;
        std::string Frame;
    };
    const Case cases[] = {
        {"login request for Owen", ProtocolDocument::MakeLoginRequest("Owen"),
         kServer + "Content-Length: 84\n\n" + prolog +
             "<login-request>\n   <username>Owen</username>\n</login-request>\n"},
        {"escaped name", ProtocolDocument::MakeLoginRequest("R&T <\xE9>"),
         Framed(prolog + "<login-request>\n   <username>R&amp;T &lt;&#233;&gt;</username>\n"
                         "</login-request>\n")},
        {"CR LF in a value becomes LF and is counted so",
         ProtocolDocument::MakeLoginRequest("a\r\nb\rc"),
         Framed(prolog + "<login-request>\n   <username>a\nb\nc</username>\n</login-request>\n")},
        {"login accepted", ProtocolDocument::MakeLoginResponse(true, ""),
         Framed(prolog + "<login-response>\n   <result>true</result>\n</login-response>\n")},
        {"login refused",
         ProtocolDocument::MakeLoginResponse(
             false, "Another user is already using the requested user name."),
         Framed(prolog +
                "<login-response>\n   <result>false</result>\n"
                "   <error>Another user is already using the requested user name.</error>\n"
                "</login-response>\n")},
        {"users",
         ProtocolDocument::MakeUsers({{"", "Owen"}, {"Owen", "Owen2"}, {"Gone", ""}, {"", ""}}),
         Framed(prolog + "<users>\n"
                         "   <user>\n      <username>Owen</username>\n   </user>\n"
                         "   <user>\n      <oldusername>Owen</oldusername>\n"
                         "      <username>Owen2</username>\n   </user>\n"
                         "   <user>\n      <oldusername>Gone</oldusername>\n   </user>\n"
                         "</users>\n")},
        {"no users", ProtocolDocument::MakeUsers({}), Framed(prolog + "<users>\n</users>\n")},
        {"receipt", ProtocolDocument::MakeReceipt("1a", "R&T", "%sender%"),
         Framed(prolog + "<message-receipt>\n  <id>1a</id>\n"
                         "  <message-sender>R&amp;T</message-sender>\n"
                         "  <message-recipient>%sender%</message-recipient>\n"
                         "</message-receipt>")},
        {"keep-alive", ProtocolDocument::MakeKeepAlive(), kServer + "Content-Length: 0\n\n"},
        {"redirect", ProtocolDocument::MakeRedirect("http://srv:8080/upgrade/740/setup.exe"),
         "HTTP/1.1 302 Found\r\n" + kServer +
             "Location: http://srv:8080/upgrade/740/setup.exe\r\nContent-Length: 0\r\n\r\n"},
        {"not found", ProtocolDocument::MakeNotFound(),
         "HTTP/1.1 404 Not Found\r\n" + kServer + "Content-Length: 0\r\nConnection: close\r\n\r\n"},
        {"file", ProtocolDocument::MakeFile(std::string("MZ\0\r\n", 5)),
         "HTTP/1.1 200 OK\r\n" + kServer +
             "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
             "Last-Modified: Mon, 08 May 2000 13:47:38 GMT\r\n"
             "Accept-Ranges: bytes\r\nContent-Length: 5\r\n"
             "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n" +
             std::string("MZ\0\r\n", 5)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDocumentFrame(c.Document, 957793658), c.Frame) << c.Name;
    }
}

ChatMessage Example()
{
    ChatMessage message;
    message.Id = "1a";
    message.Sender = "R.T.";
    message.Recipients = {"Owen", "B&B"};
    message.Text = "Hi\nthere <you>";
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

TEST(ProtocolDocumentWriter, MessageIsTheLogElementWithLineFeeds)
{
    const std::string body = "<?xml version=\"1.0\"?>\n"
                             "   <message>\n"
                             "      <id>1a</id>\n"
                             "      <from>R.T.</from>\n"
                             "      <to><user>Owen</user><user>B&amp;B</user></to>\n"
                             "      <time>\n"
                             "         <month>5</month>\n"
                             "         <day>8</day>\n"
                             "         <year>2000</year>\n"
                             "         <hour>15</hour>\n"
                             "         <minute>47</minute>\n"
                             "         <second>38</second>\n"
                             "      </time>\n"
                             "      <text>Hi\nthere &lt;you&gt;</text>\n"
                             "   </message>\n";
    EXPECT_EQ(FormatDocumentFrame(ProtocolDocument::MakeMessage(Example())), Framed(body));
}

TEST(ProtocolDocumentReader, MessagesReadBackAsSent)
{
    struct Case
    {
        const char* Name;
        ChatMessage Message;
    };
    ChatMessage toAll = Example();
    toAll.AllUsers = true;
    toAll.Recipients.clear();
    ChatMessage noTime = Example();
    noTime.Time = MessageTime();
    noTime.Text = "\xE9t\xE9\n\nline three";
    const Case cases[] = {
        {"to two users", Example()}, {"to all users", toAll}, {"no time", noTime}};
    for (const auto& c : cases) {
        std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(c.Message));
        std::string body = frame.substr(frame.find("\n\n") + 2);
        ProtocolDocument document;
        std::string error;
        ASSERT_TRUE(ReadProtocolDocument(body, document, error)) << error;
        EXPECT_EQ(document.Type, DocumentType::Message) << c.Name;
        EXPECT_EQ(document.Message, c.Message) << c.Name;
        EXPECT_FALSE(document.Message.Loopback);
        EXPECT_TRUE(document.Message.Log);
    }
}

TEST(ProtocolDocumentWriter, ReceiptTextKeepsItsCarriageReturnsBeforeConversion)
{
    EXPECT_EQ(FormatDocumentText(ProtocolDocument::MakeReceipt("1", "a", "b")),
              "<message-receipt>\r\n  <id>1</id>\r\n  <message-sender>a</message-sender>\r\n"
              "  <message-recipient>b</message-recipient>\r\n</message-receipt>");
}

ProtocolDocument Read(const std::string& root)
{
    ProtocolDocument document;
    std::string error;
    EXPECT_TRUE(ReadProtocolDocument("<?xml version=\"1.0\"?>\n" + root, document, error)) << error;
    return document;
}

TEST(ProtocolDocumentReader, Recognition)
{
    ProtocolDocument d = Read("<login-request><username>  Owen &amp; co</username>"
                              "<other>x</other></login-request>");
    EXPECT_EQ(d.Type, DocumentType::LoginRequest);
    EXPECT_EQ(d.UserName, "Owen & co");

    struct ResultCase
    {
        const char* Body;
        bool Result;
        const char* Error;
    };
    const ResultCase results[] = {
        {"<result>true</result><error>e&lt;</error>", true, "e<"},
        {"<result>false</result>", false, ""},
        {"<result>TRUE</result>", false, ""},
        {"<result>yes</result>", false, ""},
        {"<error>no result</error>", false, "no result"},
        {"<result>true</result><result>maybe</result>", true, ""},
    };
    for (const auto& c : results) {
        d = Read(std::string("<login-response>") + c.Body + "</login-response>");
        EXPECT_EQ(d.Type, DocumentType::LoginResponse) << c.Body;
        EXPECT_EQ(d.Result, c.Result) << c.Body;
        EXPECT_EQ(d.Error, c.Error) << c.Body;
    }

    d = Read("<users><user><oldusername>Owen</oldusername></user>"
             "<user><username>A</username><oldusername>B</oldusername></user>"
             "<user/><junk><username>X</username></junk></users>");
    EXPECT_EQ(d.Type, DocumentType::Users);
    EXPECT_EQ(d.Users, (std::vector<UserEntry>{{"Owen", ""}, {"B", "A"}, {"", ""}}));

    d = Read("<message-receipt><id>1a</id><message-sender>R.T.</message-sender>"
             "<message-recipient>Owen</message-recipient></message-receipt>");
    EXPECT_EQ(d.Type, DocumentType::MessageReceipt);
    EXPECT_EQ(d.ReceiptId, "1a");
    EXPECT_EQ(d.ReceiptSender, "R.T.");
    EXPECT_EQ(d.ReceiptRecipient, "Owen");

    // Other roots are queued with type 0; names are compared exactly.
    EXPECT_EQ(Read("<Users><user/></Users>").Type, DocumentType::Unknown);
    EXPECT_EQ(Read("<keep-alive/>").Type, DocumentType::Unknown);

    std::string error;
    EXPECT_FALSE(ReadProtocolDocument("<users></users>", d, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadProtocolDocument("", d, error));
}

// A sink that reads every body into a document.
class DocumentSink : public IFrameSink
{
public:
    std::vector<ProtocolDocument> Documents;
    void OnFrameBody(std::string_view body) override
    {
        ProtocolDocument document;
        std::string error;
        if (ReadProtocolDocument(body, document, error))
            Documents.push_back(document);
    }
    void OnHttpRequest(const HttpRequest&) override {}
};

TEST(ProtocolDocumentReader, WrittenDocumentsReadBack)
{
    std::string stream;
    stream += FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("\xC9lise <x>"));
    stream += FormatDocumentFrame(ProtocolDocument::MakeKeepAlive());
    stream += FormatDocumentFrame(ProtocolDocument::MakeLoginResponse(false, "No & no"));
    stream += FormatDocumentFrame(ProtocolDocument::MakeUsers({{"", "A"}, {"B", "C"}, {"D", ""}}));
    stream += FormatDocumentFrame(ProtocolDocument::MakeReceipt("z", "R.T.", "Owen"));
    CFrameParser parser;
    DocumentSink sink;
    ASSERT_TRUE(parser.Feed(stream, sink));
    ASSERT_EQ(sink.Documents.size(), 4u);
    EXPECT_EQ(sink.Documents[0].UserName, "\xC9lise <x>");
    EXPECT_EQ(sink.Documents[1].Type, DocumentType::LoginResponse);
    EXPECT_FALSE(sink.Documents[1].Result);
    EXPECT_EQ(sink.Documents[1].Error, "No & no");
    EXPECT_EQ(sink.Documents[2].Users, (std::vector<UserEntry>{{"", "A"}, {"B", "C"}, {"D", ""}}));
    EXPECT_EQ(sink.Documents[3].ReceiptRecipient, "Owen");
}

} // namespace
