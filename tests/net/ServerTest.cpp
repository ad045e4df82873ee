// The server with real clients and raw peers on loopback, in one process.
#include "ServerTestSupport.h"
#include "TestSupport.h"
#include "net/Frame.h"
#include "net/ProtocolDocument.h"
#include "net/TaskSocket.h"

#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

// A text of fewer than `limit` bytes drawn from `alphabet`.
std::string RandomText(std::mt19937& random, const std::string& alphabet, std::size_t limit)
{
    std::string text;
    std::size_t length = random() % limit;
    for (std::size_t i = 0; i < length; ++i)
        text += alphabet[random() % alphabet.size()];
    return text;
}

std::string Frame(const ProtocolDocument& document)
{
    return FormatDocumentFrame(document);
}

std::string LoginFrame(const std::string& name)
{
    return Frame(ProtocolDocument::MakeLoginRequest(name));
}

// The documents in what a raw peer received, in order.
struct ReceivedDocuments : IFrameSink
{
    std::vector<ProtocolDocument> Documents;
    CFrameParser Parser;

    // Takes what the peer has read so far; false when the bytes are not frames.
    bool Take(RawPeer& peer)
    {
        peer.ReadAvailable();
        bool ok = Parser.Feed(peer.Received, *this);
        peer.Received.clear();
        return ok;
    }
    std::size_t Count(DocumentType type) const
    {
        std::size_t n = 0;
        for (const ProtocolDocument& document : Documents)
            n += document.Type == type;
        return n;
    }
    void OnFrameBody(std::string_view body) override
    {
        ProtocolDocument document;
        std::string error;
        if (ReadProtocolDocument(body, document, error))
            Documents.push_back(std::move(document));
    }
    void OnHttpRequest(const HttpRequest&) override {}
};

// Messages from `sender` to `recipient` whose texts are text(0) ... text(count - 1), framed.
std::string MessageFrames(const std::string& sender, const std::string& recipient,
                          std::size_t count, const std::function<std::string(int)>& text)
{
    std::string frames;
    for (int i = 0; i < static_cast<int>(count); ++i) {
        ChatMessage message;
        message.Id = std::to_string(i);
        message.Sender = sender;
        message.Recipients = {recipient};
        message.Text = text(i);
        message.Time = MessageTime::From(958'000'000);
        frames += Frame(ProtocolDocument::MakeMessage(message));
    }
    return frames;
}

ChatMessage RoutedMessage()
{
    ChatMessage message;
    message.Id = "1a";
    message.Sender = "R.T.";
    message.Recipients = {"Owen", "B&B"};
    message.Text = "Hi\nthere <you>";
    message.Time = MessageTime::From(957793658);
    return message;
}

// Every routed message and receipt is framed by the one-pass writer; its bytes must be
// those of the general path (text, converted copy, frame) for any content.
TEST(ServerWireBytes, FastFramesEqualTheGeneralPath)
{
    struct Case
    {
        const char* Name;
        ProtocolDocument Document;
    };
    ChatMessage toAll = RoutedMessage();
    toAll.AllUsers = true;
    toAll.Recipients.clear();
    ChatMessage noTime = RoutedMessage();
    noTime.Time = MessageTime();
    ChatMessage oddTime = RoutedMessage();
    oddTime.Time.Year = -12;
    oddTime.Time.Second = 2147483647;
    oddTime.Time.HasDay = false;
    ChatMessage lineEnds = RoutedMessage();
    lineEnds.Text = "\r\na\rb\nc\r\r\n\n\r";
    lineEnds.Id = "\r\n\r";
    lineEnds.Sender = "x\r";
    lineEnds.Recipients = {"\ny", "a\r\nb", ""};
    ChatMessage empty;
    ChatMessage bytes = RoutedMessage();
    bytes.Text.clear();
    for (int b = 0; b < 256; ++b)
        bytes.Text += static_cast<char>(b);
    bytes.Sender = bytes.Text;
    bytes.Recipients = {bytes.Text};
    ChatMessage big = RoutedMessage();
    big.Text = std::string(200000, 'q') + "&";
    const Case cases[] = {
        {"message to two users", ProtocolDocument::MakeMessage(RoutedMessage())},
        {"to all users", ProtocolDocument::MakeMessage(toAll)},
        {"no time", ProtocolDocument::MakeMessage(noTime)},
        {"odd time fields", ProtocolDocument::MakeMessage(oddTime)},
        {"line ends everywhere", ProtocolDocument::MakeMessage(lineEnds)},
        {"empty message", ProtocolDocument::MakeMessage(empty)},
        {"every byte", ProtocolDocument::MakeMessage(bytes)},
        {"large text", ProtocolDocument::MakeMessage(big)},
        {"receipt", ProtocolDocument::MakeReceipt("1a", "R&T", "%sender%")},
        {"receipt with line ends", ProtocolDocument::MakeReceipt("\r\n", "a\rb", "\n\r")},
        {"receipt with every byte",
         ProtocolDocument::MakeReceipt(bytes.Text, bytes.Text, bytes.Text)},
        {"empty receipt", ProtocolDocument::MakeReceipt("", "", "")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatDocumentFrame(c.Document), FormatDocumentFrameSlowly(c.Document)) << c.Name;
        EXPECT_EQ(FormatDocumentFrame(c.Document, 0, 741),
                  FormatDocumentFrameSlowly(c.Document, 741))
            << c.Name;
    }

    // Random texts from the bytes that matter to escaping and line ends.
    std::mt19937 random(7);
    const std::string alphabet = "ab <>&'\"\r\n\t\x01\x7f\x80\xe9 ";
    auto text = [&] { return RandomText(random, alphabet, 24); };
    for (int i = 0; i < 2000; ++i) {
        ChatMessage m = RoutedMessage();
        m.Id = text();
        m.Sender = text();
        m.Recipients = {text(), text()};
        m.Text = text();
        ProtocolDocument message = ProtocolDocument::MakeMessage(m);
        ASSERT_EQ(FormatDocumentFrame(message), FormatDocumentFrameSlowly(message)) << i;
        ProtocolDocument receipt = ProtocolDocument::MakeReceipt(text(), text(), text());
        ASSERT_EQ(FormatDocumentFrame(receipt), FormatDocumentFrameSlowly(receipt)) << i;
    }
}

