#include "TestSupport.h"
#include "app/desktop/AutoTypeHotKey.h"
#include "autotype/AutoTyper.h"
#include "autotype/X11Keyboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
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

// The whole keyboard table, to see that lent keys are given back.
std::vector<KeySym> KeyboardTable()
{
    Display* display = XOpenDisplay(nullptr);
    int minKeyCode = 0, maxKeyCode = 0, perKeyCode = 0;
    XDisplayKeycodes(display, &minKeyCode, &maxKeyCode);
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeyCode),
                                       maxKeyCode - minKeyCode + 1, &perKeyCode);
    std::vector<KeySym> table(syms, syms + (maxKeyCode - minKeyCode + 1) * perKeyCode);
    XFree(syms);
    XCloseDisplay(display);
    return table;
}

TEST_F(AutoTypeX11Test, CharactersWithoutAKeyAreTypedThroughALentKey)
{
    // No key of the US layout gives a euro sign or an e with an acute accent; the AltGr
    // level is not used.
    const std::vector<KeySym> before = KeyboardTable();
    EXPECT_EQ(TypeIntoLineEdit("a\x80\xE9z\xE9", 5), QStringLiteral("a\u20AC\u00E9z\u00E9"));
    EXPECT_NE(KeyboardTable(), before);
    keyboard.RestoreKeyboardMapping();
    EXPECT_EQ(KeyboardTable(), before);
    // Typed again after the table was put back.
    EXPECT_EQ(TypeIntoLineEdit("\xE9", 1), QStringLiteral("\u00E9"));
}

// Presses Control+Alt+Shift+N on the X server as a person does: one key after another,
// N held for `keyMs`, then let go `modifiersMs` before the modifiers. Our event loop runs
// meanwhile.
void PressAutoTypeKey(int keyMs, int modifiersMs)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    auto send = [&](KeySym key, bool down, int thenMs) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), down ? True : False,
                          CurrentTime);
        XFlush(display);
        QElapsedTimer timer;
        timer.start();
        WaitFor([&] { return timer.elapsed() >= thenMs; });
    };
    send(XK_Control_L, true, 30);
    send(XK_Alt_L, true, 30);
    send(XK_Shift_L, true, 30);
    send(XK_n, true, keyMs);
    send(XK_n, false, modifiersMs);
    send(XK_Shift_L, false, 30);
    send(XK_Alt_L, false, 30);
    send(XK_Control_L, false, 0);
    XCloseDisplay(display);
}

// A program of its own on the display holding the keyboard focus; Text() is what it got.
class OtherProgram
{
public:
    OtherProgram()
    {
        m_process.start(QStringLiteral(KEY_RECORDER_PATH), {m_file});
        m_ready = m_process.waitForStarted() && WaitFor([&] { return m_process.canReadLine(); }) &&
                  m_process.readLine().trimmed() == "ready";
    }
    ~OtherProgram()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool IsReady() const { return m_ready; }
    QString Text() const
    {
        QFile file(m_file);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    QString m_file = m_dir.filePath(QStringLiteral("typed.txt"));
    QProcess m_process;
    bool m_ready = false;
};

TEST_F(AutoTypeX11Test, TheHotKeyTypesIntoTheFocusedProgramOnceItIsLetGo)
{
    // "\xE9" and "\x80" have no key on the US layout.
    const struct
    {
        int KeyMs, ModifiersMs;
    } kPresses[] = {
        {100, 40},                              // as people press it
        {1000, 40},                             // held on: the key repeats
        {100, CX11HotKeys::kHoldLimitMs + 500}, // modifiers held on: typed without them
    };
    for (const auto& press : kPresses) {
        SCOPED_TRACE(testing::Message() << press.KeyMs << " " << press.ModifiersMs);
        options.Set(Opt::AutoType, "'Hi \xE9\x80! ok'");
        CAutoTypeHotKey hotKey(options, clock, false,
                               [this](const std::string& text) { reports.push_back(text); });
        ASSERT_TRUE(hotKey.IsRegistered());
        OtherProgram other;
        ASSERT_TRUE(other.IsReady());
        PressAutoTypeKey(press.KeyMs, press.ModifiersMs);
        const QString expected = QStringLiteral("Hi \u00E9\u20AC! ok");
        WaitFor([&] { return other.Text().size() >= expected.size(); });
        QElapsedTimer settle; // and no more: typed once
        settle.start();
        WaitFor([&] { return settle.elapsed() > 300; });
        EXPECT_EQ(other.Text(), expected);
        EXPECT_TRUE(reports.empty());
    }
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
