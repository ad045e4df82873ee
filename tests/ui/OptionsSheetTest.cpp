#include "ui/OptionsSheet.h"

#include "OptionsTestSupport.h"
#include "platform/QtText.h"
#include "ui/LinkStatic.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"
#include "view/PrefixFormat.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QStringList TabTitles(const COptionsSheet& sheet)
{
    QStringList titles;
    for (int i = 0; i < sheet.Tabs()->count(); ++i)
        titles << sheet.Tabs()->tabText(i);
    return titles;
}

TEST(OptionsSheetTest, FullSheetAndFirstRunSheet)
{
    OptionsRig rig;
    COptionsSheet full(rig.Context(), COptionsSheet::Pages::All);
    EXPECT_EQ(full.windowTitle(), QStringLiteral("Zib Tam Options"));
    EXPECT_EQ(TabTitles(full),
              (QStringList{QStringLiteral("General"), QStringLiteral("Notifications"),
                           QStringLiteral("Format"), QStringLiteral("Networking")}));
    COptionsSheet first(rig.Context(), COptionsSheet::Pages::NetworkingOnly);
    EXPECT_EQ(TabTitles(first), QStringList{QStringLiteral("Networking")});
}

// Every control a screen reader can reach carries its label without "&".
TEST(OptionsSheetTest, EveryControlHasAnAccessibleName)
{
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
    int checked = 0;
    EXPECT_EQ(UnnamedControls(&sheet, checked), QStringList());
    EXPECT_GT(checked, 25);
    EXPECT_EQ(sheet.General()->NameEdit()->accessibleName(), QStringLiteral("Your name:"));
}

TEST(OptionsSheetTest, GeneralPageEnablingAndStore)
{
    OptionsRig rig;
    rig.Options().SetUserName("Owen");
    CGeneralPage page(rig.Context());
    EXPECT_EQ(page.NameEdit()->text(), QStringLiteral("Owen"));
    EXPECT_EQ(page.NameEdit()->cursorPosition(), 4);
    EXPECT_EQ(page.NameEdit()->maxLength(), 25);
    EXPECT_FALSE(page.TuringLink()->isVisibleTo(&page)); // "Turing" is 0

    // &View... follows the log box, the password edit its box.
    EXPECT_FALSE(page.ViewButton()->isEnabled());
    page.LogMessages()->setChecked(true);
    EXPECT_TRUE(page.ViewButton()->isEnabled());
    page.ViewButton()->click();
    EXPECT_EQ(rig.host.LogViewerStarts, 1);
    EXPECT_TRUE(rig.prompt.Messages.empty());
    rig.host.LogViewerStartSucceeds = false; // the process could not start: the user is told
    page.ViewButton()->click();
    ASSERT_EQ(rig.prompt.Messages.size(), 1u);
    EXPECT_EQ(rig.prompt.Messages.back().Text, "Zib Tam could not open the log viewer.");
    EXPECT_FALSE(page.PasswordEdit()->isEnabled());
    page.Protect()->setChecked(true);
    EXPECT_TRUE(page.PasswordEdit()->isEnabled());

    // A tab in the name becomes a blank where it was, the caret staying put.
    page.NameEdit()->setText(QStringLiteral("Owen\tPratley"));
    EXPECT_EQ(page.NameEdit()->text(), QStringLiteral("Owen Pratley"));

    page.PasswordEdit()->setText(QStringLiteral("secret"));
    page.PromptAllUsers()->setChecked(false);
    page.SelfChat()->setChecked(true);
    page.Store();
    EXPECT_EQ(rig.Options().GetUserName(), "Owen Pratley");
    EXPECT_EQ(rig.Options().GetPassword(), "secret");
    EXPECT_EQ(rig.Options().Get(Opt::PromptOnAllUsers), 0);
    EXPECT_EQ(rig.Options().Get(Opt::SelfChat), 1);
    EXPECT_EQ(rig.Options().Get(Opt::LogMessages), 1);

    // Unchecking the box drops the password, whatever the edit holds.
    CGeneralPage again(rig.Context());
    EXPECT_TRUE(again.Protect()->isChecked());
    EXPECT_EQ(again.PasswordEdit()->text(), QStringLiteral("secret"));
    again.Protect()->setChecked(false);
    again.Store();
    EXPECT_EQ(rig.Options().GetPassword(), "");
}

