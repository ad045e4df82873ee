#include "net/UdpDatagramService.h"

#include "common/NameCase.h"
#include "net/PeerPacket.h"
#include "net/PeerTransport.h"
#include "platform/QtText.h"

#include <QAbstractEventDispatcher>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t kLongestComputerName = 15;
constexpr int kReceiveBuffer = 1 << 20;
// Dropped datagrams (name conflicts, oversized) one Read skips before it lets the loop run
// again.
constexpr int kMaxDropsPerRead = 1024;

std::string AddressText(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

size_t Index(PeerSlot slot)
{
    return static_cast<size_t>(slot);
}
} // namespace

CUdpDatagramService::CUdpDatagramService(const std::string& ownComputer, uint16_t portBase,
                                         const IClock& clock)
    : m_ownComputer(FoldNameCase(ownComputer)), m_portBase(portBase), m_clock(clock),
      m_buffer(kPeerDatagramLimit)
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

CUdpDatagramService::Known CUdpDatagramService::Lookup(const std::string& folded,
                                                       in_addr& address) const
{
    if (folded == m_ownComputer) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return Known::Yes;
    }
    if (auto heard = m_heard.find(folded); heard != m_heard.end()) {
        address = heard->second.Address;
        return Known::Yes;
    }
    // A longer name is no computer name of this network (a stranger's datagram says so):
    // asking the name servers for it would only wait on them.
    if (folded.empty() || folded.size() > kLongestComputerName)
        return Known::No;
    // The answer, good or bad, is kept a while so a dead name does not ask again and again.
    if (auto cached = m_resolved.find(folded);
        cached != m_resolved.end() && cached->second.Expires > m_clock.Now()) {
        address = cached->second.Address;
        return cached->second.Found ? Known::Yes : Known::No;
    }
    return Known::Ask;
}

bool CUdpDatagramService::CanLookUp() const
{
    // The answer comes through the event loop; without one nothing is looked up.
    return QAbstractEventDispatcher::instance() && m_waiting.size() < kMaxPendingLookups;
}

void CUdpDatagramService::StartLookup(const std::string& computer, const std::string& folded)
{
    if (!m_lookups)
        m_lookups = std::make_unique<QObject>();
    QHostInfo::lookupHost(FromCp1252(computer), m_lookups.get(),
                          [this, folded](const QHostInfo& info) {
                              in_addr address{};
                              bool found = false;
                              for (const QHostAddress& candidate : info.addresses()) {
                                  bool ipv4 = false;
                                  quint32 value = candidate.toIPv4Address(&ipv4);
                                  if (ipv4) {
                                      address.s_addr = htonl(value);
                                      found = true;
                                      break;
                                  }
                              }
                              OnLookedUp(folded, found, address);
                          });
}

void CUdpDatagramService::OnLookedUp(const std::string& folded, bool found, in_addr address)
{
    if (m_resolved.size() >= kMaxHeard)
        m_resolved.clear();
    m_resolved[folded] = Resolved{found, address, m_clock.Now() + kResolveCacheSeconds};
    auto waiting = m_waiting.extract(folded);
    if (waiting.empty())
        return;
    // The computer may have spoken meanwhile: where it was heard wins over the name servers.
    if (Lookup(folded, address) != Known::Yes)
        return;
    for (const Waiting& datagram : waiting.mapped())
        SendTo(address, datagram.Slot, datagram.Bytes);
}

bool CUdpDatagramService::Write(PeerSlot slot, const std::string& computer,
                                const std::string& bytes)
{
    if (computer == "*") {
        if (slot == PeerSlot::Command)
            NoteCommand(bytes, m_clock.Now(), nullptr);
        return Broadcast(slot, bytes);
    }
    std::string folded = FoldNameCase(computer);
    in_addr address{};
    switch (Lookup(folded, address)) {
    case Known::Yes:
        return SendTo(address, slot, bytes);
    case Known::No:
        return false;
    case Known::Ask:
        break;
    }
    if (auto waiting = m_waiting.find(folded); waiting != m_waiting.end()) {
        if (waiting->second.size() < kMaxWaitingDatagrams)
            waiting->second.push_back(Waiting{slot, bytes});
        return false;
    }
    if (!CanLookUp())
        return false;
    // The datagram waits before the look-up starts, so an answer that comes at once finds it.
    m_waiting[folded].push_back(Waiting{slot, bytes});
    StartLookup(computer, folded);
    return false;
}

