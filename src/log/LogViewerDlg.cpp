#include "log/LogViewerDlg.h"

#include "log/WebPageView.h"
#include "platform/ProgramFiles.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "settings/Options.h"
#include "view/ChatHistoryEdit.h"
#include "view/HtmlMessageWriter.h"
#include "view/OpenLink.h"
#include "view/PrefixFormat.h"
#include "view/RtfTextDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>
#include <malloc.h>
#include <unistd.h>

namespace {

QString Text(const std::string& text)
{
    return FromCp1252(text);
}

// The look of the page's classes as character formats.
QTextCharFormat PageFormat(const FontSpec& font)
{
    QTextCharFormat format;
    format.setFontFamilies({FromCp1252(font.FaceName)});
    if (font.Size >= 20)
        format.setFontPointSize(font.Size / 20);
    format.setFontWeight(font.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(font.Italic);
    format.setFontUnderline(font.Underline);
    format.setFontStrikeOut(font.StrikeOut && !font.Underline);
    format.setForeground(ColorFromColorRef(font.Color));
    return format;
}

// One paragraph of the document per message: a line end inside a text is a line break.
QString ParagraphText(const std::string& text)
{
    QString result = FromCp1252(NormaliseHistoryText(text));
    result.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return result;
}

uint32_t ColorRefOf(const QColor& color)
{
    return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
           static_cast<uint32_t>(color.blue()) << 16;
}

// The page's colours: without a background of the user's own, the palette's base, on which
// the fonts' automatic black takes the palette's text colour (as the chat history does), so
// a dark palette gives a dark page with light text.
// The colours the desktop gives text views (a plain widget's base may be the window's).
QPalette TextPalette()
{
    return QApplication::palette("QTextEdit");
}

HistoryDisplaySettings PageSettings(const HistoryDisplaySettings& settings, const QPalette& colors)
{
    HistoryDisplaySettings page = settings;
    if (settings.Background)
        return page;
    const QColor base = colors.color(QPalette::Base);
    page.Background = ColorRefOf(base);
    if (base.lightness() < 128) {
        for (FontSpec* font : {&page.PrefixFont, &page.MessageFont})
            if (font->Color == 0)
                font->Color = ColorRefOf(colors.color(QPalette::Text));
    }
    return page;
}

QString NoticePage(const std::string& text, const std::string& linkWord,
                   const HistoryDisplaySettings& settings, const QPalette& colors)
{
    const QColor base = ColorFromColorRef(settings.Background.value_or(0x00FFFFFF));
    const QColor link = LinkColorOn(colors.color(QPalette::Link), base);
    std::string html =
        "<html><body bgcolor=\"" + HtmlColor(settings.Background.value_or(0x00FFFFFF)) +
        "\"><p style=\"" + HtmlFontStyle(settings.MessageFont) + "\">" + EscapeHtml(text) +
        "&nbsp; <a style=\"color: " + HtmlColor(ColorRefOf(link)) + "\" href=\"zibtam:" + linkWord +
        "\">" + linkWord + "</a>.</p></body></html>";
    return FromCp1252(html);
}

} // namespace

// The page in Qt's own rich-text browser, where the web engine cannot run. The messages go
// straight into its document, formatted as the page's classes, a slice at a time; parsing
// the page's HTML would take minutes for a large log. It has no script, so the outline of a
// selected message is drawn here.
class CTextBrowserPageView : public QTextBrowser, public IWebPageView
{
public:
    explicit CTextBrowserPageView(QWidget* parent) : QTextBrowser(parent)
    {
        setOpenLinks(false);
        setContextMenuPolicy(Qt::NoContextMenu);
        setAccessibleName(QStringLiteral("Zib Tam Log"));
        document()->setUndoRedoEnabled(false);
        connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
            if (url.scheme() == QStringLiteral("zibtam") && m_links)
                m_links(url);
        });
    }

    // Shows `messages` (numbered from `firstIndex` for the prefix), replacing what is shown
    // or after it. Following the log keeps the view where the user left it unless that was
    // the end. False when the user cancelled; what was shown until then stays.
    bool ShowMessages(std::span<const ChatMessage> messages, int firstIndex, bool append,
                      const HistoryDisplaySettings& settings, IHistoryProgress* progress)
    {
        QScrollBar* bar = verticalScrollBar();
        const bool follow = !append || m_count == 0 || bar->value() >= bar->maximum();
        if (!append) {
            setExtraSelections({});
            document()->clear();
            m_count = 0;
        }
        QPalette colors = palette();
        colors.setColor(QPalette::Base, ColorFromColorRef(settings.Background.value_or(0xFFFFFF)));
        setPalette(colors);
        const QTextCharFormat prefixFormat = PageFormat(settings.PrefixFont);
        const QTextCharFormat messageFormat = PageFormat(settings.MessageFont);
        CPrefixFormat format(settings.PrefixFormat);
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        // Slices of a few hundred: the window stays painted and Cancel is heard between them.
        constexpr size_t kSlice = 256;
        bool cancelled = false;
        for (size_t from = 0; from < messages.size() && !cancelled; from += kSlice) {
            const size_t to = std::min(messages.size(), from + kSlice);
            cursor.beginEditBlock();
            for (size_t i = from; i < to; ++i) {
                const ChatMessage& message = messages[i];
                if (m_count > 0)
                    cursor.insertBlock();
                std::string prefix =
                    format.Format(message.Time, message.Sender, FormatRecipients(message),
                                  firstIndex + static_cast<int>(i), 0);
                cursor.insertText(ParagraphText(prefix), prefixFormat);
                cursor.insertText(ParagraphText(message.Text), messageFormat);
                ++m_count;
            }
            cursor.endEditBlock();
            cancelled = progress && to < messages.size() && progress->IsCancelled();
        }
        if (follow)
            bar->setValue(bar->maximum());
        return !cancelled;
    }

    QWidget* Widget() override { return this; }
    void LoadFile(const QString& path) override
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        QByteArray bytes = file.readAll();
        SetHtml(FromCp1252(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    void SetHtml(const QString& html) override
    {
        setExtraSelections({});
        m_count = 0;
        setHtml(html);
    }
    bool AppendHtml(const QString&) override { return false; }
    bool PrependHtml(const QString&) override { return false; } // it holds every message
    bool AppendNewerHtml(const QString&) override { return false; }
    void SetMoreHandler(std::function<void(bool)>) override {}
    void SetEdgeHandler(std::function<void(bool)>) override {} // it holds every message
    void ScrollToStart() override { verticalScrollBar()->setValue(0); }
    void SelectMessage(int index) override
    {
        // Each message is one paragraph.
        QTextBlock block = document()->findBlockByNumber(index);
        if (index < 0 || !block.isValid()) {
            setExtraSelections({});
            return;
        }
        QTextEdit::ExtraSelection outline;
        outline.cursor = QTextCursor(block);
        outline.cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        outline.format.setBackground(palette().color(QPalette::Highlight));
        outline.format.setForeground(palette().color(QPalette::HighlightedText));
        outline.format.setProperty(QTextFormat::FullWidthSelection, true);
        setExtraSelections({outline});
        // Centred when it fits, as the page's script does.
        QRectF rect = document()->documentLayout()->blockBoundingRect(block);
        int top = static_cast<int>(rect.top());
        int height = static_cast<int>(rect.height());
        int viewHeight = viewport()->height();
        if (height < viewHeight)
            top -= (viewHeight - height) / 2;
        verticalScrollBar()->setValue(top);
    }
    void SetLinkHandler(std::function<void(const QUrl&)> handler) override
    {
        m_links = std::move(handler);
    }
    bool IsLoading() const override { return false; }
    bool IsWorking() const override { return true; }
    void SetStateHandler(std::function<void()>) override {} // never loading

private:
    std::function<void(const QUrl&)> m_links;
    int m_count = 0; // messages in the document
};

// The wait cursor, the window disabled, and after half a second a small window with Cancel.
// Pending events run every few dozen milliseconds, so the window stays painted and Cancel
// works while a long load runs.
class CLogBusy : public ILogBusy
{
public:
    CLogBusy(QWidget* window, const std::string& text)
        : m_window(window), m_focus(window->focusWidget()), m_text(Text(text))
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_window->setEnabled(false);
        m_started.start();
        m_pumped.start();
    }
    ~CLogBusy() override
    {
        // A load held the whole file and copies of its messages: give what it freed back to
        // the system, or the viewer keeps that much resident for as long as it is open.
        ::malloc_trim(0);
        delete m_dialog;
        if (m_window)
            m_window->setEnabled(true);
        // Disabling the window moved the focus on (to the period above the log).
        if (m_focus)
            m_focus->setFocus();
        QApplication::restoreOverrideCursor();
    }
    void SetStatusText(const std::string& text) override
    {
        m_text = Text(text);
        if (m_label)
            m_label->setText(m_text);
    }
    bool IsCancelled() override
    {
        if (m_pumped.elapsed() >= 40) {
            if (!m_dialog && m_started.elapsed() >= 500)
                ShowDialog();
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            m_pumped.restart();
        }
        return m_cancelled;
    }
    void Cancel() { m_cancelled = true; }

private:
    void ShowDialog()
    {
        m_dialog = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint);
        m_dialog->setWindowTitle(QStringLiteral("Loading..."));
        auto* layout = new QVBoxLayout(m_dialog);
        m_label = new QLabel(m_text, m_dialog);
        layout->addWidget(m_label);
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), m_dialog);
        cancel->setAccessibleName(QStringLiteral("Cancel"));
        layout->addWidget(cancel);
        QObject::connect(cancel, &QPushButton::clicked, m_dialog, [this] { m_cancelled = true; });
        m_dialog->show();
    }

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
    QString m_text;
    QElapsedTimer m_started;
    QElapsedTimer m_pumped;
    QDialog* m_dialog = nullptr;
    QLabel* m_label = nullptr;
    bool m_cancelled = false;
};

