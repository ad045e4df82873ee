#include "app/eventloop/QtChatTimers.h"

#include "platform/DeadlinePoll.h"

#include <QTimer>

CQtChatTimers::CQtChatTimers(std::function<void(int id)> onTimeout, QObject* parent)
    : QObject(parent), m_onTimeout(std::move(onTimeout))
{}

CQtChatTimers::~CQtChatTimers() = default;

void CQtChatTimers::StartTimer(int id, uint32_t periodMs)
{
    if (id == m_pollId) {
        m_poll->Stop();
        m_pollId = -1;
    }
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, id] { m_onTimeout(id); });
    }
    timer->start(static_cast<int>(periodMs));
}

void CQtChatTimers::StartPoll(int id, uint32_t, const IClock& clock,
                              std::function<void(CNextWake&)> nextWake)
{
    StopTimer(id);
    // The old poll may be the caller further up the stack.
    if (m_poll)
        m_poll.release()->deleteLater();
    m_pollId = id;
    m_poll = std::make_unique<CDeadlinePoll>(
        clock, [this, id] { m_onTimeout(id); }, std::move(nextWake));
    m_poll->Start();
}

void CQtChatTimers::StopTimer(int id)
{
    if (id == m_pollId && m_poll)
        m_poll->Stop();
    auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
}

bool CQtChatTimers::IsRunning(int id) const
{
    if (id == m_pollId && m_poll && m_poll->IsRunning())
        return true;
    auto found = m_timers.find(id);
    return found != m_timers.end() && found->second->isActive();
}
