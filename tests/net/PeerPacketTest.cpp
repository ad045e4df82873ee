#include "net/PeerPacket.h"

#include <gtest/gtest.h>

namespace {

PeerPacket Packet(std::vector<std::pair<std::string, std::string>> recipients = {})
{
    PeerPacket packet;
    packet.Computer = "Office-Pc2";
    packet.UserName = "Owen";
    packet.Id = "7";
    for (auto& [computer, name] : recipients) {
        packet.RecipientComputers.push_back(computer);
        packet.RecipientNames.push_back(name);
    }
    return packet;
}

TEST(PeerPacket, DatagramBytesAreExact)
{
    std::vector<std::string> datagrams;
    ASSERT_TRUE(
        MakePeerDatagrams(Packet({{"Lab-Pc", "Ann"}, {"Den", "Bob"}}), "hello\nyou", datagrams));
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0], "Office-Pc2\nOwen\nLab-Pc/Ann\\Den/Bob\n7\n000/001\nhello\nyou");
    ASSERT_TRUE(MakePeerDatagrams(Packet(), "rollcall", datagrams));
    EXPECT_EQ(datagrams[0], "Office-Pc2\nOwen\n\n7\n000/001\nrollcall");
    EXPECT_EQ(FormatAcknowledgement("Lab-Pc", "7", 2, 3), "Lab-Pc\n7\n002/003");
}

TEST(PeerPacket, TextIsCutIntoPiecesOfAtMost350Bytes)
{
    const PeerPacket packet = Packet({{"Lab-Pc", "Ann"}});
    const size_t header = FormatPeerHeader(packet, 0, 1).size();
    const size_t piece = kPeerDatagramLimit - header;
    struct Case
    {
        size_t Length;
        std::vector<std::string> Positions;
    };
    const Case cases[] = {
        {0, {}},
        {1, {"000/001"}},
        {piece, {"000/001"}},
        {piece + 1, {"000/002", "001/002"}},
        {3 * piece, {"000/003", "001/003", "002/003"}},
    };
    for (const Case& c : cases) {
        std::string text(c.Length, 'x');
        std::vector<std::string> datagrams;
        ASSERT_TRUE(MakePeerDatagrams(packet, text, datagrams));
        ASSERT_EQ(datagrams.size(), c.Positions.size()) << c.Length;
        std::string joined;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            EXPECT_LE(datagrams[i].size(), kPeerDatagramLimit);
            EXPECT_EQ(datagrams[i].substr(header - 8, 7), c.Positions[i]);
            joined += datagrams[i].substr(header);
        }
        EXPECT_EQ(joined, text);
    }
}

TEST(PeerPacket, SendsThatCannotBeWrittenAreRefused)
{
    std::vector<std::string> datagrams{"left over"};
    // A header that leaves no room for text must not loop or make empty pieces.
    PeerPacket crowded = Packet({{std::string(200, 'c'), std::string(200, 'n')}});
    EXPECT_FALSE(MakePeerDatagrams(crowded, "hello", datagrams));
    EXPECT_TRUE(datagrams.empty());
    // More pieces than three digits can count.
    const PeerPacket packet = Packet();
    const size_t piece = kPeerDatagramLimit - FormatPeerHeader(packet, 0, 1).size();
    EXPECT_TRUE(MakePeerDatagrams(packet, std::string(piece * 999, 'x'), datagrams));
    EXPECT_EQ(datagrams.size(), 999u);
    EXPECT_FALSE(MakePeerDatagrams(packet, std::string(piece * 999 + 1, 'x'), datagrams));
}