QString WebViewModulePath()
{
    QString path = qEnvironmentVariable("ZIBTAM_WEBVIEW");
    if (path.isEmpty()) {
        // Before the application object exists its folder is not known yet.
        char exe[4096];
        ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string executable =
            n > 0 ? std::string(exe, static_cast<size_t>(n))
                  : QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
        path = QFile::decodeName(WebViewModuleFor(executable).c_str());
    }
    return path;
}

namespace {
bool s_unsetGlIntegration = false; // set by PrepareLogViewerProcess for the page's sake
} // namespace

void PrepareLogViewerProcess()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // No GPU is assumed (virtual displays, remote desktops): Chromium draws in software.
    if (!std::getenv("QTWEBENGINE_CHROMIUM_FLAGS"))
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-gpu-compositing", 1);
    if (!std::getenv("QT_QUICK_BACKEND"))
        setenv("QT_QUICK_BACKEND", "software", 1);
    // Drawn in software, the page needs no GL: without it the X11 connection does not load
    // a GL driver (some 50 MB resident). Taken back once the connection is open, so that
    // programs we start (a browser for a link) do not inherit it.
    if (!std::getenv("QT_XCB_GL_INTEGRATION")) {
        setenv("QT_XCB_GL_INTEGRATION", "none", 1);
        s_unsetGlIntegration = true;
    }
    // Chromium refuses to run its sandbox as root.
    if (::geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QLibrary module(WebViewModulePath());
    if (auto prepare =
            reinterpret_cast<PrepareWebPageViewFunction>(module.resolve(kPrepareWebPageViewSymbol)))
        prepare();
}

