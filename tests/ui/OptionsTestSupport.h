#pragma once
// A settings store, a scripted prompt and a host that records what the options asked of
// the program; modal dialogs are answered by a function the test sets.
#include "TestSupport.h"
#include "ui/OptionsHost.h"
#include "ui/OptionsSheet.h"

#include <QDialog>
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

    void StartLogViewer() override { ++LogViewerStarts; }
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
    bool ChooseFont(QWidget*, const FontRecord&, ChosenFont& chosen) override
    {
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
