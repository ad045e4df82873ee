#include "net/PeerPacket.h"

#include <cstdio>

bool PeerPacket::IsComplete() const
{
    for (const std::string& piece : Pieces)
        if (piece.empty())
            return false;
    return !Pieces.empty();
}

std::string PeerPacket::JoinedText() const
{
    std::string text;
    for (const std::string& piece : Pieces)
        text += piece;
    return text;
}

size_t PeerPacket::HeldBytes() const
{
    auto held = [](const std::string& text) { return sizeof(std::string) + text.size(); };
    size_t bytes = sizeof(PeerPacket) + Computer.size() + UserName.size() + Id.size();
    for (const auto* texts : {&RecipientComputers, &RecipientNames, &Pieces})
        for (const std::string& text : *texts)
            bytes += held(text);
    for (const std::string& ack : PendingAcks)
        bytes += held(ack);
    return bytes;
}

std::string FormatPeerHeader(const PeerPacket& packet, int index, int count)
{
    std::string recipients;
    for (size_t i = 0; i < packet.RecipientComputers.size(); ++i) {
        if (i != 0)
            recipients += '\\';
        recipients += packet.RecipientComputers[i];
        recipients += '/';
        if (i < packet.RecipientNames.size())
            recipients += packet.RecipientNames[i];
    }
    char position[16];
    std::snprintf(position, sizeof position, "%03i/%03i", index, count);
    return packet.Computer + '\n' + packet.UserName + '\n' + recipients + '\n' + packet.Id + '\n' +
           position + '\n';
}

bool MakePeerDatagrams(const PeerPacket& packet, const std::string& text,
                       std::vector<std::string>& datagrams)
{
    datagrams.clear();
    // Every header has the same length: index and count always take three digits.
    size_t headerLength = FormatPeerHeader(packet, 0, 1).size();
    if (headerLength >= kPeerDatagramLimit)
        return false;
    size_t pieceLength = kPeerDatagramLimit - headerLength;
    size_t count = (text.size() + pieceLength - 1) / pieceLength;
    if (count > static_cast<size_t>(kPeerMaxPieces))
        return false;
    for (size_t i = 0; i < count; ++i)
        datagrams.push_back(FormatPeerHeader(packet, static_cast<int>(i), static_cast<int>(count)) +
                            text.substr(i * pieceLength, pieceLength));
    return true;
}

namespace {
std::vector<std::string> SplitLines(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool ThreeDigits(const std::string& text, size_t at, int& value)
{
    if (at + 3 > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + 3; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}
} // namespace

bool ParsePeerDatagram(const std::string& datagram, PeerPacket& packet, int& count)
{
    // No sender of ours writes more; a larger one would only cost time and memory.
    if (datagram.size() > kPeerDatagramLimit)
        return false;
    // The header ends at the fifth line feed, counted from the second byte on.
    size_t end = 0;
    int feeds = 0;
    for (size_t i = 1; i < datagram.size(); ++i) {
        if (datagram[i] == '\n' && ++feeds == 5) {
            end = i;
            break;
        }
    }
    if (feeds < 5)
        return false;
    std::vector<std::string> fields = SplitLines(datagram.substr(0, end), '\n');
    if (fields.size() != 5 || fields[0].empty())
        return false;

    const std::string& position = fields[4];
    int index = 0;
    if (position.size() < 3 || !ThreeDigits(position, 0, index) ||
        !ThreeDigits(position, position.size() - 3, count))
        return false;
    if (count < 1 || index >= count)
        return false;

    packet = PeerPacket();
    packet.Computer = fields[0];
    packet.UserName = fields[1];
    packet.Id = fields[3];
    if (!fields[2].empty()) {
        for (const std::string& part : SplitLines(fields[2], '\\')) {
            size_t slash = part.find('/');
            if (slash == std::string::npos)
                continue;
            packet.RecipientComputers.push_back(part.substr(0, slash));
            packet.RecipientNames.push_back(part.substr(slash + 1));
        }
    }
    packet.Pieces.resize(static_cast<size_t>(count));
    packet.Pieces[static_cast<size_t>(index)] = datagram.substr(end + 1);
    packet.PieceIndex = index;
    return true;
}

std::string FormatAcknowledgement(const std::string& computer, const std::string& id, int index,
                                  int count)
{
    char position[16];
    std::snprintf(position, sizeof position, "%03i/%03i", index, count);
    return computer + '\n' + id + '\n' + position;
}

bool ParseAcknowledgement(const std::string& datagram, std::string& computer, std::string& id,
                          int& index)
{
    if (datagram.size() > kPeerDatagramLimit)
        return false;
    std::vector<std::string> fields = SplitLines(datagram, '\n');
    if (fields.size() < 3)
        return false;
    const std::string& position = fields[2];
    size_t digits = 0;
    index = 0;
    while (digits < position.size() && digits < 9 && position[digits] >= '0' &&
           position[digits] <= '9')
        index = index * 10 + (position[digits++] - '0');
    if (digits == 0)
        return false;
    computer = fields[0];
    id = fields[1];
    return true;
}

std::string NormalizeComputerName(const std::string& name)
{
    auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    std::string result = name.substr(0, 15);
    for (size_t i = 0; i < result.size(); ++i) {
        char& c = result[i];
        if (i == 0 || !isLetter(result[i - 1]))
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        else
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return result;
}
