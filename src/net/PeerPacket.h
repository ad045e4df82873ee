#pragma once
// The records of the peer-to-peer transport and its datagram texts. A message or command
// travels as pieces of at most 350 bytes, each a five-line header and a slice of text:
//   computer \n user \n recipients \n id \n iii/ccc \n text
// where recipients are "computer/name" pairs joined by "\"; each piece is acknowledged
// with "computer\nid\niii/ccc".
#include "common/ChatMessage.h"

#include <ctime>
#include <deque>
#include <string>
#include <vector>

inline constexpr size_t kPeerDatagramLimit = 350;
inline constexpr int kPeerMaxPieces = 999; // three digits on the wire
// The longest message text shown; longer ones are cut, with a notice.
inline constexpr size_t kPeerMaxMessageBytes = kMaxMessageLength;

// One known computer and its user, as this transport sees it.
struct PeerUser
{
    bool ShowComputer = false;   // another record has the same user name
    std::string LastDisplayName; // what the sink was last told; empty = not listed
    std::string Computer;
    std::string UserName;
    std::string LastCommandId; // last datagram accepted on the command slot
    int LastCommandIndex = -1;
    std::string LastDataId; // ... and on the data slot
    int LastDataIndex = -1;
    bool Alive = false;
    std::time_t Deadline = 0; // 0 = none

    std::string DisplayName() const
    {
        return ShowComputer ? UserName + " (" + Computer + ")" : UserName;
    }
};

// One message or command, being sent or being put together from its pieces.
struct PeerPacket
{
    std::string Computer; // the sender's
    std::string UserName; // the sender's
    std::string Id;
    std::vector<std::string> RecipientComputers;
    std::vector<std::string> RecipientNames;
    std::vector<std::string> Pieces;
    int PieceIndex = -1;  // of the datagram that made it; -1 for the own copy
    std::time_t Time = 0; // last updated
    std::deque<std::string> PendingAcks;
    size_t Held = 0; // HeldBytes as the receiving transport last counted it

    bool IsComplete() const;
    std::string JoinedText() const;
    // The memory the packet holds, its texts and their string objects (an unfinished
    // message's empty pieces cost their objects too).
    size_t HeldBytes() const;
};

// A sent message to one recipient whose acknowledgements are awaited.
struct DeliveryRecord
{
    std::time_t Created = 0;
    std::string Computer;
    std::string Id;
    std::vector<bool> Acknowledged; // one flag per piece
    bool Reported = false;
    std::string Description;
};

// The five header lines for piece `index` of `count`.
std::string FormatPeerHeader(const PeerPacket& packet, int index, int count);

// Cuts `text` into the datagrams of `packet` (sender, recipients and id taken from it).
// An empty text gives none. False, with nothing made, when the header leaves no room for
// text or the text needs more pieces than three digits can count.
bool MakePeerDatagrams(const PeerPacket& packet, const std::string& text,
                       std::vector<std::string>& datagrams);

// Reads one received datagram into a packet holding `count` pieces, the piece text at
// `index` (also kept in PieceIndex). False for anything that is not a well-formed piece:
// longer than kPeerDatagramLimit, fewer than five header lines, no sender computer, a bad
// index or count.
bool ParsePeerDatagram(const std::string& datagram, PeerPacket& packet, int& count);

std::string FormatAcknowledgement(const std::string& computer, const std::string& id, int index,
                                  int count);
// False when the text is longer than kPeerDatagramLimit, has fewer than three lines or no
// index.
bool ParseAcknowledgement(const std::string& datagram, std::string& computer, std::string& id,
                          int& index);

// The computer name as the protocol writes it: at most 15 characters, a letter upper case
// at the start of every word and lower case after another letter (OFFICE-PC2 -> Office-Pc2).
std::string NormalizeComputerName(const std::string& name);
