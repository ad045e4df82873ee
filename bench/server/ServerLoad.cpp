// Closed-loop load generator for the chat server (and, for comparison, an IRC server).
//
//   zt_server_load route  --port P [--irc] [--clients 100] [--inflight 8] [--seconds 5]
//                         [--receipts]
//     Every client keeps `inflight` messages on their way to the next client; a message
//     counts once its recipient has it (with --receipts: once the sender has its receipt,
//     as real clients answer every message). Prints messages routed per second.
//   zt_server_load logons --port P [--clients 1000] [--server-pid PID]
//     Connects and logs on that many clients at once and waits until every one of them has
//     been told about all the others. Prints the time and the bytes of users documents;
//     with the server's process id also its peak resident memory and processor time (the
//     server should be fresh, so that both are the log-on storm's).
//   zt_server_load stall --port P --server-pid PID [--seconds 5]
//     load0 stops reading, load1 floods it without waiting, load2 and load3 keep 8 messages
//     in flight between them. Prints their rate, the notices load1 got and the server's
//     resident memory at the start and at its peak.
//
// One thread, epoll, non-blocking sockets; frames are made once and reused, so that the
// generator costs the shared CPUs as little as possible.
#include "FrameText.h"
#include "common/ChatMessage.h"
#include "net/ProtocolDocument.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options
{
    std::string Mode;
    int Port = 34300;
    bool Irc = false;
    int Clients = 100;
    int InFlight = 8;
    double Seconds = 5;
    bool Receipts = false;
    int ServerPid = 0;
};

struct Client
{
    int Fd = -1;
    int Index = 0;
    std::string Name;
    std::string In;
    std::size_t InPos = 0;
    std::string Out;
    std::size_t OutPos = 0;
    bool Dirty = false;
    bool Registered = false; // IRC: welcome seen; chat: listed in a users document
    std::size_t UsersListed = 0;
    std::string MessageFrame; // to the next client
};

class Load
{
public:
    explicit Load(const Options& options) : m_options(options) {}

    bool Connect()
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_clients.resize(static_cast<std::size_t>(m_options.Clients));
        for (int i = 0; i < m_options.Clients; ++i) {
            Client& c = m_clients[static_cast<std::size_t>(i)];
            c.Index = i;
            c.Name = "load" + std::to_string(i);
            c.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (m_options.Mode == "stall" && i == 0) {
                int small = 4096;
                ::setsockopt(c.Fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            }
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<uint16_t>(m_options.Port));
            if (::connect(c.Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                std::perror("connect");
                return false;
            }
            int on = 1;
            ::setsockopt(c.Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::fcntl(c.Fd, F_SETFL, ::fcntl(c.Fd, F_GETFL) | O_NONBLOCK);
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u32 = static_cast<uint32_t>(i);
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.Fd, &event);
        }
        for (Client& c : m_clients) {
            const Client& next =
                m_clients[static_cast<std::size_t>(c.Index + 1) % m_clients.size()];
            if (m_options.Irc) {
                Queue(c, "NICK " + c.Name + "\r\nUSER " + c.Name + " 0 * :load\r\n");
                c.MessageFrame = "PRIVMSG " + next.Name +
                                 " :Load test message, about as long as a chat line\r\n";
            } else {
                Queue(c, FormatDocumentFrame(ProtocolDocument::MakeLoginRequest(c.Name)));
                ChatMessage message;
                message.Id = "1";
                message.Sender = c.Name;
                message.Recipients = {next.Name};
                message.Text = "Load test message, about as long as a chat line";
                message.Time = MessageTime::From(958'000'000);
                c.MessageFrame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
            }
        }
        Flush();
        return true;
    }

    // Runs until every client is registered and (chat) has seen all the others.
    bool WaitRegistered(double limitSeconds)
    {
        auto start = Clock::now();
        while (m_registered < m_clients.size() ||
               (!m_options.Irc && m_complete < m_clients.size())) {
            if (std::chrono::duration<double>(Clock::now() - start).count() > limitSeconds)
                return false;
            Step(100);
        }
        return true;
    }

