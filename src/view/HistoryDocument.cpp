#include "view/HistoryDocument.h"

#include "platform/QtText.h"
#include "view/RtfTextDocument.h"

#include <QElapsedTimer>
#include <algorithm>

namespace {

QTextCharFormat FormatOf(const FontSpec& font, const std::optional<QColor>& black)
{
    QTextCharFormat format;
    // An empty face or a font without a size keeps the control's own.
    if (!font.FaceName.empty())
        format.setFontFamilies({FromCp1252(font.FaceName)});
    const int halfPoints = font.Size / 10;
    if (halfPoints > 0)
        format.setFontPointSize(halfPoints / 2.0);
    format.setFontWeight(font.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(font.Italic);
    format.setFontUnderline(font.Underline);
    format.setFontStrikeOut(font.StrikeOut);
    format.setForeground(black && (font.Color & 0xFFFFFF) == 0 ? *black
                                                               : ColorFromColorRef(font.Color));
    return format;
}

std::array<QTextCharFormat, 2> LinkFormatsOf(QTextCharFormat format, const QColor& link)
{
    format.setAnchor(true);
    format.setFontUnderline(true);
    format.setForeground(link);
    std::array<QTextCharFormat, 2> links = {format, format};
    for (size_t i = 0; i < links.size(); ++i)
        links[i].setAnchorHref(kHistoryLinkTargets[i]);
    return links;
}

// Paragraphs written between looks at the clock.
constexpr size_t kParagraphsPerLook = 32;

} // namespace

void CHistoryDocumentWriter::SetFormats(const FontSpec& prefixFont, const FontSpec& messageFont,
                                        const QColor& link, std::optional<QColor> black)
{
    m_prefix = FormatOf(prefixFont, black);
    m_text = FormatOf(messageFont, black);
    m_prefixLinks = LinkFormatsOf(m_prefix, link);
    m_textLinks = LinkFormatsOf(m_text, link);
}

void CHistoryDocumentWriter::Add(HistoryStream stream)
{
    if (Done())
        Clear();
    std::vector<TextSpan> links;
    links.reserve(stream.Links.size() + stream.Addresses.size());
    for (const PrefixLink& link : stream.Links)
        links.push_back({link.Start, link.End});
    links.insert(links.end(), stream.Addresses.begin(), stream.Addresses.end());
    std::sort(links.begin(), links.end(),
              [](const TextSpan& a, const TextSpan& b) { return a.Start < b.Start; });
    m_links.insert(m_links.end(), links.begin(), links.end());
    if (m_paragraphs.empty())
        m_paragraphs = std::move(stream.Paragraphs);
    else
        std::move(stream.Paragraphs.begin(), stream.Paragraphs.end(),
                  std::back_inserter(m_paragraphs));
}

void CHistoryDocumentWriter::Clear()
{
    m_paragraphs.clear();
    m_next = 0;
    m_links.clear();
    m_link = 0;
}

bool CHistoryDocumentWriter::Write(QTextCursor& cursor, int budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    m_position = cursor.position();
    while (!Done()) {
        const HistoryParagraph& paragraph = m_paragraphs[m_next++];
        WriteLines(cursor, paragraph.Prefix, m_prefix, m_prefixLinks);
        WriteLines(cursor, paragraph.Text, m_text, m_textLinks);
        cursor.insertBlock();
        ++m_position;
        if (budgetMs >= 0 && m_next % kParagraphsPerLook == 0 && clock.elapsed() >= budgetMs)
            break;
    }
    return Done();
}

void CHistoryDocumentWriter::WriteLines(QTextCursor& cursor, const std::string& cp1252,
                                        const QTextCharFormat& format, const LinkFormats& links)
{
    if (cp1252.empty())
        return;
    const QString text = FromCp1252(cp1252);
    qsizetype from = 0;
    for (qsizetype end = text.indexOf(QLatin1Char('\n')); end >= 0;
         end = text.indexOf(QLatin1Char('\n'), from)) {
        WriteRun(cursor, text.mid(from, end - from), format, links);
        cursor.insertBlock();
        ++m_position;
        from = end + 1;
    }
    WriteRun(cursor, from == 0 ? text : text.mid(from), format, links);
}

void CHistoryDocumentWriter::WriteRun(QTextCursor& cursor, const QString& text,
                                      const QTextCharFormat& format, const LinkFormats& links)
{
    qsizetype done = 0;
    while (done < text.size()) {
        while (m_link < m_links.size() && m_links[m_link].End <= m_position)
            ++m_link;
        qsizetype count = text.size() - done;
        const TextSpan* link = nullptr;
        if (m_link < m_links.size()) {
            const TextSpan& next = m_links[m_link];
            if (next.Start <= m_position) {
                link = &next;
                count = std::min<qsizetype>(count, next.End - m_position);
            } else {
                count = std::min<qsizetype>(count, next.Start - m_position);
            }
        }
        const QString piece = done == 0 && count == text.size() ? text : text.mid(done, count);
        if (link)
            cursor.insertText(piece, links[m_link % 2]);
        else
            cursor.insertText(piece, format);
        done += count;
        m_position += static_cast<int>(count);
    }
}
