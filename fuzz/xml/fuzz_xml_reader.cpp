// Feeds arbitrary bytes to the XML reader, the entity decoder and the escaper.
#include "xml/XmlReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Touches everything a handler may look at, so the sanitizers see every view.
class TouchingHandler : public IXmlHandler
{
public:
    size_t Sum = 0;
    void OnStartElement(const XmlElement* stack, int depth) override
    {
        for (int i = 0; i < depth && i < 4; ++i)
            Touch(stack[depth - 1 - i]);
    }
    void OnEndElement(const XmlElement* stack, int depth) override { Touch(stack[depth - 1]); }

private:
    void Touch(const XmlElement& element)
    {
        Sum += element.Name.ToString().size() + element.Value.ToString().size();
        for (const XmlAttribute& attribute : element.Attributes)
            Sum += attribute.Name.ToString().size() + attribute.Value.ToString().size();
        if (const XmlText* id = element.FindAttribute("id"))
            Sum += static_cast<size_t>(id->Length());
        int number = 0;
        if (ParseXmlInt(element.Value, number))
            Sum += static_cast<size_t>(number & 1);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);

    CXmlReader reader(false);
    TouchingHandler handler;
    std::string error;
    if (!reader.Parse(input, handler, error) && error.find("\nOffset: ") == std::string::npos)
        std::abort();

    std::string decoded;
    DecodeXmlEntities(input, decoded, error);

    // Whatever is escaped reads back as itself (less leading whitespace, up to a zero byte).
    std::string text = input.substr(0, input.find('\0'));
    std::string escaped = text;
    EscapeXml(escaped);
    class Grab : public IXmlHandler
    {
    public:
        std::string Value;
        void OnStartElement(const XmlElement* stack, int depth) override
        {
            if (depth == 2)
                Value = stack[1].Value.ToString();
        }
        void OnEndElement(const XmlElement*, int) override {}
    } grab;
    CXmlReader second(false);
    if (!second.Parse("<?xml?><v>" + escaped + "</v>", grab, error))
        std::abort();
    size_t start = text.find_first_not_of("\t\n\v\f\r ");
    if (grab.Value != (start == std::string::npos ? std::string() : text.substr(start)))
        std::abort();
    return 0;
}
