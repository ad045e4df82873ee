#pragma once
// A poll on the Qt event loop that runs only when it can have work: once the loop has
// handled an event (a socket notifier fired, say) and at the earliest moment its parts name.
// Nothing happening means nothing runs and the process sleeps.
#include <QObject>
#include <QTimer>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>

class CNextWake;
class IClock;
class QSocketNotifier;

class CDeadlinePoll : public QObject
{
public:
    // `poll` does the work; `nextWake` adds the moments at which it next has work.
    CDeadlinePoll(const IClock& clock, std::function<void()> poll,
                  std::function<void(CNextWake&)> nextWake, QObject* parent = nullptr);
    ~CDeadlinePoll() override;

    void Start();
    void Stop();
    bool IsRunning() const { return m_running; }
    // Polls run so far.
    unsigned long long PollCount() const { return m_polls; }

    // Work due at once runs at once for this many polls in a row (an arrival is read by one
    // poll and handed over by the next); after that, a part that keeps saying "now" waits
    // this long between polls, as under the old 10 ms tick, so it cannot spin the loop.
    static constexpr int kImmediatePolls = 3;
    static constexpr int kShortestWaitMs = 10;

private:
    void Run();
    void Rearm();
    // Keeps the wait for a calendar second (a Send Later moment) on the calendar clock, so
    // it holds across a suspended computer and a change of the clock. False when it cannot.
    bool ArmCalendarTimer(std::optional<std::time_t> second);
    void OnCalendarTimer();

    const IClock& m_clock;
    std::function<void()> m_poll;
    std::function<void(CNextWake&)> m_nextWake;
    QTimer m_timer;
    QMetaObject::Connection m_eventsSeen;
    QMetaObject::Connection m_awake;
    bool m_running = false;
    bool m_inPoll = false;
    bool m_startPending = false;
    bool m_armedForNow = false; // the timer runs because work was due at once
    int m_nowStreak = 0;        // polls in a row that ran for work due at once
    int m_calendarFd = -1;      // a timer on the calendar clock; -1 where there is none
    std::unique_ptr<QSocketNotifier> m_calendarNotifier;
    std::optional<std::time_t> m_calendarSecond; // what it is set to
    std::optional<std::time_t> m_calendarFired;  // what it last fired for
    unsigned long long m_polls = 0;
};
