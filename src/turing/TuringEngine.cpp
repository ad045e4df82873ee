#include "turing/TuringEngine.h"

#include "platform/Clock.h"
#include "platform/Random.h"
#include "settings/Options.h"

CTuringEngine::CTuringEngine(const COptions& options, const IClock& clock, IRandom& random)
    : m_options(options), m_clock(clock), m_random(random)
{}

void CTuringEngine::ProcessMessage(const ChatMessage& message)
{
    if (m_reloadPending) {
        LoadTuringRules(m_options, m_rules);
        m_reloadPending = false;
    }

    const TuringRule* rule = nullptr;
    for (const TuringRule& candidate : m_rules) {
        if (MatchWildcard(message.Text.c_str(), candidate.Condition.c_str())) {
            rule = &candidate;
            break;
        }
    }
    // An answer to a message without a sender would otherwise go to all users.
    if (!rule || (!message.AllUsers && message.Sender.empty()))
        return;

    // Only the first matching rule counts, even when its draw gives no answer.
    int draw = m_random.Next() % 100;
    int64_t sum = 0;
    const TuringResponse* chosen = nullptr;
    for (const TuringResponse& response : rule->Responses) {
        sum += response.Probability;
        if (draw < sum) {
            chosen = &response;
            break;
        }
    }
    if (!chosen)
        return;

    uint32_t low = static_cast<uint32_t>(chosen->MinDelay) * 1000u;
    uint32_t high = static_cast<uint32_t>(chosen->MaxDelay) * 1000u;
    uint32_t delay = low;
    if (high > low)
        delay += static_cast<uint32_t>(m_random.Next()) % (high - low);

    m_pending.push_back({message.AllUsers ? std::string() : message.Sender, chosen->Message,
                         m_clock.TickCount() + delay});
}

std::optional<uint32_t> CTuringEngine::NextDueTick() const
{
    std::optional<uint32_t> next;
    uint32_t now = m_clock.TickCount();
    for (const PendingAnswer& answer : m_pending) {
        // An answer goes out once the tick has passed its due tick.
        uint32_t due = answer.DueTick + 1;
        if (!next || static_cast<int32_t>(due - now) < static_cast<int32_t>(*next - now))
            next = due;
    }
    return next;
}

bool CTuringEngine::TakeDueAnswer(std::vector<std::string>& recipients, std::string& text)
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        // Compared by difference so that the tick counter's wrap neither holds an answer
        // back for 49 days nor lets it out early.
        uint32_t elapsed = m_clock.TickCount() - it->DueTick;
        if (elapsed == 0 || elapsed >= 0x80000000u)
            continue;
        text = it->Text;
        recipients.clear();
        if (!it->Recipient.empty())
            recipients.push_back(it->Recipient);
        m_pending.erase(it);
        return true;
    }
    return false;
}
