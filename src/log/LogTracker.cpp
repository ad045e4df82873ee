#include "log/LogTracker.h"

#include "common/MessageElement.h"
#include "log/LogFile.h"
#include "log/PackedMessages.h"
#include "view/HistoryProgress.h"
#include "xml/XmlReader.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sys/stat.h>

namespace {

const char* const kOpenFailed = "Could not open the Zib Tam log.";
const char* const kLengthFailed = "Could not determine the length of the Zib Tam log.";
const char* const kReloadNeeded = "The Zib Tam log needs to be reloaded.";
const char* const kChangesReadFailed = "Could not read the changes to the Zib Tam log.";
const char* const kReadFailed = "Could not read the Zib Tam log.";
const char* const kInterpretFailed = "Could not interpret the XML log.\n\n";

bool IsCancelled(IHistoryProgress* progress)
{
    return progress && progress->IsCancelled();
}

} // namespace

// Where the messages of a log go as they are read.
class ILogMessageSink
{
public:
    virtual ~ILogMessageSink() = default;
    // The part read is `bytes` long: its messages take fewer once read.
    virtual void Expect(size_t bytes) { (void)bytes; }
    virtual void Add(ChatMessage&& message) = 0;
    // Forgets the messages handed so far: the log is read again from its start.
    virtual void Restart() = 0;
};

namespace {

class CVectorSink : public ILogMessageSink
{
public:
    explicit CVectorSink(std::vector<ChatMessage>& messages) : m_messages(messages) {}
    void Add(ChatMessage&& message) override { m_messages.push_back(std::move(message)); }
    void Restart() override { m_messages.clear(); }

private:
    std::vector<ChatMessage>& m_messages;
};

class CPackedSink : public ILogMessageSink
{
public:
    explicit CPackedSink(CPackedMessages& messages) : m_messages(messages) {}
    // A packed message is shorter than the element the program writes for it (every field
    // is, and the tags go), so the part's length is room enough and the buffer is not
    // copied as it fills; room never filled is never touched and takes no memory. A quarter
    // more is for following the log. An element takes a hundred bytes at least.
    void Expect(size_t bytes) override
    {
        m_messages.Reserve(bytes / 100 + 64, bytes + bytes / 4 + 16384);
    }
    void Add(ChatMessage&& message) override { m_messages.Add(message); }
    void Restart() override { m_messages.Release(); }

private:
    CPackedMessages& m_messages;
};

// Hands the <message> elements under the <log> root to a sink, each once it has ended.
class CLogHandler : public IXmlHandler
{
public:
    CLogHandler(ILogMessageSink& sink, IHistoryProgress* progress)
        : m_sink(sink), m_progress(progress)
    {}

    void OnStartElement(const XmlElement* stack, int depth) override
    {
        if (m_cancelled || !m_error.empty())
            return;
        if (IsCancelled(m_progress)) {
            m_cancelled = true;
            return;
        }
        const XmlElement& element = stack[depth - 1];
        if (depth == 2) {
            if (!element.Name.Is("log"))
                m_error = "Could not find the <log> tag";
            m_inMessage = false;
        } else if (depth == 3) {
            m_inMessage = element.Name.Is("message");
            if (m_inMessage)
                m_message = ChatMessage();
        } else if ((depth == 4 || depth == 5) && m_inMessage) {
            ReadMessageChild(stack, depth, 3, m_message);
        }
    }
    void OnEndElement(const XmlElement*, int depth) override
    {
        if (depth == 3 && m_inMessage && !m_cancelled && m_error.empty())
            m_sink.Add(std::move(m_message));
        if (depth == 3)
            m_inMessage = false;
    }