std::unique_ptr<IWebPageView> LoadWebPageView(QWidget* parent)
{
    if (std::exchange(s_unsetGlIntegration, false))
        unsetenv("QT_XCB_GL_INTEGRATION");
    QLibrary module(WebViewModulePath());
    auto create =
        reinterpret_cast<CreateWebPageViewFunction>(module.resolve(kCreateWebPageViewSymbol));
    if (!create)
        return nullptr;
    return std::unique_ptr<IWebPageView>(create(parent));
}

namespace {
// Messages in the first page and in each older part: a page of them loads in a moment.
constexpr size_t kPageSlice = 500;
// The page opens with fewer, a few screens of them: the engine shows a small page sooner.
constexpr size_t kFirstSlice = 100;
} // namespace

CHtmlLogView::CHtmlLogView(std::string pagePath, QWidget* parent, bool allowWebEngine)
    : QWidget(parent), m_pagePath(std::move(pagePath))
{
    if (allowWebEngine)
        m_page = LoadWebPageView(this);
    m_webEngine = m_page != nullptr;
    if (!m_page) {
        auto plain = std::make_unique<CTextBrowserPageView>(this);
        m_plain = plain.get();
        m_page = std::move(plain);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_page->Widget());
    setFocusProxy(m_page->Widget());
    m_page->SetLinkHandler([this](const QUrl& url) {
        if (url.path() == QString::fromLatin1(kReloadLink)) {
            emit reloadRequested();
        } else if (url.path() == QString::fromLatin1(kNotDisplayedLink)) {
            CWaitCursorProgress progress;
            Rebuild();
        }
    });
    m_page->SetEdgeHandler([this](bool oldest) {
        // The page holds a part of the messages: Home and End go to the ends of all of them.
        if (m_plain || m_showingNotice)
            return;
        if (oldest && m_first > 0) {
            JumpTo(0);
            m_page->ScrollToStart();
        } else if (!oldest && m_last < m_shown.size()) {
            Rebuild(); // the newest slice, opened at its end
        }
    });
    m_page->SetMoreHandler([this](bool older) {
        if (older)
            ShowOlder(m_first);
        else
            ShowNewer();
    });
}

CHtmlLogView::~CHtmlLogView() = default;

void CHtmlLogView::ApplySettings(const HistoryDisplaySettings& settings)
{
    m_settings = settings;
    Rebuild();
}

void CHtmlLogView::Display(const CPackedMessages& shown, IHistoryProgress* progress)
{
    m_shown.Show(shown);
    Rebuild(progress);
}

void CHtmlLogView::ShowMessages(std::span<const ChatMessage> shown, bool append,
                                IHistoryProgress* progress)
{
    const int before = append ? static_cast<int>(m_shown.size()) : 0;
    m_shown.Show(shown, append);
    // Following the log: only the new paragraphs go to the file and into the page, so
    // one new message costs the same however long the log is.
    std::string error;
    // A page that stops short of the end (after a jump to an old message) takes the new
    // ones when the user scrolls down to them.
    if (append && before > 0 && !m_showingNotice && !m_plain &&
        m_last != static_cast<size_t>(before))
        return;
    if (append && before > 0 && !m_showingNotice) {
        const HistoryDisplaySettings settings = PageSettings(m_settings, TextPalette());
        std::string paragraphs = BuildLogParagraphs(shown, before, settings);
        if (AppendToLogPage(m_pagePath, paragraphs, error)) {
            if (m_plain) {
                m_plain->ShowMessages(shown, before, true, settings, nullptr);
            } else if (m_page->AppendHtml(FromCp1252(paragraphs))) {
                m_last = m_shown.size();
            } else {
                Rebuild();
            }
            return;
        }
    }
    Rebuild(progress);
}

void CHtmlLogView::Clear()
{
    // The empty page again would only hold up the load of the next one.
    if (m_shown.empty() && !m_showingNotice)
        return;
    m_shown.Clear();
    Rebuild();
}

std::string CHtmlLogView::Paragraphs(size_t from, size_t to,
                                     const HistoryDisplaySettings& settings) const
{
    return BuildLogParagraphs(m_shown.Unpack(from, to), static_cast<int>(from), settings);
}

std::string CHtmlLogView::Page(size_t from, size_t to, const HistoryDisplaySettings& settings) const
{
    if (from == 0)
        return BuildLogPage(m_shown.Unpack(from, to), settings);
    return BuildLogPageWith(Paragraphs(from, to, settings), settings);
}

void CHtmlLogView::FinishShowing()
{
    // The engine loads and paints the page only while the program handles its events.
    WaitForPage(*m_page, 1000);
}

