// The chat window offscreen, on a simulated network with two other copies: what the user
// types and chooses reaches them, what they send shows, and the window's own rules hold.
#include "app/desktop/ChatDlg.h"

#include "HelpMenuItems.h"
#include "WindowRig.h"
#include "app/desktop/UsersListWidget.h"
#include "ui/AboutDlg.h"
#include "ui/LinkStatic.h"
#include "ui/SendLaterDlg.h"
#include "view/ChatHistory.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr std::time_t kNow = 1'700'000'000;

class FakeDialogs : public IChatDialogs
{
public:
    std::function<void()> During; // runs while any of the dialogs is "open"
    bool ChooseLater = true;
    std::time_t LaterMoment = 0;
    int Abouts = 0;
    int Options = 0;
    std::vector<QUrl> Opened;

    bool RunSendLater(QWidget*, std::time_t& moment) override
    {
        if (During)
            During();
        moment = LaterMoment;
        return ChooseLater;
    }
    void RunAbout(QWidget*) override
    {
        ++Abouts;
        if (During)
            During();
    }
    bool RunOptions(QWidget*) override
    {
        ++Options;
        if (During)
            During();
        return false;
    }
    void OpenUrl(const QUrl& url, OpenResult done) override
    {
        Opened.push_back(url);
        done(true);
    }
};

QAction* Action(QMenu* menu, const char* text)
{
    for (QAction* action : menu->actions())
        if (action->text() == QString::fromLatin1(text))
            return action;
    return nullptr;
}

void Key(QWidget* widget, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(widget, &press);
}

class ChatDlgTest : public testing::Test, protected OwenWindowRig
{
protected:
    ControllerRig ann{dir, "Ann", clock, &network, "OFFICE2"};
    ControllerRig bob{dir, "Bob", clock, &network, "OFFICE3"};
    FakeDialogs dialogs;
    std::unique_ptr<CChatDlg> owen;

    void SetUp() override
    {
        clock.SetNow(kNow);
        clock.SetTicks(5000);
        for (COptions* o : {&options, &ann.options, &bob.options})
            o->Set(Opt::PromptOnAllUsers, 0);
        ChatDlgContext context{options, prompt, clock, random, factory, false};
        context.Dialogs = &dialogs;
        context.UseTray = false;
        owen = std::make_unique<CChatDlg>(context);
        owen->Initialise();
        owen->Controller().OnTimer(CChatController::kStartTimer);
        ann.Start();
        bob.Start();
        Run(1000);
    }
    void TearDown() override { owen.reset(); }

    void Run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 10) {
            clock.Advance(10);
            owen->Controller().OnTimer(CChatController::kPollTimer);
            ann.Poll();
            bob.Poll();
        }
    }
    CUsersList* To() { return owen->Users(); }
    // As the user picks entries in the list.
    void Choose(std::initializer_list<const char*> entries)
    {
        To()->ClearSelection();
        for (const char* entry : entries)
            To()->SetSelected(To()->FindEntry(QString::fromLatin1(entry)), true);
    }
    void Type(const char* text) { owen->InputBox()->insertPlainText(QString::fromLatin1(text)); }
    std::vector<std::string> Recipients()
    {
        std::vector<std::string> to;
        EXPECT_TRUE(To()->GetRecipients(to));
        return to;
    }
};

