#include "app/desktop/AutoTypeHotKey.h"

#include "platform/Identity.h"

namespace {

// Time for the focused program to read the keyboard table with the lent keys, which it does
// when their events reach it.
constexpr int kRestoreMappingMs = 1000;

} // namespace

CAutoTypeHotKey::CAutoTypeHotKey(const COptions& options, const IClock& clock, bool secondary,
                                 std::function<void(const std::string&)> report, QObject* parent)
    : QObject(parent), m_autoType(options, clock, m_keyboard, m_keyboard, report)
{
    m_restoreMapping.setSingleShot(true);
    m_restoreMapping.setInterval(kRestoreMappingMs);
    connect(&m_restoreMapping, &QTimer::timeout, this,
            [this] { m_keyboard.RestoreKeyboardMapping(); });
    // A text set later takes effect at the next start, as the key is registered only here.
    if (!CAutoType::WantsHotKey(options))
        return;
    HotKey key = AutoTypeHotKey(InstanceIdentity::For(secondary));
    m_registered = m_hotKeys.Register(key) == HotKeyResult::Registered;
    if (!m_registered) {
        if (report)
            report(kAutoTypeHotKeyTakenText);
        return;
    }
    connect(&m_hotKeys, &CX11HotKeys::Released, this, [this, key](uint32_t id) {
        if (id == key.Id)
            Type();
    });
}

void CAutoTypeHotKey::Type()
{
    m_autoType.OnHotKey();
    if (m_keyboard.HasTemporaryKeys())
        m_restoreMapping.start();
}