bool CUdpDatagramService::Present(const Heard& heard, std::time_t now) const
{
    if (heard.Departed)
        return false;
    // As the transport sees it: a rollcall gives every computer the presence time-out to
    // answer; one heard from since the last rollcall is present.
    if (m_lastRollcall == 0 || heard.Sequence > m_rollcallSequence)
        return true;
    return now <= m_lastRollcall + CPeerTransport::kPresenceSeconds;
}

void CUdpDatagramService::NoteCommand(const std::string& datagram, std::time_t now, Heard* sender)
{
    PeerPacket packet;
    int count = 0;
    if (!ParsePeerDatagram(datagram, packet, count) || count != 1)
        return;
    if (packet.Pieces[0] == "rollcall") {
        m_lastRollcall = now;
        m_rollcallSequence = ++m_sequence;
        if (sender) // who calls the roll is there
            sender->Sequence = ++m_sequence;
    } else if (packet.Pieces[0] == "departure" && sender)
        sender->Departed = true;
}

void CUdpDatagramService::ReportConflict(const std::string& computer, const Heard& kept,
                                         in_addr other)
{
    std::string folded = FoldNameCase(computer);
    if (m_conflicts.size() >= kMaxHeard || !m_conflicts.insert(folded).second)
        return;
    m_notices.push_back("Two computers are using the name " + computer +
                        ". Zib Tam goes on talking to the one at " + AddressText(kept.Address) +
                        ", which it heard first, and ignores the one at " + AddressText(other) +
                        ".");
}

std::vector<std::string> CUdpDatagramService::TakeNotices()
{
    return std::exchange(m_notices, {});
}

bool CUdpDatagramService::Remember(PeerSlot slot, const std::string& datagram, in_addr from)
{
    // Every datagram of the protocol starts with its sender's computer name.
    size_t end = datagram.find('\n');
    if (end == 0 || end == std::string::npos || end > kLongestComputerName)
        return true;
    std::string computer = datagram.substr(0, end);
    std::string folded = FoldNameCase(computer);
    std::time_t now = m_clock.Now();
    Heard* sender = nullptr;
    if (folded != m_ownComputer) {
        auto found = m_heard.find(folded);
        if (found != m_heard.end() && found->second.Address.s_addr != from.s_addr) {
            if (Present(found->second, now)) {
                ReportConflict(computer, found->second, from);
                return false;
            }
            m_heard.erase(found); // gone: the name is free for the new address
            found = m_heard.end();
        }
        if (found == m_heard.end() && (m_heard.size() < kMaxHeard || DropOneAbsent(now)))
            found = m_heard.emplace(folded, Heard{from, 0, false}).first;
        if (found != m_heard.end()) {
            sender = &found->second;
            sender->Sequence = ++m_sequence;
            sender->Departed = false;
        }
    }
    if (slot == PeerSlot::Command)
        NoteCommand(datagram, now, sender);
    return true;
}

bool CUdpDatagramService::DropOneAbsent(std::time_t now)
{
    // A present computer is never forgotten for a newcomer: that would free its name for
    // whoever floods the table with names first.
    auto oldest = m_heard.end();
    for (auto it = m_heard.begin(); it != m_heard.end(); ++it)
        if (!Present(it->second, now) &&
            (oldest == m_heard.end() || it->second.Sequence < oldest->second.Sequence))
            oldest = it;
    if (oldest == m_heard.end())
        return false;
    m_heard.erase(oldest);
    return true;
}

bool CUdpDatagramService::Read(PeerSlot slot, std::string& bytes)
{
    int fd = m_sockets[Index(slot)];
    if (fd < 0)
        return false;
    int dropped = 0;
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        // With MSG_TRUNC the length is the datagram's own even where it is longer than the
        // buffer, which takes no more than the protocol's largest.
        ssize_t got = ::recvfrom(fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
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
        // Longer than any datagram of the protocol: no reader could take it, so it is
        // neither copied nor heard from (a stranger's 64 KB costs no more than 350 bytes).
        if (static_cast<size_t>(got) <= m_buffer.size()) {
            bytes.assign(m_buffer.data(), static_cast<size_t>(got));
            if (Remember(slot, bytes, from.sin_addr))
                return true;
        }
        // Dropped; a flood of them must not hold the loop: the slot stays marked readable.
        if (++dropped >= kMaxDropsPerRead)
            return false;
    }
}
