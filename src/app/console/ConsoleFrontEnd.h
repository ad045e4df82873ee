#pragma once
// The terminal front end: the chat window's controller driven from standard input, every
// shown message printed as one line (further lines indented) on standard output and
// flushed at once. Message boxes are printed; questions are answered with y or n.
#include "app/console/ConsoleText.h"
#include "app/eventloop/QtChatTimers.h"
#include "app/session/ChatSession.h"
#include "platform/Prompt.h"

#include <QObject>
#include <cstdio>
#include <functional>
#include <string>

class COptions;
class IClock;
class IRandom;
class QSocketNotifier;

class CConsoleFrontEnd : public QObject, public IChatWindow, public IPrompt
{
public:
    // Lines longer than this are not sent: what arrives of them is dropped up to the next
    // line end.
    static constexpr size_t kMaxLineBytes = 16u << 20;
    // After the end of the input the program lingers this long, so what was just sent
    // can still go out and be confirmed.
    static constexpr int kLingerAfterInputMs = 2000;

    CConsoleFrontEnd(COptions& options, const IClock& clock, IRandom& random,
                     ITransportFactory& factory, int inputFd, std::FILE* output);
    ~CConsoleFrontEnd() override;

    // The questions of a first run (app/FirstRun.h), answered on the input. False when
    // the input ended before an answer.
    bool AskFirstRunQuestions();
    // Starts the controller; with `readInput`, lines of the input are sent as typed.
    void Start(bool readInput);
    void Stop();

    CChatSession& Session() { return *m_session; }
    CChatController& Controller() { return m_session->Controller(); }
    CUsersListModel& Users() { return m_session->Users(); }
    // Every batch of shown messages is also handed here.
    std::function<void(const std::vector<ChatMessage>&)> OnShown;
    // Nothing is printed but questions (for --send).
    void SetQuiet(bool quiet) { m_quiet = quiet; }

    // Handles one line of input as typed (terminal encoding, no line end).
    void HandleLine(const std::string& raw);
    // Prints a Windows-1252 text as terminal lines.
    void Print(const std::string& text);

    // IChatWindow
    void ShowWindow() override {}
    bool IsComposing() const override { return false; }
    bool IsDialogOpen() const override { return m_inPrompt; }
    void SetWaitCursor(bool) override {}
    void ShowConnectionState(bool connected) override;
    void ShowUpgradeLink(bool, const std::string&) override {}
    void AddToHistory(const std::vector<ChatMessage>& messages) override;
    // The reply goes to the last sender ("DefaultToLastSender"): say so when it changes.
    void Notify(const std::vector<ChatMessage>&, bool) override { ShowRecipientsIfChanged(); }
    bool ChooseSendLaterMoment(std::time_t& moment) override;
    // Lines typed during a wait are due as soon as the wait is over.
    void AddNextWake(CNextWake& wake) const override;

    // IPrompt
    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override;
    bool InputBox(const std::string& title, const std::string& prompt, std::string& text,
                  int maxLength, bool masked) override;

private:
    void OnTimer(int id);
    void OnInputReady();
    void EndOfInput();
    void HandleWaitingLines();
    void ShowRecipientsIfChanged();
    bool TakeLine(std::string& line);
    // Waits for a whole line of input (a question being answered); false at its end.
    bool ReadLineBlocking(std::string& line);
    bool FillBuffer();
    void PrintRaw(const std::string& terminalText);

    COptions& m_options;
    const IClock& m_clock;
    int m_inputFd;
    std::FILE* m_output;
    CTerminalCodec m_codec;
    CQtChatTimers m_timers;
    std::unique_ptr<CChatSession> m_session;
    QSocketNotifier* m_notifier = nullptr;
    std::string m_buffer;
    bool m_discarding = false;    // inside a line that was too long
    bool m_linesHeldBack = false; // input was left for the poll after a wait or a question
    bool m_inputEnded = false;
    bool m_inPrompt = false;
    bool m_quiet = false;
    bool m_outputGone = false;
    int m_shownState = -1; // connection state last printed
    std::time_t m_laterMoment = 0;
    std::string m_shownRecipients; // the "To:" line last printed
};

// `zibtam --console` and `zibtam --send ...`; argv[1] is the mode.
int RunConsoleMode(int argc, char** argv);
int RunSendMode(int argc, char** argv);
