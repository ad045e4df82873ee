#include "ui/OptionsSheet.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "settings/Options.h"
#include "ui/Accessible.h"
#include "ui/LinkStatic.h"
#include "ui/TextPromptDialog.h"
#include "ui/TuringDlg.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"
#include "view/FontSpec.h"
#include "view/PrefixChoices.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr char kMessageCaption[] = "Zib Tam";
constexpr int kTuringLinkId = 1061;

QCheckBox* CheckBox(const char* text, QWidget* parent)
{
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    SetAccessibleLabel(box, box->text());
    return box;
}

// A caption that changes takes the name a screen reader says with it.
void SetButtonCaption(QPushButton* button, const QString& caption)
{
    button->setText(caption);
    SetAccessibleLabel(button, caption);
}

QPushButton* Button(const char* text, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    SetAccessibleLabel(button, button->text());
    button->setAutoDefault(false);
    return button;
}

QLabel* LabelFor(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    SetAccessibleLabel(buddy, label->text());
    return label;
}

void SetCheck(QCheckBox* box, int32_t value)
{
    box->setChecked(value != 0);
}

int32_t Checked(const QCheckBox* box)
{
    return box->isChecked() ? 1 : 0;
}

QColor ToQColor(uint32_t color)
{
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

uint32_t FromQColor(const QColor& color)
{
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

// A stored font over the widget's own font, for the font chooser to start at.
QFont ToQFont(const FontRecord& record, const QFont& base)
{
    QFont font = base;
    if ((record.Mask & FontRecord::kFace) && !record.FaceName.empty())
        font.setFamily(FromCp1252(record.FaceName));
    if ((record.Mask & FontRecord::kSize) && record.Height > 0)
        font.setPointSizeF(record.Height / 20.0);
    auto effect = [&](uint32_t bit) { return (record.Mask & bit) && (record.Effects & bit); };
    font.setBold(effect(FontRecord::kBold));
    font.setItalic(effect(FontRecord::kItalic));
    font.setUnderline(effect(FontRecord::kUnderline));
    font.setStrikeOut(effect(FontRecord::kStrikeOut));
    return font;
}

} // namespace

// ----- host defaults -----

bool IOptionsHost::ChooseColor(QWidget* parent, uint32_t& color, CustomColors& custom)
{
    for (int i = 0; i < 16; ++i)
        QColorDialog::setCustomColor(i, ToQColor(custom[static_cast<size_t>(i)]));
    QColor chosen = QColorDialog::getColor(ToQColor(color), parent);
    for (int i = 0; i < 16; ++i)
        custom[static_cast<size_t>(i)] = FromQColor(QColorDialog::customColor(i));
    if (!chosen.isValid())
        return false;
    color = FromQColor(chosen);
    return true;
}

bool IOptionsHost::ChooseFont(QWidget* parent, const FontRecord& start, ChosenFont& chosen)
{
    // Over the font the chat text is drawn in, so the chooser starts at the working font.
    QFontDialog dialog(parent);
    dialog.setCurrentFont(ToQFont(start, parent ? parent->font() : QApplication::font()));
    // As the chooser shows it (a face the system lacks shows as another): what OK at once
    // gives back.
    const QFont initial = dialog.currentFont();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QFont font = dialog.selectedFont();
    // Only what the user changed becomes valid; the rest stays as stored (a face or size
    // the record leaves to the control is not pinned to what the chooser showed). This
    // chooser knows no colour, offset or character set: those stay as they were.
    chosen.Font = start;
    chosen.Valid = start.Mask;
    bool changed = false;
    auto effect = [&](uint32_t bit, bool before, bool after) {
        if (before == after)
            return;
        changed = true;
        chosen.Valid |= bit;
        chosen.Font.Effects = after ? (chosen.Font.Effects | bit) : (chosen.Font.Effects & ~bit);
    };
    effect(FontRecord::kBold, initial.bold(), font.bold());
    effect(FontRecord::kItalic, initial.italic(), font.italic());
    effect(FontRecord::kUnderline, initial.underline(), font.underline());
    effect(FontRecord::kStrikeOut, initial.strikeOut(), font.strikeOut());
    if (font.pointSizeF() != initial.pointSizeF()) {
        changed = true;
        chosen.Valid |= FontRecord::kSize;
        chosen.Font.Height = static_cast<int32_t>(font.pointSizeF() * 20 + 0.5);
    }
    if (font.family() != initial.family()) {
        changed = true;
        chosen.Valid |= FontRecord::kFace;
        chosen.Font.FaceName = ToCp1252(font.family());
    }
    return changed;
}

// ----- General -----

CGeneralPage::CGeneralPage(const OptionsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_name(new QLineEdit(this)),
      m_promptAllUsers(CheckBox("&Prompt before sending a message to all users.", this)),
      m_selectSender(CheckBox("&Select the sender of the last received message.", this)),
      m_log(CheckBox("&Log (save) all messages.", this)), m_view(Button("&View...", this)),
      m_turing(new CLinkStatic(kTuringLinkId, QStringLiteral("<Turing Technology>"), this)),
      m_clearChat(CheckBox("&Clear the chat text every time I close Zib Tam.", this)),
      m_links(CheckBox("Show &hyperlinks for sender and recipient names in messages.", this)),
      m_protect(CheckBox("Pass&word-protect options:", this)), m_password(new QLineEdit(this)),
      m_selfChat(CheckBox("to &myself", this)), m_allUsers(CheckBox("to &all users", this))
{
    COptions& options = m_context.Options;
    m_name->setMaxLength(kNameEditLimit);
    m_name->setText(FromCp1252(options.GetUserName()));
    m_name->setCursorPosition(static_cast<int>(m_name->text().size()));
    // Tabs would split the name in the protocol's lists: they become blanks at once.
    connect(m_name, &QLineEdit::textChanged, m_name, [this] { ReplaceTabsKeepingCaret(m_name); });

    SetCheck(m_promptAllUsers, options.Get(Opt::PromptOnAllUsers));
    SetCheck(m_selectSender, options.Get(Opt::DefaultToLastSender));
    SetCheck(m_log, options.Get(Opt::LogMessages));
    SetCheck(m_clearChat, options.Get(Opt::ClearChatOnClose));
    SetCheck(m_links, options.Get(Opt::RecipientLinks));
    SetCheck(m_selfChat, options.Get(Opt::SelfChat));
    SetCheck(m_allUsers, options.Get(Opt::AllowAllUsers));
    std::string password = options.GetPassword();
    m_protect->setChecked(!password.empty());
    m_password->setText(FromCp1252(password));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(kPasswordLimit);
    SetAccessibleLabel(m_password, QStringLiteral("Password"));

    m_view->setEnabled(m_log->isChecked());
    connect(m_log, &QCheckBox::toggled, m_view, &QWidget::setEnabled);
    connect(m_view, &QPushButton::clicked, this, [this] {
        if (!m_context.Host.StartLogViewer())
            m_context.Prompt.MessageBox("Zib Tam could not open the log viewer.", kMessageCaption,
                                        PromptButtons::Ok, PromptIcon::Warning);
    });
    m_password->setEnabled(m_protect->isChecked());
    connect(m_protect, &QCheckBox::toggled, m_password, &QWidget::setEnabled);

    m_turing->SetColor(QColor(0x80, 0x00, 0x80)); // purple (lightened on a dark face)
    m_turing->setVisible(options.Get(Opt::Turing) != 0);
    connect(m_turing, &CLinkStatic::linkClicked, this, &CGeneralPage::OpenRuleEditor);

    auto* layout = new QVBoxLayout(this);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(LabelFor("&Your name:", m_name, this));
    nameRow->addWidget(m_name, 1);
    layout->addLayout(nameRow);
    layout->addSpacing(6);
    layout->addWidget(m_promptAllUsers);
    layout->addWidget(m_selectSender);
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(m_log);
    logRow->addWidget(m_view);
    logRow->addStretch(1);
    logRow->addWidget(m_turing);
    layout->addLayout(logRow);
    layout->addWidget(m_clearChat);
    layout->addWidget(m_links);
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_protect);
    passwordRow->addWidget(m_password, 1);
    layout->addLayout(passwordRow);
    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(new QLabel(QStringLiteral("Let me send messages"), this));
    sendRow->addWidget(m_selfChat);
    sendRow->addWidget(m_allUsers);
    sendRow->addStretch(1);
    layout->addLayout(sendRow);
    layout->addStretch(1);
}

void CGeneralPage::OpenRuleEditor()
{
    if (m_context.Options.Get(Opt::Turing) == 0)
        return;
    IOptionsHost& host = m_context.Host;
    CTuringDlg editor(
        m_context.Options, m_context.Prompt,
        [&host](QDialog& dialog) { return host.RunDialog(dialog); }, this);
    if (host.RunDialog(editor) == QDialog::Accepted)
        host.RulesChanged();
}

bool CGeneralPage::Check()
{
    PasswordChoice password =
        PasswordToStore(m_protect->isChecked(), m_password->text().toStdString());
    if (password.Ok)
        return true;
    m_context.Prompt.MessageBox(password.Message, kMessageCaption, PromptButtons::Ok,
                                PromptIcon::Warning);
    return false;
}

void CGeneralPage::Store()
{
    COptions& options = m_context.Options;
    options.SetUserName(ToCp1252(m_name->text()));
    options.Set(Opt::PromptOnAllUsers, Checked(m_promptAllUsers));
    options.Set(Opt::DefaultToLastSender, Checked(m_selectSender));
    options.Set(Opt::LogMessages, Checked(m_log));
    options.Set(Opt::ClearChatOnClose, Checked(m_clearChat));
    options.Set(Opt::RecipientLinks, Checked(m_links));
    // Check() has passed: an unchecked box or a password the settings keep as typed.
    options.SetPassword(
        PasswordToStore(m_protect->isChecked(), m_password->text().toStdString()).Password);
    options.Set(Opt::SelfChat, Checked(m_selfChat));
    options.Set(Opt::AllowAllUsers, Checked(m_allUsers));
}

// ----- Notifications -----

namespace {

void FillChoices(QComboBox* list, int behaviour)
{
    for (int row = 0; COptions::IsNotificationRow(row); ++row) {
        const NotificationChoice& choice = COptions::NotificationRow(row);
        list->addItem(QString::fromLatin1(choice.Text), choice.Behaviour);
        if (choice.Behaviour == behaviour)
            list->setCurrentIndex(row);
    }
}

int Behaviour(const QComboBox* list)
{
    return list->currentIndex() < 0 ? -1 : list->currentData().toInt();
}

} // namespace

CNotificationsPage::CNotificationsPage(const OptionsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_ordinary(new QComboBox(this)),
      m_override(CheckBox("When a &new message arrives from all users:", this)),
      m_allUsers(new QComboBox(this)),
      m_play(CheckBox("&Play a sound when a new message arrives.", this)),
      m_path(new QLineEdit(this)), m_test(Button("&Test", this)),
      m_repeat(CheckBox("&Repeat the sound until Zib Tam is opened.", this))
{
    COptions& options = m_context.Options;
    FillChoices(m_ordinary, options.GetNotification(false));
    // The all-users list shows its own stored choice, whatever the override says.
    int allUsers = 0;
    for (int row = 0; COptions::IsNotificationRow(row); ++row)
        if (COptions::NotificationRow(row).StoredValue == options.Get(Opt::OnNewMessageAllUsers))
            allUsers = COptions::NotificationRow(row).Behaviour;
    FillChoices(m_allUsers, allUsers);
    SetAccessibleLabel(m_allUsers, m_override->text());
    SetCheck(m_override, options.Get(Opt::OnNewMessageAllUsersOverride));
    SetCheck(m_play, options.Get(Opt::PlaySnd));
    SetCheck(m_repeat, options.Get(Opt::RepeatSound));
    m_path->setText(FromCp1252(options.Get(Opt::SoundPath)));
    m_test->setCheckable(true);

    connect(m_override, &QCheckBox::toggled, this, &CNotificationsPage::UpdateEnabling);
    connect(m_ordinary, &QComboBox::currentIndexChanged, this, &CNotificationsPage::UpdateEnabling);
    connect(m_test, &QPushButton::clicked, this, &CNotificationsPage::OnTest);
    UpdateEnabling();

    auto* layout = new QGridLayout(this);
    layout->addWidget(LabelFor("&When a new message arrives", m_ordinary, this), 0, 0);
    layout->addWidget(m_ordinary, 0, 1);
    layout->addWidget(m_override, 1, 0);
    layout->addWidget(m_allUsers, 1, 1);
    layout->setRowMinimumHeight(2, 10);
    layout->addWidget(m_play, 3, 0, 1, 3);
    auto* pathRow = new QHBoxLayout;
    pathRow->setContentsMargins(20, 0, 0, 0);
    pathRow->addWidget(LabelFor("Path (optional):", m_path, this));
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_test);
    layout->addLayout(pathRow, 4, 0, 1, 3);
    auto* repeatRow = new QHBoxLayout;
    repeatRow->setContentsMargins(20, 0, 0, 0);
    repeatRow->addWidget(m_repeat);
    layout->addLayout(repeatRow, 5, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(6, 1);
}

void CNotificationsPage::UpdateEnabling()
{
    m_allUsers->setEnabled(m_override->isChecked());
    m_repeat->setEnabled(RepeatSoundEnabled(Behaviour(m_ordinary)));
}

void CNotificationsPage::OnTest(bool pressed)
{
    if (!pressed) {
        StopTest();
        return;
    }
    std::string path = ToCp1252(m_path->text());
    SoundTest test = DecideSoundTest(path, QFileInfo(m_path->text()).isFile(),
                                     m_repeat->isEnabled(), m_repeat->isChecked());
    if (!test.StayPressed)
        m_test->setChecked(false);
    else
        SetButtonCaption(m_test, QStringLiteral("S&top..."));
    if (!test.Message.empty()) {
        m_test->setChecked(false);
        SetButtonCaption(m_test, QStringLiteral("&Test"));
        m_context.Prompt.MessageBox(test.Message, kMessageCaption, PromptButtons::Ok,
                                    PromptIcon::Warning);
        return;
    }
    m_context.Host.PlaySound(path, test.Repeat);
}

void CNotificationsPage::StopTest()
{
    m_context.Host.StopSound();
    m_test->setChecked(false);
    SetButtonCaption(m_test, QStringLiteral("&Test"));
}

void CNotificationsPage::Store()
{
    COptions& options = m_context.Options;
    int ordinary = Behaviour(m_ordinary);
    if (ordinary >= 0)
        options.SetNotification(ordinary);
    if (m_allUsers->currentIndex() >= 0)
        options.SetAllUsersNotification(m_override->isChecked(), Behaviour(m_allUsers));
    options.Set(Opt::PlaySnd, Checked(m_play));
    options.Set(Opt::RepeatSound, RepeatSoundToStore(ordinary, m_repeat->isChecked()));
    options.Set(Opt::SoundPath, ToCp1252(m_path->text()));
}

// ----- Format -----

CFormatPage::CFormatPage(const OptionsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_prefix(new QComboBox(this)),
      m_example(new CChatHistory(context.Prompt, this)),
      m_background(context.Options.GetChatTextBackground()),
      m_prefixFont(context.Options.GetFont(FontKey::Prefix)),
      m_messageFont(context.Options.GetFont(FontKey::General)),
      m_customColors(InitialCustomColors())
{
    PrefixChoices choices = BuildPrefixChoices(m_context.Options.Get(Opt::MessagePrefix));
    for (const PrefixEntry& entry : choices.Entries)
        m_prefix->addItem(FromCp1252(entry.Display), QVariant::fromValue(FromCp1252(entry.Format)));
    m_prefix->setCurrentIndex(choices.Selected);
    m_prefix->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    auto* background = Button("&Background...", this);
    auto* prefixFont = Button("Prefix &Font...", this);
    auto* messageFont = Button("&Message Font...", this);
    connect(background, &QPushButton::clicked, this, &CFormatPage::ChooseBackground);
    connect(prefixFont, &QPushButton::clicked, this, &CFormatPage::ChoosePrefixFont);
    connect(messageFont, &QPushButton::clicked, this, &CFormatPage::ChooseMessageFont);
    connect(m_prefix, &QComboBox::currentIndexChanged, this, &CFormatPage::RedrawExample);
    connect(m_example, &CChatHistory::NameLinkClicked, this, [this] { OnExampleLink(); });

    auto* layout = new QVBoxLayout(this);
    auto* prefixRow = new QHBoxLayout;
    prefixRow->addWidget(LabelFor("&Prefix:", m_prefix, this));
    prefixRow->addWidget(m_prefix, 1);
    layout->addLayout(prefixRow);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(background);
    buttons->addWidget(prefixFont);
    buttons->addWidget(messageFont);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addWidget(LabelFor("&Example:", &m_example->Edit(), this));
    layout->addWidget(m_example, 1);
    RedrawExample();
}

void CFormatPage::RedrawExample()
{
    // The two sample messages in a chat history view with the page's current choices.
    HistoryDisplaySettings settings;
    settings.PrefixFont = FontSpec::FromRecord(m_prefixFont);
    settings.MessageFont = FontSpec::FromRecord(m_messageFont);
    settings.PrefixFormat = ToCp1252(m_prefix->currentData().toString());
    settings.Links = m_context.Options.Get(Opt::RecipientLinks) != 0;
    settings.Background = m_background;
    std::vector<ChatMessage> messages;
    for (const ExampleMessage& sample : FormatExampleMessages()) {
        ChatMessage message;
        message.Sender = sample.Sender;
        message.AllUsers = sample.AllUsers;
        message.Recipients = sample.Recipients;
        message.Text = sample.Text;
        message.Time.Year = sample.Year;
        message.Time.Month = sample.Month;
        message.Time.Day = sample.Day;
        message.Time.Hour = sample.Hour;
        message.Time.Minute = sample.Minute;
        message.Time.Second = sample.Second;
        message.Time.HasYear = message.Time.HasMonth = message.Time.HasDay = true;
        message.Time.HasHour = message.Time.HasMinute = message.Time.HasSecond = true;
        message.Log = false;
        messages.push_back(std::move(message));
    }
    m_example->ApplyDisplaySettings(settings);
    m_example->SetMessages(std::move(messages));
}

void CFormatPage::ChooseBackground()
{
    QPalette palette = QApplication::palette();
    PrepareCustomColors(m_customColors, FromQColor(palette.color(QPalette::Base)),
                        FromQColor(palette.color(QPalette::Button)));
    uint32_t color = m_background;
    if (m_context.Host.ChooseColor(this, color, m_customColors)) {
        m_background = color;
        RedrawExample();
    }
}

void CFormatPage::ChoosePrefixFont()
{
    ChosenFont chosen;
    if (m_context.Host.ChooseFont(this, m_prefixFont, chosen)) {
        m_prefixFont = MergeChosenFont(m_prefixFont, chosen);
        RedrawExample();
    }
}

void CFormatPage::ChooseMessageFont()
{
    ChosenFont chosen;
    if (m_context.Host.ChooseFont(this, m_messageFont, chosen)) {
        m_messageFont = MergeChosenFont(m_messageFont, chosen);
        RedrawExample();
    }
}

void CFormatPage::OnExampleLink()
{
    m_context.Prompt.MessageBox(kExampleLinkNotice, kMessageCaption, PromptButtons::Ok,
                                PromptIcon::Information);
}

void CFormatPage::Store()
{
    COptions& options = m_context.Options;
    options.SetChatTextBackground(m_background);
    if (m_prefix->currentIndex() >= 0)
        options.Set(Opt::MessagePrefix, ToCp1252(m_prefix->currentData().toString()));
    options.SetFont(FontKey::General, m_messageFont);
    options.SetFont(FontKey::Prefix, m_prefixFont);
}

// ----- Networking -----

CNetworkingPage::CNetworkingPage(const OptionsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_peer(new QRadioButton(QStringLiteral("&Peer-to-peer."), this)),
      m_clientServer(new QRadioButton(QStringLiteral("Client/Server."), this)),
      m_roleLabel(new QLabel(QStringLiteral("This computer is a"), this)),
      m_client(Button("&Client", this)), m_server(Button("&Server", this)),
      m_serverLabel(new QLabel(QStringLiteral("Server:"), this)), m_serverEdit(new QLineEdit(this)),
      m_browse(Button("&Browse...", this)), m_computer(new QLineEdit(this)),
      m_portLabel(new QLabel(QStringLiteral("Port:"), this)), m_port(new QLineEdit(this))
{
    const QString peerText = QStringLiteral(
        "Recommended for networks with fewer than five users, and without a computer that is "
        "running all the time.");
    const QString clientServerText = QStringLiteral(
        "Recommended for networks with more than five users. (You will need one computer that "
        "will be running whenever people wish to use Zib Tam.  This will be the server.  All "
        "other computers will be clients.)");
    m_peer->setAccessibleName(QStringLiteral("Peer-to-peer.  ") + peerText);
    m_clientServer->setAccessibleName(QStringLiteral("Client/Server.  ") + clientServerText);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_peer);
    modes->addButton(m_clientServer);
    m_client->setCheckable(true);
    m_server->setCheckable(true);
    // The pressed-in role must show in any palette, dark ones included.
    for (QPushButton* role : {m_client, m_server})
        role->setStyleSheet(QStringLiteral(
            "QPushButton:checked { background: palette(highlight); color: "
            "palette(highlighted-text);"
            " border: 1px solid palette(dark); border-radius: 3px; padding: 4px 12px; }"));
    auto* roles = new QButtonGroup(this);
    roles->addButton(m_client);
    roles->addButton(m_server);
    m_serverLabel->setBuddy(m_serverEdit);
    SetAccessibleLabel(m_serverEdit, m_serverLabel->text());
    m_computer->setReadOnly(true);
    // Read-only fields wear the window face, as they do elsewhere on the desktop.
    QPalette readOnly = m_computer->palette();
    readOnly.setColor(QPalette::Base, readOnly.color(QPalette::Window));
    m_computer->setPalette(readOnly);
    m_computer->setText(FromCp1252(m_context.Host.ComputerName()));
    SetAccessibleLabel(m_computer, QStringLiteral("This computer's name"));
    m_portLabel->setBuddy(m_port);
    SetAccessibleLabel(m_port, m_portLabel->text());
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_port));
    m_port->setMaxLength(5);

    NetworkingChoice choice =
        ChoiceForNetworkingType(static_cast<int>(m_context.Options.GetNetworkingType()));
    m_peer->setChecked(choice.PeerToPeer);
    m_clientServer->setChecked(choice.ClientServer);
    m_client->setChecked(choice.Role == ServerRole::Client);
    m_server->setChecked(choice.Role == ServerRole::Server);
    m_serverEdit->setText(FromCp1252(m_context.Options.Get(Opt::Server)));
    m_port->setText(QString::number(m_context.Options.Get(Opt::PortNumber)));

    for (QAbstractButton* button :
         {static_cast<QAbstractButton*>(m_peer), static_cast<QAbstractButton*>(m_clientServer),
          static_cast<QAbstractButton*>(m_client), static_cast<QAbstractButton*>(m_server)})
        connect(button, &QAbstractButton::clicked, this, &CNetworkingPage::UpdateVisibility);
    connect(m_browse, &QPushButton::clicked, this, &CNetworkingPage::Browse);

    auto describe = [this](const QString& text, QAbstractButton* buddy) {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        label->setContentsMargins(22, 0, 0, 0);
        // A click on the text chooses the option, as on the option itself.
        label->setBuddy(buddy);
        return label;
    };
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_peer);
    layout->addWidget(describe(peerText, m_peer));
    layout->addSpacing(8);
    layout->addWidget(m_clientServer);
    layout->addWidget(describe(clientServerText, m_clientServer));
    auto* grid = new QGridLayout;
    grid->setContentsMargins(22, 6, 0, 0);
    auto* roleRow = new QHBoxLayout;
    roleRow->addWidget(m_client);
    roleRow->addWidget(m_server);
    roleRow->addStretch(1);
    grid->addWidget(m_roleLabel, 0, 0);
    grid->addLayout(roleRow, 0, 1, 1, 2);
    grid->addWidget(m_serverLabel, 1, 0);
    grid->addWidget(m_serverEdit, 1, 1);
    grid->addWidget(m_computer, 1, 1); // in the place of the server edit
    grid->addWidget(m_browse, 1, 2);
    grid->addWidget(m_portLabel, 2, 0);
    grid->addWidget(m_port, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch(1);
    m_port->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    UpdateVisibility();
}

NetworkingChoice CNetworkingPage::Choice() const
{
    NetworkingChoice choice;
    choice.PeerToPeer = m_peer->isChecked();
    choice.ClientServer = m_clientServer->isChecked();
    choice.Role = m_client->isChecked()   ? ServerRole::Client
                  : m_server->isChecked() ? ServerRole::Server
                                          : ServerRole::None;
    return choice;
}

void CNetworkingPage::UpdateVisibility()
{
    NetworkingVisibility shown = VisibilityFor(Choice());
    for (QWidget* widget : std::initializer_list<QWidget*>{m_roleLabel, m_client, m_server}) {
        widget->setVisible(shown.RoleButtons);
        widget->setEnabled(shown.RoleButtons);
    }
    m_serverLabel->setVisible(shown.PortRow);
    m_portLabel->setVisible(shown.PortRow);
    m_port->setVisible(shown.PortRow);
    m_serverEdit->setVisible(shown.ServerEdit);
    m_browse->setVisible(shown.ServerEdit);
    m_browse->setEnabled(shown.ServerEdit);
    m_computer->setVisible(shown.ComputerName);
}

bool CNetworkingPage::Check()
{
    NetworkingCheck check =
        CheckNetworking(Choice(), ToCp1252(m_serverEdit->text()), ToCp1252(m_port->text()));
    if (!check.Ok) {
        m_context.Prompt.MessageBox(check.Message, kMessageCaption, PromptButtons::Ok,
                                    PromptIcon::Warning);
        return false;
    }
    m_checkedType = check.Type;
    return true;
}

void CNetworkingPage::Store()
{
    StoreNetworking(m_context.Options, m_checkedType, ToCp1252(m_serverEdit->text()),
                    ToCp1252(m_port->text()));
}

void CNetworkingPage::Browse()
{
    // No network neighbourhood to browse here: the computers heard on the network and the
    // names this computer's resolver knows, to pick from.
    QDialog dialog(this);
    dialog.setWindowTitle(QString::fromLatin1(kBrowseTitle));
    auto* list = new QListWidget(&dialog);
    SetAccessibleLabel(list, QStringLiteral("Computers"));
    for (const std::string& name : m_context.Host.KnownComputers())
        list->addItem(FromCp1252(name));
    if (list->count() > 0)
        list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromLatin1(kBrowseTitle), &dialog));
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    if (m_context.Host.RunDialog(dialog) == QDialog::Accepted && list->currentItem())
        m_serverEdit->setText(list->currentItem()->text());
}

