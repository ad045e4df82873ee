// The widgets' side of the notifications, offscreen: pop-up, flashing, sounds.
#include "TestSupport.h"
#include "app/desktop/TrayIcon.h"
#include "app/desktop/WidgetNotifierHost.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/SoundPlayer.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

class PasswordFocus : public IPasswordFocus
{
public:
    bool Focused = false;
    bool IsPasswordBoxFocused() const override { return Focused; }
};

class NotifierHostTest : public testing::Test
{
protected:
    NotifierHostTest()
        : tray(InstanceIdentity::For(false), clock, random), host(window, &tray, sounds, &password,
                                                                  {[this] { input->setFocus(); },
                                                                   [this] { ++defaultsChosen; },
                                                                   [this] { return maximized; },
                                                                   {},
                                                                   {}})
    {
        window.resize(468, 413);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(input);
        tray.SetStatus(true);
    }

    CManualClock clock;
    CRandom random;
    QWidget window;
    QLineEdit* input = new QLineEdit(&window);
    CTrayIcon tray;
    CSoundPlayer sounds;
    PasswordFocus password;
    int defaultsChosen = 0;
    bool maximized = false;
    CWidgetNotifierHost host;
};

TEST_F(NotifierHostTest, APopUpShowsTheHiddenWindowWithTheFocusInTheInputBox)
{
    EXPECT_TRUE(host.IsWindowHidden());
    host.PopUp();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMaximized());
    EXPECT_TRUE(input->hasFocus() || QApplication::focusWidget() == input ||
                window.focusWidget() == input);
    EXPECT_FALSE(host.IsWindowHidden());

    window.hide();
    maximized = true;
    host.PopUp();
    EXPECT_TRUE(window.isMaximized());
}

TEST_F(NotifierHostTest, AWindowLeftAlmostOffTheScreenComesBackToTheMiddle)
{
    QRect screen = QGuiApplication::primaryScreen()->virtualGeometry();
    window.show();
    window.move(screen.right() - 50, screen.top() + 100);
    host.PopUp();
    QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(window.frameGeometry().center().x() - available.center().x()), 1);

    // A window well inside stays where the user put it.
    window.move(screen.left() + 150, screen.top() + 120);
    QPoint before = window.pos();
    host.PopUp();
    EXPECT_EQ(window.pos(), before);
}

TEST_F(NotifierHostTest, AnOpenDialogIsWhatPopsUp)
{
    window.show();
    QDialog dialog(&window);
    dialog.show();
    EXPECT_TRUE(host.IsDialogOpen());
    EXPECT_EQ(host.LastActivePopup(), &dialog);
    dialog.hide();
    EXPECT_FALSE(host.IsDialogOpen());
}

TEST_F(NotifierHostTest, FlashingBlinksTheTrayIconAndAPopUpEndsIt)
{
    host.Flash(true);
    EXPECT_EQ(tray.ShownIcon(), -1);
    host.Flash(false);
    EXPECT_EQ(tray.ShownIcon(), 106);
    host.Flash(true);
    host.PopUp();
    EXPECT_EQ(tray.ShownIcon(), 106);
}

TEST_F(NotifierHostTest, TheWindowIsShownMinimisedToFlash)
{
    host.ShowMinimizedWithoutActivation();
    EXPECT_TRUE(window.isMinimized());
    EXPECT_FALSE(window.testAttribute(Qt::WA_ShowWithoutActivating));
}

// A desktop that cannot minimise would put the window in front of the user's work: there it
// stays hidden, as long as the desktop's notifications tell of the message instead.
TEST(NotifierHostFlashTest, ADesktopThatCannotMinimiseLeavesTheWindowHidden)
{
    struct Case
    {
        bool CanMinimize;
        bool AlertsElsewhere;
        bool Shown;
    };
    const Case cases[] = {
        {true, true, true},
        {true, false, true},
        {false, false, true}, // no notifications: the task bar's flashing is all there is
        {false, true, false},
    };
    CSoundPlayer sounds;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.CanMinimize << c.AlertsElsewhere);
        QWidget window;
        CWidgetNotifierHost::Hooks hooks;
        hooks.CanMinimize = [&] { return c.CanMinimize; };
        hooks.AlertsElsewhere = [&] { return c.AlertsElsewhere; };
        CWidgetNotifierHost host(window, nullptr, sounds, nullptr, hooks);
        host.ShowMinimizedWithoutActivation();
        EXPECT_EQ(window.isVisible(), c.Shown);
        EXPECT_EQ(window.isMinimized(), c.Shown);
    }
}

TEST_F(NotifierHostTest, PasswordQuestionGoesToTheDesktop)
{
    EXPECT_FALSE(host.IsPasswordBoxFocused());
    password.Focused = true;
    EXPECT_TRUE(host.IsPasswordBoxFocused());
    CWidgetNotifierHost blind(window, nullptr, sounds, nullptr, {});
    EXPECT_FALSE(blind.IsPasswordBoxFocused());
}

// Without an audio device (as here) sounds are silent; what matters is which files are
// tried at all and that nothing fails loudly.
TEST(SoundPlayerTest, OnlyReadableWaveFilesArePlayed)
{
    TempDir dir;
    QByteArray wave("RIFF");
    wave += QByteArray("\x24\x00\x00\x00", 4) + "WAVEfmt ";
    wave += QByteArray(
        "\x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00", 20);
    wave += QByteArray("data\x00\x00\x00\x00", 8);
    struct Case
    {
        const char* Name;
        QByteArray Content;
        bool Played;
    } cases[] = {
        {"ding.wav", wave, true},
        {"ding.mp3", QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00\x00\x00", 12), false},
        {"short.wav", "RIFF", false},
        {"empty.wav", "", false},
    };
    CSoundPlayer player;
    for (const Case& c : cases) {
        QFile file(QString::fromStdString(dir.File(c.Name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.Content);
        file.close();
        EXPECT_EQ(player.PlayFile(dir.File(c.Name), true), c.Played) << c.Name;
        player.Stop();
    }
    EXPECT_FALSE(player.PlayFile(dir.File("missing.wav"), false));
    player.PlaySystemSound(true);
    player.Stop();
    EXPECT_FALSE(player.IsRepeatingSystemSound());
    EXPECT_FALSE(player.IsPlayingFile());
}

// The tray menu's first item names the key that shows this copy's window.
TEST(TrayMenuTest, TheChatItemNamesThisCopysOwnKey)
{
    CManualClock clock;
    CRandom random;
    for (auto [secondary, key] : {std::pair{false, "Super+G"}, std::pair{true, "Super+Q"}}) {
        CTrayIcon tray(InstanceIdentity::For(secondary), clock, random);
        EXPECT_EQ(tray.Menu()->actions().front()->text(),
                  QStringLiteral("&Chat!\t") + QString::fromLatin1(key));
    }
}

} // namespace
