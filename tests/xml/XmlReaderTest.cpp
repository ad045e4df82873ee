#include "xml/XmlReader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string Prefix(char sign, int depth)
{
    std::string text(1, sign);
    text += std::to_string(depth);
    text += ' ';
    return text;
}

// Writes every event as one line: "+depth name=value [attr=value ...]" or "-depth name".
class TraceHandler : public IXmlHandler
{
public:
    std::vector<std::string> Events;

    void OnStartElement(const XmlElement* stack, int depth) override
    {
        const XmlElement& e = stack[depth - 1];
        std::string line = Prefix('+', depth) + e.Name.ToString();
        if (!e.Value.IsAbsent()) {
            line += '=';
            line += e.Value.Str();
        }
        for (const XmlAttribute& a : e.Attributes) {
            line += " [";
            line += a.Name.Str();
            line += '=';
            line += a.Value.Str();
            line += ']';
        }
        Events.push_back(line);
    }
    void OnEndElement(const XmlElement* stack, int depth) override
    {
        Events.push_back(Prefix('-', depth) + stack[depth - 1].Name.ToString());
    }
};

struct Parsed
{
    bool Ok;
    std::string Error;
    std::vector<std::string> Events;
};

Parsed ParseText(std::string_view text)
{
    CXmlReader reader(false);
    TraceHandler handler;
    Parsed result;
    result.Ok = reader.Parse(text, handler, result.Error);
    result.Events = handler.Events;
    return result;
}

const std::string kDecl = "<?xml version=\"1.0\"?>";

struct GoodCase
{
    std::string Document;
    std::vector<std::string> Events;
};

TEST(XmlReader, AcceptedDocumentsReportElementsInOrder)
{
    const GoodCase cases[] = {
        {kDecl + "<a><b>x</b></a>", {"+1 xml [version=1.0]", "+2 a", "+3 b=x", "-3 b", "-2 a"}},
        {kDecl, {"+1 xml [version=1.0]"}},
        {"  \r\n<?xml?>", {"+1 xml"}},
        // Leading whitespace of a value is dropped, trailing whitespace kept, entities decoded.
        {kDecl + "<t>  a &amp; b  </t>", {"+1 xml [version=1.0]", "+2 t=a & b  ", "-2 t"}},
        // CDATA is literal, whitespace and all.
        {kDecl + "<t> <![CDATA[ <x> &amp; ]]> </t>",
         {"+1 xml [version=1.0]", "+2 t= <x> &amp; ", "-2 t"}},
        // Self-closing, with and without a blank; attributes literal; first duplicate wins.
        {kDecl + "<r><e a = \"&lt;1\" b=\"\" a=\"2\" /><f/></r>",
         {"+1 xml [version=1.0]", "+2 r", "+3 e [a=&lt;1] [b=]", "-3 e", "+3 f", "-3 f", "-2 r"}},
        // An element with no content, or only whitespace, has no value.
        {kDecl + "<r><e></e><f> \r\n </f></r>",
         {"+1 xml [version=1.0]", "+2 r", "+3 e", "-3 e", "+3 f", "-3 f", "-2 r"}},
        // Names are taken as written: a prefix is part of the name, case matters.
        {kDecl + "<ns:Log><Id>7</Id></ns:Log>",
         {"+1 xml [version=1.0]", "+2 ns:Log", "+3 Id=7", "-3 Id", "-2 ns:Log"}},
        // Several roots one after the other.
        {kDecl + "<a/><b>1</b>", {"+1 xml [version=1.0]", "+2 a", "-2 a", "+2 b=1", "-2 b"}},
        // Bytes above 127 pass through untouched.
        {kDecl + "<t>caf\xe9</t>", {"+1 xml [version=1.0]", "+2 t=caf\xe9", "-2 t"}},
    };
    for (const GoodCase& c : cases) {
        Parsed parsed = ParseText(c.Document);
        EXPECT_TRUE(parsed.Ok) << c.Document << "\n" << parsed.Error;
        EXPECT_EQ(parsed.Events, c.Events) << c.Document;
    }
}

struct BadCase
{
    std::string Document;
    std::string Error;
};

