#include "view/RtfMessageWriter.h"

#include "ViewTestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

const FontSpec kArialBoldBlue = Font("Arial", 200, 0x00FF0000, true);
const FontSpec kTimesBlack = Font("Times New Roman", 200, 0x00000000);

// The escape of one byte, as the table in the design gives it.
std::string Expected(int byte)
{
    switch (byte) {
    case 9:
        return "\\tab ";
    case 10:
        return "\\par ";
    case 92:
        return "\\\\";
    case 123:
        return "\\{";
    case 125:
        return "\\}";
    case 145:
        return "\\lquote ";
    case 146:
        return "\\rquote ";
    case 147:
        return "\\ldblquote ";
    case 148:
        return "\\rdblquote ";
    case 149:
        return "\\bullet ";
    case 150:
        return "\\endash ";
    case 151:
        return "\\emdash ";
    case 160:
        return "\\~";
    case 173:
        return "\\-";
    default:
        break;
    }
    if (byte < 32)
        return "";
    if (byte < 128)
        return std::string(1, static_cast<char>(byte));
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\'%02x", byte);
    return hex;
}

std::string Document(CRtfMessageWriter& writer, const FontSpec& prefixFont,
                     const FontSpec& messageFont, std::string_view prefix, std::string_view text,
                     bool trailingParagraph = false)
{
    writer.BeginDocument(prefixFont, messageFont, 0x00FFFFFF);
    writer.Add(prefix, text);
    writer.EndDocument(trailingParagraph);
    return std::string(writer.Document());
}

TEST(RtfMessageWriter, WorkedExample)
{
    CRtfMessageWriter writer;
    EXPECT_EQ(
        Document(writer, kArialBoldBlue, kTimesBlack, "R.T. (to Owen) 3:47 PM> ", "Hello"),
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0 Arial}{\\f1 Times New "
        "Roman}}{\\colortbl ;\\red0\\green0\\blue255;\\red0\\green0\\blue0;}\\cf1\\f0\\fs20\\b "
        "R.T. (to Owen) 3:47 PM> \\b0\\cf2\\f1\\fs20 Hello\\par }");
    EXPECT_EQ(writer.Buffer().Data()[writer.Buffer().Length()], '\0');
}

TEST(RtfMessageWriter, EscapeTableByteForByte)
{
    for (int byte = 0; byte < 256; ++byte) {
        const RtfEscape& entry = RtfEscapeFor(static_cast<unsigned char>(byte));
        EXPECT_EQ(std::string(entry.Text, entry.Length), Expected(byte)) << byte;
        EXPECT_EQ(EscapeRtf(std::string(1, static_cast<char>(byte))), Expected(byte)) << byte;
    }
}

TEST(RtfMessageWriter, MessageTexts)
{
    const struct
    {
        const char* Text;
        const char* Escaped;
    } cases[] = {
        {"{a} \\b", "\\{a\\} \\\\b"},
        {"one\r\ntwo\r\n", "one\\par two\\par "},
        {"\t\x01\x7f", "\\tab \x7f"},
        {"caf\xe9 \x97 \xa0\xad", "caf\\'e9 \\emdash  \\~\\-"},
        {"\x93quoted\x94 \x91q\x92 \x95 \x96", "\\ldblquote quoted\\rdblquote  \\lquote q\\rquote  "
                                               "\\bullet  \\endash "},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeRtf(c.Text), c.Escaped) << c.Text;
}

