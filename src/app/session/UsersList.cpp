#include "app/session/UsersList.h"

#include "common/NameCase.h"

#include <algorithm>

bool CUsersListModel::GetRecipients(std::vector<std::string>& recipients) const
{
    recipients.clear();
    if (AllUsersSelected())
        return true;
    if (m_selected.empty())
        return false;
    // In list order, as the list hands out its selected entries; names typed by hand
    // that are not listed follow in the order given.
    for (const std::string& user : m_users)
        if (IsSelected(user))
            recipients.push_back(user);
    for (const std::string& name : m_selected)
        if (std::find(m_users.begin(), m_users.end(), name) == m_users.end())
            recipients.push_back(name);
    return true;
}

void CUsersListModel::SetAllUsersAllowed(bool allowed)
{
    bool had = HasAllUsersEntry();
    bool wasSelected = AllUsersSelected();
    m_allowAll = allowed;
    if (had && !allowed) {
        m_allSelected = false;
        if (wasSelected && m_selected.empty() && !m_users.empty())
            m_selected.push_back(m_users.front());
    } else if (!had && HasAllUsersEntry() && m_selected.empty()) {
        m_allSelected = true;
    }
    Changed();
}

void CUsersListModel::OnConnected()
{
    m_connected = true;
    if (m_allowAll && m_selected.empty() && !m_allSelected)
        m_allSelected = true;
    Changed();
}

void CUsersListModel::OnDisconnected()
{
    m_connected = false;
    m_users.clear();
    m_selected.clear();
    m_allSelected = false;
    Changed();
}

void CUsersListModel::UserArrived(const std::string& name)
{
    Add(name);
    Changed();
}

void CUsersListModel::UserDeparted(const std::string& name)
{
    auto found = std::find(m_users.begin(), m_users.end(), name);
    if (found == m_users.end())
        return;
    m_users.erase(found);
    if (std::find(m_users.begin(), m_users.end(), name) == m_users.end())
        Unselect(name);
    if (m_selected.empty() && !AllUsersSelected())
        SelectDefault();
    Changed();
}

void CUsersListModel::UserRenamed(const std::string& oldName, const std::string& newName)
{
    auto found = std::find(m_users.begin(), m_users.end(), oldName);
    bool wasSelected = found != m_users.end() && IsSelected(oldName);
    if (found != m_users.end())
        m_users.erase(found);
    if (wasSelected)
        Unselect(oldName);
    Add(newName);
    if (wasSelected && !IsSelected(newName))
        m_selected.push_back(newName);
    Changed();
}

void CUsersListModel::SelectSenderOf(const ChatMessage& message, const std::string& ownName)
{
    if (message.AllUsers && HasAllUsersEntry()) {
        SelectDefault();
        return;
    }
    std::vector<std::string> names = message.Recipients;
    names.push_back(message.Sender);
    auto own = std::find(names.begin(), names.end(), ownName);
    if (own != names.end())
        names.erase(own);
    SelectUsers(names, true);
}

int CUsersListModel::SelectUsers(const std::vector<std::string>& names, bool replace, bool anyCase,
                                 bool keepUnknown)
{
    int selected = 0;
    for (const std::string& name : names) {
        std::string entry;
        for (const std::string& user : m_users)
            if (user == name || (anyCase && NamesEqualNoCase(user, name))) {
                entry = user;
                break;
            }
        if (entry.empty()) {
            if (!keepUnknown || name.empty())
                continue;
            entry = name;
        }
        if (selected == 0 && replace) {
            m_selected.clear();
            m_allSelected = false;
        }
        if (!IsSelected(entry))
            m_selected.push_back(entry);
        ++selected;
    }
    if (selected > 0)
        Changed();
    return selected;
}

void CUsersListModel::SelectDefault()
{
    m_selected.clear();
    m_allSelected = HasAllUsersEntry();
    Changed();
}

bool CUsersListModel::SelectAllUsers()
{
    if (!HasAllUsersEntry())
        return false;
    m_selected.clear();
    m_allSelected = true;
    Changed();
    return true;
}

void CUsersListModel::Add(const std::string& name)
{
    auto at = std::upper_bound(m_users.begin(), m_users.end(), name,
                               [](const std::string& a, const std::string& b) {
                                   return FoldNameCase(a) < FoldNameCase(b);
                               });
    m_users.insert(at, name);
}

bool CUsersListModel::IsSelected(const std::string& name) const
{
    return std::find(m_selected.begin(), m_selected.end(), name) != m_selected.end();
}

void CUsersListModel::Unselect(const std::string& name)
{
    std::erase(m_selected, name);
}

void CUsersListModel::SetSelection(bool allUsers, const std::vector<std::string>& names)
{
    m_allSelected = allUsers && HasAllUsersEntry();
    m_selected.clear();
    for (const std::string& name : names)
        if (!IsSelected(name))
            m_selected.push_back(name);
    Changed();
}

bool CUsersListModel::ReadsAllUsers() const
{
    if (!HasAllUsersEntry())
        return false;
    size_t listed = 0;
    if (!m_selected.empty())
        for (const std::string& user : m_users)
            if (IsSelected(user))
                ++listed;
    const size_t chosen = listed + (m_allSelected ? 1 : 0);
    const size_t entries = m_users.size() + 1;
    return chosen > 1 && (m_allSelected || chosen + 1 == entries);
}

bool CUsersListModel::Collapse()
{
    if (!ReadsAllUsers())
        return false;
    SelectAllUsers();
    return true;
}

void CUsersListModel::SelectDefaultRecipients(const std::string& stored)
{
    if (stored.empty())
        return;
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= stored.size()) {
        size_t end = stored.find('\n', start);
        if (end == std::string::npos)
            end = stored.size();
        if (end > start)
            names.push_back(stored.substr(start, end - start));
        start = end + 1;
    }
    m_selected.clear();
    m_allSelected = false;
    SelectUsers(names, true);
    Changed();
}

std::string CUsersListModel::DefaultRecipientsText() const
{
    std::vector<std::string> recipients;
    if (!GetRecipients(recipients))
        return {};
    std::string text;
    for (const std::string& name : recipients) {
        if (!text.empty())
            text += '\n';
        text += name;
    }
    return text;
}

bool CUsersListModel::DefaultToggleChecked(const std::string& stored) const
{
    const std::string current = DefaultRecipientsText();
    return !current.empty() && current == stored;
}

std::string CUsersListModel::ToggledDefault(const std::string& stored) const
{
    const std::string current = DefaultRecipientsText();
    return current == stored ? std::string() : current;
}

void CUsersListModel::LinkClicked(const ChatMessage& message, int kind, bool control)
{
    if (kind == 1) {
        SelectUsers({message.Sender}, !control);
    } else if (kind == 2) {
        if (message.AllUsers && HasAllUsersEntry())
            SelectDefault();
        else
            SelectUsers(message.Recipients, !control);
    }
}
