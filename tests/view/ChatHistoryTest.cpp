// The history widgets offscreen: what the document holds against what the model says.
#include "view/ChatHistory.h"

#include "EventWait.h"
#include "TestSupport.h"
#include "ViewTestSupport.h"
#include "platform/QtText.h"
#include "view/ChatHistoryEdit.h"
#include "view/HistoryProgress.h"
#include "view/OpenLink.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

HistoryDisplaySettings Settings(bool links = true)
{
    HistoryDisplaySettings settings;
    settings.PrefixFormat = "<a>u</a> <a>r</a>> ";
    settings.Links = links;
    settings.Background = 0x00E0FFFF;
    return settings;
}

// The document's characters [start, end), paragraph marks as "\n", in Windows-1252.
std::string Text(const QTextDocument& document, int start, int end)
{
    QTextCursor range(const_cast<QTextDocument*>(&document));
    range.setPosition(start);
    range.setPosition(end, QTextCursor::KeepAnchor);
    QString text = range.selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return ToCp1252(text);
}

QTextCharFormat FormatAt(const QTextDocument& document, int position)
{
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

// Every shown message lies at its range: prefix, text, paragraph mark; the text's end is
// the end of the last range.
void ExpectDocumentMatchesModel(const CChatHistoryEdit& edit)
{
    const CHistoryEditModel& model = edit.Model();
    const QTextDocument& document = *edit.document();
    EXPECT_EQ(document.characterCount() - 1, model.TextLength());
    for (size_t i = 0; i < model.Ranges().size(); ++i) {
        const MessageRange& range = model.Ranges()[i];
        const std::string shown = Text(document, range.Start, range.End);
        EXPECT_EQ(shown.back(), '\n');
        const std::string& text = model.Messages()[i].Text;
        const std::string kept = BreakLongRuns(NormaliseHistoryText(text));
        ASSERT_GE(shown.size(), kept.size() + 1);
        EXPECT_TRUE(shown.ends_with(kept + "\n")) << i;
    }
    for (const PrefixLink& link : model.Links()) {
        const QTextCharFormat format = FormatAt(document, link.Start);
        EXPECT_TRUE(format.isAnchor()) << link.Start;
        EXPECT_EQ(Text(document, link.Start, link.End),
                  link.Kind == kPrefixLinkSender
                      ? model.Messages()[static_cast<size_t>(link.MessageIndex)].Sender
                      : FormatRecipients(model.Messages()[static_cast<size_t>(link.MessageIndex)]));
        EXPECT_FALSE(FormatAt(document, link.End).anchorHref() == format.anchorHref());
    }
}

struct Fixture
{
    FakePrompt prompt;
    std::vector<QUrl> opened;
    bool openWorks = true;
    CChatHistory history{prompt};
    CChatHistoryEdit& edit = history.Edit();

    Fixture()
    {
        history.resize(400, 300);
        history.ApplyDisplaySettings(Settings());
        edit.SetUrlOpener([this](const QUrl& url, OpenResult done) {
            opened.push_back(url);
            done(openWorks);
        });
    }
};

TEST(ChatHistoryTest, RangesAndLinksAfterAppendsAndAClear)
{
    Fixture f;
    struct Step
    {
        enum
        {
            Append,
            Set,
            Clear,
            Filter,
        } What;
        std::vector<ChatMessage> Messages;
        size_t Shown;
    };
    const std::vector<Step> steps = {
        {Step::Append,
         {Message("Ann", "hi"), Message("Bob", "two\r\nlines\rand\x01 www.x.org")},
         2},
        {Step::Append, {Message("Cy", "tab\there {b} \\ \xe9\x97\xa0")}, 3},
        {Step::Append, {}, 3},
        {Step::Clear, {}, 0},
        {Step::Append, {Message("Dee", "after the clear"), Message("Eve", "", {})}, 2},
        {Step::Set, {Message("Fay", "replaced"), Message("Gus", "mail g@x.org")}, 2},
        {Step::Filter, {}, 0},
    };
    for (const Step& step : steps) {
        switch (step.What) {
        case Step::Append:
            f.history.AddMessages(step.Messages);
            break;
        case Step::Set:
            f.history.SetMessages(step.Messages);
            break;
        case Step::Clear:
            f.history.Clear();
            break;
        case Step::Filter:
            f.history.SetTimeFilter(std::time(nullptr));
            break;
        }
        SCOPED_TRACE(static_cast<int>(&step - steps.data()));
        EXPECT_EQ(f.edit.Model().Messages().size(), step.Shown);
        ExpectDocumentMatchesModel(f.edit);
    }
}

TEST(ChatHistoryTest, ReadsBackEveryByteAndEveryFontSetting)
{
    FakePrompt prompt;
    CChatHistoryEdit edit(prompt);
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    const std::vector<std::pair<FontSpec, FontSpec>> fonts = {
        {HistoryDisplaySettings::DefaultPrefixFont(), HistoryDisplaySettings::DefaultMessageFont()},
        {Font("DejaVu Sans", 240, 0x000000FF, false, true, true, false),
         Font("DejaVu Serif", 190, 0x00FF8000, true, false, false, true)},
        {Font("Caf\xe9 {x}", 410, 0x00123456, true, true, true, true),
         Font("Liberation Mono", 160, 0x00FFFFFF)},
    };
    for (const auto& [prefixFont, messageFont] : fonts) {
        HistoryDisplaySettings settings = Settings();
        settings.PrefixFont = prefixFont;
        settings.MessageFont = messageFont;
        edit.ApplyDisplaySettings(settings);
        std::vector<ChatMessage> messages;
        for (int byte = 0; byte < 256; ++byte) {
            std::string text = "<?>";
            text[1] = static_cast<char>(byte);
            messages.push_back(Message("R.T.", text));
        }
        messages.push_back(Message("R.T.", all));
        edit.ShowMessages(messages, false);
        ExpectDocumentMatchesModel(edit);

        const QTextDocument& document = *edit.document();
        for (size_t i = 0; i < messages.size(); ++i) {
            const MessageRange& range = edit.Model().Ranges()[i];
            const int textStart =
                range.End - 1 - static_cast<int>(NormaliseHistoryText(messages[i].Text).size());
            for (int p = range.Start; p < range.End - 1; ++p) {
                const QTextCharFormat format = FormatAt(document, p);
                if (format.isAnchor() || Text(document, p, p + 1) == "\n")
                    continue;
                const FontSpec& font = p < textStart ? prefixFont : messageFont;
                ASSERT_EQ(format.fontFamilies().toStringList().value(0), FromCp1252(font.FaceName))
                    << i << " " << p;
                ASSERT_EQ(format.fontPointSize(), font.Size / 20.0) << p;
                ASSERT_EQ(format.fontWeight() == QFont::Bold, font.Bold) << p;
                ASSERT_EQ(format.fontItalic(), font.Italic) << p;
                ASSERT_EQ(format.fontUnderline(), font.Underline) << p;
                ASSERT_EQ(format.fontStrikeOut(), font.StrikeOut) << p;
                ASSERT_EQ(
                    format.foreground().color(),
                    QColor(ColorRed(font.Color), ColorGreen(font.Color), ColorBlue(font.Color)))
                    << p;
            }
        }
    }
}

TEST(ChatHistoryTest, NameLinkClicksReachTheParent)
{
    Fixture f;
    f.history.AddMessages(std::vector<ChatMessage>{Message("Ann", "1"), Message("Bob", "2"),
                                                   Message("Cy", "3", {"Owen", "Pat"})});
    std::vector<std::pair<std::string, int>> clicks;
    QObject::connect(
        &f.history, &CChatHistory::NameLinkClicked,
        [&](const ChatMessage& message, int kind) { clicks.emplace_back(message.Sender, kind); });
    const MessageRange third = f.edit.Model().Ranges()[2];
    // A real click on the third message's sender.
    f.history.show();
    QTextCursor at(f.edit.document());
    at.setPosition(third.Start + 1);
    const QPoint point = f.edit.cursorRect(at).center() - QPoint(2, 0);
    QMouseEvent press(QEvent::MouseButtonPress, point, f.edit.viewport()->mapToGlobal(point),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.edit.viewport(), &press);
    f.edit.ClickLinkAt(third.Start + 5); // "Owen and Pat"
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0], std::make_pair(std::string("Cy"), int{kPrefixLinkSender}));
    EXPECT_EQ(clicks[1], std::make_pair(std::string("Cy"), int{kPrefixLinkRecipients}));

    // Without name links the names are plain text; addresses stay links.
    f.history.ApplyDisplaySettings(Settings(false));
    f.history.AddMessage(Message("Dee", "see www.x.org"));
    f.edit.ClickLinkAt(third.Start);
    EXPECT_EQ(clicks.size(), 2u);
    const MessageRange last = f.edit.Model().Ranges().back();
    f.edit.ClickLinkAt(last.End - 3);
    ASSERT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.opened[0].toString(), QStringLiteral("http://www.x.org"));
    EXPECT_TRUE(f.prompt.Messages.empty());
    f.openWorks = false;
    f.edit.ClickLinkAt(last.End - 3);
    ASSERT_EQ(f.prompt.Messages.size(), 1u);
    EXPECT_EQ(f.prompt.Messages[0].Text, OpenLinkFailureText("www.x.org"));
}

