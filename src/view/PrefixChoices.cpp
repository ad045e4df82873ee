#include "view/PrefixChoices.h"

#include "view/PrefixFormat.h"

PrefixChoices BuildPrefixChoices(const std::string& currentFormat)
{
    PrefixChoices choices;
    choices.Selected = -1;
    int index = 0;
    for (const char* format : PrefixFormatPresets()) {
        if (choices.Selected < 0 && currentFormat == format)
            choices.Selected = index;
        choices.Entries.push_back({FormatPrefixSample(format), format, index});
        ++index;
    }
    if (choices.Selected < 0) {
        choices.Selected = static_cast<int>(choices.Entries.size());
        choices.Entries.push_back({FormatPrefixSample(currentFormat), currentFormat, -1});
    }
    return choices;
}
