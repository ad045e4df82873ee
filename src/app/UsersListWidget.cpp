#include "app/UsersListWidget.h"

#include "platform/QtText.h"
#include "settings/Options.h"

#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <algorithm>
#include <iterator>

namespace {
constexpr uint32_t kAllUsersTag = 0;
constexpr uint32_t kUserTag = 1;
} // namespace

CUsersList::CUsersList(COptions* options, QWidget* parent)
    : CMultiSelComboBox(parent), m_options(options)
{
    setAccessibleName(QStringLiteral("To"));
    m_model.SetChangedListener([this] { Mirror(); });
    connect(this, &CMultiSelComboBox::SelectionChanged, this, &CUsersList::TakeListSelection);
    Mirror();
}

CUsersList::~CUsersList()
{
    m_model.SetChangedListener({});
}

bool CUsersList::GetRecipients(std::vector<std::string>& recipients) const
{
    return m_model.GetRecipients(recipients);
}

void CUsersList::SetAllUsersAllowed(bool allowed)
{
    m_model.SetAllUsersAllowed(allowed);
}

void CUsersList::OnConnected()
{
    m_model.OnConnected();
}

void CUsersList::OnDisconnected()
{
    m_model.OnDisconnected();
}

void CUsersList::UserArrived(const std::string& name)
{
    m_model.UserArrived(name);
}

void CUsersList::UserDeparted(const std::string& name)
{
    m_model.UserDeparted(name);
}

void CUsersList::UserRenamed(const std::string& oldName, const std::string& newName)
{
    m_model.UserRenamed(oldName, newName);
}

void CUsersList::SelectSenderOf(const ChatMessage& message, const std::string& ownName)
{
    m_model.SelectSenderOf(message, ownName);
}

void CUsersList::SelectUsers(const std::vector<std::string>& names, bool replace)
{
    m_model.SelectUsers(names, replace);
}

void CUsersList::SelectDefault()
{
    m_model.SelectDefault();
}

void CUsersList::SelectDefaultRecipients()
{
    if (m_options)
        m_model.SelectDefaultRecipients(m_options->Get(Opt::DefaultRecipients));
}

void CUsersList::ToggleDefaultRecipients()
{
    if (m_options && m_model.DefaultToggleEnabled())
        m_options->Set(Opt::DefaultRecipients,
                       m_model.ToggledDefault(m_options->Get(Opt::DefaultRecipients)));
}

void CUsersList::LinkClicked(const ChatMessage& message, int kind, bool control)
{
    m_model.LinkClicked(message, kind, control);
}

// The list shows the model. Only what changed is touched, so that one arrival among
// thousands of users costs one entry, not a new list (the list's caret and scroll position
// stay where they were, too).
void CUsersList::Mirror()
{
    if (m_mirroring)
        return;
    m_mirroring = true;
    MirrorEntries();
    MirrorSelection();
    m_mirroring = false;
    UpdateText();
}

QListWidgetItem* CUsersList::AddItem(const QString& text, uint32_t tag)
{
    return List()->item(AddEntry(text, tag));
}

void CUsersList::MirrorEntries()
{
    if (m_model.HasAllUsersEntry() != (m_allUsersItem != nullptr)) {
        if (m_allUsersItem)
            delete List()->takeItem(List()->row(m_allUsersItem));
        m_allUsersItem =
            m_allUsersItem
                ? nullptr
                : AddItem(QString::fromLatin1(CUsersListModel::kAllUsersEntry), kAllUsersTag);
    }
    const std::vector<std::string>& users = m_model.Users();
    if (users == m_shownUsers)
        return;
    if (users.empty()) {
        for (const auto& [name, item] : m_userItems)
            delete List()->takeItem(List()->row(item));
        m_userItems.clear();
        m_shownUsers.clear();
        return;
    }
    // Both lists are in the model's order: what changed lies between their longest common
    // start and their longest common end.
    const size_t shortest = std::min(users.size(), m_shownUsers.size());
    size_t front = 0;
    while (front < shortest && users[front] == m_shownUsers[front])
        ++front;
    size_t back = 0;
    while (back < shortest - front &&
           users[users.size() - 1 - back] == m_shownUsers[m_shownUsers.size() - 1 - back])
        ++back;
    const auto gone = m_shownUsers.begin() + static_cast<std::ptrdiff_t>(front);
    const auto goneEnd = m_shownUsers.end() - static_cast<std::ptrdiff_t>(back);
    for (auto name = gone; name != goneEnd; ++name) {
        auto found = m_userItems.find(*name);
        if (found == m_userItems.end())
            continue;
        delete List()->takeItem(List()->row(found->second));
        m_userItems.erase(found);
    }
    const auto come = users.begin() + static_cast<std::ptrdiff_t>(front);
    const auto comeEnd = users.end() - static_cast<std::ptrdiff_t>(back);
    for (auto name = come; name != comeEnd; ++name)
        m_userItems.emplace(*name, AddItem(FromCp1252(*name), kUserTag));
    m_shownUsers.erase(gone, goneEnd);
    m_shownUsers.insert(m_shownUsers.begin() + static_cast<std::ptrdiff_t>(front), come, comeEnd);
}

void CUsersList::MirrorSelection()
{
    if (m_allUsersItem && m_allUsersItem->isSelected() != m_model.AllUsersSelected())
        m_allUsersItem->setSelected(m_model.AllUsersSelected());
    // Entries outside the selection shown last and the model's are not selected already,
    // so only these two (short) lists are visited.
    const std::vector<std::string>& wanted = m_model.SelectedNames();
    auto show = [&](const std::string& name) {
        const bool on = std::find(wanted.begin(), wanted.end(), name) != wanted.end();
        auto [first, last] = m_userItems.equal_range(name);
        for (auto entry = first; entry != last; ++entry)
            if (entry->second->isSelected() != on)
                entry->second->setSelected(on);
    };
    for (const std::string& name : m_shownSelected)
        show(name);
    for (const std::string& name : wanted)
        show(name);
    m_shownSelected = wanted;
}

// The user changed the selection in the list.
void CUsersList::TakeListSelection()
{
    if (m_mirroring)
        return;
    bool all = false;
    std::vector<std::string> names;
    for (int index : SelectedIndexes()) {
        if (EntryTag(index) == kAllUsersTag)
            all = true;
        else
            names.push_back(ToCp1252(EntryText(index)));
    }
    m_model.SetSelection(all, names);
}

void CUsersList::UpdateText()
{
    if (m_model.ReadsAllUsers()) {
        // While the list is open only the text says so; closed, the selection follows.
        if (!IsListOpen())
            m_model.Collapse();
        SetDisplayedText(QString::fromLatin1(CUsersListModel::kAllUsersEntry));
        return;
    }
    CMultiSelComboBox::UpdateText();
}

QMenu* CUsersList::CreateContextMenu()
{
    auto* menu = new QMenu(this);
    QAction* toggle = menu->addAction(QString::fromLatin1(kDefaultToggleText), this,
                                      &CUsersList::ToggleDefaultRecipients);
    toggle->setCheckable(true);
    toggle->setEnabled(m_options && m_model.DefaultToggleEnabled());
    toggle->setChecked(m_options &&
                       m_model.DefaultToggleChecked(m_options->Get(Opt::DefaultRecipients)));
    return menu;
}

void CUsersList::contextMenuEvent(QContextMenuEvent* event)
{
    CloseList();
    QMenu* menu = CreateContextMenu();
    menu->exec(event->globalPos());
    delete menu;
}
