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
    connect(&m_slices, &QTimer::timeout, this, &CChatHistoryEdit::LayOutSlice);
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
    const HistoryStream stream = m_model.Show(messages, append);
    Stream(stream, true);
    Finish(stream, progress);
}

void CChatHistoryEdit::Redisplay(IHistoryProgress* progress)
{
    const HistoryStream stream = m_model.Redisplay();
    Stream(stream, true);
    Finish(stream, progress);
}

void CChatHistoryEdit::Finish(const HistoryStream& stream, IHistoryProgress* progress)
{
    const bool cancelled = stream.Draw && progress && progress->IsCancelled();
    if (std::optional<HistoryNotice> notice = m_model.FinishShow(stream.Draw, cancelled))
        ShowNotice(*notice);
}

namespace {

QString Href(int start)
{
    return QLatin1Char('#') + QString::number(start);
}

// On a dark system background the writers' black ("automatic" in the default settings)
// would vanish: it takes the palette's text colour there.
bool DarkSystemBackground(const QWidget& widget, const HistoryDisplaySettings& settings)
{
    return !settings.Background && widget.palette().color(QPalette::Base).lightness() < 128;
}

// The document with black in its colour table replaced by `text`.
std::string WithLightBlack(const std::string& rtf, const QColor& text)
{
    const size_t table = rtf.find("{\\colortbl ;");
    if (table == std::string::npos)
        return rtf;
    const size_t tableEnd = rtf.find('}', table);
    std::string colors = rtf.substr(table, tableEnd - table);
    const std::string black = "\\red0\\green0\\blue0;";
    const std::string light = "\\red" + std::to_string(text.red()) + "\\green" +
                              std::to_string(text.green()) + "\\blue" +
                              std::to_string(text.blue()) + ";";
    for (size_t at = colors.find(black); at != std::string::npos;
         at = colors.find(black, at + light.size()))
        colors.replace(at, black.size(), light);
    return rtf.substr(0, table) + colors + rtf.substr(tableEnd);
}

// A replacement longer than this (about 500 messages of RTF) is laid out in slices: laying
// out everything at once to show the end would hold the window for as long as it takes.
constexpr std::size_t kSlicedLayoutBytes = 100'000;
// A slice stops after this long, so that input and painting get their turn.
constexpr int kSliceMs = 12;
// Characters laid out between looks at the clock.
constexpr int kSliceStep = 4'000;

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

void CChatHistoryEdit::LayOutSlice()
{
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const int last = document()->characterCount() - 1;
    QElapsedTimer clock;
    clock.start();
    // Asking where a block lies lays the document out that far, and no further.
    while (m_laidOutTo < last && clock.elapsed() < kSliceMs) {
        m_laidOutTo = std::min(last, m_laidOutTo + kSliceStep);
        layout->blockBoundingRect(document()->findBlock(m_laidOutTo));
    }
    if (m_laidOutTo >= last)
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

void CChatHistoryEdit::Stream(const HistoryStream& stream, bool sliced)
{
    if (!stream.Draw)
        return;
    const bool updates = EndPending() ? m_updatesAfterSlices : updatesEnabled();
    const QTextCursor saved = textCursor();
    const int previousLast = document()->characterCount() - 1;
    // An end still waiting to be shown counts as the caret at the end.
    const int savedAnchor = EndPending() ? previousLast : saved.anchor();
    const int savedPosition = EndPending() ? previousLast : saved.position();
    StopSlices();
    setUpdatesEnabled(false);

    RtfInsertOptions options;
    options.AbsorbFinalParagraph = stream.ReplaceAll;
    options.LinkColor =
        LinkColorOn(palette().color(QPalette::Link), palette().color(QPalette::Base));
    options.Links.reserve(stream.Links.size() + stream.Addresses.size());
    for (const PrefixLink& link : stream.Links)
        options.Links.push_back({link.Start, link.End, Href(link.Start)});
    for (const TextSpan& address : stream.Addresses)
        options.Links.push_back({address.Start, address.End, Href(address.Start)});
    std::sort(options.Links.begin(), options.Links.end(),
              [](const RtfLinkSpan& a, const RtfLinkSpan& b) { return a.Start < b.Start; });

    // Where the caret stays (it has the focus, and not at the end) the text is laid out as
    // far as the caret at once.
    const bool followsEnd =
        !hasFocus() || (savedAnchor == savedPosition && savedPosition >= previousLast);
    sliced = sliced && stream.ReplaceAll && followsEnd && stream.Rtf.size() > kSlicedLayoutBytes;
    // A document with a null page size is not laid out while it is filled; given its size
    // back, it is laid out lazily from the top, as far as asked.
    const QSizeF pageSize = document()->pageSize();
    if (sliced)
        document()->setPageSize(QSizeF(0, 0));

    if (stream.ReplaceAll)
        document()->clear();
    if (sliced) {
        // The caret waits at the start, where showing it needs only the first lines.
        QTextCursor start(document());
        start.setKeepPositionOnInsert(true);
        setTextCursor(start);
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (DarkSystemBackground(*this, m_model.Settings()))
        InsertRtf(cursor, WithLightBlack(stream.Rtf, palette().color(QPalette::Text)), options);
    else
        InsertRtf(cursor, stream.Rtf, options);
    cursor.endEditBlock();

    const int last = document()->characterCount() - 1;
    if (sliced) {
        document()->setPageSize(pageSize);
        // The end is shown once the slices are done, the view held still until then.
        StartSlices(updates);
        return;
    }
    QTextCursor restored(document());
    restored.setPosition(std::min(savedAnchor, last));
    restored.setPosition(std::min(savedPosition, last), QTextCursor::KeepAnchor);
    if (!hasFocus())
        restored.movePosition(QTextCursor::End);
    setTextCursor(restored);
    if (!hasFocus())
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    setUpdatesEnabled(updates);
}

void CChatHistoryEdit::ShowNotice(const HistoryNotice& notice)
{
    HistoryStream stream;
    stream.Draw = true;
    stream.ReplaceAll = true;
    stream.Rtf = notice.Rtf;
    stream.Addresses.push_back(notice.Link);
    Stream(stream);
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
    const HistoryStream stream =
        m_model.ClearSelected(selection.selectionStart(), selection.selectionEnd(), caret);
    Stream(stream);
    Finish(stream, nullptr);
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
    const QTextBlock block = document()->findBlock(position);
    QString href;
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (position >= fragment.position() && position < fragment.position() + fragment.length()) {
            if (!fragment.charFormat().isAnchor())
                return false;
            href = fragment.charFormat().anchorHref();
            break;
        }
    }
    if (href.isEmpty())
        return false;
    start = -1;
    end = -1;
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.charFormat().anchorHref() != href)
            continue;
        if (start < 0)
            start = fragment.position();
        end = fragment.position() + fragment.length();
    }
    return start >= 0;
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
    const QUrl url = LinkUrl(text);
    QPointer<CChatHistoryEdit> alive(this);
    auto failed = [alive, text] {
        if (alive)
            alive->m_prompt.MessageBox("Could not open \"" + text + "\"!", "Zib Tam",
                                       PromptButtons::Ok, PromptIcon::Warning);
    };
    if (!url.isValid() || !m_opener) {
        failed();
        return;
    }
    m_opener(url, [failed](bool opened) {
        if (!opened)
            failed();
    });
}

QMenu* CChatHistoryEdit::CreateContextMenu()
{
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
        switch (HistoryControlKey(static_cast<char>('A' + (event->key() - Qt::Key_A)))) {
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
        const QString href = anchorAt(event->position().toPoint());
        if (href.startsWith(QLatin1Char('#'))) {
            m_leftDownOnLink = true;
            ClickLinkAt(href.mid(1).toInt());
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