TEST(ChatHistoryTest, ClearSelectedMessagesWithTheKeyboard)
{
    struct Case
    {
        int Start, End; // in message ranges: -1 is the text's end
        std::string Left;
    };
    const Case cases[] = {
        {1, 1, "ACD"}, // caret at the start of the second message
        {1, 2, "ACD"}, // exactly the second message
        {0, 4, ""},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.history.AddMessages(std::vector<ChatMessage>{Message("A", "x"), Message("B", "y"),
                                                       Message("C", "z"), Message("D", "w")});
        const auto& ranges = f.edit.Model().Ranges();
        auto position = [&](int index) {
            return index < static_cast<int>(ranges.size())
                       ? ranges[static_cast<size_t>(index)].Start
                       : f.edit.Model().TextLength();
        };
        QTextCursor selection(f.edit.document());
        selection.setPosition(position(c.Start));
        selection.setPosition(position(c.End), QTextCursor::KeepAnchor);
        f.edit.setTextCursor(selection);
        const int caretWas = position(c.Start);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier);
        QApplication::sendEvent(&f.edit, &key);
        std::string left;
        for (const ChatMessage& message : f.edit.Model().Messages())
            left += message.Sender;
        EXPECT_EQ(left, c.Left);
        ExpectDocumentMatchesModel(f.edit);
        EXPECT_EQ(f.edit.textCursor().position(), std::min(caretWas, f.edit.Model().TextLength()));
    }
}

