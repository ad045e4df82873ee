#include "app/desktop/ChatDlg.h"

#include "app/desktop/AtSpiPasswordFocus.h"
#include "app/desktop/AutoTypeHotKey.h"
#include "app/desktop/DesktopNotifications.h"
#include "app/desktop/PortalAutoType.h"
#include "app/desktop/PortalHotKeys.h"
#include "app/desktop/TrayIcon.h"
#include "app/desktop/UsersListWidget.h"
#include "app/desktop/WidgetNotifierHost.h"
#include "app/desktop/WindowPlacement.h"
#include "app/desktop/X11HotKeys.h"
#include "common/BuildDate.h"
#include "platform/Clock.h"
#include "platform/DisplayPlatform.h"
#include "platform/Identity.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemInfo.h"
#include "platform/X11KeyWatcher.h"
#include "settings/Options.h"
#include "setup/UpgradeDownload.h"
#include "ui/AboutDlg.h"
#include "ui/BusyIndicator.h"
#include "ui/HelpCommands.h"
#include "ui/LinkStatic.h"
#include "ui/OptionsSheet.h"
#include "ui/SendLaterDlg.h"
#include "view/ChatHistory.h"
#include "view/HistoryModel.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

// The strip along the left edge: the window icon, one line of text, the Help button.
class CSideBar : public QWidget
{
public:
    CSideBar(const QIcon& icon, QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("sideBar"));
        setAccessibleName(QStringLiteral("Side bar"));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(6, 8, 6, 8);
        m_icon = new QLabel(this);
        m_icon->setPixmap(icon.pixmap(32, 32));
        m_icon->setAlignment(Qt::AlignHCenter);
        m_icon->setAccessibleName(QStringLiteral("Zib Tam"));
        layout->addWidget(m_icon);
        layout->addStretch();
        m_help = new QPushButton(QStringLiteral("&Help"), this);
        m_help->setAccessibleName(QStringLiteral("Help"));
        layout->addWidget(m_help);
        setFixedWidth(std::max(m_help->sizeHint().width() + 12, 64));
    }
    QPushButton* Help() const { return m_help; }
    void SetText(const QString& text)
    {
        m_text = text;
        setAccessibleDescription(text);
        update();
    }
    const QString& Text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient band(0, 0, 0, height());
        band.setColorAt(0, QColor(0x1f, 0x5f, 0xbf));
        band.setColorAt(1, QColor(0x12, 0x3a, 0x78));
        painter.fillRect(rect(), band);
        // The line reads upwards between the icon and the button.
        int top = m_icon->geometry().bottom() + 8;
        int bottom = m_help->geometry().top() - 8;
        painter.save();
        painter.translate(width() / 2.0, bottom);
        painter.rotate(-90);
        QFont font = painter.font();
        font.setItalic(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        QRect line(0, -height() / 2, bottom - top, height());
        QString shown = painter.fontMetrics().elidedText(m_text, Qt::ElideRight, line.width());
        painter.drawText(QRect(0, -painter.fontMetrics().height() / 2, bottom - top,
                               painter.fontMetrics().height()),
                         Qt::AlignLeft | Qt::AlignVCenter, shown);
        painter.restore();
        // The line between the side bar and the window's face.
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(width() - 1, 0, width() - 1, height());
    }

private:
    QLabel* m_icon;
    QPushButton* m_help;
    QString m_text;
};

