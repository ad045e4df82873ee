#pragma once
// "Zib Tam Options": the General, Notifications, Format and Networking pages, or the
// Networking page alone at the first run. Pages read their settings when the sheet opens
// and write them only on OK; the Networking page also checks its input whenever the user
// leaves it. The decisions live in settings/OptionsPages.h; the pages show and forward.
#include "settings/OptionsPages.h"
#include "ui/OptionsHost.h"

#include <QDialog>
#include <QWidget>

class CChatHistory;
class CLinkStatic;
class COptions;
class IPrompt;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

struct OptionsContext
{
    COptions& Options;
    IPrompt& Prompt;
    IOptionsHost& Host;
};

class CGeneralPage : public QWidget
{
    Q_OBJECT
public:
    CGeneralPage(const OptionsContext& context, QWidget* parent = nullptr);
    // On OK: a password that would not protect is refused with a message.
    bool Check();
    void Store();
    void OpenRuleEditor();

    QLineEdit* NameEdit() const { return m_name; }
    QCheckBox* PromptAllUsers() const { return m_promptAllUsers; }
    QCheckBox* SelectSender() const { return m_selectSender; }
    QCheckBox* LogMessages() const { return m_log; }
    QPushButton* ViewButton() const { return m_view; }
    CLinkStatic* TuringLink() const { return m_turing; }
    QCheckBox* ClearChat() const { return m_clearChat; }
    QCheckBox* RecipientLinks() const { return m_links; }
    QCheckBox* Protect() const { return m_protect; }
    QLineEdit* PasswordEdit() const { return m_password; }
    QCheckBox* SelfChat() const { return m_selfChat; }
    QCheckBox* AllowAllUsers() const { return m_allUsers; }

private:
    OptionsContext m_context;
    QLineEdit* m_name;
    QCheckBox* m_promptAllUsers;
    QCheckBox* m_selectSender;
    QCheckBox* m_log;
    QPushButton* m_view;
    CLinkStatic* m_turing;
    QCheckBox* m_clearChat;
    QCheckBox* m_links;
    QCheckBox* m_protect;
    QLineEdit* m_password;
    QCheckBox* m_selfChat;
    QCheckBox* m_allUsers;
};

class CNotificationsPage : public QWidget
{
    Q_OBJECT
public:
    CNotificationsPage(const OptionsContext& context, QWidget* parent = nullptr);
    void Store();
    void StopTest(); // stops any sound and lets the button spring back

    QComboBox* OnNewMessage() const { return m_ordinary; }
    QCheckBox* Override() const { return m_override; }
    QComboBox* OnNewMessageAllUsers() const { return m_allUsers; }
    QCheckBox* PlaySound() const { return m_play; }
    QLineEdit* SoundPath() const { return m_path; }
    QPushButton* TestButton() const { return m_test; }
    QCheckBox* Repeat() const { return m_repeat; }

private:
    void UpdateEnabling();
    void OnTest(bool pressed);

    OptionsContext m_context;
    QComboBox* m_ordinary;
    QCheckBox* m_override;
    QComboBox* m_allUsers;
    QCheckBox* m_play;
    QLineEdit* m_path;
    QPushButton* m_test;
    QCheckBox* m_repeat;
};

class CFormatPage : public QWidget
{
    Q_OBJECT
public:
    CFormatPage(const OptionsContext& context, QWidget* parent = nullptr);
    void Store();
    void ChooseBackground();
    void ChoosePrefixFont();
    void ChooseMessageFont();
    void OnExampleLink(); // a sender or recipient link in the example was clicked

    QComboBox* PrefixList() const { return m_prefix; }
    CChatHistory* Example() const { return m_example; }
    uint32_t Background() const { return m_background; }
    const FontRecord& PrefixFont() const { return m_prefixFont; }
    const FontRecord& MessageFont() const { return m_messageFont; }

private:
    void RedrawExample();

    OptionsContext m_context;
    QComboBox* m_prefix;
    CChatHistory* m_example;
    uint32_t m_background;
    FontRecord m_prefixFont;
    FontRecord m_messageFont;
    CustomColors m_customColors;
};

class CNetworkingPage : public QWidget
{
    Q_OBJECT
public:
    CNetworkingPage(const OptionsContext& context, QWidget* parent = nullptr);
    // The check of leaving the page and of OK; a refusal has been shown to the user.
    bool Check();
    void Store();
    void Browse();

    QRadioButton* PeerToPeer() const { return m_peer; }
    QRadioButton* ClientServer() const { return m_clientServer; }
    QPushButton* Client() const { return m_client; }
    QPushButton* Server() const { return m_server; }
    QLineEdit* ServerEdit() const { return m_serverEdit; }
    QPushButton* BrowseButton() const { return m_browse; }
    QLineEdit* ComputerName() const { return m_computer; }
    QLineEdit* PortEdit() const { return m_port; }
    NetworkingChoice Choice() const;

private:
    void UpdateVisibility();

    OptionsContext m_context;
    QRadioButton* m_peer;
    QRadioButton* m_clientServer;
    QLabel* m_roleLabel;
    QPushButton* m_client;
    QPushButton* m_server;
    QLabel* m_serverLabel;
    QLineEdit* m_serverEdit;
    QPushButton* m_browse;
    QLineEdit* m_computer;
    QLabel* m_portLabel;
    QLineEdit* m_port;
    int m_checkedType = 0;
};

class COptionsSheet : public QDialog
{
    Q_OBJECT
public:
    enum class Pages
    {
        All,
        NetworkingOnly
    };
    COptionsSheet(const OptionsContext& context, Pages pages, QWidget* parent = nullptr);

    QTabWidget* Tabs() const { return m_tabs; }
    CGeneralPage* General() const { return m_general; }
    CNotificationsPage* Notifications() const { return m_notifications; }
    CFormatPage* Format() const { return m_format; }
    CNetworkingPage* Networking() const { return m_networking; }

    void accept() override;
    void done(int result) override;

private:
    void OnTabChanged(int index);
    void ShowPage(QWidget* page);

    OptionsContext m_context;
    QTabWidget* m_tabs;
    CGeneralPage* m_general = nullptr;
    CNotificationsPage* m_notifications = nullptr;
    CFormatPage* m_format = nullptr;
    CNetworkingPage* m_networking = nullptr;
    int m_currentTab = 0;
};

// The options from the chat window: the password first, when one is stored, then the
// sheet. True when it closed with OK. Whatever it returns, the caller re-applies the
// settings afterwards (the networking, the users list, the name field, the history).
bool RunOptionsFromChatWindow(const OptionsContext& context, QWidget* parent);

// The first-run sheet, Networking page alone. True when it closed with OK.
bool RunFirstRunOptions(const OptionsContext& context);
