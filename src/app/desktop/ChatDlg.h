#pragma once
// The chat window: a front end of the chat session, as the console is. It shows the
// history, takes the typed message and the recipients, and keeps its controls in step with
// the connection; what is decided lives in the controller and the core.
#include "app/desktop/ChatNotifier.h"
#include "app/eventloop/QtChatTimers.h"
#include "app/session/ChatController.h"
#include "app/session/ChatSession.h"
#include "app/session/UsersList.h"
#include "common/ChatMessage.h"
#include "view/OpenLink.h"

#include <QDialog>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>

class CAutoTypeHotKey;
class CDesktopNotifications;
class CPortalAutoType;
class CPortalHotKeys;
class CLinkStatic;
class CSoundPlayer;
class CTrayIcon;
class CWidgetNotifierHost;
class CX11HotKeys;
class CX11KeyWatcher;
class CAtSpiPasswordFocus;
struct HotKeyOutcome;
class CStandardOptionsHost;
class IClock;
class IRandom;
class ISystemInfo;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class CChatHistory;
class QTimer;
class CUsersList;
class CSideBar;

// The windows the chat window opens; tests answer them without showing anything.
class IChatDialogs
{
public:
    virtual ~IChatDialogs() = default;
    virtual bool RunSendLater(QWidget* parent, std::time_t& moment) = 0;
    virtual void RunAbout(QWidget* parent) = 0;
    // The options dialog; true when closed with OK.
    virtual bool RunOptions(QWidget* parent) = 0;
    // Opens an address or a file with the desktop; `done` hears whether it could.
    virtual void OpenUrl(const QUrl& url, OpenResult done) = 0;
};

struct ChatDlgContext
{
    COptions& Options;
    IPrompt& Prompt;
    const IClock& Clock;
    IRandom& Random;
    ITransportFactory& Factory;
    bool Secondary = false;
    IChatDialogs* Dialogs = nullptr;     // null: the real dialogs
    bool UseTray = true;                 // false: no tray icon even where the desktop has one
    const ISystemInfo* System = nullptr; // for the options dialog's computer names
};

class CChatDlg : public QDialog, public IChatWindow
{
    Q_OBJECT
public:
    // Control ids of the window, kept for reference and for tests.
    enum ControlId : int
    {
        kSideBarId = 1005,
        kGoZibLabelId = 1016,
        kHistoryId = 1017,
        kIconId = 1019,
        kNameId = 1033,
        kOptionsId = 1038,
        kSendId = 1055,
        kSendLaterCommand = 1056,
        kToLabelId = 1060,
        kInputId = 1062,
        kUsersId = 1064,
        kNameLabelId = 1066,
        kNotConnectedIconId = 1081,
        kReconnectId = 1082,
        kNotConnectedTextId = 1083,
        kUpgradeId = 1088,
    };
    static constexpr int kInputLimit = static_cast<int>(kMaxMessageLength);
    // Said in the history when `cut` characters did not fit in the input box.
    static std::string InputCutNotice(int cut);
    static constexpr int kTemplateWidth = 468;
    static constexpr int kTemplateHeight = 413;
    static constexpr const char* kSideBarText = "Thank you for using Zib Tam 2.5.";
    static constexpr const char* kNotConnectedText =
        "Zib Tam is not currently connected to the server.";

    explicit CChatDlg(ChatDlgContext context, QWidget* parent = nullptr);
    ~CChatDlg() override;

    // The initialisation after creation: placement, tray icon, timers, networking start.
    void Initialise();
    // Show the window as the user asked for it (tray, hot key, second start).
    void ShowChatWindow();
    // Lets the next activation of the window take the focus on a Wayland desktop (the token
    // of the desktop's shortcut, or of the launcher of a second start).
    void UseActivationToken(const QString& token);
    // Close, Escape, the dialog's cancel: save the placement and hide (or minimise when
    // there is no tray to come back from).
    void HideChatWindow();
    // "E&xit": ends the program; networking stops when the window is destroyed.
    void Exit();
    // Stops networking and the timers (Exit's work, without ending the event loop).
    void Shutdown();

    void SavePlacement();
    void RestorePlacement();