namespace {

class CRealChatDialogs : public IChatDialogs
{
public:
    CRealChatDialogs(COptions& options, IPrompt& prompt, const IClock& clock,
                     std::unique_ptr<CStandardOptionsHost> host)
        : m_options(options), m_prompt(prompt), m_clock(clock), m_host(std::move(host))
    {}
    bool RunSendLater(QWidget* parent, std::time_t& moment) override
    {
        CSendLaterDlg dialog(m_options, m_prompt, m_clock, parent);
        return dialog.Run(moment);
    }
    void RunAbout(QWidget* parent) override
    {
        CAboutDlg dialog(AboutResource(), ProgramBuildDate(), parent);
        RunModal(dialog);
    }
    bool RunOptions(QWidget* parent) override
    {
        if (!m_host)
            return false;
        return RunOptionsFromChatWindow({m_options, m_prompt, *m_host}, parent);
    }
    void OpenUrl(const QUrl& url, OpenResult done) override
    {
        OpenUrlWithDesktop(url, std::move(done));
    }

private:
    COptions& m_options;
    IPrompt& m_prompt;
    const IClock& m_clock;
    std::unique_ptr<CStandardOptionsHost> m_host;
};

QString WithoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}

QPushButton* Button(const char* text, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setAccessibleName(WithoutMnemonic(QString::fromLatin1(text)));
    button->setAutoDefault(false);
    return button;
}

QLabel* Label(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

ScreenRect ToScreenRect(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

std::vector<ScreenRect> AvailableScreens()
{
    std::vector<ScreenRect> screens;
    for (QScreen* screen : QGuiApplication::screens())
        screens.push_back(ToScreenRect(screen->availableGeometry()));
    return screens;
}

} // namespace

// Counts one of the window's dialogs as open while it runs.
class CChatDlg::DialogScope
{
public:
    explicit DialogScope(CChatDlg& owner) : m_owner(owner) { ++m_owner.m_dialogDepth; }
    ~DialogScope() { --m_owner.m_dialogDepth; }

private:
    CChatDlg& m_owner;
};

CChatDlg::CChatDlg(ChatDlgContext context, QWidget* parent)
    : QDialog(parent), m_context(context),
      m_ownDialogs(context.Dialogs ? nullptr
                                   : std::make_unique<CRealChatDialogs>(
                                         context.Options, context.Prompt, context.Clock,
                                         MakeOptionsHost(context.System))),
      m_dialogs(context.Dialogs ? *context.Dialogs : *m_ownDialogs),
      m_timers([this](int id) { OnTimer(id); })
{
    setObjectName(QStringLiteral("chatDlg"));
    QString title = QString::fromLatin1(CChatController::kCaption);
    if (context.Secondary)
        title += QStringLiteral(" (Secondary)");
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    BuildControls();
    ChatSessionContext session{context.Options, context.Prompt, context.Clock,  context.Random,
                               *this,           m_timers,       context.Factory};
    session.UsersList = m_users;
    m_session = std::make_unique<CChatSession>(session);
    CreateTray();
}

CChatDlg::~CChatDlg()
{
    Shutdown();
    m_session.reset();
}

void CChatDlg::BuildControls()
{
    m_sideBar = new CSideBar(QApplication::windowIcon(), this);
    m_sideBar->SetText(QString::fromLatin1(kSideBarText));

    m_history = new CChatHistory(m_context.Prompt, this);
    m_history->setObjectName(QStringLiteral("history"));
    m_history->ApplyDisplaySettings(ChatHistorySettings(m_context.Options));

    m_name = new QLineEdit(this);
    m_name->setReadOnly(true);
    m_name->setAccessibleName(QStringLiteral("Your Name:"));
    m_name->setFocusPolicy(Qt::NoFocus);
    QLabel* nameLabel = Label("Your Name:", m_name, this);
    m_options = Button("&Options...", this);

    m_users = new CUsersList(&m_context.Options, this);
    m_toLabel = Label("&To:", m_users, this);

    m_input = new QPlainTextEdit(this);
    m_input->setObjectName(QStringLiteral("input"));
    m_input->setAccessibleName(QStringLiteral("Go Zib"));
    m_input->setTabChangesFocus(true);
    m_input->setFixedHeight(m_input->fontMetrics().lineSpacing() * 3 + 12);
    m_input->installEventFilter(this);
    connect(m_input->document(), &QTextDocument::contentsChanged, this, &CChatDlg::LimitInput);
    m_goZibLabel = Label("&Go Zib:", m_input, this);

    m_send = Button("&Send!", this);
    m_send->setDefault(true);
    m_send->setContextMenuPolicy(Qt::CustomContextMenu);

    m_notConnectedIcon = new QLabel(this);
    m_notConnectedIcon->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    m_notConnectedIcon->setAccessibleName(QStringLiteral("Not connected"));
    m_notConnectedText = new QLabel(QString::fromLatin1(kNotConnectedText), this);
    m_notConnectedText->setWordWrap(true);
    m_reconnect = Button("&Reconnect...", this);
    m_upgrade = new CLinkStatic(kUpgradeId, QStringLiteral("&Upgrade..."), this);
    m_upgrade->hide();

    auto* grid = new QGridLayout;
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(m_options, 0, 2);
    grid->addWidget(m_history, 1, 0, 1, 3);
    grid->addWidget(m_toLabel, 2, 0, Qt::AlignTop);
    grid->addWidget(m_users, 2, 1);
    grid->addWidget(m_upgrade, 2, 2, Qt::AlignCenter);
    grid->addWidget(m_goZibLabel, 3, 0, Qt::AlignTop);
    grid->addWidget(m_input, 3, 1);
    grid->addWidget(m_send, 3, 2, Qt::AlignTop);
    auto* notConnected = new QHBoxLayout;
    notConnected->addWidget(m_notConnectedIcon);
    notConnected->addWidget(m_notConnectedText, 1);
    grid->addLayout(notConnected, 4, 0, 1, 2);
    grid->addWidget(m_reconnect, 4, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_sideBar);
    outer->addLayout(grid, 1);

    BuildMenus();

    connect(m_history, &CChatHistory::NameLinkClicked, this,
            [this](const ChatMessage& message, int kind) {
                m_users->LinkClicked(message, kind,
                                     QGuiApplication::keyboardModifiers() & Qt::ControlModifier);
                m_input->setFocus();
            });
    connect(m_send, &QPushButton::clicked, this, [this] { OnSend(false); });
    connect(m_send, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_sendMenu->exec(m_send->mapToGlobal(at)); });
    connect(m_options, &QPushButton::clicked, this, &CChatDlg::OnOptions);
    connect(m_reconnect, &QPushButton::clicked, this, &CChatDlg::OnReconnect);
    connect(m_upgrade, &CLinkStatic::linkClicked, this, &CChatDlg::OnUpgradeClicked);
    connect(m_sideBar->Help(), &QPushButton::clicked, this, [this] {
        m_helpMenu->exec(m_sideBar->Help()->mapToGlobal(QPoint(m_sideBar->Help()->width(), 0)));
    });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, m_sideBar->Help(), &QPushButton::click);
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, [this] {
        CBusyIndicator::UserWaits waits;
        Controller().Refresh();
    });

    ShowConnectionState(false);
}