// Messages in the form every client writes are read without the XML reader; whatever the
// body, the document must be the reader's.
TEST(ServerWireBytes, QuickReadingOfMessagesEqualsTheReader)
{
    auto body = [](const ChatMessage& message) {
        std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
        return frame.substr(frame.find("\n\n") + 2);
    };
    auto same = [](const std::string& b) {
        ProtocolDocument quick;
        ProtocolDocument reader;
        std::string quickError;
        std::string readerError;
        bool quickOk = ReadProtocolDocument(b, quick, quickError);
        bool readerOk = ReadProtocolDocumentSlowly(b, reader, readerError);
        if (quickOk != readerOk)
            return testing::AssertionFailure() << "parse result differs for: " << b;
        if (quickOk &&
            (quick.Type != reader.Type || !(quick.Message == reader.Message) ||
             quick.UserName != reader.UserName || quick.Users != reader.Users ||
             quick.ReceiptId != reader.ReceiptId || quick.ReceiptSender != reader.ReceiptSender ||
             quick.ReceiptRecipient != reader.ReceiptRecipient))
            return testing::AssertionFailure() << "document differs for: " << b;
        // What the server routes without a document: exactly the bodies read the quick way
        // (those keep their frame), with the sender and recipients the reader finds.
        ProtocolDocument kept;
        ReadProtocolDocument(b, kept, quickError, true);
        RoutedFrame routed;
        bool routable = ReadRoutedFrame(b, routed);
        if (routable != !kept.WrittenFrame.empty())
            return testing::AssertionFailure() << "routed without the quick reading: " << b;
        if (routable) {
            std::vector<std::string> names;
            ForEachRoutedRecipient(routed.Recipients,
                                   [&](std::string_view name) { names.emplace_back(name); });
            bool message = routed.Type == DocumentType::Message;
            if (routed.Type != quick.Type ||
                routed.Sender != (message ? quick.Message.Sender : quick.ReceiptSender) ||
                routed.AllUsers != (message && quick.Message.AllUsers) ||
                names != (message ? quick.Message.Recipients : std::vector<std::string>()))
                return testing::AssertionFailure() << "routed differently: " << b;
        }
        return testing::AssertionSuccess();
    };

    struct Case
    {
        const char* Name;
        std::string Body;
    };
    ChatMessage toAll = RoutedMessage();
    toAll.AllUsers = true;
    toAll.Recipients.clear();
    ChatMessage zeroTime = RoutedMessage();
    zeroTime.Time.Hour = zeroTime.Time.Minute = zeroTime.Time.Second = 0;
    ChatMessage wideTime = RoutedMessage();
    wideTime.Time.Year = 12345;
    wideTime.Time.Month = -3;
    ChatMessage noTime = RoutedMessage();
    noTime.Time = MessageTime();
    ChatMessage lines = RoutedMessage();
    lines.Text = "line one\n\tline two\n\nend";
    ChatMessage blanks = RoutedMessage();
    blanks.Text = " padded \n";
    blanks.Sender = " R ";
    ChatMessage emptyName = RoutedMessage();
    emptyName.Recipients = {"", "Owen"};
    ChatMessage toAllUsersByName = RoutedMessage();
    toAllUsersByName.Recipients = {"all users"};
    ChatMessage empty;
    const std::string plain = body(RoutedMessage());
    const Case cases[] = {
        {"plain", body(RoutedMessage())},
        {"to all users", body(toAll)},
        {"zero hour", body(zeroTime)},
        {"numbers the reader reads otherwise", body(wideTime)},
        {"no time", body(noTime)},
        {"lines and tabs", body(lines)},
        {"blanks at the ends", body(blanks)},
        {"an empty recipient", body(emptyName)},
        {"a user called all users", body(toAllUsersByName)},
        {"empty message", body(empty)},
        {"leading zero", std::string(plain).replace(plain.find("<day>") + 5, 0, "0")},
        {"something after the end", plain + "<x/>"},
        {"NUL after the end", plain + std::string(1, '\0') + "junk"},
        {"CR in the text", std::string(plain).replace(plain.find("Hi"), 2, "H\ri")},
        {"other indentation", std::string(plain).replace(plain.find("   <message>"), 3, "  ")},
        {"a receipt", "<?xml version=\"1.0\"?>\n<message-receipt>\n  <id>1</id>\n"
                      "  <message-sender>a</message-sender>\n"
                      "  <message-recipient>b</message-recipient>\n</message-receipt>"},
        {"cut short", plain.substr(0, plain.size() - 12)},
        {"a receipt with blanks", "<?xml version=\"1.0\"?>\n<message-receipt>\n  <id> 1</id>\n"
                                  "  <message-sender>a</message-sender>\n"
                                  "  <message-recipient>b</message-recipient>\n</message-receipt>"},
        {"an empty receipt", "<?xml version=\"1.0\"?>\n<message-receipt>\n  <id></id>\n"
                             "  <message-sender></message-sender>\n"
                             "  <message-recipient></message-recipient>\n</message-receipt>"},
        {"a receipt with more after it",
         "<?xml version=\"1.0\"?>\n<message-receipt>\n  <id>1</id>\n"
         "  <message-sender>a</message-sender>\n"
         "  <message-recipient>b</message-recipient>\n</message-receipt>\n"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(same(c.Body)) << c.Name;

    // Random messages, and random damage to them.
    std::mt19937 random(11);
    const std::string alphabet = "ab0 9<>&/\n\t\r\x80'";
    auto text = [&] { return RandomText(random, alphabet, 12); };
    for (int i = 0; i < 3000; ++i) {
        ChatMessage m = RoutedMessage();
        m.Id = text();
        m.Sender = text();
        m.Recipients = {text()};
        m.Text = text();
        m.AllUsers = random() % 5 == 0;
        m.Time.Minute = static_cast<int>(random() % 3) * 7;
        m.Time.HasSecond = random() % 4 != 0;
        std::string b = body(m);
        ASSERT_TRUE(same(b)) << i;
        std::string r = FormatDocumentFrame(ProtocolDocument::MakeReceipt(text(), text(), text()));
        r = r.substr(r.find("\n\n") + 2);
        ASSERT_TRUE(same(r)) << i;
        r[random() % r.size()] = alphabet[random() % alphabet.size()];
        ASSERT_TRUE(same(r)) << i;
        std::size_t at = random() % b.size();
        switch (random() % 3) {
        case 0:
            b[at] = alphabet[random() % alphabet.size()];
            break;
        case 1:
            b.erase(at, 1);
            break;
        default:
            b.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
        }
        ASSERT_TRUE(same(b)) << i;
    }
}

// A server forwards a message in the frame it came in when its sender stays the same; the
// bytes must be those the writer makes for the message as the server sends it.
TEST(ServerWireBytes, ForwardedFramesEqualTheWritersBytes)
{
    auto body = [](const ChatMessage& message) {
        std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
        return frame.substr(frame.find("\n\n") + 2);
    };
    auto check = [](const std::string& b, const std::string& name) {
        ProtocolDocument document;
        std::string error;
        if (!ReadProtocolDocument(b, document, error, true))
            return testing::AssertionSuccess();
        const std::string expected = FormatDocumentFrameSlowly(document);
        if (FormatDocumentFrame(document) != expected)
            return testing::AssertionFailure() << "formatted frame differs: " << name;
        ProtocolDocument copy = document;
        if (TakeDocumentFrame(copy) != expected)
            return testing::AssertionFailure() << "taken frame differs: " << name;
        // The server sets the sender to the logged-on name, which may differ.
        for (const char* sender : {"Other", "r.t.", "R.T. ", "", "a<b"}) {
            ProtocolDocument renamed = document;
            renamed.Message.Sender = sender;
            renamed.ReceiptSender = sender;
            if (TakeDocumentFrame(renamed) != FormatDocumentFrameSlowly(renamed))
                return testing::AssertionFailure() << "renamed to " << sender << ": " << name;
        }
        return testing::AssertionSuccess();
    };

    ChatMessage toAll = RoutedMessage();
    toAll.AllUsers = true;
    toAll.Recipients.clear();
    ChatMessage plain = RoutedMessage();
    plain.Text = "plain text";
    plain.Recipients = {"Owen"};
    {
        ProtocolDocument document;
        std::string error;
        ASSERT_TRUE(ReadProtocolDocument(body(plain), document, error, true));
        EXPECT_FALSE(document.WrittenFrame.empty()) << "a plain message keeps its frame";
        ProtocolDocument without;
        ASSERT_TRUE(ReadProtocolDocument(body(plain), without, error));
        EXPECT_TRUE(without.WrittenFrame.empty()) << "kept only when asked for";
        std::string receipt =
            FormatDocumentFrame(ProtocolDocument::MakeReceipt("1a", "R.T.", "Owen"));
        ProtocolDocument read;
        ASSERT_TRUE(
            ReadProtocolDocument(receipt.substr(receipt.find("\n\n") + 2), read, error, true));
        EXPECT_EQ(read.Type, DocumentType::MessageReceipt);
        EXPECT_EQ(read.WrittenFrame, receipt) << "a plain receipt keeps its frame";
    }
    for (const ChatMessage& m : {RoutedMessage(), toAll, plain})
        EXPECT_TRUE(check(body(m), m.Text));

    std::mt19937 random(13);
    const std::string alphabet = "ab0 9<>&/\n\t'";
    auto text = [&] { return RandomText(random, alphabet, 10); };
    for (int i = 0; i < 2000; ++i) {
        ChatMessage m = RoutedMessage();
        m.Id = text();
        m.Sender = text();
        m.Recipients = {text(), "Owen"};
        m.Text = text();
        m.AllUsers = random() % 5 == 0;
        std::string b = body(m);
        ASSERT_TRUE(check(b, b));
        b[random() % b.size()] = alphabet[random() % alphabet.size()];
        ASSERT_TRUE(check(b, b));
        std::string r = FormatDocumentFrame(ProtocolDocument::MakeReceipt(text(), text(), text()));
        r = r.substr(r.find("\n\n") + 2);
        ASSERT_TRUE(check(r, r));
        r[random() % r.size()] = alphabet[random() % alphabet.size()];
        ASSERT_TRUE(check(r, r));
    }
}

// Headers like the last one are taken the quick way; whatever the stream and however it is
// split, the parser must report what the general way reports.
TEST(ServerWireBytes, QuickHeadersGiveWhatTheGeneralWayGives)
{
    struct Sink : IFrameSink
    {
        std::vector<std::string> Events;
        void OnFrameBody(std::string_view body) override
        {
            Events.push_back("B" + std::string(body));
        }
        void OnHttpRequest(const HttpRequest& request) override
        {
            Events.push_back("R" + request.Path + "|" + request.Host);
        }
    };
    std::mt19937 random(17);
    auto pick = [&](std::initializer_list<const char*> options) {
        return std::string(options.begin()[random() % options.size()]);
    };
    for (int round = 0; round < 300; ++round) {
        std::string stream;
        for (int piece = 0; piece < 12; ++piece) {
            std::string body(random() % 40, 'x');
            for (char& c : body)
                c = "ab\r\n<>"[random() % 6];
            std::string length = std::to_string(body.size());
            switch (random() % 8) {
            case 0:
                length = "00" + length;
                break;
            case 1:
                length = " " + length;
                break;
            case 2:
                length = "99999999";
                break;
            default:
                break;
            }
            std::string server =
                pick({"Server: ", "Server: ", "Server: ", "server: "}) +
                pick({"Zib Tam Freeware/740", "Zib Tam Freeware/740", "Zib Tam Freeware/741", ""});
            switch (random() % 6) {
            case 0:
                stream += "GET /zibtam.exe HTTP/1.1\r\nHost: h\r\n\r\n";
                break;
            case 1:
                stream += server + "\r\nContent-Length: 0\n\n";
                break;
            case 2:
                stream += server + "\r\nContent-Length: " + length + "\r\n\r\n" + body;
                break;
            default:
                stream += server + "\r\nContent-Length: " + length + "\n\n" + body;
                break;
            }
        }
        CFrameParser quick;
        CFrameParser general;
        general.SetQuickHeaders(false);
        Sink quickSink;
        Sink generalSink;
        std::size_t at = 0;
        while (at < stream.size()) {
            std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + random() % 90);
            std::string_view chunk(stream.data() + at, n);
            at += n;
            ASSERT_EQ(quick.Feed(chunk, quickSink), general.Feed(chunk, generalSink)) << round;
            ASSERT_EQ(quickSink.Events, generalSink.Events) << round;
            ASSERT_EQ(quick.ServerHeader(), general.ServerHeader()) << round;
            ASSERT_EQ(quick.CurrentState(), general.CurrentState()) << round;
            ASSERT_EQ(quick.Buffered(), general.Buffered()) << round;
        }
    }
}

// The connection's document queue against a plain deque: same order through growth,
// draining, the compaction of a long queue that drains slowly, and taking from the middle.
TEST(ServerDocumentQueue, KeepsOrderLikeADeque)
{
    CDocumentQueue queue;
    std::deque<std::string> model;
    std::mt19937 random(5);
    int next = 0;
    for (int step = 0; step < 20000; ++step) {
        unsigned action = random() % 10;
        if (action < 5 || model.empty()) {
            std::string id = std::to_string(next++);
            queue.push_back(ProtocolDocument::MakeReceipt(id, "a", "b"));
            model.push_back(id);
        } else if (action < 9) {
            ASSERT_EQ(queue.front().ReceiptId, model.front()) << step;
            queue.pop_front();
            model.pop_front();
        } else {
            std::size_t at = random() % model.size();
            auto it = queue.begin() + static_cast<std::ptrdiff_t>(at);
            ASSERT_EQ(it->ReceiptId, model[at]) << step;
            queue.erase(it);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        }
        ASSERT_EQ(queue.size(), model.size()) << step;
        ASSERT_EQ(queue.empty(), model.empty()) << step;
    }
    std::size_t i = 0;
    for (ProtocolDocument& document : queue)
        EXPECT_EQ(document.ReceiptId, model[i++]);
}

class ServerTest : public ::testing::Test, public ServerFixtureBase
{
protected:
    std::unique_ptr<TestClient> LoggedOn(const std::string& name)
    {
        auto client = std::make_unique<TestClient>(Clock, "127.0.0.1", Port, name);
        std::string error;
        EXPECT_TRUE(client->LogOn(name, &error)) << name << ": " << error;
        return client;
    }

    // Raw peers Burst and Reader log on and learn of each other; the reader, with a
    // receive buffer small enough to fall behind, reads everything up to there, and then
    // nothing while Burst sends it the backlog.
    void QueueBacklog(RawPeer& burst, RawPeer& reader, ReceivedDocuments& received)
    {
        reader.SetReceiveBuffer(65536);
        ASSERT_TRUE(burst.Send(LoginFrame("Burst")));
        ASSERT_TRUE(reader.Send(LoginFrame("Reader")));
        ASSERT_TRUE(burst.WaitFor("<username>Reader</username>"));
        ASSERT_TRUE(Settle([&] {
            EXPECT_TRUE(received.Take(reader));
            return received.Count(DocumentType::Users) > 0 &&
                   received.Documents.back().Users.size() == 2;
        }));
        ASSERT_TRUE(burst.Send(MessageFrames("Burst", "Reader", kBacklog, BacklogText)));
        PumpFor(100);
    }

    // Burst's messages to the reader: more than the kernel's buffers hold, so that hundreds
    // of documents wait in the server for the reader.
    static constexpr std::size_t kBacklog = 2000;
    static std::string BacklogText(int i)
    {
        return "burst " + std::to_string(i) + " " + std::string(2500, 'b');
    }
    // Reads until the backlog has arrived and `more` holds, then what follows at once.
    void ReadBacklog(
        RawPeer& reader, ReceivedDocuments& received,
        const std::function<bool()>& more = [] { return true; })
    {
        ASSERT_TRUE(Settle(
            [&] {
                EXPECT_TRUE(received.Take(reader));
                return received.Count(DocumentType::Message) >= kBacklog && more();
            },
            15000))
            << received.Count(DocumentType::Message) << " of " << kBacklog << " arrived";
        PumpFor(50);
        EXPECT_TRUE(received.Take(reader));
    }
    // The backlog arrived whole and in order, from `at` on.
    static void ExpectBacklog(const ReceivedDocuments& received, std::size_t at)
    {
        for (std::size_t i = 0; i < kBacklog; ++i)
            ASSERT_EQ(received.Documents[at + i].Message.Text, BacklogText(static_cast<int>(i)))
                << i;
    }
};

TEST_F(ServerTest, StartsOnAFreePortAndRefusesATakenOne)
{
    ASSERT_TRUE(Started);
    ASSERT_NE(Port, 0);
    CTcpIpServer second(Clock, nullptr);
    std::string error;
    EXPECT_FALSE(second.Start(Port, error));
    EXPECT_EQ(error, "Zib Tam could not start the server.\n\nAddress already in use");
    // A started server starting again is fine.
    EXPECT_TRUE(Server.Start(Port, error));
}

TEST_F(ServerTest, ClientsLearnWhoIsOnlineArrivalsAndDepartures)
{
    auto owen = LoggedOn("Owen");
    auto rt = LoggedOn("RT Holm");
    ASSERT_TRUE(Settle([&] { return owen->Knows({"RT Holm"}) && rt->Knows({"Owen"}); }));
    EXPECT_EQ(owen->Sink.Events, (std::vector<std::string>{"connected", "arrived RT Holm"}));
    EXPECT_EQ(rt->Sink.Events, (std::vector<std::string>{"connected", "arrived Owen"}));

    rt->Client->LogOff();
    ASSERT_TRUE(Settle([&] { return owen->Knows({}); }));
    EXPECT_EQ(owen->Sink.Events.back(), "departed RT Holm");
    EXPECT_EQ(Server.ConnectionCount(), 1u);
}

// The name rules of the login-request, each against a server where "owen" is logged on.
TEST_F(ServerTest, LoginNameRules)
{
    struct Case
    {
        std::string Name;
        bool Ok;
        std::string Error;
    };
    const Case cases[] = {
        {"ZIB TAM", false, "Zib Tam has already reserved the requested user name."},
        {"All Users", false, "Zib Tam has already reserved the requested user name."},
        {"OWEN", false, "Another user is already using the requested user name."},
        {"owen2", true, ""},
    };
    auto owen = LoggedOn("owen");
    for (const Case& c : cases) {
        TestClient other(Clock, "127.0.0.1", Port, c.Name);
        std::string error;
        EXPECT_EQ(other.LogOn(c.Name, &error), c.Ok) << c.Name;
        EXPECT_EQ(error, c.Error) << c.Name;
        // A refused log-on leaves no connection behind.
        EXPECT_EQ(other.Client->IsConnected(), c.Ok) << c.Name;
    }
}

TEST_F(ServerTest, AskingForTheOwnNameAgainOrInOtherLetterCase)
{
    auto owen = LoggedOn("owen");
    auto rt = LoggedOn("rt");
    ASSERT_TRUE(Settle([&] { return rt->Knows({"owen"}); }));

    std::string error;
    EXPECT_FALSE(owen->Client->ChangeUserName("owen", error));
    EXPECT_EQ(error, "You are already using the specified user name.");
    // The refusal closes the connection, as every refused log-on does.
    EXPECT_FALSE(owen->Client->IsConnected());
    EXPECT_EQ(owen->Sink.Events.back(), "disconnected");
    // Its name is free again once the server's poll has removed the closed connection.
    ASSERT_TRUE(Settle([&] { return Server.ConnectionCount() == 1; }));

    auto again = LoggedOn("owen");
    EXPECT_TRUE(again->Client->ChangeUserName("Owen", error)) << error;
    std::string name;
    EXPECT_TRUE(again->Client->GetUserName(name));
    EXPECT_EQ(name, "Owen");
    ASSERT_TRUE(Settle([&] { return rt->Knows({"Owen"}); }));
}

TEST_F(ServerTest, RenameIsSeenAsRenameThenAsDepartureAndArrival)
{
    auto owen = LoggedOn("Owen");
    auto rt = LoggedOn("RT");
    ASSERT_TRUE(Settle([&] { return rt->Knows({"Owen"}); }));
    std::string error;
    ASSERT_TRUE(owen->Client->ChangeUserName("Owen2", error)) << error;
    ASSERT_TRUE(Settle([&] { return rt->Knows({"Owen2"}); }));
    EXPECT_EQ(rt->Sink.Events.back(), "renamed Owen to Owen2");

    // The previous name stays in every later list: a client already showing Owen2 sees
    // him leave and come back.
    auto third = LoggedOn("Third");
    ASSERT_TRUE(Settle([&] { return rt->Knows({"Owen2", "Third"}); }));
    std::vector<std::string> tail(rt->Sink.Events.end() - 3, rt->Sink.Events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"departed Owen2", "arrived Owen2", "arrived Third"}));
}

