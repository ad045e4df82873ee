#pragma once
// What the app benches send to a chat program they time: a one-datagram chat message from
// "Bench", and the loopback address of a port.
#include "net/PeerPacket.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

// The datagram of probe `id` with `text`, to `user` on `computer`.
inline std::string ProbeDatagram(int id, const std::string& text, const std::string& computer,
                                 const std::string& user)
{
    PeerPacket packet;
    packet.Computer = "PC-BENCH";
    packet.UserName = "Bench";
    packet.Id = std::to_string(id);
    packet.RecipientComputers = {computer};
    packet.RecipientNames = {user};
    std::vector<std::string> datagrams;
    MakePeerDatagrams(packet, text, datagrams);
    return datagrams.front();
}

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}
