#pragma once
// Running the event loop in tests of the event-driven layer, for a while or until a
// condition holds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

// Runs events until `done` holds or the time is up; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

inline void PumpFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}
