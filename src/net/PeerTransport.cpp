#include "net/PeerTransport.h"

#include "common/FormatText.h"
#include "common/NameCase.h"
#include "net/DeliveryReport.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr int kOwn = 0;

bool TickReached(uint32_t now, uint32_t due)
{
    return static_cast<int32_t>(now - due) >= 0;
}
} // namespace

CPeerTransport::CPeerTransport(CTransportSink* sink, const IUserNameSource& names,
                               const IClock& clock, IDatagramService& service,
                               const std::string& computerName)
    : CTransport(sink, names, clock), m_service(service),
      m_computer(NormalizeComputerName(computerName))
{
    PeerUser own;
    own.Computer = m_computer;
    m_users.push_back(own);
    m_userIndex[FoldNameCase(m_computer)] = kOwn;
}

CPeerTransport::~CPeerTransport()
{
    for (int slot = 0; slot < kPeerSlotCount; ++slot)
        if (m_open[slot])
            m_service.Close(static_cast<PeerSlot>(slot));
}

size_t CPeerTransport::PartialCount(PeerSlot slot) const
{
    return slot == PeerSlot::Command ? m_commands.Partial.size() : m_data.Partial.size();
}

size_t CPeerTransport::PartialBytes(PeerSlot slot, const std::string& computer) const
{
    size_t bytes = 0;
    for (const PeerPacket& packet : (slot == PeerSlot::Command ? m_commands : m_data).Partial)
        if (computer.empty() || NamesEqualNoCase(packet.Computer, computer))
            bytes += packet.Held;
    return bytes;
}

void CPeerTransport::UpdateSelfChat()
{
    m_users[kOwn].Alive = SelfChat();
    m_users[kOwn].Deadline = 0;
}

bool CPeerTransport::GetUserName(std::string& name)
{
    name = m_users[kOwn].DisplayName();
    return true;
}

bool CPeerTransport::DoLogOn(const std::string& name, std::string& error)
{
    bool all = true;
    for (int slot = 0; slot < kPeerSlotCount; ++slot) {
        if (!m_open[slot])
            m_open[slot] = m_service.Open(static_cast<PeerSlot>(slot));
        all = all && m_open[slot];
    }
    if (!all) {
        error = kOneCopyPerComputer;
        LogOff();
        if (Sink())
            Sink()->NotifyDisconnected();
        return false;
    }
    m_loggedOn = true;
    ChangeUserName(name, error);
    Refresh();
    return true;
}

void CPeerTransport::LogOff()
{
    // Only a copy that owned the slots speaks for this computer: a second copy that
    // failed to start must not tell the others that the first one's user left.
    if (m_loggedOn) {
        FlushQueuedWrites(true);
        SendCommand("departure");
    }
    m_loggedOn = false;
    for (int slot = 0; slot < kPeerSlotCount; ++slot) {
        if (m_open[slot])
            m_service.Close(static_cast<PeerSlot>(slot));
        m_open[slot] = false;
    }
}

bool CPeerTransport::DoChangeUserName(const std::string& newName, std::string& error)
{
    error.clear();
    m_users[kOwn].UserName = newName;
    m_userName = newName;
    SendCommand("arrival");
    return true;
}

void CPeerTransport::Refresh()
{
    SendCommand("rollcall");
    ArmTimeouts();
}

void CPeerTransport::SendCommand(const std::string& word, const std::string& computer)
{
    PeerPacket packet;
    packet.Computer = m_computer;
    packet.UserName = m_userName;
    packet.Id = NewUniqueId();
    std::vector<std::string> datagrams;
    if (!MakePeerDatagrams(packet, word, datagrams))
        return;
    for (const std::string& datagram : datagrams)
        WriteDatagram(PeerSlot::Command, computer.empty() ? "*" : computer, datagram);
}

bool CPeerTransport::WriteDatagram(PeerSlot slot, const std::string& computer,
                                   const std::string& bytes)
{
    return m_service.Write(slot, computer, bytes);
}

