// The anchor for the routing rows: the least a server must do to route the load generator's
// traffic, and nothing more. One thread, epoll, non-blocking sockets; it reads each frame's
// length, finds the recipient by searching the body for its tag (no XML reading, no
// permissions, no notices) and copies the frame unchanged into the recipient's buffer,
// written once per connection per pass of the loop. Once `clients` names have logged on,
// each gets one users document listing them all.
//
//   zt_forward_host --port P --clients N
#include "FrameText.h"
#include "net/ProtocolDocument.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct Connection
{
    int Fd = -1;
    std::string In;
    std::size_t InPos = 0;
    std::string Out;
    std::size_t OutPos = 0;
    bool Dirty = false;
    bool Watching = false; // for writability
};

class Forwarder
{
public:
    Forwarder(int port, int clients) : m_expected(static_cast<std::size_t>(clients))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 4096) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_connections.reserve(65536); // references to connections stay valid
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = kListener;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &event);
    }

    [[noreturn]] void Run()
    {
        std::printf("listening\n");
        std::fflush(stdout);
        epoll_event events[256];
        for (;;) {
            int n = ::epoll_wait(m_epoll, events, 256, -1);
            for (int i = 0; i < n; ++i) {
                if (events[i].data.u32 == kListener) {
                    AcceptAll();
                    continue;
                }
                Connection& c = m_connections[events[i].data.u32];
                if (events[i].events & EPOLLOUT)
                    WriteOut(c);
                if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                    ReadIn(c);
            }
            for (std::size_t index : m_dirty) {
                Connection& c = m_connections[index];
                c.Dirty = false;
                WriteOut(c);
            }
            m_dirty.clear();
        }
    }

private:
    static constexpr uint32_t kListener = 0xFFFFFFFF;

    void AcceptAll()
    {
        for (;;) {
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_connections.emplace_back();
            m_connections.back().Fd = fd;
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u32 = static_cast<uint32_t>(m_connections.size() - 1);
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        }
    }

    void Queue(std::size_t index, std::string_view bytes)
    {
        Connection& c = m_connections[index];
        c.Out.append(bytes);
        if (!c.Dirty) {
            c.Dirty = true;
            m_dirty.push_back(index);
        }
    }

    void WriteOut(Connection& c)
    {
        while (c.OutPos < c.Out.size()) {
            ssize_t n =
                ::send(c.Fd, c.Out.data() + c.OutPos, c.Out.size() - c.OutPos, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    return Watch(c, true);
                return; // the generator ends the run by closing
            }
            c.OutPos += static_cast<std::size_t>(n);
        }
        c.Out.clear();
        c.OutPos = 0;
        Watch(c, false);
    }

    void Watch(Connection& c, bool writable)
    {
        if (c.Watching == writable)
            return;
        c.Watching = writable;
        epoll_event event{};
        event.events = EPOLLIN | (writable ? EPOLLOUT : 0u);
        event.data.u32 = static_cast<uint32_t>(&c - m_connections.data());
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.Fd, &event);
    }

    void ReadIn(Connection& c)
    {
        char buffer[16384];
        ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.Fd, nullptr);
                ::close(c.Fd);
                c.Fd = -1;
            }
            return;
        }
        c.In.append(buffer, static_cast<std::size_t>(n));
        const std::size_t from = static_cast<std::size_t>(&c - m_connections.data());
        for (;;) {
            // Re-read: Queue may grow another connection's buffer, never this one's In.
            std::string_view rest(c.In.data() + c.InPos, c.In.size() - c.InPos);
            NextFrame next = TakeFrame(rest);
            if (next.Taken == 0)
                break;
            c.InPos += next.Taken;
            if (!next.HasBody)
                continue;
            std::string_view frame = rest.substr(0, next.Taken);
            std::string_view body = next.Body;
            std::string_view to;
            if (body.find("<message>") != std::string_view::npos)
                to = Between(body, "<to><user>", "</user>");
            else if (body.find("<message-receipt>") != std::string_view::npos)
                to = Between(body, "<message-sender>", "</message-sender>");
            else if (body.find("<login-request>") != std::string_view::npos)
                LogOn(from, std::string(Between(body, "<username>", "</username>")));
            if (!to.empty()) {
                auto target = m_names.find(std::string(to));
                if (target != m_names.end())
                    Queue(target->second, frame);
            }
        }
        if (c.InPos == c.In.size()) {
            c.In.clear();
            c.InPos = 0;
        }
    }

    void LogOn(std::size_t index, std::string name)
    {
        m_users.push_back({"", name});
        m_names.emplace(std::move(name), index);
        if (m_names.size() != m_expected)
            return;
        const std::string frame = FormatDocumentFrame(ProtocolDocument::MakeUsers(m_users));
        for (const auto& [_, to] : m_names)
            Queue(to, frame);
    }

    std::size_t m_expected;
    int m_listen = -1;
    int m_epoll = -1;
    std::vector<Connection> m_connections;
    std::vector<std::size_t> m_dirty;
    std::unordered_map<std::string, std::size_t> m_names;
    std::vector<UserEntry> m_users;
};

} // namespace

int main(int argc, char** argv)
{
    int port = 0;
    int clients = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--port")
            port = std::atoi(argv[i + 1]);
        else if (a == "--clients")
            clients = std::atoi(argv[i + 1]);
    }
    if (port <= 0) {
        std::fprintf(stderr, "usage: %s --port P [--clients N]\n", argv[0]);
        return 2;
    }
    Forwarder(port, clients).Run();
}