TEST(ChatHistoryTest, ContextMenuAndOpen)
{
    struct Case
    {
        std::string Text;
        const char* Item;
        bool Enabled;
        const char* Opened;
    };
    const Case cases[] = {
        {"C:\\Temp\\file.txt\\", "&Open \"C:\\Temp\\file.txt\"", true, nullptr},
        {"http://www.example.org/a/very/long/path", "&Open \"http://www.example.org...\"", true,
         "http://www.example.org/a/very/long/path"},
        {"\\\\server\\share\\", "&Open \"\\\\server\\share\"", true, "smb://server/share"},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.history.AddMessage(Message("A", c.Text));
        const MessageRange range = f.edit.Model().Ranges()[0];
        QTextCursor selection(f.edit.document());
        selection.setPosition(range.End - 1 - static_cast<int>(c.Text.size()));
        selection.setPosition(range.End - 1, QTextCursor::KeepAnchor);
        f.edit.setTextCursor(selection);
        std::unique_ptr<QMenu> menu(f.edit.CreateContextMenu());
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), 6);
        EXPECT_EQ(actions[0]->text(), QStringLiteral("&Copy"));
        EXPECT_TRUE(actions[0]->isEnabled());
        EXPECT_EQ(actions[3]->text(), QStringLiteral("Clear &Selected Messages\tCtrl+D"));
        EXPECT_TRUE(actions[4]->isSeparator());
        EXPECT_EQ(ToCp1252(actions[5]->text()), c.Item);
        EXPECT_EQ(actions[5]->isEnabled(), c.Enabled);
        f.openWorks = false;
        actions[5]->trigger();
        // A Windows drive path names no file here: nothing is handed to the desktop.
        ASSERT_EQ(f.opened.size(), c.Opened ? 1u : 0u);
        if (c.Opened) {
            EXPECT_EQ(ToCp1252(f.opened[0].toString()), c.Opened);
        }
        ASSERT_EQ(f.prompt.Messages.size(), 1u);
        EXPECT_EQ(f.prompt.Messages[0].Text, "Could not open \"" + TrimOpenText(c.Text) + "\"!");
    }
    Fixture empty;
    std::unique_ptr<QMenu> menu(empty.edit.CreateContextMenu());
    for (QAction* action : menu->actions())
        EXPECT_FALSE(action->isEnabled() && !action->isSeparator()) << ToCp1252(action->text());
}

