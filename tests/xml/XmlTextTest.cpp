#include "xml/XmlReader.h"

#include <gtest/gtest.h>

namespace {

TEST(XmlText, AbsentDiffersFromEmpty)
{
    XmlText absent;
    XmlText empty = XmlText::View("", 0);
    EXPECT_TRUE(absent.IsAbsent());
    EXPECT_EQ(absent.Length(), -1);
    EXPECT_EQ(absent.ToString(), "");
    EXPECT_FALSE(absent == empty);
    EXPECT_TRUE(absent == XmlText());
    EXPECT_TRUE(XmlText(std::string("ab")) == XmlText::View("abc", 2));
    EXPECT_FALSE(XmlText(std::string("ab")) == XmlText::View("aB", 2));
}

TEST(DecodeXmlEntities, Table)
{
    struct Case
    {
        std::string In;
        bool Ok;
        std::string Out; // decoded text or error
    };
    const Case cases[] = {
        {"&#65;", true, "A"},
        {"a&lt;b&gt;c&amp;d&apos;e&quot;f", true, "a<b>c&d'e\"f"},
        {"&#233;&#009;", true, "\xe9\t"},
        {"&#;", true, std::string(1, '\0')},
        {"&#255;", true, "\xff"},
        {"&#256;", false, "The entity \"&#256;\" is not valid."},
        {"&#1000;", false, "The entity \"&#1000;\" is not valid."},
        {"&#x41;", false, "The entity \"&#x41;\" is not valid."},
        {"&#99999999999;", false, "The entity \"&#99999999999;\" is not valid."},
        {"&nbsp;", false, "The entity \"&nbsp;\" is not valid."},
        {"&LT;", false, "The entity \"&LT;\" is not valid."},
        {"&;", false, "The entity \"&;\" is not valid."},
        {"a & b", false, "Could not find the end of the entity."},
    };
    for (const Case& c : cases) {
        std::string out, error;
        bool ok = DecodeXmlEntities(c.In, out, error);
        EXPECT_EQ(ok, c.Ok) << c.In;
        EXPECT_EQ(ok ? out : error, c.Out) << c.In;
    }
}

TEST(EscapeXml, Table)
{
    struct Case
    {
        std::string In;
        std::string Out;
    };
    const Case cases[] = {
        {"a<b & c", "a&lt;b &amp; c"},  {"'\">", "&apos;&quot;&gt;"},
        {"\t\n\v\f\r ", "\t\n\v\f\r "}, {"\x01", "&#1;"},
        {"Ren\xe9", "Ren&#233;"},       {"\x7f\x80", "&#127;&#128;"},
        {"plain~!", "plain~!"},
    };
    for (const Case& c : cases) {
        std::string text = c.In;
        EscapeXml(text);
        EXPECT_EQ(text, c.Out);
    }
}

// Escaping then reading a value gives the text back, except leading whitespace.
TEST(EscapeXml, RoundTripsThroughTheReader)
{
    std::string original;
    for (int b = 1; b < 256; ++b)
        original += static_cast<char>(b);
    std::string escaped = original;
    EscapeXml(escaped);
    std::string document = "<?xml?><v>" + escaped + "</v>";
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
    CXmlReader reader(false);
    std::string error;
    ASSERT_TRUE(reader.Parse(document, grab, error)) << error;
    std::string expected = original.substr(original.find_first_not_of("\t\n\v\f\r "));
    EXPECT_EQ(grab.Value, expected);
}

TEST(ParseXmlInt, Table)
{
    struct Case
    {
        const char* In; // null: absent
        bool Ok;
        int Value;
    };
    const Case cases[] = {
        {" 007 ", true, 7},     {"0000", true, 0},      {"12345", false, 0}, {"12x", true, 12},
        {"2000", true, 2000},   {"", false, 0},         {"   ", false, 0},   {nullptr, false, 0},
        {"00012345", false, 0}, {"\t59\r\n", true, 59}, {"x", true, 0},
    };
    for (const Case& c : cases) {
        XmlText text = c.In ? XmlText(std::string(c.In)) : XmlText();
        int value = -99;
        EXPECT_EQ(ParseXmlInt(text, value), c.Ok) << (c.In ? c.In : "(absent)");
        if (c.Ok) {
            EXPECT_EQ(value, c.Value) << c.In;
        }
    }
}

} // namespace