std::unique_ptr<CStandardOptionsHost> CChatDlg::MakeOptionsHost(const ISystemInfo* system)
{
    if (!system)
        return nullptr;
    auto host = std::make_unique<CStandardOptionsHost>(system->ComputerName());
    host->OnRulesChanged = [this] {
        if (m_session)
            m_session->Turing().MarkRulesChanged();
    };
    host->HeardComputers = [this] {
        return m_session ? Controller().Network().HeardComputers() : std::vector<std::string>();
    };
    // "&Test" plays as a notification would.
    host->Play = [this](const std::string& path, bool repeat) {
        if (!m_sounds)
            return;
        if (path.empty() || !m_sounds->PlayFile(path, repeat))
            m_sounds->PlaySystemSound(repeat);
    };
    host->Stop = [this] {
        if (m_sounds)
            m_sounds->Stop();
    };
    return host;
}

void CChatDlg::BuildMenus()
{
    m_sendMenu = new QMenu(this);
    QAction* later = m_sendMenu->addAction(QStringLiteral("&Send Later..."), this, [this] {
        if (m_send->isEnabled())
            OnSend(true);
    });
    // The keyboard's way to it, anywhere in the window: the menu shows the key beside the
    // item, and the Send button names it (tooltip, and a screen reader's description).
    later->setShortcut(QKeySequence(Qt::ALT | Qt::Key_L));
    later->setShortcutContext(Qt::WindowShortcut);
    addAction(later);
    const QString laterHint = QStringLiteral("Send later: Alt+L, or right-click this button");
    m_send->setToolTip(laterHint);
    m_send->setAccessibleDescription(laterHint);

    m_helpMenu = new QMenu(this);
    m_helpMenu->addAction(QStringLiteral("&Contents"), this, &CChatDlg::OnContents);
    if (*kHomePageAddress)
        m_helpMenu->addAction(QStringLiteral("&Zib Tam Home Page"), this,
                              [this] { OpenAddress(kHomePageAddress); });
    if (*kSupportAddress)
        m_helpMenu->addAction(QStringLiteral("&E-mail Support Team..."), this,
                              [this] { OpenAddress(kSupportAddress); });
    m_helpMenu->addAction(QStringLiteral("&About Zib Tam 2.5"), this, &CChatDlg::OnAbout);
}

