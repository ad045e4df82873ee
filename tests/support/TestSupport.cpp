#include "TestSupport.h"

#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int ModeOf(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

ScopedUmask::ScopedUmask(unsigned mask) : m_old(::umask(static_cast<mode_t>(mask))) {}

ScopedUmask::~ScopedUmask()
{
    ::umask(static_cast<mode_t>(m_old));
}

TempDir::TempDir()
{
    std::random_device seed;
    auto base = std::filesystem::temp_directory_path();
    do {
        m_path = base / ("zibtam-test-" + std::to_string(seed()));
    } while (!std::filesystem::create_directory(m_path));
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

PromptAnswer FakePrompt::MessageBox(const std::string& text, const std::string& caption,
                                    PromptButtons buttons, PromptIcon)
{
    Messages.push_back({text, caption});
    if (!Answers.empty()) {
        PromptAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    return buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoCancel
               ? PromptAnswer::Yes
               : PromptAnswer::Ok;
}

bool FakePrompt::InputBox(const std::string& title, const std::string& prompt, std::string& text,
                          int maxLength, bool)
{
    InputsAsked.push_back({prompt, title});
    InputLimits.push_back(maxLength);
    if (Inputs.empty())
        return true;
    auto [ok, typed] = Inputs.front();
    Inputs.pop_front();
    text = typed.substr(0, static_cast<size_t>(maxLength));
    return ok;
}

int RunAsOrdinaryUser(const std::function<int()>& body)
{
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
