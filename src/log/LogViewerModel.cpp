#include "log/LogViewerModel.h"

#include "common/LastErrorText.h"
#include "common/NameCase.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "settings/Options.h"
#include "view/HtmlMessageWriter.h"
#include "view/PrefixFormat.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr std::array<LogPeriod, 6> kPeriods = {{
    {"(beginning)", 0},
    {"last month", 1},
    {"last three months", 3},
    {"last six months", 6},
    {"last nine months", 9},
    {"last year", 12},
}};

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ContainsNoCase(const std::string& haystack, const std::string& foldedNeedle)
{
    return foldedNeedle.empty() || FoldNameCase(haystack).find(foldedNeedle) != std::string::npos;
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

} // namespace

std::span<const LogPeriod> LogPeriods()
{
    return kPeriods;
}

int LogPeriodRow(int months)
{
    for (size_t row = 0; row < kPeriods.size(); ++row)
        if (kPeriods[row].Months == months)
            return static_cast<int>(row);
    return 0;
}

std::time_t LogPeriodCutoff(std::time_t now, int months)
{
    std::tm local{};
    localtime_r(&now, &local);
    int t = (local.tm_year + 1900) * 12 + local.tm_mon - months;
    int year = t / 12;
    int month = t % 12 + 1;
    int day = local.tm_mday;
    // Day 31 of February is a day in March, as the calendar conversion counts.
    while (day > DaysInMonth(year, month)) {
        day -= DaysInMonth(year, month);
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    std::tm cutoff{};
    cutoff.tm_year = year - 1900;
    cutoff.tm_mon = month - 1;
    cutoff.tm_mday = day;
    cutoff.tm_isdst = -1;
    return std::mktime(&cutoff);
}

std::vector<std::string> SplitFindWords(std::string_view text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '"') {
            size_t close = text.find('"', i + 1);
            size_t end = close == std::string_view::npos ? text.size() : close;
            if (end > i + 1)
                words.emplace_back(text.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? text.size() : close + 1;
        } else {
            size_t end = text.find_first_of(" \"", i);
            if (end == std::string_view::npos)
                end = text.size();
            words.emplace_back(text.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

namespace {

// The matches among `count` messages, message `i` being at(i); `shownIndex` says which
// are shown.
template <typename At>
std::vector<FindResult> FindAmong(size_t count, At at, const std::vector<int>& shownIndex,
                                  const FindCriteria& criteria, std::string_view prefixFormat)
{
    // The criteria are folded once, not per message.
    FindCriteria folded{FoldNameCase(criteria.Sender), FoldNameCase(criteria.Recipients), {}};
    std::vector<std::string> words;
    for (const std::string& word : SplitFindWords(criteria.Text))
        words.push_back(FoldNameCase(word));
    CPrefixFormat format(prefixFormat);
    std::vector<FindResult> results;
    for (size_t i = 0; i < count; ++i) {
        if (shownIndex[i] < 0)
            continue;
        const ChatMessage& message = at(i);
        std::string recipients = FormatRecipients(message);
        if (!ContainsNoCase(message.Sender, folded.Sender) ||
            !ContainsNoCase(recipients, folded.Recipients))
            continue;
        if (!words.empty()) {
            std::string text = FoldNameCase(message.Text);
            bool all = true;
            for (const std::string& word : words)
                all = all && text.find(word) != std::string::npos;
            if (!all)
                continue;
        }
        std::string prefix =
            format.Format(message.Time, message.Sender, recipients, static_cast<int>(i), 0);
        results.push_back({i, OneLine(prefix + message.Text)});
    }
    return results;
}

} // namespace

std::vector<FindResult> FindMessages(const CHistoryMessageList& list, const FindCriteria& criteria,
                                     std::string_view prefixFormat)
{
    const std::vector<ChatMessage>& messages = list.All();
    return FindAmong(
        messages.size(), [&](size_t i) -> const ChatMessage& { return messages[i]; },
        list.ShownIndex(), criteria, prefixFormat);
}

std::vector<FindResult> FindMessages(const CLogMessageList& list, const FindCriteria& criteria,
                                     std::string_view prefixFormat)
{
    // One message unpacked at a time, into the same strings.
    ChatMessage message;
    return FindAmong(
        list.All().size(),
        [&](size_t i) -> const ChatMessage& {
            list.All().Get(i, message);
            return message;
        },
        list.ShownIndex(), criteria, prefixFormat);
}

std::string SearchResultsLabel(size_t count)
{
    return "Search Results (" + std::to_string(count) + " messages found):";
}

HistoryDisplaySettings LogDisplaySettings(const COptions& options)
{
    HistoryDisplaySettings settings;
    // A font never chosen keeps the built-in one.
    FontRecord prefix = options.GetFont(FontKey::Prefix);
    if (!prefix.FaceName.empty())
        settings.PrefixFont = FontSpec::FromRecord(prefix);
    FontRecord message = options.GetFont(FontKey::General);
    if (!message.FaceName.empty())
        settings.MessageFont = FontSpec::FromRecord(message);
    settings.PrefixFormat = options.Get(Opt::LogPrefix);
    settings.Links = false;
    // None of the user's own: the view takes the palette's.
    settings.Background = LogHistorySettings(options).Background;
    return settings;
}

std::string BuildLogPage(std::span<const ChatMessage> shown, const HistoryDisplaySettings& settings)
{
    CHtmlMessageWriter writer;
    writer.BeginDocument(settings.PrefixFont, settings.MessageFont,
                         settings.Background.value_or(0x00FFFFFF));
    CPrefixFormat format(settings.PrefixFormat);
    int index = 0;
    for (const ChatMessage& message : shown) {
        std::string prefix =
            format.Format(message.Time, message.Sender, FormatRecipients(message), index++, 0);
        writer.Add(NormaliseHistoryText(prefix), NormaliseHistoryText(message.Text));
    }
    writer.EndDocument(true);
    return std::string(writer.Document());
}

bool WriteLogPage(const std::string& path, std::string_view page, std::string& error)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = LastErrorText();
        return false;
    }
    // Only one writer at a time: another viewer (the secondary copy's) may share the file.
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0;
    size_t written = 0;
    while (ok && written < page.size()) {
        ssize_t n = ::write(fd, page.data() + written, page.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<size_t>(n);
    }
    if (!ok)
        error = LastErrorText();
    if (::close(fd) != 0 && ok) {
        error = LastErrorText();
        ok = false;
    }
    return ok;
}

namespace {
constexpr std::string_view kPageEnd = "</body>\n</html>\n";
constexpr std::string_view kParagraphStart = "<p id=\"msg";
} // namespace

std::string BuildLogParagraphs(std::span<const ChatMessage> added, int firstIndex,
                               const HistoryDisplaySettings& settings)
{
    std::string page = BuildLogPage(added, settings);
    size_t from = page.find(kParagraphStart);
    if (from == std::string::npos)
        return {};
    std::string_view body(page.data() + from, page.size() - from - kPageEnd.size());
    // Texts are escaped ("<" is "&lt;"), so every "<p id=\"msg" starts a paragraph.
    std::string out;
    out.reserve(body.size() + added.size() * 8);
    int index = firstIndex;
    size_t at = 0;
    while (at < body.size()) {
        size_t digits = at + kParagraphStart.size();
        size_t quote = body.find('"', digits);
        size_t next = body.find(kParagraphStart, quote);
        if (next == std::string_view::npos)
            next = body.size();
        out += kParagraphStart;
        out += std::to_string(index++);
        out += body.substr(quote, next - quote);
        at = next;
    }
    return out;
}

std::string BuildLogPageWith(std::string_view paragraphs, const HistoryDisplaySettings& settings)
{
    std::string page = BuildLogPage({}, settings);
    page.insert(page.size() - kPageEnd.size(), paragraphs);
    return page;
}

std::string OpenLogPageAtStart(std::string page)
{
    constexpr std::string_view kScrollToEnd =
        " onload=\"window.scroll(0, document.body.scrollHeight)\"";
    const size_t at = page.find(kScrollToEnd);
    if (at != std::string::npos)
        page.erase(at, kScrollToEnd.size());
    return page;
}

void CViewMessages::Show(std::span<const ChatMessage> shown, bool append)
{
    if (append) {
        m_added.Add(shown);
        return;
    }
    CPackedMessages own(shown);
    m_own = std::move(own);
    m_held = &m_own;
    m_heldCount = m_own.size();
    m_added.Release();
}

void CViewMessages::Show(const CPackedMessages& shown)
{
    m_own.Release();
    m_held = &shown;
    m_heldCount = shown.size();
    m_added.Release();
}

void CViewMessages::Clear()
{
    m_own.Release();
    m_held = nullptr;
    m_heldCount = 0;
    m_added.Release();
}

ChatMessage CViewMessages::operator[](size_t index) const
{
    return index < m_heldCount ? (*m_held)[index] : m_added[index - m_heldCount];
}

std::vector<ChatMessage> CViewMessages::Unpack(size_t from, size_t to) const
{
    to = std::min(to, size());
    std::vector<ChatMessage> messages;
    if (from >= to)
        return messages;
    messages.reserve(to - from);
    for (size_t i = from; i < to; ++i)
        messages.push_back((*this)[i]);
    return messages;
}

bool AppendToLogPage(const std::string& path, std::string_view paragraphs, std::string& error)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = LastErrorText();
        return false;
    }
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    off_t size = ok ? ::lseek(fd, 0, SEEK_END) : -1;
    off_t end = size - static_cast<off_t>(kPageEnd.size());
    std::string tail(kPageEnd.size(), '\0');
    ok = ok && end >= 0 &&
         ::pread(fd, tail.data(), tail.size(), end) == static_cast<ssize_t>(tail.size()) &&
         tail == kPageEnd;
    std::string bytes = std::string(paragraphs) + std::string(kPageEnd);
    size_t written = 0;
    while (ok && written < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                             end + static_cast<off_t>(written));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<size_t>(n);
    }
    if (!ok)
        error = LastErrorText();
    ::close(fd);
    return ok;
}

