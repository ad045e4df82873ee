#include "ui/AboutDlg.h"

#include "TestSupport.h"
#include "ui/HelpCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

void Press(QWidget* widget, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(widget, &press);
}

TEST(AboutDlgTest, BuildDateTakesThePlaceOfReleaseAndATextWithoutItIsShownAsItIs)
{
    EXPECT_EQ(AboutText("Product released on [release].", "September 16, 2006"),
              "Product released on September 16, 2006.");
    EXPECT_EQ(AboutText("[release] [release]", "May 1, 2026"), "May 1, 2026 May 1, 2026");
    EXPECT_EQ(AboutText("No date here.", "May 1, 2026"), "No date here.");
    // A date that itself holds the place holder is not replaced again and again.
    EXPECT_EQ(AboutText("[release]", "[release]!"), "[release]!");

    const std::string resource = AboutResource();
    ASSERT_NE(resource.find("[release]"), std::string::npos);
    CAboutDlg dialog(resource, "September 16, 2006");
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Zib Tam 2.5"));
    QString text = dialog.TextView()->document()->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Product released on September 16, 2006.")));
    EXPECT_FALSE(text.contains(QStringLiteral("[release]")));
    EXPECT_FALSE(text.contains(QLatin1Char('\\'))); // no RTF shows through
}

TEST(AboutDlgTest, KeysScrollCopyEverythingAndNeverSelect)
{
    std::string rtf = "{\\rtf1\\ansi ";
    for (int i = 0; i < 200; ++i)
        rtf += "Line " + std::to_string(i) + "\\par ";
    rtf += "}";
    CAboutDlg dialog(rtf, "");
    dialog.resize(400, 300);
    dialog.show();
    QTextBrowser* view = dialog.TextView();
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);

    const struct
    {
        int key;
        Qt::KeyboardModifiers mods;
        int expected; // -1: unchanged
    } cases[] = {
        {Qt::Key_Down, Qt::NoModifier, bar->singleStep()},
        {Qt::Key_Up, Qt::NoModifier, 0},
        {Qt::Key_PageDown, Qt::NoModifier, bar->pageStep()},
        {Qt::Key_PageUp, Qt::NoModifier, 0},
        {Qt::Key_Space, Qt::NoModifier, bar->pageStep()},
        {Qt::Key_Space, Qt::ShiftModifier, 0},
        {Qt::Key_End, Qt::ControlModifier, bar->maximum()},
        {Qt::Key_Home, Qt::ControlModifier, 0},
        {Qt::Key_Down, Qt::ShiftModifier, 0}, // Shift+arrow neither scrolls nor selects
        {Qt::Key_A, Qt::ControlModifier, 0},
    };
    for (const auto& c : cases) {
        Press(view, c.key, c.mods);
        EXPECT_EQ(bar->value(), c.expected) << c.key;
        EXPECT_FALSE(view->textCursor().hasSelection()) << c.key;
    }

    QApplication::clipboard()->clear();
    Press(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), view->document()->toPlainText());
    EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("Line 199")));
    EXPECT_FALSE(view->textCursor().hasSelection());

    Press(view, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(HelpCommandsTest, ContentsWritesTheReadMePageOverAnEarlierCopyAndOpensIt)
{
    TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    {
        QFile old(folder + QStringLiteral("/Zib Tam Read Me.htm"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older page that is longer than nothing at all");
    }
    std::vector<QUrl> opened;
    QString path = OpenReadMe([&](const QUrl& url, OpenResult) { opened.push_back(url); }, folder);
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(path, folder + QStringLiteral("/Zib Tam Read Me.htm"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(path));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    QFile resource(QStringLiteral(":/zibtam/readme.htm"));
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), resource.readAll());

    // A folder that cannot be written to opens nothing.
    opened.clear();
    EXPECT_TRUE(OpenReadMe([&](const QUrl& url, OpenResult) { opened.push_back(url); },
                           folder + QStringLiteral("/missing/deeper"))
                    .isEmpty());
    EXPECT_TRUE(opened.empty());
}

TEST(HelpCommandsTest, ContentsGoesToThePrivateRuntimeFolderNotTheSharedTemporaryOne)
{
    // A fixed name in /tmp could be held by another user of the computer.
    TempDir dir;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray(dir.Path().c_str()));
    QString path = OpenReadMe([](const QUrl&, OpenResult) {});
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(path, QString::fromStdString((dir.Path() / "zibtam/Zib Tam Read Me.htm").string()));
    EXPECT_EQ(std::filesystem::status(dir.Path() / "zibtam").permissions(),
              std::filesystem::perms::owner_all);
}

} // namespace