void CChatDlg::Initialise()
{
    if (m_initialised)
        return;
    m_initialised = true;
    // The template's size is the smallest the window may become.
    m_minimumSize = QSize(kTemplateWidth, kTemplateHeight).expandedTo(minimumSizeHint());
    setMinimumSize(m_minimumSize);
    m_name->setText(FromCp1252(m_context.Options.GetUserName()));
    RestorePlacement();
    if (!HasTrayToHideIn())
        showMinimized(); // no tray to live in: the task bar
    // Networking first: nothing the desktop says about hot keys may hold it up.
    m_session->Start();
    RegisterHotKeys();
}

void CChatDlg::CreateTray()
{
    // Made even when no panel holds icons yet: at log-in the panel often starts after the
    // programs that go in it, and the icon docks when it comes.
    if (m_context.UseTray) {
        m_tray = new CTrayIcon(InstanceIdentity::For(m_context.Secondary), m_context.Clock,
                               m_context.Random, this);
        connect(m_tray, &CTrayIcon::CommandChosen, this, &CChatDlg::OnTrayCommand);
        m_keyWatcher = std::make_unique<CX11KeyWatcher>();
        if (m_keyWatcher->Start())
            connect(m_keyWatcher.get(), &CX11KeyWatcher::KeyPressed, m_tray,
                    &CTrayIcon::OnKeyPressed);
    }
    m_sounds = std::make_unique<CSoundPlayer>();
    m_passwordFocus = std::make_unique<CAtSpiPasswordFocus>();
    if (m_context.UseTray)
        m_passwordFocus->Start();
    m_host = std::make_unique<CWidgetNotifierHost>(
        *this, m_tray, *m_sounds, m_passwordFocus.get(),
        CWidgetNotifierHost::Hooks{
            [this] { FocusInputBox(); },
            [this] { SelectDefaultRecipients(); },
            [this] { return m_rememberMaximized; },
            [this] { return m_desktopNotes && m_desktopNotes->IsAvailable(); },
            {}});
    m_notifier =
        std::make_unique<CChatNotifier>(m_context.Options, m_context.Clock, m_timers, *m_host);

    // The desktop's notifications stand beside the flashing: the sender's notification
    // opens the window with him chosen, and a reply typed in it goes to him.
    m_desktopNotes = std::make_unique<CDesktopNotifications>();
    connect(m_desktopNotes.get(), &CDesktopNotifications::ShowRequested, this,
            [this](const QString& sender) {
                ShowChatWindow();
                m_users->SelectUsers({ToCp1252(sender)}, true);
            });
    connect(m_desktopNotes.get(), &CDesktopNotifications::ReplyTyped, this,
            [this](const QString& sender, const QString& text) {
                SendOptions how;
                how.Recipients = std::vector<std::string>{ToCp1252(sender)};
                how.SkipAllUsersPrompt = true;
                Controller().Send(ToCp1252(text), how);
            });
}

