#include "autotype/AutoTyper.h"

#include "settings/Options.h"
#include "view/PrefixFormat.h"

namespace {

// The list grows in steps of this many events.
constexpr size_t kGrowStep = 1000;

} // namespace

CAutoTyper::CAutoTyper(IKeyboardLayout& layout, IKeyInjector& injector)
    : m_layout(layout), m_injector(injector)
{}

void CAutoTyper::Append(uint16_t virtualKey, uint32_t flags)
{
    if (m_events.size() == m_events.capacity())
        m_events.reserve(m_events.capacity() + kGrowStep);
    m_events.push_back({virtualKey, flags});
}

void CAutoTyper::TypeText(std::string_view text)
{
    for (char c : text) {
        KeyLookup key = m_layout.LookupCharacter(static_cast<unsigned char>(c));
        if (!key.Found)
            continue;
        Append(kVirtualKeyControl, kKeyUp);
        Append(kVirtualKeyAlt, kKeyUp);
        Append(kVirtualKeyShift, kKeyUp);
        // Shift follows the layout: a fixed list of "shifted" characters types a backslash
        // as "|" and a double quote as "'" on the very layout it was written for.
        if (key.Shift)
            Append(kVirtualKeyShift, kKeyDown);
        Append(key.VirtualKey, kKeyDown);
        Append(key.VirtualKey, kKeyUp);
        if (key.Shift)
            Append(kVirtualKeyShift, kKeyUp);
    }
}

bool CAutoTyper::Inject()
{
    return m_injector.Inject(m_events);
}

std::string AutoTypeText(std::string_view format, std::time_t now)
{
    CPrefixFormat prefix(format);
    return prefix.Format(MessageTime::From(now), "", "", 0, 0);
}

CAutoType::CAutoType(const COptions& options, const IClock& clock, IKeyboardLayout& layout,
                     IKeyInjector& injector, std::function<void(const std::string&)> report)
    : m_options(options), m_clock(clock), m_layout(layout), m_injector(injector),
      m_report(std::move(report))
{}

bool CAutoType::WantsHotKey(const COptions& options)
{
    return !options.Get(Opt::AutoType).empty();
}

void CAutoType::OnHotKey()
{
    std::string format = m_options.Get(Opt::AutoType);
    if (format.empty())
        return;
    if (!m_injector.IsAvailable()) {
        if (!m_reported && m_report)
            m_report(kAutoTypeUnavailableText);
        m_reported = true;
        return;
    }
    CAutoTyper typer(m_layout, m_injector);
    typer.TypeText(AutoTypeText(format, m_clock.Now()));
    typer.Inject();
}
