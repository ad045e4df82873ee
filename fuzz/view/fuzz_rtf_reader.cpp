// The RTF reader takes the history's documents and the About text; whatever bytes it gets,
// it must neither crash nor hand on an empty run, and what it reads of a document the
// writer made from these bytes must be the bytes the writer kept.
#include "view/RtfMessageWriter.h"
#include "view/RtfReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct TextSink : IRtfSink
{
    std::string All;
    void Text(std::string_view text, const RtfCharFormat&) override
    {
        if (text.empty())
            std::abort();
        All += text;
    }
    void Paragraph(RtfAlignment) override { All += '\n'; }
    void End(RtfAlignment) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TextSink raw;
    ReadRtf(input, raw);

    // The same bytes as a message: read back exactly what the writer kept.
    FontSpec font;
    font.Valid = true;
    font.FaceName = std::string(input.substr(0, 8));
    font.Size = 200;
    CRtfMessageWriter writer;
    writer.BeginDocument(font, font, 0);
    writer.Add("", input);
    writer.EndDocument(false);
    TextSink back;
    ReadRtf(writer.Document(), back);
    std::string kept;
    for (char c : input)
        if (static_cast<unsigned char>(c) >= 32 || c == '\t' || c == '\n')
            kept += c;
    if (back.All != kept + "\n")
        std::abort();
    return 0;
}
