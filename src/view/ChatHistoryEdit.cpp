#include "view/ChatHistoryEdit.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "view/ChatHistory.h"
#include "view/HistoryProgress.h"
#include "view/OpenLink.h"
#include "view/RtfTextDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>

CChatHistoryEdit::CChatHistoryEdit(IPrompt& prompt, QWidget* parent)
    : QTextEdit(parent), m_prompt(prompt), m_opener(OpenUrlWithDesktop)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken); // the style's themed edit frame
    setAccessibleName(QStringLiteral("Chat history"));
    viewport()->setMouseTracking(true);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &CChatHistoryEdit::NextSlice);
    ApplyDisplaySettings(HistoryDisplaySettings{});
}

void CChatHistoryEdit::ApplyDisplaySettings(const HistoryDisplaySettings& settings)
{
    m_model.Configure(settings);
    QPalette colors = QApplication::palette(this);
    if (settings.Background)
        colors.setColor(QPalette::Base, ColorFromColorRef(*settings.Background));
    setPalette(colors);
    // What the setting leaves open is the control's own: its face, its size.
    QFont font = QApplication::font(this);
    if (!settings.MessageFont.FaceName.empty())
        font.setFamilies({FromCp1252(settings.MessageFont.FaceName)});
    if (settings.MessageFont.Size > 0)
        font.setPointSizeF(settings.MessageFont.Size / 20.0);
    setFont(font);
    document()->setDefaultFont(font);
    Redisplay();
}

void CChatHistoryEdit::ShowMessages(std::span<const ChatMessage> messages, bool append,
                                    IHistoryProgress* progress)
{
    Finish(Stream(m_model.Show(messages, append), true), progress);
}

void CChatHistoryEdit::Redisplay(IHistoryProgress* progress)
{
    Finish(Stream(m_model.Redisplay(), true), progress);
}

void CChatHistoryEdit::Finish(bool drawn, IHistoryProgress* progress)
{
    const bool cancelled = drawn && progress && progress->IsCancelled();
    if (std::optional<HistoryNotice> notice = m_model.FinishShow(drawn, cancelled))
        ShowNotice(*notice);
}

namespace {

// On a dark system background the writers' black ("automatic" in the default settings)
// would vanish: it takes the palette's text colour there.
bool DarkSystemBackground(const QWidget& widget, const HistoryDisplaySettings& settings)
{
    return !settings.Background && widget.palette().color(QPalette::Base).lightness() < 128;
}

// A replacement longer than this (about 500 messages) is written and laid out in slices:
// doing it all at once to show the end would hold the window for as long as it takes.
constexpr std::size_t kSlicedCharacters = 60'000;
// A slice stops after this long, so that input and painting get their turn.
constexpr int kSliceMs = 12;
// Characters laid out between looks at the clock.
constexpr int kSliceStep = 4'000;

std::size_t CharacterCount(const HistoryStream& stream)
{
    std::size_t count = 0;
    for (const HistoryParagraph& paragraph : stream.Paragraphs)
        count += paragraph.Prefix.size() + paragraph.Text.size() + 1;
    return count;
}

} // namespace

QColor LinkColorOn(const QColor& link, const QColor& base)
{
    if (std::abs(link.lightness() - base.lightness()) >= 96)
        return link;
    return base.lightness() < 128 ? QColor(110, 160, 255) : QColor(0, 0, 238);
}

void CChatHistoryEdit::StartSlices(bool updatesAfter)
{
    m_updatesAfterSlices = updatesAfter;
    m_laidOutTo = 0;
    m_slicedLayout = document()->documentLayout();
    m_slicedLayout->installEventFilter(this);
    m_slices.start();
}

void CChatHistoryEdit::StopSlices()
{
    if (m_writingAll)
        document()->setPageSize(m_pageSize);
    m_writingAll = false;
    m_writer.Clear();
    m_slices.stop();
    if (m_slicedLayout)
        m_slicedLayout->removeEventFilter(this);
    m_slicedLayout = nullptr;
}

void CChatHistoryEdit::CancelSlices()
{
    if (!EndPending())
        return;
    StopSlices();
    setUpdatesEnabled(m_updatesAfterSlices);
}

bool CChatHistoryEdit::eventFilter(QObject* watched, QEvent* event)
{
    // The layout's own lazy steps grow to a fifth of a long history at a time; while the
    // slices run they would only hold the window longer.
    if (watched == m_slicedLayout && event->type() == QEvent::Timer)
        return true;
    return QTextEdit::eventFilter(watched, event);
}