TEST(OptionsSheetTest, TuringLinkOpensTheEditorAndReloadsOnlyAfterOk)
{
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    CGeneralPage page(rig.Context());
    EXPECT_TRUE(page.TuringLink()->isVisibleTo(&page));

    rig.host.Answer = [](QDialog&) { return QDialog::Rejected; };
    page.OpenRuleEditor();
    EXPECT_EQ(rig.host.DialogsRun.back(), QStringLiteral("Zib Tam Turing Technology"));
    EXPECT_EQ(rig.host.RulesChangedCalls, 0);

    rig.host.Answer = [](QDialog& dialog) {
        dialog.accept();
        return dialog.result();
    };
    page.OpenRuleEditor();
    EXPECT_EQ(rig.host.RulesChangedCalls, 1);
}

// The "<Turing Technology>" link is one Tab stop, and a click, Enter, Space and a screen
// reader's press each open the rule editor once.
TEST(OptionsSheetTest, TuringLinkIsOneTabStopPressedAnyWay)
{
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    rig.Options().Set(Opt::LogMessages, 1);
    CGeneralPage page(rig.Context());
    page.show();
    page.activateWindow();
    QApplication::processEvents();
    CLinkStatic* link = page.TuringLink();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(link);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->role(), QAccessible::Link);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("<Turing Technology>"));

    auto key = [](QWidget* to, int code) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QApplication::sendEvent(to, &press);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
        QApplication::sendEvent(to, &release);
    };
    link->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(page.focusWidget(), link);
    key(link, Qt::Key_Tab);
    EXPECT_NE(page.focusWidget(), link) << "a second Tab stop inside the link";
    link->previousInFocusChain()->setFocus(Qt::TabFocusReason);
    key(page.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(page.focusWidget(), link);

    struct Way
    {
        const char* name;
        std::function<void()> press;
    } ways[] = {
        {"click", [&] { link->click(); }},
        {"Enter", [&] { key(link, Qt::Key_Return); }},
        {"keypad Enter", [&] { key(link, Qt::Key_Enter); }},
        {"Space", [&] { key(link, Qt::Key_Space); }},
        {"screen reader",
         [&] {
             ASSERT_TRUE(accessible->actionInterface());
             ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(
                 QAccessibleActionInterface::pressAction()));
             accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
         }},
    };
    for (const Way& way : ways) {
        size_t before = rig.host.DialogsRun.size();
        way.press();
        EXPECT_EQ(rig.host.DialogsRun.size(), before + 1) << way.name;
    }
}

TEST(OptionsSheetTest, PasswordPromptBeforeTheSheet)
{
    struct Case
    {
        const char* stored;
        bool answered;
        const char* typed;
        bool sheetShown;
        bool incorrect;
    } cases[] = {
        {"", true, "", true, false},
        {"abc", true, "abc", true, false},
        {"abc", true, "abd", false, true},
        {"abc", false, "abc", false, false},
    };
    for (const auto& c : cases) {
        OptionsRig rig;
        rig.Options().SetPassword(c.stored);
        rig.prompt.Inputs.push_back({c.answered, c.typed});
        RunOptionsFromChatWindow(rig.Context(), nullptr);
        EXPECT_EQ(!rig.host.DialogsRun.empty(), c.sheetShown) << c.stored << '/' << c.typed;
        EXPECT_EQ(!rig.prompt.Messages.empty(), c.incorrect);
        if (c.incorrect) {
            EXPECT_EQ(rig.prompt.Messages[0].Text, "Incorrect password.");
        }
        if (*c.stored) {
            ASSERT_EQ(rig.prompt.InputsAsked.size(), 1u);
            EXPECT_EQ(rig.prompt.InputsAsked[0].Caption, "Zib Tam Options");
            EXPECT_EQ(rig.prompt.InputsAsked[0].Text, "Please enter the password");
            EXPECT_EQ(rig.prompt.InputLimits[0], 255);
        } else {
            EXPECT_TRUE(rig.prompt.InputsAsked.empty());
        }
    }
}

