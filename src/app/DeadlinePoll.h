#pragma once
// A poll on the Qt event loop that runs only when it can have work: once the loop has
// handled an event (a socket notifier fired, say) and at the earliest moment its parts name.
// Nothing happening means nothing runs and the process sleeps.
#include <QObject>
#include <QTimer>
#include <functional>

class CNextWake;
class IClock;

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

    // Work that is due at once waits at least this long, as it did under the 10 ms tick, so
    // a part that keeps saying "now" cannot spin the loop.
    static constexpr int kShortestWaitMs = 10;

private:
    void Run();
    void Rearm();

    const IClock& m_clock;
    std::function<void()> m_poll;
    std::function<void(CNextWake&)> m_nextWake;
    QTimer m_timer;
    QMetaObject::Connection m_eventsSeen;
    bool m_running = false;
    bool m_inPoll = false;
};
