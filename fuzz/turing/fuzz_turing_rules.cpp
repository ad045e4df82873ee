// The wildcard matcher against a plain dynamic-programming glob match, and the stored
// response parser: whatever it reads is in range and reads back the same once written.
#include "turing/TuringRules.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool ReferenceMatch(const std::string& text, const std::string& pattern)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    std::vector<char> previous(text.size() + 1), current(text.size() + 1);
    previous[0] = 1;
    for (char p : pattern) {
        current[0] = p == '*' && previous[0];
        for (size_t t = 1; t <= text.size(); ++t)
            current[t] = p == '*' ? previous[t] || current[t - 1]
                                  : previous[t - 1] && (p == '?' || fold(p) == fold(text[t - 1]));
        previous.swap(current);
    }
    return previous[text.size()];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);

    // Pattern, then a zero byte, then the text; both end at their first zero byte.
    std::string pattern = input.substr(0, input.find('\0'));
    std::string text = pattern.size() < input.size() ? input.substr(pattern.size() + 1) : "";
    text = text.substr(0, text.find('\0'));
    if (pattern.size() <= 256 && text.size() <= 1024 &&
        MatchWildcard(text.c_str(), pattern.c_str()) != ReferenceMatch(text, pattern))
        std::abort();

    TuringResponse response = ParseResponseValue(input);
    if (response.Probability < 0 || response.Probability > 100 || response.MinDelay < 0 ||
        response.MinDelay > response.MaxDelay || response.MaxDelay > 900 ||
        response.Message.empty() || response.Message.find('\t') != std::string::npos)
        std::abort();
    if (!(ParseResponseValue(FormatResponseValue(response)) == response))
        std::abort();

    std::string message = input;
    NormalizeResponseMessage(message);
    std::string again = message;
    NormalizeResponseMessage(again);
    if (again != message)
        std::abort();
    return 0;
}
