#include "app/ChatApp.h"

#include "common/BuildDate.h"

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

CChatApp::CChatApp(ChatAppContext context) : m_context(std::move(context)) {}

CChatApp::~CChatApp() = default;

bool CChatApp::Initialise()
{
    COptions& options = m_context.Options;
    ProgramBuildDate();

    std::error_code ignored;
    fs::remove(options.GetStaleTempLogPath(), ignored);

    if (m_context.Shell.HandleSetupCommandLine(m_context.CommandLine))
        return false;

    m_mode = ModeFromCommandLine(m_context.CommandLine);
    m_guard = std::make_unique<CInstanceGuard>(Identity(), m_mode);
    if (!m_guard->Acquire()) {
        // The launcher's token goes along, so that the window may take the focus.
        m_guard->ShowRunningInstance(200, qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
        return false;
    }
    QObject::connect(m_guard.get(), &CInstanceGuard::showRequested,
                     [this](const QString& activationToken) {
                         // The Wayland platform hands it to the compositor with the window's
                         // next activation.
                         if (!activationToken.isEmpty())
                             qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
                         m_context.Shell.ShowRequested();
                     });
    // Setup closes the running copy before it replaces or removes the program.
    QObject::connect(m_guard.get(), &CInstanceGuard::closeRequested,
                     [] { QCoreApplication::exit(0); });

    m_context.Random.Seed(static_cast<uint32_t>(m_context.Clock.Now()));

    if (!m_context.RegistryProblem.empty())
        m_context.Prompt.MessageBox(m_context.RegistryProblem, "Zib Tam", PromptButtons::Ok,
                                    PromptIcon::Warning);

    // An old log moves to the current log path; if it cannot, it stays where it is.
    if (!m_context.OldLogPath.empty() && fs::exists(m_context.OldLogPath, ignored)) {
        fs::rename(m_context.OldLogPath, options.GetLogPath(), ignored);
    }

    if (m_mode == InstanceMode::LogViewer) {
        m_context.Shell.RunLogViewer();
        return false;
    }

    // A first run shows the window once at its end: a program that only went into the tray
    // looks to a new user as if it never started.
    const bool firstRun = options.GetNetworkingType() == NetworkingType::NotChosen;
    if (!AskFirstRunQuestions(options, m_context.Prompt,
                              [this] { return m_context.Shell.RunFirstRunOptions(); }))
        return false;

    m_context.Shell.InstallKeyboardWatcher();
    m_context.Shell.CreateChatWindow();
    if (firstRun)
        m_context.Shell.ShowRequested();
    return true;
}
