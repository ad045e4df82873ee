#include "net/Frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The 84-byte body of a login request for Owen.
const std::string kOwenBody = "<?xml version=\"1.0\"?>\n"
                              "<login-request>\n"
                              "   <username>Owen</username>\n"
                              "</login-request>\n";

std::string OwenFrame()
{
    return "Server: Zib Tam Freeware/740\r\nContent-Length: 84\n\n" + kOwenBody;
}

// Records what the parser reports, in order, as one readable line per unit.
class RecordingSink : public IFrameSink
{
public:
    std::vector<std::string> Units;
    void OnFrameBody(std::string_view body) override
    {
        Units.push_back("body:" + std::string(body));
    }
    void OnHttpRequest(const HttpRequest& request) override
    {
        Units.push_back("get:" + request.Path + "@" + request.Host);
    }
};

struct StreamCase
{
    const char* Name;
    std::string Stream;
    std::vector<std::string> Units;
    std::string Server; // last Server header value
};

std::vector<StreamCase> StreamCases()
{
    return {
        {"owen login request", OwenFrame(), {"body:" + kOwenBody}, "Zib Tam Freeware/740"},
        {"two frames",
         OwenFrame() + "Server: Zib Tam Freeware/741\r\nContent-Length: 2\n\nab",
         {"body:" + kOwenBody, "body:ab"},
         "Zib Tam Freeware/741"},
        {"keep-alive gives nothing",
         "Server: Zib Tam Freeware/740\r\nContent-Length: 0\n\n",
         {},
         "Zib Tam Freeware/740"},
        {"keep-alive then frame",
         "Server: A\r\nContent-Length: 0\n\nServer: B\r\nContent-Length: 1\n\nx",
         {"body:x"},
         "B"},
        {"body line ends become LF",
         "Content-Length: 9\n\na\r\nb\rc\n\r\r",
         {"body:a\nb\nc\n\n\n"},
         ""},
        {"browser request",
         "GET /upgrade HTTP/1.1\r\nHost: srv:8080\r\nAccept: */*\r\n\r\n",
         {"get:/upgrade@srv:8080"},
         ""},
        {"request without host", "GET /UPGRADE HTTP/1.0\n\n", {"get:/UPGRADE@"}, ""},
        {"frame ended by CR LF CR LF", "Content-Length: 5\r\n\r\nhello", {"body:hello"}, ""},
        {"header names in any case",
         "sErVeR: x/1\r\ncontent-LENGTH: 3\n\nabc",
         {"body:abc"},
         "x/1"},
        {"lone CR ends a header line", "Server: X\rContent-Length: 2\n\nab", {"body:ab"}, "X"},
        {"length with blanks", "Content-Length:  12 \n\nhello world!", {"body:hello world!"}, ""},
        {"header without length ignored", "Hello: there\n\nContent-Length: 1\n\nz", {"body:z"}, ""},
        {"not a GET line", "POST /upgrade HTTP/1.1\r\nHost: a\r\n\r\n", {}, ""},
        {"GET with a length is a frame",
         "GET / HTTP/1.1\r\nContent-Length: 2\r\n\r\nok",
         {"body:ok"},
         ""},
        // The earlier of the two header ends counts, so a browser request followed by a frame
        // in the same read stays two units.
        {"earliest header end wins",
         "GET /a HTTP/1.1\r\n\r\nServer: S\r\nContent-Length: 3\n\nabc",
         {"get:/a@", "body:abc"},
         "S"},
        {"blank lines inside body do not end anything",
         "Content-Length: 4\r\n\r\na\n\nb" + std::string("Content-Length: 1\n\nc"),
         {"body:a\n\nb", "body:c"},
         ""},
    };
}

std::vector<std::string> Parse(const std::vector<std::string>& pieces,
                               std::string* server = nullptr)
{
    CFrameParser parser;
    RecordingSink sink;
    for (const auto& piece : pieces)
        EXPECT_TRUE(parser.Feed(piece, sink)) << parser.Error();
    if (server)
        *server = parser.ServerHeader();
    return sink.Units;
}

TEST(FrameParser, StreamsGiveTheirUnitsHoweverTheyAreSplit)
{
    for (const auto& c : StreamCases()) {
        SCOPED_TRACE(c.Name);
        std::string server;
        EXPECT_EQ(Parse({c.Stream}, &server), c.Units);
        EXPECT_EQ(server, c.Server);

        // One byte per read.
        std::vector<std::string> bytes;
        for (char ch : c.Stream)
            bytes.emplace_back(1, ch);
        EXPECT_EQ(Parse(bytes), c.Units) << "byte by byte";

        // Every split into two reads, and into three around the header's end.
        for (std::size_t at = 0; at <= c.Stream.size(); ++at) {
            EXPECT_EQ(Parse({c.Stream.substr(0, at), c.Stream.substr(at)}), c.Units)
                << "split at " << at;
        }
    }
}