TEST_F(ServerTest, MessageRoutingReceiptsAndUndeliverableNames)
{
    auto owen = LoggedOn("Owen");
    auto rt = LoggedOn("RT");
    ASSERT_TRUE(Settle([&] { return owen->Knows({"RT"}) && rt->Knows({"Owen"}); }));

    std::string error;
    ASSERT_TRUE(owen->Client->Send({"rt", "Nobody"}, "Lunch?", error)) << error;
    ASSERT_TRUE(Settle([&] { return rt->Has("Lunch?"); }));
    ASSERT_TRUE(
        Settle([&] { return owen->Has("Zib Tam could not send your message to Nobody."); }));
    // The receipt from RT came back: only Nobody is still missing.
    ASSERT_TRUE(Settle([&] {
        owen->Drain();
        auto& pending = owen->Client->PendingReceipts();
        return pending.size() == 1 &&
               pending.begin()->second.Missing == std::vector<std::string>{"Nobody"};
    }));
    // The sender's own copy and the received copy.
    const ChatMessage& own = owen->Messages.front();
    EXPECT_EQ(own.Text, "Lunch?");
    EXPECT_FALSE(own.Loopback);
    const ChatMessage* got = nullptr;
    for (auto& m : rt->Messages)
        if (m.Text == "Lunch?")
            got = &m;
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->Sender, "Owen");
    EXPECT_EQ(got->Id, own.Id);
    EXPECT_EQ(got->Recipients, (std::vector<std::string>{"rt", "Nobody"}));
}

