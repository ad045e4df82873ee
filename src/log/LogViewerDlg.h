#pragma once
// The log viewer window: the period combo, the search results, the history (the HTML page
// or the classic view) and a status bar, over CLogViewer, which decides everything.
#include "log/LogViewerModel.h"
#include "view/ChatHistory.h"

#include <QAbstractScrollArea>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <unordered_map>

class COptions;
class IClock;
class IPrompt;
class CTextBrowserPageView;
class IWebPageView;
class QComboBox;
class QLabel;
class QListWidget;
class QTextDocument;

// What the environment of a log-viewer process needs before its application object
// exists: the web engine shares OpenGL contexts, runs without a GPU (software rendering)
// and, for root, without its sandbox.
void PrepareLogViewerProcess();

// The web engine module's view, or none when the module or the engine is missing.
// ZIBTAM_WEBVIEW names the module file; otherwise it is looked for beside the program.
std::unique_ptr<IWebPageView> LoadWebPageView(QWidget* parent);

// Handles events until `page` has loaded and painted, or has failed; `limitMs` at most.
// Between events it sleeps: the page's own process needs the processor meanwhile.
void WaitForPage(IWebPageView& page, int limitMs);

// The HTML page in a browser: the web engine, else a plain text browser.
class CHtmlLogView : public QWidget, public ILogHistoryView
{
    Q_OBJECT
public:
    CHtmlLogView(std::string pagePath, QWidget* parent, bool allowWebEngine = true);
    ~CHtmlLogView() override;

    void ApplySettings(const HistoryDisplaySettings& settings) override;
    void ShowMessages(std::span<const ChatMessage> shown, bool append,
                      IHistoryProgress* progress) override;
    void Display(const CPackedMessages& shown, IHistoryProgress* progress) override;
    void Clear() override;
    void FinishShowing() override;
    void ShowReloadNotice(const std::string& text) override;
    void SelectMessage(int shownIndex) override;

    bool UsesWebEngine() const { return m_webEngine; }
    IWebPageView& Page() { return *m_page; }
    size_t ShownCount() const { return m_shown.size(); }
    size_t FirstInPage() const { return m_first; }

signals:
    void reloadRequested();

private:
    void Rebuild(IHistoryProgress* progress = nullptr);
    // Puts older messages, down to `downTo` at least, at the start of the page; newer ones
    // at its end; or loads a page of messages from `first` on.
    void ShowOlder(size_t downTo);
    void ShowNewer();
    void JumpTo(size_t first);
    // The paragraphs of messages `from` to `to`, and a page of them.
    std::string Paragraphs(size_t from, size_t to, const HistoryDisplaySettings& settings) const;
    std::string Page(size_t from, size_t to, const HistoryDisplaySettings& settings) const;
    // Every message in the plain page; false when the user cancelled.
    bool ShowInPlainPage(const HistoryDisplaySettings& settings, IHistoryProgress* progress);

    std::string m_pagePath;
    std::unique_ptr<IWebPageView> m_page;
    CTextBrowserPageView* m_plain = nullptr; // m_page, where the web engine is missing
    // The web page holds the newest messages from this one on; older ones join it as the
    // user scrolls up (the page file holds them from m_fileFirst on).
    size_t m_first = 0;
    size_t m_fileFirst = 0;
    size_t m_last = 0; // the end of the messages the page holds (after a jump, short of all)
    bool m_webEngine = false;
    CViewMessages m_shown;
    HistoryDisplaySettings m_settings;
    bool m_showingNotice = false;
};

// The classic view: the log as a list of rows, each message in the chat history's rich text
// (prefix and text in the user's fonts, web addresses as links). Only the rows on screen
// are laid out, so a log of any size shows at once; it opens at the newest message, keeps
// following the log while at the end, and stays put while the user reads older ones.
class CClassicLogView : public QAbstractScrollArea, public ILogHistoryView
{
    Q_OBJECT
public:
    CClassicLogView(IPrompt& prompt, QWidget* parent);
    ~CClassicLogView() override;

    void ApplySettings(const HistoryDisplaySettings& settings) override;
    void ShowMessages(std::span<const ChatMessage> shown, bool append,
                      IHistoryProgress* progress) override;
    void Display(const CPackedMessages& shown, IHistoryProgress* progress) override;
    void Clear() override;
    void ShowReloadNotice(const std::string& text) override;
    void SelectMessage(int shownIndex) override;
    void Copy() override;
    void SelectAll() override;