    bool Cancelled() const { return m_cancelled; }
    const std::string& Error() const { return m_error; }

private:
    ILogMessageSink& m_sink;
    IHistoryProgress* m_progress;
    ChatMessage m_message; // the one being read
    bool m_inMessage = false;
    bool m_cancelled = false;
    std::string m_error;
};

// Parses a complete log document; on failure, some messages may have been handed on.
bool ParseLogText(std::string_view text, ILogMessageSink& sink, IHistoryProgress* progress,
                  std::string& error, bool yield)
{
    CXmlReader reader(yield);
    CLogHandler handler(sink, progress);
    std::string parseError;
    bool parsed = reader.Parse(text, handler, parseError);
    // A cancelled read is no result: the messages seen so far are not all there are.
    if (handler.Cancelled() || IsCancelled(progress)) {
        error.clear();
        return false;
    }
    if (!parsed) {
        error = kInterpretFailed + parseError;
        return false;
    }
    if (!handler.Error().empty()) {
        error = kInterpretFailed + handler.Error();
        return false;
    }
    return true;
}

bool Exists(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) == 0)
        return true;
    // Anything but "not there" is left to the open, which reports it.
    return errno != ENOENT && errno != ENOTDIR;
}

} // namespace

bool CLogTracker::ReadLogText(std::string_view text, std::vector<ChatMessage>& messages,
                              IHistoryProgress* progress, std::string& error, bool yield)
{
    messages.clear();
    CVectorSink sink(messages);
    if (ParseLogText(text, sink, progress, error, yield))
        return true;
    messages.clear();
    return false;
}

void CLogTracker::Reset()
{
    m_path.clear();
    m_loaded = false;
    m_endsWithTrailer = false;
    m_fingerprint.clear();
    m_knownLength = 0;
}

bool CLogTracker::Load(const std::string& path, std::vector<ChatMessage>& messages,
                       IHistoryProgress* progress, std::string& error)
{
    Reset();
    m_path = path;
    CVectorSink sink(messages);
    return Read(sink, progress, error);
}

bool CLogTracker::Load(const std::string& path, CPackedMessages& messages,
                       IHistoryProgress* progress, std::string& error)
{
    Reset();
    m_path = path;
    CPackedSink sink(messages);
    return Read(sink, progress, error);
}

bool CLogTracker::CheckForChanges(std::vector<ChatMessage>& messages, IHistoryProgress* progress,
                                  std::string& error, bool& needsReload)
{
    error.clear();
    messages.clear();
    m_lastBytesRead = 0;
    CVectorSink sink(messages);
    bool ok = m_loaded ? Read(sink, progress, error) : true;
    needsReload = !m_loaded;
    return ok;
}

bool CLogTracker::Read(ILogMessageSink& sink, IHistoryProgress* progress, std::string& error)
{
    // Nothing of a failed read is kept.
    sink.Restart();
    if (ReadFile(sink, progress, error, true))
        return true;
    sink.Restart();
    return false;
}