CLogViewer::CLogViewer(COptions& options, IPrompt& prompt, const IClock& clock,
                       ILogViewerHost& host, ILogHistoryView& view)
    : m_options(options), m_prompt(prompt), m_clock(clock), m_host(host), m_view(view)
{}

void CLogViewer::Start()
{
    m_view.ApplySettings(LogDisplaySettings(m_options));
    int row = LogPeriodRow(m_options.Get(Opt::LogHistoryMonths));
    m_months = LogPeriods()[static_cast<size_t>(row)].Months;
    m_host.SelectPeriodRow(row);
}

void CLogViewer::OnFirstIdle()
{
    if (!m_loaded && !m_busy)
        Load(!m_everLoaded);
}

const CPackedMessages& CLogViewer::HoldShown()
{
    m_holdsCopy = m_list.ShownCount() < m_list.All().size();
    if (!m_holdsCopy) {
        m_shownCopy.Release();
        return m_list.All();
    }
    m_shownCopy = m_list.Shown();
    return m_shownCopy;
}

void CLogViewer::Load(bool first)
{
    m_view.Clear();
    m_list.Clear();
    m_shownCopy.Release();
    m_loaded = false;
    const std::string text =
        first ? "Loading Zib Tam log for the first time..." : "Reloading the Zib Tam log...";
    m_busy = true;
    m_host.SetStatusText(text);
    {
        std::unique_ptr<ILogBusy> busy = m_host.StartBusy(text);
        std::vector<ChatMessage> messages;
        // A large log shows its newest messages at once, while the whole of it is read.
        constexpr size_t kTailBytes = 256 * 1024;
        const bool early = CLogTracker::ReadLogTail(m_options.GetLogPath(), kTailBytes, messages);
        if (early) {
            CHistoryMessageList newest;
            ApplyPeriod(newest, m_months);
            newest.Set(std::move(messages));
            m_shownCopy = CPackedMessages(newest.Shown());
            m_view.Display(m_shownCopy, nullptr);
            m_view.FinishShowing();
        }
        CPackedMessages log;
        std::string error;
        if (!m_tracker.Load(m_options.GetLogPath(), log, busy.get(), error)) {
            if (early)
                m_view.Clear(); // a log that could not be read shows nothing
            if (!error.empty())
                m_prompt.MessageBox(error, kLogViewerCaption, PromptButtons::Ok, PromptIcon::Error);
        } else {
            m_loaded = true;
            m_everLoaded = true;
            ApplyPeriod(m_months);
            m_list.Set(std::move(log));
            m_view.Display(HoldShown(), busy.get());
        }
    }
    m_busy = false;
    m_host.SetStatusText("");
    if (m_searchMode)
        RunSearch();
}

