#pragma once
// The rule editor's checks and list texts, apart from its dialogs: what a rule or a
// response must satisfy before the rules are stored, and the message the user sees.
#include "turing/TuringRules.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kMaxResponseDelay = 900;
inline constexpr int kMaxResponseLength = 3000;
inline constexpr int kRuleNameLimit = 25;

inline constexpr char kTuringCaption[] = "Zib Tam Turing Technology";
inline constexpr char kNewRuleCaption[] = "New Rule Name";
inline constexpr char kNewRuleLabel[] = "Please enter a concise, descriptive name";
inline constexpr char kNewResponseCaption[] = "New Response";
inline constexpr char kEditResponseCaption[] = "Edit Response";
inline constexpr char kConfirmDeleteRule[] = "Are you sure you want to delete this rule?";
inline constexpr char kConfirmDeleteResponse[] =
    "Are you sure you want to delete the selected response?";
inline constexpr char kNoCondition[] = "Please specify a condition.";
inline constexpr char kNoResponse[] = "You must have at least one response for each rule.";
inline constexpr char kNoMessage[] = "Please specify a message.";
inline constexpr char kTotalProbability[] = "The total probability of a rule cannot exceed 100.";
inline constexpr char kProbabilityRange[] = "The probability must be between 0 and 100.";
std::string DelayRangeText();    // "The delay time must be between 0 and 900 seconds."
std::string MessageLengthText(); // "The message is limited to 3000 characters."
// The response dialog's own wording for its fields.
std::string DelayFieldText(); // "Please specify a delay between 0 and 900."
inline constexpr char kProbabilityField[] = "Please specify a probability between 0 and 100.";

struct RuleCheckResult
{
    bool RuleFailed = false;
    bool ResponseFailed = false;
    int32_t Field = 0; // 1 the condition, 2 the responses
    int32_t RuleIndex = 0;
    int32_t ResponseIndex = 0;
    std::string Text;
};

bool ValidateResponse(const TuringResponse& response, std::string& text);
bool ValidateRule(const TuringRule& rule, RuleCheckResult& result);
// In stored order; the first failing rule ends the check.
bool ValidateRules(const std::vector<TuringRule>& rules, RuleCheckResult& result);

// A response as its list entry shows it: "50%", tab, "0 - 5" (or "5" when both delays
// are equal), tab, message.
std::string ResponseDisplayText(const TuringResponse& response);

// A field of the response dialog: a whole number from 0 to `maximum`, nothing else.
bool ParseWholeNumber(const std::string& text, int maximum, int& value);

// What OK of the response dialog found: the field to send the user back to (and its
// message), or the response to write.
enum class ResponseField
{
    None,
    MinDelay,
    MaxDelay,
    Probability,
    Message
};
struct ResponseEntry
{
    ResponseField Failed = ResponseField::None;
    std::string Text;
    TuringResponse Response;
};
ResponseEntry CheckResponseEntry(const std::string& minDelay, const std::string& maxDelay,
                                 const std::string& probability, const std::string& message);

// The delay arrows keep the minimum at or below the maximum: moving one past the other
// drags the other along. Typed numbers are left as they are.
void CoupleMinDelay(int newMin, int& max);
void CoupleMaxDelay(int newMax, int& min);

// After removing the entry at list position `position`, the position to select: the same
// one, or the one before when it no longer exists; -1 when the list is empty.
int PositionAfterDelete(int position, int remaining);
