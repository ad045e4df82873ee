#pragma once
// Message boxes and the one-line input box. Everything modal goes through here so that
// tests can answer it; texts are Windows-1252 bytes like every text of the core.
#include <string>

enum class PromptButtons
{
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel
};
enum class PromptIcon
{
    None,
    Information,
    Warning,
    Error,
    Question
};
enum class PromptAnswer
{
    Ok,
    Cancel,
    Yes,
    No
};

class IPrompt
{
public:
    virtual ~IPrompt() = default;
    virtual PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                                    PromptButtons buttons, PromptIcon icon) = 0;
    // The one-line input box: `prompt` is shown with ":" appended; `text` holds the
    // suggestion on entry and the box's content when it closes, whether by OK (true) or
    // Cancel (false). At most `maxLength` characters; `masked` hides what is typed.
    virtual bool InputBox(const std::string& title, const std::string& prompt, std::string& text,
                          int maxLength, bool masked) = 0;
};
