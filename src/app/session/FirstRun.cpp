#include "app/session/FirstRun.h"

#include "platform/Prompt.h"
#include "settings/Options.h"

void AskUserName(COptions& options, IPrompt& prompt)
{
    std::string name;
    if (options.GetUserName(name))
        return;
    prompt.InputBox(kUserNameTitle, kUserNamePrompt, name, kUserNameLimit, false);
    options.SetUserName(name);
}

bool AskNetworkingType(COptions& options, IPrompt& prompt)
{
    while (options.GetNetworkingType() == NetworkingType::NotChosen) {
        std::string answer;
        if (!prompt.InputBox("Zib Tam", kNetworkingQuestion, answer, 1000, false))
            return false;
        answer.erase(0, answer.find_first_not_of(" \t"));
        answer.erase(answer.find_last_not_of(" \t\r") + 1);
        if (answer == "2") {
            std::string server = options.Get(Opt::Server);
            if (!prompt.InputBox("Zib Tam", "Server name", server, 255, false) || server.empty())
                continue;
            options.Set(Opt::Server, server);
        }
        if (answer == "1" || answer == "2" || answer == "3")
            options.SetNetworkingType(static_cast<NetworkingType>(answer[0] - '0'));
    }
    return true;
}

bool AskFirstRunQuestions(COptions& options, IPrompt& prompt,
                          const std::function<bool()>& chooseNetworking)
{
    AskUserName(options, prompt);
    return options.GetNetworkingType() != NetworkingType::NotChosen || chooseNetworking();
}
