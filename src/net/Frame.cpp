#include "net/Frame.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

bool IsXmlSpace(char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i]))
            return false;
    return true;
}

// The Content-Length value: decimal digits only (blanks around them allowed), at most
// kMaxFrameBody. Anything else is not a frame of ours.
bool ParseLength(std::string_view text, std::size_t& length)
{
    text = Trim(text);
    if (text.empty())
        return false;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::size_t>(c - '0');
        if (value > kMaxFrameBody)
            return false;
    }
    length = value;
    return true;
}

} // namespace

std::string ProductToken(int version)
{
    return "Zib Tam Freeware/" + std::to_string(version);
}

std::size_t NormalizeLineEndsInPlace(char* text, std::size_t length)
{
    // Nothing to do in the common case of a body that is already LF-only.
    char* cr = static_cast<char*>(std::memchr(text, '\r', length));
    if (!cr)
        return length;
    std::size_t out = static_cast<std::size_t>(cr - text);
    for (std::size_t in = out; in < length; ++in) {
        char c = text[in];
        if (c == '\r') {
            text[out++] = '\n';
            if (in + 1 < length && text[in + 1] == '\n')
                ++in;
        } else {
            text[out++] = c;
        }
    }
    return out;
}

std::string NormalizeLineEnds(std::string_view text)
{
    std::string result(text);
    result.resize(NormalizeLineEndsInPlace(result.data(), result.size()));
    return result;
}

std::string_view FrameHeader(std::size_t bodySize, char (&buffer)[kFrameHeaderSize])
{
    static const std::string start =
        "Server: " + ProductToken(kProtocolVersion) + "\r\nContent-Length: ";
    std::size_t at = start.copy(buffer, start.size());
    auto [end, ec] = std::to_chars(buffer + at, buffer + kFrameHeaderSize - 2, bodySize);
    (void)ec;
    end[0] = '\n';
    end[1] = '\n';
    return std::string_view(buffer, static_cast<std::size_t>(end + 2 - buffer));
}

std::string FormatFrame(std::string_view body, int version)
{
    std::string frame;
    frame.reserve(body.size() + kFrameHeaderSize);
    if (version == kProtocolVersion) {
        char header[kFrameHeaderSize];
        frame += FrameHeader(body.size(), header);
    } else {
        frame += "Server: ";
        frame += ProductToken(version);
        frame += "\r\nContent-Length: ";
        frame += std::to_string(body.size());
        frame += "\n\n";
    }
    frame += body;
    return frame;
}

bool ParseHttpGetLine(std::string_view line, std::string& path)
{
    constexpr std::string_view get = "GET ";
    constexpr std::string_view version = "HTTP/1.";
    if (line.size() < get.size() + version.size() + 1 || line.substr(0, get.size()) != get)
        return false;
    std::size_t versionAt = line.size() - version.size() - 1;
    if (line.substr(versionAt, version.size()) != version)
        return false;
    path = std::string(Trim(line.substr(get.size(), versionAt - get.size())));
    return true;
}

bool CFrameParser::Fail(std::string reason)
{
    m_failed = true;
    m_error = std::move(reason);
    return false;
}

void CFrameParser::MakeRoom(std::size_t extra)
{
    std::size_t pending = m_size - m_start;
    if (pending == 0) {
        m_scanned -= std::min(m_scanned, m_start);
        m_start = m_size = 0;
    } else if (m_start > 0 && (m_start >= pending || m_size + extra > m_capacity)) {
        // Moving the unconsumed tail to the front costs a copy; doing it only when the
        // consumed part is at least as big keeps the total linear.
        std::memmove(m_data.get(), m_data.get() + m_start, pending);
        m_copied += pending;
        m_scanned -= m_start;
        m_size = pending;
        m_start = 0;
    }
    if (m_size + extra > m_capacity) {
        std::size_t capacity = std::max<std::size_t>({m_size + extra, m_capacity * 2, 4096});
        std::unique_ptr<char[]> data(new char[capacity]);
        if (m_size)
            std::memcpy(data.get(), m_data.get(), m_size);
        m_copied += m_size;
        m_data = std::move(data);
        m_capacity = capacity;
    }
}

char* CFrameParser::WriteArea(std::size_t capacity)
{
    MakeRoom(capacity);
    return m_data.get() + m_size;
}

bool CFrameParser::Commit(std::size_t count, IFrameSink& sink)
{
    if (m_failed)
        return false;
    m_size += std::min(count, m_capacity - m_size);
    return Process(sink);
}

bool CFrameParser::Feed(std::string_view bytes, IFrameSink& sink)
{
    if (m_failed)
        return false;
    if (!bytes.empty()) {
        MakeRoom(bytes.size());
        std::memcpy(m_data.get() + m_size, bytes.data(), bytes.size());
        m_size += bytes.size();
        m_copied += bytes.size();
    }
    return Process(sink);
}