void CPeerTransport::WritePieces(const std::vector<std::string>& datagrams,
                                 const std::vector<std::string>& computers)
{
    uint32_t now = Clock().TickCount();
    for (size_t piece = 0; piece < datagrams.size(); ++piece) {
        for (const std::string& computer : computers) {
            if (piece == 0)
                WriteDatagram(PeerSlot::Data, computer, datagrams[piece]);
            else
                m_queuedWrites.push_back(
                    QueuedWrite{now + static_cast<uint32_t>(piece) * kPiecePauseMs, PeerSlot::Data,
                                computer, datagrams[piece]});
        }
    }
    // Pieces of several messages may wait at once; keep them in the order they fall due.
    std::stable_sort(m_queuedWrites.begin(), m_queuedWrites.end(),
                     [now](const QueuedWrite& a, const QueuedWrite& b) {
                         return static_cast<int32_t>(a.Due - now) <
                                static_cast<int32_t>(b.Due - now);
                     });
}

std::time_t CPeerTransport::LastPieceLeaves(size_t pieces) const
{
    // The confirmation time-out runs from the moment the last piece is written.
    uint32_t wait = pieces > 1 ? static_cast<uint32_t>(pieces - 1) * kPiecePauseMs : 0;
    return Clock().Now() + static_cast<std::time_t>(wait / 1000);
}

void CPeerTransport::FlushQueuedWrites(bool all)
{
    uint32_t now = Clock().TickCount();
    while (!m_queuedWrites.empty() && (all || TickReached(now, m_queuedWrites.front().Due))) {
        QueuedWrite write = std::move(m_queuedWrites.front());
        m_queuedWrites.pop_front();
        WriteDatagram(write.Slot, write.Computer, write.Datagram);
    }
}

void CPeerTransport::ArmTimeouts()
{
    std::time_t deadline = Clock().Now() + kPresenceSeconds;
    for (size_t i = 0; i < m_users.size(); ++i)
        if (static_cast<int>(i) != kOwn)
            m_users[i].Deadline = deadline;
}

void CPeerTransport::Expire(PeerUser& user)
{
    if (user.Deadline != 0 && Clock().Now() > user.Deadline) {
        user.Alive = false;
        user.Deadline = 0;
    }
}

int CPeerTransport::FindUser(const std::string& computer) const
{
    auto found = m_userIndex.find(FoldNameCase(computer));
    return found == m_userIndex.end() ? -1 : found->second;
}

bool CPeerTransport::DoSend(const std::vector<std::string>& recipients, const std::string& text,
                            std::string& error)
{
    std::vector<int> records;
    for (const std::string& name : recipients) {
        auto found = std::find_if(m_users.begin(), m_users.end(), [&](const PeerUser& user) {
            return NamesEqualNoCase(user.DisplayName(), name);
        });
        if (found == m_users.end()) {
            error = kUnknownRecipient;
            return false;
        }
        records.push_back(static_cast<int>(found - m_users.begin()));
    }

    PeerPacket packet;
    packet.Computer = m_computer;
    packet.UserName = m_userName;
    for (size_t i = 0; i < records.size(); ++i) {
        packet.RecipientComputers.push_back(m_users[records[i]].Computer);
        packet.RecipientNames.push_back(recipients[i]);
    }
    packet.Id = NewUniqueId();
    std::vector<std::string> datagrams;
    if (!MakePeerDatagrams(packet, text, datagrams)) {
        error = kTooLong;
        return false;
    }

    // A name given twice is still one computer: one copy, one confirmation to wait for.
    std::vector<int> targets;
    for (int record : records)
        if (record != kOwn && std::find(targets.begin(), targets.end(), record) == targets.end())
            targets.push_back(record);
    std::vector<std::string> computers;
    for (int record : targets)
        computers.push_back(m_users[record].Computer);
    WritePieces(datagrams, computers);

    PeerPacket copy = packet;
    copy.Pieces = {text};
    copy.PieceIndex = -1;
    copy.Time = Clock().Now();
    m_data.Complete.push_back(copy);
    const std::time_t sent = LastPieceLeaves(datagrams.size());

    for (size_t i = 0; i < records.size(); ++i) {
        int record = records[i];
        if (record == kOwn)
            continue;
        if (std::find(records.begin(), records.begin() + static_cast<long>(i), record) !=
            records.begin() + static_cast<long>(i))
            continue;
        AwaitConfirmation(m_users[record], packet.Id, datagrams.size(), sent,
                          FormatSentDescription(recipients[i], copy.Time, text));
    }
    return true;
}