TEST(PeerPacket, ParsesWellFormedPieces)
{
    PeerPacket packet;
    int count = 0;
    ASSERT_TRUE(ParsePeerDatagram("Lab-Pc\nAnn\nOffice-Pc2/Owen\\junk\\Den/Bob/x\n1z\n001/003\n"
                                  "two\nlines",
                                  packet, count));
    EXPECT_EQ(packet.Computer, "Lab-Pc");
    EXPECT_EQ(packet.UserName, "Ann");
    EXPECT_EQ(packet.Id, "1z");
    EXPECT_EQ(packet.RecipientComputers, (std::vector<std::string>{"Office-Pc2", "Den"}));
    EXPECT_EQ(packet.RecipientNames, (std::vector<std::string>{"Owen", "Bob/x"}));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(packet.PieceIndex, 1);
    EXPECT_EQ(packet.Pieces, (std::vector<std::string>{"", "two\nlines", ""}));

    // A datagram as large as a sender of ours ever writes.
    std::string header = "Lab-Pc\nAnn\n\n2\n000/001\n";
    ASSERT_TRUE(ParsePeerDatagram(header + std::string(kPeerDatagramLimit - header.size(), 'x'),
                                  packet, count));
    EXPECT_EQ(packet.Pieces[0].size(), kPeerDatagramLimit - header.size());

    // A departure from a copy without a user name still names its computer.
    ASSERT_TRUE(ParsePeerDatagram("Lab-Pc\n\n\n3\n000/001\ndeparture", packet, count));
    EXPECT_EQ(packet.UserName, "");
    EXPECT_EQ(packet.JoinedText(), "departure");
}

TEST(PeerPacket, RefusesMalformedPieces)
{
    const char* bad[] = {
        "",
        "garbage without any line feed",
        "Lab-Pc\nAnn\n\n1\n000/001",    // four line feeds only
        "\nAnn\n\n1\n000/001\ntext",    // no sender computer
        "Lab-Pc\nAnn\n\n1\n001/001\nx", // index not below count
        "Lab-Pc\nAnn\n\n1\n005/003\nx",
        "Lab-Pc\nAnn\n\n1\n000/000\nx", // no pieces
        "Lab-Pc\nAnn\n\n1\n0a0/001\nx",
        "Lab-Pc\nAnn\n\n1\n000/-01\nx",
        "Lab-Pc\nAnn\n\n1\n00\nx",
        "\n\n\n\n\n\n",
    };
    for (const char* datagram : bad) {
        PeerPacket packet;
        int count = 0;
        EXPECT_FALSE(ParsePeerDatagram(datagram, packet, count)) << datagram;
    }
    // Larger than any sender of ours writes: a byte over, or a piece of 64 KB.
    const std::string header = "Lab-Pc\nAnn\n\n1\n000/001\n";
    for (size_t size : {kPeerDatagramLimit + 1, size_t{65000}}) {
        PeerPacket packet;
        int count = 0;
        EXPECT_FALSE(
            ParsePeerDatagram(header + std::string(size - header.size(), 'x'), packet, count))
            << size;
    }
}

TEST(PeerPacket, Acknowledgements)
{
    std::string computer, id;
    int index = -1;
    ASSERT_TRUE(ParseAcknowledgement("Lab-Pc\n1z\n002/003", computer, id, index));
    EXPECT_EQ(computer, "Lab-Pc");
    EXPECT_EQ(id, "1z");
    EXPECT_EQ(index, 2);
    const std::string oversized = "Lab-Pc\n1z\n002/003" + std::string(kPeerDatagramLimit, '\n');
    for (const std::string& bad :
         {std::string(), std::string("Lab-Pc\n1z"), std::string("Lab-Pc\n1z\n/003"),
          std::string("Lab-Pc\n1z\nxyz"), oversized})
        EXPECT_FALSE(ParseAcknowledgement(bad, computer, id, index)) << bad.size();
}

TEST(PeerPacket, ComputerNamesTakeTheProgramsLetterCase)
{
    struct Case
    {
        const char* Raw;
        const char* Normal;
    };
    const Case cases[] = {{"OFFICE-PC2", "Office-Pc2"},
                          {"lab pc", "Lab Pc"},
                          {"x1y", "X1Y"},
                          {"a", "A"},
                          {"", ""},
                          {"VERYLONGCOMPUTERNAME", "Verylongcompute"},
                          {"mcDONALD_s", "Mcdonald_S"}};
    for (const Case& c : cases)
        EXPECT_EQ(NormalizeComputerName(c.Raw), c.Normal) << c.Raw;
}

} // namespace
