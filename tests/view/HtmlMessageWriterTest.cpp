#include "view/HtmlMessageWriter.h"

#include "ViewTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

const char* const kExpectedPage = R"PAGE(<html>
<head>
  <title>Zib Tam Log</title>
  <style>
    body { margin: 0px }
    p { border: 1px solid #fffff0; word-wrap:break-word;margin: 0 }
    .prefix { font-family: Arial; font-size: 10pt; color: #0000ff; font-weight: bold }
    .message { font-family: Times New Roman; font-size: 9pt; color: #102030 }
    .sel { text-decoration: underline }
  </style>
</head>
<script language="Javascript"><!--
var fg_iPrevMsg = -1;

function GetMsg(iMsg)
{
   eval("var vMsg = window.msg" + iMsg);
   return vMsg;
}

function SelMsg(iMsg)
{
   //remove the border
   if(fg_iPrevMsg != -1)
   {
      var vPrevMsg = GetMsg(fg_iPrevMsg);
      vPrevMsg.style.borderColor = '#fffff0';
   }

   if(iMsg != -1)
   {
      //add the border
      var vMsg = GetMsg(iMsg);
      vMsg.style.borderColor = '#102030';

      // center it in the window
      var iScrollPos = vMsg.offsetTop;
      if(vMsg.offsetTop > document.body.scrollHeight - document.body.clientHeight)
      {
         // DO NOTHING
      }
      else if(vMsg.scrollHeight < document.body.clientHeight)
      {
         iScrollPos -= (document.body.clientHeight / 2 - vMsg.scrollHeight / 2);
      }
      window.scroll(0, iScrollPos);
   }

   fg_iPrevMsg = iMsg;
}
//--></script>
<body bgcolor="#fffff0" onload="window.scroll(0, document.body.scrollHeight)">
<p id="msg0"><span class="prefix">R.T. (to Owen) 5/8/00 3:47 PM&gt; </span><span class="message">Hello</span>
</div></p>
<p id="msg1"><span class="prefix">Owen (to R.T.) 5/8/00 3:48 PM&gt; </span><span class="message">a &nbsp;&nbsp;&lt;b&gt;<br>c</span>
</div></p>
</body>
</html>
)PAGE";

TEST(HtmlMessageWriter, WholePage)
{
    CHtmlMessageWriter writer;
    // Background 0x00F0FFFF is red 255, green 255, blue 240.
    writer.BeginDocument(Font("Arial", 200, 0x00FF0000, true),
                         Font("Times New Roman", 199, 0x00302010), 0x00F0FFFF);
    EXPECT_TRUE(writer.IsOpen());
    writer.Add("R.T. (to Owen) 5/8/00 3:47 PM> ", "Hello");
    writer.Add("Owen (to R.T.) 5/8/00 3:48 PM> ", "a   <b>\nc");
    writer.EndDocument(true);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Document(), kExpectedPage);

    // The page head is exactly 52 lines.
    const std::string page(writer.Document());
    const size_t body = page.find("<p id=\"msg0\"");
    EXPECT_EQ(std::count(page.begin(), page.begin() + body, '\n'), 52);
}

TEST(HtmlMessageWriter, CounterStartsAgainWithEachPage)
{
    CHtmlMessageWriter writer;
    const FontSpec font = Font("A", 200, 0);
    for (int page = 0; page < 2; ++page) {
        writer.BeginDocument(font, font, 0);
        writer.Add("", "x");
        writer.Add("", "y");
        writer.EndDocument(false);
        const std::string text(writer.Document());
        EXPECT_NE(text.find("<p id=\"msg0\"><span class=\"prefix\"></span><span "
                            "class=\"message\">x</span>\n</div></p>\n<p id=\"msg1\">"),
                  std::string::npos);
        EXPECT_EQ(text.find("msg2"), std::string::npos);
        EXPECT_EQ(text.find("<html>"), 0u);
        EXPECT_EQ(text.rfind("<html>"), 0u);
    }
}

TEST(HtmlMessageWriter, FontStyles)
{
    const struct
    {
        FontSpec Font;
        const char* Style;
    } cases[] = {
        {Font("Arial", 200, 0x00FF0000), "font-family: Arial; font-size: 10pt; color: #0000ff"},
        {Font("Arial", 239, 0x000080FF, true, true),
         "font-family: Arial; font-size: 11pt; color: #ff8000; font-weight: bold; font-style: "
         "italic"},
        {Font("X", 200, 0, false, false, true, true),
         "font-family: X; font-size: 10pt; color: #000000; text-decoration: underline"},
        {Font("X", 200, 0, false, false, false, true),
         "font-family: X; font-size: 10pt; color: #000000; text-decoration: line-through"},
        // No stored size: the page's own size, not text of no height.
        {Font("", -1, 0xFF010203), "font-family: ; color: #030201"},
        {Font("A", 19, 0, true), "font-family: A; color: #000000; font-weight: bold"},
        {Font("A", 20, 0), "font-family: A; font-size: 1pt; color: #000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HtmlFontStyle(c.Font), c.Style);
}

TEST(HtmlMessageWriter, Escaping)
{
    const struct
    {
        std::string Text;
        const char* Escaped;
    } cases[] = {
        {"a b", "a b"},
        {" a", "&nbsp;a"},
        {"a   b", "a &nbsp;&nbsp;b"},
        {"  ", "&nbsp;&nbsp;"},
        {"a\tb", "a b"},
        {"\t b", "  b"}, // a blank after a tab is a plain blank
        {"a\r\nb\rc\nd", "a<br><br>b<br>c<br>d"},
        {std::string("a\0b\x1f", 4), "a b "},
        {"<a href=\"x\">&amp;</a>", "&lt;a href=\"x\"&gt;&amp;amp;&lt;/a&gt;"},
        {"'\"", "'\""},
        {"\xa0\xad", "&nbsp;&shy;"},
        {"\xb3\xba\xc7\xd9", "||||"},
        {"\xb4\xb5\xb9\xbb\xbc\xc5\xc6\xc8\xc9", "+++++++++"},
        {"\xc4\xcd", "--"},
        {"\xdb\xdc\xdd\xde\xdf", "\x81\x81\x81\x81\x81"},
        {"\xfb", "X"},
        {"caf\xe9 \x80\xff\xda\xe0", "caf\xe9 \x80\xff\xda\xe0"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeHtml(c.Text), c.Escaped) << c.Text;
}

TEST(HtmlMessageWriter, MegabyteOfEveryByte)
{
    std::string text(1 << 20, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i & 0xFF);
    // Within each cycle of 256 bytes the blank follows byte 31, so it stays a plain blank.
    std::string cycle;
    for (int byte = 0; byte < 256; ++byte)
        cycle +=
            byte == ' ' ? std::string(" ") : EscapeHtml(std::string(1, static_cast<char>(byte)));
    EXPECT_EQ(cycle.substr(0, 14), "          <br>"); // bytes 0 to 9, then the line feed
    const std::string escaped = EscapeHtml(text);
    ASSERT_EQ(escaped.size(), cycle.size() * 4096);
    for (size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(escaped.compare(i * cycle.size(), cycle.size(), cycle), 0) << i;

    CHtmlMessageWriter writer;
    const FontSpec font = Font("A", 200, 0);
    writer.BeginDocument(font, font, 0);
    writer.Add(text, text);
    writer.EndDocument(false);
    EXPECT_EQ(writer.Document().find(escaped), writer.Document().find("\"prefix\">") + 9);
    EXPECT_EQ(writer.Document().substr(writer.Document().size() - 16), "</body>\n</html>\n");
}

} // namespace