// A password set on the General page either protects the options as typed (the prompt
// opens them with it and with nothing else) or is refused there with a message.
TEST(OptionsSheetTest, PasswordsProtectAsTypedOrAreRefused)
{
    struct Case
    {
        QString typed;
        QString wrong; // a near miss the prompt must refuse
        const char* refusal;
    } cases[] = {
        {QStringLiteral("secret"), QStringLiteral("Secret"), nullptr},
        {QStringLiteral("\u00E9\u00E9"), QStringLiteral("ee"), nullptr},
        {QStringLiteral("caf\u00E9 \u20AC\u0152"), QStringLiteral("caf\u00E9 "), nullptr},
        {QStringLiteral("  pass word "), QStringLiteral("pass word"), nullptr},
        {QStringLiteral("   "), QStringLiteral(" "), nullptr},
        // Windows-1252 has no Cyrillic: stored, these would read back as "??????".
        {QStringLiteral("\u043F\u0430\u0440\u043E\u043B\u044C"),
         {},
         "The password can hold letters (accented ones too), digits, punctuation and blanks "
         "of Western European languages only. \"\u043F\" is not one of them."},
        {QStringLiteral("tab\there"),
         {},
         "The password can hold letters (accented ones too), digits, punctuation and blanks "
         "of Western European languages only."},
        {QString(), {}, "Please enter a password, or clear the \"Password-protect options\" box."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        OptionsRig rig;
        rig.Options().Set(Opt::NetworkingType, 1);
        rig.Options().SetPassword("old");
        {
            COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
            sheet.Tabs()->setCurrentIndex(3);
            sheet.General()->PasswordEdit()->setText(c.typed);
            sheet.accept();
            if (c.refusal) {
                EXPECT_NE(sheet.result(), QDialog::Accepted);
                EXPECT_EQ(sheet.Tabs()->currentWidget(), sheet.General());
                ASSERT_EQ(rig.prompt.Messages.size(), 1u);
                EXPECT_EQ(rig.prompt.Messages[0].Text, c.refusal);
                EXPECT_EQ(rig.Options().GetPassword(), "old"); // nothing stored
                continue;
            }
            EXPECT_EQ(sheet.result(), QDialog::Accepted);
            EXPECT_TRUE(rig.prompt.Messages.empty());
        }
        EXPECT_EQ(FromCp1252(rig.Options().GetPassword()), c.typed);
        CGeneralPage again(rig.Context());
        EXPECT_TRUE(again.Protect()->isChecked());
        EXPECT_EQ(again.PasswordEdit()->text(), c.typed);

        // As the masked box gives the entries back.
        for (const QString& entry : {c.typed, c.wrong}) {
            rig.host.DialogsRun.clear();
            rig.prompt.Messages.clear();
            rig.prompt.Inputs.push_back({true, ToCp1252Password(entry)});
            RunOptionsFromChatWindow(rig.Context(), nullptr);
            EXPECT_EQ(rig.host.DialogsRun.size(), entry == c.typed ? 1u : 0u)
                << entry.toStdString();
        }
    }
}

TEST(OptionsSheetTest, AnEntryOutsideTheCharacterSetOpensNothing)
{
    // A password stored as question marks (as Cyrillic letters once were) is not opened by
    // letters that have no place in Windows-1252.
    OptionsRig rig;
    rig.Options().SetPassword("??????");
    rig.prompt.Inputs.push_back(
        {true, ToCp1252Password(QStringLiteral("\u0436\u0436\u0436\u0436\u0436\u0436"))});
    RunOptionsFromChatWindow(rig.Context(), nullptr);
    EXPECT_TRUE(rig.host.DialogsRun.empty());
    ASSERT_EQ(rig.prompt.Messages.size(), 1u);
    EXPECT_EQ(rig.prompt.Messages[0].Text, "Incorrect password.");
}

// Opening a font chooser and pressing OK at once changes no font setting.
TEST(OptionsSheetTest, FontChooserOkAtOnceChangesNothing)
{
    FontRecord styled;
    styled.Mask =
        FontRecord::kEffectsMask | FontRecord::kSize | FontRecord::kFace | FontRecord::kColor;
    styled.Effects = FontRecord::kBold | FontRecord::kItalic;
    styled.Height = 240; // 12 pt
    styled.FaceName = "DejaVu Serif";
    styled.Color = 0x0000FF;
    FontRecord missingFace = styled;
    missingFace.FaceName = "No Such Face";
    missingFace.Height = 170; // 8.5 pt
    const FontRecord* const kStored[] = {nullptr, &styled, &missingFace};
    for (const FontRecord* stored : kStored) {
        OptionsRig rig;
        rig.Options().Set(Opt::NetworkingType, 1);
        if (stored) {
            rig.Options().SetFont(FontKey::Prefix, *stored);
            rig.Options().SetFont(FontKey::General, *stored);
        }
        const FontRecord prefix = rig.Options().GetFont(FontKey::Prefix);
        const FontRecord general = rig.Options().GetFont(FontKey::General);
        rig.host.RealFontChooser = true;
        COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
        int accepted = 0;
        auto okAtOnce = [&] {
            QTimer::singleShot(0, [&] {
                if (auto* chooser = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                    chooser->accept();
                    ++accepted;
                }
            });
        };
        okAtOnce();
        sheet.Format()->ChoosePrefixFont();
        okAtOnce();
        sheet.Format()->ChooseMessageFont();
        EXPECT_EQ(accepted, 2);
        sheet.accept();
        EXPECT_EQ(rig.Options().GetFont(FontKey::Prefix), prefix);
        EXPECT_EQ(rig.Options().GetFont(FontKey::General), general);
    }
}

TEST(OptionsSheetTest, NotificationsPageRules)
{
    OptionsRig rig;
    rig.Options().Set(Opt::OnNewMessage, 3); // "flash taskbar, then pop up."
    rig.Options().Set(Opt::RepeatSound, 1);
    CNotificationsPage page(rig.Context());
    ASSERT_EQ(page.OnNewMessage()->count(), 4);
    EXPECT_EQ(page.OnNewMessage()->itemText(0), QStringLiteral("flash taskbar."));
    EXPECT_EQ(page.OnNewMessage()->itemText(3), QStringLiteral("do nothing."));
    EXPECT_EQ(page.OnNewMessage()->currentIndex(), 1);
    EXPECT_FALSE(page.OnNewMessageAllUsers()->isEnabled());
    page.Override()->setChecked(true);
    EXPECT_TRUE(page.OnNewMessageAllUsers()->isEnabled());

    // "pop up dialog." disables the repeat box and OK stores 0 although it is checked.
    EXPECT_TRUE(page.Repeat()->isEnabled());
    page.OnNewMessage()->setCurrentIndex(2);
    EXPECT_FALSE(page.Repeat()->isEnabled());
    EXPECT_TRUE(page.Repeat()->isChecked());
    page.OnNewMessageAllUsers()->setCurrentIndex(3);
    page.Store();
    EXPECT_EQ(rig.Options().Get(Opt::RepeatSound), 0);
    EXPECT_EQ(rig.Options().Get(Opt::OnNewMessage), 1); // stored value of "pop up dialog."
    EXPECT_EQ(rig.Options().Get(Opt::OnNewMessageAllUsersOverride), 1);
    EXPECT_EQ(rig.Options().Get(Opt::OnNewMessageAllUsers), 2); // "do nothing."
}

TEST(OptionsSheetTest, SoundTestButton)
{
    OptionsRig rig;
    CNotificationsPage page(rig.Context());
    page.SoundPath()->setText(QStringLiteral("/no/such/file.wav"));
    page.TestButton()->click();
    ASSERT_EQ(rig.prompt.Messages.size(), 1u);
    EXPECT_EQ(rig.prompt.Messages[0].Text, "The sound file does not exist: /no/such/file.wav");
    EXPECT_TRUE(rig.host.Played.empty());
    EXPECT_FALSE(page.TestButton()->isChecked());

    // Without repeat the button springs back; with it, it stays in as "S&top...".
    page.SoundPath()->clear();
    page.TestButton()->click();
    EXPECT_FALSE(page.TestButton()->isChecked());
    ASSERT_EQ(rig.host.Played.size(), 1u);
    EXPECT_EQ(rig.host.Played[0], std::make_pair(std::string(), false));

    page.Repeat()->setChecked(true);
    page.TestButton()->click();
    EXPECT_TRUE(page.TestButton()->isChecked());
    EXPECT_EQ(page.TestButton()->text(), QStringLiteral("S&top..."));
    EXPECT_EQ(page.TestButton()->accessibleName(), QStringLiteral("Stop..."));
    EXPECT_EQ(rig.host.Played.back(), std::make_pair(std::string(), true));
    page.TestButton()->click();
    EXPECT_FALSE(page.TestButton()->isChecked());
    EXPECT_EQ(page.TestButton()->text(), QStringLiteral("&Test"));
    EXPECT_EQ(page.TestButton()->accessibleName(), QStringLiteral("Test"));
    EXPECT_GE(rig.host.Stops, 1);
}

TEST(OptionsSheetTest, ClosingTheSheetStopsTheSound)
{
    OptionsRig rig;
    COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
    sheet.reject();
    EXPECT_GE(rig.host.Stops, 1);
}

TEST(OptionsSheetTest, FormatPagePrefixesAndCustomFormatKept)
{
    OptionsRig rig;
    const std::string custom = "<a>u</a> 'says'> ";
    rig.Options().Set(Opt::MessagePrefix, custom);
    {
        CFormatPage page(rig.Context());
        ASSERT_EQ(page.PrefixList()->count(), 8);
        EXPECT_EQ(page.PrefixList()->currentIndex(), 7);
        EXPECT_EQ(page.PrefixList()->itemText(7), QStringLiteral("R.T. says> "));
        page.Store();
        EXPECT_EQ(rig.Options().Get(Opt::MessagePrefix), custom);
        page.PrefixList()->setCurrentIndex(0);
        page.Store();
    }
    EXPECT_EQ(rig.Options().Get(Opt::MessagePrefix), PrefixFormatPresets()[0]);
    CFormatPage page(rig.Context());
    EXPECT_EQ(page.PrefixList()->count(), 7);
}

TEST(OptionsSheetTest, FormatExampleAndItsLinks)
{
    OptionsRig rig;
    CFormatPage page(rig.Context());
    CChatHistoryEdit& example = page.Example()->Edit();
    QString text = example.toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("RT Holm (to all users) 9:42 AM> Hey, everyone")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(
        "Owen Pratley (to RT Holm) 1:34 PM> By the way, did you know you don't _always_")));

    // A sender link in the example explains what such links do in the chat window.
    int sender = static_cast<int>(text.indexOf(QStringLiteral("Owen Pratley")));
    example.ClickLinkAt(sender + 1);
    ASSERT_EQ(rig.prompt.Messages.size(), 1u);
    EXPECT_EQ(rig.prompt.Messages[0].Text,
              "When you click a recipient link in the main Zib Tam dialog, Zib Tam will\n"
              "automatically select the appropriate recipients for your new message.");

    // A new prefix choice redraws the example.
    page.PrefixList()->setCurrentIndex(0);
    EXPECT_TRUE(example.toPlainText().startsWith(QStringLiteral("RT Holm (to all users)> Hey")))
        << example.toPlainText().toStdString();

    // Without name links the example has none.
    rig.Options().Set(Opt::RecipientLinks, 0);
    CFormatPage plain(rig.Context());
    plain.Example()->Edit().ClickLinkAt(sender + 1);
    EXPECT_EQ(rig.prompt.Messages.size(), 1u);
}