QMenu* CChatDlg::TrayMenu() const
{
    return m_tray ? m_tray->Menu() : nullptr;
}

void CChatDlg::OnTrayCommand(int command)
{
    switch (command) {
    case CTrayIcon::kChat:
        ShowChatWindow();
        break;
    case CTrayIcon::kOptions:
        OnOptions();
        break;
    case CTrayIcon::kHelpContents:
        OnContents();
        break;
    case CTrayIcon::kHomePage:
        OpenAddress(kHomePageAddress);
        break;
    case CTrayIcon::kEmailSupport:
        OpenAddress(kSupportAddress);
        break;
    case CTrayIcon::kAbout:
        OnAbout();
        break;
    case CTrayIcon::kExit:
        Exit();
        break;
    default:
        break;
    }
}

void CChatDlg::RegisterHotKeys()
{
    if (!m_context.UseTray)
        return;
    const InstanceIdentity& identity = InstanceIdentity::For(m_context.Secondary);
    if (IsWaylandSession(
            [](const char* name) { return qEnvironmentVariable(name).toStdString(); })) {
        RegisterPortalHotKeys();
        return;
    }
    m_hotKeys = std::make_unique<CX11HotKeys>();
    connect(m_hotKeys.get(), &CX11HotKeys::Pressed, this, &CChatDlg::OnHotKey);
    std::vector<HotKeyOutcome> outcomes;
    for (const HotKey& key : ChatHotKeys(identity))
        outcomes.push_back({key, m_hotKeys->Register(key)});
    if (CAutoType::WantsHotKey(m_context.Options)) {
        if (CX11HotKeys::IsAvailable()) {
            // Its own message box says when another program holds the key; shown from the
            // event loop, so that the start goes on meanwhile.
            m_autoType = std::make_unique<CAutoTypeHotKey>(
                m_context.Options, m_context.Clock, m_context.Secondary,
                [this](const std::string& text) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, text] {
                            m_context.Prompt.MessageBox(text, "Zib Tam", PromptButtons::Ok,
                                                        PromptIcon::Warning);
                        },
                        Qt::QueuedConnection);
                });
        } else {
            // Nobody holds it: this desktop has no such keys. Said with the others.
            outcomes.push_back({AutoTypeHotKey(identity), HotKeyResult::Unavailable});
        }
    }
    PostHotKeyNotice(outcomes);
}

void CChatDlg::PostHotKeyNotice(const std::vector<HotKeyOutcome>& outcomes)
{
    std::string notice = HotKeyNotice(outcomes);
    if (!notice.empty())
        m_history->PostNotice(notice, m_context.Options.GetUserName());
}

void CChatDlg::RegisterPortalHotKeys()
{
    const InstanceIdentity& identity = InstanceIdentity::For(m_context.Secondary);
    std::vector<HotKey> keys = ChatHotKeys(identity);
    if (CAutoType::WantsHotKey(m_context.Options)) {
        keys.push_back(AutoTypeHotKey(identity));
        m_portalAutoType = std::make_unique<CPortalAutoType>(
            m_context.Options, m_context.Clock, [this](const std::string& text) {
                m_history->PostNotice(text, m_context.Options.GetUserName());
            });
    }
    m_portalHotKeys = std::make_unique<CPortalHotKeys>();
    connect(m_portalHotKeys.get(), &CPortalHotKeys::Bound, this, &CChatDlg::PostHotKeyNotice);
    connect(m_portalHotKeys.get(), &CPortalHotKeys::Pressed, this,
            [this](uint32_t id, const QString& activationToken) {
                UseActivationToken(activationToken);
                OnHotKey(id);
            });
    // AutoType types once the keys are up, so that the held modifiers do not change it.
    connect(m_portalHotKeys.get(), &CPortalHotKeys::Released, this, [this, identity](uint32_t id) {
        if (id == identity.AutoTypeAtom && m_portalAutoType)
            m_portalAutoType->Type();
    });
    m_portalHotKeys->Bind(keys);
}