bool CPeerTransport::DoSendToAll(const std::string& text, std::string& error)
{
    error.clear();
    PeerPacket packet;
    packet.Computer = m_computer;
    packet.UserName = m_userName;
    packet.Id = NewUniqueId();
    std::vector<std::string> datagrams;
    if (!MakePeerDatagrams(packet, text, datagrams)) {
        error = kTooLong;
        return false;
    }
    WritePieces(datagrams, {"*"});

    std::time_t now = Clock().Now();
    const std::time_t sent = LastPieceLeaves(datagrams.size());
    for (size_t i = 0; i < m_users.size(); ++i) {
        if (static_cast<int>(i) == kOwn)
            continue;
        AwaitConfirmation(m_users[i], packet.Id, datagrams.size(), sent,
                          FormatSentDescription(m_users[i].UserName, now, text));
    }
    return true;
}

void CPeerTransport::AwaitConfirmation(PeerUser& user, const std::string& id, size_t pieces,
                                       std::time_t sent, std::string description)
{
    Expire(user);
    if (!user.Alive)
        return;
    DeliveryRecord delivery;
    delivery.Created = sent;
    delivery.Computer = user.Computer;
    delivery.Id = id;
    delivery.Acknowledged.assign(pieces, false);
    delivery.Description = std::move(description);
    m_deliveries.push_back(std::move(delivery));
}

void CPeerTransport::Receive(std::vector<ChatMessage>& messages)
{
    FlushQueuedWrites(false);
    ProcessAcknowledgements();
    ReadSlot(PeerSlot::Data, m_data);
    SendAcknowledgements();
    ReadSlot(PeerSlot::Command, m_commands);
    ProcessCommands();
    UpdateUserList();
    ForgetOldDone();
    while (!m_data.Complete.empty()) {
        const PeerPacket& packet = m_data.Complete.front();
        messages.push_back(ToChatMessage(packet));
        // A received text longer than anyone can type is cut, and the user told so.
        if (packet.PieceIndex >= 0 && messages.back().Text.size() > kPeerMaxMessageBytes) {
            messages.back().Text.resize(kPeerMaxMessageBytes);
            messages.push_back(NewMessage(kSystemSender, {GetUserNameOrDefault()}, false,
                                          FormatWithText(kCutNotice, messages.back().Sender),
                                          false));
        }
        m_data.Complete.pop_front();
    }
}

ChatMessage CPeerTransport::ToChatMessage(const PeerPacket& packet)
{
    ChatMessage message;
    message.Text = packet.JoinedText();
    for (const std::string& computer : packet.RecipientComputers) {
        int record = FindUser(computer);
        if (record >= 0)
            message.Recipients.push_back(m_users[record].DisplayName());
    }
    message.AllUsers = message.Recipients.empty();
    int sender = FindUser(packet.Computer);
    message.Sender = sender >= 0 ? m_users[sender].DisplayName() : packet.UserName;
    message.Loopback = NamesEqualNoCase(packet.Computer, m_computer);
    message.Time = MessageTime::From(packet.Time);
    message.Id = NewUniqueId();
    message.Log = true;
    return message;
}