struct CancellingProgress : IHistoryProgress
{
    bool Cancel = true;
    std::vector<std::string> Status;
    void SetStatusText(const std::string& text) override { Status.push_back(text); }
    bool IsCancelled() override { return Cancel; }
};

TEST(ChatHistoryTest, NoticesAndTheirLinks)
{
    Fixture f;
    CancellingProgress progress;
    f.history.SetMessages({Message("A", "x"), Message("B", "y")}, &progress);
    EXPECT_EQ(f.edit.toPlainText(), QStringLiteral("The messages are not displayed.  Display.\n"));
    f.history.AddMessage(Message("C", "z"));
    EXPECT_EQ(f.edit.toPlainText(), QStringLiteral("The messages are not displayed.  Display.\n"));
    QString status;
    QObject::connect(&f.history, &CChatHistory::StatusText, [&](const QString& s) { status = s; });
    f.edit.ClickLinkAt(35);
    EXPECT_EQ(status, QStringLiteral("Redisplaying Zib Tam log..."));
    EXPECT_EQ(f.edit.Model().Messages().size(), 3u);
    ExpectDocumentMatchesModel(f.edit);

    int reloads = 0;
    QObject::connect(&f.history, &CChatHistory::ReloadRequested, [&] { ++reloads; });
    f.history.ShowReloadNotice("The Zib Tam log has changed and must be reloaded.");
    EXPECT_TRUE(f.edit.toPlainText().startsWith(QStringLiteral("The Zib Tam log has changed")));
    f.edit.ClickLinkAt(f.edit.document()->characterCount() - 4);
    EXPECT_EQ(reloads, 1);
    f.history.AddMessage(Message("D", "w"));
    EXPECT_EQ(f.edit.Model().Messages().size(), 1u);
    ExpectDocumentMatchesModel(f.edit);
}

TEST(ChatHistoryTest, LongAndManyMessagesAndAccessibility)
{
    Fixture f;
    EXPECT_EQ(f.edit.accessibleName(), QStringLiteral("Chat history"));
    const std::string word(20480, 'w');
    f.history.AddMessage(Message("A", word));
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    f.history.AddMessage(Message("B", all));
    std::vector<ChatMessage> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back(Message("C", "message " + std::to_string(i)));
    f.history.AddMessages(many);
    EXPECT_EQ(f.edit.Model().Messages().size(), 10002u);
    ExpectDocumentMatchesModel(f.edit);
    QApplication::processEvents();

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&f.edit);
    ASSERT_NE(accessible, nullptr);
    ASSERT_NE(accessible->textInterface(), nullptr);
    const QString text = accessible->textInterface()->text(0, 20);
    EXPECT_EQ(text, QStringLiteral("A Owen> wwwwwwwwwwww"));

    // The long word is laid out in pieces the view may break, yet copied as it came.
    const MessageRange range = f.edit.Model().Ranges()[0];
    const QString shown =
        f.edit.document()->toPlainText().mid(range.Start, range.End - range.Start);
    EXPECT_EQ(shown.count(QChar(0xAD)),
              static_cast<qsizetype>((word.size() - 1) / kLongestUnbrokenRun));
    QTextCursor selection(f.edit.document());
    selection.setPosition(range.Start + 8);
    selection.setPosition(range.End - 1, QTextCursor::KeepAnchor);
    f.edit.setTextCursor(selection);
    EXPECT_EQ(f.edit.SelectedText(), word);
    f.edit.copy();
    EXPECT_EQ(ToCp1252(QApplication::clipboard()->text()), word);
}