TEST(XmlReader, ViolationsGiveTheMessageAndOffset)
{
    const BadCase cases[] = {
        {kDecl + "<a>text<b/></a>", "Cannot mix values with child elements.\nOffset: 28"},
        {"<a>", "Unexpected character.  Expected: ?.  Encountered: a.\nOffset: 1"},
        {"", "Unexpected end of file found in read.\nOffset: 0"},
        {"<", "Unexpected end of file found in read.\nOffset: 1"},
        {"x", "Unexpected character.  Expected: <.  Encountered: x.\nOffset: 0"},
        {"<?xml version=\"1.0\"?", "The expected angle brace was not found in the root element."
                                   "\nOffset: 20"},
        {"<?xml version=\"1.0\"?x",
         "The expected angle brace was not found in the root element.\nOffset: 20"},
        {"<?xml", "Could not find the tag name of element.\nOffset: 5"},
        {kDecl + "<a x=\"1\"y=\"2\">", "Missing whitespace.\nOffset: 29"},
        {kDecl + "<a x>", "Could not find '=' for attribute.\nOffset: 24"},
        {kDecl + "<a x=", "Unexpected end of file found in read.\nOffset: 26"},
        {kDecl + "<a x='1'>", "Unexpected character.  Expected: \".  Encountered: '.\nOffset: 26"},
        {kDecl + "<a x=\"1>", "Could not find the quotation mark for attribute.\nOffset: 27"},
        {kDecl + "<a / x>", "Unexpected character.  Expected: >.  Encountered: x.\nOffset: 26"},
        {kDecl + "<a", "Could not find the tag name of element.\nOffset: 23"},
        {kDecl + "<a>", "Unexpected end of file.\nOffset: 24"},
        {kDecl + "<a>text", "Unexpected end of file.\nOffset: 28"},
        {kDecl + "<a><![CDATA[x]]", "Could not find the end of a CDATA section.\nOffset: 24"},
        {kDecl + "<a></a", "Unexpected end of file.\nOffset: 24"},
        {kDecl + "</a>", "Encountered unexpected closing tag (a).\nOffset: 21"},
        {kDecl + "<a></b>",
         "Element names don't match in opening (a) and closing (b) tag.\nOffset: 24"},
        // The closing name is taken exactly, a trailing blank included.
        {kDecl + "<a></a >",
         "Element names don't match in opening (a) and closing (a ) tag.\nOffset: 24"},
        {kDecl + "<a><b>1</b>", "Opening and closing tags are out of sync (2).\n\nOffset: 32"},
        {kDecl + "<a>1 &nbsp; 2</a>", "The entity \"&nbsp;\" is not valid.\nOffset: 34"},
        {kDecl + "<a>x</a>y", "Unexpected character.  Expected: <.  Encountered: y.\nOffset: 29"},
    };
    for (const BadCase& c : cases) {
        Parsed parsed = ParseText(c.Document);
        EXPECT_FALSE(parsed.Ok) << c.Document;
        EXPECT_EQ(parsed.Error, c.Error) << c.Document;
    }
}

TEST(XmlReader, DocumentEndsAtItsFirstZeroByte)
{
    std::string text = kDecl + "<a>1</a>";
    text += '\0';
    text += "<junk";
    Parsed parsed = ParseText(text);
    EXPECT_TRUE(parsed.Ok) << parsed.Error;
}

TEST(XmlReader, OneReaderServesOneParse)
{
    CXmlReader reader;
    TraceHandler handler;
    std::string error;
    ASSERT_TRUE(reader.Parse(kDecl.c_str(), handler, error));
    EXPECT_FALSE(reader.Parse(kDecl.c_str(), handler, error));
    EXPECT_EQ(error, "XML reader already in use.");
    EXPECT_EQ(handler.Events.size(), 1u);
}

// The stack starts at 500 entries and doubles; views into the document must survive that.
TEST(XmlReader, DeepNestingGrowsTheStack)
{
    const int depth = 1200;
    std::string text = kDecl;
    for (int i = 0; i < depth; ++i)
        text += "<e" + std::to_string(i) + " n=\"" + std::to_string(i) + "\">";
    text += "<leaf>&lt;v&gt;</leaf>";
    for (int i = depth - 1; i >= 0; --i)
        text += "</e" + std::to_string(i) + ">";

    class Checker : public IXmlHandler
    {
    public:
        int Deepest = 0;
        bool Consistent = true;
        void OnStartElement(const XmlElement* stack, int depth) override
        {
            Deepest = std::max(Deepest, depth);
            for (int i = 1; i < depth - 1; ++i) {
                const XmlText* n = stack[i].FindAttribute("n");
                std::string number = std::to_string(i - 1);
                Consistent =
                    Consistent && n && n->Is(number) && stack[i].Name.Str().substr(1) == number;
            }
            if (stack[depth - 1].Name.Is("leaf"))
                Consistent = Consistent && stack[depth - 1].Value.Is("<v>");
        }
        void OnEndElement(const XmlElement*, int) override {}
    } checker;
    CXmlReader reader(false);
    std::string error;
    // Checking every ancestor at every element is quadratic; a few hundred levels past
    // the first doubling are enough, so only the tail is checked.
    ASSERT_TRUE(reader.Parse(text, checker, error)) << error;
    EXPECT_EQ(checker.Deepest, depth + 2);
    EXPECT_TRUE(checker.Consistent);
}

TEST(XmlReader, ManyAttributesKeepTheFirstOfEachName)
{
    std::string text = kDecl + "<a";
    for (int i = 0; i < 200; ++i)
        text += " k" + std::to_string(i % 100) + "=\"" + std::to_string(i) + "\"";
    text += "/>";
    class Counter : public IXmlHandler
    {
    public:
        std::vector<XmlAttribute> Attributes;
        void OnStartElement(const XmlElement* stack, int depth) override
        {
            if (depth == 2)
                Attributes = stack[1].Attributes;
        }
        void OnEndElement(const XmlElement*, int) override {}
    } counter;
    CXmlReader reader(false);
    std::string error;
    ASSERT_TRUE(reader.Parse(text, counter, error)) << error;
    ASSERT_EQ(counter.Attributes.size(), 100u);
    EXPECT_TRUE(counter.Attributes[42].Value.Is("42"));
}

} // namespace
