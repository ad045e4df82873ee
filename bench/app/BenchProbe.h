#pragma once
// What the app benches send to a chat program they time, and how they send and sum it up:
// one-datagram chat messages and presence commands, the loopback address of a port, a
// paced stream of datagrams, and the spread of a set of times.
#include "net/PeerPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

// The one datagram of `text` from `fromUser` on `fromComputer`; to `user` on `computer`, or
// with no recipients (a presence command) when `computer` is empty.
inline std::string OneDatagram(int id, const std::string& text, const std::string& fromComputer,
                               const std::string& fromUser, const std::string& computer = {},
                               const std::string& user = {})
{
    PeerPacket packet;
    packet.Computer = fromComputer;
    packet.UserName = fromUser;
    packet.Id = std::to_string(id);
    if (!computer.empty()) {
        packet.RecipientComputers = {computer};
        packet.RecipientNames = {user};
    }
    std::vector<std::string> datagrams;
    MakePeerDatagrams(packet, text, datagrams);
    return datagrams.front();
}

// The datagram of probe `id` with `text`, from "Bench" on PC-BENCH to `user` on `computer`.
inline std::string ProbeDatagram(int id, const std::string& text, const std::string& computer,
                                 const std::string& user)
{
    return OneDatagram(id, text, "PC-BENCH", "Bench", computer, user);
}

inline sockaddr_in Address(in_addr_t host, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(host);
    return to;
}

inline sockaddr_in Loopback(uint16_t port)
{
    return Address(INADDR_LOOPBACK, port);
}

inline bool SendDatagram(int socket, const std::string& datagram, const sockaddr_in& to)
{
    return ::sendto(socket, datagram.data(), datagram.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(datagram.size());
}

// Sends `datagrams` to `to` at `perSecond` evenly spaced (on a fixed schedule, so a late
// send does not slow the rest down); the number that went out. `sent` counts as they go.
inline int SendPaced(int socket, const std::vector<std::string>& datagrams, const sockaddr_in& to,
                     double perSecond, std::atomic<int>* sent = nullptr)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto gap = std::chrono::duration<double>(1.0 / perSecond);
    int ok = 0;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(gap * static_cast<double>(i)));
        if (SendDatagram(socket, datagrams[i], to))
            ++ok;
        if (sent)
            sent->store(static_cast<int>(i + 1));
    }
    return ok;
}

// The median, 10th and 90th percentiles and the largest of `times`.
struct Spread
{
    size_t Count = 0;
    double Median = 0, Low = 0, High = 0, Max = 0;

    explicit Spread(std::vector<double> times) : Count(times.size())
    {
        if (times.empty())
            return;
        std::sort(times.begin(), times.end());
        Median = times[times.size() / 2];
        Low = times[times.size() / 10];
        High = times[times.size() * 9 / 10];
        Max = times.back();
    }
    // "median M ms, 10% L ms, 90% H ms, max X ms"
    std::string Text() const
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "median %7.3f ms, 10%% %7.3f ms, 90%% %7.3f ms, max %7.3f ms", Median, Low,
                      High, Max);
        return text;
    }
};