void CChatDlg::UseActivationToken(const QString& token)
{
    // The Wayland platform hands it to the compositor with the next activation, which
    // then gives the window the focus instead of only marking it.
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

void CChatDlg::OnHotKey(uint32_t id)
{
    const InstanceIdentity& identity = InstanceIdentity::For(m_context.Secondary);
    if (id == identity.ChatAtom) {
        ShowChatWindow();
    } else if (id == identity.LogViewerAtom) {
        if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("/log")}))
            m_context.Prompt.MessageBox("Zib Tam could not open the log viewer.",
                                        CChatController::kCaption, PromptButtons::Ok,
                                        PromptIcon::Warning);
    }
}

void CChatDlg::UpdateTrayIcon()
{
    if (m_tray)
        m_tray->SetStatus(m_connected);
}

void CChatDlg::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_session)
        m_session->Stop();
    for (int id : {1, 2, 3, 4})
        m_timers.StopTimer(id);
    if (m_hotKeys)
        m_hotKeys->UnregisterAll();
    if (m_keyWatcher)
        m_keyWatcher->Stop();
}

void CChatDlg::Exit()
{
    SavePlacement();
    // The window's dialogs end first; the event loops then unwind, and networking stops
    // when the window is destroyed, outside every wait of a network operation.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject(); // a message box without a Cancel button refuses close()
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
    hide();
    // exit(), not quit(): quit() first asks every window to close, and this one only hides.
    CBusyIndicator::StopAllWaits();
    QCoreApplication::exit(0);
}

bool CChatDlg::HasTrayToHideIn() const
{
    return m_tray && m_tray->IsAvailable();
}

bool CChatDlg::HasOpenDialog() const
{
    if (m_dialogDepth > 0)
        return true;
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal != this;
}

void CChatDlg::ShowWindow()
{
    if (!isVisible() || isMinimized())
        m_host->PopUp();
}

void CChatDlg::ShowChatWindow()
{
    m_notifier->ShowChatWindow();
}

void CChatDlg::HideChatWindow()
{
    SavePlacement();
    if (!HasTrayToHideIn()) {
        // Nothing to come back from: stay on the task bar.
        showMinimized();
        return;
    }
    hide();
    // Hidden after it was shown minimised and restored on the task bar, the window may still
    // carry the minimised state; shown with it, it would come back iconic, out of sight.
    SetWindowStates(*this, windowState() & ~Qt::WindowMinimized);
    MarkInitialStateNormal(*this);
    if (m_context.Options.Get(Opt::ClearChatOnClose) != 0)
        m_history->Clear();
}

void CChatDlg::FocusInputBox()
{
    if (m_connected)
        m_input->setFocus(Qt::ActiveWindowFocusReason);
    else
        m_reconnect->setFocus(Qt::ActiveWindowFocusReason);
}

void CChatDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // However the window comes (tray, hot key, task bar, pop-up), typing goes to "Go Zib".
    FocusInputBox();
}

void CChatDlg::reject()
{
    HideChatWindow();
}

void CChatDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (HasOpenDialog())
        return;
    HideChatWindow();
}

void CChatDlg::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !isMinimized())
            FocusInputBox(); // restored from the task bar
        if (isMaximized())
            m_rememberMaximized = true;
        else if (!isMinimized())
            m_rememberMaximized = false;
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isMinimized()) {
        Controller().ClearUnseenMessages();
        m_notifier->OnWindowActivated();
        if (m_desktopNotes)
            m_desktopNotes->WithdrawAll();
        m_host->Flash(false);
    }
    QDialog::changeEvent(event);
}

void CChatDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (!isMaximized() && !isMinimized() && !isFullScreen())
        m_normalRect = geometry();
}

