// Arbitrary bytes from a peer, cut into arbitrary reads: the frame parser must give the
// same units however the stream is cut, never hold more than its limits allow, and every
// document it reads must be writable again as a frame that reads back.
#include "net/Frame.h"
#include "net/ProtocolDocument.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Sink : public IFrameSink
{
public:
    std::vector<std::string> Units;
    bool CheckDocuments = false;

    void OnFrameBody(std::string_view body) override
    {
        Units.push_back("B" + std::string(body));
        if (!CheckDocuments)
            return;
        ProtocolDocument document;
        std::string error;
        if (!ReadProtocolDocument(body, document, error))
            return;
        // What we read, we can write; what we write, we can read.
        std::string frame = FormatDocumentFrame(document);
        CFrameParser parser;
        Sink again;
        if (!parser.Feed(frame, again))
            std::abort();
        if (document.Type == DocumentType::KeepAlive)
            return;
        if (again.Units.size() != 1)
            std::abort();
        ProtocolDocument reread;
        if (!ReadProtocolDocument(std::string_view(again.Units[0]).substr(1), reread, error))
            std::abort();
        if (reread.Type != document.Type)
            std::abort();
    }
    void OnHttpRequest(const HttpRequest& request) override
    {
        Units.push_back("G" + request.Path + "\n" + request.Host);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses how the rest is cut into reads.
    unsigned cut = data[0] % 64 + 1;
    std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    CFrameParser whole;
    Sink wholeUnits;
    wholeUnits.CheckDocuments = true;
    bool wholeOk = whole.Feed(stream, wholeUnits);

    CFrameParser pieces;
    Sink pieceUnits;
    bool piecesOk = true;
    for (std::size_t at = 0; at < stream.size() && piecesOk; at += cut) {
        std::string_view piece = stream.substr(at, cut);
        char* area = pieces.WriteArea(piece.size());
        piece.copy(area, piece.size());
        piecesOk = pieces.Commit(piece.size(), pieceUnits);
    }
    if (wholeOk != piecesOk || wholeUnits.Units != pieceUnits.Units)
        std::abort();
    if (pieces.ServerHeader() != whole.ServerHeader())
        std::abort();
    if (whole.Buffered() > kMaxFrameHeader + kMaxFrameBody)
        std::abort();
    return 0;
}