    CChatSession& Session() { return *m_session; }
    CChatController& Controller() { return m_session->Controller(); }
    CUsersList* Users() const { return m_users; }
    QPlainTextEdit* InputBox() const { return m_input; }
    CChatHistory* History() const { return m_history; }
    QPushButton* SendButton() const { return m_send; }
    QMenu* SendMenu() const { return m_sendMenu; }
    QMenu* HelpMenu() const { return m_helpMenu; }
    QMenu* TrayMenu() const;
    CLinkStatic* UpgradeLink() const { return m_upgrade; }
    CTrayIcon* Tray() const { return m_tray; }
    bool HasOpenDialog() const;
    // The tray icon exists and a panel holds it.
    bool HasTrayToHideIn() const;

    // The "&Send!" button, and its context menu's "&Send Later...".
    void OnSend(bool later);

    // IChatWindow
    void ShowWindow() override;
    bool IsComposing() const override;
    bool IsDialogOpen() const override { return HasOpenDialog(); } // both interfaces
    void SetWaitCursor(bool on) override;
    void ShowConnectionState(bool connected) override;
    void ShowUpgradeLink(bool shown, const std::string& url) override;
    void AddToHistory(const std::vector<ChatMessage>& messages) override;
    void Notify(const std::vector<ChatMessage>& messages, bool allForAllUsers) override;
    bool ChooseSendLaterMoment(std::time_t& moment) override;

    CChatNotifier& Notifier() { return *m_notifier; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    class DialogScope;
    // What the options dialog asks of the window: the auto-responder, computers heard,
    // the notification sound.
    std::unique_ptr<CStandardOptionsHost> MakeOptionsHost(const ISystemInfo* system);
    void BuildControls();
    void BuildMenus();
    void CreateTray();
    void OnOptions();
    void OnAbout();
    void OnContents();
    // A Help address, with the program's message when the desktop cannot open it.
    void OpenAddress(const char* address);
    void OnReconnect();
    void OnUpgradeClicked();
    void UpdateTrayIcon();
    void OnTrayCommand(int command);
    void OnHotKey(uint32_t id);
    void RegisterHotKeys();
    void RegisterPortalHotKeys();
    // Keys this desktop would not give us are said once, as a notice of ours.
    void PostHotKeyNotice(const std::vector<HotKeyOutcome>& outcomes);
    void SelectDefaultRecipients();
    // The caret into "Go Zib" (or onto "&Reconnect..." while not connected).
    void FocusInputBox();
    void LimitInput();
    void OnTimer(int id);

    ChatDlgContext m_context;
    std::unique_ptr<IChatDialogs> m_ownDialogs;
    IChatDialogs& m_dialogs;
    CUsersList* m_users = nullptr;
    CQtChatTimers m_timers;
    std::unique_ptr<CChatSession> m_session;
    std::unique_ptr<CChatNotifier> m_notifier;
    std::unique_ptr<CAutoTypeHotKey> m_autoType;

    CSideBar* m_sideBar = nullptr;
    CChatHistory* m_history = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_options = nullptr;
    QLabel* m_toLabel = nullptr;
    QLabel* m_goZibLabel = nullptr;
    QPlainTextEdit* m_input = nullptr;
    QPushButton* m_send = nullptr;
    QLabel* m_notConnectedIcon = nullptr;
    QLabel* m_notConnectedText = nullptr;
    QPushButton* m_reconnect = nullptr;
    CLinkStatic* m_upgrade = nullptr;
    QMenu* m_sendMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    CTrayIcon* m_tray = nullptr;
    std::unique_ptr<CSoundPlayer> m_sounds;
    std::unique_ptr<CAtSpiPasswordFocus> m_passwordFocus;
    std::unique_ptr<CWidgetNotifierHost> m_host;
    std::unique_ptr<CDesktopNotifications> m_desktopNotes;
    std::unique_ptr<CX11HotKeys> m_hotKeys;
    std::unique_ptr<CPortalHotKeys> m_portalHotKeys;
    std::unique_ptr<CPortalAutoType> m_portalAutoType;
    std::unique_ptr<CX11KeyWatcher> m_keyWatcher;

    int m_dialogDepth = 0;
    bool m_connected = false;
    bool m_rememberMaximized = false;
    bool m_inputFull = false; // the input box was cut to its limit and has not shrunk since
    bool m_initialised = false;
    bool m_shutDown = false;
    QSize m_minimumSize;
    QRect m_normalRect; // the last rectangle while neither minimised nor maximised
};
