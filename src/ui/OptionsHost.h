#pragma once
// What the options dialog and the rule editor need from the rest of the program: the log
// viewer, sounds, the auto-responder, the computers worth offering as a server, and the
// modal choosers. The chat window implements it; tests answer it.
#include "settings/OptionsPages.h"

#include <functional>
#include <string>
#include <vector>

class QDialog;
class QWidget;

// Runs a dialog modally and returns its result; tests drive the dialog instead.
using DialogRunner = std::function<int(QDialog&)>;
int RunModal(QDialog& dialog);

class IOptionsHost
{
public:
    virtual ~IOptionsHost() = default;
    // Starts the log viewer process, as its hot key does; false when it could not start.
    virtual bool StartLogViewer() = 0;
    // A notification's sound: the wave file, or the desktop's message sound when `path`
    // is empty; repeating until StopSound.
    virtual void PlaySound(const std::string& path, bool repeat) = 0;
    virtual void StopSound() = 0;
    // The rule editor stored new rules: the auto-responder reads them at its next message.
    virtual void RulesChanged() = 0;
    // Names to offer under "&Browse...": computers heard on the network and names the
    // resolver knows.
    virtual std::vector<std::string> KnownComputers() = 0;
    // This computer's name, as the other copies see it.
    virtual std::string ComputerName() = 0;
    virtual int RunDialog(QDialog& dialog) { return RunModal(dialog); }
    // The colour chooser, starting at `color`, with its custom colours (kept by the page).
    virtual bool ChooseColor(QWidget* parent, uint32_t& color, CustomColors& custom);
    // The font chooser, starting at `start`.
    virtual bool ChooseFont(QWidget* parent, const FontRecord& start, ChosenFont& chosen);
};

// The host used where no chat window exists yet (the first run) and as the base of the
// chat window's: the log viewer is this program started with "/log"; names come from
// /etc/hosts plus what the caller adds.
class CStandardOptionsHost : public IOptionsHost
{
public:
    explicit CStandardOptionsHost(std::string computerName) : m_computer(std::move(computerName)) {}
    bool StartLogViewer() override;
    void PlaySound(const std::string& path, bool repeat) override;
    void StopSound() override;
    void RulesChanged() override;
    std::vector<std::string> KnownComputers() override;
    std::string ComputerName() override { return m_computer; }

    // Set by a window that has a sound player; without one "&Test" only rings the bell.
    std::function<void(const std::string& path, bool repeat)> Play;
    std::function<void()> Stop;
    std::function<void()> OnRulesChanged;
    std::function<std::vector<std::string>()> HeardComputers;

private:
    std::string m_computer;
};

// Names from a hosts file's text: every host name and alias except the loopback ones,
// without duplicates (compared without regard to case), in file order.
std::vector<std::string> NamesFromHostsFile(const std::string& text);
