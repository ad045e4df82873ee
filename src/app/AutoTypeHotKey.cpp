#include "app/AutoTypeHotKey.h"

#include "platform/Identity.h"

CAutoTypeHotKey::CAutoTypeHotKey(const COptions& options, const IClock& clock, bool secondary,
                                 std::function<void(const std::string&)> report, QObject* parent)
    : QObject(parent), m_autoType(options, clock, m_keyboard, m_keyboard, report)
{
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
    connect(&m_hotKeys, &CX11HotKeys::Pressed, this, [this, key](uint32_t id) {
        if (id == key.Id)
            Type();
    });
}
