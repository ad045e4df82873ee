#include "TestSupport.h"
#include "app/AutoTypeHotKey.h"
#include "autotype/AutoTyper.h"
#include "autotype/X11Keyboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <gtest/gtest.h>

// After the test framework: Xlib defines None, True and False as macros.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Done> bool WaitFor(Done done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class AutoTypeX11Test : public testing::Test, protected TestSettings
{
protected:
    CManualClock clock;
    CX11Keyboard keyboard;
    std::vector<std::string> reports;

    void SetUp() override
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs an X server (runs under Xvfb)";
        ASSERT_TRUE(keyboard.IsAvailable()) << "the X server has no XTest";
    }

    // Types the "AutoType" setting into a line edit of a window of ours and returns what
    // arrived.
    QString TypeIntoLineEdit(const std::string& setting, int expectedLength)
    {
        QLineEdit edit;
        edit.setWindowTitle(QStringLiteral("AutoType target"));
        edit.resize(600, 40);
        edit.show();
        edit.activateWindow();
        EXPECT_TRUE(WaitFor([&] { return edit.isActiveWindow(); }));
        edit.setFocus();

        options.Set(Opt::AutoType, setting);
        CAutoType autoType(options, clock, keyboard, keyboard,
                           [this](const std::string& text) { reports.push_back(text); });
        autoType.OnHotKey();
        WaitFor([&] { return edit.text().size() >= expectedLength; });
        QElapsedTimer settle; // nothing more arrives
        settle.start();
        WaitFor([&] { return settle.elapsed() > 100; });
        return edit.text();
    }
};

TEST_F(AutoTypeX11Test, TypesDateFieldsAndPunctuationExactly)
{
    std::tm tm{};
    tm.tm_year = 2000 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 8;
    tm.tm_hour = 15;
    tm.tm_min = 47;
    tm.tm_sec = 38;
    tm.tm_isdst = -1;
    clock.SetNow(std::mktime(&tm));

    const std::string setting =
        "'Owen' m/d/yy h:nn:ss TT \"\"'x\\y'\"\" {'A'|'b'} ~!@#$%^&*()_+:?><";
    const QString expected =
        QStringLiteral("Owen 5/8/00 3:47:38 PM \"x\\y\" {A|b} ~!@#$%^&*()_+:?><");
    EXPECT_EQ(TypeIntoLineEdit(setting, static_cast<int>(expected.size())), expected);
    EXPECT_TRUE(reports.empty());
}

TEST_F(AutoTypeX11Test, CharactersWithoutAKeyAreSkipped)
{
    // No key of the US layout gives a euro sign or an e with an acute accent.
    EXPECT_EQ(TypeIntoLineEdit("a\x80\xE9z", 2), QStringLiteral("az"));
}

// Presses Control+Alt+Shift+N on the X server as a user would.
void PressAutoTypeKey()
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const KeySym keys[] = {XK_Control_L, XK_Alt_L, XK_Shift_L, XK_n};
    for (KeySym key : keys)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
    for (int i = 3; i >= 0; --i)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keys[i]), False, CurrentTime);
    XCloseDisplay(display);
}

TEST_F(AutoTypeX11Test, TheHotKeyTypesTheTextIntoTheFocusedWindow)
{
    options.Set(Opt::AutoType, "'Hello'");
    CAutoTypeHotKey hotKey(options, clock, false,
                           [this](const std::string& text) { reports.push_back(text); });
    ASSERT_TRUE(hotKey.IsRegistered());
    QLineEdit edit;
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return edit.isActiveWindow(); }));
    edit.setFocus();
    PressAutoTypeKey();
    EXPECT_TRUE(WaitFor([&] { return edit.text() == QStringLiteral("Hello"); }))
        << edit.text().toStdString();
    EXPECT_TRUE(reports.empty());
}

TEST_F(AutoTypeX11Test, ATakenKeyIsReportedAndAnEmptyTextRegistersNothing)
{
    // Another program holds the key.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    KeyCode n = XKeysymToKeycode(other, XK_n);
    for (unsigned locks :
         {0u, unsigned(LockMask), unsigned(Mod2Mask), unsigned(LockMask | Mod2Mask)})
        XGrabKey(other, n, ControlMask | Mod1Mask | ShiftMask | locks, DefaultRootWindow(other),
                 False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    options.Set(Opt::AutoType, "x");
    CAutoTypeHotKey taken(options, clock, false,
                          [this](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(taken.IsRegistered());
    EXPECT_EQ(reports,
              std::vector<std::string>{"Zib Tam could not register the \"AutoType\" hot key."});
    XCloseDisplay(other);

    reports.clear();
    options.Set(Opt::AutoType, "");
    CAutoTypeHotKey none(options, clock, false,
                         [this](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(none.IsRegistered());
    EXPECT_TRUE(reports.empty());
}

} // namespace
