#pragma once
// What the log viewer decides, without widgets: the period rows and their cut-off, the
// find rules and the results, the page the HTML view shows, and the viewer itself (load,
// follow, reload, period, find, delete) over small interfaces the window implements.
#include "common/ChatMessage.h"
#include "log/LogTracker.h"
#include "log/PackedMessages.h"
#include "view/HistoryModel.h"
#include "view/HistoryProgress.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class COptions;
class IClock;
class IPrompt;

inline constexpr char kLogViewerCaption[] = "Zib Tam Log Viewer";
inline constexpr char kLogReloadNotice[] = "The Zib Tam log has changed and must be reloaded.";

// A row of the period combo box.
struct LogPeriod
{
    const char* Label;
    int Months; // 0: no filter
};
std::span<const LogPeriod> LogPeriods();
// The row whose months equal `months`; row 0 ("(beginning)") when none does.
int LogPeriodRow(int months);

// The cut-off of a period: today (the local date of `now`) moved back by `months`, at
// 0:00:00 local time; a day the month lacks rolls over into the next month (31 March, one
// month back: 3 March, or 2 March in a leap year).
std::time_t LogPeriodCutoff(std::time_t now, int months);

// The three fields of the find dialog.
struct FindCriteria
{
    std::string Sender;
    std::string Recipients;
    std::string Text;

    bool IsEmpty() const { return Sender.empty() && Recipients.empty() && Text.empty(); }
    bool operator==(const FindCriteria&) const = default;
};

// The words of a text criterion: separated by blanks, a part in double quotation marks
// is one word with its blanks (an unclosed one takes the rest of the text).
std::vector<std::string> SplitFindWords(std::string_view text);
struct FindResult
{
    size_t Index;        // of the message in the loaded log
    std::string Display; // prefix and text on one line
};
// The matches among the messages that `list` shows, in log order: the sender criterion
// in `Sender`, the recipients one in the recipient line, every word of the text one in
// `Text`; all as substrings without regard to letter case; an empty one matches all.
std::vector<FindResult> FindMessages(const CHistoryMessageList& list, const FindCriteria& criteria,
                                     std::string_view prefixFormat);
class CLogMessageList;
std::vector<FindResult> FindMessages(const CLogMessageList& list, const FindCriteria& criteria,
                                     std::string_view prefixFormat);
// "Search Results (N messages found):"
std::string SearchResultsLabel(size_t count);

// The viewer's display settings: the chat window's fonts and background, the prefix
// format "LogPrefix", no name links.
HistoryDisplaySettings LogDisplaySettings(const COptions& options);

// The loaded log, packed, and the period's filter.
class CLogMessageList : public CFilteredMessageList<CPackedMessages>
{
};

// What a view shows: the messages of its last display (where the viewer holds them, or a
// copy of those it was handed in a span), and those appended since.
class CViewMessages
{
public:
    CViewMessages() = default;
    CViewMessages(const CViewMessages&) = delete; // it may point into itself
    CViewMessages& operator=(const CViewMessages&) = delete;

    void Show(std::span<const ChatMessage> shown, bool append);
    // Reads them in `shown` until the next display or Clear; `shown` may grow meanwhile.
    void Show(const CPackedMessages& shown);
    void Clear();
    size_t size() const { return m_heldCount + m_added.size(); }
    bool empty() const { return size() == 0; }
    ChatMessage operator[](size_t index) const;
    // Messages `from` to `to` (not included).
    std::vector<ChatMessage> Unpack(size_t from, size_t to) const;

private:
    const CPackedMessages* m_held = nullptr; // or m_own
    size_t m_heldCount = 0;
    CPackedMessages m_own;
    CPackedMessages m_added;
};

// The whole HTML page of the shown messages.
std::string BuildLogPage(std::span<const ChatMessage> shown,
                         const HistoryDisplaySettings& settings);
// Writes (creates or overwrites) the page file; false with `error` when it cannot.
bool WriteLogPage(const std::string& path, std::string_view page, std::string& error);
// The paragraphs of messages appended to a page that shows `firstIndex` messages already,
// as BuildLogPage writes them (ids from "msg<firstIndex>" on).
std::string BuildLogParagraphs(std::span<const ChatMessage> added, int firstIndex,
                               const HistoryDisplaySettings& settings);
// The page holding `paragraphs` as BuildLogParagraphs writes them.
std::string BuildLogPageWith(std::string_view paragraphs, const HistoryDisplaySettings& settings);
// The page without its scroll to the end once loaded: it opens at its start (a page of older
// messages, which the viewer then scrolls within).
std::string OpenLogPageAtStart(std::string page);
// Puts `paragraphs` in front of the page file's closing tags; false (file untouched or
// to be written whole) when the file does not end as a page does.
bool AppendToLogPage(const std::string& path, std::string_view paragraphs, std::string& error);

