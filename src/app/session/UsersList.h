#pragma once
// The recipients of the next message and the users that are present, as the chat window's
// "&To:" list keeps them. The controller talks to it through IUsersList; CUsersListModel
// holds the same rules without a widget (the console, tests).
#include "common/ChatMessage.h"

#include <functional>
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

    // The user's own choice in the list: "(All Users)" among it or not, and the names.
    void SetSelection(bool allUsers, const std::vector<std::string>& names);
    // More than one entry chosen and either "(All Users)" among them or every entry but one:
    // the list reads "(All Users)"; Collapse makes it the only selected entry.
    bool ReadsAllUsers() const;
    bool Collapse();

    // "DefaultRecipients" (names joined by line feeds) made the selection.
    void SelectDefaultRecipients(const std::string& stored);
    // The selection as a "DefaultRecipients" value: empty for nothing or all users.
    std::string DefaultRecipientsText() const;
    // The context menu's "Select these users whenever I open Zib Tam": enabled, checked,
    // and what choosing it stores.
    bool DefaultToggleEnabled() const { return !DefaultRecipientsText().empty(); }
    bool DefaultToggleChecked(const std::string& stored) const;
    std::string ToggledDefault(const std::string& stored) const;

    // A click on a name link of the history: the sender (kind 1) or the recipients (kind 2)
    // replace the selection, or are added to it with Control held.
    void LinkClicked(const ChatMessage& message, int kind, bool control);

    // Called after every change of the entries or the selection.
    void SetChangedListener(std::function<void()> listener) { m_changed = std::move(listener); }

    bool HasAllUsersEntry() const { return m_allowAll && m_connected; }
    bool AllUsersSelected() const { return m_allSelected && HasAllUsersEntry(); }
    const std::vector<std::string>& Users() const { return m_users; } // in list order
    const std::vector<std::string>& SelectedNames() const { return m_selected; }
    bool IsConnected() const { return m_connected; }

private:
    void Add(const std::string& name);
    bool IsSelected(const std::string& name) const;
    void Unselect(const std::string& name);
    void Changed()
    {
        if (m_changed)
            m_changed();
    }

    bool m_allowAll = true;
    bool m_connected = false;
    std::vector<std::string> m_users; // sorted without regard to case, as the list shows them
    bool m_allSelected = false;
    std::vector<std::string> m_selected; // user names, in the order chosen
    std::function<void()> m_changed;
};
