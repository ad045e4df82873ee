#pragma once
// Global hot keys on a Wayland desktop, through the desktop portal's GlobalShortcuts: one
// session, the program's keys bound with their usual keys as preferred triggers (the
// desktop may ask the user, who may choose others or refuse), and the Activated signal as
// the press. Under XWayland too: keys grabbed through X11 only reach us while an X11
// window has the focus.
//
// Use (after the QApplication exists):
//   CPortalHotKeys hotKeys;
//   connect(&hotKeys, &CPortalHotKeys::Bound, ...);    // once: each key's HotKeyResult
//   connect(&hotKeys, &CPortalHotKeys::Pressed, ...);  // id, the desktop's activation token
//   hotKeys.Bind(keys);
#include "app/desktop/HotKeys.h"

#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <vector>

class CPortalHotKeys : public QObject
{
    Q_OBJECT
public:
    explicit CPortalHotKeys(QObject* parent = nullptr);
    ~CPortalHotKeys() override;

    // Asks for `keys`; Bound follows once. Registered keys are pressed from then on.
    void Bind(const std::vector<HotKey>& keys);

    // How long Released waits for the desktop to say that a pressed key is up.
    static constexpr int kHoldLimitMs = 2000;

signals:
    void Bound(const std::vector<HotKeyOutcome>& outcomes);
    // `activationToken` lets the window take the focus (empty when the desktop gave none).
    void Pressed(uint32_t id, const QString& activationToken);
    // After Pressed(id): the keys are up again, or were held too long.
    void Released(uint32_t id);

private slots:
    void OnActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                     const QVariantMap& options);
    void OnDeactivated(const QDBusObjectPath& session, const QString& shortcut,
                       qulonglong timestamp, const QVariantMap& options);

private:
    void BindShortcuts();
    void Finish(const std::vector<HotKeyResult>& results);
    void Finish(HotKeyResult all);
    const HotKey* KeyOf(const QString& shortcut) const;
    void Release();

    std::vector<HotKey> m_keys;
    QString m_session;
    uint32_t m_held = 0; // the key pressed and not yet released
    QTimer m_holdLimit;
};