// ----- the sheet -----

COptionsSheet::COptionsSheet(const OptionsContext& context, Pages pages, QWidget* parent)
    : QDialog(parent), m_context(context), m_tabs(new QTabWidget(this))
{
    setWindowTitle(QString::fromLatin1(kOptionsCaption));
    if (pages == Pages::All) {
        m_general = new CGeneralPage(context, m_tabs);
        m_notifications = new CNotificationsPage(context, m_tabs);
        m_format = new CFormatPage(context, m_tabs);
        m_tabs->addTab(m_general, QStringLiteral("General"));
        m_tabs->addTab(m_notifications, QStringLiteral("Notifications"));
        m_tabs->addTab(m_format, QStringLiteral("Format"));
    }
    m_networking = new CNetworkingPage(context, m_tabs);
    m_tabs->addTab(m_networking, QStringLiteral("Networking"));
    connect(m_tabs, &QTabWidget::currentChanged, this, &COptionsSheet::OnTabChanged);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
    resize(sizeHint().expandedTo(QSize(500, 420)));
}

void COptionsSheet::ShowPage(QWidget* page)
{
    QSignalBlocker block(m_tabs);
    m_tabs->setCurrentWidget(page);
    m_currentTab = m_tabs->currentIndex();
}

void COptionsSheet::OnTabChanged(int index)
{
    // Leaving the Networking page checks it; a refusal keeps the user there.
    if (m_tabs->widget(m_currentTab) == m_networking && index != m_currentTab &&
        !m_networking->Check()) {
        QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(m_currentTab);
        return;
    }
    m_currentTab = index;
}

