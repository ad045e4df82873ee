#pragma once
// The auto-responder: one per process. Received messages go in through ProcessMessage;
// the answers they earn come out of TakeDueAnswer once their delay has passed, and the
// caller sends them as ordinary messages of this user.
#include "common/ChatMessage.h"
#include "turing/TuringRules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class COptions;
class IClock;
class IRandom;

struct PendingAnswer
{
    std::string Recipient; // empty = all users
    std::string Text;
    uint32_t DueTick = 0; // tick count at which the answer is due

    bool operator==(const PendingAnswer&) const = default;
};

class CTuringEngine
{
public:
    CTuringEngine(const COptions& options, const IClock& clock, IRandom& random);

    // The stored rules changed (the rule editor closed with OK): read them again at the
    // next message. Answers already waiting are kept.
    void MarkRulesChanged() { m_reloadPending = true; }

    // A message taken from the transport that is not a loopback, in arrival order (the
    // caller leaves loopbacks out). Reads its Text, AllUsers and Sender.
    void ProcessMessage(const ChatMessage& message);

    // Hands out at most one due answer; call until it returns false. An empty
    // `recipients` means all users. Outputs are untouched when nothing is due.
    bool TakeDueAnswer(std::vector<std::string>& recipients, std::string& text);

    bool HasPending() const { return !m_pending.empty(); }
    // The tick at which TakeDueAnswer next gives an answer; nullopt when none waits.
    std::optional<uint32_t> NextDueTick() const;
    bool IsReloadPending() const { return m_reloadPending; }
    const std::vector<TuringRule>& Rules() const { return m_rules; }
    const std::vector<PendingAnswer>& Pending() const { return m_pending; }

private:
    const COptions& m_options;
    const IClock& m_clock;
    IRandom& m_random;
    bool m_reloadPending = true;
    std::vector<TuringRule> m_rules;
    std::vector<PendingAnswer> m_pending; // in the order scheduled
};
