#include "view/RtfReader.h"

#include "ViewTestSupport.h"
#include "view/RtfMessageWriter.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

// What the reader handed on: text runs with their format, "\n" for a paragraph end.
struct Collected : IRtfSink
{
    struct Run
    {
        std::string Text;
        RtfCharFormat Format;
    };
    std::vector<Run> Runs;
    std::vector<RtfAlignment> Alignments;
    bool Ended = false;

    void Text(std::string_view text, const RtfCharFormat& format) override
    {
        EXPECT_FALSE(text.empty());
        if (!Runs.empty() && Runs.back().Format == format && Runs.back().Text != "\n")
            Runs.back().Text += text;
        else
            Runs.push_back({std::string(text), format});
    }
    void Paragraph(RtfAlignment alignment) override
    {
        Runs.push_back({"\n", {}});
        Alignments.push_back(alignment);
    }
    void End(RtfAlignment alignment) override
    {
        Ended = true;
        Alignments.push_back(alignment);
    }
    std::string AllText() const
    {
        std::string all;
        for (const Run& run : Runs)
            all += run.Text;
        return all;
    }
};

Collected Read(std::string_view rtf)
{
    Collected sink;
    ReadRtf(rtf, sink);
    EXPECT_TRUE(sink.Ended);
    return sink;
}

// A font without a size writes no "\fs": the size before it stays.
RtfCharFormat Expected(const FontSpec& font, int sizeBefore)
{
    RtfCharFormat format;
    format.FaceName = font.FaceName;
    format.HalfPoints = font.Size / 10 > 0 ? font.Size / 10 : sizeBefore;
    format.Bold = font.Bold;
    format.Italic = font.Italic;
    format.Underline = font.Underline;
    format.StrikeOut = font.StrikeOut;
    format.HasColor = true;
    format.Color = font.Color;
    return format;
}

std::string Written(const FontSpec& prefixFont, const FontSpec& messageFont,
                    const std::vector<std::pair<std::string, std::string>>& messages, bool trailing)
{
    CRtfMessageWriter writer;
    writer.BeginDocument(prefixFont, messageFont, 0);
    for (const auto& [prefix, text] : messages)
        writer.Add(prefix, text);
    writer.EndDocument(trailing);
    return std::string(writer.Document());
}

// The text a byte leaves in the document: what the writer does not drop.
std::string Kept(std::string_view text)
{
    std::string kept;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32 || c == '\t' || c == '\n')
            kept += c;
    return kept;
}

std::string WithoutLineFeeds(std::string text)
{
    std::erase(text, '\n');
    return text;
}

// Writes one message, reads it back: the same characters, the prefix's in the prefix font
// and the text's in the message font.
void ExpectReadsBack(const FontSpec& prefixFont, const FontSpec& messageFont,
                     const std::string& prefix, const std::string& text)
{
    Collected sink = Read(Written(prefixFont, messageFont, {{prefix, text}}, false));
    EXPECT_EQ(sink.AllText(), Kept(prefix) + Kept(text) + "\n");
    const RtfCharFormat prefixFormat = Expected(prefixFont, 0);
    const RtfCharFormat messageFormat = Expected(messageFont, prefixFormat.HalfPoints);
    std::string prefixSeen, textSeen;
    for (const Collected::Run& run : sink.Runs) {
        if (run.Text == "\n")
            continue;
        if (run.Format == prefixFormat)
            prefixSeen += run.Text;
        else if (run.Format == messageFormat)
            textSeen += run.Text;
        else
            ADD_FAILURE() << "run in an unexpected format: " << run.Text;
    }
    EXPECT_EQ(prefixSeen, WithoutLineFeeds(Kept(prefix)));
    EXPECT_EQ(textSeen, WithoutLineFeeds(Kept(text)));
}