void WaitForPage(IWebPageView& page, int limitMs)
{
    const auto waiting = [&page] { return page.IsLoading() && page.IsWorking(); };
    if (!waiting())
        return;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    page.SetStateHandler([&] {
        if (!waiting())
            loop.quit();
    });
    limit.start(limitMs);
    loop.exec();
    page.SetStateHandler({});
}

void CHtmlLogView::ShowReloadNotice(const std::string& text)
{
    m_shown.Clear();
    m_showingNotice = true;
    m_page->SetHtml(
        NoticePage(text, kReloadLink, PageSettings(m_settings, TextPalette()), TextPalette()));
}

void CHtmlLogView::SelectMessage(int shownIndex)
{
    // A message older than the page holds comes in first, with some before it to centre it.
    constexpr size_t kRoomAbove = 50;
    const size_t index = static_cast<size_t>(std::max(shownIndex, 0));
    if (shownIndex >= 0 && !m_plain && !m_showingNotice &&
        (index + kPageSlice < m_first || index >= m_last))
        JumpTo(index > kRoomAbove ? index - kRoomAbove : 0); // far away: a page from there
    else if (shownIndex >= 0 && index < m_first)
        ShowOlder(index > kRoomAbove ? index - kRoomAbove : 0);
    m_page->SelectMessage(shownIndex);
}

void CHtmlLogView::JumpTo(size_t first)
{
    const size_t last = std::min(m_shown.size(), first + kPageSlice);
    // Not to the end once loaded: that could come after the scroll to the message sought.
    const std::string page =
        OpenLogPageAtStart(Page(first, last, PageSettings(m_settings, TextPalette())));
    std::string error;
    if (!WriteLogPage(m_pagePath, page, error))
        return;
    m_first = m_fileFirst = first;
    m_last = last;
    m_page->LoadFile(QString::fromStdString(m_pagePath));
}

void CHtmlLogView::ShowNewer()
{
    if (m_plain || m_showingNotice || m_last >= m_shown.size())
        return;
    const size_t to = std::min(m_shown.size(), m_last + kPageSlice);
    const std::string paragraphs = Paragraphs(m_last, to, PageSettings(m_settings, TextPalette()));
    if (m_page->AppendNewerHtml(FromCp1252(paragraphs)))
        m_last = to;
}

void CHtmlLogView::ShowOlder(size_t downTo)
{
    if (m_plain || m_showingNotice || m_first == 0)
        return;
    const size_t from = std::min(downTo, m_first > kPageSlice ? m_first - kPageSlice : 0);
    const std::string paragraphs =
        Paragraphs(from, m_first, PageSettings(m_settings, TextPalette()));
    if (m_page->PrependHtml(FromCp1252(paragraphs)))
        m_first = from;
}

bool CHtmlLogView::ShowInPlainPage(const HistoryDisplaySettings& settings,
                                   IHistoryProgress* progress)
{
    // A few thousand unpacked at a time: the messages are held once, packed.
    constexpr size_t kChunk = 4096;
    bool append = false;
    for (size_t from = 0; from < m_shown.size(); from += kChunk) {
        const std::vector<ChatMessage> messages = m_shown.Unpack(from, from + kChunk);
        if (!m_plain->ShowMessages(messages, static_cast<int>(from), append, settings, progress))
            return false;
        append = true;
    }
    if (!append)
        m_plain->ShowMessages({}, 0, false, settings, progress);
    return true;
}

void CHtmlLogView::Rebuild(IHistoryProgress* progress)
{
    // A page that cannot be written leaves the previous one in view.
    std::string error;
    const HistoryDisplaySettings settings = PageSettings(m_settings, TextPalette());
    // The web page starts with the newest messages; the plain page holds them all.
    const size_t first =
        !m_plain && m_shown.size() > kFirstSlice ? m_shown.size() - kFirstSlice : 0;
    if (!WriteLogPage(m_pagePath, Page(first, m_shown.size(), settings), error))
        return;
    m_showingNotice = false;
    m_first = m_fileFirst = first;
    m_last = m_shown.size();
    if (!m_plain) {
        m_page->LoadFile(QString::fromStdString(m_pagePath));
    } else if (!ShowInPlainPage(settings, progress)) {
        // Cancelled: as the classic view, a notice with a link that shows them after all.
        m_showingNotice = true;
        m_page->SetHtml(
            NoticePage(kNotDisplayedNotice, kNotDisplayedLink, settings, TextPalette()));
    }
}

namespace {

// Enough rows kept laid out for a tall window and a little scrolling; the rest are laid out
// again when they come into view.
constexpr size_t kLaidOutRowsKept = 400;

QString RowPlainText(const ChatMessage& message, const CPrefixFormat& format, int index)
{
    std::string prefix =
        format.Format(message.Time, message.Sender, FormatRecipients(message), index, 0);
    return FromCp1252(NormaliseHistoryText(prefix) + NormaliseHistoryText(message.Text));
}

} // namespace

CClassicLogView::CClassicLogView(IPrompt& prompt, QWidget* parent)
    : QAbstractScrollArea(parent), m_prompt(prompt)
{
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAccessibleName(QStringLiteral("Zib Tam Log"));
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CClassicLogView::OnScrollBar);
    ApplySettings(HistoryDisplaySettings{});
}

CClassicLogView::~CClassicLogView() = default;

void CClassicLogView::ApplySettings(const HistoryDisplaySettings& settings)
{
    m_settings = settings;
    m_colours = PageSettings(settings, QApplication::palette(this));
    QPalette colors = palette();
    colors.setColor(QPalette::Base, ColorFromColorRef(m_colours.Background.value_or(0xFFFFFF)));
    viewport()->setPalette(colors);
    Relayout();
}