TEST(OptionsSheetTest, FormatPageColourAndFonts)
{
    OptionsRig rig;
    CFormatPage page(rig.Context());
    rig.host.ColorOk = true;
    rig.host.ColorAnswer = 0x0000FF00;
    page.ChooseBackground();
    EXPECT_EQ(page.Background(), 0x0000FF00u);
    EXPECT_EQ(rig.host.ColorsSeen[1], 0x00FFFFFFu); // untouched custom colours are white

    rig.host.FontOk = true;
    rig.host.FontAnswer.Valid = FontRecord::kEffectsMask | FontRecord::kSize | FontRecord::kFace;
    rig.host.FontAnswer.Font.Effects = FontRecord::kItalic;
    rig.host.FontAnswer.Font.Height = 280;
    rig.host.FontAnswer.Font.FaceName = "DejaVu Serif";
    page.ChooseMessageFont();
    EXPECT_EQ(page.MessageFont().FaceName, "DejaVu Serif");

    // Cancel stores nothing: only OK of the sheet writes.
    EXPECT_EQ(rig.Options().Get(Opt::ChatTextBackground), "");
    page.Store();
    EXPECT_EQ(rig.Options().GetChatTextBackground(), 0x0000FF00u);
    FontRecord stored = rig.Options().GetFont(FontKey::General);
    EXPECT_EQ(stored.FaceName, "DejaVu Serif");
    EXPECT_EQ(stored.Height, 280);
    EXPECT_EQ(stored.Effects & FontRecord::kEffectsMask, FontRecord::kItalic);
}

