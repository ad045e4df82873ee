#include "net/BusyWait.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

namespace {
// A step never sleeps longer than this, so a time limit or a Stop() from outside the event
// loop is noticed even when no event arrives.
constexpr int kStepWakeMs = 50;
} // namespace

CEventLoopWait::CEventLoopWait(int timeoutMs)
    : m_timeoutMs(timeoutMs), m_startedMs(QDateTime::currentMSecsSinceEpoch())
{}

void CEventLoopWait::RequestCancel()
{
    if (m_cancelEnabled)
        m_stopped = true;
}

bool CEventLoopWait::WaitStep()
{
    if (m_stopped)
        return true;
    ++m_steps;
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(kStepWakeMs);
    loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (!m_stopped && m_timeoutMs >= 0 &&
        QDateTime::currentMSecsSinceEpoch() - m_startedMs >= m_timeoutMs) {
        m_timedOut = true;
        m_stopped = true;
    }
    return m_stopped;
}