TEST_F(ChatDlgTest, ControlsCarryTheirTextsAndNamesAndFollowTheConnection)
{
    EXPECT_EQ(owen->windowTitle(), QStringLiteral("Zib Tam Freeware"));
    EXPECT_EQ(owen->InputBox()->accessibleName(), QStringLiteral("Go Zib"));
    EXPECT_EQ(To()->accessibleName(), QStringLiteral("To"));
    EXPECT_EQ(owen->SendButton()->text(), QStringLiteral("&Send!"));
    bool historyNamed = false;
    for (QWidget* widget : owen->History()->findChildren<QWidget*>())
        historyNamed |= widget->accessibleName() == QStringLiteral("Chat history");
    EXPECT_TRUE(historyNamed);
    // Every control a screen reader can land on says what it is.
    for (QWidget* widget : owen->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QAbstractItemView*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty())
                << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        }
    }
    EXPECT_NE(Action(owen->SendMenu(), "&Send Later..."), nullptr);
    QStringList helpItems;
    for (QAction* action : owen->HelpMenu()->actions())
        helpItems << action->text();
    EXPECT_EQ(helpItems, HelpItems());

    QPushButton* reconnectButton = nullptr;
    for (QPushButton* button : owen->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("&Reconnect..."))
            reconnectButton = button;
    ASSERT_NE(reconnectButton, nullptr);
    owen->ShowChatWindow();
    EXPECT_TRUE(owen->SendButton()->isVisible());
    EXPECT_FALSE(reconnectButton->isVisible());
    owen->ShowConnectionState(false);
    EXPECT_FALSE(owen->SendButton()->isVisible());
    EXPECT_FALSE(owen->InputBox()->isVisible());
    EXPECT_TRUE(reconnectButton->isVisible());
    EXPECT_TRUE(reconnectButton->isEnabled());
    owen->ShowConnectionState(true);
    EXPECT_TRUE(owen->SendButton()->isVisible());

    EXPECT_FALSE(owen->UpgradeLink()->isVisible());
    owen->ShowUpgradeLink(true, "http://server:6500/");
    EXPECT_TRUE(owen->UpgradeLink()->isVisible());
}