TEST(OptionsSheetTest, NetworkingVisibilityFollowsTheOptions)
{
    OptionsRig rig;
    CNetworkingPage page(rig.Context());
    auto shown = [&](QWidget* w) { return w->isVisibleTo(&page); };
    EXPECT_FALSE(page.PeerToPeer()->isChecked());
    EXPECT_FALSE(page.ClientServer()->isChecked());
    EXPECT_TRUE(page.Client()->isChecked()); // preselected at type 0
    EXPECT_FALSE(shown(page.Client()));
    EXPECT_FALSE(shown(page.PortEdit()));

    page.ClientServer()->click();
    EXPECT_TRUE(shown(page.Client()) && shown(page.Server()));
    EXPECT_TRUE(shown(page.ServerEdit()) && shown(page.BrowseButton()) && shown(page.PortEdit()));
    EXPECT_FALSE(shown(page.ComputerName()));

    page.Server()->click();
    EXPECT_FALSE(shown(page.ServerEdit()) || shown(page.BrowseButton()));
    EXPECT_TRUE(shown(page.ComputerName()) && shown(page.PortEdit()));
    EXPECT_EQ(page.ComputerName()->text(), QStringLiteral("OFFICE1"));
    EXPECT_TRUE(page.ComputerName()->isReadOnly());

    page.PeerToPeer()->click();
    EXPECT_FALSE(shown(page.Server()) || shown(page.PortEdit()) || shown(page.ComputerName()));
}