TEST(RtfReaderTest, ReadsBackEveryByteInEveryFontSetting)
{
    const std::vector<FontSpec> fonts = {
        Font("Arial", 200, 0x00FF0000, true),
        Font("Times New Roman", 190, 0x00000000),
        Font("Caf\xe9 {Sans} \\x", 240, 0x00123456, true, true, true, true),
        Font("", 0, 0x00FFFFFF, false, true, false, true),
        Font("Courier New", 410, 0x000000FF, false, false, true),
    };
    for (const FontSpec& prefixFont : fonts)
        for (const FontSpec& messageFont : fonts) {
            if (prefixFont == messageFont)
                continue;
            for (int byte = 0; byte < 256; ++byte) {
                SCOPED_TRACE(byte);
                const std::string b(1, static_cast<char>(byte));
                ExpectReadsBack(prefixFont, messageFont, "R.T.> ", "a" + b + "z");
            }
            std::string all;
            for (int byte = 1; byte < 256; ++byte)
                all += static_cast<char>(byte);
            ExpectReadsBack(prefixFont, messageFont, "P" + all, all);
        }
}

TEST(RtfReaderTest, ParagraphsAndTheTrailingParagraph)
{
    const FontSpec prefix = Font("Arial", 200, 0x00FF0000, true);
    const FontSpec text = Font("Times New Roman", 200, 0);
    struct Case
    {
        std::vector<std::pair<std::string, std::string>> Messages;
        bool Trailing;
        std::string Expected;
    };
    const Case cases[] = {
        {{{"a> ", "one"}, {"b> ", "two\nlines"}}, false, "a> one\nb> two\nlines\n"},
        {{{"a> ", "one"}}, true, "a> one\n\n"},
        {{}, true, "\n"},
        {{{"", "notice  Display."}}, true, "notice  Display.\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(Written(prefix, text, c.Messages, c.Trailing)).AllText(), c.Expected);
}

TEST(RtfReaderTest, AboutStyleDocuments)
{
    struct Case
    {
        const char* Rtf;
        std::string Text;
    };
    const Case cases[] = {
        {R"({\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}{\f1\froman Times;}}{\*\generator x;}
{\info{\title T}}\pard\qc\f0\fs28\b Zib Tam 2.5\b0\par\pard\f1 Product released on [release].\par})",
         "Zib Tam 2.5\nProduct released on [release].\n"},
        {R"({\rtf1 a\line b\tab c\~d\-e\_f\'e9\'zz})", "a\nb\tc\xa0"
                                                       "d\xad"
                                                       "e-f\xe9"
                                                       "zz"},
        {R"({\rtf1 {\*\unknown hidden}{\stylesheet{x}}shown})", "shown"},
        {"}}}{{{text", "text"},
        {"\\", ""},
        {"\\'e", "e"},
        {"{\\fonttbl{\\f99999999999 X}}\\f99999999999 y\\fs99999999999999 z", "yz"},
        {"{\\colortbl;\\red300\\green-5\\blue;}\\cf1 a\\cf7 b\\cf-1 c", "abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(c.Rtf).AllText(), c.Text) << c.Rtf;

    Collected about = Read(cases[0].Rtf);
    ASSERT_GE(about.Runs.size(), 1u);
    EXPECT_EQ(about.Runs[0].Format.FaceName, "Arial");
    EXPECT_EQ(about.Runs[0].Format.HalfPoints, 28);
    EXPECT_TRUE(about.Runs[0].Format.Bold);
    EXPECT_EQ(about.Alignments[0], RtfAlignment::Center);
    EXPECT_EQ(about.Alignments[1], RtfAlignment::Left);
    EXPECT_EQ(about.Runs[2].Format.FaceName, "Times");
    EXPECT_FALSE(about.Runs[2].Format.Bold);
}

TEST(RtfReaderTest, GroupsRestoreTheFormat)
{
    Collected sink = Read("{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}a{\\b\\cf1 b}c\\plain d}");
    ASSERT_EQ(sink.Runs.size(), 3u);
    EXPECT_EQ(sink.Runs[0].Text, "a");
    EXPECT_EQ(sink.Runs[1].Text, "b");
    EXPECT_TRUE(sink.Runs[1].Format.Bold);
    EXPECT_EQ(sink.Runs[1].Format.Color, 0x030201u);
    EXPECT_EQ(sink.Runs[2].Text, "cd");
    EXPECT_FALSE(sink.Runs[2].Format.Bold);
    EXPECT_FALSE(sink.Runs[2].Format.HasColor);
}

} // namespace
