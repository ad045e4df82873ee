#include "ui/BusyIndicator.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QPushButton* CancelButton(CBusyIndicator& busy)
{
    return busy.ProgressWindow() ? busy.ProgressWindow()->findChild<QPushButton*>() : nullptr;
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
    EXPECT_FALSE(window.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(busy.ProgressWindow(), nullptr);

    bool done = false;
    QTimer::singleShot(120, [&] { done = true; });
    EXPECT_TRUE(WaitUntil(busy, done));
    QDialog* progress = busy.ProgressWindow();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Zib Tam Freeware"));
    EXPECT_EQ(progress->findChild<QLabel*>()->text(),
              QStringLiteral("Connecting to the Zib Tam server..."));
    // The blocked window is disabled, its progress window is not.
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

TEST(BusyIndicatorTest, NestedWaitsRestoreTheWindowAsTheyFoundIt)
{
    QWidget window;
    window.show();
    CBusyIndicator outer;
    outer.Start(QStringLiteral("outer"), 1000, &window);
    {
        CBusyIndicator inner;
        inner.Start(QStringLiteral("inner"), 1000, &window);
        bool done = false;
        QTimer::singleShot(10, [&] { done = true; });
        EXPECT_TRUE(WaitUntil(inner, done));
    } // destroying finishes it
    EXPECT_FALSE(window.isEnabled());
    outer.Finish();
    EXPECT_TRUE(window.isEnabled());
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

TEST(BusyIndicatorTest, FactoryBlocksTheWindowOnlyWhileItIsShown)
{
    QWidget window;
    CBusyIndicatorFactory factory(&window);
    {
        auto busy = factory.StartBusy("hidden");
        EXPECT_TRUE(window.isEnabled());
    }
    window.show();
    {
        auto busy = factory.StartBusy("shown");
        EXPECT_FALSE(window.isEnabled());
    }
    EXPECT_TRUE(window.isEnabled());
}

} // namespace
