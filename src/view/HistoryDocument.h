#pragma once
// Writes the chat history's paragraphs straight into its QTextDocument: the prefix in the
// prefix font, the text in the message font, name links and web and e-mail addresses as
// anchors, a paragraph mark after each message.
// Positions agree with the model's ranges: every character and paragraph mark counts one.
// A long display may be written a slice at a time; what is added meanwhile follows it.
//
//   CHistoryDocumentWriter writer;
//   writer.SetFormats(settings.PrefixFont, settings.MessageFont, linkColor, textColor);
//   writer.Add(model.Show(messages, false));
//   QTextCursor end(document);
//   end.movePosition(QTextCursor::End);
//   while (!writer.Write(end, 12)) { /* let the events in */ }
#include "view/HistoryModel.h"

#include <QColor>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>
#include <array>
#include <optional>
#include <vector>

// The targets of the history's links. Next to each other, two links differ in their
// target, so that each stays a link of its own; a click finds its link by position. (A
// target of its own for every link would make the document keep a format for each, and
// take several times as long to write and to clear.)
inline const QString kHistoryLinkTargets[2] = {QStringLiteral("#1"), QStringLiteral("#2")};

class CHistoryDocumentWriter
{
public:
    // The formats of what is written from now on. `black`, when given, is the colour that a
    // black font is shown in (on a dark background black would vanish).
    void SetFormats(const FontSpec& prefixFont, const FontSpec& messageFont, const QColor& link,
                    std::optional<QColor> black = std::nullopt);
    // Queues the stream's paragraphs and links after those still to be written.
    void Add(HistoryStream stream);
    // Writes at `cursor`, which stands at the document's end, until everything queued is
    // written, or for about `budgetMs` when that is not negative. True when all is written.
    bool Write(QTextCursor& cursor, int budgetMs = -1);
    bool Done() const { return m_next == m_paragraphs.size(); }
    // Forgets what is still to be written.
    void Clear();

private:
    using LinkFormats = std::array<QTextCharFormat, 2>;

    // `links`: the format's link formats, one for each target.
    void WriteLines(QTextCursor& cursor, const std::string& cp1252, const QTextCharFormat& format,
                    const LinkFormats& links);
    void WriteRun(QTextCursor& cursor, const QString& text, const QTextCharFormat& format,
                  const LinkFormats& links);

    std::vector<HistoryParagraph> m_paragraphs;
    size_t m_next = 0;
    std::vector<TextSpan> m_links; // name links and addresses, by their first position
    size_t m_link = 0;
    int m_position = 0; // of the cursor, kept while writing
    QTextCharFormat m_prefix;
    QTextCharFormat m_text;
    LinkFormats m_prefixLinks;
    LinkFormats m_textLinks;
};