void CChatHistoryEdit::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    // A new width starts the layout again from the top.
    if (EndPending())
        m_laidOutTo = 0;
}

bool CChatHistoryEdit::WriteSlice(int budgetMs)
{
    // The document is written with a null page size, so that nothing is laid out until all
    // is written; a resize meanwhile gives it a size, which is taken back until then.
    const QSizeF pageSize = document()->pageSize();
    if (!pageSize.isNull()) {
        m_pageSize = pageSize;
        document()->setPageSize(QSizeF(0, 0));
    }
    const bool done = WriteAtEnd(budgetMs);
    if (done) {
        // Given its size back, it is laid out lazily from the top, as far as asked.
        m_writingAll = false;
        document()->setPageSize(m_pageSize);
        m_laidOutTo = 0;
    }
    return done;
}

bool CChatHistoryEdit::WriteAtEnd(int budgetMs)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    const bool done = m_writer.Write(end, budgetMs);
    end.endEditBlock();
    return done;
}

void CChatHistoryEdit::WriteArrived()
{
    if (!m_writer.Done())
        WriteAtEnd();
}

void CChatHistoryEdit::CompleteWriting()
{
    if (!EndPending())
        return;
    if (m_writingAll)
        WriteSlice(-1);
    WriteArrived();
}

void CChatHistoryEdit::NextSlice()
{
    if (m_writingAll) {
        WriteSlice(kSliceMs);
        return;
    }
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const int last = document()->characterCount() - 1;
    QElapsedTimer clock;
    clock.start();
    // Asking where a block lies lays the document out that far, and no further.
    while (m_laidOutTo < last && clock.elapsed() < kSliceMs) {
        m_laidOutTo = std::min(last, m_laidOutTo + kSliceStep);
        layout->blockBoundingRect(document()->findBlock(m_laidOutTo));
    }
    if (m_laidOutTo < last)
        return;
    // Written at the end of a text that is laid out, what arrived meanwhile is laid out
    // alone.
    WriteArrived();
    ShowEnd();
}

void CChatHistoryEdit::ShowEnd()
{
    StopSlices();
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    // The scroll bars follow the size the layout reports; it reports it late while laying
    // out in slices.
    emit layout->documentSizeChanged(layout->documentSize());
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    setTextCursor(end);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    setUpdatesEnabled(m_updatesAfterSlices);
}

bool CChatHistoryEdit::Stream(HistoryStream stream, bool sliced)
{
    if (!stream.Draw)
        return false;
    if (EndPending() && !stream.ReplaceAll) {
        // After what is still to be written or laid out; its end is shown with theirs.
        m_writer.Add(std::move(stream));
        return true;
    }
    const bool endPending = EndPending();
    const bool updates = endPending ? m_updatesAfterSlices : updatesEnabled();
    const QTextCursor saved = textCursor();
    const int previousLast = document()->characterCount() - 1;
    StopSlices();
    setUpdatesEnabled(false);

    const HistoryDisplaySettings& settings = m_model.Settings();
    std::optional<QColor> black;
    if (DarkSystemBackground(*this, settings))
        black = palette().color(QPalette::Text);
    m_writer.SetFormats(
        settings.PrefixFont, settings.MessageFont,
        LinkColorOn(palette().color(QPalette::Link), palette().color(QPalette::Base)), black);

    // Where the caret stays (it has the focus, and not at the end) the text is laid out as
    // far as the caret at once. An end still waiting to be shown counts as the caret at the
    // end.
    const bool followsEnd =
        !hasFocus() || endPending || (!saved.hasSelection() && saved.position() >= previousLast);
    sliced =
        sliced && stream.ReplaceAll && followsEnd && CharacterCount(stream) > kSlicedCharacters;
    if (sliced) {
        m_pageSize = document()->pageSize();
        document()->setPageSize(QSizeF(0, 0));
    }
    if (stream.ReplaceAll)
        document()->clear();
    m_writer.Add(std::move(stream));
    if (sliced) {
        // The caret waits at the start, where showing it needs only the first lines; the
        // end is shown once the slices are done, the view held still until then.
        QTextCursor start(document());
        start.setKeepPositionOnInsert(true);
        setTextCursor(start);
        m_writingAll = true;
        StartSlices(updates);
        return true;
    }
    WriteAtEnd();

    const int last = document()->characterCount() - 1;
    QTextCursor restored(document());
    restored.setPosition(std::min(saved.anchor(), last));
    restored.setPosition(std::min(saved.position(), last), QTextCursor::KeepAnchor);
    if (!hasFocus() || endPending)
        restored.movePosition(QTextCursor::End);
    setTextCursor(restored);
    if (!hasFocus() || endPending)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    setUpdatesEnabled(updates);
    return true;
}

