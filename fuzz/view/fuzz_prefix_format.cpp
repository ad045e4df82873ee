// Any format text, sender, recipients and time must format without fault, and any text
// must go through both message writers.
#include "view/HtmlMessageWriter.h"
#include "view/PrefixFormat.h"
#include "view/RtfMessageWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Layout: six time fields, a flag byte, then the format and the text split at the
    // first zero byte.
    MessageTime time;
    int32_t fields[6] = {2000, 5, 8, 15, 47, 38};
    const size_t head = sizeof fields + 1;
    if (size >= head) {
        std::memcpy(fields, data, sizeof fields);
        const uint8_t flags = data[sizeof fields];
        time.HasYear = flags & 1;
        time.HasMonth = flags & 2;
        time.HasDay = flags & 4;
        time.HasHour = flags & 8;
        time.HasMinute = flags & 16;
        time.HasSecond = flags & 32;
        data += head;
        size -= head;
    }
    time.Year = fields[0];
    time.Month = fields[1];
    time.Day = fields[2];
    time.Hour = fields[3];
    time.Minute = fields[4];
    time.Second = fields[5];

    std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    std::string_view format = input.substr(0, split);
    std::string_view text = split == std::string_view::npos ? input : input.substr(split + 1);

    CPrefixFormat prefix(format);
    std::vector<PrefixLink> links;
    const std::string line = prefix.Format(time, text.substr(0, 64), "Owen", 1, 10, &links);
    for (const PrefixLink& link : links)
        if (link.Start < 10 || link.End < link.Start ||
            static_cast<size_t>(link.End - 10) > line.size())
            __builtin_trap();

    FontSpec font;
    font.FaceName = std::string(text.substr(0, 32));
    CRtfMessageWriter rtf;
    rtf.BeginDocument(font, font, 0);
    rtf.Add(line, text);
    rtf.EndDocument(true);
    CHtmlMessageWriter html;
    html.BeginDocument(font, font, 0);
    html.Add(line, text);
    html.EndDocument(false);
    return 0;
}