// A long history shown whole is laid out a slice at a time between events, not all at once
// to find its end; the end is shown once the slices are done, and a message arriving
// meanwhile or a clear do not leave the view frozen.
TEST(ChatHistoryTest, LongHistoryIsLaidOutInSlices)
{
    std::vector<ChatMessage> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back(Message("C", "message number " + std::to_string(i) + " of a long day"));
    auto settle = [](CChatHistoryEdit& edit) {
        for (int turn = 0; turn < 10000 && edit.EndPending(); ++turn)
            QApplication::processEvents();
        return !edit.EndPending();
    };
    auto lastBlockLaidOut = [](const CChatHistoryEdit& edit) {
        return edit.document()->lastBlock().layout()->lineCount() > 0;
    };
    for (const bool addMeanwhile : {false, true}) {
        Fixture f;
        f.history.show();
        f.history.clearFocus();
        f.history.SetMessages(many);
        EXPECT_TRUE(f.edit.EndPending());
        EXPECT_FALSE(lastBlockLaidOut(f.edit));
        EXPECT_FALSE(f.edit.updatesEnabled()); // the old picture stays until the end shows
        if (addMeanwhile)
            f.history.AddMessage(Message("D", "the last word"));
        ASSERT_TRUE(settle(f.edit));
        EXPECT_TRUE(f.edit.updatesEnabled());
        EXPECT_TRUE(lastBlockLaidOut(f.edit));
        ExpectDocumentMatchesModel(f.edit);
        EXPECT_EQ(f.edit.textCursor().position(), f.edit.Model().TextLength()) << addMeanwhile;
        QScrollBar* bar = f.edit.verticalScrollBar();
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum()) << addMeanwhile;
    }

    Fixture f;
    f.history.SetMessages(many);
    ASSERT_TRUE(f.edit.EndPending());
    f.history.Clear();
    EXPECT_FALSE(f.edit.EndPending());
    EXPECT_TRUE(f.edit.updatesEnabled());
}

