#include "app/UsersListWidget.h"

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

// The list shows the model: its entries (rebuilt only when they differ) and its selection.
void CUsersList::Mirror()
{
    if (m_mirroring)
        return;
    m_mirroring = true;
    std::vector<std::pair<QString, uint32_t>> wanted;
    if (m_model.HasAllUsersEntry())
        wanted.emplace_back(QString::fromLatin1(CUsersListModel::kAllUsersEntry), kAllUsersTag);
    for (const std::string& user : m_model.Users())
        wanted.emplace_back(FromCp1252(user), kUserTag);
    std::vector<std::pair<QString, uint32_t>> have;
    for (int i = 0; i < Count(); ++i)
        have.emplace_back(EntryText(i), EntryTag(i));
    auto byText = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::sort(wanted.begin(), wanted.end(), byText);
    std::sort(have.begin(), have.end(), byText);
    if (wanted != have) {
        const int caret = List()->currentRow();
        const QString caretText = EntryText(caret);
        List()->clear();
        for (const auto& [text, tag] : wanted)
            AddEntry(text, tag);
        const int again = FindEntry(caretText);
        if (again >= 0)
            List()->setCurrentRow(again, QItemSelectionModel::NoUpdate);
    }
    const std::vector<std::string>& selected = m_model.SelectedNames();
    for (int i = 0; i < Count(); ++i) {
        const bool on = EntryTag(i) == kAllUsersTag
                            ? m_model.AllUsersSelected()
                            : std::find(selected.begin(), selected.end(), ToCp1252(EntryText(i))) !=
                                  selected.end();
        if (IsSelected(i) != on)
            SetSelected(i, on);
    }
    m_mirroring = false;
    UpdateText();
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
