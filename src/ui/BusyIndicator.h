#pragma once
// While a network operation waits: the wait cursor, the blocked window disabled, and after
// a short delay a small progress window with the operation's text and a Cancel button.
// Each wait step runs the event loop until something happens (a socket, a timer, a click),
// so the program stays alive inside the wait without polling.
#include "net/BusyIndicator.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QDialog;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

class CBusyIndicator : public QObject, public IBusyIndicator
{
    Q_OBJECT
public:
    static constexpr int kDefaultDelayMs = 200;
    // Without a window there is no Cancel button: a wait then gives up after this long, so
    // a server that never answers cannot hold a program hidden in the tray.
    static constexpr int kUnattendedLimitMs = 20000;
    static constexpr int kProgressDialogId = 115;

    CBusyIndicator();
    ~CBusyIndicator() override;

    // Only when not running. `window` null: the active window, if any.
    void Start(const QString& text, int delayMs, QWidget* window);
    void SetText(const QString& text);
    void SetCancelEnabled(bool enable);
    // Runs the event loop until at least one event was handled. True when the waiting
    // should stop: not running, Cancel pressed, or the program was asked to quit.
    bool Poll();
    void Finish();
    // The program is ending: every wait, running or to come, stops at its next step.
    static void StopAllWaits();

    bool IsRunning() const { return m_running; }
    QDialog* ProgressWindow() const { return m_progress; }

    // IBusyIndicator
    bool WaitStep() override { return Poll(); }
    void EnableCancel(bool enable) override { SetCancelEnabled(enable); }
    void SetText(const std::string& text) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowProgressWindow();
    void SetWaitCursor(bool on);

    bool m_running = false;
    QPointer<QWidget> m_window;
    bool m_windowWasEnabled = false;
    QString m_text;
    int m_delayMs = 0;
    bool m_waitCursor = false;
    QPointer<QDialog> m_progress;
    QLabel* m_progressText = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_cancelEnabled = true;
    bool m_cancelled = false;
    bool m_quitSeen = false;
    QTimer* m_delayTimer;
    QTimer* m_limitTimer;
    bool m_timedOut = false;
};

// Hands the client transport an indicator per operation that blocks the chat window
// (while it is shown) or the active window.
class CBusyIndicatorFactory : public IBusyIndicatorFactory
{
public:
    explicit CBusyIndicatorFactory(QWidget* window = nullptr) : m_window(window) {}
    void SetWindow(QWidget* window) { m_window = window; }
    std::unique_ptr<IBusyIndicator> StartBusy(const std::string& text) override;

private:
    QPointer<QWidget> m_window;
};