void CLogViewer::ApplyPeriod(int months)
{
    ApplyPeriod(m_list, months);
}

template <typename List> void CLogViewer::ApplyPeriod(List& list, int months) const
{
    if (months > 0)
        list.SetTimeFilter(LogPeriodCutoff(m_clock.Now(), months));
    else
        list.ClearTimeFilter();
}

void CLogViewer::OnFollowTick()
{
    if (m_busy || !m_loaded)
        return;
    m_host.SetStatusText("Checking for new messages...");
    std::vector<ChatMessage> added;
    std::string error; // errors of the check are not shown
    bool needsReload = false;
    m_tracker.CheckForChanges(added, nullptr, error, needsReload);
    if (needsReload) {
        m_view.ShowReloadNotice(kLogReloadNotice);
        m_loaded = false;
    } else if (!added.empty()) {
        std::vector<ChatMessage> shown = m_list.Add(added);
        if (m_holdsCopy)
            m_shownCopy.Add(shown);
        if (!shown.empty())
            m_view.ShowMessages(shown, true, nullptr);
    }
    m_host.SetStatusText("");
}

void CLogViewer::Reload(bool applySettings)
{
    if (m_busy)
        return;
    if (applySettings)
        m_view.ApplySettings(LogDisplaySettings(m_options));
    Load(!m_everLoaded);
}