// A recipient named again and again (in any letter case) gets one copy and stays connected;
// the sender gets one receipt and one notice naming each absent user once, in the order of
// first mention. The client itself sends each recipient once.
TEST_F(ServerTest, ARecipientNamedManyTimesGetsOneCopy)
{
    auto victim = LoggedOn("Victim");
    auto kim = LoggedOn("Kim");
    RawPeer mallory(Port);
    ASSERT_TRUE(mallory.Send(LoginFrame("Mallory")));
    ASSERT_TRUE(Settle([&] { return victim->Knows({"Kim", "Mallory"}); }));

    ChatMessage flood;
    flood.Id = "f";
    flood.Sender = "Mallory";
    flood.Text = "once";
    flood.Time = MessageTime::From(958'000'000);
    for (int i = 0; i < 500; ++i)
        flood.Recipients.push_back(i % 2 ? "Victim" : "vICTIM");
    flood.Recipients.insert(flood.Recipients.begin() + 10, {"Nobody", "Kim", "Else", "nobody"});
    flood.Recipients.push_back("ELSE");
    ASSERT_TRUE(mallory.Send(Frame(ProtocolDocument::MakeMessage(flood))));
    ASSERT_TRUE(Settle([&] { return victim->Has("once") && kim->Has("once"); }));
    ASSERT_TRUE(mallory.WaitFor("could not send your message to Nobody and Else."));
    PumpFor(100);
    EXPECT_EQ(victim->CountFrom("Mallory"), 1);
    EXPECT_EQ(kim->CountFrom("Mallory"), 1);
    EXPECT_TRUE(victim->Client->IsConnected());
    mallory.ReadAvailable();
    auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (auto at = mallory.Received.find(text); at != std::string::npos;
             at = mallory.Received.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("<message-receipt>"), 2u); // Victim's and Kim's
    EXPECT_EQ(count("could not send your message"), 1u);

    std::string error;
    ASSERT_TRUE(
        kim->Client->Send({"Victim", "victim", "Nobody", "VICTIM", "nobody"}, "twice?", error));
    ASSERT_TRUE(Settle([&] { return kim->Has("Zib Tam could not send your message to Nobody."); }));
    ASSERT_TRUE(Settle([&] { return victim->Has("twice?"); }));
    kim->Drain();
    EXPECT_EQ(kim->Messages.back().Text, "Zib Tam could not send your message to Nobody.");
    for (const ChatMessage& m : kim->Messages) {
        if (m.Text == "twice?") {
            EXPECT_EQ(m.Recipients, (std::vector<std::string>{"Victim", "Nobody"}));
        }
    }
    ASSERT_TRUE(Settle([&] {
        kim->Drain();
        auto& pending = kim->Client->PendingReceipts();
        return pending.size() == 1 &&
               pending.begin()->second.Missing == std::vector<std::string>{"Nobody"};
    }));
}