TEST(RtfMessageWriter, FontControlWords)
{
    const struct
    {
        FontSpec Font;
        const char* On;
        const char* Off;
    } cases[] = {
        {Font("A", 200, 0), "\\cf1\\f0\\fs20 ", ""},
        {Font("A", 190, 0), "\\cf1\\f0\\fs19 ", ""},
        {Font("A", 199, 0, true, false, true), "\\cf1\\f0\\fs19\\b\\ul ", "\\b0\\ul0"},
        {Font("A", 240, 0, true, true, true, true), "\\cf1\\f0\\fs24\\b\\i\\ul\\strike ",
         "\\b0\\i0\\ul0\\strike0"},
        {Font("A", 200, 0, false, true, false, true), "\\cf1\\f0\\fs20\\i\\strike ",
         "\\i0\\strike0"},
        // No stored size: the control's own size, not text of no height.
        {Font("A", -1, 0, true), "\\cf1\\f0\\b ", "\\b0"},
        {Font("A", 9, 0), "\\cf1\\f0 ", ""},
        {Font("A", 10, 0), "\\cf1\\f0\\fs1 ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RtfFontOn(c.Font, 1, 0), c.On);
        EXPECT_EQ(RtfFontOff(c.Font), c.Off);
    }
    EXPECT_EQ(RtfFontOn(Font("A", 200, 0, true), 2, 1), "\\cf2\\f1\\fs20\\b ");
}

TEST(RtfMessageWriter, HeadWithOddFacesAndColours)
{
    CRtfMessageWriter writer;
    const std::string doc =
        Document(writer, Font("", 200, 0x00123456, false, false, true),
                 Font("Me{n}u\\", 180, 0x00FFFFFF, false, true), "p", "t", true);
    EXPECT_EQ(doc,
              "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0 }{\\f1 "
              "Me\\{n\\}u\\\\}}{\\colortbl ;\\red86\\green52\\blue18;\\red255\\green255\\blue255;"
              "}\\cf1\\f0\\fs20\\ul p\\ul0\\cf2\\f1\\fs18\\i t\\i0\\par \\par}");
}

TEST(RtfMessageWriter, ReusedForEachDocument)
{
    CRtfMessageWriter writer;
    EXPECT_FALSE(writer.IsOpen());
    writer.BeginDocument(kArialBoldBlue, kTimesBlack, 0);
    EXPECT_TRUE(writer.IsOpen());
    writer.Add("a> ", "one");
    writer.Add("b> ", "two");
    writer.EndDocument(false);
    EXPECT_FALSE(writer.IsOpen());
    const std::string two(writer.Document());
    EXPECT_NE(two.find("one\\par \\cf1\\f0\\fs20\\b b> \\b0\\cf2\\f1\\fs20 two\\par }"),
              std::string::npos);

    const std::string one = Document(writer, kArialBoldBlue, kTimesBlack, "x", "y");
    EXPECT_EQ(one.find("one"), std::string::npos);
    EXPECT_EQ(Document(writer, kArialBoldBlue, kTimesBlack, "x", "y"), one);
}

TEST(RtfMessageWriter, MegabyteOfEveryByte)
{
    std::string text(1 << 20, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i & 0xFF);
    std::string cycle;
    for (int byte = 0; byte < 256; ++byte)
        cycle += Expected(byte);

    CRtfMessageWriter writer;
    const std::string doc = Document(writer, kTimesBlack, kTimesBlack, "", text);
    const std::string head = Document(writer, kTimesBlack, kTimesBlack, "", "");
    const size_t body = head.find("\\cf2\\f1\\fs20 ") + 13;
    ASSERT_EQ(doc.size(), head.size() + cycle.size() * 4096);
    EXPECT_EQ(doc.substr(0, body), head.substr(0, body));
    for (size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(doc.compare(body + i * cycle.size(), cycle.size(), cycle), 0) << i;
    EXPECT_EQ(doc.substr(doc.size() - 6), "\\par }");
}

TEST(FontSpec, FromTheStoredRecord)
{
    FontRecord record;
    record.Mask =
        FontRecord::kEffectsMask | FontRecord::kSize | FontRecord::kColor | FontRecord::kFace;
    record.FaceName = "Tahoma";
    record.Height = 190;
    record.Color = 0x00336699;
    const struct
    {
        uint32_t Effects;
        bool Bold, Italic, Underline, StrikeOut;
    } cases[] = {
        {0x0, false, false, false, false},  {0x1, true, false, false, false},
        {0x2, false, true, false, false},   {0x4, false, false, true, false},
        {0x8, false, false, false, true},   {0xF, true, true, true, true},
        {0x10, false, false, false, false},
    };
    for (const auto& c : cases) {
        record.Effects = c.Effects;
        const FontSpec font = FontSpec::FromRecord(record);
        EXPECT_EQ(font, Font("Tahoma", 190, 0x00336699, c.Bold, c.Italic, c.Underline, c.StrikeOut))
            << c.Effects;
    }
    // The prefix font of a fresh install: bold, the control's default face and size.
    FontRecord fresh;
    fresh.Mask = FontRecord::kEffectsMask;
    fresh.Effects = FontRecord::kBold;
    fresh.Height = -1;
    EXPECT_EQ(FontSpec::FromRecord(fresh), Font("", -1, 0, true));
}

} // namespace
