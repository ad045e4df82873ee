#pragma once
// A settings store, a scripted prompt and a host that records what the options asked of
// the program; modal dialogs are answered by a function the test sets.
#include "TestSupport.h"
#include "ui/OptionsHost.h"
#include "ui/OptionsSheet.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTreeWidget>
#include <functional>

class FakeOptionsHost : public IOptionsHost
{
public:
    int LogViewerStarts = 0;
    std::vector<std::pair<std::string, bool>> Played;
    int Stops = 0;
    int RulesChangedCalls = 0;
    std::vector<std::string> Computers = {"OFFICE2", "server.example"};
    // Answers a modal dialog; Rejected when unset.
    std::function<int(QDialog&)> Answer;
    std::vector<QString> DialogsRun;
    uint32_t ColorAnswer = 0;
    bool ColorOk = false;
    CustomColors ColorsSeen{};
    ChosenFont FontAnswer;
    bool FontOk = false;

    bool LogViewerStartSucceeds = true;
    bool StartLogViewer() override
    {
        ++LogViewerStarts;
        return LogViewerStartSucceeds;
    }
    void PlaySound(const std::string& path, bool repeat) override
    {
        Played.push_back({path, repeat});
    }
    void StopSound() override { ++Stops; }
    void RulesChanged() override { ++RulesChangedCalls; }
    std::vector<std::string> KnownComputers() override { return Computers; }
    std::string ComputerName() override { return "OFFICE1"; }
    int RunDialog(QDialog& dialog) override
    {
        DialogsRun.push_back(dialog.windowTitle());
        return Answer ? Answer(dialog) : QDialog::Rejected;
    }
    bool ChooseColor(QWidget*, uint32_t& color, CustomColors& custom) override
    {
        ColorsSeen = custom;
        if (ColorOk)
            color = ColorAnswer;
        return ColorOk;
    }
    bool RealFontChooser = false; // the program's own chooser, answered by the test
    bool ChooseFont(QWidget* parent, const FontRecord& start, ChosenFont& chosen) override
    {
        if (RealFontChooser)
            return IOptionsHost::ChooseFont(parent, start, chosen);
        if (FontOk)
            chosen = FontAnswer;
        return FontOk;
    }
};

struct OptionsRig
{
    TestSettings settings;
    FakePrompt prompt;
    FakeOptionsHost host;
    OptionsContext Context() { return {settings.options, prompt, host}; }
    COptions& Options() { return settings.options; }
};

// Controls a screen reader cannot name (or names with the mnemonic "&"), as told through
// each widget's accessible interface; `checked` counts the controls looked at.
inline QStringList UnnamedControls(QWidget* root, int& checked)
{
    QStringList unnamed;
    checked = 0;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                       qobject_cast<QComboBox*>(widget) || qobject_cast<QTextEdit*>(widget) ||
                       qobject_cast<QPlainTextEdit*>(widget) ||
                       qobject_cast<QListWidget*>(widget) || qobject_cast<QTreeWidget*>(widget) ||
                       qobject_cast<QAbstractSpinBox*>(widget);
        // Parts of composite widgets (a spin box's edit, a combo box's, the tab bar's
        // scroll buttons) are named by their owner.
        if (!control || widget->parent()->inherits("QComboBox") ||
            widget->parent()->inherits("QAbstractSpinBox") || widget->parent()->inherits("QTabBar"))
            continue;
        ++checked;
        QString name = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        if (name.isEmpty() || name.contains(QLatin1Char('&')))
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') +
                           name;
    }
    return unnamed;
}