void CChatHistoryEdit::ShowNotice(const HistoryNotice& notice)
{
    HistoryStream stream;
    stream.Draw = true;
    stream.ReplaceAll = true;
    stream.Paragraphs.push_back({"", notice.Line});
    stream.Addresses.push_back(notice.Link);
    Stream(std::move(stream));
    QTextCursor start(document());
    setTextCursor(start);
}

void CChatHistoryEdit::ShowReloadNotice(const std::string& text)
{
    ShowNotice(m_model.ShowReloadNotice(text));
}

void CChatHistoryEdit::ClearAll()
{
    CancelSlices();
    m_model.ClearAll();
    document()->clear();
}

void CChatHistoryEdit::ClearSelectedMessages()
{
    if (!m_menuEnabled)
        return;
    const QTextCursor selection = textCursor();
    int32_t caret = 0;
    HistoryStream stream =
        m_model.ClearSelected(selection.selectionStart(), selection.selectionEnd(), caret);
    Finish(Stream(std::move(stream)), nullptr);
    QTextCursor moved(document());
    moved.setPosition(std::clamp(caret, 0, document()->characterCount() - 1));
    setTextCursor(moved);
    ensureCursorVisible();
}

namespace {

// The view's own break opportunities (kViewBreak) are no part of what the user copies or
// opens.
QString WithoutViewBreaks(QString text)
{
    return text.remove(QChar(static_cast<char16_t>(static_cast<unsigned char>(kViewBreak))));
}

} // namespace

std::string CChatHistoryEdit::SelectedText() const
{
    QString text = WithoutViewBreaks(textCursor().selectedText());
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return ToCp1252(text);
}

QMimeData* CChatHistoryEdit::createMimeDataFromSelection() const
{
    QMimeData* mime = QTextEdit::createMimeDataFromSelection();
    if (mime && mime->hasText())
        mime->setText(WithoutViewBreaks(mime->text()));
    return mime;
}

QString CChatHistoryEdit::DocumentText(int start, int end) const
{
    QTextCursor range(document());
    range.setPosition(start);
    range.setPosition(end, QTextCursor::KeepAnchor);
    return WithoutViewBreaks(range.selectedText());
}

bool CChatHistoryEdit::LinkExtent(int position, int& start, int& end) const
{
    // A link is a run of characters with one target; the links next to it have another.
    const QTextBlock block = document()->findBlock(position);
    QString target;
    start = -1;
    end = -1;
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat format = fragment.charFormat();
        const QString href = format.isAnchor() ? format.anchorHref() : QString();
        if (start >= 0 && href == target) {
            end = fragment.position() + fragment.length();
            continue;
        }
        if (start >= 0 && position < end)
            break;
        target = href;
        start = target.isEmpty() ? -1 : fragment.position();
        end = fragment.position() + fragment.length();
    }
    return start >= 0 && position >= start && position < end;
}

int CChatHistoryEdit::PositionAt(const QPoint& point) const
{
    // As the control maps a point of the viewport into the document for anchorAt.
    const QScrollBar* across = horizontalScrollBar();
    const int x = isRightToLeft() ? across->maximum() - across->value() : across->value();
    return document()->documentLayout()->hitTest(point + QPointF(x, verticalScrollBar()->value()),
                                                 Qt::ExactHit);
}

void CChatHistoryEdit::ClickLinkAt(int position)
{
    int start = 0;
    int end = 0;
    if (!LinkExtent(position, start, end))
        return;
    const HistoryClick click = m_model.Click(start, end, ToCp1252(DocumentText(start, end)));
    switch (click.What) {
    case HistoryClick::Action::None:
        break;
    case HistoryClick::Action::Reload:
        emit ReloadRequested();
        break;
    case HistoryClick::Action::Redisplay: {
        CWaitCursorProgress progress(
            [this](const std::string& text) { emit StatusText(FromCp1252(text)); });
        progress.SetStatusText(kRedisplayStatus);
        Redisplay(&progress);
        break;
    }
    case HistoryClick::Action::NameLink:
        emit NameLinkClicked(m_model.Messages()[static_cast<size_t>(click.MessageIndex)],
                             click.LinkKind);
        break;
    case HistoryClick::Action::Open:
        if (MayOpen(click.Target, start))
            OpenLink(click.Target, true, &m_prompt, m_opener, this);
        break;
    }
}

