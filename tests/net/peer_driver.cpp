// A small front end that runs the peer-to-peer transport over UDP in its own process, for
// the end-to-end test and the latency measurement. Commands on standard input, one a line:
//   to NAME[,NAME...] TEXT | all TEXT | refresh | rename NAME | quit
// Events on standard output, tab-separated, flushed at once:
//   ready | error TEXT | connected | disconnected | arrived NAME | departed NAME |
//   renamed OLD NEW | message SENDER LOOPBACK ALLUSERS RECIPIENTS TEXT | report TEXT |
//   sent | send-error TEXT | latency MEDIAN_US P90_US COUNT
// Texts have line feeds written as "\n". Latency modes:
//   --latency-send N --to NAME: once NAME is listed, sends N stamped one-piece messages
//   --latency-receive N: prints the one-way times of N stamped messages
//   --timer-only: poll only on the 10 ms timer, once a tick, as a window without socket
//   notifiers would
#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"
#include "platform/Clock.h"
#include "platform/SystemInfo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

// "\n" in a typed line stands for a line feed.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void Emit(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int64_t MonotonicMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class PrintingSink : public CTransportSink
{
public:
    std::vector<std::string> Users;

protected:
    void OnConnected() override { Emit("connected"); }
    void OnDisconnected() override { Emit("disconnected"); }
    void OnUserArrived(const std::string& name) override
    {
        Users.push_back(name);
        Emit("arrived\t" + name);
    }
    void OnUserDeparted(const std::string& name) override
    {
        std::erase(Users, name);
        Emit("departed\t" + name);
    }
    void OnUserRenamed(const std::string& oldName, const std::string& newName) override
    {
        std::replace(Users.begin(), Users.end(), oldName, newName);
        Emit("renamed\t" + oldName + "\t" + newName);
    }
};

std::vector<std::string> SplitNames(const std::string& list)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (comma > start)
            names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

} // namespace

int main(int argc, char** argv)
{
    CSystemInfo system;
    std::string computer = system.ComputerName();
    std::string user = "user";
    std::string latencyTo;
    int latencySend = 0, latencyReceive = 0;
    bool selfChat = false;
    bool timerOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--computer")
            computer = next();
        else if (arg == "--user")
            user = next();
        else if (arg == "--selfchat")
            selfChat = true;
        else if (arg == "--timer-only")
            timerOnly = true;
        else if (arg == "--latency-send")
            latencySend = std::atoi(next().c_str());
        else if (arg == "--latency-receive")
            latencyReceive = std::atoi(next().c_str());
        else if (arg == "--to")
            latencyTo = next();
        else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    CSystemClock& clock = CSystemClock::Instance();
    CFixedUserName names(user);
    PrintingSink sink;
    CUdpDatagramService service(NormalizeComputerName(computer));
    CPeerTransport transport(&sink, names, clock, service, computer);
    std::string error;
    if (!transport.LogOn(user, error)) {
        Emit("error\t" + error);
        return 1;
    }
    transport.SetSelfChat(selfChat);
    transport.UpdateSelfChat();
    Emit("ready");

    std::string input;
    bool inputOpen = true, quit = false;
    int stampsSent = 0;
    int64_t nextStamp = 0;
    std::vector<int64_t> latencies;
    while (!quit) {
        std::vector<pollfd> fds;
        if (inputOpen)
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        if (!timerOnly)
            for (int fd : service.Descriptors())
                fds.push_back({fd, POLLIN, 0});
        // The main window's timer runs every 10 ms; a readable slot wakes us sooner.
        ::poll(fds.data(), fds.size(), 10);

        if (inputOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
            char buffer[4096];
            ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0)
                inputOpen = false;
            else
                input.append(buffer, static_cast<size_t>(got));
        }
        for (size_t feed; (feed = input.find('\n')) != std::string::npos;) {
            std::string line = input.substr(0, feed);
            input.erase(0, feed + 1);
            std::string word = line.substr(0, line.find(' '));
            std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
            bool ok = true;
            if (word == "quit") {
                quit = true;
                break;
            } else if (word == "refresh") {
                transport.Refresh();
                continue;
            } else if (word == "rename") {
                ok = transport.ChangeUserName(rest, error);
            } else if (word == "all") {
                ok = transport.SendToAll(Unescape(rest), error);
            } else if (word == "to") {
                size_t blank = rest.find(' ');
                std::string list = rest.substr(0, blank);
                std::string text = blank == std::string::npos ? "" : rest.substr(blank + 1);
                ok = transport.Send(SplitNames(list), Unescape(text), error);
            } else {
                continue;
            }
            Emit(ok ? "sent" : "send-error\t" + error);
        }

        // Twice: what one poll brings in is handed over at the next call.
        for (int pass = 0; pass < (timerOnly ? 1 : 2); ++pass) {
            std::vector<ChatMessage> messages;
            transport.GetMessages(messages);
            for (const ChatMessage& m : messages) {
                if (m.Sender == CTransport::kSystemSender) {
                    Emit("report\t" + Escape(m.Text));
                    continue;
                }
                if (latencyReceive > 0 && m.Text.rfind("lat ", 0) == 0 && !m.Loopback) {
                    latencies.push_back(MonotonicMicros() - std::atoll(m.Text.c_str() + 4));
                    continue;
                }
                std::string recipients;
                for (const std::string& r : m.Recipients)
                    recipients += (recipients.empty() ? "" : ",") + r;
                Emit("message\t" + m.Sender + "\t" + (m.Loopback ? "1" : "0") + "\t" +
                     (m.AllUsers ? "1" : "0") + "\t" + recipients + "\t" + Escape(m.Text));
            }
        }

        if (latencyReceive > 0 && static_cast<int>(latencies.size()) >= latencyReceive) {
            std::sort(latencies.begin(), latencies.end());
            Emit("latency\t" + std::to_string(latencies[latencies.size() / 2]) + "\t" +
                 std::to_string(latencies[latencies.size() * 9 / 10]) + "\t" +
                 std::to_string(latencies.size()));
            latencyReceive = 0;
        }
        if (latencySend > 0 && stampsSent < latencySend &&
            std::find(sink.Users.begin(), sink.Users.end(), latencyTo) != sink.Users.end() &&
            MonotonicMicros() >= nextStamp) {
            transport.Send({latencyTo}, "lat " + std::to_string(MonotonicMicros()), error);
            nextStamp = MonotonicMicros() + 20000;
            ++stampsSent;
        }
    }
    transport.LogOff();
    Emit("bye");
    return 0;
}