TEST_F(ChatDlgTest, EnterSendsShiftEnterBreaksTheLineAndTheBoxHoldsAtMostItsLimit)
{
    owen->ShowChatWindow();
    Choose({"Ann"});
    Type("Lunch");
    Key(owen->InputBox(), Qt::Key_Return, Qt::ShiftModifier);
    Type("at noon?");
    EXPECT_EQ(owen->InputBox()->toPlainText(), QStringLiteral("Lunch\nat noon?"));
    Key(owen->InputBox(), Qt::Key_Return);
    EXPECT_TRUE(owen->InputBox()->toPlainText().isEmpty());
    Run(200);
    ASSERT_EQ(ann.window.History.size(), 1u);
    EXPECT_EQ(ann.window.History[0].Text, "Lunch\nat noon?");
    EXPECT_EQ(ann.window.History[0].Recipients, std::vector<std::string>{"Ann"});
    EXPECT_TRUE(bob.window.History.empty());

    // Pasted rich text arrives as plain text.
    auto* rich = new QMimeData;
    rich->setHtml(QStringLiteral("<b>bold</b> words"));
    rich->setText(QStringLiteral("bold words"));
    QApplication::clipboard()->setMimeData(rich);
    owen->InputBox()->clear();
    Key(owen->InputBox(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(owen->InputBox()->toPlainText(), QStringLiteral("bold words"));

    // What does not fit is cut, and said once in the history: a paste each time, keys
    // typed on into the full box once.
    auto notices = [&] {
        std::vector<std::string> seen;
        for (const ChatMessage& message : owen->History()->Messages())
            if (message.Text.starts_with("A message holds at most"))
                seen.push_back(message.Text);
        return seen;
    };
    owen->InputBox()->clear();
    owen->InputBox()->insertPlainText(QString(CChatDlg::kInputLimit - 1, QLatin1Char('x')));
    EXPECT_TRUE(notices().empty());
    Type("yz");
    EXPECT_EQ(owen->InputBox()->toPlainText().size(), CChatDlg::kInputLimit);
    EXPECT_TRUE(owen->InputBox()->toPlainText().endsWith(QStringLiteral("xy")));
    Type("a");
    Type("b");
    EXPECT_EQ(notices(), std::vector<std::string>{CChatDlg::InputCutNotice(1)});
    QApplication::clipboard()->setText(QStringLiteral("pasted words"));
    Key(owen->InputBox(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(owen->InputBox()->toPlainText().size(), CChatDlg::kInputLimit);
    EXPECT_EQ(notices(), (std::vector<std::string>{CChatDlg::InputCutNotice(1),
                                                   CChatDlg::InputCutNotice(12)}));
    EXPECT_EQ(CChatDlg::InputCutNotice(12),
              "A message holds at most 20480 characters: 12 characters that did not fit were "
              "left out.");
    // Below the limit again, the next cut is said again.
    Key(owen->InputBox(), Qt::Key_Backspace);
    Type("cd");
    EXPECT_EQ(notices().size(), 3u);
}

TEST_F(ChatDlgTest, AllUsersChosenWithNamedUsersSendsToAll)
{
    owen->ShowChatWindow();
    Choose({"(All Users)", "Ann"});
    Type("Fire drill at 3");
    owen->SendButton()->click();
    Run(200);
    ASSERT_EQ(bob.window.History.size(), 1u);
    EXPECT_TRUE(bob.window.History[0].AllUsers);
    ASSERT_EQ(ann.window.History.size(), 1u);
    EXPECT_TRUE(ann.window.History[0].AllUsers);
}

TEST_F(ChatDlgTest, AMessageArrivingWhileTheUserTypesLeavesTheRecipientsAlone)
{
    options.Set(Opt::DefaultToLastSender, 1);
    owen->ShowChatWindow();
    Choose({"Bob"});
    Type("Half a thought");
    ann.users.SelectUsers({"Owen"}, true);
    std::string typed = "Are you there?";
    ASSERT_TRUE(ann.controller->SendTyped(typed, false));
    Run(200);
    ASSERT_FALSE(owen->History()->Messages().empty());
    EXPECT_EQ(owen->History()->Messages().back().Text, "Are you there?");
    EXPECT_EQ(Recipients(), std::vector<std::string>{"Bob"});

    // Not typing: the reply goes to the last sender.
    owen->InputBox()->clear();
    typed = "Hello?";
    ASSERT_TRUE(ann.controller->SendTyped(typed, false));
    Run(200);
    EXPECT_EQ(Recipients(), std::vector<std::string>{"Ann"});
}

TEST_F(ChatDlgTest, TheCloseButtonWhileADialogIsOpenDoesNothingAndEscapeHides)
{
    owen->ShowChatWindow();
    bool shownDuring = false;
    dialogs.During = [&] {
        owen->close();
        shownDuring = owen->isVisible() && !owen->isMinimized();
    };
    Action(owen->HelpMenu(), "&About Zib Tam 2.5")->trigger();
    EXPECT_EQ(dialogs.Abouts, 1);
    EXPECT_TRUE(shownDuring);

    // Without a tray to come back from, hiding leaves the window on the task bar.
    owen->resize(600, 500);
    Key(owen->InputBox(), Qt::Key_Escape);
    EXPECT_TRUE(owen->isMinimized());
    EXPECT_EQ(options.Get(Opt::DlgWidth), 600);
    EXPECT_EQ(options.Get(Opt::DlgHeight), 500);
}

TEST_F(ChatDlgTest, APopUpWithRepeatSoundPlaysOnceAndAFlashRepeats)
{
    options.Set(Opt::PlaySnd, 1);
    options.Set(Opt::RepeatSound, 1);
    ann.users.SelectUsers({"Owen"}, true);
    const struct
    {
        int behaviour;
        bool repeats;
    } cases[] = {{CChatNotifier::kFlash, true}, {CChatNotifier::kPopUp, false}};
    for (const auto& c : cases) {
        owen->hide();
        options.SetNotification(c.behaviour);
        std::string typed = "Ping";
        ASSERT_TRUE(ann.controller->SendTyped(typed, false));
        Run(200);
        EXPECT_EQ(owen->Notifier().IsSoundRepeating(), c.repeats) << c.behaviour;
        EXPECT_TRUE(owen->isVisible()) << c.behaviour; // minimised to flash, or popped up
        owen->Notifier().OnWindowActivated();
    }
}

TEST_F(ChatDlgTest, SendLaterStoresTheMessageAndEmptiesTheBox)
{
    owen->ShowChatWindow();
    Choose({"Ann"});
    Type("Meeting in ten minutes");
    dialogs.LaterMoment = kNow + 600;
    // Alt+L, which the Send button names, from the input box.
    EXPECT_NE(owen->SendButton()->accessibleDescription().indexOf(QStringLiteral("Alt+L")), -1);
    QApplication::setActiveWindow(owen.get());
    owen->InputBox()->setFocus();
    QTest::keyClick(owen->InputBox(), Qt::Key_L, Qt::AltModifier);
    EXPECT_TRUE(owen->InputBox()->toPlainText().isEmpty());
    Run(1000);
    EXPECT_TRUE(ann.window.History.empty());
    clock.SetNow(kNow + 601);
    Run(1100);
    ASSERT_EQ(ann.window.History.size(), 1u);
    EXPECT_EQ(ann.window.History[0].Text, "Scheduled message: Meeting in ten minutes");

    // Cancelled: the text stays.
    dialogs.ChooseLater = false;
    Type("Not yet");
    Action(owen->SendMenu(), "&Send Later...")->trigger();
    EXPECT_EQ(owen->InputBox()->toPlainText(), QStringLiteral("Not yet"));
}

TEST_F(ChatDlgTest, PlacementComesBackOnScreenAndContentsOpensTheReadMe)
{
    options.Set(Opt::DlgX, 20000);
    options.Set(Opt::DlgY, 20000);
    options.Set(Opt::DlgWidth, 100);
    options.Set(Opt::DlgHeight, 100);
    owen->RestorePlacement();
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(owen->geometry()));
    EXPECT_GE(owen->width(), CChatDlg::kTemplateWidth);
    EXPECT_GE(owen->height(), CChatDlg::kTemplateHeight);

    Action(owen->HelpMenu(), "&Contents")->trigger();
    ASSERT_EQ(dialogs.Opened.size(), 1u);
    EXPECT_TRUE(dialogs.Opened[0].toLocalFile().endsWith(QStringLiteral("/Zib Tam Read Me.htm")));
    if (*kHomePageAddress && *kSupportAddress) {
        Action(owen->HelpMenu(), "&Zib Tam Home Page")->trigger();
        Action(owen->HelpMenu(), "&E-mail Support Team...")->trigger();
        ASSERT_EQ(dialogs.Opened.size(), 3u);
        EXPECT_EQ(dialogs.Opened[2].scheme(), QStringLiteral("mailto"));
    }
}

} // namespace

namespace {

// The window and its dialogs in each state render; with ZT_SCREENSHOT_DIR set, the pictures
// are also saved for a person to look at. (It does not skip without the folder: a skipped
// case would report the whole executable as skipped.)
TEST_F(ChatDlgTest, ScreenshotsOnRequest)
{
    const char* folder = std::getenv("ZT_SCREENSHOT_DIR");
    auto save = [&](QWidget& widget, const char* name) {
        QPixmap picture = widget.grab();
        EXPECT_FALSE(picture.isNull()) << name;
        if (folder)
            picture.save(QString::fromLocal8Bit(folder) + QLatin1Char('/') +
                         QString::fromLatin1(name));
    };
    owen->ShowChatWindow();
    owen->resize(560, 460);
    Choose({"Ann"});
    Type("Lunch at noon? See https://example.org/menu");
    owen->SendButton()->click();
    ann.users.SelectUsers({"Owen"}, true);
    std::string typed = "Yes, see you there.\nI will bring the report.";
    ann.controller->SendTyped(typed, false);
    Run(300);
    Type("Great, thanks!");
    save(*owen, "window-connected.png");
    owen->ShowUpgradeLink(true, "http://server:34300/");
    save(*owen, "window-upgrade.png");
    owen->ShowUpgradeLink(false, "");
    owen->ShowConnectionState(false);
    save(*owen, "window-not-connected.png");
    owen->ShowConnectionState(true);

    CSendLaterDlg later(options, prompt, clock, owen.get());
    later.show();
    later.DelayOption()->click();
    save(later, "send-later.png");
    CAboutDlg about(AboutResource(), "December 10, 2026", owen.get());
    about.show();
    save(about, "about.png");
}

} // namespace
