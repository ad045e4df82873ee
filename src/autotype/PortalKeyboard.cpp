#include "autotype/PortalKeyboard.h"

#include "autotype/Keysyms.h"

#include <QDBusObjectPath>
#include <cctype>

namespace {

constexpr char kInterface[] = "org.freedesktop.portal.RemoteDesktop";
constexpr uint kKeyboardDevice = 1;
constexpr uint kPersistUntilRevoked = 2;

uint32_t KeysymOfVirtualKey(uint16_t virtualKey)
{
    switch (virtualKey) {
    case kVirtualKeyShift:
        return kKeysymShiftLeft;
    case kVirtualKeyControl:
        return kKeysymControlLeft;
    case kVirtualKeyAlt:
        return kKeysymAltLeft;
    default:
        break;
    }
    if (virtualKey < CPortalKeyboard::kCharacterBase)
        return 0;
    return KeysymOfCharacter(
        static_cast<unsigned char>(virtualKey - CPortalKeyboard::kCharacterBase));
}

} // namespace

CPortalKeyboard::CPortalKeyboard(const QString& restoreToken, QObject* parent)
    : QObject(parent), m_restoreToken(restoreToken)
{}

CPortalKeyboard::~CPortalKeyboard()
{
    CDesktopPortal::CloseSession(m_session);
}

KeyLookup CPortalKeyboard::LookupCharacter(unsigned char character)
{
    KeyLookup key;
    if (KeysymOfCharacter(character) == 0)
        return key;
    key.Found = true;
    key.VirtualKey = static_cast<uint16_t>(kCharacterBase + character);
    // The desktop picks the level of a keysym itself; Shift around a capital letter is what
    // every layout wants anyway.
    key.Shift = std::isupper(character) != 0;
    return key;
}

bool CPortalKeyboard::Inject(std::span<const KeyInput> events)
{
    if (m_missing)
        return false;
    for (const KeyInput& event : events)
        if (uint32_t keysym = KeysymOfVirtualKey(event.VirtualKey))
            m_pending.emplace_back(keysym, event.Flags == kKeyDown);
    if (m_state == State::Ready)
        Flush();
    else if (m_state == State::Idle)
        StartSession();
    return true;
}

void CPortalKeyboard::StartSession()
{
    m_state = State::Starting;
    // The version says whether a grant can be kept (restore tokens came with version 2).
    CDesktopPortal::ReadProperty(
        this, QLatin1String(kInterface), QStringLiteral("version"),
        [this](const QVariant& version) {
            if (!version.isValid()) {
                Drop(PortalOutcome::Missing);
                return;
            }
            CDesktopPortal::CreateSession(
                this, QLatin1String(kInterface),
                [this, v = version.toUInt()](PortalOutcome outcome, const QString& session) {
                    m_session = session;
                    if (outcome != PortalOutcome::Granted)
                        Drop(outcome);
                    else
                        SelectDevices(v);
                });
        });
}

void CPortalKeyboard::SelectDevices(uint version)
{
    QVariantMap options{{QStringLiteral("types"), kKeyboardDevice}};
    if (version >= 2) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (!m_restoreToken.isEmpty())
            options.insert(QStringLiteral("restore_token"), m_restoreToken);
    }
    CDesktopPortal::Request(this, QLatin1String(kInterface), QStringLiteral("SelectDevices"),
                            {QVariant::fromValue(QDBusObjectPath(m_session)), options},
                            [this](PortalOutcome outcome, const QVariantMap&) {
                                if (outcome != PortalOutcome::Granted)
                                    Drop(outcome);
                                else
                                    StartDevices();
                            });
}

void CPortalKeyboard::StartDevices()
{
    CDesktopPortal::Request(
        this, QLatin1String(kInterface), QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(m_session)), QString(), QVariantMap()},
        [this](PortalOutcome outcome, const QVariantMap& results) {
            uint devices = results.value(QStringLiteral("devices")).toUInt();
            if (outcome == PortalOutcome::Granted && !(devices & kKeyboardDevice))
                outcome = PortalOutcome::Declined; // granted, but not the keyboard
            if (outcome != PortalOutcome::Granted) {
                Drop(outcome);
                return;
            }
            QString token = results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty() && token != m_restoreToken) {
                m_restoreToken = token;
                emit RestoreTokenChanged(token);
            }
            // The desktop may end the session (the user revokes it): ask again next time.
            CDesktopPortal::Bus().connect(QLatin1String(CDesktopPortal::kService), m_session,
                                          QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Closed"), this, SLOT(OnClosed()));
            m_state = State::Ready;
            Flush();
        });
}

void CPortalKeyboard::OnClosed()
{
    m_session.clear();
    m_state = State::Idle;
}

void CPortalKeyboard::Flush()
{
    for (const auto& [keysym, pressed] : m_pending)
        CDesktopPortal::Send(QLatin1String(kInterface), QStringLiteral("NotifyKeyboardKeysym"),
                             {QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap(),
                              static_cast<int>(keysym), static_cast<uint>(pressed ? 1 : 0)});
    m_pending.clear();
}

void CPortalKeyboard::Drop(PortalOutcome why)
{
    CDesktopPortal::CloseSession(m_session);
    m_session.clear();
    m_pending.clear();
    m_state = State::Idle;
    if (why == PortalOutcome::Missing)
        m_missing = true;
    emit Failed(why);
}
