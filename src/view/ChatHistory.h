#pragma once
// The chat history as windows use it: the list of messages, the time filter, and the view
// that shows them (the rich-text view; the log viewer may show its HTML view instead).
//
//   CChatHistory history(prompt, parent);             // in the window's layout
//   history.ApplyDisplaySettings(ChatHistorySettings(options));
//   history.AddMessage(message);                       // streams only the new message
//   history.PostNotice("Could not connect.", ownName); // a notice from "Zib Tam"
//   connect(&history, &CChatHistory::NameLinkClicked,
//           [&](const ChatMessage& m, int kind) { users.LinkClicked(m, kind, ctrl); });
//   history.Clear();  history.Redisplay();
#include "view/HistoryModel.h"
#include "view/HistoryProgress.h"

#include <QWidget>
#include <ctime>
#include <functional>
#include <span>

class CChatHistoryEdit;
class IPrompt;

inline constexpr const char* kSystemSender = "Zib Tam";

// The progress a history shows when its caller has none of its own: the wait cursor while
// it lives, the status text handed to `status` (if given), never cancelled.
class CWaitCursorProgress : public IHistoryProgress
{
public:
    explicit CWaitCursorProgress(std::function<void(const std::string&)> status = {});
    ~CWaitCursorProgress() override;
    CWaitCursorProgress(const CWaitCursorProgress&) = delete;
    CWaitCursorProgress& operator=(const CWaitCursorProgress&) = delete;

    void SetStatusText(const std::string& text) override;
    bool IsCancelled() override { return false; }

private:
    std::function<void(const std::string&)> m_status;
};

class CChatHistory : public QWidget
{
    Q_OBJECT
public:
    explicit CChatHistory(IPrompt& prompt, QWidget* parent = nullptr);

    void ApplyDisplaySettings(const HistoryDisplaySettings& settings);
    void SetMessages(std::vector<ChatMessage> messages, IHistoryProgress* progress = nullptr);
    void AddMessages(std::span<const ChatMessage> messages, IHistoryProgress* progress = nullptr);
    void AddMessage(const ChatMessage& message);
    // Shows `text` as a message from "Zib Tam" to `ownName` at the current time; returns it
    // (for the log).
    ChatMessage PostNotice(const std::string& text, const std::string& ownName, bool log = false);
    void Clear();
    void Redisplay(IHistoryProgress* progress = nullptr);

    void SetTimeFilter(std::time_t cutoff);
    void ClearTimeFilter();
    void ShowReloadNotice(const std::string& text);
    void EnableContextMenu(bool enable);
    void Copy();
    void SelectAll();

    const std::vector<ChatMessage>& Messages() const { return m_list.All(); }
    const CHistoryMessageList& List() const { return m_list; }
    CChatHistoryEdit& Edit() const { return *m_edit; }

signals:
    void NameLinkClicked(const ChatMessage& message, int kind);
    void ReloadRequested();
    void StatusText(const QString& text);

private:
    CHistoryMessageList m_list;
    CChatHistoryEdit* m_edit;
};
