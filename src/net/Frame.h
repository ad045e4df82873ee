#pragma once
// Framing of the client/server connection: a short header, a blank line and a body. The
// same stream also carries plain HTTP GET requests (the upgrade service), so the reader
// recognises those too. Everything here is bytes in, bytes out: no sockets.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// This program's version; it stands in the "Server" header of every frame we send.
constexpr int kProtocolVersion = 740;

// Largest body we accept. A message is under 3,000 characters, so even fully escaped as
// numeric entities its document stays far below this.
constexpr std::size_t kMaxFrameBody = 1024 * 1024;
// Largest header (including its blank line) we accept; a browser's request is well below.
constexpr std::size_t kMaxFrameHeader = 16 * 1024;

// "Zib Tam Freeware/740".
std::string ProductToken(int version = kProtocolVersion);

// Turns every CR LF and every lone CR into a single LF.
std::string NormalizeLineEnds(std::string_view text);
// The same in place; returns the new length (never longer than before).
std::size_t NormalizeLineEndsInPlace(char* text, std::size_t length);

// Header + "Content-Length: n" + LF LF + body. The Server line ends in CR LF, the other two
// in LF alone. `body` must already have its line ends converted.
std::string FormatFrame(std::string_view body, int version = kProtocolVersion);

// The header this program writes before a body of `bodySize` bytes, made in `buffer`.
constexpr std::size_t kFrameHeaderSize = 64;
std::string_view FrameHeader(std::size_t bodySize, char (&buffer)[kFrameHeaderSize]);

// A header without Content-Length whose first line is "GET <path> HTTP/1.x".
struct HttpRequest
{
    std::string Path; // trimmed, as requested (letter case kept)
    std::string Host; // the "Host" header's value; empty when there was none
};

// Recognises the first line of an HTTP GET request; fills the trimmed path.
bool ParseHttpGetLine(std::string_view line, std::string& path);

// Receives what a parser finds in the stream. A sink must not feed the same parser again
// from inside these calls.
class IFrameSink
{
public:
    virtual ~IFrameSink() = default;
    // A complete body, line ends already converted to LF. The view is valid during the call.
    virtual void OnFrameBody(std::string_view body) = 0;
    virtual void OnHttpRequest(const HttpRequest& request) = 0;
};

// Incremental frame reader: any split of the stream gives the same results. It never
// allocates from an announced length; memory grows only with bytes that really arrived.
class CFrameParser
{
public:
    enum class State
    {
        Header,
        Body
    };

    // Appends bytes and reports every complete unit to the sink. False means the stream is
    // not ours (bad or oversized Content-Length, endless header): close the connection.
    // After a false result the parser refuses everything.
    bool Feed(std::string_view bytes, IFrameSink& sink);

    // Zero-copy variant: write up to `capacity` bytes at WriteArea(capacity), then
    // Commit(count, sink) with the number actually written.
    char* WriteArea(std::size_t capacity);
    bool Commit(std::size_t count, IFrameSink& sink);

    // Off: every header goes the general way (the reference the quick way is checked against).
    void SetQuickHeaders(bool quick) { m_quickHeaders = quick; }

    // The value of the last "Server" header seen, empty before the first.
    const std::string& ServerHeader() const { return m_server; }
    // Why the last Feed/Commit returned false.
    const std::string& Error() const { return m_error; }
    bool Failed() const { return m_failed; }
    State CurrentState() const { return m_state; }
    // Announced body length, -1 while reading a header.
    long long AnnouncedLength() const { return m_state == State::Body ? m_length : -1; }
    // Bytes received and not yet consumed.
    std::size_t Buffered() const { return m_size - m_start; }
    // Memory held for received bytes.
    std::size_t Capacity() const { return m_capacity; }
    // Bytes this parser has moved inside its own memory (appends from Feed and compaction);
    // the cost the benchmark watches.
    std::uint64_t BytesCopied() const { return m_copied; }

private:
    bool Process(IFrameSink& sink);
    bool TakeHeader(std::size_t headerEnd, IFrameSink& sink);
    bool TakeUsualHeader();
    bool Fail(std::string reason);
    void MakeRoom(std::size_t extra);

    // Received bytes; [m_start, m_size) are not consumed yet. A plain array rather than a
    // string so that making room for a read does not clear it first.
    std::unique_ptr<char[]> m_data;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    std::size_t m_start = 0;
    std::size_t m_scanned = 0; // up to here the header has been searched for its end
    State m_state = State::Header;
    std::size_t m_length = 0;
    std::string m_server;
    std::string m_error;
    bool m_failed = false;
    bool m_quickHeaders = true;
    std::uint64_t m_copied = 0;
};
