#pragma once
// The auto-responder's rules: a wildcard condition matched against the whole text of a
// received message, and the responses drawn by probability when it matches. Rules live
// in the settings store under "Turing"; each response is one tab-separated text value.
#include <cstdint>
#include <string>
#include <vector>

class COptions;

// Sent when a stored response has no usable message.
inline constexpr char kDefaultTuringMessage[] = "Do you think Zib Tam would pass the Turing test?";

struct TuringResponse
{
    int32_t MinDelay = 0;      // seconds, 0..900 once loaded
    int32_t MaxDelay = 0;      // seconds, 0..900 once loaded, never below MinDelay
    int32_t Probability = 100; // percent, 0..100 once loaded
    std::string Message;

    bool operator==(const TuringResponse&) const = default;
};

struct TuringRule
{
    std::vector<TuringResponse> Responses;
    std::string Name; // for the editor's list only
    std::string Condition;

    bool operator==(const TuringRule&) const = default;
};

// Whole-text glob match: "*" any run, "?" any one byte, ASCII letters without regard to
// case, every other byte exactly. Null pointers count as empty texts.
bool MatchWildcard(const char* text, const char* pattern);

// Leading blank lines shrink to at most one line break, line breaks at the end go, tabs
// become blanks (tabs separate the fields of a stored response).
void NormalizeResponseMessage(std::string& message);

// The stored text of one response: probability "%", tab, minimum delay, tab, maximum
// delay, tab, message.
std::string FormatResponseValue(const TuringResponse& response);
// Reads a stored response the forgiving way: anything unusable is clamped or defaulted.
TuringResponse ParseResponseValue(const std::string& value);

// Replaces `rules` with the stored rules; leaves it empty while "Turing" is 0.
void LoadTuringRules(const COptions& options, std::vector<TuringRule>& rules);
// Makes the stored rules equal `rules`; writes nothing while "Turing" is 0. False when a
// write or deletion failed.
bool SaveTuringRules(COptions& options, const std::vector<TuringRule>& rules);