void CClassicLogView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && !m_settings.Background)
        ApplySettings(m_settings);
    QAbstractScrollArea::changeEvent(event);
}

void CClassicLogView::ShowMessages(std::span<const ChatMessage> shown, bool append,
                                   IHistoryProgress*)
{
    PrepareRows(append);
    m_messages.Show(shown, append);
    RowsChanged();
}

void CClassicLogView::Display(const CPackedMessages& shown, IHistoryProgress*)
{
    PrepareRows(false);
    m_messages.Show(shown);
    RowsChanged();
}

void CClassicLogView::PrepareRows(bool append)
{
    // Nothing is laid out here: rows are laid out when they come on screen.
    m_notice.reset();
    if (!append) {
        m_layouts.clear();
        m_heights.clear();
        m_selected = -1;
        m_allSelected = false;
        m_atEnd = true;
    }
}

void CClassicLogView::RowsChanged()
{
    m_heights.resize(m_messages.size(), -1);
    // At the end it follows; above it the rows on screen stay where they are.
    SyncScrollBar();
    viewport()->update();
}

void CClassicLogView::Clear()
{
    ShowMessages({}, false, nullptr);
}

void CClassicLogView::ShowReloadNotice(const std::string& text)
{
    Clear();
    m_notice = std::make_unique<QTextDocument>();
    m_notice->setUndoRedoEnabled(false);
    QTextCursor cursor(m_notice.get());
    QTextCharFormat format = PageFormat(m_colours.MessageFont);
    cursor.insertText(FromCp1252(text) + QStringLiteral("  "), format);
    format.setAnchor(true);
    format.setAnchorHref(QStringLiteral("zibtam:") + QString::fromLatin1(kReloadLink));
    format.setForeground(LinkColorOn(palette().color(QPalette::Link),
                                     ColorFromColorRef(m_colours.Background.value_or(0xFFFFFF))));
    format.setFontUnderline(true);
    cursor.insertText(QString::fromLatin1(kReloadLink), format);
    format = PageFormat(m_colours.MessageFont);
    cursor.insertText(QStringLiteral("."), format);
    m_notice->setTextWidth(viewport()->width());
    SyncScrollBar();
    viewport()->update();
}

QString CClassicLogView::NoticeText() const
{
    return m_notice ? m_notice->toPlainText() : QString();
}

QString CClassicLogView::RowText(int row) const
{
    if (row < 0 || row >= RowCount())
        return {};
    return RowPlainText(m_messages[static_cast<size_t>(row)],
                        CPrefixFormat(m_settings.PrefixFormat), row);
}

QTextDocument& CClassicLogView::Layout(int row)
{
    std::unique_ptr<QTextDocument>& slot = m_layouts[row];
    if (slot)
        return *slot;
    EvictLayouts();
    std::unique_ptr<QTextDocument>& fresh = m_layouts[row];
    fresh = std::make_unique<QTextDocument>();
    QTextDocument& document = *fresh;
    document.setUndoRedoEnabled(false);
    document.setDocumentMargin(2);
    const ChatMessage message = m_messages[static_cast<size_t>(row)];
    QTextCursor cursor(&document);
    std::string prefix =
        CPrefixFormat(m_settings.PrefixFormat)
            .Format(message.Time, message.Sender, FormatRecipients(message), row, 0);
    cursor.insertText(ParagraphText(prefix), PageFormat(m_colours.PrefixFont));
    // The text, with its web and e-mail addresses as links (one character per byte).
    const std::string text = NormaliseHistoryText(message.Text);
    const QTextCharFormat plain = PageFormat(m_colours.MessageFont);
    QTextCharFormat link = plain;
    link.setAnchor(true);
    link.setFontUnderline(true);
    link.setForeground(LinkColorOn(palette().color(QPalette::Link),
                                   ColorFromColorRef(m_colours.Background.value_or(0xFFFFFF))));
    size_t at = 0;
    for (const TextSpan& address : FindAddresses(text)) {
        const size_t start = static_cast<size_t>(address.Start);
        const size_t end = static_cast<size_t>(address.End);
        cursor.insertText(ParagraphText(text.substr(at, start - at)), plain);
        link.setAnchorHref(FromCp1252(text.substr(start, end - start)));
        cursor.insertText(ParagraphText(text.substr(start, end - start)), link);
        at = end;
    }
    cursor.insertText(ParagraphText(text.substr(at)), plain);
    document.setTextWidth(viewport()->width());
    m_heights[static_cast<size_t>(row)] = static_cast<int>(std::ceil(document.size().height()));
    return document;
}

void CClassicLogView::EvictLayouts()
{
    if (m_layouts.size() < kLaidOutRowsKept)
        return;
    // Keep the rows on screen; lay the others out again when they come back.
    const auto [first, last] = RowsOnScreen();
    for (auto it = m_layouts.begin(); it != m_layouts.end();)
        it = it->first >= first && it->first <= last ? std::next(it) : m_layouts.erase(it);
}

int CClassicLogView::RowHeight(int row)
{
    const int height = m_heights[static_cast<size_t>(row)];
    return height >= 0 ? height : (Layout(row), m_heights[static_cast<size_t>(row)]);
}

std::pair<int, int> CClassicLogView::EndPosition()
{
    int row = RowCount();
    int above = viewport()->height();
    while (row > 0 && above > 0)
        above -= RowHeight(--row);
    return {row, above < 0 ? -above : 0};
}

