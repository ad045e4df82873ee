#pragma once
// Typing on a Wayland desktop, through the desktop portal's RemoteDesktop: a session with a
// keyboard device, which the desktop grants after asking the user (or at once with the
// restore token of an earlier grant, where the portal keeps one), and each key event sent
// as a keysym. The desktop finds the key and level for a keysym itself, so the layout here
// needs no table: a character's key is its keysym.
//
// Inject queues the events and sends them once the session runs; the first time that is
// after the user's answer. Failed says that queued events were dropped, and why.
#include "autotype/AutoTyper.h"
#include "platform/DesktopPortal.h"

#include <QObject>
#include <QString>
#include <utility>
#include <vector>

class CPortalKeyboard : public QObject, public IKeyboardLayout, public IKeyInjector
{
    Q_OBJECT
public:
    // `restoreToken`: the token of an earlier grant, empty for none.
    explicit CPortalKeyboard(const QString& restoreToken, QObject* parent = nullptr);
    ~CPortalKeyboard() override;

    // False once the portal turned out to have no RemoteDesktop.
    bool IsAvailable() const override { return !m_missing; }
    KeyLookup LookupCharacter(unsigned char character) override;
    bool Inject(std::span<const KeyInput> events) override;

    // A character's key is the character itself, above the modifiers' virtual keys.
    static constexpr uint16_t kCharacterBase = 0x100;

signals:
    void Failed(PortalOutcome why);
    // A token that lets the next start type without asking again.
    void RestoreTokenChanged(const QString& token);

private slots:
    void OnClosed();

private:
    void StartSession();
    void SelectDevices(uint version);
    void StartDevices();
    void Flush();
    void Drop(PortalOutcome why);

    enum class State
    {
        Idle,
        Starting,
        Ready,
    };
    State m_state = State::Idle;
    bool m_missing = false;
    QString m_session;
    QString m_restoreToken;
    std::vector<std::pair<uint32_t, bool>> m_pending; // keysym, pressed
};
