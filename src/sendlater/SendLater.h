#pragma once
// Send Later: messages scheduled for a moment, kept in the settings store under
// "SendLater" so that they survive a restart, and taken out by the chat window's poll
// once due. One string value per message, named "1", "2", ...; its lines are the moment
// (seconds since 1970 UTC), the recipients (none for all users), an empty line, and the
// message text, which may run over several lines.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class COptions;
class IClock;

inline constexpr char kScheduledPrefix[] = "Scheduled message: ";
inline constexpr char kSendLaterEmptyText[] =
    "Please type your message before choosing \"Send Later\".";
inline constexpr char kSendLaterNoRegistryText[] = "The feature requires registry access.";
inline constexpr char kSendLaterPastText[] =
    "Zib Tam is limited by time and space, and therefore cannot enter into the\npast to send "
    "your message.  Please choose a date and time in the future.";
// OK pressed before either way of sending later was chosen.
inline constexpr char kSendLaterNoOptionText[] =
    "Please choose when to send the message: in a number of hours and minutes, or on a date "
    "at a time.";

// One stored message, as read from its value.
struct ScheduledMessage
{
    std::time_t Moment = 0;
    std::vector<std::string> Recipients; // empty = all users
    std::string Text;                    // with the "Scheduled message: " prefix

    bool operator==(const ScheduledMessage&) const = default;
};

enum class ScheduledParse
{
    Ok,
    Malformed,   // no line, or a first line that is not a plain decimal number
    NoSeparator, // moment readable, but no empty line before the text
};

std::string FormatScheduledValue(const ScheduledMessage& message);
// Fills `message` as far as the value allows: the moment for NoSeparator, everything for Ok.
ScheduledParse ParseScheduledValue(const std::string& value, ScheduledMessage& message);

class CSendLater
{
public:
    // Asks the user for the moment; false when he cancels.
    using MomentChooser = std::function<bool(std::time_t& moment)>;

    CSendLater(COptions& options, const IClock& clock);

    // Stores `text` (as the user typed it) for `recipients` (empty = all users) at the
    // moment the chooser gives. False with `errorText` set when the text is empty or the
    // store cannot be written; false with an empty `errorText` when the chooser cancels.
    bool ScheduleMessage(const std::string& text, const std::vector<std::string>& recipients,
                         const MomentChooser& chooseMoment, std::string& errorText);
    bool ScheduleMessage(const std::string& text, const std::vector<std::string>& recipients,
                         std::time_t moment, std::string& errorText);

    // Takes the first due message out of the store. Malformed values met on the way are
    // deleted. Call until it returns false; outputs are only set on true. `moment` receives
    // its moment, for putting it back when it could not be handed over.
    bool GetDueMessage(std::vector<std::string>& recipients, std::string& text,
                       std::time_t* moment = nullptr);
    // Stores a message taken by GetDueMessage again, as it was (its text already prefixed).
    bool Store(const ScheduledMessage& message);
    // The earliest moment stored (unreadable values count as due now); nullopt when none.
    std::optional<std::time_t> NextMoment() const;

    std::string KeyPath() const;

private:
    COptions& m_options;
    const IClock& m_clock;
};
