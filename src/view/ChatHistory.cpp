#include "view/ChatHistory.h"

#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QVBoxLayout>

CWaitCursorProgress::CWaitCursorProgress(std::function<void(const std::string&)> status)
    : m_status(std::move(status))
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursorProgress::~CWaitCursorProgress()
{
    QApplication::restoreOverrideCursor();
}

void CWaitCursorProgress::SetStatusText(const std::string& text)
{
    if (m_status)
        m_status(text);
}

CChatHistory::CChatHistory(IPrompt& prompt, QWidget* parent)
    : QWidget(parent), m_edit(new CChatHistoryEdit(prompt, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit);
    setFocusProxy(m_edit);
    connect(m_edit, &CChatHistoryEdit::NameLinkClicked, this, &CChatHistory::NameLinkClicked);
    connect(m_edit, &CChatHistoryEdit::ReloadRequested, this, &CChatHistory::ReloadRequested);
    connect(m_edit, &CChatHistoryEdit::StatusText, this, &CChatHistory::StatusText);
}

void CChatHistory::ApplyDisplaySettings(const HistoryDisplaySettings& settings)
{
    m_edit->ApplyDisplaySettings(settings);
}

void CChatHistory::SetMessages(std::vector<ChatMessage> messages, IHistoryProgress* progress)
{
    m_list.Set(std::move(messages));
    m_edit->ShowMessages(m_list.Shown(), false, progress);
}

void CChatHistory::AddMessages(std::span<const ChatMessage> messages, IHistoryProgress* progress)
{
    const std::vector<ChatMessage> shown = m_list.Add(messages);
    m_edit->ShowMessages(shown, true, progress);
}

void CChatHistory::AddMessage(const ChatMessage& message)
{
    AddMessages(std::span<const ChatMessage>(&message, 1));
}

ChatMessage CChatHistory::PostNotice(const std::string& text, const std::string& ownName, bool log)
{
    ChatMessage notice;
    notice.Loopback = true;
    notice.Sender = kSystemSender;
    notice.Recipients = {ownName};
    notice.Text = text;
    notice.Time = MessageTime::From(std::time(nullptr));
    notice.Log = log;
    AddMessage(notice);
    return notice;
}

void CChatHistory::Clear()
{
    m_list.Clear();
    m_edit->ClearAll();
}

void CChatHistory::Redisplay(IHistoryProgress* progress)
{
    m_edit->ShowMessages(m_list.Shown(), false, progress);
}

void CChatHistory::SetTimeFilter(std::time_t cutoff)
{
    m_list.SetTimeFilter(cutoff);
    Redisplay();
}

void CChatHistory::ClearTimeFilter()
{
    m_list.ClearTimeFilter();
    Redisplay();
}

void CChatHistory::ShowReloadNotice(const std::string& text)
{
    m_edit->ShowReloadNotice(text);
}

void CChatHistory::EnableContextMenu(bool enable)
{
    m_edit->EnableContextMenu(enable);
}

void CChatHistory::Copy()
{
    m_edit->CompleteWriting();
    m_edit->copy();
}

void CChatHistory::SelectAll()
{
    m_edit->CompleteWriting();
    m_edit->selectAll();
}