// A progress that the window shows while a long operation runs (wait cursor, a small
// window with Cancel). Ends when destroyed.
class ILogBusy : public IHistoryProgress
{
};

// The view the log is shown in: the HTML page or the classic rich-text history.
// It is handed only the messages the period shows, in order. A large log is held once: the
// view reads the messages of a packed display where they lie, until the next display, Clear
// or ShowReloadNotice; messages handed in a span it copies.
class ILogHistoryView
{
public:
    virtual ~ILogHistoryView() = default;
    virtual void ApplySettings(const HistoryDisplaySettings& settings) = 0;
    virtual void ShowMessages(std::span<const ChatMessage> shown, bool append,
                              IHistoryProgress* progress) = 0;
    // Shows `shown` instead of what it showed; unless the view overrides it, as a span.
    virtual void Display(const CPackedMessages& shown, IHistoryProgress* progress)
    {
        const std::vector<ChatMessage> messages = shown.Unpack(0, shown.size());
        ShowMessages(messages, false, progress);
    }
    virtual void Clear() = 0;
    // Gives what ShowMessages put up a moment to reach the screen before a long task takes
    // the program's attention (a browser engine needs it to load a page).
    virtual void FinishShowing() {}
    virtual void ShowReloadNotice(const std::string& text) = 0;
    // `shownIndex` counts the shown messages; -1 removes the selection.
    virtual void SelectMessage(int shownIndex) = 0;
    // The menu's Copy and Select All; the HTML page has neither.
    virtual void Copy() {}
    virtual void SelectAll() {}
};

// The window around the viewer.
class ILogViewerHost
{
public:
    virtual ~ILogViewerHost() = default;
    virtual std::unique_ptr<ILogBusy> StartBusy(const std::string& text) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // Search mode: the label and the list of results (none selected), or hidden.
    virtual void ShowSearchResults(const std::string& label,
                                   const std::vector<std::string>& items) = 0;
    virtual void HideSearchResults() = 0;
    virtual void SelectPeriodRow(int row) = 0;
    // Moves a file to the desktop's trash; false with the system's error text.
    virtual bool MoveToTrash(const std::string& path, std::string& error) = 0;
};

class CLogViewer
{
public:
    CLogViewer(COptions& options, IPrompt& prompt, const IClock& clock, ILogViewerHost& host,
               ILogHistoryView& view);

    // Applies the display settings and selects the period row of "LogHistoryMonths".
    void Start();
    // The first idle moment: the first load.
    void OnFirstIdle();
    // Every second while no dialog of the viewer is open: picks up appended messages.
    void OnFollowTick();
    // "&Reload Log" (settings applied again first) or the notice's "Reload" link.
    void Reload(bool applySettings);
    // The period combo's row changed.
    void ChoosePeriod(int row);

    enum class FindOutcome
    {
        Found,
        NotFound, // told the user; the dialog opens again
        Cleared   // all fields empty: search mode ended
    };
    FindOutcome Find(const FindCriteria& criteria);
    void SelectResult(int row);
    void EndSearch();
    // "&Delete Log...": asks, moves the log and the page to the trash, reloads.
    void DeleteLog();
    // The window closes: the temporary page goes.
    void Close();

    bool IsLoaded() const { return m_loaded; }
    bool IsBusy() const { return m_busy; }
    bool InSearchMode() const { return m_searchMode; }
    int Months() const { return m_months; }
    const CPackedMessages& Messages() const { return m_list.All(); }
    const std::vector<FindResult>& Results() const { return m_results; }
    const FindCriteria& Criteria() const { return m_criteria; }

private:
    void Load(bool first);
    // The messages the period shows, held here for the view: the list's own when the period
    // shows every message, else a copy of those it shows.
    const CPackedMessages& HoldShown();
    void ApplyPeriod(int months);
    template <typename List> void ApplyPeriod(List& list, int months) const;
    bool RunSearch();

    COptions& m_options;
    IPrompt& m_prompt;
    const IClock& m_clock;
    ILogViewerHost& m_host;
    ILogHistoryView& m_view;
    CLogTracker m_tracker;
    CLogMessageList m_list;      // the loaded log and the period's filter
    CPackedMessages m_shownCopy; // the newest, while the whole log is read
    bool m_holdsCopy = false;
    int m_months = 0;
    bool m_loaded = false;
    bool m_everLoaded = false;
    bool m_busy = false;
    bool m_searchMode = false;
    FindCriteria m_criteria;
    std::vector<FindResult> m_results;
};