// While a long history is still being written and laid out in slices, what happens
// meanwhile (a message arriving, another redisplay, a clear, a resize, a copy of everything)
// loses nothing and leaves the view at the newest message, laid out at its width. The
// history has the focus, where the caret is not moved to the end unless the end was due.
TEST(ChatHistoryTest, ALongDisplayMeetsWhatHappensMeanwhile)
{
    std::vector<ChatMessage> many;
    for (int i = 0; i < 6000; ++i)
        many.push_back(Message("C", "message number " + std::to_string(i) + " of a long day"));
    enum class Phase
    {
        BeforeTheFirstSlice,
        Writing,
        LayingOut,
    };
    enum class Meanwhile
    {
        Add,
        Redisplay,
        ClearAndAdd,
        Resize,
        CopyWithKeys,
        CopyFromMenu,
    };
    struct Case
    {
        Phase At;
        Meanwhile What;
    };
    const Case cases[] = {
        {Phase::BeforeTheFirstSlice, Meanwhile::Add}, {Phase::Writing, Meanwhile::Add},
        {Phase::LayingOut, Meanwhile::Add},           {Phase::Writing, Meanwhile::Redisplay},
        {Phase::Writing, Meanwhile::ClearAndAdd},     {Phase::Writing, Meanwhile::Resize},
        {Phase::LayingOut, Meanwhile::Resize},        {Phase::Writing, Meanwhile::CopyWithKeys},
        {Phase::Writing, Meanwhile::CopyFromMenu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.At)) + " " +
                     std::to_string(static_cast<int>(c.What)));
        Fixture f;
        f.history.show();
        f.history.activateWindow();
        f.edit.setFocus();
        QApplication::processEvents();
        ASSERT_TRUE(f.edit.hasFocus());
        f.history.SetMessages(many);
        ASSERT_TRUE(f.edit.EndPending());
        const auto written = [&] {
            return f.edit.document()->characterCount() - 1 == f.edit.Model().TextLength();
        };
        const auto reached = [&] {
            switch (c.At) {
            case Phase::BeforeTheFirstSlice:
                return true;
            case Phase::Writing:
                return f.edit.document()->characterCount() > 1 && !written();
            case Phase::LayingOut:
                return written();
            }
            return false;
        };
        for (int turn = 0; turn < 10000 && f.edit.EndPending() && !reached(); ++turn)
            QApplication::processEvents();
        ASSERT_TRUE(f.edit.EndPending() && reached()) << "the phase went by unseen";

        QApplication::clipboard()->clear();
        switch (c.What) {
        case Meanwhile::Add:
            f.history.AddMessage(Message("D", "the last word"));
            break;
        case Meanwhile::Redisplay:
            f.history.Redisplay();
            break;
        case Meanwhile::ClearAndAdd:
            f.history.Clear();
            f.history.AddMessage(Message("D", "the last word"));
            break;
        case Meanwhile::Resize:
            f.history.resize(500, 350);
            break;
        case Meanwhile::CopyWithKeys:
            for (const Qt::Key key : {Qt::Key_A, Qt::Key_C}) {
                QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
                QApplication::sendEvent(&f.edit, &press);
            }
            break;
        case Meanwhile::CopyFromMenu:
            f.history.SelectAll();
            f.history.Copy();
            break;
        }
        const QString copied = QApplication::clipboard()->text();
        for (int turn = 0; turn < 10000 && f.edit.EndPending(); ++turn)
            QApplication::processEvents();
        ASSERT_FALSE(f.edit.EndPending());

        ExpectDocumentMatchesModel(f.edit);
        const bool added = c.What == Meanwhile::Add || c.What == Meanwhile::ClearAndAdd;
        EXPECT_EQ(f.edit.Model().Messages().size(),
                  c.What == Meanwhile::ClearAndAdd ? 1u : many.size() + (added ? 1 : 0));
        if (added) {
            EXPECT_EQ(f.edit.Model().Messages().back().Sender, "D");
        }
        if (c.What == Meanwhile::CopyWithKeys || c.What == Meanwhile::CopyFromMenu) {
            EXPECT_EQ(copied, f.edit.toPlainText())
                << "copied " << copied.size() << " of " << f.edit.toPlainText().size();
        }
        // Laid out at the view's width, and at its end: the caret (unless a clear ended the
        // display before it, and the caret stays where it is with the focus), the scroll bar
        // and the last message in view.
        EXPECT_EQ(f.edit.document()->pageSize().width(), f.edit.viewport()->width());
        if (c.What != Meanwhile::ClearAndAdd) {
            EXPECT_EQ(f.edit.textCursor().position(), f.edit.Model().TextLength());
        }
        QScrollBar* bar = f.edit.verticalScrollBar();
        EXPECT_EQ(bar->value(), bar->maximum());
        QTextCursor last(f.edit.document());
        last.setPosition(f.edit.Model().Ranges().back().Start);
        const QRect line = f.edit.cursorRect(last);
        EXPECT_GE(line.top(), 0);
        EXPECT_LE(line.bottom(), f.edit.viewport()->height());
    }
}

