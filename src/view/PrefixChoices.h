#pragma once
// The Format options page's prefix list: the ready-made formats, each shown applied to
// the sample message, and the current format as one more entry when it is none of them.
#include <string>
#include <vector>

struct PrefixEntry
{
    std::string Display;
    std::string Format;
    int Index; // position among the ready-made formats; -1 for the kept current format
};

struct PrefixChoices
{
    std::vector<PrefixEntry> Entries;
    int Selected = 0; // position in Entries of the current format
};

// The current format is matched case-sensitively.
PrefixChoices BuildPrefixChoices(const std::string& currentFormat);
