#include "app/QtChatTimers.h"

#include <QTimer>

CQtChatTimers::CQtChatTimers(std::function<void(int id)> onTimeout, QObject* parent)
    : QObject(parent), m_onTimeout(std::move(onTimeout))
{}

CQtChatTimers::~CQtChatTimers() = default;

void CQtChatTimers::StartTimer(int id, uint32_t periodMs)
{
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, id] { m_onTimeout(id); });
    }
    timer->start(static_cast<int>(periodMs));
}

void CQtChatTimers::StopTimer(int id)
{
    auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
}

bool CQtChatTimers::IsRunning(int id) const
{
    auto found = m_timers.find(id);
    return found != m_timers.end() && found->second->isActive();
}