// Links next to each other (a sender and his recipients, a prefix that ends with a link and
// a text that starts with an address) are clicked apart, also on a history scrolled to its
// end.
TEST(ChatHistoryTest, LinksNextToEachOtherAreClickedApart)
{
    Fixture f;
    HistoryDisplaySettings settings = Settings();
    settings.PrefixFormat = "<a>u</a><a>r</a>";
    f.history.ApplyDisplaySettings(settings);
    std::vector<ChatMessage> messages;
    for (int i = 0; i < 60; ++i) {
        const std::string number = std::to_string(i);
        messages.push_back(Message(std::string("S").append(number), "www.x" + number + ".org"));
    }
    f.history.show();
    f.history.clearFocus();
    f.history.SetMessages(messages);
    QApplication::processEvents();
    ASSERT_GT(f.edit.verticalScrollBar()->value(), 0);

    std::vector<std::pair<std::string, int>> clicks;
    QObject::connect(
        &f.history, &CChatHistory::NameLinkClicked,
        [&](const ChatMessage& message, int kind) { clicks.emplace_back(message.Sender, kind); });
    const MessageRange last = f.edit.Model().Ranges().back(); // "S59" "Owen" "www.x59.org"
    const auto pressAt = [&](int position) {
        QTextCursor at(f.edit.document());
        at.setPosition(position + 1);
        const QPoint point = f.edit.cursorRect(at).center() - QPoint(2, 0);
        QMouseEvent press(QEvent::MouseButtonPress, point, f.edit.viewport()->mapToGlobal(point),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.edit.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point,
                            f.edit.viewport()->mapToGlobal(point), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(f.edit.viewport(), &release);
    };
    pressAt(last.Start + 2); // the last letter of the sender
    pressAt(last.Start + 3); // the first of the recipients
    pressAt(last.Start + 6); // the last of the recipients
    pressAt(last.Start + 7); // the first of the address
    const std::vector<std::pair<std::string, int>> expected = {
        {"S59", kPrefixLinkSender},
        {"S59", kPrefixLinkRecipients},
        {"S59", kPrefixLinkRecipients},
    };
    EXPECT_EQ(clicks, expected);
    ASSERT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.opened[0].toString(), QStringLiteral("http://www.x59.org"));
}