bool CChatHistoryEdit::MayOpen(const std::string& target, int position)
{
    if (!LinkUrl(target).isLocalFile())
        return true;
    // A file named in somebody else's message is not opened on one click: he chose it.
    const std::vector<MessageRange>& ranges = m_model.Ranges();
    for (size_t i = 0; i < ranges.size() && i < m_model.Messages().size(); ++i)
        if (ranges[i].Valid && ranges[i].Start <= position && position < ranges[i].End &&
            m_model.Messages()[i].Loopback)
            return true;
    const std::string path = ToCp1252(LinkUrl(target).toLocalFile());
    return m_prompt.MessageBox(std::string(kOpenFileQuestion) + path + "\n\nOpen it?", "Zib Tam",
                               PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes;
}

void CChatHistoryEdit::OpenSelection()
{
    const std::string text = TrimOpenText(SelectedText());
    if (text.empty())
        return;
    OpenLink(text, true, &m_prompt, m_opener, this, "Could not open \"" + text + "\"!");
}

QMenu* CChatHistoryEdit::CreateContextMenu()
{
    CompleteWriting();
    const QTextCursor selection = textCursor();
    const HistoryMenu items = HistoryMenuFor(selection.selectionStart(), selection.selectionEnd(),
                                             document()->characterCount() - 1,
                                             !m_model.Messages().empty(), SelectedText());
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("&Copy"), this, &QTextEdit::copy)->setEnabled(items.Copy);
    menu->addAction(QStringLiteral("Se&lect All"), this, &QTextEdit::selectAll)
        ->setEnabled(items.SelectAll);
    menu->addAction(QStringLiteral("Clea&r All"), this, &CChatHistoryEdit::ClearAll)
        ->setEnabled(items.ClearAll);
    menu->addAction(QStringLiteral("Clear &Selected Messages\tCtrl+D"), this,
                    &CChatHistoryEdit::ClearSelectedMessages)
        ->setEnabled(items.ClearSelected);
    menu->addSeparator();
    menu->addAction(FromCp1252(items.OpenText), this, &CChatHistoryEdit::OpenSelection)
        ->setEnabled(items.Open);
    return menu;
}

void CChatHistoryEdit::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_menuEnabled)
        return;
    setFocus(Qt::OtherFocusReason);
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard)
        at = viewport()->mapToGlobal(cursorRect().bottomLeft() + QPoint(0, 2));
    QMenu* menu = CreateContextMenu();
    menu->exec(at);
    delete menu;
}

void CChatHistoryEdit::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & Qt::ControlModifier) && event->key() >= Qt::Key_A &&
        event->key() <= Qt::Key_Z) {
        const HistoryKeyAction action =
            HistoryControlKey(static_cast<char>('A' + (event->key() - Qt::Key_A)));
        if (action != HistoryKeyAction::Pass && action != HistoryKeyAction::Ignore)
            CompleteWriting();
        switch (action) {
        case HistoryKeyAction::SelectAll:
            selectAll();
            return;
        case HistoryKeyAction::Copy:
            copy();
            return;
        case HistoryKeyAction::ClearSelected:
            ClearSelectedMessages();
            return;
        case HistoryKeyAction::Cut:
            cut();
            return;
        case HistoryKeyAction::Ignore:
            return;
        case HistoryKeyAction::Pass:
            break;
        }
    }
    QTextEdit::keyPressEvent(event);
}

void CChatHistoryEdit::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        if (!anchorAt(at).isEmpty()) {
            m_leftDownOnLink = true;
            ClickLinkAt(PositionAt(at));
            event->accept();
            return;
        }
    } else if (event->button() == Qt::RightButton) {
        const int at = cursorForPosition(event->position().toPoint()).position();
        const QTextCursor selection = textCursor();
        if (at < selection.selectionStart() || at > selection.selectionEnd()) {
            QTextCursor moved(document());
            moved.setPosition(at);
            setTextCursor(moved);
        }
        event->accept();
        return;
    }
    QTextEdit::mousePressEvent(event);
}

void CChatHistoryEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_leftDownOnLink) {
        m_leftDownOnLink = false;
        event->accept();
        return;
    }
    QTextEdit::mouseReleaseEvent(event);
}

void CChatHistoryEdit::mouseMoveEvent(QMouseEvent* event)
{
    const bool overLink = !anchorAt(event->position().toPoint()).isEmpty();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
    QTextEdit::mouseMoveEvent(event);
}