TEST_F(ServerTest, AllUsersGoesToEveryoneButTheSender)
{
    auto a = LoggedOn("A");
    auto b = LoggedOn("B");
    auto c = LoggedOn("C");
    ASSERT_TRUE(Settle([&] { return a->Knows({"B", "C"}); }));
    std::string error;
    ASSERT_TRUE(a->Client->SendToAll("Fire drill", error));
    ASSERT_TRUE(Settle([&] { return b->Has("Fire drill") && c->Has("Fire drill"); }));
    // Both confirmed: nothing pending, no report.
    ASSERT_TRUE(Settle([&] {
        a->Drain();
        return a->Client->PendingReceipts().empty();
    }));
    PumpFor(50);
    EXPECT_EQ(a->CountFrom("Zib Tam"), 0);
    int copies = 0;
    for (auto& m : a->Messages)
        copies += m.Text == "Fire drill";
    EXPECT_EQ(copies, 1); // its own copy, not one back from the server
}

TEST_F(ServerTest, PermissionsFilterListsAndMessages)
{
    TempDir dir;
    std::ofstream(dir.File("p.xml"))
        << "<?xml version=\"1.0\"?>\n<permissions><default><allow>all users</allow></default>"
           "<user name=\"Owen\"><deny>all users</deny><allow>RT</allow></user></permissions>\n";
    std::string error;
    ASSERT_TRUE(Server.LoadPermissions(dir.File("p.xml"), error)) << error;

    auto owen = LoggedOn("Owen");
    auto rt = LoggedOn("RT");
    auto kim = LoggedOn("Kim");
    ASSERT_TRUE(Settle([&] {
        return owen->Knows({"RT"}) && kim->Knows({"Owen", "RT"}) && rt->Knows({"Owen", "Kim"});
    }));
    ASSERT_TRUE(owen->Client->Send({"RT", "Kim"}, "hello", error));
    ASSERT_TRUE(Settle([&] { return rt->Has("hello"); }));
    ASSERT_TRUE(Settle([&] { return owen->Has("Zib Tam could not send your message to Kim."); }));
    // To all users, the denied ones are skipped without a word.
    ASSERT_TRUE(owen->Client->SendToAll("everyone", error));
    ASSERT_TRUE(Settle([&] { return rt->Has("everyone"); }));
    PumpFor(50);
    EXPECT_FALSE(kim->Has("everyone"));
    EXPECT_FALSE(kim->Has("hello"));
}

