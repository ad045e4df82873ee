#include "ui/SendLaterDlg.h"

#include "TestSupport.h"
#include "platform/Clock.h"
#include "sendlater/SendLater.h"

#include <QApplication>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <gtest/gtest.h>

namespace {

struct SendLaterDlgTest : ::testing::Test
{
    TestSettings settings;
    FakePrompt prompt;
    CManualClock clock;

    void TypeInto(QSpinBox* spin, const char* text)
    {
        spin->findChild<QLineEdit*>()->setText(QString::fromLatin1(text));
    }
    void PressOk(CSendLaterDlg& dialog)
    {
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }
};

TEST_F(SendLaterDlgTest, OpensWithNoOptionAndTheStoredDelayWithinItsLimits)
{
    settings.options.Set(Opt::SendLaterHours, 40);
    settings.options.Set(Opt::SendLaterMinutes, 7);
    CSendLaterDlg dialog(settings.options, prompt, clock);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Send Message Later"));
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), QStringLiteral("Send Message Later"));
    EXPECT_FALSE(dialog.DelayOption()->isChecked());
    EXPECT_FALSE(dialog.DateOption()->isChecked());
    EXPECT_EQ(dialog.Hours()->value(), 23);
    EXPECT_EQ(dialog.Minutes()->value(), 7);
    // The arrows stop at the limit.
    dialog.Hours()->stepUp();
    EXPECT_EQ(dialog.Hours()->value(), 23);

    // OK with no option chosen asks for one and leaves the focus on the first.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    ok->setFocus();
    ok->click();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text, kSendLaterNoOptionText);
    EXPECT_TRUE(dialog.DelayOption()->hasFocus());
    EXPECT_FALSE(dialog.DelayOption()->isChecked());
    EXPECT_FALSE(dialog.DateOption()->isChecked());
}

// The pickers start a minute ahead, so that the date option taken as it comes, a little
// while later, is not refused as past; midnight moves the date along too.
TEST_F(SendLaterDlgTest, ThePickersStartAMinuteAheadAndTheirDefaultsAreAccepted)
{
    const QDateTime beforeMidnight(QDate(2026, 12, 10), QTime(23, 59, 30));
    for (std::time_t opened :
         {clock.Now(), static_cast<std::time_t>(beforeMidnight.toSecsSinceEpoch())}) {
        SCOPED_TRACE(opened);
        clock.SetNow(opened);
        CSendLaterDlg dialog(settings.options, prompt, clock);
        const QDateTime ahead = QDateTime::fromSecsSinceEpoch(opened + 60);
        EXPECT_EQ(dialog.DatePicker()->date(), ahead.date());
        EXPECT_EQ(dialog.TimePicker()->time(), ahead.time());
        dialog.show();
        dialog.DateOption()->click();
        clock.SetNow(opened + 20); // the user reads the dialog first
        PressOk(dialog);
        EXPECT_TRUE(prompt.Messages.empty());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Moment(), opened + 60);
    }
}

TEST_F(SendLaterDlgTest, OptionsMoveTheFocusAndControlsChooseTheirOption)
{
    CSendLaterDlg dialog(settings.options, prompt, clock);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.DateOption()->click();
    EXPECT_TRUE(dialog.DatePicker()->hasFocus());
    dialog.DelayOption()->click();
    EXPECT_TRUE(dialog.Hours()->hasFocus());

    dialog.TimePicker()->setFocus();
    EXPECT_TRUE(dialog.DateOption()->isChecked());
    dialog.Minutes()->setFocus();
    EXPECT_TRUE(dialog.DelayOption()->isChecked());
    dialog.DatePicker()->setFocus();
    EXPECT_TRUE(dialog.DateOption()->isChecked());
    dialog.Hours()->setFocus();
    EXPECT_TRUE(dialog.DelayOption()->isChecked());
}

TEST_F(SendLaterDlgTest, DelayOutOfRangeIsRefusedAndAGoodOneIsStored)
{
    CSendLaterDlg dialog(settings.options, prompt, clock);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.DelayOption()->click();
    TypeInto(dialog.Hours(), "24");
    PressOk(dialog);
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text, "Please enter an integer between 0 and 23.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.Hours()->hasFocus());

    TypeInto(dialog.Hours(), "2");
    TypeInto(dialog.Minutes(), "75");
    PressOk(dialog);
    ASSERT_EQ(prompt.Messages.size(), 2u);
    EXPECT_EQ(prompt.Messages[1].Text, "Please enter an integer between 0 and 59.");
    EXPECT_TRUE(dialog.Minutes()->hasFocus());

    TypeInto(dialog.Minutes(), "5");
    PressOk(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Moment(), clock.Now() + 125 * 60);
    EXPECT_EQ(settings.options.Get(Opt::SendLaterHours), 2);
    EXPECT_EQ(settings.options.Get(Opt::SendLaterMinutes), 5);
}

TEST_F(SendLaterDlgTest, DateInThePastIsRefusedAndTheCurrentMomentAccepted)
{
    CSendLaterDlg dialog(settings.options, prompt, clock);
    dialog.show();
    dialog.DateOption()->click();
    const QDateTime now = QDateTime::fromSecsSinceEpoch(clock.Now());
    dialog.TimePicker()->setTime(now.time().addSecs(-1));
    PressOk(dialog);
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text, kSendLaterPastText);
    EXPECT_TRUE(dialog.isVisible());

    dialog.TimePicker()->setTime(now.time());
    PressOk(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Moment(), clock.Now());
    EXPECT_EQ(settings.options.Get(Opt::SendLaterHours), 0); // only the delay is remembered
}

} // namespace
