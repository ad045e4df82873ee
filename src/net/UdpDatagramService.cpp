#include "net/UdpDatagramService.h"

#include "common/NameCase.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t kLargestDatagram = 65536;
constexpr size_t kLongestComputerName = 15;
constexpr int kReceiveBuffer = 1 << 20;

size_t Index(PeerSlot slot)
{
    return static_cast<size_t>(slot);
}
} // namespace

CUdpDatagramService::CUdpDatagramService(const std::string& ownComputer, uint16_t portBase)
    : m_ownComputer(FoldNameCase(ownComputer)), m_portBase(portBase), m_buffer(kLargestDatagram)
{}

CUdpDatagramService::~CUdpDatagramService()
{
    for (int slot = 0; slot < kPeerSlotCount; ++slot)
        Close(static_cast<PeerSlot>(slot));
    if (m_sendSocket >= 0)
        ::close(m_sendSocket);
}

bool CUdpDatagramService::Open(PeerSlot slot)
{
    int& fd = m_sockets[Index(slot)];
    if (fd >= 0)
        return true;
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // No address reuse: the port belongs to one copy per computer.
    int size = kReceiveBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(m_portBase + Index(slot)));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
        return false;
    }
    Watch(slot);
    return true;
}

void CUdpDatagramService::Watch(PeerSlot slot)
{
    // Tools and tests without an event loop read on their own schedule.
    if (!QAbstractEventDispatcher::instance())
        return;
    size_t index = Index(slot);
    auto notifier = std::make_unique<QSocketNotifier>(m_sockets[index], QSocketNotifier::Read);
    QSocketNotifier* watched = notifier.get();
    // Level-triggered: it rests until Read has emptied the slot, or it would fire again and
    // again before the poll gets there.
    QObject::connect(watched, &QSocketNotifier::activated, watched, [this, index, watched] {
        m_arrived[index] = true;
        watched->setEnabled(false);
    });
    m_notifiers[index] = std::move(notifier);
    m_arrived[index] = false;
}

bool CUdpDatagramService::HasArrivals() const
{
    for (bool arrived : m_arrived)
        if (arrived)
            return true;
    return false;
}

void CUdpDatagramService::Close(PeerSlot slot)
{
    // The notifier goes before the descriptor it watches.
    m_notifiers[Index(slot)].reset();
    m_arrived[Index(slot)] = false;
    int& fd = m_sockets[Index(slot)];
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::vector<int> CUdpDatagramService::Descriptors() const
{
    std::vector<int> fds;
    for (int fd : m_sockets)
        if (fd >= 0)
            fds.push_back(fd);
    return fds;
}

bool CUdpDatagramService::SendTo(in_addr to, PeerSlot slot, const std::string& bytes)
{
    if (m_sendSocket < 0) {
        m_sendSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_sendSocket < 0)
            return false;
        int on = 1;
        ::setsockopt(m_sendSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = to;
    address.sin_port = htons(static_cast<uint16_t>(m_portBase + Index(slot)));
    ssize_t sent = ::sendto(m_sendSocket, bytes.data(), bytes.size(), MSG_DONTWAIT,
                            reinterpret_cast<sockaddr*>(&address), sizeof address);
    return sent >= 0 && static_cast<size_t>(sent) == bytes.size();
}

bool CUdpDatagramService::Broadcast(PeerSlot slot, const std::string& bytes)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        list = nullptr;
    bool any = false;
    bool ok = true;
    std::vector<in_addr_t> done;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_broadaddr)
            continue;
        if (!(it->ifa_flags & IFF_UP) || !(it->ifa_flags & IFF_BROADCAST))
            continue;
        in_addr target = reinterpret_cast<sockaddr_in*>(it->ifa_broadaddr)->sin_addr;
        if (std::find(done.begin(), done.end(), target.s_addr) != done.end())
            continue;
        done.push_back(target.s_addr);
        any = true;
        ok = SendTo(target, slot, bytes) && ok;
    }
    if (list)
        ::freeifaddrs(list);
    // Without a network this computer still hears its own broadcasts.
    if (!any) {
        in_addr loopback{htonl(INADDR_LOOPBACK)};
        ok = SendTo(loopback, slot, bytes);
    }
    return ok;
}

bool CUdpDatagramService::Lookup(const std::string& computer, in_addr& address)
{
    std::string folded = FoldNameCase(computer);
    if (folded == m_ownComputer) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    if (auto heard = m_heard.find(folded); heard != m_heard.end()) {
        address = heard->second.Address;
        return true;
    }
    // Names we never heard from are rare (the transport writes to senders); remember the
    // answer, good or bad, so a dead name does not stall every write.
    std::time_t now = std::time(nullptr);
    if (auto cached = m_resolved.find(folded);
        cached != m_resolved.end() && cached->second.Expires > now) {
        address = cached->second.Address;
        return cached->second.Found;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    Resolved answer{false, {}, now + kResolveCacheSeconds};
    if (::getaddrinfo(computer.c_str(), nullptr, &hints, &result) == 0 && result) {
        answer.Found = true;
        answer.Address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
    }
    if (result)
        ::freeaddrinfo(result);
    if (m_resolved.size() >= kMaxHeard)
        m_resolved.clear();
    m_resolved[folded] = answer;
    address = answer.Address;
    return answer.Found;
}

bool CUdpDatagramService::Write(PeerSlot slot, const std::string& computer,
                                const std::string& bytes)
{
    if (computer == "*")
        return Broadcast(slot, bytes);
    in_addr address{};
    if (!Lookup(computer, address))
        return false;
    return SendTo(address, slot, bytes);
}

void CUdpDatagramService::Remember(const std::string& datagram, in_addr from)
{
    // Every datagram of the protocol starts with its sender's computer name.
    size_t end = datagram.find('\n');
    if (end == 0 || end == std::string::npos || end > kLongestComputerName)
        return;
    std::string folded = FoldNameCase(datagram.substr(0, end));
    if (folded == m_ownComputer)
        return;
    auto found = m_heard.find(folded);
    if (found != m_heard.end()) {
        found->second = Heard{from, ++m_sequence};
        return;
    }
    if (m_heard.size() >= kMaxHeard) {
        auto oldest = std::min_element(m_heard.begin(), m_heard.end(), [](auto& a, auto& b) {
            return a.second.Sequence < b.second.Sequence;
        });
        m_heard.erase(oldest);
    }
    m_heard.emplace(folded, Heard{from, ++m_sequence});
}

bool CUdpDatagramService::Read(PeerSlot slot, std::string& bytes)
{
    int fd = m_sockets[Index(slot)];
    if (fd < 0)
        return false;
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = ::recvfrom(fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // Nothing waiting (or an error that a later read will see again): watch again.
            size_t index = Index(slot);
            m_arrived[index] = false;
            if (m_notifiers[index])
                m_notifiers[index]->setEnabled(true);
            return false;
        }
        bytes.assign(m_buffer.data(), static_cast<size_t>(got));
        Remember(bytes, from.sin_addr);
        return true;
    }
}