    double Route()
    {
        for (int k = 0; k < m_options.InFlight; ++k)
            for (Client& c : m_clients)
                SendMessage(c);
        Flush();
        auto warm = Clock::now() + std::chrono::milliseconds(500);
        while (Clock::now() < warm)
            Step(10);
        std::uint64_t before = m_delivered;
        auto start = Clock::now();
        auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(m_options.Seconds));
        while (Clock::now() < end)
            Step(10);
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        return static_cast<double>(m_delivered - before) / elapsed;
    }

    std::uint64_t UsersBytes() const { return m_usersBytes; }
    std::uint64_t UsersDocuments() const { return m_usersDocuments; }
    std::uint64_t Receipts() const { return m_receipts; }

    // The stall scenario; returns the pair's messages per second.
    double Stall(long& startRss, long& peakRss, std::uint64_t& notices)
    {
        Client& stalled = m_clients[0];
        Client& flooder = m_clients[1];
        Client& a = m_clients[2];
        Client& b = m_clients[3];
        epoll_event none{};
        none.data.u32 = 0;
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, stalled.Fd, &none); // never reads again
        {
            ChatMessage message;
            message.Id = "1";
            message.Sender = flooder.Name;
            message.Recipients = {stalled.Name};
            message.Text = std::string(2000, 'f');
            message.Time = MessageTime::From(958'000'000);
            flooder.MessageFrame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
        }
        b.MessageFrame = PairFrame(b, a);
        startRss = ServerRss();
        peakRss = startRss;
        for (int k = 0; k < m_options.InFlight; ++k) {
            SendMessage(a);
            SendMessage(b);
        }
        Flush();
        auto start = Clock::now();
        auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(m_options.Seconds));
        auto nextSample = start;
        while (Clock::now() < end) {
            if (flooder.Out.size() - flooder.OutPos < 64 * 1024) {
                for (int k = 0; k < 32; ++k)
                    SendMessage(flooder);
            }
            Step(1);
            if (Clock::now() >= nextSample) {
                long rss = ServerRss();
                if (rss > peakRss)
                    peakRss = rss;
                nextSample += std::chrono::milliseconds(50);
            }
        }
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        notices = m_notices;
        return static_cast<double>(m_delivered) / elapsed;
    }

private:
    void Queue(Client& c, std::string_view bytes)
    {
        c.Out.append(bytes);
        if (!c.Dirty) {
            c.Dirty = true;
            m_dirty.push_back(c.Index);
        }
    }

    void SendMessage(Client& c) { Queue(c, c.MessageFrame); }

    void Flush()
    {
        for (int index : m_dirty) {
            Client& c = m_clients[static_cast<std::size_t>(index)];
            c.Dirty = false;
            WriteOut(c);
        }
        m_dirty.clear();
    }

    void WriteOut(Client& c)
    {
        while (c.OutPos < c.Out.size()) {
            ssize_t n =
                ::send(c.Fd, c.Out.data() + c.OutPos, c.Out.size() - c.OutPos, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN) {
                    Watch(c, true);
                    return;
                }
                std::perror("send");
                std::exit(1);
            }
            c.OutPos += static_cast<std::size_t>(n);
        }
        c.Out.clear();
        c.OutPos = 0;
        Watch(c, false);
    }

    void Watch(Client& c, bool writable)
    {
        epoll_event event{};
        event.events = EPOLLIN | (writable ? EPOLLOUT : 0u);
        event.data.u32 = static_cast<uint32_t>(c.Index);
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.Fd, &event);
    }

    void Step(int timeoutMs)
    {
        epoll_event events[256];
        int n = ::epoll_wait(m_epoll, events, 256, timeoutMs);
        for (int i = 0; i < n; ++i) {
            Client& c = m_clients[events[i].data.u32];
            if (events[i].events & EPOLLOUT)
                WriteOut(c);
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                ReadIn(c);
        }
        Flush();
    }

    void ReadIn(Client& c)
    {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                c.In.append(buffer, static_cast<std::size_t>(n));
                if (static_cast<std::size_t>(n) < sizeof buffer)
                    break;
                continue;
            }
            if (n == 0) {
                std::fprintf(stderr, "%s: the server closed the connection\n", c.Name.c_str());
                std::exit(1);
            }
            if (errno == EAGAIN || errno == EINTR)
                break;
            std::perror("recv");
            std::exit(1);
        }
        if (m_options.Irc)
            ParseIrc(c);
        else
            ParseFrames(c);
        if (c.InPos == c.In.size()) {
            c.In.clear();
            c.InPos = 0;
        } else if (c.InPos > 65536) {
            c.In.erase(0, c.InPos);
            c.InPos = 0;
        }
    }

    int IndexOf(std::string_view name) const
    {
        if (name.substr(0, 4) != "load")
            return -1;
        int value = 0;
        for (char ch : name.substr(4)) {
            if (ch < '0' || ch > '9')
                return -1;
            value = value * 10 + (ch - '0');
        }
        return value < static_cast<int>(m_clients.size()) ? value : -1;
    }

    static std::string PairFrame(const Client& from, const Client& to)
    {
        ChatMessage message;
        message.Id = "1";
        message.Sender = from.Name;
        message.Recipients = {to.Name};
        message.Text = "Load test message, about as long as a chat line";
        message.Time = MessageTime::From(958'000'000);
        return FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
    }

