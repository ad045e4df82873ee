#pragma once
// The rich-text view of a chat history: messages as prefix and text in the user's fonts on
// the user's background, name links, detected web and e-mail links, the context menu and
// the two notices. The decisions are CHistoryEditModel's; this widget draws and forwards.
// Most windows want CChatHistory (which adds the message list and the time filter):
//
//   CChatHistoryEdit edit(prompt);
//   edit.ApplyDisplaySettings(ChatHistorySettings(options));
//   edit.ShowMessages(messages, /*append*/ true);
//   connect(&edit, &CChatHistoryEdit::NameLinkClicked, ...);   // (message, 1 or 2)
#include "view/HistoryDocument.h"
#include "view/HistoryModel.h"
#include "view/OpenLink.h"

#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <functional>
#include <span>

class IHistoryProgress;
class IPrompt;
class QMenu;
class QMimeData;
class QUrl;

// Links in the palette's link colour, unless it hardly stands out from the background
// (a light custom background under a dark palette, or the other way round).
QColor LinkColorOn(const QColor& link, const QColor& base);

class CChatHistoryEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit CChatHistoryEdit(IPrompt& prompt, QWidget* parent = nullptr);

    // Stores the settings, sets the background and redisplays everything.
    void ApplyDisplaySettings(const HistoryDisplaySettings& settings);
    void ShowMessages(std::span<const ChatMessage> messages, bool append,
                      IHistoryProgress* progress = nullptr);
    void Redisplay(IHistoryProgress* progress = nullptr);
    void ShowReloadNotice(const std::string& text);
    void ClearAll();
    void ClearSelectedMessages();
    void EnableContextMenu(bool enable) { m_menuEnabled = enable; }

    // The context menu as it would open now (the caller owns it).
    QMenu* CreateContextMenu();
    // Opens the trimmed selection, as the menu's Open item does.
    void OpenSelection();
    // A left click on the link at a document position, as the mouse gives it.
    void ClickLinkAt(int position);

    // Tests and the log viewer swap how addresses are opened.
    void SetUrlOpener(UrlOpener opener) { m_opener = std::move(opener); }

    const CHistoryEditModel& Model() const { return m_model; }
    // The selection as the core sees it: Windows-1252, paragraph marks as line feeds.
    std::string SelectedText() const;
    // A long history shown whole is written and then laid out in slices between events; its
    // end is shown (caret and view) once the last slice is done. True until then.
    bool EndPending() const { return m_slices.isActive(); }
    // Writes at once what such a display has still to write, before its text is taken whole
    // (selected, copied).
    void CompleteWriting();

signals:
    // A sender (kind 1) or recipients (kind 2) link of a shown message was clicked.
    void NameLinkClicked(const ChatMessage& message, int kind);
    // The "Reload" link of the reload notice was clicked.
    void ReloadRequested();
    void StatusText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    // A link to a file here, in a message from somebody else: asks first, naming the file.
    bool MayOpen(const std::string& target, int position);
    // `sliced`: a long replacement may be written and laid out in slices (see EndPending).
    // Returns whether the stream was drawn.
    bool Stream(HistoryStream stream, bool sliced = false);
    void StartSlices(bool updatesAfter);
    void NextSlice();
    // Writes for about `budgetMs` (all, when negative); true when all is written.
    bool WriteSlice(int budgetMs);
    // Writes at the end of the document for about `budgetMs` (all, when negative); true when
    // all is written.
    bool WriteAtEnd(int budgetMs = -1);
    // Writes what arrived while the end waited to be shown.
    void WriteArrived();
    void ShowEnd();
    void StopSlices();
    void CancelSlices();
    void ShowNotice(const HistoryNotice& notice);
    void Finish(bool drawn, IHistoryProgress* progress);
    bool LinkExtent(int position, int& start, int& end) const;
    // The character at a point of the viewport, or -1.
    int PositionAt(const QPoint& point) const;
    QString DocumentText(int start, int end) const;

    IPrompt& m_prompt;
    CHistoryEditModel m_model;
    bool m_menuEnabled = true;
    bool m_leftDownOnLink = false;
    UrlOpener m_opener;
    CHistoryDocumentWriter m_writer;
    QTimer m_slices;                  // running while the end waits to be shown
    QPointer<QObject> m_slicedLayout; // its own lazy layout held back while the slices run
    bool m_writingAll = false;        // a long display's first slices: the text is written
    QSizeF m_pageSize;                // the document's, given back once it is written
    int m_laidOutTo = 0;
    bool m_updatesAfterSlices = true;
};
