#include "app/console/ConsoleFrontEnd.h"

#include "app/eventloop/NetworkFactory.h"
#include "app/session/FirstRun.h"
#include "common/NameCase.h"
#include "net/DeliveryReport.h"
#include "platform/Clock.h"
#include "platform/Identity.h"
#include "platform/NextWake.h"
#include "platform/QuitOnSignal.h"
#include "platform/Random.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "settings/UserSettings.h"
#include "view/PrefixFormat.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <strings.h>
#include <unistd.h>

CConsoleFrontEnd::CConsoleFrontEnd(COptions& options, const IClock& clock, IRandom& random,
                                   ITransportFactory& factory, int inputFd, std::FILE* output)
    : m_options(options), m_clock(clock), m_inputFd(inputFd), m_output(output),
      m_codec(CTerminalCodec::ForCurrentLocale()), m_timers([this](int id) { OnTimer(id); }),
      m_session(std::make_unique<CChatSession>(
          ChatSessionContext{options, *this, clock, random, *this, m_timers, factory}))
{}

CConsoleFrontEnd::~CConsoleFrontEnd()
{
    Stop();
    m_session.reset();
}

bool CConsoleFrontEnd::AskFirstRunQuestions()
{
    // The console has no options page: the networking is asked as text.
    return ::AskFirstRunQuestions(m_options, *this,
                                  [this] { return AskNetworkingType(m_options, *this); });
}

void CConsoleFrontEnd::Start(bool readInput)
{
    if (readInput && !m_notifier) {
        m_notifier = new QSocketNotifier(m_inputFd, QSocketNotifier::Read, this);
        // Lines are read once the first start has connected or failed: what a script
        // types first then goes to the users who are already known.
        m_notifier->setEnabled(false);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnInputReady(); });
    }
    m_session->Start();
}

void CConsoleFrontEnd::Stop()
{
    m_quiet = true; // logging off says nothing
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_session)
        m_session->Stop();
}

void CConsoleFrontEnd::PrintRaw(const std::string& terminalText)
{
    if (m_outputGone)
        return;
    bool written =
        std::fwrite(terminalText.data(), 1, terminalText.size(), m_output) == terminalText.size();
    if (std::fflush(m_output) != 0 || !written) {
        // Nobody reads any more (the pipe's reader ended): log off and end.
        m_outputGone = true;
        if (QCoreApplication::instance())
            QCoreApplication::quit();
    }
}

void CConsoleFrontEnd::Print(const std::string& text)
{
    PrintRaw(m_codec.ToTerminal(text) + "\n");
}

void CConsoleFrontEnd::AddToHistory(const std::vector<ChatMessage>& messages)
{
    if (!m_quiet) {
        std::string format = m_options.Get(Opt::MessagePrefix);
        std::string lines;
        for (const ChatMessage& message : messages)
            lines += m_codec.ToTerminal(FormatConsoleMessage(message, format)) + "\n";
        PrintRaw(lines);
    }
    if (OnShown)
        OnShown(messages);
}

void CConsoleFrontEnd::ShowConnectionState(bool connected)
{
    if (m_notifier && !m_inputEnded && !m_inPrompt)
        m_notifier->setEnabled(true);
    if (m_shownState == static_cast<int>(connected))
        return;
    m_shownState = connected;
    if (m_quiet)
        return;
    if (connected)
        Print("Connected as " + Controller().OwnName() + ".");
    else
        Print("Zib Tam is not currently connected to the server.");
}

bool CConsoleFrontEnd::ChooseSendLaterMoment(std::time_t& moment)
{
    moment = m_laterMoment;
    return true;
}

void CConsoleFrontEnd::AddNextWake(CNextWake& wake) const
{
    if (m_linesHeldBack && !m_inPrompt && m_session && m_session->Controller().BusyCount() == 0)
        wake.Now();
}

void CConsoleFrontEnd::OnTimer(int id)
{
    if (!m_session)
        return;
    m_session->OnTimer(id);
    if (id == CChatController::kPollTimer)
        HandleWaitingLines();
}