TEST(FrameParser, ZeroCopyWriteAreaMatchesFeed)
{
    std::string stream = OwenFrame() + OwenFrame();
    CFrameParser parser;
    RecordingSink sink;
    for (std::size_t at = 0; at < stream.size(); at += 50) {
        std::size_t n = std::min<std::size_t>(50, stream.size() - at);
        char* area = parser.WriteArea(16384);
        stream.copy(area, n, at);
        ASSERT_TRUE(parser.Commit(n, sink));
    }
    EXPECT_EQ(sink.Units, (std::vector<std::string>{"body:" + kOwenBody, "body:" + kOwenBody}));
    EXPECT_EQ(parser.Buffered(), 0u);
}

TEST(FrameParser, RefusesLengthsAndHeadersThatAreNotOurs)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"negative", "Content-Length: -5\n\n"},
        {"not a number", "Content-Length: abc\n\n"},
        {"trailing garbage", "Content-Length: 12x\n\n"},
        {"empty", "Content-Length: \n\n"},
        {"above our limit", "Content-Length: 1048577\n\n"},
        {"overflowing", "Content-Length: 99999999999999999999999\n\n"},
        {"header without end", std::string(kMaxFrameHeader + 1, 'a')},
        {"header too long", "X: " + std::string(kMaxFrameHeader, 'a') + "\n\n"},
    };
    for (const auto& [name, stream] : cases) {
        SCOPED_TRACE(name);
        CFrameParser parser;
        RecordingSink sink;
        EXPECT_FALSE(parser.Feed(stream, sink));
        EXPECT_TRUE(parser.Failed());
        EXPECT_FALSE(parser.Error().empty());
        // A closed stream stays closed, even for a good frame.
        EXPECT_FALSE(parser.Feed(OwenFrame(), sink));
        EXPECT_TRUE(sink.Units.empty());
    }
}

TEST(FrameParser, AnnouncedLengthAllocatesNothingBeforeTheBytesCome)
{
    CFrameParser parser;
    RecordingSink sink;
    ASSERT_TRUE(parser.Feed("Content-Length: 1048576\n\nabc", sink));
    EXPECT_EQ(parser.CurrentState(), CFrameParser::State::Body);
    EXPECT_EQ(parser.AnnouncedLength(), 1048576);
    EXPECT_LT(parser.Capacity(), 64u * 1024);

    // The whole megabyte, in reads of 16 KiB, gives one body.
    std::string rest(1048576 - 3, 'x');
    for (std::size_t at = 0; at < rest.size(); at += 16384)
        ASSERT_TRUE(parser.Feed(std::string_view(rest).substr(at, 16384), sink));
    ASSERT_EQ(sink.Units.size(), 1u);
    EXPECT_EQ(sink.Units[0].size(), 5 + 1048576u);
    EXPECT_EQ(parser.AnnouncedLength(), -1);
}

TEST(FrameParser, HeaderSearchStaysLinearOverManySmallReads)
{
    // A long but acceptable header in one-byte reads must not be searched from its start
    // each time; the copies counted stay proportional to the bytes.
    std::string header =
        "X: " + std::string(kMaxFrameHeader - 40, 'a') + "\r\nContent-Length: 1\n\n";
    CFrameParser parser;
    RecordingSink sink;
    for (char ch : header + "z")
        ASSERT_TRUE(parser.Feed(std::string_view(&ch, 1), sink));
    EXPECT_EQ(sink.Units, std::vector<std::string>{"body:z"});
    EXPECT_LT(parser.BytesCopied(), 4 * (header.size() + 1));
}

TEST(FrameWriter, OwenLoginRequestByteForByte)
{
    ASSERT_EQ(kOwenBody.size(), 84u);
    const std::string frame = FormatFrame(kOwenBody);
    EXPECT_EQ(frame, OwenFrame());
    EXPECT_EQ(frame.substr(0, 30), "Server: Zib Tam Freeware/740\r\n");
    EXPECT_EQ(frame.size(), 30 + 20 + 84u);
}

TEST(FrameWriter, LineEndsAndOtherVersions)
{
    EXPECT_EQ(NormalizeLineEnds("a\r\nb\rc\nd\r\r\n"), "a\nb\nc\nd\n\n");
    EXPECT_EQ(NormalizeLineEnds(""), "");
    EXPECT_EQ(FormatFrame("", 741), "Server: Zib Tam Freeware/741\r\nContent-Length: 0\n\n");
}

TEST(FrameWriter, HttpGetLines)
{
    struct Case
    {
        const char* Line;
        bool Ok;
        const char* Path;
    };
    const Case cases[] = {
        {"GET /upgrade HTTP/1.1", true, "/upgrade"},
        {"GET  /a b  HTTP/1.0", true, "/a b"},
        {"GET / HTTP/1.10", false, ""},
        {"GET / HTTP/2.0", false, ""},
        {"get / HTTP/1.1", false, ""},
        {"GET HTTP/1.1", true, ""},
        {"GET  HTTP/1.1", true, ""},
    };
    for (const auto& c : cases) {
        std::string path;
        EXPECT_EQ(ParseHttpGetLine(c.Line, path), c.Ok) << c.Line;
        if (c.Ok) {
            EXPECT_EQ(path, c.Path) << c.Line;
        }
    }
}

} // namespace