    int RowCount() const { return static_cast<int>(m_messages.size()); }
    // Prefix and text of a row as plain text; the notice's text while one is shown.
    QString RowText(int row) const;
    QString NoticeText() const;
    // The first and last row at least partly on screen; {-1, -1} when none.
    std::pair<int, int> RowsOnScreen() const;
    int SelectedRow() const { return m_selected; }
    bool AllSelected() const { return m_allSelected; }
    bool AtEnd() const { return m_atEnd; }
    // Rows whose layout is held now (the rows on screen and a few around them).
    int LaidOutRows() const { return static_cast<int>(m_layouts.size()); }
    // A left click at a point of the viewport, as the mouse gives it.
    void ClickAt(QPoint point);

signals:
    // The "Reload" link of the reload notice was clicked.
    void ReloadRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Before and after the rows change: a display starts afresh.
    void PrepareRows(bool append);
    void RowsChanged();
    QTextDocument& Layout(int row);
    int RowHeight(int row);
    // The top row and offset that show the last row at the bottom.
    std::pair<int, int> EndPosition();
    void ScrollBy(int pixels);
    void ScrollToRow(int row, int offset);
    void Relayout();
    void SyncScrollBar();
    void OnScrollBar(int value);
    // The row under a viewport point and the point within it; -1 when none.
    int RowAt(QPoint point, QPointF& within);
    QString AnchorAt(QPoint point);
    void EvictLayouts();
    void Select(int row);

    IPrompt& m_prompt;
    HistoryDisplaySettings m_settings;
    HistoryDisplaySettings m_colours; // with the palette's colours filled in
    CViewMessages m_messages;
    std::unordered_map<int, std::unique_ptr<QTextDocument>> m_layouts;
    std::vector<int> m_heights; // -1: not measured at this width
    std::unique_ptr<QTextDocument> m_notice;
    int m_top = 0;       // the row at the top of the viewport
    int m_topOffset = 0; // pixels of it above the viewport
    bool m_atEnd = true;
    bool m_syncing = false;
    int m_selected = -1;
    bool m_allSelected = false;
};

class CLogViewerDlg : public QMainWindow, private ILogViewerHost
{
    Q_OBJECT
public:
    // `view` is the history: a CHtmlLogView or a CClassicLogView (`history` is the same).
    CLogViewerDlg(COptions& options, IPrompt& prompt, const IClock& clock, bool secondary,
                  QWidget* view, ILogHistoryView& history);
    ~CLogViewerDlg() override;

    // Asks the find criteria; false on Cancel. Tests answer it.
    using FindAsker = std::function<bool(FindCriteria&)>;
    void SetFindAsker(FindAsker asker) { m_askFind = std::move(asker); }
    // Runs the program's About box over the window (Help's item); the program sets it.
    using AboutRunner = std::function<void(QWidget* parent)>;
    void SetAboutRunner(AboutRunner runner) { m_runAbout = std::move(runner); }

    CLogViewer& Viewer() { return m_viewer; }
    void Find();
    void ShowFromAnotherStart();

    QComboBox* PeriodCombo() const { return m_period; }
    QListWidget* ResultsList() const { return m_results; }
    QLabel* ResultsLabel() const { return m_resultsLabel; }
    QWidget* HistoryWidget() const { return m_view; }

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<ILogBusy> StartBusy(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void ShowSearchResults(const std::string& label,
                           const std::vector<std::string>& items) override;
    void HideSearchResults() override;
    void SelectPeriodRow(int row) override;
    bool MoveToTrash(const std::string& path, std::string& error) override;

    void BuildMenu(bool secondary);
    void OnFollowTimer();

    IPrompt& m_prompt;
    QWidget* m_view;
    ILogHistoryView& m_history;
    QComboBox* m_period;
    QLabel* m_resultsLabel;
    QListWidget* m_results;
    QLabel* m_logLabel;
    bool m_settingPeriod = false;
    bool m_wasMaximized = false;
    class CLogBusy* m_busy = nullptr;
    FindAsker m_askFind;
    AboutRunner m_runAbout;
    CLogViewer m_viewer;
};

// At least as wide as its title needs in a title bar.
void KeepTitleWhole(QWidget& window);

// Find dialog: "&Sent by", "&to", "&Containing text"; Find or Cancel.
bool AskFindCriteria(QWidget* parent, FindCriteria& criteria);
