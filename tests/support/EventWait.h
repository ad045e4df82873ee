#pragma once
// Waiting in widget tests: the application's events are processed while a condition is
// awaited, so windows, timers and bus replies move on meanwhile.
#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

// True once `condition` holds, false when `ms` pass first.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}
