#include "app/DeadlinePoll.h"

#include "platform/NextWake.h"

#include <QAbstractEventDispatcher>
#include <algorithm>

CDeadlinePoll::CDeadlinePoll(const IClock& clock, std::function<void()> poll,
                             std::function<void(CNextWake&)> nextWake, QObject* parent)
    : QObject(parent), m_clock(clock), m_poll(std::move(poll)), m_nextWake(std::move(nextWake))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Run(); });
}

CDeadlinePoll::~CDeadlinePoll()
{
    Stop();
}

void CDeadlinePoll::Start()
{
    if (m_running)
        return;
    m_running = true;
    // Whatever the loop handled (data on a socket, a connection), the poll follows at once;
    // the loop is about to sleep, so this runs once per batch of events, never while idle.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        m_eventsSeen = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                        [this] { Rearm(); });
    m_timer.start(0);
}

void CDeadlinePoll::Stop()
{
    m_running = false;
    QObject::disconnect(m_eventsSeen);
    m_timer.stop();
}

void CDeadlinePoll::Run()
{
    if (!m_running || m_inPoll)
        return;
    m_inPoll = true;
    m_poll();
    m_inPoll = false;
    Rearm();
}

void CDeadlinePoll::Rearm()
{
    if (!m_running || m_inPoll)
        return;
    CNextWake wake(m_clock);
    m_nextWake(wake);
    if (!wake.IsSet()) {
        m_timer.stop();
        return;
    }
    int wait = static_cast<int>(std::min<uint32_t>(wake.Milliseconds(), 24u * 3600 * 1000));
    wait = std::max(wait, kShortestWaitMs);
    // Only ever brought forward between polls, so a stream of events cannot keep pushing
    // a due moment away.
    if (m_timer.isActive() && m_timer.remainingTime() <= wait)
        return;
    m_timer.start(wait);
}