TEST(OptionsSheetTest, NetworkingChecksAndPortRule)
{
    struct Case
    {
        int type; // stored before
        const char* server;
        const char* port;
        bool chooseClientServer;
        const char* message; // empty: OK closes
        int storedType;
        int32_t storedPort;
    } cases[] = {
        {0, "", "34300", false, kChooseMode, 0, 34300},
        {2, "", "34300", false, kChooseServer, 2, 34300},
        {2, "srv", "0", false, "", 2, 0},
        {2, "srv", "", false, "", 2, 34300},
        {3, "", "40000", false, "", 3, 40000},
        {1, "", "34300", false, "", 1, 34300},
    };
    for (const auto& c : cases) {
        OptionsRig rig;
        rig.Options().Set(Opt::NetworkingType, c.type);
        COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::NetworkingOnly);
        CNetworkingPage* page = sheet.Networking();
        page->ServerEdit()->setText(QString::fromLatin1(c.server));
        page->PortEdit()->setText(QString::fromLatin1(c.port));
        sheet.accept();
        bool closed = *c.message == '\0';
        EXPECT_EQ(sheet.result() == QDialog::Accepted, closed) << c.type << ' ' << c.port;
        if (!closed) {
            ASSERT_EQ(rig.prompt.Messages.size(), 1u);
            EXPECT_EQ(rig.prompt.Messages[0].Text, c.message);
        }
        EXPECT_EQ(rig.Options().Get(Opt::NetworkingType), c.storedType);
        EXPECT_EQ(rig.Options().Get(Opt::PortNumber), c.storedPort) << c.port;
    }
}

