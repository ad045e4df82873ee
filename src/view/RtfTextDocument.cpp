#include "view/RtfTextDocument.h"

#include "platform/QtText.h"
#include "view/RtfReader.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>

namespace {

Qt::Alignment ToQt(RtfAlignment alignment)
{
    switch (alignment) {
    case RtfAlignment::Center:
        return Qt::AlignHCenter;
    case RtfAlignment::Right:
        return Qt::AlignRight;
    case RtfAlignment::Justify:
        return Qt::AlignJustify;
    case RtfAlignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

class CCursorSink : public IRtfSink
{
public:
    CCursorSink(QTextCursor& cursor, const RtfInsertOptions& options)
        : m_cursor(cursor), m_options(options)
    {}

    void Text(std::string_view text, const RtfCharFormat& format) override
    {
        if (m_pendingParagraph) {
            m_cursor.insertBlock();
            m_pendingParagraph = false;
        }
        m_cursor.insertText(FromCp1252(text), Convert(format));
    }

    void Paragraph(RtfAlignment alignment) override
    {
        if (m_pendingParagraph)
            m_cursor.insertBlock();
        SetAlignment(alignment);
        m_pendingParagraph = true;
    }

    void End(RtfAlignment alignment) override
    {
        if (m_pendingParagraph) {
            if (!m_options.AbsorbFinalParagraph)
                m_cursor.insertBlock();
        } else {
            SetAlignment(alignment);
        }
    }

private:
    void SetAlignment(RtfAlignment alignment)
    {
        if (m_cursor.blockFormat().alignment() == ToQt(alignment))
            return;
        QTextBlockFormat block = m_cursor.blockFormat();
        block.setAlignment(ToQt(alignment));
        m_cursor.setBlockFormat(block);
    }

    // The documents alternate between two or three formats: keep the last few.
    const QTextCharFormat& Convert(const RtfCharFormat& format)
    {
        for (const auto& [rtf, qt] : m_cache)
            if (rtf == format)
                return qt;
        QTextCharFormat qt;
        if (!format.FaceName.empty())
            qt.setFontFamilies({FromCp1252(format.FaceName)});
        if (format.HalfPoints > 0)
            qt.setFontPointSize(format.HalfPoints / 2.0);
        qt.setFontWeight(format.Bold ? QFont::Bold : QFont::Normal);
        qt.setFontItalic(format.Italic);
        qt.setFontUnderline(format.Underline);
        qt.setFontStrikeOut(format.StrikeOut);
        if (format.HasColor)
            qt.setForeground(ColorFromColorRef(format.Color));
        if (m_cache.size() >= 8)
            m_cache.erase(m_cache.begin());
        m_cache.emplace_back(format, qt);
        return m_cache.back().second;
    }

    QTextCursor& m_cursor;
    const RtfInsertOptions& m_options;
    bool m_pendingParagraph = false;
    std::vector<std::pair<RtfCharFormat, QTextCharFormat>> m_cache;
};

} // namespace

void InsertRtf(QTextCursor& cursor, std::string_view rtf, const RtfInsertOptions& options)
{
    CCursorSink sink(cursor, options);
    ReadRtf(rtf, sink);
}

QColor ColorFromColorRef(uint32_t color)
{
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}
