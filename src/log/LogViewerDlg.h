#pragma once
// The log viewer window: the period combo, the search results, the history (the HTML page
// or the classic view) and a status bar, over CLogViewer, which decides everything.
#include "log/LogViewerModel.h"
#include "view/ChatHistory.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class COptions;
class IClock;
class IPrompt;
class CTextBrowserPageView;
class IWebPageView;
class QComboBox;
class QLabel;
class QListWidget;

// What the environment of a log-viewer process needs before its application object
// exists: the web engine shares OpenGL contexts, runs without a GPU (software rendering)
// and, for root, without its sandbox.
void PrepareLogViewerProcess();

// The web engine module's view, or none when the module or the engine is missing.
// ZIBTAM_WEBVIEW names the module file; otherwise it is looked for beside the program.
std::unique_ptr<IWebPageView> LoadWebPageView(QWidget* parent);

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
    void Clear() override;
    void ShowReloadNotice(const std::string& text) override;
    void SelectMessage(int shownIndex) override;

    bool UsesWebEngine() const { return m_webEngine; }
    IWebPageView& Page() { return *m_page; }
    size_t ShownCount() const { return m_shown.size(); }

signals:
    void reloadRequested();
    void findRequested();

private:
    void Rebuild(IHistoryProgress* progress = nullptr);

    std::string m_pagePath;
    std::unique_ptr<IWebPageView> m_page;
    CTextBrowserPageView* m_plain = nullptr; // m_page, where the web engine is missing
    bool m_webEngine = false;
    std::vector<ChatMessage> m_shown;
    HistoryDisplaySettings m_settings;
    bool m_showingNotice = false;
};

// The classic view: the chat history's rich text, without its context menu and name links.
class CClassicLogView : public CChatHistory, public ILogHistoryView
{
    Q_OBJECT
public:
    CClassicLogView(IPrompt& prompt, QWidget* parent);

    void ApplySettings(const HistoryDisplaySettings& settings) override;
    void ShowMessages(std::span<const ChatMessage> shown, bool append,
                      IHistoryProgress* progress) override;
    void Clear() override { CChatHistory::Clear(); }
    void ShowReloadNotice(const std::string& text) override
    {
        CChatHistory::ShowReloadNotice(text);
    }
    void SelectMessage(int shownIndex) override;
    void Copy() override { CChatHistory::Copy(); }
    void SelectAll() override { CChatHistory::SelectAll(); }
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
