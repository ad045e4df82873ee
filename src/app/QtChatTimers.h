#pragma once
// The chat timers on the Qt event loop, for every front end: each id is one QTimer, and
// every timeout is handed to the function given (which calls the controller's OnTimer).
#include "app/ChatController.h"

#include <QObject>
#include <functional>
#include <map>

class QTimer;

class CQtChatTimers : public QObject, public IChatTimers
{
public:
    explicit CQtChatTimers(std::function<void(int id)> onTimeout, QObject* parent = nullptr);
    ~CQtChatTimers() override;

    void StartTimer(int id, uint32_t periodMs) override;
    void StopTimer(int id) override;
    bool IsRunning(int id) const;

private:
    std::function<void(int)> m_onTimeout;
    std::map<int, QTimer*> m_timers;
};
