#include "app/desktop/ChatNotifier.h"

#include "app/session/ChatController.h"
#include "platform/Clock.h"
#include "settings/Options.h"

CChatNotifier::CChatNotifier(const COptions& options, const IClock& clock, IChatTimers& timers,
                             INotifierHost& host)
    : m_options(options), m_clock(clock), m_timers(timers), m_host(host)
{}

void CChatNotifier::Notify(bool allForAllUsers)
{
    // Records arrived: they are unseen until the window comes to the front.
    m_unseen = true;
    if (m_host.IsUserLooking())
        return;
    if (m_options.Get(Opt::PlaySnd) != 0) {
        // A pop-up is seen at once, so its sound never repeats.
        bool repeat = m_options.Get(Opt::RepeatSound) != 0 &&
                      m_options.GetNotification(allForAllUsers) != kPopUp;
        PlaySound(repeat);
    }
    ShowOrNotify(true, allForAllUsers);
}

bool CChatNotifier::ShowOrNotify(bool notify, bool allUsers)
{
    if (notify && m_host.IsPasswordBoxFocused()) {
        // Popping up now could catch the password being typed; try again shortly.
        m_timers.StartTimer(allUsers ? kRetryAllUsersTimer : kRetryTimer, kRetryPeriodMs);
        return false;
    }
    if (!m_unseen)
        m_host.SelectDefaultRecipients();

    int behaviour = notify ? m_options.GetNotification(allUsers) : kPopUp;
    switch (behaviour) {
    case kFlash:
    case kFlashThenPopUp:
        if (!m_host.IsDialogOpen() && m_host.IsWindowHidden())
            m_host.ShowMinimizedWithoutActivation();
        StartFlashing(behaviour == kFlash ? kFlashTimer : kFlashThenPopUpTimer);
        break;
    case kPopUp:
        m_host.PopUp();
        break;
    default:
        break;
    }
    return true;
}

void CChatNotifier::StartFlashing(int timer)
{
    if (m_host.IsChatWindowForeground())
        return;
    m_flashing = true;
    m_flashPhase = false;
    m_timers.StopTimer(kFlashTimer);
    m_timers.StopTimer(kFlashThenPopUpTimer);
    m_timers.StartTimer(timer, kFlashPeriodMs);
    m_flashStart = m_clock.TickCount();
}

bool CChatNotifier::OnTimer(int id)
{
    switch (id) {
    case kFlashTimer:
    case kFlashThenPopUpTimer:
        OnFlashTimer(id);
        return true;
    case kRetryTimer:
    case kRetryAllUsersTimer:
        if (ShowOrNotify(true, id == kRetryAllUsersTimer))
            m_timers.StopTimer(id);
        return true;
    default:
        return false;
    }
}

void CChatNotifier::OnFlashTimer(int timer)
{
    if (m_flashing && !m_host.IsUserLooking()) {
        if (timer == kFlashThenPopUpTimer && m_clock.TickCount() - m_flashStart > kPopUpAfterMs) {
            ShowOrNotify(false, false);
            m_timers.StopTimer(timer);
        } else {
            m_flashPhase = !m_flashPhase;
            m_host.Flash(m_flashPhase);
        }
        return;
    }
    m_flashPhase = false;
    m_host.Flash(false);
    m_timers.StopTimer(timer);
}

void CChatNotifier::PlaySound(bool repeat)
{
    m_unseen = true;
    m_repeatingSound = repeat;
    std::string path = m_options.Get(Opt::SoundPath);
    if (!path.empty() && m_host.PlaySoundFile(path, repeat))
        return;
    m_host.PlaySystemSound(repeat);
}

void CChatNotifier::OnWindowActivated()
{
    m_unseen = false;
    if (m_repeatingSound) {
        m_host.StopSound();
        m_repeatingSound = false;
    }
}

bool NeedsCentring(const ScreenRect& window, const ScreenRect& screen)
{
    constexpr int kInside = 100;
    return window.X > screen.X + screen.Width - kInside ||
           window.Y > screen.Y + screen.Height - kInside ||
           window.X + window.Width < screen.X + kInside ||
           window.Y + window.Height < screen.Y + kInside;
}

ScreenRect CentredIn(const ScreenRect& window, const ScreenRect& area)
{
    return {area.X + (area.Width - window.Width) / 2, area.Y + (area.Height - window.Height) / 2,
            window.Width, window.Height};
}