void CLogViewer::ChoosePeriod(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= LogPeriods().size())
        return;
    int months = LogPeriods()[static_cast<size_t>(row)].Months;
    if (months == m_months)
        return;
    if (!m_loaded || m_busy) {
        // Nothing shown yet: the choice takes effect with the load.
        m_months = months;
        m_options.Set(Opt::LogHistoryMonths, months);
        return;
    }
    const std::string text = "Redisplaying Zib Tam log...";
    m_busy = true;
    m_host.SetStatusText(text);
    bool cancelled = false;
    {
        std::unique_ptr<ILogBusy> busy = m_host.StartBusy(text);
        ApplyPeriod(months);
        m_view.Display(HoldShown(), busy.get());
        cancelled = busy->IsCancelled();
        if (cancelled) {
            ApplyPeriod(m_months);
            m_view.Display(HoldShown(), nullptr);
        }
    }
    m_busy = false;
    m_host.SetStatusText("");
    if (cancelled) {
        m_host.SelectPeriodRow(LogPeriodRow(m_months));
        return;
    }
    m_months = months;
    m_options.Set(Opt::LogHistoryMonths, months);
    if (m_searchMode)
        RunSearch();
}

bool CLogViewer::RunSearch()
{
    m_results = FindMessages(m_list, m_criteria, m_options.Get(Opt::LogPrefix));
    if (m_results.empty()) {
        EndSearch();
        return false;
    }
    m_searchMode = true;
    std::vector<std::string> items;
    items.reserve(m_results.size());
    for (const FindResult& result : m_results)
        items.push_back(result.Display);
    m_view.SelectMessage(-1);
    m_host.ShowSearchResults(SearchResultsLabel(m_results.size()), items);
    return true;
}

CLogViewer::FindOutcome CLogViewer::Find(const FindCriteria& criteria)
{
    m_criteria = criteria;
    if (criteria.IsEmpty()) {
        EndSearch();
        return FindOutcome::Cleared;
    }
    if (RunSearch())
        return FindOutcome::Found;
    m_prompt.MessageBox("Zib Tam could not find any messages.", kLogViewerCaption,
                        PromptButtons::Ok, PromptIcon::Information);
    return FindOutcome::NotFound;
}

void CLogViewer::SelectResult(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_results.size())
        return;
    size_t index = m_results[static_cast<size_t>(row)].Index;
    const std::vector<int>& shown = m_list.ShownIndex();
    if (index < shown.size() && shown[index] >= 0)
        m_view.SelectMessage(shown[index]);
}

void CLogViewer::EndSearch()
{
    m_searchMode = false;
    m_results.clear();
    m_view.SelectMessage(-1);
    m_host.HideSearchResults();
}

void CLogViewer::DeleteLog()
{
    if (m_prompt.MessageBox("Are you sure you want to move your log file to the Recycle Bin?",
                            kLogViewerCaption, PromptButtons::YesNo,
                            PromptIcon::Question) != PromptAnswer::Yes)
        return;
    std::error_code ignored;
    std::string error;
    const std::string log = m_options.GetLogPath();
    if (std::filesystem::exists(log, ignored) && !m_host.MoveToTrash(log, error)) {
        m_prompt.MessageBox("Zib Tam was unable to move your log file to the Recycle Bin.\n\n" +
                                error,
                            kLogViewerCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    const std::string page = m_options.GetLogTempPath();
    if (std::filesystem::exists(page, ignored) && !m_host.MoveToTrash(page, error)) {
        m_prompt.MessageBox(
            "Zib Tam was unable to move a temporary copy of your log file to the Recycle "
            "Bin.\n\n" +
                error,
            kLogViewerCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    Reload(false);
}

void CLogViewer::Close()
{
    std::error_code ignored;
    std::filesystem::remove(m_options.GetLogTempPath(), ignored);
}
