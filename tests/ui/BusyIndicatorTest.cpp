#include "ui/BusyIndicator.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <optional>

namespace {

QPushButton* CancelButton(CBusyIndicator& busy)
{
    return busy.ProgressWindow() ? busy.ProgressWindow()->findChild<QPushButton*>() : nullptr;
}

// Keys as the keyboard gives them, through the application's event filters.
void Type(QWidget* widget, const QString& text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(widget, &release);
    }
}

// The visible top-level windows other than `window`.
int OtherWindowsShown(const QWidget* window)
{
    int shown = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        shown += widget != window && widget->isVisible();
    return shown;
}

// Waits, as the client does, until `done` or the indicator says stop.
bool WaitUntil(CBusyIndicator& busy, const bool& done)
{
    while (!done) {
        if (busy.Poll())
            return false;
    }
    return true;
}

TEST(BusyIndicatorTest, BlocksTheWindowThenShowsTheProgressWindowAfterTheDelay)
{
    QWidget window;
    window.show();
    CBusyIndicator busy;
    busy.Start(QStringLiteral("Connecting to the Zib Tam server..."), 30, &window);
    EXPECT_TRUE(window.isEnabled()); // not greyed out
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(busy.ProgressWindow(), nullptr);

    bool done = false;
    QTimer::singleShot(120, [&] { done = true; });
    EXPECT_TRUE(WaitUntil(busy, done));
    QDialog* progress = busy.ProgressWindow();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->parentWidget(), &window);
    EXPECT_FALSE(progress->isModal());
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Zib Tam Freeware"));
    EXPECT_EQ(progress->findChild<QLabel*>()->text(),
              QStringLiteral("Connecting to the Zib Tam server..."));
    EXPECT_TRUE(CancelButton(busy)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // the wait cursor gave way to it

    busy.SetText(std::string("Communicating with the Zib Tam server..."));
    EXPECT_EQ(progress->findChild<QLabel*>()->text(),
              QStringLiteral("Communicating with the Zib Tam server..."));

    busy.Finish();
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(busy.ProgressWindow(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(busy.Poll()); // not running: stop
}

TEST(BusyIndicatorTest, CancelStopsTheWaitUnlessDisabledAndDisablingForgetsAPress)
{
    QWidget window;
    window.show();
    CBusyIndicator busy;
    busy.Start(QStringLiteral("Sending your message..."), 0, &window);
    bool never = false;
    QTimer::singleShot(20, [&] { CancelButton(busy)->click(); });
    EXPECT_FALSE(WaitUntil(busy, never)); // stopped by Cancel

    busy.SetCancelEnabled(false); // forgets the press
    EXPECT_FALSE(CancelButton(busy)->isEnabled());
    bool done = false;
    QTimer::singleShot(20, [&] {
        CancelButton(busy)->click(); // disabled: no effect
        done = true;
    });
    EXPECT_TRUE(WaitUntil(busy, done));
    busy.SetCancelEnabled(true);
    QTimer::singleShot(0, [&] { busy.ProgressWindow()->reject(); }); // Escape is Cancel too
    bool never2 = false;
    EXPECT_FALSE(WaitUntil(busy, never2));
}

// What is typed into the window while it waits reaches it when the wait ends, in order,
// through nested waits too; nothing runs inside the wait.
TEST(BusyIndicatorTest, TypingDuringNestedWaitsArrivesInOrderWhenTheyEnd)
{
    QWidget window;
    auto* input = new QPlainTextEdit(&window);
    (new QVBoxLayout(&window))->addWidget(input);
    window.show();
    input->setFocus();
    CBusyIndicator outer;
    outer.Start(QStringLiteral("outer"), 1000, &window);
    {
        CBusyIndicator inner;
        inner.Start(QStringLiteral("inner"), 1000, &window);
        bool done = false;
        QTimer::singleShot(10, [&] {
            Type(input, QStringLiteral("Lunch"));
            done = true;
        });
        EXPECT_TRUE(WaitUntil(inner, done));
    } // destroying finishes it
    bool done = false;
    QTimer::singleShot(10, [&] {
        Type(input, QStringLiteral(" at one?"));
        done = true;
    });
    EXPECT_TRUE(WaitUntil(outer, done));
    EXPECT_EQ(input->toPlainText(), QString()); // held while the outer wait runs
    outer.Finish();
    QCoreApplication::processEvents();
    EXPECT_EQ(input->toPlainText(), QStringLiteral("Lunch at one?"));
}

TEST(BusyIndicatorTest, AQuitRequestStopsAWaitInsideTheEventLoop)
{
    QWidget window;
    window.show();
    bool stopped = false;
    QTimer::singleShot(0, [&] {
        CBusyIndicator busy;
        busy.Start(QStringLiteral("Sending your message..."), 1000, &window);
        QTimer::singleShot(10, [] { QCoreApplication::quit(); });
        bool never = false;
        stopped = !WaitUntil(busy, never);
    });
    QCoreApplication::exec(); // the quit ends it once the wait has returned
    EXPECT_TRUE(stopped);
}

// Reconnecting in the background is silent: no progress window over a hidden window (not
// even when it was the active one), none over a shown one unless the user asked for the
// operation, and what he types meanwhile is kept.
TEST(BusyIndicatorTest, OnlyAnOperationTheUserWaitsForShowsAProgressWindow)
{
    QWidget window;
    auto* input = new QPlainTextEdit(&window);
    (new QVBoxLayout(&window))->addWidget(input);
    CBusyIndicatorFactory factory(&window);
    auto waitAWhile = [](IBusyIndicator& busy) {
        bool done = false;
        QTimer::singleShot(3 * CBusyIndicator::kDefaultDelayMs, [&] { done = true; });
        while (!done && !busy.WaitStep()) {
        }
    };

    window.show();
    window.activateWindow();
    QCoreApplication::processEvents();
    window.hide();
    for (bool userWaits : {false, true}) {
        std::optional<CBusyIndicator::UserWaits> scope;
        if (userWaits)
            scope.emplace();
        auto busy = factory.StartBusy("Connecting to the Zib Tam server...");
        waitAWhile(*busy);
        EXPECT_EQ(OtherWindowsShown(&window), 0) << "hidden window, user waits: " << userWaits;
    }

    window.show();
    input->setFocus();
    {
        auto busy = factory.StartBusy("Connecting to the Zib Tam server...");
        QTimer::singleShot(10, [&] { Type(input, QStringLiteral("typed meanwhile")); });
        waitAWhile(*busy);
        EXPECT_EQ(OtherWindowsShown(&window), 0) << "background work";
        EXPECT_TRUE(window.isEnabled());
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(input->toPlainText(), QStringLiteral("typed meanwhile"));
    {
        CBusyIndicator::UserWaits scope;
        auto busy = factory.StartBusy("Sending your message...");
        waitAWhile(*busy);
        EXPECT_EQ(OtherWindowsShown(&window), 1) << "the user pressed Send";
    }
    EXPECT_EQ(OtherWindowsShown(&window), 0);
}

} // namespace
