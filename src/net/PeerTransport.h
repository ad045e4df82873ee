#pragma once
// The peer-to-peer transport: no server. Every copy owns three slots on its computer
// (chat pieces, presence commands, acknowledgements) and writes datagrams to the slots of
// one computer or of all. Presence comes from broadcast commands and a 15-second
// deadline; every piece is acknowledged and a missing acknowledgement is reported.
#include "net/DatagramService.h"
#include "net/PeerPacket.h"
#include "net/Transport.h"

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

class CPeerTransport : public CTransport
{
public:
    CPeerTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                   IDatagramService& service, const std::string& computerName);
    ~CPeerTransport() override;

    void UpdateSelfChat() override;
    bool GetUserName(std::string& name) override;
    bool DoLogOn(const std::string& name, std::string& error) override;
    void LogOff() override;
    bool DoChangeUserName(const std::string& newName, std::string& error) override;
    void Refresh() override;
    void Receive(std::vector<ChatMessage>& messages) override;
    bool DoSend(const std::vector<std::string>& recipients, const std::string& text,
                std::string& error) override;
    bool DoSendToAll(const std::string& text, std::string& error) override;
    int AwaitedDeliveries() const override;
    // The next queued piece, the next delivery report, the next presence deadline, and the
    // upkeep of unfinished messages and of the memory of shown ones.
    void AddNextWake(CNextWake& wake) const override;

    const std::string& ComputerName() const { return m_computer; }
    const std::vector<PeerUser>& Users() const { return m_users; }
    const std::vector<DeliveryRecord>& Deliveries() const { return m_deliveries; }
    size_t PartialCount(PeerSlot slot) const;
    // What the unfinished messages of a slot hold (PeerPacket::HeldBytes), in all or from
    // one computer.
    size_t PartialBytes(PeerSlot slot, const std::string& computer = {}) const;
    // Pieces still waiting for their turn (see kPiecePauseMs).
    size_t QueuedWrites() const { return m_queuedWrites.size(); }

    static constexpr const char* kOneCopyPerComputer =
        "Because Zib Tam is configured to use peer-to-peer networking, only one of the users "
        "logged into this computer can have Zib Tam open.  If multiple users want to have Zib "
        "Tam open at the same time, configure Zib Tam to use client/server networking.";
    static constexpr const char* kUnknownRecipient =
        "Zib Tam did not recognize the name of the user this message should be sent to.";
    // After a received message that was cut to kPeerMaxMessageBytes; %s is its sender.
    static constexpr const char* kCutNotice =
        "Zib Tam cut the message from %s: it was longer than 20,480 characters.";
    static constexpr const char* kTooLong =
        "Zib Tam could not send your message because it is too long for the list of recipients.";

    // Pieces after the first of a message leave this far apart so a receiver's slot is not
    // flooded. They wait in a queue that Receive (the main window's timer) empties, so the
    // window never stalls while a long message goes out.
    static constexpr uint32_t kPiecePauseMs = 50;
    static constexpr std::time_t kPresenceSeconds = 15;
    static constexpr std::time_t kConfirmSeconds = 3;
    // Bounds that keep a broken or hostile sender from growing memory without end.
    static constexpr size_t kMaxUsers = 4096;
    static constexpr size_t kMaxPartialPerComputer = 32;
    static constexpr size_t kMaxPartialPackets = 1024;
    // Unfinished messages in bytes, as the counts alone let a sender hold hundreds of MB.
    // Per computer: the largest message 999 datagrams can carry (about 370 KB held) fits.
    static constexpr size_t kMaxPartialBytesPerComputer = 512 * 1024;
    // In all: sixteen computers at their bound, far above what honest senders ever hold.
    static constexpr size_t kMaxPartialBytes = 8 * 1024 * 1024;
    static constexpr std::time_t kPartialLifetimeSeconds = 120;
    static constexpr std::time_t kRecentlyDoneSeconds = 10;
    // A poll reads at most this many datagrams from one slot, so a sender that writes
    // faster than we read cannot keep the window from ever getting its turn back.
    static constexpr int kMaxReadsPerPoll = 4096;

private:
    struct SlotQueues
    {
        std::deque<PeerPacket> Partial;
        std::deque<PeerPacket> Complete;
    };
    struct QueuedWrite
    {
        uint32_t Due;
        PeerSlot Slot;
        std::string Computer;
        std::string Datagram;
    };
    struct DoneMessage
    {
        std::string Key; // folded computer, line feed, id
        std::time_t When;
    };

    void SendCommand(const std::string& word, const std::string& computer = {});
    bool WriteDatagram(PeerSlot slot, const std::string& computer, const std::string& bytes);
    void WritePieces(const std::vector<std::string>& datagrams,
                     const std::vector<std::string>& computers);
    void FlushQueuedWrites(bool all);
    std::time_t LastPieceLeaves(size_t pieces) const;
    void ArmTimeouts();
    void Expire(PeerUser& user);
    // Waits for the acknowledgements of every piece from `user`, when the user is still
    // present; a report follows if they are late.
    void AwaitConfirmation(PeerUser& user, const std::string& id, size_t pieces, std::time_t sent,
                           std::string description);
    int FindUser(const std::string& computer) const;
    void ReadSlot(PeerSlot slot, SlotQueues& queues);
    void AcceptPiece(PeerSlot slot, SlotQueues& queues, PeerPacket&& packet, int count);
    // Drops the oldest unfinished messages while `computer`'s or all of them hold too much.
    void BoundPartial(SlotQueues& queues, std::string computer);
    void PrunePartial(SlotQueues& queues);
    bool RecentlyDone(const std::string& computer, const std::string& id);
    void RememberDone(const std::string& computer, const std::string& id);
    void DropOldestDone();
    void ForgetOldDone();
    void ForgetDone(const std::string& computer);
    void SendAcknowledgements();
    void ProcessCommands();
    void ProcessAcknowledgements();
    void UpdateUserList();
    ChatMessage ToChatMessage(const PeerPacket& packet);

    IDatagramService& m_service;
    std::string m_computer;
    std::string m_userName;
    bool m_open[kPeerSlotCount] = {false, false, false};
    bool m_loggedOn = false;
    SlotQueues m_data;
    SlotQueues m_commands;
    std::vector<DeliveryRecord> m_deliveries;
    std::vector<PeerUser> m_users;                    // [0] is this computer's own record
    std::unordered_map<std::string, int> m_userIndex; // folded computer -> record
    std::deque<QueuedWrite> m_queuedWrites;
    // Data messages shown lately, to drop late copies: in order of showing, and counted by key.
    std::deque<DoneMessage> m_done;
    std::unordered_map<std::string, int> m_doneKeys;
};