void COptionsSheet::accept()
{
    if (!m_networking->Check()) {
        ShowPage(m_networking);
        return;
    }
    if (m_general && !m_general->Check()) {
        ShowPage(m_general);
        m_general->PasswordEdit()->setFocus();
        m_general->PasswordEdit()->selectAll();
        return;
    }
    if (m_general)
        m_general->Store();
    if (m_notifications)
        m_notifications->Store();
    if (m_format)
        m_format->Store();
    m_networking->Store();
    QDialog::accept();
}

void COptionsSheet::done(int result)
{
    if (m_notifications)
        m_notifications->StopTest();
    QDialog::done(result);
}

bool RunOptionsFromChatWindow(const OptionsContext& context, QWidget* parent)
{
    std::string stored = context.Options.GetPassword();
    if (!stored.empty()) {
        std::string entry;
        bool entered =
            context.Prompt.InputBox(kOptionsCaption, kPasswordPrompt, entry, kPasswordLimit, true);
        switch (CheckOptionsPassword(stored, entered, entry)) {
        case PasswordGate::Open:
            break;
        case PasswordGate::Cancelled:
            return false;
        case PasswordGate::Refused:
            context.Prompt.MessageBox(kIncorrectPassword, kOptionsCaption, PromptButtons::Ok,
                                      PromptIcon::Error);
            return false;
        }
    }
    COptionsSheet sheet(context, COptionsSheet::Pages::All, parent);
    return context.Host.RunDialog(sheet) == QDialog::Accepted;
}

bool RunFirstRunOptions(const OptionsContext& context)
{
    COptionsSheet sheet(context, COptionsSheet::Pages::NetworkingOnly);
    return context.Host.RunDialog(sheet) == QDialog::Accepted;
}
