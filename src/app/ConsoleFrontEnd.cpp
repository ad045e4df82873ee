#include "app/ConsoleFrontEnd.h"

#include "app/Identity.h"
#include "app/MessageLogFile.h"
#include "app/NetworkFactory.h"
#include "common/NameCase.h"
#include "net/DeliveryReport.h"
#include "net/PeerTransport.h"
#include "net/TcpIpClient.h"
#include "platform/Clock.h"
#include "platform/QuitOnSignal.h"
#include "platform/Random.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "view/PrefixFormat.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <strings.h>
#include <unistd.h>

CConsoleFrontEnd::CConsoleFrontEnd(COptions& options, const IClock& clock, IRandom& random,
                                   ITransportFactory& factory, int inputFd, std::FILE* output)
    : m_options(options), m_clock(clock), m_inputFd(inputFd), m_output(output),
      m_codec(CTerminalCodec::ForCurrentLocale()),
      m_log(std::make_unique<CMessageLogFile>(options)), m_turing(options, clock, random),
      m_later(options, clock)
{
    m_controller = std::make_unique<CChatController>(ChatControllerContext{
        options, *this, clock, *this, m_users, *this, *m_log, m_turing, m_later, factory});
}

CConsoleFrontEnd::~CConsoleFrontEnd()
{
    Stop();
    m_controller.reset();
}

bool CConsoleFrontEnd::AskFirstRunQuestions()
{
    std::string name;
    if (!m_options.GetUserName(name)) {
        // The same question as the chat window's first run; an empty answer keeps the
        // login name.
        std::string typed = name;
        InputBox("Zib Tam User Name", "Please enter your name", typed, 25, false);
        m_options.SetUserName(typed.empty() ? name : typed);
    }
    while (m_options.GetNetworkingType() == 0) {
        Print("How shall Zib Tam reach the other users?\n"
              "1  peer-to-peer: no server, the computers of this network talk directly\n"
              "2  client/server: connect to a Zib Tam server\n"
              "3  client/server, with this computer as the server");
        PrintRaw("Type 1, 2 or 3: ");
        std::string line;
        if (!ReadLineBlocking(line))
            return false;
        std::string answer = m_codec.FromTerminal(line);
        answer.erase(0, answer.find_first_not_of(" \t"));
        answer.erase(answer.find_last_not_of(" \t\r") + 1);
        if (answer == "2") {
            std::string server = m_options.Get(Opt::Server);
            if (!InputBox("Zib Tam", "Server name", server, 255, false) || server.empty())
                continue;
            m_options.Set(Opt::Server, server);
        }
        if (answer == "1" || answer == "2" || answer == "3")
            m_options.Set(Opt::NetworkingType, answer[0] - '0');
    }
    return true;
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
    m_controller->Initialise();
}

void CConsoleFrontEnd::Stop()
{
    m_quiet = true; // logging off says nothing
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_controller)
        m_controller->Shutdown();
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
        Print("Connected as " + m_controller->Network().Transport().GetUserNameOrDefault() + ".");
    else
        Print("Zib Tam is not currently connected to the server.");
}

bool CConsoleFrontEnd::ChooseSendLaterMoment(std::time_t& moment)
{
    moment = m_laterMoment;
    return true;
}

void CConsoleFrontEnd::StartTimer(int id, uint32_t periodMs)
{
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, id] {
            if (!m_controller)
                return;
            m_controller->OnTimer(id);
            if (id == CChatController::kPollTimer)
                HandleWaitingLines();
        });
    }
    timer->start(static_cast<int>(periodMs));
}