bool CFrameParser::Process(IFrameSink& sink)
{
    char* data = m_data.get();
    while (m_start < m_size) {
        if (m_state == State::Body) {
            if (m_size - m_start < m_length)
                return true; // wait for the rest of the body
            std::size_t length = NormalizeLineEndsInPlace(data + m_start, m_length);
            std::size_t bodyStart = m_start;
            m_start += m_length;
            m_scanned = m_start;
            m_state = State::Header;
            sink.OnFrameBody(std::string_view(data + bodyStart, length));
            continue;
        }

        if (m_quickHeaders && TakeUsualHeader())
            continue;

        // Header: it ends at whichever comes first, LF LF or CR LF CR LF.
        std::size_t from = std::max(m_scanned, m_start);
        std::size_t end = 0;
        while (from < m_size) {
            auto* lf = static_cast<char*>(std::memchr(data + from, '\n', m_size - from));
            if (!lf)
                break;
            std::size_t at = static_cast<std::size_t>(lf - data);
            if (at >= m_start + 1 && data[at - 1] == '\n') {
                end = at + 1;
                break;
            }
            if (at >= m_start + 3 && data[at - 1] == '\r' && data[at - 2] == '\n' &&
                data[at - 3] == '\r') {
                end = at + 1;
                break;
            }
            from = at + 1;
        }
        if (end == 0) {
            // Keep the last bytes in view: a marker may be completed by the next read.
            m_scanned = m_size;
            if (m_size - m_start > kMaxFrameHeader)
                return Fail("The header has no end.");
            return true;
        }
        if (end - m_start > kMaxFrameHeader)
            return Fail("The header is too long.");
        if (!TakeHeader(end, sink))
            return false;
    }
    return true;
}

// Nearly every header is "Server: " + the same value as the last one + CR LF +
// "Content-Length: " + digits + LF LF. Taken as it stands, it gives what the general way
// gives: the value holds no line end, so no earlier end of header is possible, and the
// remembered server value stays as it is.
bool CFrameParser::TakeUsualHeader()
{
    constexpr std::string_view server = "Server: ";
    constexpr std::string_view contentLength = "\r\nContent-Length: ";
    if (m_server.empty())
        return false;
    std::string_view rest(m_data.get() + m_start, m_size - m_start);
    std::size_t at = server.size() + m_server.size() + contentLength.size();
    if (rest.size() < at + 3 || rest.substr(0, server.size()) != server ||
        rest.substr(server.size(), m_server.size()) != m_server ||
        rest.substr(server.size() + m_server.size(), contentLength.size()) != contentLength)
        return false;
    std::size_t length = 0;
    std::size_t digits = 0;
    while (at + digits < rest.size() && digits < 8 && rest[at + digits] >= '0' &&
           rest[at + digits] <= '9') {
        length = length * 10 + static_cast<std::size_t>(rest[at + digits] - '0');
        ++digits;
    }
    at += digits;
    if (digits == 0 || digits == 8 || length > kMaxFrameBody || rest.size() < at + 2 ||
        rest[at] != '\n' || rest[at + 1] != '\n' || at + 2 > kMaxFrameHeader)
        return false;
    m_start += at + 2;
    m_scanned = m_start;
    if (length > 0) {
        m_state = State::Body;
        m_length = length;
    }
    return true;
}

bool CFrameParser::TakeHeader(std::size_t headerEnd, IFrameSink& sink)
{
    std::string_view header(m_data.get() + m_start, headerEnd - m_start);
    m_start = headerEnd;
    m_scanned = headerEnd;

    bool haveLength = false;
    std::size_t length = 0;
    std::string_view firstLine;
    std::string_view host;
    bool first = true;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t stop = header.find_first_of("\r\n", pos);
        if (stop == std::string_view::npos)
            stop = header.size();
        std::string_view line = header.substr(pos, stop - pos);
        pos = stop;
        if (pos < header.size()) {
            if (header[pos] == '\r' && pos + 1 < header.size() && header[pos + 1] == '\n')
                pos += 2;
            else
                ++pos;
        }
        if (first) {
            firstLine = line;
            first = false;
        }
        constexpr std::string_view contentLength = "Content-Length: ";
        constexpr std::string_view hostName = "Host: ";
        constexpr std::string_view server = "Server: ";
        if (StartsWithNoCase(line, contentLength)) {
            if (!ParseLength(line.substr(contentLength.size()), length))
                return Fail("The Content-Length is not acceptable.");
            haveLength = true;
        } else if (StartsWithNoCase(line, hostName)) {
            host = line.substr(hostName.size());
        } else if (StartsWithNoCase(line, server)) {
            // Every frame carries it, nearly always unchanged: copy only what changed.
            std::string_view value = line.substr(server.size());
            if (value != m_server) {
                m_server.assign(value);
                m_copied += m_server.size();
            }
        }
    }

    if (haveLength) {
        if (length > 0) {
            m_state = State::Body;
            m_length = length;
        }
        return true; // a length of 0 is a keep-alive
    }
    HttpRequest request;
    if (ParseHttpGetLine(firstLine, request.Path)) {
        request.Host.assign(host);
        sink.OnHttpRequest(request);
    }
    return true;
}
