#include "net/TaskSocket.h"

#include "net/BusyWait.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void ProcessFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the event loop until `done` holds or five seconds pass.
bool RunUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 5000)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Records what a connection tells its owner; takes arrived documents out of the queue.
class RecordingOwner : public ITaskSocketOwner
{
public:
    std::vector<ProtocolDocument> Documents;
    std::vector<ProtocolDocument> Failed;
    std::vector<HttpRequest> Requests;
    int Closed = 0;
    bool CloseOnFailure = false;

    void OnDocumentArrived(CTaskSocket& socket) override
    {
        ProtocolDocument document;
        while (socket.TakeDocument(document))
            Documents.push_back(document);
    }
    void OnConnectionClosed(CTaskSocket&) override { ++Closed; }
    void OnSendFailed(CTaskSocket& socket, const ProtocolDocument& document) override
    {
        Failed.push_back(document);
        if (CloseOnFailure)
            socket.Close();
    }
    void OnHttpRequest(CTaskSocket&, const HttpRequest& request) override
    {
        Requests.push_back(request);
    }
};

// A wait that runs the event loop, records what happens to Cancel, and can be told to
// stop after a number of steps or run a hook inside a step.
class ScriptedWait : public IBusyWait
{
public:
    std::vector<bool> CancelCalls;
    int StopAfter = -1;
    int Steps = 0;
    std::function<void(int)> Hook;

    bool WaitStep() override
    {
        ++Steps;
        if (Hook)
            Hook(Steps);
        if (StopAfter >= 0 && Steps > StopAfter)
            return true;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return false;
    }
    void EnableCancel(bool enable) override { CancelCalls.push_back(enable); }
};

class TaskSocketTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_listen, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(m_listen, 5), 0);
        socklen_t size = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_clock.SetTicks(1000);
    }
    void TearDown() override
    {
        if (m_raw >= 0)
            ::close(m_raw);
        ::close(m_listen);
    }

    // Client and server connection over loopback.
    void ConnectPair()
    {
        CEventLoopWait wait(5000);
        std::string error;
        ASSERT_TRUE(m_client.Connect("127.0.0.1", m_port, wait, error)) << error;
        ASSERT_TRUE(RunUntil([&] { return m_server.Accept(m_listen); }));
    }

    // Client connected to a plain socket that the test reads and writes by hand.
    void ConnectRaw()
    {
        CEventLoopWait wait(5000);
        std::string error;
        ASSERT_TRUE(m_client.Connect("127.0.0.1", m_port, wait, error)) << error;
        ASSERT_TRUE(RunUntil([&] {
            m_raw = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            return m_raw >= 0;
        }));
    }

    // Small kernel buffers on both ends, so that big frames block half way.
    void ShrinkBuffers(int peer)
    {
        int size = 4096;
        ::setsockopt(m_client.Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

    std::string ReadRaw(std::size_t count)
    {
        std::string bytes;
        QElapsedTimer timer;
        timer.start();
        while (bytes.size() < count && timer.elapsed() < 5000) {
            pollfd p{m_raw, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buffer[65536];
                ssize_t n = ::recv(m_raw, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
                if (n <= 0)
                    break;
                bytes.append(buffer, static_cast<std::size_t>(n));
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        return bytes;
    }

    void ResetRaw()
    {
        linger hard{1, 0};
        ::setsockopt(m_raw, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(m_raw);
        m_raw = -1;
    }

    CManualClock m_clock;
    RecordingOwner m_clientOwner;
    RecordingOwner m_serverOwner;
    CTaskSocket m_client{&m_clientOwner, m_clock};
    CTaskSocket m_server{&m_serverOwner, m_clock};
    int m_listen = -1;
    int m_raw = -1;
    std::uint16_t m_port = 0;
};

TEST_F(TaskSocketTest, DocumentsTravelBothWaysWithTickCounts)
{
    ConnectPair();
    std::string error;
    m_clock.SetTicks(2000);
    ASSERT_TRUE(
        m_client.SendDocument(ProtocolDocument::MakeLoginRequest("Owen"), nullptr, false, error));
    EXPECT_EQ(m_client.LastWriteTick(), 2000u);
    EXPECT_TRUE(m_client.HasWritten());
    EXPECT_FALSE(m_server.HasRead());
    m_clock.SetTicks(2500);
    ASSERT_TRUE(RunUntil([&] { return m_serverOwner.Documents.size() == 1; }));
    EXPECT_EQ(m_serverOwner.Documents[0].Type, DocumentType::LoginRequest);
    EXPECT_EQ(m_serverOwner.Documents[0].UserName, "Owen");
    EXPECT_EQ(m_server.LastReadTick(), 2500u);
    EXPECT_EQ(m_server.ServerHeader(), "Zib Tam Freeware/740");

    // A keep-alive is read (the tick moves) but gives no document.
    m_clock.SetTicks(3000);
    ASSERT_TRUE(m_client.SendDocument(ProtocolDocument::MakeKeepAlive(), nullptr, false, error));
    ASSERT_TRUE(RunUntil([&] { return m_server.LastReadTick() == 3000u; }));
    ASSERT_TRUE(
        m_server.SendDocument(ProtocolDocument::MakeUsers({{"", "Owen"}}), nullptr, false, error));
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Documents.size() == 1; }));
    EXPECT_EQ(m_clientOwner.Documents[0].Users, (std::vector<UserEntry>{{"", "Owen"}}));
    EXPECT_EQ(m_serverOwner.Documents.size(), 1u);
    EXPECT_EQ(m_clientOwner.Closed + m_serverOwner.Closed, 0);
}

TEST_F(TaskSocketTest, AdoptsAnAcceptedSocket)
{
    ConnectRaw();
    CTaskSocket adopted(&m_serverOwner, m_clock);
    ASSERT_TRUE(adopted.Adopt(m_raw));
    m_raw = -1; // the connection owns it now
    EXPECT_FALSE(adopted.Adopt(5));
    std::string error;
    ASSERT_TRUE(
        m_client.SendDocument(ProtocolDocument::MakeReceipt("1", "a", "b"), nullptr, false, error));
    ASSERT_TRUE(RunUntil([&] { return m_serverOwner.Documents.size() == 1; }));
    EXPECT_EQ(m_serverOwner.Documents[0].ReceiptRecipient, "b");
}

TEST_F(TaskSocketTest, QueuedDocumentsGoOutInOrderThroughPartialWrites)
{
    ConnectPair();
    // A small send buffer only: a tiny receive window on loopback stalls TCP itself.
    int size = 4096;
    ::setsockopt(m_client.Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    std::string error;
    const int count = 60;
    for (int i = 0; i < count; ++i) {
        std::string name = std::to_string(i) + std::string(10000, 'x');
        ASSERT_TRUE(
            m_client.SendDocument(ProtocolDocument::MakeLoginRequest(name), nullptr, false, error));
    }
    // The kernel cannot hold 600 KB: the rest waits for the writable notification.
    EXPECT_GT(m_client.OutgoingCount(), 0u);
    ASSERT_TRUE(RunUntil([&] { return m_serverOwner.Documents.size() == count; }))
        << m_serverOwner.Documents.size() << " arrived, " << m_client.OutgoingCount() << " queued";
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(m_serverOwner.Documents[i].UserName, std::to_string(i) + std::string(10000, 'x'));
    EXPECT_EQ(m_client.OutgoingCount(), 0u);
}

// A newer document takes the place of the last one of its type still waiting, never of one
// already under way; shared frames go out whole through partial writes like any other.
TEST_F(TaskSocketTest, ReplacingTakesOnlyADocumentNothingOfWhichWasWritten)
{
    ConnectPair();
    int size = 4096;
    ::setsockopt(m_client.Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    auto list = [](const std::string& prefix, int count) {
        std::vector<UserEntry> users;
        for (int i = 0; i < count; ++i)
            users.push_back({"", prefix + std::to_string(i)});
        return users;
    };
    auto shared = [](std::vector<UserEntry> users) {
        ProtocolDocument document = ProtocolDocument::MakeUsers(users);
        ShareFrame(document);
        return document;
    };
    std::string error;
    // Half a megabyte: the kernel takes part of it, the rest waits.
    ASSERT_TRUE(m_client.SendDocument(shared(list("first", 10000)), nullptr, false, error));
    ASSERT_EQ(m_client.OutgoingCount(), 1u);
    ProtocolDocument second = shared(list("second", 3));
    EXPECT_EQ(m_client.ReplaceUnsent(second), std::string::npos); // the first is under way
    ASSERT_TRUE(m_client.SendDocument(std::move(second), nullptr, false, error));
    ASSERT_TRUE(
        m_client.SendDocument(ProtocolDocument::MakeLoginRequest("Owen"), nullptr, false, error));
    for (const char* newer : {"third", "fourth"}) {
        ProtocolDocument document = ProtocolDocument::MakeUsers(list(newer, 2));
        EXPECT_EQ(m_client.ReplaceUnsent(document), 1u) << newer;
    }
    ASSERT_EQ(m_client.OutgoingCount(), 3u);

    ASSERT_TRUE(RunUntil([&] { return m_serverOwner.Documents.size() == 3; }));
    EXPECT_EQ(m_serverOwner.Documents[0].Users, list("first", 10000));
    EXPECT_EQ(m_serverOwner.Documents[1].Users, list("fourth", 2));
    EXPECT_EQ(m_serverOwner.Documents[2].UserName, "Owen");
    EXPECT_EQ(m_clientOwner.Closed + m_serverOwner.Closed, 0);
}

// Any number and size of queued documents, any pattern of partial writes: what arrives is
// every document's frame, whole and in order, and the queue ends empty. The reader takes
// random bites at random moments from a socket with a small or a large send buffer, so the
// writer sees everything from one-byte progress to system calls that take all they are given.
TEST(TaskSocketQueue, AnyQueueArrivesWholeAndInOrderThroughAnyPartialWrites)
{
    struct Case
    {
        unsigned Seed;
        int Count;
        std::size_t MaxName; // names of 0 .. MaxName bytes
        int SendBuffer;
        std::size_t MaxRead;
        bool Held; // queued behind HoldWrites, or sent one by one while the reader reads
    };
    const Case cases[] = {
        {1, 2000, 40, 1 << 20, 65536, true}, // room for all: every call takes all it is given
        {2, 2000, 40, 1 << 20, 65536, false}, {3, 63, 200, 4096, 700, true},
        {4, 64, 200, 4096, 1, true},          {5, 65, 200, 1 << 20, 65536, true},
        {6, 700, 3000, 8192, 5000, false},    {7, 300, 60000, 4096, 20000, true},
        {8, 1500, 500, 16384, 300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.Seed));
        std::mt19937 random(c.Seed);
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
        CManualClock clock;
        RecordingOwner owner;
        CTaskSocket writer(&owner, clock);
        ASSERT_TRUE(writer.Adopt(pair[0]));
        ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &c.SendBuffer, sizeof c.SendBuffer);

        // Log-on requests of every length, now and then a keep-alive or a download (whose
        // bytes go out as a second piece of the same document), and runs of messages routed
        // as they came (which share entries of the queue) between them.
        std::vector<ProtocolDocument> documents;
        std::vector<std::string> routed; // the body of each routed frame; empty: a document
        std::string expected;
        for (int i = 0; i < c.Count; ++i) {
            unsigned kind = random() % 16;
            if (kind >= 10) {
                ChatMessage message;
                message.Id = std::to_string(i);
                message.Sender = "Owen";
                message.Recipients = {"RT"};
                message.Text = std::to_string(i) + std::string(random() % (c.MaxName + 1), 't');
                std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
                expected += frame;
                routed.push_back(frame.substr(frame.find("\n\n") + 2));
                documents.emplace_back();
                continue;
            }
            ProtocolDocument document =
                kind == 0   ? ProtocolDocument::MakeKeepAlive()
                : kind == 1 ? ProtocolDocument::MakeFile(std::string(random() % 5000, 'f'))
                            : ProtocolDocument::MakeLoginRequest(
                                  std::to_string(i) + std::string(random() % (c.MaxName + 1), 'n'));
            expected += FormatDocumentFrame(document, clock.Now());
            documents.push_back(std::move(document));
            routed.emplace_back();
        }

        std::string received;
        auto readSome = [&] {
            std::size_t want = 1 + random() % c.MaxRead;
            std::string buffer(want, '\0');
            ssize_t n = ::recv(pair[1], buffer.data(), want, 0);
            if (n > 0)
                received.append(buffer.data(), static_cast<std::size_t>(n));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        };
        std::string error;
        if (c.Held)
            writer.HoldWrites();
        for (std::size_t i = 0; i < documents.size(); ++i) {
            bool appended = false;
            if (!routed[i].empty())
                ASSERT_TRUE(writer.SendFrame(routed[i], appended));
            else
                ASSERT_TRUE(writer.SendDocument(std::move(documents[i]), nullptr, false, error))
                    << error;
            if (!c.Held && random() % 8 == 0)
                for (unsigned bites = random() % 4; bites > 0; --bites)
                    readSome();
        }
        if (c.Held)
            writer.ReleaseWrites();
        QElapsedTimer timer;
        timer.start();
        // Until everything came, or the writer is done and nothing more is on the way.
        auto idle = [&] {
            pollfd p{pair[1], POLLIN, 0};
            return writer.OutgoingCount() == 0 && ::poll(&p, 1, 0) == 0;
        };
        while (received.size() < expected.size() && !idle() && timer.elapsed() < 20000) {
            if (random() % 4 == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1); // a pause
            else
                readSome();
        }
        ::close(pair[1]);

        EXPECT_EQ(writer.OutgoingCount(), 0u);
        ASSERT_EQ(received.size(), expected.size());
        auto differ = std::mismatch(received.begin(), received.end(), expected.begin());
        EXPECT_TRUE(differ.first == received.end())
            << "first difference at byte " << (differ.first - received.begin());
        EXPECT_TRUE(owner.Failed.empty());
        EXPECT_EQ(owner.Closed, 0);
    }
}

TEST_F(TaskSocketTest, BusySendWaitsAndDisablesCancelWhileHalfWritten)
{
    for (bool keepCancel : {false, true}) {
        SCOPED_TRACE(keepCancel ? "keep cancel" : "disable cancel");
        CTaskSocket client(&m_clientOwner, m_clock);
        CTaskSocket server(&m_serverOwner, m_clock);
        CEventLoopWait connectWait(5000);
        std::string error;
        ASSERT_TRUE(client.Connect("127.0.0.1", m_port, connectWait, error)) << error;
        ASSERT_TRUE(RunUntil([&] { return server.Accept(m_listen); }));
        int size = 4096;
        ::setsockopt(client.Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        m_serverOwner.Documents.clear();

        ScriptedWait wait;
        std::string big(600000, 'b');
        // A document sent from inside the wait is only queued; the waiting send writes it.
        bool nested = false;
        wait.Hook = [&](int step) {
            if (step == 1) {
                std::string nestedError;
                nested = client.SendDocument(ProtocolDocument::MakeLoginRequest("after"), &wait,
                                             false, nestedError);
            }
        };
        ASSERT_TRUE(
            client.SendDocument(ProtocolDocument::MakeLoginRequest(big), &wait, keepCancel, error))
            << error;
        EXPECT_TRUE(nested);
        EXPECT_GT(wait.Steps, 0);
        if (keepCancel)
            EXPECT_TRUE(wait.CancelCalls.empty());
        else
            EXPECT_EQ(wait.CancelCalls, (std::vector<bool>{false, true}));
        EXPECT_EQ(client.OutgoingCount(), 0u);
        ASSERT_TRUE(RunUntil([&] { return m_serverOwner.Documents.size() == 2; }));
        EXPECT_EQ(m_serverOwner.Documents[0].UserName, big);
        EXPECT_EQ(m_serverOwner.Documents[1].UserName, "after");
    }
}

TEST_F(TaskSocketTest, StoppingWithHalfAFrameOutClosesTheConnection)
{
    ConnectRaw();
    ShrinkBuffers(m_raw);
    ScriptedWait wait;
    wait.StopAfter = 2;
    std::string error;
    EXPECT_FALSE(m_client.SendDocument(ProtocolDocument::MakeLoginRequest(std::string(500000, 'c')),
                                       &wait, false, error));
    EXPECT_TRUE(m_client.IsClosed());
    EXPECT_EQ(m_clientOwner.Closed, 1);
    EXPECT_EQ(wait.CancelCalls, (std::vector<bool>{false, true}));
    // Closed stays closed: sending again fails at once.
    EXPECT_FALSE(m_client.SendDocument(ProtocolDocument::MakeKeepAlive(), nullptr, false, error));
    EXPECT_EQ(error, "Zib Tam could not send the message.\n\nTransport endpoint is not connected");
    EXPECT_EQ(m_clientOwner.Closed, 1);
}

TEST_F(TaskSocketTest, ReadsFramesOverManyPacketsAndSeveralInOne)
{
    ConnectRaw();
    std::string frame = FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("Owen"));
    std::string two = frame + FormatDocumentFrame(ProtocolDocument::MakeReceipt("1", "a", "b"));
    ASSERT_EQ(::send(m_raw, two.data(), two.size(), 0), static_cast<ssize_t>(two.size()));
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Documents.size() == 2; }));
    EXPECT_EQ(m_clientOwner.Documents[1].Type, DocumentType::MessageReceipt);

    for (char c : frame) {
        ASSERT_EQ(::send(m_raw, &c, 1, 0), 1);
        ProcessFor(1);
    }
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Documents.size() == 3; }));
    EXPECT_EQ(m_clientOwner.Documents[2].UserName, "Owen");

    // A frame bigger than one read (16,384 bytes) arrives whole.
    std::string big =
        FormatDocumentFrame(ProtocolDocument::MakeLoginRequest(std::string(100000, 'z')));
    ASSERT_EQ(::send(m_raw, big.data(), big.size(), 0), static_cast<ssize_t>(big.size()));
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Documents.size() == 4; }));
    EXPECT_EQ(m_clientOwner.Documents[3].UserName.size(), 100000u);
    // A body that is not XML is dropped; the connection stays.
    std::string bad = "Content-Length: 3\n\n<a>" + frame;
    ASSERT_EQ(::send(m_raw, bad.data(), bad.size(), 0), static_cast<ssize_t>(bad.size()));
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Documents.size() == 5; }));
    EXPECT_FALSE(m_client.IsClosed());
}