void CPeerTransport::ReadSlot(PeerSlot slot, SlotQueues& queues)
{
    std::string datagram;
    for (int reads = 0; reads < kMaxReadsPerPoll && m_service.Read(slot, datagram); ++reads) {
        PeerPacket packet;
        int count = 0;
        if (!ParsePeerDatagram(datagram, packet, count))
            continue;
        AcceptPiece(slot, queues, std::move(packet), count);
    }
    PrunePartial(queues);
}

void CPeerTransport::AcceptPiece(PeerSlot slot, SlotQueues& queues, PeerPacket&& packet, int count)
{
    std::time_t now = Clock().Now();
    int record = FindUser(packet.Computer);
    if (record >= 0) {
        const PeerUser& user = m_users[record];
        const std::string& lastId = slot == PeerSlot::Data ? user.LastDataId : user.LastCommandId;
        int lastIndex = slot == PeerSlot::Data ? user.LastDataIndex : user.LastCommandIndex;
        if (packet.Id == lastId && packet.PieceIndex == lastIndex)
            return;
    }
    // A copy that comes late (a second interface, a repeat) of a message already shown.
    if (slot == PeerSlot::Data && RecentlyDone(packet.Computer, packet.Id))
        return;

    if (record < 0) {
        if (m_users.size() >= kMaxUsers)
            return;
        PeerUser user;
        user.Computer = packet.Computer;
        m_users.push_back(user);
        record = static_cast<int>(m_users.size() - 1);
        m_userIndex[FoldNameCase(packet.Computer)] = record;
    }
    if (record != kOwn) {
        PeerUser& user = m_users[record];
        user.UserName = packet.UserName;
        user.Alive = true;
        user.Deadline = 0;
        (slot == PeerSlot::Data ? user.LastDataId : user.LastCommandId) = packet.Id;
        (slot == PeerSlot::Data ? user.LastDataIndex : user.LastCommandIndex) = packet.PieceIndex;
    }

    packet.Time = now;
    if (slot == PeerSlot::Data)
        packet.PendingAcks.push_back(
            FormatAcknowledgement(m_computer, packet.Id, packet.PieceIndex, count));

    auto partial =
        std::find_if(queues.Partial.begin(), queues.Partial.end(), [&](const PeerPacket& p) {
            return p.Id == packet.Id && NamesEqualNoCase(p.Computer, packet.Computer);
        });
    if (partial != queues.Partial.end()) {
        // A piece that disagrees on the count belongs to no message we can build.
        if (partial->Pieces.size() != packet.Pieces.size())
            return;
        std::string& piece = partial->Pieces[static_cast<size_t>(packet.PieceIndex)];
        if (piece.empty())
            piece = std::move(packet.Pieces[static_cast<size_t>(packet.PieceIndex)]);
        for (std::string& ack : packet.PendingAcks)
            partial->PendingAcks.push_back(std::move(ack));
        partial->Time = now;
    } else {
        queues.Partial.push_back(std::move(packet));
        partial = std::prev(queues.Partial.end());
    }

    // A finished message leaves at once: the bounds below are for unfinished ones only, and
    // a burst of finished ones must never push each other out.
    if (partial->IsComplete()) {
        if (slot == PeerSlot::Data)
            RememberDone(partial->Computer, partial->Id);
        queues.Complete.push_back(std::move(*partial));
        queues.Partial.erase(partial);
        return;
    }

    partial->Held = partial->HeldBytes();
    BoundPartial(queues, partial->Computer);
}

