#pragma once
// The recipients of the next message and the users that are present, as the chat window's
// "&To:" list keeps them. The controller talks to it through IUsersList; CUsersListModel
// holds the same rules without a widget (the console, tests).
#include "common/ChatMessage.h"

#include <string>
#include <vector>

class IUsersList
{
public:
    virtual ~IUsersList() = default;
    // False when nothing is selected; an empty list means all users.
    virtual bool GetRecipients(std::vector<std::string>& recipients) const = 0;
    virtual void SetAllUsersAllowed(bool allowed) = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
    virtual void UserArrived(const std::string& name) = 0;
    virtual void UserDeparted(const std::string& name) = 0;
    virtual void UserRenamed(const std::string& oldName, const std::string& newName) = 0;
    // After messages arrive: reply to the last sender (and the other recipients).
    virtual void SelectSenderOf(const ChatMessage& message, const std::string& ownName) = 0;
};

class CUsersListModel : public IUsersList
{
public:
    static constexpr const char* kAllUsersEntry = "(All Users)";

    bool GetRecipients(std::vector<std::string>& recipients) const override;
    void SetAllUsersAllowed(bool allowed) override;
    void OnConnected() override;
    void OnDisconnected() override;
    void UserArrived(const std::string& name) override;
    void UserDeparted(const std::string& name) override;
    void UserRenamed(const std::string& oldName, const std::string& newName) override;
    void SelectSenderOf(const ChatMessage& message, const std::string& ownName) override;

    // Selects the names found in the list (exactly, or without regard to case when
    // `anyCase`); with `keepUnknown` names not in the list are selected as typed too.
    // Returns how many names were selected.
    int SelectUsers(const std::vector<std::string>& names, bool replace, bool anyCase = false,
                    bool keepUnknown = false);
    // "(All Users)" alone when it is allowed and listed, else nothing.
    void SelectDefault();
    bool SelectAllUsers();

    bool HasAllUsersEntry() const { return m_allowAll && m_connected; }
    bool AllUsersSelected() const { return m_allSelected && HasAllUsersEntry(); }
    const std::vector<std::string>& Users() const { return m_users; } // in list order
    const std::vector<std::string>& SelectedNames() const { return m_selected; }
    bool IsConnected() const { return m_connected; }

private:
    void Add(const std::string& name);
    bool IsSelected(const std::string& name) const;
    void Unselect(const std::string& name);

    bool m_allowAll = true;
    bool m_connected = false;
    std::vector<std::string> m_users; // sorted without regard to case, as the list shows them
    bool m_allSelected = false;
    std::vector<std::string> m_selected; // user names, in the order chosen
};