void CClassicLogView::Relayout()
{
    m_layouts.clear();
    std::fill(m_heights.begin(), m_heights.end(), -1);
    if (m_notice)
        m_notice->setTextWidth(viewport()->width());
    SyncScrollBar();
    viewport()->update();
}

void CClassicLogView::SyncScrollBar()
{
    // The bar counts rows: its end is the row at the top when the last row is at the bottom.
    const auto [endRow, endOffset] = EndPosition();
    if (m_atEnd || m_top > endRow || (m_top == endRow && m_topOffset >= endOffset)) {
        m_top = endRow;
        m_topOffset = endOffset;
        m_atEnd = true;
    }
    m_syncing = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, endRow + (endOffset > 0 ? 1 : 0));
    bar->setPageStep(std::max(1, RowsOnScreen().second - RowsOnScreen().first));
    bar->setValue(m_atEnd ? bar->maximum() : m_top);
    m_syncing = false;
}

void CClassicLogView::OnScrollBar(int value)
{
    if (m_syncing)
        return;
    if (value >= verticalScrollBar()->maximum()) {
        m_atEnd = true;
        SyncScrollBar();
        viewport()->update();
        return;
    }
    ScrollToRow(value, 0);
}

void CClassicLogView::ScrollToRow(int row, int offset)
{
    m_top = std::clamp(row, 0, std::max(0, RowCount() - 1));
    m_topOffset = std::max(0, offset);
    m_atEnd = false;
    SyncScrollBar();
    viewport()->update();
}

void CClassicLogView::ScrollBy(int pixels)
{
    if (RowCount() == 0)
        return;
    int top = m_top;
    int offset = m_topOffset + pixels;
    while (offset < 0 && top > 0)
        offset += RowHeight(--top);
    while (top < RowCount() - 1 && offset >= RowHeight(top))
        offset -= RowHeight(top++);
    ScrollToRow(top, offset); // past the end it comes back to the end
}

std::pair<int, int> CClassicLogView::RowsOnScreen() const
{
    if (m_messages.empty() || m_notice)
        return {-1, -1};
    int y = -m_topOffset;
    int row = m_top;
    const int height = viewport()->height();
    while (row < RowCount() && y < height) {
        const int h = m_heights[static_cast<size_t>(row)];
        y += h >= 0 ? h : 1;
        ++row;
    }
    return {m_top, row - 1};
}

void CClassicLogView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (m_notice) {
        m_notice->drawContents(&painter);
        return;
    }
    const int height = viewport()->height();
    int y = -m_topOffset;
    for (int row = m_top; row < RowCount() && y < height; ++row) {
        QTextDocument& document = Layout(row);
        const int rowHeight = m_heights[static_cast<size_t>(row)];
        painter.save();
        painter.translate(0, y);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = viewport()->palette();
        if (row == m_selected || m_allSelected) {
            painter.fillRect(QRect(0, 0, viewport()->width(), rowHeight),
                             palette().color(QPalette::Highlight));
            QAbstractTextDocumentLayout::Selection selection;
            selection.cursor = QTextCursor(&document);
            selection.cursor.select(QTextCursor::Document);
            selection.format.setBackground(palette().color(QPalette::Highlight));
            selection.format.setForeground(palette().color(QPalette::HighlightedText));
            context.selections.append(selection);
        }
        context.clip = QRectF(0, 0, viewport()->width(), rowHeight);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        y += rowHeight;
    }
}

void CClassicLogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void CClassicLogView::wheelEvent(QWheelEvent* event)
{
    const int lines = -event->angleDelta().y() * QApplication::wheelScrollLines() / 120;
    ScrollBy(lines * fontMetrics().lineSpacing());
    event->accept();
}

void CClassicLogView::keyPressEvent(QKeyEvent* event)
{
    const int line = fontMetrics().lineSpacing();
    const int page = std::max(line, viewport()->height() - line);
    if (event->matches(QKeySequence::Copy)) {
        Copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->key() == Qt::Key_Down) {
        ScrollBy(line);
    } else if (event->key() == Qt::Key_Up) {
        ScrollBy(-line);
    } else if (event->key() == Qt::Key_PageDown) {
        ScrollBy(page);
    } else if (event->key() == Qt::Key_PageUp) {
        ScrollBy(-page);
    } else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        ScrollToRow(0, 0);
    } else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        m_atEnd = true;
        SyncScrollBar();
        viewport()->update();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

int CClassicLogView::RowAt(QPoint point, QPointF& within)
{
    int y = -m_topOffset;
    for (int row = m_top; row < RowCount() && y < viewport()->height(); ++row) {
        const int height = RowHeight(row);
        if (point.y() >= y && point.y() < y + height) {
            within = QPointF(point.x(), point.y() - y);
            return row;
        }
        y += height;
    }
    return -1;
}

QString CClassicLogView::AnchorAt(QPoint point)
{
    if (m_notice)
        return m_notice->documentLayout()->anchorAt(point);
    QPointF within;
    const int row = RowAt(point, within);
    return row < 0 ? QString() : Layout(row).documentLayout()->anchorAt(within);
}

void CClassicLogView::ClickAt(QPoint point)
{
    const QString href = AnchorAt(point);
    if (href == QStringLiteral("zibtam:") + QString::fromLatin1(kReloadLink)) {
        emit ReloadRequested();
        return;
    }
    if (!href.isEmpty() && !m_notice) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        OpenLink(ToCp1252(href), true, &m_prompt);
        QApplication::restoreOverrideCursor();
        return;
    }
    QPointF within;
    Select(RowAt(point, within));
}