// Black on a dark system background would vanish: it shows in the palette's text colour
// there; other colours, and black on a background of the user's choice, stay as set.
TEST(ChatHistoryTest, BlackTextOnADarkSystemBackground)
{
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    struct Case
    {
        bool Dark;
        std::optional<uint32_t> Background;
        uint32_t PrefixColor;
        QColor Prefix, Text; // as shown; the message font is black
    };
    const Case cases[] = {
        {false, std::nullopt, 0x00000000, QColor(0, 0, 0), QColor(0, 0, 0)},
        {true, std::nullopt, 0x00000000, QColor(230, 230, 230), QColor(230, 230, 230)},
        {true, std::nullopt, 0x00FF0000, QColor(0, 0, 255), QColor(230, 230, 230)},
        {true, 0x00D0F0FF, 0x00000000, QColor(0, 0, 0), QColor(0, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        QApplication::setPalette(c.Dark ? dark : light);
        Fixture f;
        HistoryDisplaySettings settings = Settings(false);
        settings.Background = c.Background;
        settings.PrefixFont = Font("DejaVu Sans", 200, c.PrefixColor, true);
        settings.MessageFont = Font("DejaVu Serif", 200, 0x00000000);
        f.history.ApplyDisplaySettings(settings);
        f.history.AddMessage(Message("Ann", "hello"));
        const MessageRange range = f.edit.Model().Ranges()[0];
        EXPECT_EQ(FormatAt(*f.edit.document(), range.Start).foreground().color(), c.Prefix);
        EXPECT_EQ(FormatAt(*f.edit.document(), range.End - 2).foreground().color(), c.Text);
    }
    QApplication::setPalette(light);
}

// An empty font setting is the control's own face and size, as the rest of the window has.
TEST(ChatHistoryTest, AnEmptyFontSettingIsTheControlsOwnFont)
{
    Fixture f;
    HistoryDisplaySettings settings = Settings();
    settings.MessageFont = FontSpec{};
    settings.MessageFont.Valid = true;
    f.history.ApplyDisplaySettings(settings);
    const QFont own = QApplication::font(&f.edit);
    const QFont shown = f.edit.document()->defaultFont();
    EXPECT_EQ(shown.family(), own.family());
    EXPECT_EQ(shown.pointSizeF(), own.pointSizeF());

    settings.MessageFont.FaceName = "Courier";
    settings.MessageFont.Size = 280; // 14 pt
    f.history.ApplyDisplaySettings(settings);
    EXPECT_EQ(f.edit.document()->defaultFont().families().front(), QStringLiteral("Courier"));
    EXPECT_EQ(f.edit.document()->defaultFont().pointSizeF(), 14.0);
}

// The desktop's opener runs in the background; its exit status says whether the link could
// be opened, and a failure is told in the program's words once it is known.
TEST(OpenLinkTest, TheOpenersOutcomeIsWaitedForAndAFailureIsTold)
{
    TempDir dir;
    const std::string folder = dir.Path().string();
    {
        std::ofstream script(folder + "/xdg-open");
        script << "#!/bin/sh\necho \"$1\" >> '" << folder << "/opened'\nsleep 0.2\nexit $(cat '"
               << folder << "/status')\n";
    }
    std::filesystem::permissions(folder + "/xdg-open", std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (folder + ":" + path).c_str(), 1);
    struct RestorePath
    {
        std::string Old;
        ~RestorePath() { setenv("PATH", Old.c_str(), 1); }
    } restore{path};

    struct Case
    {
        std::string Text;
        int Status; // of the opener
        bool Told;
    };
    const std::vector<Case> cases = {
        {"www.x.org", 0, false},
        {"www.x.org", 3, true},
        {"mailto:ann@x.org", 4, true},
        {"C:\\Temp\\file.txt", 0, true}, // a Windows drive: not opened here at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        std::ofstream(folder + "/status") << c.Status << "\n";
        std::filesystem::remove(folder + "/opened");
        FakePrompt prompt;
        OpenLink(c.Text, true, &prompt);
        const bool runsOpener = !IsDrivePath(c.Text);
        if (runsOpener) {
            EXPECT_TRUE(prompt.Messages.empty()) << "told before the opener answered";
        }
        if (runsOpener)
            WaitFor([&] { return !prompt.Messages.empty(); }, 1500);
        EXPECT_EQ(std::filesystem::exists(folder + "/opened"), runsOpener);
        ASSERT_EQ(prompt.Messages.size(), c.Told ? 1u : 0u);
        if (c.Told) {
            EXPECT_EQ(prompt.Messages[0].Text, OpenLinkFailureText(c.Text));
        }
    }
    EXPECT_EQ(OpenLinkFailureText("C:\\Temp\\file.txt"),
              "Zib Tam cannot open \"C:\\Temp\\file.txt\" here: it is a file on a drive of a "
              "Windows computer.");
}

// A link to a file of this computer in somebody else's message asks first, naming the file;
// in one's own message it opens at once.
TEST(ChatHistoryTest, AFileLinkFromSomebodyElseAsksFirst)
{
    TempDir dir;
    const std::string file = dir.File("notes.txt");
    std::ofstream(file) << "notes\n";
    for (bool own : {false, true}) {
        for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
            SCOPED_TRACE(std::string(own ? "own message, " : "Ann's message, ") +
                         (answer == PromptAnswer::Yes ? "Yes" : "No"));
            Fixture f;
            ChatMessage message = Message(own ? "Owen" : "Ann", "see file://" + file);
            message.Loopback = own;
            f.history.AddMessage(message);
            f.prompt.Answers = {answer};
            const MessageRange range = f.edit.Model().Ranges().back();
            f.edit.ClickLinkAt(range.End - 3);
            if (own) {
                EXPECT_TRUE(f.prompt.Messages.empty());
                EXPECT_EQ(f.opened.size(), 1u);
                continue;
            }
            ASSERT_EQ(f.prompt.Messages.size(), 1u);
            EXPECT_NE(f.prompt.Messages[0].Text.find(file), std::string::npos)
                << f.prompt.Messages[0].Text;
            EXPECT_EQ(f.opened.size(), answer == PromptAnswer::Yes ? 1u : 0u);
        }
    }
}

} // namespace
