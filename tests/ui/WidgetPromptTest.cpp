// The prompt's real message boxes: how their text is laid out.
#include "ui/WidgetPrompt.h"

#include "sendlater/SendLater.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// A text's own line breaks are where its lines end: a line that fits on the screen is not
// wrapped again, leaving a word alone on a line ("...cannot enter into" / "the" / "past...").
TEST(WidgetPromptTest, AMessagesOwnLinesAreNotWrappedAgain)
{
    struct Case
    {
        std::string Text;
        int Lines; // 0: wrapped, on more lines than the text has
    };
    std::string endless;
    for (int i = 0; i < 200; ++i)
        endless += "word ";
    const std::vector<Case> cases = {
        {kSendLaterPastText, 2},
        {"Short.", 1},
        {"One\nTwo\nThree", 3},
        {endless, 0}, // wider than the screen: the box wraps it within the screen
        // One paragraph is wrapped by the box as usual, not laid out as one long line.
        {kSendLaterNoOptionText, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        int shownLines = 0;
        int boxWidth = 0;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(label, nullptr);
            const QRect room(0, 0, label->contentsRect().width(), 10'000);
            const int flags = Qt::TextWordWrap | static_cast<int>(label->alignment());
            shownLines = label->fontMetrics().boundingRect(room, flags, label->text()).height() /
                         label->fontMetrics().lineSpacing();
            boxWidth = box->frameGeometry().width();
            box->accept();
        });
        CWidgetPrompt prompt;
        prompt.MessageBox(c.Text, "Zib Tam Freeware", PromptButtons::Ok, PromptIcon::Information);
        if (c.Lines > 0) {
            EXPECT_EQ(shownLines, c.Lines);
        } else {
            EXPECT_GT(shownLines, 1);
        }
        EXPECT_LE(boxWidth, QApplication::primaryScreen()->availableGeometry().width());
    }
}

} // namespace
