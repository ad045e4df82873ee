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
    // Whatever the loop handled (data on a socket, a connection), the poll follows at once
    // when a part then has work. A loop about to sleep says so; a loop that only spins
    // (processEvents without waiting) says "awake" at each round instead.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        m_eventsSeen = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                        [this] { Rearm(); });
        m_awake = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, this,
                                   [this] { Rearm(); });
    }
    m_startPending = true;
    m_timer.start(0);
}

void CDeadlinePoll::Stop()
{
    m_running = false;
    QObject::disconnect(m_eventsSeen);
    QObject::disconnect(m_awake);
    m_timer.stop();
}

void CDeadlinePoll::Run()
{
    if (!m_running || m_inPoll)
        return;
    m_startPending = false;
    m_nowStreak = m_armedForNow ? m_nowStreak + 1 : 0;
    m_armedForNow = false;
    m_inPoll = true;
    ++m_polls;
    m_poll();
    m_inPoll = false;
    Rearm();
}

void CDeadlinePoll::Rearm()
{
    // The first poll always runs; it is already as early as it can be.
    if (!m_running || m_inPoll || m_startPending)
        return;
    CNextWake wake(m_clock);
    m_nextWake(wake);
    if (!wake.IsSet()) {
        m_nowStreak = 0;
        m_timer.stop();
        return;
    }
    int wait;
    if (wake.Milliseconds() == 0) {
        wait = m_nowStreak < kImmediatePolls ? 0 : kShortestWaitMs;
    } else {
        m_nowStreak = 0;
        wait = static_cast<int>(std::min<uint32_t>(wake.Milliseconds(), 24u * 3600 * 1000));
    }
    // Only ever brought forward between polls, so a stream of events cannot keep pushing
    // a due moment away.
    if (m_timer.isActive() && m_timer.remainingTime() <= wait)
        return;
    m_armedForNow = wake.Milliseconds() == 0;
    m_timer.start(wait);
}
