#pragma once
// Loopback fixtures for the client/server tests: a server on a free port, clients with a
// recording sink, a raw peer that speaks bytes, and an event pump with a time limit.
#include "PumpSupport.h"
#include "net/BusyIndicator.h"
#include "net/TcpIpClient.h"
#include "net/TcpIpServer.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// Writes what the window would show, one line per event.
class RecordingSink : public CTransportSink
{
public:
    std::vector<std::string> Events;

protected:
    void OnConnected() override { Events.push_back("connected"); }
    void OnDisconnected() override { Events.push_back("disconnected"); }
    void OnUserArrived(const std::string& name) override { Events.push_back("arrived " + name); }
    void OnUserDeparted(const std::string& name) override { Events.push_back("departed " + name); }
    void OnUserRenamed(const std::string& oldName, const std::string& newName) override
    {
        Events.push_back("renamed " + oldName + " to " + newName);
    }
};

// Busy indicators that give up after a while (no test may hang) and remember their texts.
class RecordingBusyFactory : public IBusyIndicatorFactory
{
public:
    std::vector<std::string> Texts;
    int TimeoutMs = 5000;
    std::unique_ptr<IBusyIndicator> StartBusy(const std::string& text) override
    {
        Texts.push_back(text);
        return std::make_unique<CEventLoopBusyIndicator>(text, TimeoutMs);
    }
};

// One chat client with everything it needs.
struct TestClient
{
    TestClient(const IClock& clock, const std::string& host, int port,
               const std::string& name = "owen")
        : Names(name), Settings(host, port),
          Client(std::make_unique<CTcpIpClient>(&Sink, Names, clock, Settings, Busy))
    {}

    bool LogOn(const std::string& name, std::string* errorOut = nullptr)
    {
        std::string error;
        bool ok = Client->LogOn(name, error);
        if (errorOut)
            *errorOut = error;
        return ok;
    }

    // Everything GetMessages hands over, collected.
    std::vector<ChatMessage>& Drain()
    {
        std::vector<ChatMessage> batch;
        Client->GetMessages(batch);
        for (auto& m : batch)
            Messages.push_back(std::move(m));
        return Messages;
    }

    bool Has(const std::string& text)
    {
        Drain();
        for (const auto& m : Messages) {
            if (m.Text == text)
                return true;
        }
        return false;
    }

    int CountFrom(const std::string& sender)
    {
        Drain();
        int n = 0;
        for (const auto& m : Messages)
            n += m.Sender == sender;
        return n;
    }

    bool Knows(const std::vector<std::string>& users)
    {
        Drain();
        return Client->KnownUsers() == users;
    }

    RecordingSink Sink;
    CFixedUserName Names;
    CFixedClientSettings Settings;
    RecordingBusyFactory Busy;
    std::unique_ptr<CTcpIpClient> Client;
    std::vector<ChatMessage> Messages;
};

// A raw TCP peer on loopback: writes bytes, collects what arrives, never blocks.
class RawPeer
{
public:
    explicit RawPeer(int port, bool connectNow = true)
    {
        if (connectNow)
            Connect(port);
    }
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool Connect(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        // Loopback connects complete in the kernel's accept queue; no event loop needed.
        bool ok = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        return ok;
    }

    // Shrinks the receive buffer (before the data comes) so that a stalled reader fills up.
    void SetReceiveBuffer(int bytes)
    {
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }

    // Sends everything, running events while the socket is full.
    bool Send(const std::string& bytes)
    {
        std::size_t sent = 0;
        return PumpUntil([&] {
                   while (sent < bytes.size()) {
                       ssize_t n =
                           ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                       if (n < 0)
                           return errno != EAGAIN && errno != EWOULDBLOCK; // error: give up
                       sent += static_cast<std::size_t>(n);
                   }
                   return true;
               }) &&
               sent == bytes.size();
    }

    // Reads what is there; false once the server closed the connection.
    bool ReadAvailable()
    {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                Received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                m_eof = true;
                return false;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            m_eof = true;
            return false;
        }
    }

    bool WaitFor(const std::string& text, int timeoutMs = 5000)
    {
        return PumpUntil(
            [&] {
                ReadAvailable();
                return Received.find(text) != std::string::npos;
            },
            timeoutMs);
    }

    bool WaitClosed(int timeoutMs = 5000)
    {
        return PumpUntil(
            [&] {
                ReadAvailable();
                return m_eof;
            },
            timeoutMs);
    }

    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int Fd() const { return m_fd; }
    bool Eof() const { return m_eof; }
    std::string Received;

private:
    int m_fd = -1;
    bool m_eof = false;
};

// A server on a free loopback port with a clock the test moves.
struct ServerFixtureBase
{
    ServerFixtureBase()
        : Server(Clock, [this](std::string& bytes) {
              if (!ExecutableReadable)
                  return false;
              bytes = ExecutableBytes;
              return true;
          })
    {
        std::string error;
        Started = Server.Start(0, error);
        Port = Server.Port();
        // The window's timer polls the server, also while a client waits in a nested loop.
        QObject::connect(&PollTimer, &QTimer::timeout, [this] { Server.Poll(); });
        PollTimer.start(2);
    }

    // Polls the server the way the window's timer would, while events run.
    bool Settle(const std::function<bool()>& done, int timeoutMs = 5000)
    {
        return PumpUntil(
            [&] {
                Server.Poll();
                return done();
            },
            timeoutMs);
    }

    CManualClock Clock;
    // Bytes of every kind, zeros included: the length comes from the literal itself.
    static constexpr char kExecutable[] = "MZ\x90\0\r\n\x1a binary \0 bytes";
    std::string ExecutableBytes = std::string(kExecutable, sizeof kExecutable - 1);
    bool ExecutableReadable = true;
    CTcpIpServer Server;
    QTimer PollTimer;
    bool Started = false;
    int Port = 0;
};
