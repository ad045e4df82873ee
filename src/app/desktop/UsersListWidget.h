#pragma once
// CUsersList: the chat window's "&To:" control. A CMultiSelComboBox showing the users that
// are present and "(All Users)"; the rules are CUsersListModel's (the console uses the model
// alone), the widget mirrors it and hands the user's choices back.
//
//   CUsersList to(&options, parent);            // IUsersList for the controller
//   to.SetAccessibleName("To") is done; a buddy label "&To:" gives the mnemonic.
//   history.NameLinkClicked -> to.LinkClicked(message, kind, ctrlHeld); then focus the input
//   when the window is shown: to.SelectDefaultRecipients();
#include "app/session/UsersList.h"
#include "view/MultiSelComboBox.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class COptions;
class QListWidgetItem;
class QMenu;

class CUsersList : public CMultiSelComboBox, public IUsersList
{
    Q_OBJECT
public:
    static constexpr const char* kDefaultToggleText = "Select these users whenever I open Zib Tam";

    explicit CUsersList(COptions* options, QWidget* parent = nullptr);
    ~CUsersList() override;

    bool GetRecipients(std::vector<std::string>& recipients) const override;
    void SetAllUsersAllowed(bool allowed) override;
    void OnConnected() override;
    void OnDisconnected() override;
    void UserArrived(const std::string& name) override;
    void UserDeparted(const std::string& name) override;
    void UserRenamed(const std::string& oldName, const std::string& newName) override;
    void SelectSenderOf(const ChatMessage& message, const std::string& ownName) override;

    void SelectUsers(const std::vector<std::string>& names, bool replace);
    void SelectDefault();
    // "DefaultRecipients" from the settings, if any.
    void SelectDefaultRecipients();
    void ToggleDefaultRecipients();
    void LinkClicked(const ChatMessage& message, int kind, bool control);

    CUsersListModel& Model() { return m_model; }
    const CUsersListModel& Model() const { return m_model; }

    // The context menu as it would open now (the caller owns it).
    QMenu* CreateContextMenu();

    void UpdateText() override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Mirror();
    void MirrorEntries();
    void MirrorSelection();
    QListWidgetItem* AddItem(const QString& text, uint32_t tag);
    void TakeListSelection();

    CUsersListModel m_model;
    COptions* m_options;
    bool m_mirroring = false;
    // What a call from the network is changing in the model's users, until the list has
    // followed it: the name that goes and the name that comes.
    struct EntryChange
    {
        std::optional<std::string> Gone;
        std::optional<std::string> Come;
    };
    std::optional<EntryChange> m_change;
    // What the list shows: an entry for each of the model's users, the entry "(All Users)"
    // if shown, and the names last shown selected.
    std::unordered_multimap<std::string, QListWidgetItem*> m_userItems;
    QListWidgetItem* m_allUsersItem = nullptr;
    std::vector<std::string> m_shownSelected;
};
