#include "platform/DeadlinePoll.h"

#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

CDeadlinePoll::CDeadlinePoll(const IClock& clock, std::function<void()> poll,
                             std::function<void(CNextWake&)> nextWake, QObject* parent)
    : QObject(parent), m_clock(clock), m_poll(std::move(poll)), m_nextWake(std::move(nextWake))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Run(); });
    // Only the real calendar clock can be followed by the system's timer.
    if (dynamic_cast<const CSystemClock*>(&clock)) {
        m_calendarFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_calendarFd >= 0) {
            m_calendarNotifier =
                std::make_unique<QSocketNotifier>(m_calendarFd, QSocketNotifier::Read);
            QObject::connect(m_calendarNotifier.get(), &QSocketNotifier::activated, this,
                             [this] { OnCalendarTimer(); });
        }
    }
}

CDeadlinePoll::~CDeadlinePoll()
{
    Stop();
    m_calendarNotifier.reset();
    if (m_calendarFd >= 0)
        ::close(m_calendarFd);
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
    ArmCalendarTimer(std::nullopt);
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
    uint32_t milliseconds =
        ArmCalendarTimer(wake.Second()) ? wake.TickMilliseconds() : wake.Milliseconds();
    if (milliseconds == CNextWake::kNever) {
        m_nowStreak = 0;
        m_timer.stop();
        return;
    }
    int wait;
    if (milliseconds == 0) {
        wait = m_nowStreak < kImmediatePolls ? 0 : kShortestWaitMs;
    } else {
        m_nowStreak = 0;
        wait = static_cast<int>(std::min<uint32_t>(milliseconds, 24u * 3600 * 1000));
    }
    // Only ever brought forward between polls, so a stream of events cannot keep pushing
    // a due moment away.
    if (m_timer.isActive() && m_timer.remainingTime() <= wait)
        return;
    m_armedForNow = milliseconds == 0;
    m_timer.start(wait);
}

bool CDeadlinePoll::ArmCalendarTimer(std::optional<std::time_t> second)
{
    if (m_calendarFd < 0)
        return false;
    if (second == m_calendarSecond)
        return true;
    // Fired for this second, yet it has not begun on the program's clock: the tick timer
    // waits out the rest, the calendar timer is not set again for it.
    if (second && second == m_calendarFired)
        return false;
    itimerspec setting{};
    int flags = 0;
    if (second) {
        setting.it_value.tv_sec = *second;
        // Woken as well when the clock is set, to work the waits out again.
        flags = TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET;
    }
    if (::timerfd_settime(m_calendarFd, flags, &setting, nullptr) != 0) {
        // Not to be had after all: the tick timer waits for the second too.
        m_calendarNotifier.reset();
        ::close(m_calendarFd);
        m_calendarFd = -1;
        return false;
    }
    m_calendarSecond = second;
    return true;
}

void CDeadlinePoll::OnCalendarTimer()
{
    uint64_t expirations = 0;
    ssize_t got;
    do
        got = ::read(m_calendarFd, &expirations, sizeof expirations);
    while (got < 0 && errno == EINTR);
    // Failing with ECANCELED, the clock was set and nothing fired; either way the waits are
    // worked out again.
    m_calendarFired = got == sizeof expirations ? m_calendarSecond : std::nullopt;
    m_calendarSecond.reset();
    Run();
}