TEST_F(TaskSocketTest, HttpRequestsReachTheOwnerAndAnswersGoOutVerbatim)
{
    ConnectRaw();
    std::string request = "GET /upgrade HTTP/1.1\r\nHost: srv:2000\r\n\r\n";
    ASSERT_EQ(::send(m_raw, request.data(), request.size(), 0),
              static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(RunUntil([&] { return m_clientOwner.Requests.size() == 1; }));
    EXPECT_EQ(m_clientOwner.Requests[0].Path, "/upgrade");
    EXPECT_EQ(m_clientOwner.Requests[0].Host, "srv:2000");

    std::string error;
    ProtocolDocument redirect =
        ProtocolDocument::MakeRedirect("http://srv:2000/upgrade/740/setup.exe");
    std::string expected = FormatDocumentFrame(redirect);
    ASSERT_TRUE(m_client.SendDocument(redirect, nullptr, false, error));
    EXPECT_EQ(ReadRaw(expected.size()), expected);
}

TEST_F(TaskSocketTest, ClosingByEitherSideTellsTheOwnerOnce)
{
    struct Case
    {
        const char* Name;
        std::string Bytes; // sent before the peer closes; empty: just close
    };
    const Case cases[] = {
        {"end of stream", ""},
        {"bad length", "Content-Length: -1\n\n"},
        {"length above our limit", "Content-Length: 2000000\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RecordingOwner owner;
        CTaskSocket client(&owner, m_clock);
        CEventLoopWait wait(5000);
        std::string error;
        ASSERT_TRUE(client.Connect("127.0.0.1", m_port, wait, error)) << error;
        int raw = -1;
        ASSERT_TRUE(RunUntil([&] {
            raw = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            return raw >= 0;
        }));
        if (c.Bytes.empty())
            ::close(raw);
        else
            ::send(raw, c.Bytes.data(), c.Bytes.size(), 0);
        ASSERT_TRUE(RunUntil([&] { return client.IsClosed(); }));
        EXPECT_EQ(owner.Closed, 1);
        client.Close();
        EXPECT_EQ(owner.Closed, 1);
        if (!c.Bytes.empty())
            ::close(raw);
    }

    // Closing on request tells the owner too.
    ConnectPair();
    m_client.Close();
    EXPECT_EQ(m_clientOwner.Closed, 1);
    ASSERT_TRUE(RunUntil([&] { return m_server.IsClosed(); }));
    EXPECT_EQ(m_serverOwner.Closed, 1);
}

// The client deletes its connection when told it closed; the server may drop a connection
// that sent something it dislikes. Neither may leave the socket touching freed memory.
class DeletingOwner : public ITaskSocketOwner
{
public:
    CTaskSocket* Socket = nullptr;
    bool DeleteOnDocument = false;
    int Events = 0;
    void OnDocumentArrived(CTaskSocket&) override
    {
        ++Events;
        if (DeleteOnDocument)
            Drop();
    }
    void OnConnectionClosed(CTaskSocket&) override
    {
        ++Events;
        Drop();
    }
    void OnSendFailed(CTaskSocket&, const ProtocolDocument&) override { ++Events; }
    void Drop()
    {
        delete Socket;
        Socket = nullptr;
    }
};

TEST_F(TaskSocketTest, OwnerMayDeleteTheConnectionFromItsNotifications)
{
    for (bool onDocument : {false, true}) {
        SCOPED_TRACE(onDocument ? "on a document" : "on closing");
        DeletingOwner owner;
        owner.DeleteOnDocument = onDocument;
        owner.Socket = new CTaskSocket(&owner, m_clock);
        CEventLoopWait wait(5000);
        std::string error;
        ASSERT_TRUE(owner.Socket->Connect("127.0.0.1", m_port, wait, error)) << error;
        int raw = -1;
        ASSERT_TRUE(RunUntil([&] {
            raw = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            return raw >= 0;
        }));
        // Two documents and the end of the stream in one go.
        std::string bytes = FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("a")) +
                            FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("b"));
        ::send(raw, bytes.data(), bytes.size(), 0);
        ::close(raw);
        ASSERT_TRUE(RunUntil([&] { return owner.Socket == nullptr; }));
        EXPECT_EQ(owner.Events, onDocument ? 1 : 3);
        ProcessFor(20);
    }

    // Deleted while a busy send waits inside it.
    DeletingOwner owner;
    owner.Socket = new CTaskSocket(&owner, m_clock);
    CEventLoopWait wait(5000);
    std::string error;
    ASSERT_TRUE(owner.Socket->Connect("127.0.0.1", m_port, wait, error)) << error;
    ASSERT_TRUE(RunUntil([&] {
        m_raw = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_raw >= 0;
    }));
    int size = 4096;
    ::setsockopt(owner.Socket->Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(m_raw, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ScriptedWait busy;
    busy.Hook = [&](int step) {
        if (step == 2)
            ResetRaw();
    };
    EXPECT_FALSE(owner.Socket->SendDocument(
        ProtocolDocument::MakeLoginRequest(std::string(500000, 'e')), &busy, false, error));
    EXPECT_EQ(owner.Socket, nullptr);
    EXPECT_EQ(error.rfind("Zib Tam could not send the message.\n\n", 0), 0u) << error;
    EXPECT_EQ(busy.CancelCalls, (std::vector<bool>{false, true}));
}

TEST_F(TaskSocketTest, WriteErrorsClose)
{
    ConnectRaw();
    ResetRaw();
    ProcessFor(0);
    // Let the reset arrive without letting the read notification see it first.
    ::usleep(50000);
    std::string error;
    bool sent = true;
    for (int i = 0; i < 5 && sent; ++i) {
        sent = m_client.SendDocument(ProtocolDocument::MakeLoginRequest("Owen"), nullptr, false,
                                     error);
    }
    EXPECT_FALSE(sent);
    EXPECT_EQ(error.rfind("Zib Tam could not send the message.\n\n", 0), 0u) << error;
    EXPECT_GT(error.size(), 38u);
    EXPECT_TRUE(m_client.IsClosed());
    EXPECT_EQ(m_clientOwner.Closed, 1);
}

TEST_F(TaskSocketTest, AsynchronousWriteErrorReachesTheOwner)
{
    ConnectRaw();
    ShrinkBuffers(m_raw);
    m_clientOwner.CloseOnFailure = true;
    std::string error;
    ASSERT_TRUE(m_client.SendDocument(ProtocolDocument::MakeLoginRequest(std::string(500000, 'd')),
                                      nullptr, false, error));
    ASSERT_EQ(m_client.OutgoingCount(), 1u);
    ResetRaw();
    ASSERT_TRUE(RunUntil([&] { return m_client.IsClosed(); }));
    EXPECT_EQ(m_clientOwner.Closed, 1);
    // Whichever notification saw the reset first, a failure names the half-sent document.
    for (const auto& failed : m_clientOwner.Failed)
        EXPECT_EQ(failed.UserName.size(), 500000u);
}

// Routed frames share an entry of the queue; when the write of one fails, the owner hears
// of the message whose frame the write stopped in, not of the whole run.
TEST_F(TaskSocketTest, AWriteErrorInARunOfFramesNamesTheMessageItStoppedIn)
{
    ConnectRaw();
    ShrinkBuffers(m_raw);
    m_clientOwner.CloseOnFailure = true;
    auto body = [](const std::string& text) {
        ChatMessage message;
        message.Id = text.substr(0, 1);
        message.Sender = "Owen";
        message.Recipients = {"RT"};
        message.Text = text;
        std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
        return frame.substr(frame.find("\n\n") + 2);
    };
    const std::string small = "a short one";
    // Far more than the kernel's buffers hold.
    const std::string big(900000, 'b');
    m_client.HoldWrites();
    bool appended = false;
    ASSERT_TRUE(m_client.SendFrame(body(small), appended));
    EXPECT_FALSE(appended);
    for (char c : std::string("bcd")) {
        ASSERT_TRUE(m_client.SendFrame(body(std::string(big.size(), c)), appended));
        EXPECT_TRUE(appended);
    }
    EXPECT_EQ(m_client.OutgoingCount(), 1u);
    m_client.ReleaseWrites(); // the short one goes out whole, the next one blocks half way
    ASSERT_FALSE(m_client.IsClosed());
    ASSERT_TRUE(m_client.SendFrame(body("after the run began"), appended));
    EXPECT_FALSE(appended); // nothing joins a run part of which is written
    EXPECT_EQ(m_client.OutgoingCount(), 2u);
    ResetRaw();
    // The reset arrives unseen by the read notification; the next write finds it.
    ::usleep(50000);
    m_client.HoldWrites();
    m_client.ReleaseWrites();
    EXPECT_TRUE(m_client.IsClosed());
    ASSERT_EQ(m_clientOwner.Failed.size(), 1u);
    EXPECT_EQ(m_clientOwner.Failed[0].Type, DocumentType::Message);
    EXPECT_TRUE(m_clientOwner.Failed[0].Message.Text == big);
    EXPECT_EQ(m_clientOwner.Failed[0].Message.Sender, "Owen");
}

TEST_F(TaskSocketTest, ConnectFailuresGiveTheSystemText)
{
    ::close(m_listen);
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0); // nothing listens on m_port any more
    CEventLoopWait wait(5000);
    std::string error;
    EXPECT_FALSE(m_client.Connect("127.0.0.1", m_port, wait, error));
    EXPECT_EQ(error, "Zib Tam could not connect to the server.\n\nConnection refused");
    EXPECT_TRUE(m_client.IsClosed());
    EXPECT_EQ(m_clientOwner.Closed, 0);
}

TEST(EventLoopWait, CancelRulesAndTimeLimit)
{
    CEventLoopWait wait;
    EXPECT_FALSE(wait.WaitStep());
    wait.EnableCancel(false);
    wait.RequestCancel();
    EXPECT_FALSE(wait.WaitStep());
    wait.EnableCancel(true);
    wait.RequestCancel();
    EXPECT_TRUE(wait.WaitStep());

    CEventLoopWait limited(30);
    QElapsedTimer timer;
    timer.start();
    while (!limited.WaitStep())
        ASSERT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(limited.TimedOut());

    // Events run inside a step.
    CEventLoopWait running;
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    for (int i = 0; i < 5 && !fired; ++i)
        running.WaitStep();
    EXPECT_TRUE(fired);
}

} // namespace