void CClassicLogView::Select(int row)
{
    m_selected = row;
    m_allSelected = false;
    // The rows are drawn, not widgets: a screen reader hears the selected one this way.
    setAccessibleDescription(RowText(row));
    viewport()->update();
}

void CClassicLogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        ClickAt(event->position().toPoint());
    event->accept();
}

void CClassicLogView::mouseMoveEvent(QMouseEvent* event)
{
    viewport()->setCursor(AnchorAt(event->position().toPoint()).isEmpty() ? Qt::ArrowCursor
                                                                          : Qt::PointingHandCursor);
}

void CClassicLogView::SelectMessage(int shownIndex)
{
    if (shownIndex < 0 || shownIndex >= RowCount()) {
        Select(-1);
        return;
    }
    Select(shownIndex);
    // Unless it is on screen whole: centred when it fits, its top at the top if not.
    const auto [first, last] = RowsOnScreen();
    if (shownIndex > first && shownIndex < last)
        return;
    const int height = RowHeight(shownIndex);
    int above = (viewport()->height() - height) / 2;
    int top = shownIndex;
    while (above > 0 && top > 0)
        above -= RowHeight(--top);
    ScrollToRow(top, above < 0 ? -above : 0);
}

void CClassicLogView::Copy()
{
    QStringList lines;
    if (m_allSelected) {
        const CPrefixFormat format(m_settings.PrefixFormat);
        for (int row = 0; row < RowCount(); ++row)
            lines.append(RowPlainText(m_messages[static_cast<size_t>(row)], format, row));
    } else if (m_selected >= 0) {
        lines.append(RowText(m_selected));
    }
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void CClassicLogView::SelectAll()
{
    m_allSelected = RowCount() > 0;
    viewport()->update();
}

CLogViewerDlg::CLogViewerDlg(COptions& options, IPrompt& prompt, const IClock& clock,
                             bool secondary, QWidget* view, ILogHistoryView& history)
    : m_prompt(prompt), m_view(view), m_history(history),
      m_viewer(options, prompt, clock, *this, history)
{
    QString title = QStringLiteral("Zib Tam Log Viewer");
    if (secondary)
        title += QStringLiteral(" (Secondary)");
    setWindowTitle(title);
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* periodRow = new QHBoxLayout;
    auto* periodLabel = new QLabel(QStringLiteral("&Show messages from the"), central);
    m_period = new QComboBox(central);
    for (const LogPeriod& period : LogPeriods())
        m_period->addItem(QString::fromLatin1(period.Label));
    periodLabel->setBuddy(m_period);
    m_period->setAccessibleName(QStringLiteral("Show messages from the"));
    periodRow->addWidget(periodLabel);
    periodRow->addWidget(m_period);
    periodRow->addStretch(1);
    layout->addLayout(periodRow);

    m_resultsLabel = new QLabel(QStringLiteral("Search &Results:"), central);
    m_results = new QListWidget(central);
    m_resultsLabel->setBuddy(m_results);
    m_results->setAccessibleName(QStringLiteral("Search Results"));
    m_results->setMinimumHeight(80);
    m_results->installEventFilter(this);
    layout->addWidget(m_resultsLabel);
    layout->addWidget(m_results, 1);

    m_logLabel = new QLabel(QStringLiteral("&Zib Tam Log:"), central);
    m_logLabel->setBuddy(view);
    view->setParent(central);
    view->setAccessibleName(QStringLiteral("Zib Tam Log"));
    layout->addWidget(m_logLabel);
    layout->addWidget(view, 2);
    // The window opens on the log: Page Up, Home and the arrows read it rather than change
    // the period above it.
    view->setFocus();
    setCentralWidget(central);
    statusBar()->setSizeGripEnabled(true);

    BuildMenu(secondary);
    HideSearchResults();
    resize(640, 480);

    connect(m_period, &QComboBox::currentIndexChanged, this, [this](int row) {
        if (!m_settingPeriod)
            m_viewer.ChoosePeriod(row);
    });
    // Selection, not the current row: the list makes its first row current when it gets
    // the focus, which selects nothing.
    connect(m_results, &QListWidget::itemSelectionChanged, this, [this] {
        QList<QListWidgetItem*> selected = m_results->selectedItems();
        if (!selected.isEmpty())
            m_viewer.SelectResult(m_results->row(selected.front()));
    });
    if (auto* classic = qobject_cast<CClassicLogView*>(view))
        connect(classic, &CClassicLogView::ReloadRequested, this,
                [this] { m_viewer.Reload(false); });
    if (auto* html = qobject_cast<CHtmlLogView*>(view)) {
        connect(html, &CHtmlLogView::reloadRequested, this, [this] { m_viewer.Reload(false); });
    }
    m_askFind = [this](FindCriteria& criteria) { return AskFindCriteria(this, criteria); };

    m_viewer.Start();
    QTimer::singleShot(0, this, [this] { m_viewer.OnFirstIdle(); });
    auto* follow = new QTimer(this);
    connect(follow, &QTimer::timeout, this, &CLogViewerDlg::OnFollowTimer);
    follow->start(1000);
}

CLogViewerDlg::~CLogViewerDlg()
{
    m_viewer.Close();
}

void CLogViewerDlg::BuildMenu(bool)
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Delete Log..."), this, [this] { m_viewer.DeleteLog(); });
    file->addAction(QStringLiteral("&Reload Log"), this, [this] { m_viewer.Reload(true); });
    file->addAction(QStringLiteral("&Close"), this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    // They act on the classic view; on the page they do nothing.
    auto* copy = edit->addAction(QStringLiteral("&Copy"));
    copy->setShortcut(QKeySequence::Copy);
    auto* all = edit->addAction(QStringLiteral("Select A&ll"));
    all->setShortcut(QKeySequence::SelectAll);
    connect(copy, &QAction::triggered, this, [this] { m_history.Copy(); });
    connect(all, &QAction::triggered, this, [this] { m_history.SelectAll(); });
    auto* find = edit->addAction(QStringLiteral("&Find.."));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, &CLogViewerDlg::Find);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Zib Tam 2.5"), this, [this] {
        if (m_runAbout)
            m_runAbout(this);
    });
}

