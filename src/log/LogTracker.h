#pragma once
// Reads the XML message log and then follows it while it grows. The writer only ever
// appends in front of the closing tag, so after a full read the tracker remembers the
// file's length and the 512 bytes that stood before the closing tag; a later check reads
// those bytes again and, when they are unchanged, parses only what was appended.
// Anything else (the file shrank, was edited or replaced) asks for a full reload.
#include "common/ChatMessage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CLogFile;
class CPackedMessages;
class IHistoryProgress;
class ILogMessageSink;

inline constexpr size_t kLogFingerprintSize = 512;
// A log is read this many bytes at a time.
inline constexpr size_t kLogReadChunk = 4 * 1024 * 1024;

class CLogTracker
{
public:
    // `yieldWhileParsing`: the XML reader gives up the processor after each element.
    // `readChunk`: the bytes read at a time; a log longer than that is read and parsed a
    // piece at a time, so it is never held whole.
    explicit CLogTracker(bool yieldWhileParsing = true, size_t readChunk = kLogReadChunk)
        : m_yield(yieldWhileParsing), m_readChunk(readChunk > 0 ? readChunk : 1)
    {}

    // Resets the tracker and reads the whole log at `path`. A missing log is an empty one.
    // Failures fill `error`; a cancelled read fails with an empty error.
    bool Load(const std::string& path, std::vector<ChatMessage>& messages,
              IHistoryProgress* progress, std::string& error);
    // The same, each message packed as soon as it is read: a large log is never held as
    // message objects, only as the file's text and the packed messages.
    bool Load(const std::string& path, CPackedMessages& messages, IHistoryProgress* progress,
              std::string& error);

    // Reads the messages appended since the last read. `needsReload` is set when afterwards
    // the tracker is not loaded (the log changed in another way, or was never loaded).
    bool CheckForChanges(std::vector<ChatMessage>& messages, IHistoryProgress* progress,
                         std::string& error, bool& needsReload);

    // Parses a complete log document into its messages.
    static bool ReadLogText(std::string_view text, std::vector<ChatMessage>& messages,
                            IHistoryProgress* progress, std::string& error, bool yield = true);

    // The newest messages of a large log, from its last `bytes` bytes, to show while the
    // whole log is read. False (nothing worth showing early) for a log of less than twice
    // that, or when the end does not read as messages.
    static bool ReadLogTail(const std::string& path, size_t bytes,
                            std::vector<ChatMessage>& messages);

    void Reset();
    bool IsLoaded() const { return m_loaded; }
    const std::string& Path() const { return m_path; }
    int64_t KnownLength() const { return m_knownLength; }
    const std::string& Fingerprint() const { return m_fingerprint; }
    // Bytes read from the file by the last load or check.
    uint64_t LastBytesRead() const { return m_lastBytesRead; }

private:
    // Hands each message to `sink` as it is read; none when the read fails.
    bool Read(ILogMessageSink& sink, IHistoryProgress* progress, std::string& error);
    // The same, but on failure some may have been handed; `inPieces`: a long log may be
    // read a piece at a time.
    bool ReadFile(ILogMessageSink& sink, IHistoryProgress* progress, std::string& error,
                  bool inPieces);
    enum class PieceRead
    {
        Done,
        Failed, // `error` says why
        Cancelled,
        Whole, // a piece did not read as a document: the log is to be read whole
    };
    // Reads the `size` bytes of `file` a piece at a time, parsing each piece of whole
    // elements as it comes; `ending` gets the file's last bytes (the fingerprint's and the
    // closing tag's).
    PieceRead ReadInPieces(CLogFile& file, int64_t size, ILogMessageSink& sink,
                           IHistoryProgress* progress, std::string& ending, std::string& error);

    bool m_yield;
    size_t m_readChunk;
    std::string m_path;
    bool m_loaded = false;
    bool m_endsWithTrailer = false;
    std::string m_fingerprint;
    int64_t m_knownLength = 0;
    uint64_t m_lastBytesRead = 0;
};