// The server keeps each sender's permission entry; a new name or a new table must not
// leave the old entry in force.
TEST_F(ServerTest, PermissionsFollowRenamesAndReloads)
{
    TempDir dir;
    std::ofstream(dir.File("p.xml"))
        << "<?xml version=\"1.0\"?>\n<permissions><default><allow>all users</allow></default>"
           "<user name=\"Owen\"><deny>all users</deny></user></permissions>\n";
    std::ofstream(dir.File("open.xml"))
        << "<?xml version=\"1.0\"?>\n<permissions><default><allow>all users</allow></default>"
           "</permissions>\n";
    std::string error;
    ASSERT_TRUE(Server.LoadPermissions(dir.File("p.xml"), error)) << error;
    auto kim = LoggedOn("Kim");
    auto rt = LoggedOn("RT");
    ASSERT_TRUE(Settle([&] { return kim->Knows({"RT"}) && rt->Knows({"Kim"}); }));
    ASSERT_TRUE(kim->Client->Send({"RT"}, "as Kim", error));
    ASSERT_TRUE(Settle([&] { return rt->Has("as Kim"); }));

    ASSERT_TRUE(kim->Client->ChangeUserName("Owen", error)) << error;
    ASSERT_TRUE(Settle([&] { return rt->Knows({"Owen"}); }));
    ASSERT_TRUE(kim->Client->Send({"RT"}, "as Owen", error));
    ASSERT_TRUE(Settle([&] { return kim->Has("Zib Tam could not send your message to RT."); }));
    EXPECT_FALSE(rt->Has("as Owen"));

    ASSERT_TRUE(Server.LoadPermissions(dir.File("open.xml"), error)) << error;
    ASSERT_TRUE(kim->Client->Send({"RT"}, "after reload", error));
    ASSERT_TRUE(Settle([&] { return rt->Has("after reload"); }));
}