void CPeerTransport::BoundPartial(SlotQueues& queues, std::string computer)
{
    // Keep one sender from filling memory with pieces of messages it never finishes: its
    // oldest go first while it holds more than its share ...
    auto fromSender = [&](const PeerPacket& p) { return NamesEqualNoCase(p.Computer, computer); };
    for (;;) {
        size_t count = 0;
        size_t bytes = 0;
        for (const PeerPacket& p : queues.Partial) {
            if (fromSender(p)) {
                ++count;
                bytes += p.Held;
            }
        }
        if (count <= kMaxPartialPerComputer && bytes <= kMaxPartialBytesPerComputer)
            break;
        queues.Partial.erase(
            std::find_if(queues.Partial.begin(), queues.Partial.end(), fromSender));
    }
    // ... and anyone's oldest while all of them together hold more than the total.
    size_t total = 0;
    for (const PeerPacket& p : queues.Partial)
        total += p.Held;
    while (total > kMaxPartialBytes) {
        total -= queues.Partial.front().Held;
        queues.Partial.pop_front();
    }
}

void CPeerTransport::PrunePartial(SlotQueues& queues)
{
    std::time_t now = Clock().Now();
    std::erase_if(queues.Partial, [now](const PeerPacket& packet) {
        return packet.Time + kPartialLifetimeSeconds < now;
    });
    while (queues.Partial.size() > kMaxPartialPackets)
        queues.Partial.pop_front();
}

namespace {
std::string DoneKey(const std::string& computer, const std::string& id)
{
    return FoldNameCase(computer) + '\n' + id;
}
} // namespace

void CPeerTransport::DropOldestDone()
{
    auto found = m_doneKeys.find(m_done.front().Key);
    if (found != m_doneKeys.end() && --found->second <= 0)
        m_doneKeys.erase(found);
    m_done.pop_front();
}

void CPeerTransport::RememberDone(const std::string& computer, const std::string& id)
{
    std::string key = DoneKey(computer, id);
    ++m_doneKeys[key];
    m_done.push_back(DoneMessage{std::move(key), Clock().Now()});
    while (m_done.size() > kMaxPartialPackets)
        DropOldestDone();
}

void CPeerTransport::ForgetOldDone()
{
    std::time_t now = Clock().Now();
    while (!m_done.empty() && m_done.front().When + kRecentlyDoneSeconds < now)
        DropOldestDone();
}

bool CPeerTransport::RecentlyDone(const std::string& computer, const std::string& id)
{
    ForgetOldDone();
    return m_doneKeys.contains(DoneKey(computer, id));
}

void CPeerTransport::ForgetDone(const std::string& computer)
{
    // A copy that logs on again starts its ids afresh: its next message may carry the id
    // of its last one and must not be taken for a repeat.
    std::string prefix = FoldNameCase(computer) + '\n';
    std::erase_if(m_done, [&](const DoneMessage& done) { return done.Key.starts_with(prefix); });
    std::erase_if(m_doneKeys, [&](const auto& entry) { return entry.first.starts_with(prefix); });
    if (int record = FindUser(computer); record >= 0) {
        m_users[record].LastDataId.clear();
        m_users[record].LastDataIndex = -1;
    }
}

void CPeerTransport::SendAcknowledgements()
{
    for (std::deque<PeerPacket>* queue : {&m_data.Partial, &m_data.Complete}) {
        for (PeerPacket& packet : *queue) {
            if (NamesEqualNoCase(packet.Computer, m_computer))
                continue;
            while (!packet.PendingAcks.empty()) {
                WriteDatagram(PeerSlot::Ack, packet.Computer, packet.PendingAcks.front());
                packet.PendingAcks.pop_front();
            }
        }
    }
}

void CPeerTransport::ProcessCommands()
{
    for (const PeerPacket& packet : m_commands.Complete) {
        int record = FindUser(packet.Computer);
        if (record < 0 || record == kOwn)
            continue;
        std::string word = packet.JoinedText();
        if (word == "departure") {
            m_users[record].Alive = false;
            m_users[record].Deadline = 0;
        } else if (word == "rollcall") {
            ForgetDone(packet.Computer);
            ArmTimeouts();
            m_users[record].Alive = true;
            m_users[record].Deadline = 0;
            SendCommand("arrival");
        } else if (word == "WeThoughtYouLeft") {
            SendCommand("arrival");
        } else if (word == "arrival") {
            ForgetDone(packet.Computer);
            m_users[record].Alive = true;
            m_users[record].Deadline = 0;
        }
    }
    m_commands.Complete.clear();
}

