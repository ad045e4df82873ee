#pragma once
// The chat timers on the Qt event loop, for every front end: each id is one QTimer, and
// every timeout is handed to the function given (which calls the controller's OnTimer).
// The poll is a CDeadlinePoll: it runs after events and at its parts' deadlines only.
#include "app/session/ChatController.h"

#include <QObject>
#include <functional>
#include <map>
#include <memory>

class CDeadlinePoll;
class QTimer;

class CQtChatTimers : public QObject, public IChatTimers
{
public:
    explicit CQtChatTimers(std::function<void(int id)> onTimeout, QObject* parent = nullptr);
    ~CQtChatTimers() override;

    void StartTimer(int id, uint32_t periodMs) override;
    void StopTimer(int id) override;
    void StartPoll(int id, uint32_t periodMs, const IClock& clock,
                   std::function<void(CNextWake&)> nextWake) override;
    bool IsRunning(int id) const;

private:
    std::function<void(int)> m_onTimeout;
    std::map<int, QTimer*> m_timers;
    int m_pollId = -1;
    std::unique_ptr<CDeadlinePoll> m_poll;
};