void CLogViewerDlg::OnFollowTimer()
{
    // Not while a dialog or message box of the viewer is open, nor while disabled (busy).
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || !isEnabled())
        return;
    m_viewer.OnFollowTick();
}

void CLogViewerDlg::Find()
{
    FindCriteria criteria = m_viewer.Criteria();
    while (m_askFind(criteria)) {
        if (m_viewer.Find(criteria) != CLogViewer::FindOutcome::NotFound)
            break;
    }
}

void CLogViewerDlg::ShowFromAnotherStart()
{
    if (isMinimized())
        m_wasMaximized ? showMaximized() : showNormal();
    else
        show();
    raise();
    activateWindow();
}

void CLogViewerDlg::closeEvent(QCloseEvent* event)
{
    if (m_busy) {
        // Closing during a load cancels it; the window closes when asked again.
        m_busy->Cancel();
        event->ignore();
        return;
    }
    m_viewer.Close();
    event->accept();
    emit closed();
}

bool CLogViewerDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_results && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_view->setFocus();
            return true;
        }
        // With nothing selected, the first arrow key selects the row the focus is on (the
        // first one after a search) instead of moving past it.
        if ((key == Qt::Key_Down || key == Qt::Key_Up) && m_results->count() > 0 &&
            m_results->selectedItems().isEmpty()) {
            m_results->setCurrentRow(std::max(0, m_results->currentRow()));
            return true;
        }
    }
    if (event->type() == QEvent::WindowStateChange && watched == this)
        m_wasMaximized = isMaximized();
    return QMainWindow::eventFilter(watched, event);
}

std::unique_ptr<ILogBusy> CLogViewerDlg::StartBusy(const std::string& text)
{
    class Tracked : public CLogBusy
    {
    public:
        Tracked(CLogViewerDlg* owner, const std::string& text)
            : CLogBusy(owner, text), m_owner(owner)
        {
            m_owner->m_busy = this;
        }
        ~Tracked() override { m_owner->m_busy = nullptr; }

    private:
        CLogViewerDlg* m_owner;
    };
    return std::make_unique<Tracked>(this, text);
}

void CLogViewerDlg::SetStatusText(const std::string& text)
{
    statusBar()->showMessage(Text(text));
}

void CLogViewerDlg::ShowSearchResults(const std::string& label,
                                      const std::vector<std::string>& items)
{
    m_resultsLabel->setText(
        Text(label).replace(QStringLiteral("Results"), QStringLiteral("&Results")));
    QSignalBlocker blocker(m_results);
    m_results->clear();
    for (const std::string& item : items)
        m_results->addItem(Text(item));
    m_results->setCurrentRow(-1);
    m_resultsLabel->show();
    m_results->show();
    m_results->setFocus();
}

void CLogViewerDlg::HideSearchResults()
{
    m_resultsLabel->hide();
    m_results->hide();
    QSignalBlocker blocker(m_results);
    m_results->clear();
}

void CLogViewerDlg::SelectPeriodRow(int row)
{
    m_settingPeriod = true;
    m_period->setCurrentIndex(row);
    m_settingPeriod = false;
}

bool CLogViewerDlg::MoveToTrash(const std::string& path, std::string& error)
{
    QFile file(QString::fromStdString(path));
    if (file.moveToTrash())
        return true;
    error = ToCp1252(file.errorString());
    return false;
}

void KeepTitleWhole(QWidget& window)
{
    // Title bars use a larger, often bold font than the dialog, and carry the window's
    // buttons beside the title.
    QFont font = window.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    const int buttons = 4 * window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    window.setMinimumWidth(
        std::max(window.minimumSizeHint().width(),
                 QFontMetrics(font).horizontalAdvance(window.windowTitle()) + buttons));
}

bool AskFindCriteria(QWidget* parent, FindCriteria& criteria)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Find Zib Tam Message"));
    auto* form = new QFormLayout(&dialog);
    auto field = [&](const char* label, const std::string& value) {
        auto* edit = new QLineEdit(Text(value), &dialog);
        QString text = QString::fromLatin1(label);
        edit->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        form->addRow(text, edit);
        return edit;
    };
    QLineEdit* sender = field("&Sent by", criteria.Sender);
    QLineEdit* to = field("&to", criteria.Recipients);
    QLineEdit* text = field("&Containing text", criteria.Text);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* find = buttons->addButton(QStringLiteral("Find"), QDialogButtonBox::AcceptRole);
    find->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    KeepTitleWhole(dialog);
    text->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    criteria = {ToCp1252(sender->text()), ToCp1252(to->text()), ToCp1252(text->text())};
    return true;
}
