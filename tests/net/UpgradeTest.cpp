// The upgrade service over real sockets: the answers byte for byte, and a web client that
// gets nothing but its answer while chat clients come and go.
#include "ServerTestSupport.h"
#include "net/ProtocolDocument.h"
#include "net/UpgradeService.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/socket.h>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator keeps its own books (its header is not always installed).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes the process has allocated and not freed.
std::size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd; // large blocks are mapped on their own
#endif
}

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

// Web clients that ask for the download and never read do not each hold a copy of the
// program: however many wait, the server holds about one. (The file is larger than the
// system takes into one socket's buffers, so part of each answer waits in the server.)
TEST_F(UpgradeTest, UnreadDownloadsShareOneCopyOfTheProgram)
{
    constexpr std::size_t kSize = 6 << 20;
    constexpr int kDownloads = 16;
    ExecutableBytes.resize(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        ExecutableBytes[i] = static_cast<char>(i * 7 / 3);
    const std::string request = "GET /upgrade/740/setup.exe HTTP/1.1\r\n\r\n";

    std::size_t before = HeapInUse();
    std::vector<std::unique_ptr<RawPeer>> downloads;
    for (int i = 0; i < kDownloads; ++i) {
        downloads.push_back(std::make_unique<RawPeer>(Port));
        downloads.back()->SetReceiveBuffer(4096);
        ASSERT_TRUE(downloads.back()->Send(request));
    }
    // Every answer has begun to arrive; nothing is read.
    ASSERT_TRUE(Settle([&] {
        for (auto& web : downloads) {
            char byte;
            if (::recv(web->Fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 1)
                return false;
        }
        return true;
    }));
    PumpFor(50);
    std::size_t grown = HeapInUse() - before;
    EXPECT_LT(grown, 2 * kSize) << "for " << kDownloads << " downloads of " << kSize << " bytes";

    // A reader gets the bytes whole, over many partial writes.
    RawPeer web(Port);
    ASSERT_TRUE(web.Send(request));
    ASSERT_TRUE(PumpUntil(
        [&] {
            web.ReadAvailable();
            return web.Received.size() >= kSize;
        },
        20000))
        << web.Received.size() << " bytes";
    PumpFor(20);
    web.ReadAvailable();
    auto head = web.Received.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(web.Received.find("Content-Length: " + std::to_string(kSize) + "\r\n"),
              std::string::npos);
    EXPECT_TRUE(web.Received.compare(head + 4, std::string::npos, ExecutableBytes) == 0);
    EXPECT_EQ(web.Received.size(), head + 4 + kSize);
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

TEST(UpgradeVersion, TheAnswerToVersionNamesTheProductAndANumber)
{
    EXPECT_EQ(VersionFromAnswer(VersionAnswer()), kProtocolVersion);
    EXPECT_EQ(VersionAnswer(741).rfind("Zib Tam Freeware/741 (", 0), 0u);
    const std::pair<const char*, int> cases[] = {
        {"Zib Tam Freeware/741", 741},
        {"Zib Tam Freeware/741\r\n", 741},
        {"Zib Tam Freeware/0 (x)", 0},
        {"Zib Tam Freeware/", -1},
        {"Zib Tam Freeware/74a", -1},
        {"Zib Tam Freeware/-741", -1},
        {"Zib Tam Freeware/9999999999", -1},
        {"zib tam freeware/741", -1},
        {" Zib Tam Freeware/741", -1},
        {"sleep (GNU coreutils) 9.1", -1},
        {"", -1},
    };
    for (const auto& [answer, version] : cases)
        EXPECT_EQ(VersionFromAnswer(answer), version) << answer;
}

} // namespace
