#include "app/desktop/UsersListWidget.h"

#include "platform/QtText.h"
#include "settings/Options.h"

#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <algorithm>

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
    m_change = EntryChange{std::nullopt, name};
    m_model.UserArrived(name);
    m_change.reset();
}

void CUsersList::UserDeparted(const std::string& name)
{
    m_change = EntryChange{name, std::nullopt};
    m_model.UserDeparted(name);
    m_change.reset();
}

void CUsersList::UserRenamed(const std::string& oldName, const std::string& newName)
{
    m_change = EntryChange{oldName, newName};
    m_model.UserRenamed(oldName, newName);
    m_change.reset();
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
    // The users change only through the three calls from the network, which say what they
    // change, and through a disconnection, which empties the list.
    if (m_change) {
        const EntryChange change = *m_change;
        m_change.reset();
        if (change.Gone) {
            auto found = m_userItems.find(*change.Gone);
            if (found != m_userItems.end()) {
                delete List()->takeItem(List()->row(found->second));
                m_userItems.erase(found);
            }
        }
        if (change.Come)
            m_userItems.emplace(*change.Come, AddItem(FromCp1252(*change.Come), kUserTag));
    }
    const std::vector<std::string>& users = m_model.Users();
    if (users.size() == m_userItems.size())
        return;
    // Anything else: the entries are made to match the model's users, name by name.
    std::unordered_map<std::string, int> wanted;
    for (const std::string& user : users)
        ++wanted[user];
    for (auto entry = m_userItems.begin(); entry != m_userItems.end();) {
        auto left = wanted.find(entry->first);
        if (left != wanted.end() && left->second > 0) {
            --left->second;
            ++entry;
            continue;
        }
        delete List()->takeItem(List()->row(entry->second));
        entry = m_userItems.erase(entry);
    }
    for (const auto& [name, missing] : wanted)
        for (int i = 0; i < missing; ++i)
            m_userItems.emplace(name, AddItem(FromCp1252(name), kUserTag));
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
