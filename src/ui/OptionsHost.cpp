#include "ui/OptionsHost.h"

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <strings.h>

bool CStandardOptionsHost::StartLogViewer()
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("/log")});
}

void CStandardOptionsHost::PlaySound(const std::string& path, bool repeat)
{
    if (Play)
        Play(path, repeat);
    else
        QApplication::beep();
}

void CStandardOptionsHost::StopSound()
{
    if (Stop)
        Stop();
}

void CStandardOptionsHost::RulesChanged()
{
    if (OnRulesChanged)
        OnRulesChanged();
}

std::vector<std::string> CStandardOptionsHost::KnownComputers()
{
    std::vector<std::string> names;
    if (HeardComputers)
        names = HeardComputers();
    std::ifstream file("/etc/hosts");
    std::stringstream text;
    text << file.rdbuf();
    for (std::string& name : NamesFromHostsFile(text.str())) {
        bool known = std::any_of(names.begin(), names.end(), [&](const std::string& other) {
            return strcasecmp(other.c_str(), name.c_str()) == 0;
        });
        if (!known)
            names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> NamesFromHostsFile(const std::string& text)
{
    std::vector<std::string> names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string address, name;
        if (!(words >> address))
            continue;
        bool loopback = address.rfind("127.", 0) == 0 || address == "::1";
        while (words >> name) {
            if (loopback || name.rfind("ip6-", 0) == 0 ||
                strcasecmp(name.c_str(), "localhost") == 0)
                continue;
            bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& other) {
                return strcasecmp(other.c_str(), name.c_str()) == 0;
            });
            if (!seen)
                names.push_back(name);
        }
    }
    return names;
}