int CPeerTransport::AwaitedDeliveries() const
{
    return static_cast<int>(std::count_if(m_deliveries.begin(), m_deliveries.end(),
                                          [](const DeliveryRecord& d) { return !d.Reported; }));
}

void CPeerTransport::ProcessAcknowledgements()
{
    std::string datagram;
    for (int reads = 0; reads < kMaxReadsPerPoll && m_service.Read(PeerSlot::Ack, datagram);
         ++reads) {
        std::string computer, id;
        int index = 0;
        if (!ParseAcknowledgement(datagram, computer, id, index))
            continue;
        auto found = std::find_if(
            m_deliveries.begin(), m_deliveries.end(), [&](const DeliveryRecord& delivery) {
                return delivery.Id == id && NamesEqualNoCase(delivery.Computer, computer);
            });
        if (found == m_deliveries.end() || index < 0 ||
            static_cast<size_t>(index) >= found->Acknowledged.size())
            continue;
        found->Acknowledged[static_cast<size_t>(index)] = true;
        if (std::find(found->Acknowledged.begin(), found->Acknowledged.end(), false) !=
            found->Acknowledged.end())
            continue;
        if (found->Reported) {
            PostDeliveryReport(true, found->Description, true);
            SendCommand("WeThoughtYouLeft", found->Computer);
        }
        m_deliveries.erase(found);
    }

    std::time_t now = Clock().Now();
    for (size_t i = 0; i < m_deliveries.size(); ++i) {
        DeliveryRecord& delivery = m_deliveries[i];
        if (delivery.Reported || now - delivery.Created <= kConfirmSeconds)
            continue;
        PostDeliveryReport(false, delivery.Description, true);
        delivery.Reported = true;
        Refresh();
    }
}

void CPeerTransport::AddNextWake(CNextWake& wake) const
{
    if (m_service.HasArrivals())
        wake.Now();
    // Each moment below is the first at which the check in Receive that it mirrors passes.
    if (!m_queuedWrites.empty())
        wake.AtTick(m_queuedWrites.front().Due);
    for (const DeliveryRecord& delivery : m_deliveries)
        if (!delivery.Reported)
            wake.AtSecond(delivery.Created + kConfirmSeconds + 1);
    for (const PeerUser& user : m_users)
        if (user.Deadline != 0)
            wake.AtSecond(user.Deadline + 1);
    for (const SlotQueues* queues : {&m_data, &m_commands}) {
        if (queues->Partial.size() > kMaxPartialPackets)
            wake.Now();
        for (const PeerPacket& packet : queues->Partial)
            wake.AtSecond(packet.Time + kPartialLifetimeSeconds + 1);
    }
    if (!m_data.Complete.empty() || !m_commands.Complete.empty())
        wake.Now();
    if (!m_done.empty())
        wake.AtSecond(m_done.front().When + kRecentlyDoneSeconds + 1);
}

void CPeerTransport::UpdateUserList()
{
    std::unordered_map<std::string, int> sharing;
    for (const PeerUser& user : m_users)
        ++sharing[user.UserName];
    for (PeerUser& user : m_users)
        user.ShowComputer = sharing[user.UserName] > 1;

    for (PeerUser& user : m_users) {
        Expire(user);
        std::string now = user.Alive ? user.DisplayName() : std::string();
        std::string before = user.LastDisplayName;
        user.LastDisplayName = now;
        if (now == before)
            continue;
        if (before.empty())
            NotifyUserArrived(now);
        else if (now.empty())
            NotifyUserDeparted(before);
        else
            NotifyUserRenamed(before, now);
    }
}
