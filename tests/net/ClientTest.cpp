// The client against a scripted server on loopback (and against the real one where the
// server's answer matters).
#include "ServerTestSupport.h"
#include "TestSupport.h"
#include "net/DeliveryReport.h"
#include "net/Frame.h"
#include "net/ProtocolDocument.h"
#include "platform/NextWake.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// A server that answers the login-request with scripted bytes and records what it gets.
class ScriptedServer
{
public:
    explicit ScriptedServer(int version = kProtocolVersion) : m_version(version)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                m_socket = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    Received += socket->readAll().toStdString();
                    if (!m_answered && Received.find("</login-request>") != std::string::npos) {
                        m_answered = true;
                        if (!LogOnAnswer.empty())
                            Send(LogOnAnswer);
                    }
                });
            }
        });
    }

    int Port() const { return m_server.serverPort(); }

    // A document framed with this server's version.
    std::string Frame(const ProtocolDocument& document) const
    {
        return FormatDocumentFrame(document, 0, m_version);
    }

    void Send(const std::string& bytes)
    {
        if (m_socket) {
            m_socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
            m_socket->flush();
        }
    }

    void Drop()
    {
        if (m_socket)
            m_socket->abort();
    }

    std::string LogOnAnswer;
    std::string Received;

private:
    int m_version;
    QTcpServer m_server;
    QTcpSocket* m_socket = nullptr;
    bool m_answered = false;
};

ProtocolDocument Users(std::vector<UserEntry> entries)
{
    return ProtocolDocument::MakeUsers(entries);
}

class ClientTest : public ::testing::Test
{
protected:
    // Logs "Owen" on to a scripted server that answers with a users document.
    std::unique_ptr<TestClient> LogOnTo(ScriptedServer& server,
                                        std::vector<UserEntry> users = {{"", "Owen"}})
    {
        server.LogOnAnswer = server.Frame(Users(std::move(users)));
        auto client = std::make_unique<TestClient>(Clock, "127.0.0.1", server.Port(), "Owen");
        std::string error;
        EXPECT_TRUE(client->LogOn("Owen", &error)) << error;
        return client;
    }

    CManualClock Clock;
};