TEST_F(ServerTest, IdleConnectionsAreClosedKeepAlivesKeepThemOpen)
{
    auto owen = LoggedOn("Owen");
    RawPeer silent(Port);
    ASSERT_TRUE(silent.Send(LoginFrame("Silent")));
    RawPeer mute(Port); // never sends a byte: never closed by the idle rule
    ASSERT_TRUE(Settle([&] { return owen->Knows({"Silent"}); }));

    Clock.Advance(60001);
    owen->Drain(); // the client's timer: more than 60 s without a write sends a keep-alive
    PumpFor(30);
    Clock.Advance(30000);
    Server.Poll();
    EXPECT_TRUE(silent.WaitClosed()) << "silent for 90,001 ms";
    ASSERT_TRUE(Settle([&] { return owen->Knows({}); }));
    EXPECT_TRUE(owen->Client->IsConnected());
    mute.ReadAvailable();
    EXPECT_FALSE(mute.Eof());
}

TEST_F(ServerTest, ReceiptForAnAbsentSenderClosesTheConnectionThatSentIt)
{
    RawPeer peer(Port);
    ASSERT_TRUE(peer.Send(LoginFrame("Peer")));
    ASSERT_TRUE(peer.WaitFor("<username>Peer</username>"));
    ASSERT_TRUE(peer.Send(Frame(ProtocolDocument::MakeReceipt("1", "Gone", "Peer"))));
    EXPECT_TRUE(peer.WaitClosed());
}

// A receipt that was on its way when its sender left, or took another name, goes nowhere;
// the recipient who wrote it stays connected.
TEST_F(ServerTest, ReceiptForASenderWhoJustLeftIsDropped)
{
    RawPeer owen(Port);
    ASSERT_TRUE(owen.Send(LoginFrame("Owen")));
    auto rt = LoggedOn("RT");
    auto kim = LoggedOn("Kim");
    ASSERT_TRUE(owen.WaitFor("<username>Kim</username>"));
    std::string error;
    ASSERT_TRUE(rt->Client->Send({"Owen"}, "bye", error));
    ASSERT_TRUE(kim->Client->Send({"Owen"}, "renaming", error));
    ASSERT_TRUE(owen.WaitFor("bye"));
    ASSERT_TRUE(owen.WaitFor("renaming"));
    rt.reset();
    ASSERT_TRUE(kim->Client->ChangeUserName("Kim2", error)) << error;
    ASSERT_TRUE(Settle([&] { return Server.LoggedOnCount() == 2 && kim->Knows({"Owen"}); }));

    ASSERT_TRUE(owen.Send(Frame(ProtocolDocument::MakeReceipt("1", "RT", "Owen"))));
    ASSERT_TRUE(owen.Send(Frame(ProtocolDocument::MakeReceipt("1", "kim", "Owen"))));
    PumpFor(100);
    owen.ReadAvailable();
    EXPECT_FALSE(owen.Eof());
    ASSERT_TRUE(kim->Client->Send({"Owen"}, "still there?", error));
    EXPECT_TRUE(owen.WaitFor("still there?"));
}

// Messages in this program's own form are forwarded as they came, others are read and
// written again; either way the messages of one write reach the recipient in the order
// they were sent, and so do a log-on and the messages behind it.
TEST_F(ServerTest, MessagesKeepTheirOrderWhicheverWayTheyGo)
{
    auto rt = LoggedOn("RT");
    const std::vector<std::string> texts = {"one & a", "two",      "three & c",
                                            "four",    "five < e", "six"};
    std::string burst = LoginFrame("Owen") + MessageFrames("Owen", "RT", texts.size(), [&](int i) {
                            return texts[static_cast<std::size_t>(i)];
                        });
    RawPeer owen(Port);
    ASSERT_TRUE(owen.Send(burst));
    ASSERT_TRUE(Settle([&] { return rt->CountFrom("Owen") == static_cast<int>(texts.size()); }));
    std::vector<std::string> got;
    for (const ChatMessage& m : rt->Messages)
        got.push_back(m.Text);
    EXPECT_EQ(got, texts);
}

TEST_F(ServerTest, SenderIsTheLoggedOnNameAndStrangersCannotSend)
{
    auto rt = LoggedOn("RT");
    RawPeer stranger(Port);
    ChatMessage forged;
    forged.Id = "1";
    forged.Sender = "Boss";
    forged.Recipients = {"RT"};
    forged.Text = "from nobody";
    forged.Time = MessageTime::From(958'000'000);
    ASSERT_TRUE(stranger.Send(Frame(ProtocolDocument::MakeMessage(forged))));
    RawPeer spoofer(Port);
    ASSERT_TRUE(spoofer.Send(LoginFrame("Mallory")));
    forged.Text = "spoofed";
    ASSERT_TRUE(spoofer.Send(Frame(ProtocolDocument::MakeMessage(forged))));
    ASSERT_TRUE(Settle([&] { return rt->Has("spoofed"); }));
    for (auto& m : rt->Messages) {
        EXPECT_NE(m.Text, "from nobody");
        if (m.Text == "spoofed") {
            EXPECT_EQ(m.Sender, "Mallory");
        }
    }
}