void CConsoleFrontEnd::StopTimer(int id)
{
    auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
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
    if (!m_users.GetRecipients(to))
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
    while (!m_inPrompt && m_controller->BusyCount() == 0 && TakeLine(line))
        HandleLine(line);
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
        m_controller->SendTyped(command.Text, false);
        break;
    case ConsoleCommandKind::To: {
        if (command.AllUsers) {
            if (!m_users.SelectAllUsers()) {
                Print(m_users.IsConnected()
                          ? "Messages to all users are turned off (\"AllowAllUsers\")."
                          : "Zib Tam is not currently connected to the server.");
                break;
            }
        } else {
            m_users.SelectUsers(command.Names, true, true, true);
        }
        m_shownRecipients.clear();
        ShowRecipientsIfChanged();
        break;
    }
    case ConsoleCommandKind::Later: {
        m_laterMoment = m_clock.Now() + static_cast<std::time_t>(command.Minutes) * 60;
        std::string text = command.Text;
        if (m_controller->SendTyped(text, true))
            Print("The message will be sent at " + FormatClockTime(m_laterMoment) + ".");
        else if (CChatController::TrimTypedText(command.Text).empty())
            MessageBox(kSendLaterEmptyText, "", PromptButtons::Ok, PromptIcon::Warning);
        break;
    }
    case ConsoleCommandKind::Refresh:
        m_controller->Refresh();
        break;
    case ConsoleCommandKind::Who: {
        std::string list;
        for (const std::string& user : m_users.Users())
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

std::string RegistryPath(const ISystemInfo& system)
{
    return (std::filesystem::path(system.ConfigHome()) / "zibtam" / "registry.sqlite3").string();
}

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
        : app(argc, argv), secondary(IsSecondaryExecutable(argc > 0 ? argv[0] : "zibtam")),
          registry(RegistryPath(system)), options(registry, system, secondary),
          random(static_cast<uint32_t>(std::time(nullptr))),
          factory(options, CSystemClock::Instance(), system.ComputerName())
    {
        QuitOnTerminationSignals();
        if (registry.GetState() != CSqliteRegistry::State::Ok)
            std::fprintf(stderr,
                         "zibtam: cannot use the settings file %s (%s); running with "
                         "default settings.\n",
                         registry.Path().c_str(), registry.ErrorText().c_str());
    }

    QCoreApplication app;
    CSystemInfo system;
    bool secondary;
    CSqliteRegistry registry;
    COptions options;
    CRandom random;
    CNetworkFactory factory;
};

// Runs the event loop until `done` says so or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(ms);
    while (!done()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

std::string ReportPrefix(bool confirmed)
{
    std::string report = FormatDeliveryReport(confirmed, "\x01");
    return report.substr(0, report.find('\x01'));
}

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
    if (run.options.GetNetworkingType() == 0) {
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
    std::vector<std::string> recipients;
    ConsoleCommand names = ParseConsoleLine("/to " + codec.FromTerminal(to));
    if (names.Kind == ConsoleCommandKind::Bad)
        return fail(names.Error);
    recipients = names.Names;

    std::string lastNotice;
    std::string notConfirmed;
    const std::string notConfirmedPrefix = ReportPrefix(false);
    console.OnShown = [&](const std::vector<ChatMessage>& messages) {
        for (const ChatMessage& m : messages) {
            if (m.Sender != CTransport::kSystemSender)
                continue;
            lastNotice = m.Text;
            if (m.Text.rfind(notConfirmedPrefix, 0) == 0 && notConfirmed.empty())
                notConfirmed = m.Text;
        }
    };

    CChatController& controller = console.Controller();
    console.Start(false);
    if (!RunUntil([&] { return controller.Network().IsConnected(); }, 20000))
        return fail(lastNotice.empty() ? "Zib Tam could not log on." : lastNotice);

    std::string own = controller.Network().Transport().GetUserNameOrDefault();
    bool toSelf = recipients.size() == 1 && NamesEqualNoCase(recipients[0], own);
    // Wait until the recipients are known to be present: a message to somebody who is
    // not would go unconfirmed without a report.
    auto present = [&] {
        for (const std::string& name : recipients) {
            if (NamesEqualNoCase(name, own))
                continue;
            bool found = false;
            for (const std::string& user : console.Users().Users())
                found = found || NamesEqualNoCase(user, name);
            if (!found)
                return false;
        }
        return true;
    };
    if (!toSelf && !RunUntil(present, 5000)) {
        for (const std::string& name : recipients) {
            bool found = NamesEqualNoCase(name, own);
            for (const std::string& user : console.Users().Users())
                found = found || NamesEqualNoCase(user, name);
            if (!found)
                return fail(name + " is not logged on to Zib Tam.");
        }
    }
    // Present users under the letter case they are listed with.
    for (std::string& name : recipients)
        for (const std::string& user : console.Users().Users())
            if (NamesEqualNoCase(user, name))
                name = user;

    std::string error;
    if (!controller.Send(text, &recipients, false, true, &error))
        return fail(error.empty() ? lastNotice : error);
    if (toSelf) {
        console.Stop();
        return 0;
    }

    // A timely confirmation makes no report; a missing one reports after 3 seconds.
    auto settled = [&] {
        if (!notConfirmed.empty())
            return true;
        CTransport* transport = &controller.Network().Transport();
        if (auto* peer = dynamic_cast<CPeerTransport*>(transport))
            return peer->Deliveries().empty();
        if (auto* client = dynamic_cast<CTcpIpClient*>(transport))
            return client->PendingReceipts().empty();
        return false;
    };
    RunUntil(settled, 6000);
    if (!notConfirmed.empty())
        return fail(notConfirmed);
    if (!controller.Network().IsConnected())
        return fail("The connection was lost before the message was confirmed.");
    console.Stop();
    return 0;
}