bool CLogTracker::ReadFile(ILogMessageSink& sink, IHistoryProgress* progress, std::string& error,
                           bool inPieces)
{
    error.clear();
    m_lastBytesRead = 0;

    if (!Exists(m_path)) {
        // A missing log is an empty one. Remembering it as such lets the next check read
        // the log in full once it appears, instead of asking for a reload.
        if (!m_loaded) {
            m_loaded = true;
            m_knownLength = 0;
            m_fingerprint.clear();
            m_endsWithTrailer = false;
        }
        return true;
    }
    if (IsCancelled(progress))
        return false;

    CLogFile file;
    if (!file.OpenForReading(m_path)) {
        error = kOpenFailed;
        return false;
    }
    struct stat info;
    if (::fstat(file.Handle(), &info) != 0) {
        error = kLengthFailed;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = kOpenFailed;
        return false;
    }
    if (IsCancelled(progress))
        return false;

    const int64_t size = info.st_size;
    const int64_t trailer = static_cast<int64_t>(kLogTrailer.size());
    // Incremental only when something was read before; a log that was empty or missing
    // is read in full.
    const bool incremental = m_loaded && m_knownLength > 0;
    int64_t partStart = 0;
    int64_t fingerprintStart = 0;
    if (incremental) {
        if (size < m_knownLength) {
            Reset();
            error = kReloadNeeded;
            return false;
        }
        // The bytes before the old closing tag; fewer than 512 when the log is that short.
        int64_t fingerprintEnd = std::max<int64_t>(0, m_knownLength - trailer);
        fingerprintStart =
            std::max<int64_t>(0, fingerprintEnd - static_cast<int64_t>(kLogFingerprintSize));
        std::string now(static_cast<size_t>(fingerprintEnd - fingerprintStart), '\0');
        if (!file.ReadAt(fingerprintStart, now.data(), now.size())) {
            error = kChangesReadFailed;
            return false;
        }
        m_lastBytesRead += now.size();
        if (IsCancelled(progress))
            return false;
        if (now != m_fingerprint) {
            Reset();
            error = kReloadNeeded;
            return false;
        }
        if (size == m_knownLength)
            return true;
        if (!m_endsWithTrailer) {
            // The new bytes would not follow a closing tag; only a full read can tell.
            Reset();
            error = kReloadNeeded;
            return false;
        }
        partStart = m_knownLength - trailer;
    }

    if (IsCancelled(progress))
        return false;
    // The new fingerprint: the (at most 512) bytes before the new closing tag. They lie
    // in the old fingerprint followed by the part read, which together run without a gap
    // from `fingerprintStart` (0 on a full read) to the end of the file. `part` is the part
    // read from `from` on, or its end.
    const auto finish = [&](std::string_view part, int64_t from) {
        const int64_t newEnd = std::max<int64_t>(0, size - trailer);
        const int64_t newStart =
            std::max<int64_t>(0, newEnd - static_cast<int64_t>(kLogFingerprintSize));
        std::string fingerprint;
        if (incremental && newStart < from)
            fingerprint = m_fingerprint.substr(static_cast<size_t>(newStart - fingerprintStart));
        const int64_t fromPart = std::max(newStart, from);
        if (newEnd > fromPart)
            fingerprint += part.substr(static_cast<size_t>(fromPart - from),
                                       static_cast<size_t>(newEnd - fromPart));
        m_fingerprint = std::move(fingerprint);
        m_endsWithTrailer = part.size() >= kLogTrailer.size() &&
                            part.substr(part.size() - kLogTrailer.size()) == kLogTrailer;
        m_knownLength = size;
        m_loaded = true;
        return true;
    };

    if (!incremental && inPieces && size > static_cast<int64_t>(m_readChunk)) {
        std::string ending;
        switch (ReadInPieces(file, size, sink, progress, ending, error)) {
        case PieceRead::Done:
            return finish(ending, size - static_cast<int64_t>(ending.size()));
        case PieceRead::Failed:
        case PieceRead::Cancelled:
            return false;
        case PieceRead::Whole:
            break;
        }
        // What is wrong with the log, and where, is told by reading it whole.
        file.Close();
        sink.Restart();
        return ReadFile(sink, progress, error, false);
    }

    // When following the log, the header goes in front of the new part, which makes the
    // new elements and the closing tag a complete document.
    const size_t prefix = incremental ? kLogHeader.size() : 0;
    const size_t total = prefix + static_cast<size_t>(size - partStart);
    std::string text;
    text.reserve(total);
    if (incremental)
        text = kLogHeader;
    // A few megabytes at a time, the memory too: taking and reading a large log whole left
    // the window unpainted (and Cancel unheard) for a fifth of a second before parsing.
    while (text.size() < total) {
        const size_t at = text.size();
        const size_t length = std::min(m_readChunk, total - at);
        text.resize(at + length);
        if (!file.ReadAt(partStart + static_cast<int64_t>(at - prefix), text.data() + at, length)) {
            error = kReadFailed;
            return false;
        }
        if (IsCancelled(progress))
            return false;
    }
    m_lastBytesRead += text.size() - prefix;
    file.Close();
    if (IsCancelled(progress))
        return false;

    sink.Expect(text.size() - prefix);
    std::string parseError;
    if (!ParseLogText(text, sink, progress, parseError, m_yield)) {
        // A cancelled parse leaves the tracker as it was, so the next check reads the same part.
        if (!parseError.empty() && m_loaded)
            Reset();
        error = parseError;
        return false;
    }
    return finish(std::string_view(text).substr(prefix), partStart);
}

