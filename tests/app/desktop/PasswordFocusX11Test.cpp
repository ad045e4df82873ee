// The password-box question through the accessibility bus: a second process shows a
// password box and then a plain one, and reports its focus over AT-SPI as desktop programs
// do. Runs on a desktop and a session bus of its own (x11-desktop.sh, dbus-run-session).
#include "EventWait.h"
#include "app/desktop/AtSpiPasswordFocus.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr char kHelperVariable[] = "ZT_PASSWORD_WINDOW";

// The other program (this executable again, with the variable set): a window whose
// password box has the focus, which moves to a plain box once told on standard input.
TEST(PasswordWindow, Helper)
{
    if (!qEnvironmentVariableIsSet(kHelperVariable))
        return;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* plain = new QLineEdit(&window);
    auto* password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    layout->addWidget(plain);
    layout->addWidget(password);
    window.show();
    window.activateWindow();
    password->setFocus();
    // Moves the focus every 1.5 s: password, plain, password...
    QTimer swap;
    QObject::connect(&swap, &QTimer::timeout, [&] {
        (password->hasFocus() ? static_cast<QWidget*>(plain) : password)->setFocus();
    });
    swap.start(1500);
    QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
    QApplication::exec();
}

TEST(AtSpiPasswordFocusTest, APasswordBoxOfAnotherProgramIsSeen)
{
    if (qEnvironmentVariableIsSet(kHelperVariable))
        return;
    CAtSpiPasswordFocus focus;
    ASSERT_TRUE(focus.Start()) << "no accessibility bus on the session bus";
    EXPECT_FALSE(focus.IsPasswordBoxFocused());

    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kHelperVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    helper.setProcessEnvironment(env);
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=PasswordWindow.Helper")});
    ASSERT_TRUE(helper.waitForStarted());

    EXPECT_TRUE(WaitFor([&] { return focus.IsPasswordBoxFocused(); }, 15000));
    EXPECT_TRUE(WaitFor([&] { return !focus.IsPasswordBoxFocused(); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return focus.IsPasswordBoxFocused(); }, 5000));
    helper.kill();
    helper.waitForFinished();
}

} // namespace
