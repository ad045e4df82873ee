#pragma once
// What the chat window does when messages arrive while the user is elsewhere, and when it
// is asked to show itself: a sound (once or until the window is opened), a flashing window,
// a pop-up at once or after a minute, or nothing, as the options choose. Every decision is
// made here; the window answers the questions and carries out the actions of
// INotifierHost, and runs the timers.
//
// Use (the chat window owns one):
//   CChatNotifier notifier(options, clock, timers, host);
//   notifier.Notify(allForAllUsers);   after incoming records were taken in
//   notifier.ShowChatWindow();         tray click, "&Chat!", a hot key, a second start
//   notifier.OnTimer(id);              timers 1 to 4 (returns false for other ids)
//   notifier.OnWindowActivated();      the window came to the front, not minimised
//   notifier.HasUnseenMessages();      the unseen-messages flag (also for the window)
#include <cstdint>
#include <string>

class COptions;
class IClock;
class IChatTimers;

// The chat window's side of the notifications.
class INotifierHost
{
public:
    virtual ~INotifierHost() = default;

    // The user is looking: the foreground window is the chat window or its open dialog.
    virtual bool IsUserLooking() const = 0;
    // The chat window itself is the foreground window.
    virtual bool IsChatWindowForeground() const = 0;
    // The keyboard focus of the program in front is in a password box (false when the
    // desktop cannot tell).
    virtual bool IsPasswordBoxFocused() const = 0;
    virtual bool IsDialogOpen() const = 0;
    virtual bool IsWindowHidden() const = 0;

    // Shows the hidden window minimised without taking the focus, so it can flash.
    virtual void ShowMinimizedWithoutActivation() = 0;
    // One phase of the flashing: on (asking for attention) or off.
    virtual void Flash(bool on) = 0;
    // Brings the window, or its open dialog, to the front: maximised if it was, moved back
    // on screen when it lies almost off it (see NeedsCentring), the focus in the input box.
    virtual void PopUp() = 0;
    // The recipients the user chose to start with (the users list's default).
    virtual void SelectDefaultRecipients() = 0;

    // Starts a wave file; false when it cannot be played.
    virtual bool PlaySoundFile(const std::string& path, bool repeat) = 0;
    // Starts the desktop's message sound.
    virtual void PlaySystemSound(bool repeat) = 0;
    virtual void StopSound() = 0;
};

class CChatNotifier
{
public:
    enum Timer : int
    {
        kFlashTimer = 1,          // flash until looked at
        kFlashThenPopUpTimer = 2, // flash, pop up after a minute
        kRetryTimer = 3,          // a notification waiting for a password box
        kRetryAllUsersTimer = 4,  // the same for a message to all users
    };
    // Behaviour codes of the notification choices.
    enum Behaviour : int
    {
        kFlash = 0,
        kFlashThenPopUp = 1,
        kPopUp = 2,
        kNothing = 3,
    };
    static constexpr uint32_t kFlashPeriodMs = 500;
    static constexpr uint32_t kRetryPeriodMs = 150;
    static constexpr uint32_t kPopUpAfterMs = 60000;

    CChatNotifier(const COptions& options, const IClock& clock, IChatTimers& timers,
                  INotifierHost& host);

    // After incoming records were taken in; `allForAllUsers` when every one was for all users.
    void Notify(bool allForAllUsers);
    // The user asked for the window: pop it up.
    void ShowChatWindow() { ShowOrNotify(false, false); }
    // Timers 1 to 4; false when the id is not one of them.
    bool OnTimer(int id);
    // The window came to the front (not while minimised): the messages are seen and a
    // repeating sound stops.
    void OnWindowActivated();

    bool HasUnseenMessages() const { return m_unseen; }
    void SetUnseenMessages() { m_unseen = true; }
    bool IsFlashing() const { return m_flashing; }
    bool IsSoundRepeating() const { return m_repeatingSound; }

private:
    // Returns false when it has to wait (a password box has the focus).
    bool ShowOrNotify(bool notify, bool allUsers);
    void StartFlashing(int timer);
    void OnFlashTimer(int timer);
    void PlaySound(bool repeat);

    const COptions& m_options;
    const IClock& m_clock;
    IChatTimers& m_timers;
    INotifierHost& m_host;
    bool m_unseen = false;
    bool m_flashing = false; // set when flashing starts, never cleared
    bool m_flashPhase = false;
    uint32_t m_flashStart = 0;
    bool m_repeatingSound = false;
};

// A rectangle in desktop pixels.
struct ScreenRect
{
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// A popped-up window that lies less than 100 pixels inside the virtual screen (all
// monitors together) on any side is centred.
bool NeedsCentring(const ScreenRect& window, const ScreenRect& virtualScreen);
// `window` moved so that its centre is the centre of `area`.
ScreenRect CentredIn(const ScreenRect& window, const ScreenRect& area);