// What the server forwards, byte for byte, is what the writer makes for the message with
// the sender's logged-on name, however the message came in.
TEST_F(ServerTest, ForwardedBytesAreTheWritersBytes)
{
    RawPeer ann(Port);
    RawPeer bob(Port);
    ASSERT_TRUE(ann.Send(LoginFrame("Ann")));
    ASSERT_TRUE(bob.Send(LoginFrame("Bob")));
    ASSERT_TRUE(bob.WaitFor("<username>Ann</username>"));
    ASSERT_TRUE(ann.WaitFor("<username>Bob</username>"));

    struct Case
    {
        const char* Name;
        std::string Sender; // as the message carries it
        std::string Text;
        int Version;
    };
    const Case cases[] = {
        {"as clients write it", "Ann", "plain one", kProtocolVersion},
        {"someone else's name", "Boss", "spoofed one", kProtocolVersion},
        {"the name in other letter case", "ann", "lower one", kProtocolVersion},
        {"escaped text", "Ann", "caf\xE9 & <tea>", kProtocolVersion},
        {"text over lines", "Ann", "line one\nline two", kProtocolVersion},
        {"a later version's header", "Ann", "newer one", kProtocolVersion + 1},
    };
    for (const Case& c : cases) {
        ChatMessage message;
        message.Id = "7";
        message.Sender = c.Sender;
        message.Recipients = {"Bob"};
        message.Text = c.Text;
        message.Time = MessageTime::From(958'000'000);
        ASSERT_TRUE(
            ann.Send(FormatDocumentFrame(ProtocolDocument::MakeMessage(message), 0, c.Version)));
        message.Sender = "Ann";
        EXPECT_TRUE(bob.WaitFor(FormatDocumentFrameSlowly(ProtocolDocument::MakeMessage(message))))
            << c.Name;
    }

    const ProtocolDocument receipts[] = {
        ProtocolDocument::MakeReceipt("7", "Ann", "Bob"),
        ProtocolDocument::MakeReceipt("8 & 9", "Ann", "Bob"),
    };
    for (const ProtocolDocument& receipt : receipts) {
        ASSERT_TRUE(bob.Send(FormatDocumentFrame(receipt)));
        EXPECT_TRUE(ann.WaitFor(FormatDocumentFrameSlowly(receipt))) << receipt.ReceiptId;
    }
}

// A burst larger than the kernel's buffers reaches a reader that falls behind while it
// comes: it gets every message once and in order.
TEST_F(ServerTest, ABurstReachesAReaderThatFallsBehindWhole)
{
    RawPeer burst(Port);
    RawPeer reader(Port);
    ReceivedDocuments received;
    ASSERT_NO_FATAL_FAILURE(QueueBacklog(burst, reader, received));
    std::size_t before = received.Documents.size();
    ASSERT_NO_FATAL_FAILURE(ReadBacklog(reader, received));
    ASSERT_EQ(received.Documents.size(), before + kBacklog);
    ExpectBacklog(received, before);
}

// A list replaces the one before it whole, so one still waiting behind a backlog gives way
// to the newer: a reader that falls behind while others log on gets the latest list only,
// and its queue never holds more than one.
TEST_F(ServerTest, AListWaitingForASlowReaderGivesWayToTheNewest)
{
    RawPeer burst(Port);
    RawPeer reader(Port);
    ReceivedDocuments received;
    ASSERT_NO_FATAL_FAILURE(QueueBacklog(burst, reader, received));
    // What comes now waits in the server behind the backlog. One after another, each told to
    // everybody before the next arrives.
    std::vector<UserEntry> everyone = {{"", "Burst"}, {"", "Reader"}};
    std::vector<std::unique_ptr<RawPeer>> crowd;
    for (int i = 0; i < 10; ++i) {
        std::string name = "Crowd" + std::to_string(i);
        crowd.push_back(std::make_unique<RawPeer>(Port));
        ASSERT_TRUE(crowd.back()->Send(LoginFrame(name)));
        ASSERT_TRUE(burst.WaitFor("<username>" + name + "</username>")) << name;
        everyone.push_back({"", name});
    }

    std::size_t before = received.Documents.size();
    ASSERT_NO_FATAL_FAILURE(ReadBacklog(
        reader, received, [&] { return received.Documents.back().Type == DocumentType::Users; }));
    ASSERT_EQ(received.Documents.size(), before + kBacklog + 1);
    ExpectBacklog(received, before);
    EXPECT_EQ(received.Documents.back().Users, everyone);
}

// Log-ons close together, as when the office arrives in the morning, are told together
// once they stop coming, not a list each, and the last of them is not kept waiting for as
// long as the lists may take to read.
TEST_F(ServerTest, ARunOfLogOnsIsToldSoonAfterItEnds)
{
    // Forty-one names for forty-one clients take more than a second at this rate.
    Server.SetUsersRate(100e3);
    RawPeer watcher(Port);
    ReceivedDocuments received;
    ASSERT_TRUE(watcher.Send(LoginFrame("Watcher")));
    ASSERT_TRUE(watcher.WaitFor("<username>Watcher</username>"));
    PumpFor(100);
    ASSERT_TRUE(received.Take(watcher));
    std::size_t before = received.Count(DocumentType::Users);

    std::vector<UserEntry> everyone = {{"", "Watcher"}};
    std::vector<std::unique_ptr<RawPeer>> crowd;
    for (int i = 0; i < 40; ++i) {
        std::string name = "Crowd" + std::to_string(i);
        crowd.push_back(std::make_unique<RawPeer>(Port));
        ASSERT_TRUE(crowd.back()->Send(LoginFrame(name)));
        everyone.push_back({"", name});
        PumpFor(2);
    }
    QElapsedTimer sinceLast;
    sinceLast.start();
    ASSERT_TRUE(Settle([&] {
        return received.Take(watcher) && !received.Documents.empty() &&
               received.Documents.back().Users.size() == everyone.size();
    }));
    EXPECT_LT(sinceLast.elapsed(), 700);
    EXPECT_EQ(received.Documents.back().Users, everyone);
    // The first log-on after a quiet spell is told at once, the rest together (a machine
    // busy enough to stall the run may split it).
    EXPECT_LE(received.Count(DocumentType::Users) - before, 4u);
    for (auto& peer : crowd)
        EXPECT_TRUE(peer->WaitFor("<username>Crowd39</username>"));
}

TEST_F(ServerTest, ServerGoingAwayIsReportedToClients)
{
    auto owen = std::make_unique<TestClient>(Clock, "127.0.0.1", Port, "Owen");
    ASSERT_TRUE(owen->LogOn("Owen"));
    Server.CloseAll();
    ASSERT_TRUE(Settle([&] { return !owen->Client->IsConnected(); }));
    EXPECT_EQ(owen->Sink.Events.back(), "disconnected");
    std::string name;
    EXPECT_FALSE(owen->Client->GetUserName(name));
}

} // namespace