PromptAnswer CConsoleFrontEnd::MessageBox(const std::string& text, const std::string&,
                                          PromptButtons buttons, PromptIcon)
{
    Print(IndentContinuation(text));
    if (buttons == PromptButtons::Ok)
        return PromptAnswer::Ok;
    m_inPrompt = true;
    PrintRaw(buttons == PromptButtons::OkCancel ? "(y = OK, n = Cancel) " : "(y/n) ");
    std::string line;
    bool answered = ReadLineBlocking(line);
    m_inPrompt = false;
    m_linesHeldBack = true; // the answer's read may have taken in the lines after it
    std::string answer = answered ? m_codec.FromTerminal(line) : std::string();
    answer.erase(0, answer.find_first_not_of(" \t"));
    bool yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    bool no = !answer.empty() && (answer[0] == 'n' || answer[0] == 'N');
    switch (buttons) {
    case PromptButtons::OkCancel:
        return yes ? PromptAnswer::Ok : PromptAnswer::Cancel;
    case PromptButtons::YesNo:
        return yes ? PromptAnswer::Yes : PromptAnswer::No;
    default:
        return yes ? PromptAnswer::Yes : no ? PromptAnswer::No : PromptAnswer::Cancel;
    }
}

bool CConsoleFrontEnd::InputBox(const std::string&, const std::string& prompt, std::string& text,
                                int maxLength, bool)
{
    m_inPrompt = true;
    std::string shown = prompt + (text.empty() ? ": " : " [" + text + "]: ");
    PrintRaw(m_codec.ToTerminal(shown));
    std::string line;
    bool answered = ReadLineBlocking(line);
    m_inPrompt = false;
    m_linesHeldBack = true; // the answer's read may have taken in the lines after it
    if (!answered)
        return false;
    std::string typed = m_codec.FromTerminal(line);
    if (!typed.empty())
        text = typed.substr(0, static_cast<size_t>(std::max(maxLength, 0)));
    return true;
}