void CChatDlg::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    if (!isMaximized() && !isMinimized() && !isFullScreen())
        m_normalRect = geometry();
}

void CChatDlg::SavePlacement()
{
    if (!m_initialised)
        return;
    QRect rect = m_normalRect.isValid() ? m_normalRect : geometry();
    COptions& options = m_context.Options;
    options.Set(Opt::DlgX, rect.x());
    options.Set(Opt::DlgY, rect.y());
    options.Set(Opt::DlgWidth, rect.width());
    options.Set(Opt::DlgHeight, rect.height());
    options.Set(Opt::DlgMaximized, isMaximized() || m_rememberMaximized ? 1 : 0);
}

void CChatDlg::RestorePlacement()
{
    const COptions& options = m_context.Options;
    WindowPlacement stored;
    stored.X = options.Get(Opt::DlgX);
    stored.Y = options.Get(Opt::DlgY);
    stored.Width = options.Get(Opt::DlgWidth);
    stored.Height = options.Get(Opt::DlgHeight);
    stored.Maximized = options.Get(Opt::DlgMaximized) != 0;
    QRect current = geometry();
    if (stored.X == -1 && stored.Y == -1 && QGuiApplication::primaryScreen()) {
        // Never placed: the middle of the main screen.
        QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        current.moveTo(area.center() - QPoint(stored.Width / 2, stored.Height / 2));
    }
    ScreenRect rect = RestoredRect(stored, ToScreenRect(current), m_minimumSize.width(),
                                   m_minimumSize.height(), AvailableScreens());
    setGeometry(rect.X, rect.Y, rect.Width, rect.Height);
    m_normalRect = geometry();
    m_rememberMaximized = stored.Maximized;
    if (isVisible()) {
        if (stored.Maximized)
            showMaximized();
        else
            showNormal();
    }
}