TEST(OptionsSheetTest, LeavingTheNetworkingPageChecksIt)
{
    OptionsRig rig;
    COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
    sheet.Tabs()->setCurrentWidget(sheet.Networking());
    sheet.Tabs()->setCurrentWidget(sheet.General());
    EXPECT_EQ(sheet.Tabs()->currentWidget(), sheet.Networking());
    ASSERT_EQ(rig.prompt.Messages.size(), 1u);
    EXPECT_EQ(rig.prompt.Messages[0].Text, kChooseMode);

    sheet.Networking()->PeerToPeer()->click();
    sheet.Tabs()->setCurrentWidget(sheet.General());
    EXPECT_EQ(sheet.Tabs()->currentWidget(), sheet.General());
}

TEST(OptionsSheetTest, CancelStoresNothing)
{
    OptionsRig rig;
    rig.Options().SetUserName("Owen");
    COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
    sheet.General()->NameEdit()->setText(QStringLiteral("Changed"));
    sheet.General()->PromptAllUsers()->setChecked(false);
    sheet.Notifications()->OnNewMessage()->setCurrentIndex(3);
    sheet.Format()->PrefixList()->setCurrentIndex(0);
    sheet.Networking()->PeerToPeer()->click();
    sheet.reject();
    EXPECT_EQ(rig.Options().GetUserName(), "Owen");
    EXPECT_EQ(rig.Options().Get(Opt::PromptOnAllUsers), 1);
    EXPECT_EQ(rig.Options().Get(Opt::OnNewMessage), 0);
    EXPECT_EQ(rig.Options().Get(Opt::NetworkingType), 0);
    CRegKey product(rig.Options().Registry(), rig.Options().ProductKey(), false);
    EXPECT_FALSE(product.Query("MessagePrefix"));
}

TEST(OptionsSheetTest, BrowseOffersKnownComputers)
{
    OptionsRig rig;
    CNetworkingPage page(rig.Context());
    rig.host.Answer = [](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>();
        EXPECT_EQ(list->count(), 2);
        list->setCurrentRow(1);
        return static_cast<int>(QDialog::Accepted);
    };
    page.Browse();
    EXPECT_EQ(rig.host.DialogsRun.back(), QStringLiteral("Please select a Zib Tam server."));
    EXPECT_EQ(page.ServerEdit()->text(), QStringLiteral("server.example"));
}

TEST(OptionsSheetTest, HostsFileNames)
{
    const char* hosts = "127.0.0.1 localhost\n127.0.1.1 me\n::1 localhost ip6-localhost\n"
                        "10.0.0.5 Server1 server1.office # main\n# 10.0.0.6 gone\n"
                        "10.0.0.7 SERVER1 printer\n";
    EXPECT_EQ(NamesFromHostsFile(hosts),
              (std::vector<std::string>{"Server1", "server1.office", "printer"}));
}

} // namespace