bool CConsoleFrontEnd::FillBuffer()
{
    char chunk[65536];
    for (;;) {
        ssize_t got = ::read(m_inputFd, chunk, sizeof chunk);
        if (got > 0) {
            m_buffer.append(chunk, static_cast<size_t>(got));
            return true;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return false; // the end, or an input that cannot be read
    }
}

bool CConsoleFrontEnd::TakeLine(std::string& line)
{
    for (;;) {
        size_t end = m_buffer.find('\n');
        if (end == std::string::npos) {
            if (m_buffer.size() > kMaxLineBytes) {
                if (!m_discarding)
                    Print("That line is longer than 16 MB; it was not sent.");
                m_discarding = true;
                m_buffer.clear();
            }
            return false;
        }
        line.assign(m_buffer, 0, end);
        m_buffer.erase(0, end + 1);
        if (m_discarding) {
            m_discarding = false;
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    }
}

bool CConsoleFrontEnd::ReadLineBlocking(std::string& line)
{
    while (!TakeLine(line)) {
        if (m_inputEnded || !FillBuffer()) {
            m_inputEnded = true;
            if (m_buffer.empty() || m_discarding)
                return false;
            line.swap(m_buffer);
            m_buffer.clear();
            return true;
        }
    }
    return true;
}

void CConsoleFrontEnd::OnInputReady()
{
    if (m_inPrompt)
        return;
    if (!FillBuffer()) {
        EndOfInput();
        return;
    }
    HandleWaitingLines();
}

void CConsoleFrontEnd::ShowRecipientsIfChanged()
{
    std::vector<std::string> to;
    if (!Users().GetRecipients(to))
        return;
    std::string line = "To: " + FormatRecipients(to.empty(), to) + ".";
    if (line == m_shownRecipients)
        return;
    m_shownRecipients = line;
    if (!m_quiet)
        Print(line);
}

void CConsoleFrontEnd::HandleWaitingLines()
{
    // While a network operation waits in a nested loop the window takes no input either;
    // lines typed meanwhile are handled at the next poll after it.
    std::string line;
    for (;;) {
        m_linesHeldBack = m_inPrompt || Controller().BusyCount() != 0;
        if (m_linesHeldBack || !TakeLine(line))
            return;
        HandleLine(line);
    }
}

void CConsoleFrontEnd::EndOfInput()
{
    m_inputEnded = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    // A last line without its line end still counts.
    if (m_discarding)
        m_buffer.clear();
    else if (!m_buffer.empty() && m_buffer.back() != '\n')
        m_buffer += '\n';
    HandleWaitingLines();
    QTimer::singleShot(kLingerAfterInputMs, qApp, [] { QCoreApplication::quit(); });
}

void CConsoleFrontEnd::HandleLine(const std::string& raw)
{
    ConsoleCommand command = ParseConsoleLine(m_codec.FromTerminal(raw));
    switch (command.Kind) {
    case ConsoleCommandKind::Text:
        Controller().SendTyped(command.Text, false);
        break;
    case ConsoleCommandKind::To: {
        if (command.AllUsers) {
            if (!Users().SelectAllUsers()) {
                Print(Users().IsConnected()
                          ? "Messages to all users are turned off (\"AllowAllUsers\")."
                          : "Zib Tam is not currently connected to the server.");
                break;
            }
        } else {
            Users().SelectUsers(command.Names, true, true, true);
        }
        m_shownRecipients.clear();
        ShowRecipientsIfChanged();
        break;
    }
    case ConsoleCommandKind::Later: {
        m_laterMoment = m_clock.Now() + static_cast<std::time_t>(command.Minutes) * 60;
        std::string text = command.Text;
        if (Controller().SendTyped(text, true))
            Print("The message will be sent at " + FormatClockTime(m_laterMoment) + ".");
        else if (CChatController::TrimTypedText(command.Text).empty())
            MessageBox(kSendLaterEmptyText, "", PromptButtons::Ok, PromptIcon::Warning);
        break;
    }
    case ConsoleCommandKind::Refresh:
        Controller().Refresh();
        break;
    case ConsoleCommandKind::Who: {
        std::string list;
        for (const std::string& user : Users().Users())
            list += (list.empty() ? "" : ", ") + user;
        Print(list.empty() ? "Nobody is present." : "Present: " + list + ".");
        break;
    }
    case ConsoleCommandKind::Quit:
        QCoreApplication::quit();
        break;
    case ConsoleCommandKind::Help:
        Print(IndentContinuation(kConsoleHelp));
        break;
    case ConsoleCommandKind::Bad:
        Print(command.Error);
        break;
    }
}

namespace {

std::string OneLine(const std::string& text)
{
    // Paragraph breaks become one blank, line breaks one blank, trailing ones nothing.
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            line += text[i];
            continue;
        }
        while (i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        if (i + 1 < text.size())
            line += ' ';
    }
    return line;
}

// What every terminal mode sets up: locale, event loop, settings, clock, network.
struct TerminalRun
{
    TerminalRun(int& argc, char** argv)
        : app(argc, argv), settings(system, argc > 0 ? argv[0] : "zibtam"),
          options(settings.Options()), random(static_cast<uint32_t>(std::time(nullptr))),
          factory(options, CSystemClock::Instance(), system.ComputerName())
    {
        QuitOnTerminationSignals();
        if (!settings.IsUsable())
            std::fprintf(stderr,
                         "zibtam: cannot use the settings file %s (%s); running with "
                         "default settings.\n",
                         settings.Registry().Path().c_str(),
                         settings.Registry().ErrorText().c_str());
    }

    QCoreApplication app;
    CSystemInfo system;
    CUserSettings settings;
    COptions& options;
    CRandom random;
    CNetworkFactory factory;
};

// Runs the event loop until `done` says so or `ms` have passed. Each round sleeps until
// an event comes (a socket, a timer, the deadline), so a wait costs no processor time.
bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(ms);
    while (!done()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Peer-to-peer users answer the roll call of the log-on at their next poll; a present user
// is normally listed within a fraction of a second. The wait only runs out for somebody
// who is absent, and is as long as a delivery is given before it is reported unconfirmed.
constexpr int kPeerArrivalWaitMs = static_cast<int>(CChatController::kUsersHeardMs);
// Long enough for a delivery report, which comes 3 to 4 seconds after the send.
constexpr int kDeliveryWaitMs = 6000;

} // namespace

int RunConsoleMode(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // A reader that went away shows as a failed write, handled there.
    std::signal(SIGPIPE, SIG_IGN);
    TerminalRun run(argc, argv);
    CConsoleFrontEnd console(run.options, CSystemClock::Instance(), run.random, run.factory,
                             STDIN_FILENO, stdout);
    if (!console.AskFirstRunQuestions()) {
        std::fprintf(stderr, "zibtam: the input ended before the networking was chosen.\n");
        return 1;
    }
    console.Start(true);
    int status = QCoreApplication::exec();
    console.Stop();
    return status;
}

int RunSendMode(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    std::string to;
    std::string typed;
    bool haveTo = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--to" && i + 1 < argc) {
            to = argv[++i];
            haveTo = true;
        } else {
            typed += (typed.empty() ? "" : " ") + arg;
        }
    }
    if (!haveTo || typed.empty()) {
        std::fprintf(stderr, "zibtam: usage: zibtam --send --to NAME[,NAME] TEXT\n");
        return 2;
    }

    TerminalRun run(argc, argv);
    if (run.options.GetNetworkingType() == NetworkingType::NotChosen) {
        std::fprintf(stderr, "zibtam: the networking is not chosen yet; run zibtam --console "
                             "once, or zibtam --config set NetworkingType 1\n");
        return 1;
    }
    CConsoleFrontEnd console(run.options, CSystemClock::Instance(), run.random, run.factory,
                             STDIN_FILENO, stdout);
    console.SetQuiet(true);
    CTerminalCodec codec = CTerminalCodec::ForCurrentLocale();
    auto fail = [&](const std::string& why) {
        console.Stop();
        std::fprintf(stderr, "zibtam: %s\n", codec.ToTerminal(OneLine(why)).c_str());
        return 1;
    };

    std::string text = CChatController::TrimTypedText(codec.FromTerminal(typed));
    ConsoleCommand names = ParseConsoleLine("/to " + codec.FromTerminal(to));
    if (names.Kind == ConsoleCommandKind::Bad)
        return fail(names.Error);
    std::vector<std::string> recipients = names.Names;

    // One log-on, no retries: its failure is the answer.
    CChatController& controller = console.Controller();
    console.Start(false);
    WaitUntil([&] { return controller.IsConnected() || controller.LogOnAttempts() > 0; },
              CNetworkFactory::kWaitLimitMs);
    if (!controller.IsConnected())
        return fail(controller.LogOnError().empty() ? "Zib Tam could not log on."
                                                    : controller.LogOnError());

    std::string own = controller.OwnName();
    bool toSelf = recipients.size() == 1 && NamesEqualNoCase(recipients[0], own);
    // A message to somebody who is not present would go unconfirmed without a report.
    auto absent = [&]() -> const std::string* {
        for (const std::string& name : recipients) {
            if (NamesEqualNoCase(name, own))
                continue;
            const std::vector<std::string>& users = console.Users().Users();
            if (std::none_of(users.begin(), users.end(),
                             [&](const std::string& user) { return NamesEqualNoCase(user, name); }))
                return &name;
        }
        return nullptr;
    };
    if (!toSelf && !controller.KnowsUsersAtLogOn())
        WaitUntil([&] { return absent() == nullptr; }, kPeerArrivalWaitMs);
    if (const std::string* name = toSelf ? nullptr : absent())
        return fail(*name + " is not logged on to Zib Tam.");
    // Present users under the letter case they are listed with.
    for (std::string& name : recipients)
        for (const std::string& user : console.Users().Users())
            if (NamesEqualNoCase(user, name))
                name = user;

    std::string error;
    if (!controller.Send(text, {.Recipients = recipients, .SkipAllUsersPrompt = true}, &error))
        return fail(error.empty() ? "The message could not be sent." : error);
    if (toSelf) {
        console.Stop();
        return 0;
    }

    // A timely confirmation makes no report; a missing one is reported after 3 seconds.
    auto settled = [&] {
        DeliveryStatus status = controller.Deliveries();
        return status.Awaited == 0 || status.Unconfirmed > 0 || !controller.IsConnected();
    };
    WaitUntil(settled, kDeliveryWaitMs);
    DeliveryStatus status = controller.Deliveries();
    if (status.Unconfirmed > 0)
        return fail(status.LastReport);
    if (!controller.IsConnected())
        return fail("The connection was lost before the message was confirmed.");
    if (status.Awaited > 0)
        return fail("The message was not confirmed in time.");
    console.Stop();
    return 0;
}
