#pragma once
// Waiting for the network without freezing the program: a wait step runs pending events
// (socket notifications of this and other connections, timers, input) and says whether
// the waiting should stop. The chat window's busy indicator implements it with its
// progress window and Cancel button; CEventLoopWait is the plain one for headless use.
#include <QtGlobal>
#include <cstdint>

class IBusyWait
{
public:
    virtual ~IBusyWait() = default;
    // Processes events once, sleeping until the next one arrives if none is pending.
    // True when the waiting should stop: the user cancelled, or the indicator has ended.
    virtual bool WaitStep() = 0;
    // The Cancel button: disabled while a document is half written, because stopping then
    // would cut a frame in two.
    virtual void EnableCancel(bool enable) = 0;
};

// A wait step that runs a nested event loop, without any window. Stops when asked to, when
// the user-facing Cancel is requested while it is enabled, or after an optional time limit.
class CEventLoopWait : public IBusyWait
{
public:
    // `timeoutMs` < 0: no limit.
    explicit CEventLoopWait(int timeoutMs = -1);

    bool WaitStep() override;
    void EnableCancel(bool enable) override { m_cancelEnabled = enable; }

    // As the Cancel button would: ignored while Cancel is disabled.
    void RequestCancel();
    // Ends the wait unconditionally (the indicator is no longer running).
    void Stop() { m_stopped = true; }

    bool CancelEnabled() const { return m_cancelEnabled; }
    bool Stopped() const { return m_stopped; }
    bool TimedOut() const { return m_timedOut; }
    int Steps() const { return m_steps; }

private:
    int m_timeoutMs;
    qint64 m_startedMs;
    bool m_cancelEnabled = true;
    bool m_stopped = false;
    bool m_timedOut = false;
    int m_steps = 0;
};
