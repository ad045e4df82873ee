// The chat history and the recipient picker on a real X server, in a light and a dark
// palette: the last message in view, the picker's list whole on the screen, below the face
// or above it near the screen's bottom. With ZT_SCREENSHOT_DIR set, the screen is saved as
// a PNG for a person to look at.
#include "TestSupport.h"
#include "ViewTestSupport.h"
#include "app/desktop/UsersListWidget.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

QPalette DarkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(38, 79, 120));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(110, 160, 255));
    return dark;
}

void SaveScreen(const QString& name)
{
    const QString dir = qEnvironmentVariable("ZT_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + QLatin1Char('/') + name +
                                                         QStringLiteral(".png"));
}

ChatMessage Message(const char* sender, const char* text, std::vector<std::string> to)
{
    ChatMessage message;
    message.Sender = sender;
    message.Text = text;
    message.Recipients = std::move(to);
    message.AllUsers = message.Recipients.empty();
    message.Time = MakeTime(2026, 12, 10, 15, 47, 38);
    return message;
}

class HistoryScreensTest : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        m_palette = QApplication::palette();
        if (GetParam())
            QApplication::setPalette(DarkPalette());
    }
    void TearDown() override { QApplication::setPalette(m_palette); }
    QString Name(const char* what) const
    {
        return QString::fromLatin1(what) +
               (GetParam() ? QStringLiteral("-dark") : QStringLiteral("-light"));
    }

private:
    QPalette m_palette;
};

TEST_P(HistoryScreensTest, HistoryWithMessagesLinksAndANotice)
{
    FakePrompt prompt;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Zib Tam"));
    auto* layout = new QVBoxLayout(&window);
    auto* plain = new CChatHistory(prompt);
    auto* custom = new CChatHistory(prompt);
    layout->addWidget(new QLabel(QStringLiteral("Default fonts and background:")));
    layout->addWidget(plain);
    layout->addWidget(new QLabel(QStringLiteral("Custom background, links off:")));
    layout->addWidget(custom);
    window.resize(560, 460);
    window.move(20, 20);

    const std::vector<ChatMessage> messages = {
        Message("R.T.", "Lunch at noon? The menu is at www.example.org/menu", {"Owen"}),
        Message("Owen", "Yes!\r\nI'll mail ann@example.org too.", {"R.T.", "Ann"}),
        Message("Ann", "Count me in \x96 caf\xe9 {upstairs} at C:\\Temp\\plan.txt", {}),
    };
    HistoryDisplaySettings settings;
    plain->ApplyDisplaySettings(settings);
    plain->AddMessages(messages);
    plain->PostNotice("Could not confirm that Bob received your message.", "Owen");

    settings.Background = 0x00D0F0FF; // a light yellow
    settings.Links = false;
    settings.PrefixFont = Font("DejaVu Sans", 200, 0x00800000, true);
    settings.MessageFont = Font("DejaVu Serif", 220, 0x00004000, false, true);
    custom->ApplyDisplaySettings(settings);
    custom->AddMessages(messages);

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(100);
    for (CChatHistory* history : {plain, custom}) {
        QScrollBar* bar = history->Edit().verticalScrollBar();
        EXPECT_EQ(bar->value(), bar->maximum()); // the last message in view
        EXPECT_GT(history->Edit().viewport()->height(), 40);
    }
    SaveScreen(Name("history"));

    CChatHistoryEdit& edit = plain->Edit();
    edit.ShowReloadNotice("The Zib Tam log has changed and must be reloaded.");
    QTest::qWait(50);
    EXPECT_EQ(edit.textCursor().position(), 0);
    SaveScreen(Name("history-notice"));
}

TEST_P(HistoryScreensTest, PickerOpenBelowAndAbove)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (bool nearBottom : {false, true}) {
        TestSettings settings;
        QWidget window;
        window.setWindowTitle(QStringLiteral("Zib Tam"));
        auto* layout = new QVBoxLayout(&window);
        auto* label = new QLabel(QStringLiteral("&To:"));
        auto* to = new CUsersList(&settings.options);
        label->setBuddy(to);
        layout->addWidget(label);
        layout->addWidget(to);
        layout->addStretch();
        window.resize(320, 120);
        window.move(60, nearBottom ? screen.bottom() - 160 : 60);
        to->OnConnected();
        for (const char* name : {"Owen", "R.T.", "Ann", "Bob", "Cy", "Dee", "Eve", "Fay"})
            to->UserArrived(name);
        to->SelectUsers({"Owen", "R.T.", "Ann"}, true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        to->OpenList();
        QTest::qWait(100);
        QListWidget* list = to->List();
        ASSERT_TRUE(list->isVisible());
        EXPECT_TRUE(screen.contains(list->frameGeometry())) << nearBottom;
        const QRect face(to->mapToGlobal(QPoint(0, 0)), to->size());
        if (nearBottom)
            EXPECT_LE(list->frameGeometry().bottom(), face.top());
        else
            EXPECT_GE(list->frameGeometry().top(), face.bottom());
        EXPECT_EQ(to->DisplayedText(), QStringLiteral("Ann, Owen, and R.T."));
        SaveScreen(Name(nearBottom ? "picker-above" : "picker-below"));
        to->CloseList();
    }
}

INSTANTIATE_TEST_SUITE_P(Palettes, HistoryScreensTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& palette) {
                             return palette.param ? "Dark" : "Light";
                         });

} // namespace
