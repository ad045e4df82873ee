#pragma once
// The busy indicator as the client transport uses it: started with a text for one network
// operation, its wait step runs pending events, and it ends when the object is destroyed.
// The chat window supplies one with its progress window and Cancel button; the headless
// one here only runs the event loop.
#include "net/BusyWait.h"

#include <memory>
#include <string>

class IBusyIndicator : public IBusyWait
{
public:
    virtual void SetText(const std::string& text) = 0;
};

class IBusyIndicatorFactory
{
public:
    virtual ~IBusyIndicatorFactory() = default;
    // Starts an indicator showing `text`; destroying it finishes it.
    virtual std::unique_ptr<IBusyIndicator> StartBusy(const std::string& text) = 0;
};

// Waits in a nested event loop, optionally giving up after a time limit (a server that
// never answers must not hang a program that has no Cancel button).
class CEventLoopBusyIndicator : public IBusyIndicator
{
public:
    explicit CEventLoopBusyIndicator(std::string text, int timeoutMs = -1)
        : m_wait(timeoutMs), m_text(std::move(text))
    {}
    bool WaitStep() override { return m_wait.WaitStep(); }
    void EnableCancel(bool enable) override { m_wait.EnableCancel(enable); }
    void SetText(const std::string& text) override { m_text = text; }
    const std::string& Text() const { return m_text; }

private:
    CEventLoopWait m_wait;
    std::string m_text;
};

class CEventLoopBusyFactory : public IBusyIndicatorFactory
{
public:
    // `timeoutMs` < 0: every wait may last for ever.
    explicit CEventLoopBusyFactory(int timeoutMs = -1) : m_timeoutMs(timeoutMs) {}
    std::unique_ptr<IBusyIndicator> StartBusy(const std::string& text) override
    {
        return std::make_unique<CEventLoopBusyIndicator>(text, m_timeoutMs);
    }

private:
    int m_timeoutMs;
};