public:
    // A field of the server's /proc status in kB: "VmRSS:" now, "VmHWM:" its peak so far.
    long ServerStatusKb(const char* field = "VmRSS:") const
    {
        if (m_options.ServerPid <= 0)
            return 0;
        std::string path = "/proc/" + std::to_string(m_options.ServerPid) + "/status";
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file)
            return 0;
        char line[256];
        long kb = 0;
        std::size_t length = std::strlen(field);
        while (std::fgets(line, sizeof line, file)) {
            if (std::strncmp(line, field, length) == 0)
                kb = std::atol(line + length);
        }
        std::fclose(file);
        return kb;
    }

    // The server's processor time so far (user and system), in seconds.
    double ServerCpuSeconds() const
    {
        if (m_options.ServerPid <= 0)
            return 0;
        std::string path = "/proc/" + std::to_string(m_options.ServerPid) + "/stat";
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file)
            return 0;
        char text[1024];
        std::size_t n = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[n] = '\0';
        // The fields after the command name, which is in parentheses and may hold blanks.
        const char* rest = std::strrchr(text, ')');
        unsigned long long user = 0;
        unsigned long long system = 0;
        if (!rest || std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                                 &user, &system) != 2)
            return 0;
        return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    long ServerRss() const { return ServerStatusKb(); }

    void Delivered(int senderIndex)
    {
        ++m_delivered;
        if (senderIndex >= 0)
            SendMessage(m_clients[static_cast<std::size_t>(senderIndex)]);
    }

    void ParseFrames(Client& c)
    {
        static constexpr std::string_view kProlog = "<?xml version=\"1.0\"?>\n";
        for (;;) {
            NextFrame next = TakeFrame({c.In.data() + c.InPos, c.In.size() - c.InPos});
            if (next.Taken == 0)
                return;
            c.InPos += next.Taken;
            if (!next.HasBody)
                continue;
            std::string_view body = next.Body;
            if (body.substr(0, kProlog.size()) == kProlog)
                body.remove_prefix(kProlog.size());
            while (!body.empty() && (body[0] == ' ' || body[0] == '\n'))
                body.remove_prefix(1);
            if (body.starts_with("<message>")) {
                std::string_view from = Between(body, "<from>", "</from>");
                if (m_options.Receipts) {
                    std::string id(Between(body, "<id>", "</id>"));
                    Queue(c, FormatDocumentFrame(
                                 ProtocolDocument::MakeReceipt(id, std::string(from), c.Name)));
                } else {
                    if (from == "Zib Tam")
                        ++m_notices;
                    else
                        Delivered(IndexOf(from));
                }
            } else if (body.starts_with("<message-receipt>")) {
                ++m_receipts;
                Delivered(c.Index);
            } else if (body.starts_with("<users>")) {
                ++m_usersDocuments;
                m_usersBytes += next.Body.size();
                std::size_t listed = 0;
                for (std::size_t p = body.find("<username>"); p != std::string_view::npos;
                     p = body.find("<username>", p + 10))
                    ++listed;
                if (!c.Registered) {
                    c.Registered = true;
                    ++m_registered;
                }
                if (c.UsersListed < m_clients.size() && listed >= m_clients.size())
                    ++m_complete;
                c.UsersListed = listed;
            } else if (body.starts_with("<login-response>")) {
                std::fprintf(stderr, "%s refused: %.*s\n", c.Name.c_str(),
                             static_cast<int>(body.size()), body.data());
                std::exit(1);
            }
        }
    }

    void ParseIrc(Client& c)
    {
        for (;;) {
            std::string_view rest(c.In.data() + c.InPos, c.In.size() - c.InPos);
            auto end = rest.find('\n');
            if (end == std::string_view::npos)
                return;
            std::string_view line = rest.substr(0, end);
            c.InPos += end + 1;
            if (line.starts_with("PING ")) {
                std::string pong = "PONG " + std::string(line.substr(5)) + "\n";
                Queue(c, pong);
                continue;
            }
            if (line.empty() || line[0] != ':')
                continue;
            auto space = line.find(' ');
            if (space == std::string_view::npos)
                continue;
            std::string_view command = line.substr(space + 1);
            if (command.starts_with("PRIVMSG ")) {
                auto bang = line.find('!');
                Delivered(IndexOf(line.substr(1, (bang < space ? bang : space) - 1)));
            } else if (command.starts_with("001 ") && !c.Registered) {
                c.Registered = true;
                ++m_registered;
            } else if (command.starts_with("433 ") || command.starts_with("ERROR")) {
                std::fprintf(stderr, "%s: %.*s\n", c.Name.c_str(), static_cast<int>(line.size()),
                             line.data());
                std::exit(1);
            }
        }
    }

    Options m_options;
    int m_epoll = -1;
    std::vector<Client> m_clients;
    std::vector<int> m_dirty;
    std::size_t m_registered = 0;
    std::size_t m_complete = 0;
    std::uint64_t m_delivered = 0;
    std::uint64_t m_receipts = 0;
    std::uint64_t m_notices = 0;
    std::uint64_t m_usersBytes = 0;
    std::uint64_t m_usersDocuments = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s route|logons|stall --port P [--irc] [--clients N] "
                     "[--inflight K] [--seconds S] [--receipts] [--server-pid PID]\n",
                     argv[0]);
        return 2;
    }
    options.Mode = argv[1];
    if (options.Mode == "logons")
        options.Clients = 1000;
    if (options.Mode == "stall")
        options.Clients = 4;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
        if (a == "--port")
            options.Port = std::atoi(next());
        else if (a == "--irc")
            options.Irc = true;
        else if (a == "--clients")
            options.Clients = std::atoi(next());
        else if (a == "--inflight")
            options.InFlight = std::atoi(next());
        else if (a == "--seconds")
            options.Seconds = std::atof(next());
        else if (a == "--server-pid")
            options.ServerPid = std::atoi(next());
        else if (a == "--receipts")
            options.Receipts = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    Load load(options);
    auto start = Clock::now();
    if (!load.Connect())
        return 1;
    if (!load.WaitRegistered(120)) {
        std::fprintf(stderr, "not every client got logged on in time\n");
        return 1;
    }
    double logon = std::chrono::duration<double>(Clock::now() - start).count();
    const char* server = options.Irc ? "irc" : "zibtam";
    if (options.Mode == "stall") {
        long startRss = 0;
        long peakRss = 0;
        std::uint64_t notices = 0;
        double rate = load.Stall(startRss, peakRss, notices);
        std::printf("zibtam stall pair_messages_per_second=%.0f notices_to_flooder=%llu "
                    "server_rss_kb_start=%ld server_rss_kb_peak=%ld\n",
                    rate, static_cast<unsigned long long>(notices), startRss, peakRss);
        return 0;
    }
    if (options.Mode == "logons") {
        std::printf("%s logons clients=%d seconds=%.3f users_documents=%llu users_bytes=%llu",
                    server, options.Clients, logon,
                    static_cast<unsigned long long>(load.UsersDocuments()),
                    static_cast<unsigned long long>(load.UsersBytes()));
        if (options.ServerPid > 0)
            std::printf(" server_peak_rss_kb=%ld server_cpu_seconds=%.2f",
                        load.ServerStatusKb("VmHWM:"), load.ServerCpuSeconds());
        std::printf("\n");
        return 0;
    }
    double rate = load.Route();
    std::printf("%s route clients=%d inflight=%d receipts=%s messages_per_second=%.0f\n", server,
                options.Clients, options.InFlight,
                options.Irc ? "n/a" : (options.Receipts ? "on" : "off"), rate);
    return 0;
}
