// The upgrade service over real sockets: the answers byte for byte, and a web client that
// gets nothing but its answer while chat clients come and go.
#include "ServerTestSupport.h"
#include "net/ProtocolDocument.h"
#include "net/UpgradeService.h"

#include <gtest/gtest.h>

namespace {

class UpgradeTest : public ::testing::Test, public ServerFixtureBase
{
};

const std::string kServerLine = "Server: Zib Tam Freeware/740\r\n";

TEST_F(UpgradeTest, AnswersByteForByte)
{
    struct Case
    {
        const char* What;
        std::string Request;
        std::string Answer;
    };
    const std::string file = ExecutableBytes;
    const Case cases[] = {
        {"redirect", "GET /upgrade HTTP/1.1\r\nHost: chat.office:34300\r\nAccept: */*\r\n\r\n",
         "HTTP/1.1 302 Found\r\n" + kServerLine +
             "Location: http://chat.office:34300/upgrade/740/setup.exe\r\nContent-Length: "
             "0\r\n\r\n"},
        {"path in capitals, no Host header", "GET /UPGRADE HTTP/1.0\r\n\r\n",
         "HTTP/1.1 302 Found\r\n" + kServerLine +
             "Location: http:///upgrade/740/setup.exe\r\nContent-Length: 0\r\n\r\n"},
        {"the download", "GET /upgrade/740/setup.exe HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200 OK\r\n" + kServerLine +
             "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
             "Last-Modified: Wed, 10 May 2000 23:06:40 GMT\r\n"
             "Accept-Ranges: bytes\r\n"
             "Content-Length: 22\r\n"
             "Content-Type: application/octet-stream\r\n"
             "Connection: close\r\n\r\n" +
             file},
        {"another version's download", "GET /upgrade/739/setup.exe HTTP/1.1\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\n" + kServerLine +
             "Content-Length: 0\r\nConnection: close\r\n\r\n"},
        {"the root", "GET / HTTP/1.1\n\n",
         "HTTP/1.1 404 Not Found\r\n" + kServerLine +
             "Content-Length: 0\r\nConnection: close\r\n\r\n"},
    };
    Clock.SetNow(958'000'000);
    for (const Case& c : cases) {
        RawPeer web(Port);
        ASSERT_TRUE(web.Send(c.Request)) << c.What;
        ASSERT_TRUE(PumpUntil([&] {
            web.ReadAvailable();
            return web.Received.size() >= c.Answer.size();
        })) << c.What
            << ": " << web.Received;
        PumpFor(10);
        web.ReadAvailable();
        EXPECT_EQ(web.Received, c.Answer) << c.What;
        // The connection stays open after the answer; the idle rule ends it.
        EXPECT_FALSE(web.Eof()) << c.What;
    }
}

TEST_F(UpgradeTest, NoAnswerWhenTheExecutableCannotBeReadOrTheRequestIsNotGet)
{
    ExecutableReadable = false;
    for (const char* request :
         {"GET /upgrade/740/setup.exe HTTP/1.1\r\n\r\n", "GET /upgrade HTTP/2.0\r\n\r\n",
          "HEAD /upgrade HTTP/1.1\r\n\r\n"}) {
        RawPeer web(Port);
        ASSERT_TRUE(web.Send(request));
        PumpFor(30);
        web.ReadAvailable();
        EXPECT_EQ(web.Received, "") << request;
        EXPECT_FALSE(web.Eof()) << request;
    }
}

TEST_F(UpgradeTest, AWebClientGetsOnlyItsAnswerWhileUsersComeAndGo)
{
    auto owen = std::make_unique<TestClient>(Clock, "127.0.0.1", Port, "Owen");
    ASSERT_TRUE(owen->LogOn("Owen"));
    RawPeer web(Port);
    ASSERT_TRUE(web.Send("GET /upgrade HTTP/1.1\r\nHost: h\r\n\r\n"));
    ASSERT_TRUE(web.WaitFor("Content-Length: 0\r\n\r\n"));
    // Users log on and off; a message goes to all users.
    for (int i = 0; i < 3; ++i) {
        TestClient visitor(Clock, "127.0.0.1", Port, "Visitor");
        ASSERT_TRUE(visitor.LogOn("Visitor" + std::to_string(i)));
        std::string error;
        ASSERT_TRUE(visitor.Client->SendToAll("hello all", error));
        ASSERT_TRUE(Settle([&] { return owen->Client->KnownUsers().size() == 1; }));
    }
    ASSERT_TRUE(Settle([&] { return owen->Knows({}); }));
    PumpFor(30);
    web.ReadAvailable();
    EXPECT_EQ(web.Received,
              "HTTP/1.1 302 Found\r\n" + kServerLine +
                  "Location: http://h/upgrade/740/setup.exe\r\nContent-Length: 0\r\n\r\n");
}

TEST(UpgradeUrl, FromTheServerHeader)
{
    struct Case
    {
        std::string Header;
        bool Offered;
    };
    const Case cases[] = {
        {"Zib Tam Freeware/741", true},
        {"Zib Tam Freeware/740", false},
        {"Zib Tam Freeware/99", false},
        {"Zib Tam Freeware", false},
        {"", false},
        {"x/ 1000beta", true},
        {"x/-741", false},
        {"a/b/741", false},
    };
    for (const Case& c : cases) {
        std::string url;
        EXPECT_EQ(UpgradeUrlFromServerHeader(c.Header, "chat", 34300, url), c.Offered) << c.Header;
        if (c.Offered) {
            EXPECT_EQ(url, "http://chat:34300/upgrade");
        }
    }
}

} // namespace