TEST_F(ClientTest, LogOnFailuresAndTheirTexts)
{
    // A port nobody listens on.
    int closedPort = 0;
    {
        ServerFixtureBase probe;
        closedPort = probe.Port;
    }
    TestClient refused(Clock, "127.0.0.1", closedPort);
    std::string error;
    EXPECT_FALSE(refused.LogOn("Owen", &error));
    EXPECT_EQ(error, "Zib Tam could not connect to the server.\n\nConnection refused");
    EXPECT_FALSE(refused.Client->IsConnected());
    EXPECT_EQ(refused.Busy.Texts,
              (std::vector<std::string>{"Connecting to the Zib Tam server..."}));

    EXPECT_FALSE(refused.Client->ChangeUserName("Kim", error));
    EXPECT_EQ(error, "Zib Tam is not connected to the server.");
    EXPECT_FALSE(refused.Client->Send({"Kim"}, "hi", error));

    // Refused by the server: its text, and no connection left.
    ScriptedServer server;
    server.LogOnAnswer = server.Frame(ProtocolDocument::MakeLoginResponse(false, "No you don't."));
    TestClient client(Clock, "127.0.0.1", server.Port());
    EXPECT_FALSE(client.LogOn("Owen", &error));
    EXPECT_EQ(error, "No you don't.");
    EXPECT_FALSE(client.Client->IsConnected());

    // A server that never answers: the wait ends (the indicator's Cancel, here its time
    // limit) with the connection closed and no text.
    ScriptedServer mute;
    TestClient waiting(Clock, "127.0.0.1", mute.Port());
    waiting.Busy.TimeoutMs = 200;
    error = "old";
    EXPECT_FALSE(waiting.LogOn("Owen", &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(waiting.Client->IsConnected());
}

TEST_F(ClientTest, LogOnAcceptsALoginResponseOrAUsersDocument)
{
    ScriptedServer byResponse;
    byResponse.LogOnAnswer = byResponse.Frame(ProtocolDocument::MakeLoginResponse(true, ""));
    TestClient a(Clock, "127.0.0.1", byResponse.Port());
    EXPECT_TRUE(a.LogOn("Owen"));
    std::string name;
    EXPECT_TRUE(a.Client->GetUserName(name));
    EXPECT_EQ(name, "Owen");
    EXPECT_EQ(a.Sink.Events, (std::vector<std::string>{"connected"}));
    // Logging on again over an existing connection is refused without a word.
    std::string error = "old";
    EXPECT_FALSE(a.Client->DoLogOn("Kim", error));
    EXPECT_EQ(error, "");
    EXPECT_TRUE(a.Client->IsConnected());
    EXPECT_NE(byResponse.Received.find("<username>Owen</username>"), std::string::npos);

    ScriptedServer byUsers;
    auto b = LogOnTo(byUsers, {{"", "Owen"}, {"", "Kim"}});
    EXPECT_EQ(b->Client->KnownUsers(), (std::vector<std::string>{"Kim"}));
    EXPECT_EQ(b->Sink.Events, (std::vector<std::string>{"connected", "arrived Kim"}));
    EXPECT_EQ(b->Busy.Texts, (std::vector<std::string>{"Connecting to the Zib Tam server..."}));
}

// Users documents applied one after the other: what the window is told.
TEST_F(ClientTest, UsersDocumentsBecomeArrivalsDeparturesAndRenames)
{
    struct Step
    {
        std::vector<UserEntry> Entries;
        std::vector<std::string> Events;
        std::vector<std::string> Known;
    };
    const Step steps[] = {
        {{{"", "Owen"}, {"", "Kim"}, {"", "RT"}}, {"arrived Kim", "arrived RT"}, {"Kim", "RT"}},
        {{{"", "Owen"}, {"kim", "Kimberly"}, {"", "RT"}},
         {"renamed Kim to Kimberly"},
         {"Kimberly", "RT"}},
        // The old name stays in the list: a client that shows the new one sees it leave and
        // come back.
        {{{"", "Owen"}, {"Kim", "Kimberly"}, {"", "RT"}},
         {"departed Kimberly", "arrived Kimberly"},
         {"RT", "Kimberly"}},
        {{{"", "Owen"}, {"Kim", "Kimberly"}},
         {"departed RT", "departed Kimberly", "arrived Kimberly"},
         {"Kimberly"}},
        {{{"", "Owen"}, {"", "Ann"}, {"Kim", "Kimberly"}},
         {"departed Kimberly", "arrived Ann", "arrived Kimberly"},
         {"Ann", "Kimberly"}},
    };
    ScriptedServer server;
    auto client = LogOnTo(server);
    for (const Step& step : steps) {
        client->Sink.Events.clear();
        server.Send(server.Frame(Users(step.Entries)));
        ASSERT_TRUE(PumpUntil([&] { return client->Client->KnownUsers() == step.Known; }))
            << step.Known.size();
        EXPECT_EQ(client->Sink.Events, step.Events);
    }
}

TEST_F(ClientTest, SelfChatShowsTheUserHimself)
{
    ScriptedServer server;
    auto client = LogOnTo(server, {{"", "Owen"}, {"", "Kim"}});
    client->Client->SetSelfChat(true);
    client->Client->UpdateSelfChat();
    EXPECT_EQ(client->Client->KnownUsers(), (std::vector<std::string>{"Kim", "Owen"}));
    // With SelfChat on, the list's own entry counts as a user like any other.
    server.Send(server.Frame(Users({{"", "Owen"}, {"", "Kim"}})));
    PumpFor(30);
    EXPECT_EQ(client->Client->KnownUsers(), (std::vector<std::string>{"Kim", "Owen"}));
    client->Client->SetSelfChat(false);
    client->Client->UpdateSelfChat();
    EXPECT_EQ(client->Client->KnownUsers(), (std::vector<std::string>{"Kim"}));
    EXPECT_EQ(client->Sink.Events.back(), "departed Owen");
}

TEST_F(ClientTest, ReceivedMessagesAreStampedAndAcknowledged)
{
    ScriptedServer server;
    auto client = LogOnTo(server, {{"", "Owen"}, {"", "Kim"}});
    ChatMessage message;
    message.Id = "7";
    message.Sender = "Kim";
    message.Recipients = {"Owen"};
    message.Text = "line one\nline two";
    message.Time = MessageTime::From(0); // the sender's clock is not used
    Clock.SetNow(1'500'000'000);
    server.Send(server.Frame(ProtocolDocument::MakeMessage(message)));
    ASSERT_TRUE(PumpUntil([&] { return client->Has("line one\nline two"); }));
    const ChatMessage& got = client->Messages.back();
    EXPECT_EQ(got.Time, MessageTime::From(1'500'000'000));
    EXPECT_EQ(got.Id, "7");
    EXPECT_FALSE(got.Loopback);
    ASSERT_TRUE(PumpUntil([&] {
        return server.Received.find(
                   "<message-receipt>\n  <id>7</id>\n  <message-sender>Kim</"
                   "message-sender>\n  <message-recipient>Owen</message-recipient>\n"
                   "</message-receipt>") != std::string::npos;
    }));
    EXPECT_EQ(client->Busy.Texts.back(), "Acknowledging message...");
}

TEST_F(ClientTest, DeliveryReportsLateAndInTime)
{
    ScriptedServer server;
    auto client = LogOnTo(server, {{"", "Owen"}, {"", "Kim"}, {"", "RT"}});
    Clock.SetNow(958'000'000);
    std::string error;
    ASSERT_TRUE(client->Client->Send({"Owen", "Kim", "RT"},
                                     "Meeting moved to room 4 this afternoon", error));
    EXPECT_EQ(client->Busy.Texts.back(), "Sending your message...");
    ASSERT_EQ(client->Client->PendingReceipts().size(), 1u);
    const PendingReceipt& pending = client->Client->PendingReceipts().begin()->second;
    EXPECT_EQ(pending.Missing, (std::vector<std::string>{"Kim", "RT"})); // not himself
    std::string id = pending.Message.Id;

    // Kim confirms in time.
    server.Send(server.Frame(ProtocolDocument::MakeReceipt(id, "Owen", "KIM")));
    PumpFor(20);
    Clock.Advance(2999);
    client->Drain();
    EXPECT_EQ(client->CountFrom("Zib Tam"), 0);
    Clock.Advance(1);
    client->Drain();
    ASSERT_EQ(client->CountFrom("Zib Tam"), 1);
    const ChatMessage& late = client->Messages.back();
    std::string time = FormatClockTime(958'000'000);
    EXPECT_EQ(late.Text, "Zib Tam could not confirm that the message you sent to RT at " + time +
                             " (\"Meeting moved to room...\") was delivered successfully.");
    EXPECT_FALSE(late.Log);
    // RT's receipt comes after the report: the good news names RT.
    server.Send(server.Frame(ProtocolDocument::MakeReceipt(id, "Owen", "RT")));
    ASSERT_TRUE(PumpUntil([&] { return client->CountFrom("Zib Tam") == 2; }));
    const ChatMessage& good = client->Messages.back();
    EXPECT_EQ(good.Text, "Zib Tam has good news for you!  The message you sent to RT at " + time +
                             " (\"Meeting moved to room...\") was delivered successfully.");
    EXPECT_TRUE(good.Log);
    client->Drain();
    EXPECT_TRUE(client->Client->PendingReceipts().empty());
}

TEST_F(ClientTest, AllUsersAwaitsEveryKnownUserButTheSender)
{
    ScriptedServer server;
    auto client = LogOnTo(server, {{"", "Owen"}, {"", "Kim"}, {"", "RT"}});
    client->Client->SetSelfChat(true);
    client->Client->UpdateSelfChat();
    std::string error;
    ASSERT_TRUE(client->Client->SendToAll("all hands", error));
    EXPECT_EQ(client->Client->PendingReceipts().begin()->second.Missing,
              (std::vector<std::string>{"Kim", "RT"}));
    ASSERT_TRUE(PumpUntil([&] { return server.Received.find("all hands") != std::string::npos; }));
}

TEST_F(ClientTest, KeepAliveAfterSixtySecondsWithoutAWrite)
{
    ScriptedServer server;
    auto client = LogOnTo(server);
    PumpFor(20);
    std::size_t before = server.Received.size();
    Clock.Advance(60000);
    client->Drain();
    PumpFor(20);
    EXPECT_EQ(server.Received.size(), before);
    Clock.Advance(1);
    client->Drain();
    ASSERT_TRUE(PumpUntil([&] { return server.Received.size() > before; }));
    EXPECT_EQ(server.Received.substr(before),
              "Server: Zib Tam Freeware/740\r\nContent-Length: 0\n\n");
}

// Polled only when it asks: the report when three seconds have passed, the keep-alive
// when sixty have passed without a write.
TEST_F(ClientTest, NextWakeIsTheReportThenTheKeepAlive)
{
    ScriptedServer server;
    auto client = LogOnTo(server, {{"", "Owen"}, {"", "Kim"}});
    client->Drain();
    std::string error;
    ASSERT_TRUE(client->Client->Send({"Kim"}, "lunch", error));
    ASSERT_TRUE(PumpUntil([&] { return server.Received.find("lunch") != std::string::npos; }));
    std::size_t before = server.Received.size();

    auto nextWake = [&] {
        CNextWake wake(Clock);
        client->Client->NextWake(wake);
        return wake.Milliseconds();
    };
    // The user's own copy is due at once: read by one poll, handed over by the next.
    EXPECT_EQ(nextWake(), 0u);
    client->Drain();
    EXPECT_EQ(nextWake(), 0u);
    client->Drain();
    ASSERT_EQ(nextWake(), 3000u);
    Clock.Advance(3000);
    client->Drain();
    EXPECT_EQ(client->CountFrom("Zib Tam"), 1);
    ASSERT_EQ(nextWake(), 60001u - 3000u);
    Clock.Advance(60001 - 3000);
    client->Drain();
    ASSERT_TRUE(PumpUntil([&] { return server.Received.size() > before; }));
    EXPECT_EQ(server.Received.substr(before),
              "Server: Zib Tam Freeware/740\r\nContent-Length: 0\n\n");
    EXPECT_EQ(nextWake(), 60001u);
}

TEST_F(ClientTest, ServerGoneIsReportedOnce)
{
    ScriptedServer server;
    auto client = LogOnTo(server);
    server.Drop();
    ASSERT_TRUE(PumpUntil([&] { return !client->Client->IsConnected(); }));
    EXPECT_EQ(client->Sink.Events, (std::vector<std::string>{"connected", "disconnected"}));
    std::string error;
    EXPECT_FALSE(client->Client->Send({"Kim"}, "anyone?", error));
    EXPECT_EQ(error, "Zib Tam is not connected to the server.");
}

TEST_F(ClientTest, UpgradeOfferedOnlyByANewerServer)
{
    struct Case
    {
        int ServerVersion;
        bool Offered;
    };
    for (Case c : {Case{741, true}, Case{740, false}, Case{9, false}}) {
        ScriptedServer server(c.ServerVersion);
        auto client = LogOnTo(server);
        std::string url;
        EXPECT_EQ(client->Client->GetUpgradeURL(url), c.Offered) << c.ServerVersion;
        if (c.Offered) {
            EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(server.Port()) + "/upgrade");
        }
        client->Client->LogOff();
        EXPECT_FALSE(client->Client->GetUpgradeURL(url));
    }
}

} // namespace

namespace {

// Where the client connects: the local server in mode 3, whatever "Server" holds.
TEST(ClientSettingsTest, ServerModeConnectsToThisComputer)
{
    TempDir dir;
    CSqliteRegistry registry(dir.File("registry.sqlite3"));
    FakeSystemInfo system;
    COptions options(registry, system, false);
    options.Set(Opt::Server, "chat.office");
    options.Set(Opt::PortNumber, 35555);
    COptionsClientSettings settings(options);
    struct Case
    {
        int Type;
        std::string Host;
    };
    for (Case c : {Case{2, "chat.office"}, Case{3, "127.0.0.1"}, Case{0, "chat.office"}}) {
        options.Set(Opt::NetworkingType, c.Type);
        EXPECT_EQ(settings.ServerHost(), c.Host) << c.Type;
        EXPECT_EQ(settings.ServerPort(), 35555);
    }
}

} // namespace
