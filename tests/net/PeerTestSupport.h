#pragma once
// Shared pieces of the transport tests: a sink that records what it is told.
#include "net/Transport.h"

#include <set>
#include <string>
#include <vector>

class RecordingSink : public CTransportSink
{
public:
    std::vector<std::string> Events; // "connected", "disconnected", "+name", "-name", "old>new"
    std::set<std::string> Users;

    bool Saw(const std::string& event) const
    {
        for (const std::string& e : Events)
            if (e == event)
                return true;
        return false;
    }

protected:
    void OnConnected() override { Events.push_back("connected"); }
    void OnDisconnected() override
    {
        Events.push_back("disconnected");
        Users.clear();
    }
    void OnUserArrived(const std::string& name) override
    {
        Events.push_back("+" + name);
        Users.insert(name);
    }
    void OnUserDeparted(const std::string& name) override
    {
        Events.push_back("-" + name);
        Users.erase(name);
    }
    void OnUserRenamed(const std::string& oldName, const std::string& newName) override
    {
        Events.push_back(oldName + ">" + newName);
        Users.erase(oldName);
        Users.insert(newName);
    }
};
