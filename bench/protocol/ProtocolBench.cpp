// How fast the receive path turns bytes into documents. The server must route 20,000
// messages per second; the frame parser should be a small part of that.
//
//   bench_protocol                     all of them
//   frames_per_s                       frames the parser completes per second
//   copied_bytes_per_frame             bytes the parser moved in its own memory per frame
//                                      (the frame's own bytes once when fed, none when
//                                      the socket reads straight into the parser)
//   BM_FrameAndDocument vs BM_XmlReaderSetUp: how much of reading a document is the
//                                      reader's set-up rather than the parse
//   BM_FrameAndDocumentKept            the same as the server reads: keeping the frame to
//                                      forward it unchanged
#include "net/Frame.h"
#include "net/ProtocolDocument.h"
#include "xml/XmlReader.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <string>

namespace {

// A typical message: one recipient, a sentence of text.
std::string TypicalFrame()
{
    ChatMessage message;
    message.Id = "1f";
    message.Sender = "R.T. Holm";
    message.Recipients = {"Owen"};
    message.Text = "Meeting moved to room 4 this afternoon; bring the printouts, please.";
    message.Time = MessageTime::From(957793658);
    return FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
}

class CountingSink : public IFrameSink
{
public:
    std::size_t Bodies = 0;
    std::size_t Bytes = 0;
    void OnFrameBody(std::string_view body) override
    {
        ++Bodies;
        Bytes += body.size();
    }
    void OnHttpRequest(const HttpRequest&) override {}
};

// `keep`: as the server reads, keeping the frame to forward it unchanged.
template <bool keep> class DocumentSink : public IFrameSink
{
public:
    std::size_t Documents = 0;
    void OnFrameBody(std::string_view body) override
    {
        ProtocolDocument document;
        std::string error;
        if (ReadProtocolDocument(body, document, error, keep) &&
            document.Type == DocumentType::Message)
            ++Documents;
    }
    void OnHttpRequest(const HttpRequest&) override {}
};

// `framesPerRead` frames arrive per read (1: a quiet connection; many: a busy one, cut at
// 16,384 bytes like the socket's reads).
template <typename Sink> void RunParser(benchmark::State& state, bool direct)
{
    const std::string frame = TypicalFrame();
    const std::size_t framesPerRead = static_cast<std::size_t>(state.range(0));
    std::string stream;
    for (std::size_t i = 0; i < framesPerRead; ++i)
        stream += frame;
    const std::size_t readSize = 16384;

    CFrameParser parser;
    Sink sink;
    std::size_t frames = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += readSize) {
            std::size_t n = std::min(readSize, stream.size() - at);
            if (direct) {
                // As the socket does: the kernel writes into the parser's own buffer.
                char* area = parser.WriteArea(readSize);
                std::memcpy(area, stream.data() + at, n); // stands in for recv()
                parser.Commit(n, sink);
            } else {
                parser.Feed(std::string_view(stream).substr(at, n), sink);
            }
        }
        frames += framesPerRead;
    }
    benchmark::DoNotOptimize(sink);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["frame_bytes"] = static_cast<double>(frame.size());
    state.counters["copied_bytes_per_frame"] =
        static_cast<double>(parser.BytesCopied()) / static_cast<double>(frames ? frames : 1);
    state.SetBytesProcessed(static_cast<int64_t>(frames * frame.size()));
}

void BM_FrameParser_Direct(benchmark::State& state)
{
    RunParser<CountingSink>(state, true);
}
void BM_FrameParser_Feed(benchmark::State& state)
{
    RunParser<CountingSink>(state, false);
}
// Frames and the XML of their documents: the whole receive path without the socket.
void BM_FrameAndDocument(benchmark::State& state)
{
    RunParser<DocumentSink<false>>(state, true);
}

void BM_FrameAndDocumentKept(benchmark::State& state)
{
    RunParser<DocumentSink<true>>(state, true);
}

void BM_WriteMessageFrame(benchmark::State& state)
{
    ChatMessage message;
    message.Id = "1f";
    message.Sender = "R.T. Holm";
    message.Recipients = {"Owen"};
    message.Text = "Meeting moved to room 4 this afternoon; bring the printouts, please.";
    message.Time = MessageTime::From(957793658);
    const ProtocolDocument document = ProtocolDocument::MakeMessage(message);
    std::size_t frames = 0;
    for (auto _ : state) {
        std::string frame = FormatDocumentFrame(document);
        benchmark::DoNotOptimize(frame);
        ++frames;
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// What one document costs before any byte is parsed: a fresh XML reader per document.
void BM_XmlReaderSetUp(benchmark::State& state)
{
    for (auto _ : state) {
        CXmlReader reader(false);
        benchmark::DoNotOptimize(&reader);
    }
}

} // namespace

BENCHMARK(BM_FrameParser_Direct)->Arg(1)->Arg(40);
BENCHMARK(BM_FrameParser_Feed)->Arg(1)->Arg(40);
BENCHMARK(BM_FrameAndDocument)->Arg(1)->Arg(40);
BENCHMARK(BM_FrameAndDocumentKept)->Arg(40);
BENCHMARK(BM_WriteMessageFrame);
BENCHMARK(BM_XmlReaderSetUp);
