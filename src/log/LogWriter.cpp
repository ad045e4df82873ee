#include "log/LogWriter.h"

#include "common/LastErrorText.h"
#include "common/MessageElement.h"
#include "log/LogFile.h"
#include "settings/Options.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t kTailSearch = 100;
constexpr std::string_view kElementEnd = "</message>\r\n";
constexpr size_t kScanChunk = 64 * 1024;

// Where the new elements go, and the bytes from there to the old end of the file (so a
// failed write can put them back).
struct AppendPoint
{
    int64_t Offset = 0;
    std::string OldTail;
};

// An append cut short (the process killed in the middle of its write) leaves a log
// without its closing tag, ending in part of an element. Appending after that would make
// the log unreadable for good; instead the new elements go right after the last complete
// element, or after the header when there is none. Only files that begin with the log
// header are treated so; anything else is appended to as it is.
bool FindRepairPoint(CLogFile& file, int64_t size, AppendPoint& point)
{
    static constexpr std::string_view kDeclarationLine = "<?xml version=\"1.0\"?>\r\n";
    std::string head(static_cast<size_t>(std::min<int64_t>(size, 512)), '\0');
    if (!file.ReadAt(0, head.data(), head.size()))
        return false;
    if (head.compare(0, kDeclarationLine.size(), kDeclarationLine) != 0 ||
        head.compare(kDeclarationLine.size(), 5, "<log ") != 0)
        return false;
    size_t headerEnd = head.find("\r\n", kDeclarationLine.size());
    if (headerEnd == std::string::npos)
        return false;
    const int64_t floor = static_cast<int64_t>(headerEnd + 2);
    point.Offset = floor;
    // Scan backwards in chunks that overlap by the marker's length.
    std::string chunk;
    int64_t end = size;
    while (end > floor) {
        int64_t start = std::max(floor, end - static_cast<int64_t>(kScanChunk));
        chunk.resize(static_cast<size_t>(end - start));
        if (!file.ReadAt(start, chunk.data(), chunk.size()))
            return false;
        size_t at = chunk.rfind(kElementEnd);
        if (at != std::string::npos) {
            point.Offset = start + static_cast<int64_t>(at + kElementEnd.size());
            break;
        }
        if (start == floor)
            break;
        end = start + static_cast<int64_t>(kElementEnd.size()) - 1;
    }
    point.OldTail.resize(static_cast<size_t>(size - point.Offset));
    return file.ReadAt(point.Offset, point.OldTail.data(), point.OldTail.size());
}

bool FindAppendPoint(CLogFile& file, int64_t size, AppendPoint& point)
{
    int64_t start = std::max<int64_t>(0, size - kTailSearch);
    std::string tail(static_cast<size_t>(size - start), '\0');
    if (!file.ReadAt(start, tail.data(), tail.size()))
        return false;
    size_t at = tail.find("</log");
    if (at != std::string::npos) {
        point.Offset = start + static_cast<int64_t>(at);
        point.OldTail = tail.substr(at);
        return true;
    }
    if (FindRepairPoint(file, size, point))
        return true;
    point.Offset = size;
    point.OldTail.clear();
    return true;
}

} // namespace

CLogWriter::CLogWriter(std::function<bool()> loggingOn) : m_loggingOn(std::move(loggingOn)) {}

CLogWriter::CLogWriter(const COptions& options)
    : m_loggingOn([&options] { return options.Get(Opt::LogMessages) != 0; })
{}

CLogWriter::~CLogWriter()
{
    std::string error;
    if (!m_pending.empty() && !Flush(m_finalWait, error)) {
        std::size_t count = 0;
        for (auto at = m_pending.find("<message>"); at != std::string::npos;
             at = m_pending.find("<message>", at + 1))
            ++count;
        std::cerr << "Zib Tam: " << count << (count == 1 ? " message" : " messages")
                  << " could not be written to the log " << m_lastPath << ": " << error << '\n';
    }
}

bool CLogWriter::Flush(std::chrono::milliseconds wait, std::string& error)
{
    if (m_pending.empty())
        return true;
    if (m_lastPath.empty()) {
        error = "No log has been written.";
        return false;
    }
    return WritePending(m_lastPath, wait, error);
}

bool CLogWriter::AppendToLog(const std::string& path, const std::vector<ChatMessage>& messages,
                             std::string& error)
{
    if (m_loggingOn && !m_loggingOn())
        return true;
    for (const ChatMessage& message : messages)
        m_pending += FormatMessageElement(message);
    if (m_pending.empty())
        return true;
    m_lastPath = path;
    return WritePending(path, m_lockWait, error);
}

bool CLogWriter::WritePending(const std::string& path, std::chrono::milliseconds wait,
                              std::string& error)
{
    auto fail = [&error](CLogFile& file) {
        error = LastErrorText();
        int code = errno;
        file.Close();
        errno = code;
        return false;
    };

    CLogFile file;
    if (!file.OpenForAppend(path, wait)) {
        error = LastErrorText();
        return false;
    }
    struct stat info;
    if (::fstat(file.Handle(), &info) != 0)
        return fail(file);
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return fail(file);
    }
    int64_t size = info.st_size;

    AppendPoint point;
    if (size > 0 && !FindAppendPoint(file, size, point))
        return fail(file);

    // The elements and the closing tag go out in one write, so that at no moment does the
    // file hold the new elements without a closing tag when the write itself succeeds.
    std::string block;
    block.reserve((size == 0 ? kLogHeader.size() : 0) + m_pending.size() + kLogTrailer.size());
    if (size == 0)
        block += kLogHeader;
    block += m_pending;
    block += kLogTrailer;
    if (!file.WriteAt(point.Offset, block.data(), block.size())) {
        error = LastErrorText();
        // Put back what was there, so a failed write does not leave half an element.
        // The write's error is the one reported.
        if (file.WriteAt(point.Offset, point.OldTail.data(), point.OldTail.size())) {
            [[maybe_unused]] int truncated = ::ftruncate(file.Handle(), size);
        }
        file.Close();
        return false;
    }
    m_pending.clear();
    int64_t newEnd = point.Offset + static_cast<int64_t>(block.size());
    if (size > newEnd && ::ftruncate(file.Handle(), newEnd) != 0)
        return fail(file);
    if (!file.Close()) {
        error = LastErrorText();
        return false;
    }
    m_lastBytesWritten = block.size();
    return true;
}
