#pragma once
// Message boxes and the input box as real dialogs.
#include "platform/Prompt.h"

class QWidget;

class CWidgetPrompt : public IPrompt
{
public:
    explicit CWidgetPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }

    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override;
    bool InputBox(const std::string& title, const std::string& prompt, std::string& text,
                  int maxLength, bool masked) override;

private:
    QWidget* Owner() const;
    QWidget* m_parent;
};