bool CChatDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_input && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                m_input->insertPlainText(QStringLiteral("\n"));
            else if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
                m_send->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CChatDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter in "&To:" sends, as the default button would; elsewhere (the history, the
    // buttons) it does nothing, so that a stray Enter sends nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QWidget* focus = focusWidget();
        if (m_connected && focus && (focus == m_users || m_users->isAncestorOf(focus)))
            m_send->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::string CChatDlg::InputCutNotice(int cut)
{
    return "A message holds at most " + std::to_string(kInputLimit) +
           " characters: " + std::to_string(cut) +
           (cut == 1 ? " character that did not fit was left out."
                     : " characters that did not fit were left out.");
}

void CChatDlg::LimitInput()
{
    QTextDocument* document = m_input->document();
    int length = document->characterCount() - 1;
    if (length < kInputLimit)
        m_inputFull = false;
    if (length <= kInputLimit)
        return;
    // Whatever came last beyond the limit is cut where the caret is, as the edit control
    // refuses the characters that do not fit.
    QTextCursor cursor = m_input->textCursor();
    int excess = length - kInputLimit;
    int end = cursor.position();
    int start = std::max(0, end - excess);
    if (end - start < excess) {
        start = kInputLimit;
        end = length;
    }
    QSignalBlocker block(document);
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_input->setTextCursor(cursor);
    // A paste that did not fit is told; keys typed on into a full box are told once.
    if (excess > 1 || !m_inputFull)
        m_history->PostNotice(InputCutNotice(excess), m_context.Options.GetUserName());
    m_inputFull = true;
}

bool CChatDlg::IsComposing() const
{
    return isVisible() && !m_input->document()->isEmpty();
}

void CChatDlg::OnSend(bool later)
{
    std::string typed = ToCp1252(m_input->toPlainText());
    CBusyIndicator::UserWaits waits;
    if (Controller().SendTyped(typed, later))
        m_input->clear();
}

void CChatDlg::SetWaitCursor(bool on)
{
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CChatDlg::ShowConnectionState(bool connected)
{
    m_connected = connected;
    m_toLabel->setVisible(connected);
    m_users->setVisible(connected);
    m_goZibLabel->setVisible(connected);
    m_input->setVisible(connected);
    m_send->setVisible(connected);
    m_send->setEnabled(connected);
    m_notConnectedIcon->setVisible(!connected);
    m_notConnectedText->setVisible(!connected);
    m_reconnect->setVisible(!connected);
    m_reconnect->setEnabled(!connected);
    m_send->setDefault(connected);
    m_reconnect->setDefault(!connected);
    UpdateTrayIcon();
    if (connected && isVisible())
        m_input->setFocus();
}

void CChatDlg::ShowUpgradeLink(bool shown, const std::string&)
{
    m_upgrade->setVisible(shown);
}

void CChatDlg::OnUpgradeClicked()
{
    // A downloaded file cannot run here, so the program fetches and starts the setup copy
    // itself.
    const std::string& url = Controller().UpgradeURL();
    if (!url.empty())
        RunUpgrade(url, m_context.Prompt, m_context.Secondary, CSystemInfo().ExecutablePath());
}

void CChatDlg::AddToHistory(const std::vector<ChatMessage>& messages)
{
    m_history->AddMessages(messages);
}

void CChatDlg::Notify(const std::vector<ChatMessage>& messages, bool allForAllUsers)
{
    const bool looking = m_host->IsUserLooking();
    m_notifier->Notify(allForAllUsers);
    // Where the window would flash, the desktop also shows who wrote and what.
    const int behaviour = m_context.Options.GetNotification(allForAllUsers);
    if (looking || !m_desktopNotes ||
        (behaviour != CChatNotifier::kFlash && behaviour != CChatNotifier::kFlashThenPopUp))
        return;
    for (const ChatMessage& message : messages)
        m_desktopNotes->Post(FromCp1252(message.Sender), FromCp1252(message.Text));
}

void CChatDlg::SelectDefaultRecipients()
{
    m_users->SelectDefaultRecipients();
}

bool CChatDlg::ChooseSendLaterMoment(std::time_t& moment)
{
    DialogScope scope(*this);
    return m_dialogs.RunSendLater(this, moment);
}

void CChatDlg::OnTimer(int id)
{
    if (m_shutDown)
        return;
    if (!m_notifier->OnTimer(id))
        m_session->OnTimer(id);
}

void CChatDlg::OnOptions()
{
    if (HasOpenDialog())
        return;
    SavePlacement();
    ShowChatWindow();
    bool ok;
    {
        DialogScope scope(*this);
        ok = m_dialogs.RunOptions(this);
    }
    if (ok) {
        m_history->ApplyDisplaySettings(ChatHistorySettings(m_context.Options));
        m_history->Redisplay();
    }
    {
        CBusyIndicator::UserWaits waits;
        Controller().ApplySettings();
    }
    m_name->setText(FromCp1252(m_context.Options.GetUserName()));
    m_input->setFocus();
}

void CChatDlg::OnAbout()
{
    if (HasOpenDialog())
        return;
    ShowChatWindow();
    DialogScope scope(*this);
    m_dialogs.RunAbout(this);
}

void CChatDlg::OnContents()
{
    QPointer<CChatDlg> alive(this);
    OpenReadMe([this, alive](const QUrl& url, OpenResult) {
        m_dialogs.OpenUrl(url, [this, alive, url](bool opened) {
            if (!opened && alive)
                m_context.Prompt.MessageBox(OpenLinkFailureText(ToCp1252(url.toLocalFile())),
                                            "Zib Tam", PromptButtons::Ok, PromptIcon::Warning);
        });
    });
}

void CChatDlg::OpenAddress(const char* address)
{
    OpenLink(
        address, true, &m_context.Prompt,
        [this](const QUrl& url, OpenResult done) { m_dialogs.OpenUrl(url, std::move(done)); },
        this);
}

void CChatDlg::OnReconnect()
{
    CBusyIndicator::UserWaits waits;
    Controller().Reconnect();
}