CLogTracker::PieceRead CLogTracker::ReadInPieces(CLogFile& file, int64_t size,
                                                 ILogMessageSink& sink, IHistoryProgress* progress,
                                                 std::string& ending, std::string& error)
{
    // The ending and the first chunk are read under the lock. The writer only ever writes
    // from the closing tag on (within the ending), so the rest stays as it was while the
    // lock is let go for the parse, and a writer need not wait for it.
    const size_t endingSize =
        std::min(static_cast<size_t>(size), kLogFingerprintSize + kLogTrailer.size());
    const int64_t bodyEnd = size - static_cast<int64_t>(endingSize);
    ending.assign(endingSize, '\0');
    std::string pending; // read, not yet parsed
    int64_t at = 0;
    const auto readChunk = [&] {
        const size_t length =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(m_readChunk), bodyEnd - at));
        const size_t old = pending.size();
        pending.resize(old + length);
        if (!file.ReadAt(at, pending.data() + old, length))
            return false;
        at += static_cast<int64_t>(length);
        m_lastBytesRead += length;
        return true;
    };
    if (!file.ReadAt(bodyEnd, ending.data(), ending.size()) || !readChunk()) {
        error = kReadFailed;
        return PieceRead::Failed;
    }
    m_lastBytesRead += ending.size();
    file.Unlock();
    sink.Expect(static_cast<size_t>(size));
    // Each piece ends before a line that starts a message element; with the header in
    // front of it (but the first) and the closing tag after it (but the last) it is a
    // document. When every piece reads as one, the log reads as one, to the same messages;
    // else the log is read whole, for the error that tells where it went wrong.
    constexpr std::string_view kCutBefore = "\n   <message>";
    bool first = true;
    for (;;) {
        if (IsCancelled(progress))
            return PieceRead::Cancelled;
        const bool last = at == bodyEnd;
        if (last)
            pending += ending;
        const size_t found = last ? std::string::npos : pending.rfind(kCutBefore);
        const size_t cut = last ? pending.size() : found == std::string::npos ? 0 : found + 1;
        if (cut > 0) {
            std::string document;
            document.reserve((first ? 0 : kLogHeader.size()) + cut + kLogTrailer.size());
            if (!first)
                document = kLogHeader;
            document.append(pending, 0, cut);
            if (!last)
                document += kLogTrailer;
            pending.erase(0, cut);
            std::string pieceError;
            if (!ParseLogText(document, sink, progress, pieceError, m_yield))
                return pieceError.empty() ? PieceRead::Cancelled : PieceRead::Whole;
            first = false;
        }
        if (last)
            break;
        if (!readChunk()) {
            error = kReadFailed;
            return PieceRead::Failed;
        }
    }
    file.Close();
    return PieceRead::Done;
}

bool CLogTracker::ReadLogTail(const std::string& path, size_t bytes,
                              std::vector<ChatMessage>& messages)
{
    messages.clear();
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : 0;
    if (size < static_cast<std::streamoff>(2 * bytes))
        return false;
    std::string tail(bytes, '\0');
    file.seekg(size - static_cast<std::streamoff>(bytes));
    if (!file.read(tail.data(), static_cast<std::streamsize>(bytes)))
        return false;
    // Texts are escaped, so a line that starts a message element is one.
    const size_t start = tail.find("\r\n   <message>");
    if (start == std::string::npos)
        return false;
    std::string document(kLogHeader);
    document.append(tail, start + 2);
    std::string error;
    return ReadLogText(document, messages, nullptr, error, false) && !messages.empty();
}
