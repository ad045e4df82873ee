#pragma once
// Whether another program's keyboard focus is in a password box, as the desktop's
// accessibility bus (AT-SPI) tells it: we listen to the focus changes that programs report
// there and ask the newly focused object for its role (password text or not). Programs that
// do not speak AT-SPI, or a desktop without the bus, answer "no", so a notification is then
// not held back.
//
// Use: CAtSpiPasswordFocus focus; focus.Start();   // false: no accessibility bus
//      CWidgetNotifierHost host(..., &focus, ...);
#include "app/desktop/WidgetNotifierHost.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>

class QDBusMessage;

class CAtSpiPasswordFocus : public QObject, public IPasswordFocus
{
    Q_OBJECT
public:
    // The AT-SPI role of a password entry.
    static constexpr uint32_t kPasswordTextRole = 40;

    explicit CAtSpiPasswordFocus(QObject* parent = nullptr);
    ~CAtSpiPasswordFocus() override;

    bool Start();
    bool IsRunning() const { return m_bus != nullptr; }
    bool IsPasswordBoxFocused() const override { return m_passwordFocused; }

private slots:
    void OnStateChanged(const QDBusMessage& message);
    void OnDeactivated(const QDBusMessage& message);

private:
    void Forget();

    std::unique_ptr<QDBusConnection> m_bus;
    QString m_focusedService;
    QString m_focusedPath;
    bool m_passwordFocused = false;
    unsigned m_generation = 0; // drops role answers for an object that lost the focus since
};
