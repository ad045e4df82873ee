#include "ui/RtfText.h"

#include "platform/QtText.h"
#include "view/RtfReader.h"

#include <QColor>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Puts what the reader hands on into a document at a cursor.
class CDocumentSink : public IRtfSink
{
public:
    explicit CDocumentSink(QTextDocument& document) : m_cursor(&document) {}

    void Text(std::string_view cp1252, const RtfCharFormat& rtf) override
    {
        QTextCharFormat format;
        if (!rtf.FaceName.empty())
            format.setFontFamilies({FromCp1252(rtf.FaceName)});
        if (rtf.HalfPoints > 0)
            format.setFontPointSize(rtf.HalfPoints / 2.0);
        format.setFontWeight(rtf.Bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(rtf.Italic);
        format.setFontUnderline(rtf.Underline);
        format.setFontStrikeOut(rtf.StrikeOut);
        if (rtf.HasColor)
            format.setForeground(
                QColor(rtf.Color & 0xFF, (rtf.Color >> 8) & 0xFF, (rtf.Color >> 16) & 0xFF));
        m_cursor.insertText(FromCp1252(std::string(cp1252)), format);
    }
    void Paragraph(RtfAlignment alignment) override
    {
        Align(alignment);
        m_cursor.insertBlock();
    }
    void End(RtfAlignment alignment) override { Align(alignment); }

private:
    void Align(RtfAlignment alignment)
    {
        QTextBlockFormat block = m_cursor.blockFormat();
        switch (alignment) {
        case RtfAlignment::Left:
            block.setAlignment(Qt::AlignLeft);
            break;
        case RtfAlignment::Center:
            block.setAlignment(Qt::AlignHCenter);
            break;
        case RtfAlignment::Right:
            block.setAlignment(Qt::AlignRight);
            break;
        case RtfAlignment::Justify:
            block.setAlignment(Qt::AlignJustify);
            break;
        }
        m_cursor.setBlockFormat(block);
    }

    QTextCursor m_cursor;
};

} // namespace

void FillFromRtf(QTextDocument& document, const std::string& rtf)
{
    document.clear();
    CDocumentSink sink(document);
    ReadRtf(rtf, sink);
}
