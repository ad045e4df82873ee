#pragma once
// Reading the server's frames the cheap way the load generator and the forwarding anchor
// both do: a header ending in a blank line with a "Content-Length", then the body; fields
// found by their tags.
#include <cstddef>
#include <cstdlib>
#include <string_view>

// The text between the first `open` and the `close` after it; empty when either is missing.
inline std::string_view Between(std::string_view text, std::string_view open,
                                std::string_view close)
{
    auto a = text.find(open);
    if (a == std::string_view::npos)
        return {};
    a += open.size();
    auto b = text.find(close, a);
    return b == std::string_view::npos ? std::string_view() : text.substr(a, b - a);
}

// The frame at the start of `rest`: Taken is 0 while it is incomplete; a header without a
// length is taken alone, with no body.
struct NextFrame
{
    std::size_t Taken = 0;
    bool HasBody = false;
    std::string_view Body;
};

inline NextFrame TakeFrame(std::string_view rest)
{
    static constexpr std::string_view kLength = "Content-Length: ";
    auto end = rest.find("\n\n");
    if (end == std::string_view::npos)
        return {};
    auto at = rest.find(kLength);
    if (at == std::string_view::npos || at > end)
        return {end + 2, false, {}};
    std::size_t length = std::strtoul(rest.data() + at + kLength.size(), nullptr, 10);
    if (rest.size() < end + 2 + length)
        return {};
    return {end + 2 + length, true, rest.substr(end + 2, length)};
}
