#pragma once
// While a network operation waits: the blocked window takes no clicks and holds back what
// is typed into it (handed on, in order, when the wait ends: nothing typed is lost, and
// nothing the user does runs inside the wait). An operation the user waits for (he pressed
// Send, Reconnect, F5) also gets the wait cursor and, after a short delay, a small progress
// window with the operation's text and a Cancel button, a modeless child of the window.
// Work in the background (reconnecting, acknowledging) is silent: no cursor, no box, and a
// time limit instead of Cancel. A hidden window is never blocked and shows nothing.
// Each wait step runs the event loop until something happens (a socket, a timer, a click),
// so the program stays alive inside the wait without polling.
#include "net/BusyIndicator.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

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

    // Only when not running. `window` null: nothing is blocked. `attended`: the user waits
    // for it (cursor, progress window, Cancel); otherwise it is silent and time-limited.
    void Start(const QString& text, int delayMs, QWidget* window, bool attended = true);
    void SetText(const QString& text);
    void SetCancelEnabled(bool enable);
    // Runs the event loop until at least one event was handled. True when the waiting
    // should stop: not running, Cancel pressed, or the program was asked to quit.
    bool Poll();
    void Finish();
    // The program is ending: every wait, running or to come, stops at its next step.
    static void StopAllWaits();

    // Marks what the user asked for (a click on Send, Reconnect, F5): waits started meanwhile
    // are attended.
    class UserWaits
    {
    public:
        UserWaits();
        ~UserWaits();
        UserWaits(const UserWaits&) = delete;
        UserWaits& operator=(const UserWaits&) = delete;
        static bool Active();
    };

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

    struct HeldKey
    {
        QPointer<QObject> Target;
        std::unique_ptr<QEvent> Event;
    };
    bool HoldsBack(QObject* watched, QEvent* event);
    void HandOnHeldKeys();

    bool m_running = false;
    QPointer<QWidget> m_window;
    bool m_attended = false;
    std::vector<HeldKey> m_heldKeys;
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

// Hands the client transport an indicator per operation that blocks the chat window while
// it is shown, attended when the user asked for the operation.
class CBusyIndicatorFactory : public IBusyIndicatorFactory
{
public:
    explicit CBusyIndicatorFactory(QWidget* window = nullptr) : m_window(window) {}
    void SetWindow(QWidget* window) { m_window = window; }
    std::unique_ptr<IBusyIndicator> StartBusy(const std::string& text) override;

private:
    QPointer<QWidget> m_window;
};
