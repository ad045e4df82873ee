#pragma once
// The datagram service the peer-to-peer transport runs on: three slots of its own on this
// computer (chat pieces, presence commands, acknowledgements), writes to one named
// computer or to every computer ("*"), reads that never wait.
#include <string>
#include <vector>

enum class PeerSlot
{
    Data = 0,
    Command = 1,
    Ack = 2
};
inline constexpr int kPeerSlotCount = 3;

class IDatagramService
{
public:
    virtual ~IDatagramService() = default;
    // Makes the own slot; false when another copy on this computer already holds it.
    virtual bool Open(PeerSlot slot) = 0;
    virtual void Close(PeerSlot slot) = 0;
    // Sends one datagram to the slot of `computer` ("*" = every computer, this one too).
    // True when every byte went out; delivery is never promised.
    virtual bool Write(PeerSlot slot, const std::string& computer, const std::string& bytes) = 0;
    // Takes the next datagram waiting in the own slot; false at once when there is none.
    virtual bool Read(PeerSlot slot, std::string& bytes) = 0;
    // True when a datagram has come that Read has not taken yet. A service that cannot
    // tell says false; its user then reads on its own schedule.
    virtual bool HasArrivals() const { return false; }
};
