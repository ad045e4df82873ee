#include "ui/TuringDlg.h"

#include "OptionsTestSupport.h"
#include "turing/TuringRules.h"

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

TuringResponse Response(int probability, const char* message, int low = 0, int high = 0)
{
    return TuringResponse{low, high, probability, message};
}

struct TuringRig : OptionsRig
{
    TuringRig(std::vector<TuringRule> stored = {})
    {
        Options().Set(Opt::Turing, 1);
        SaveTuringRules(Options(), stored);
    }
    std::vector<TuringRule> Stored()
    {
        std::vector<TuringRule> rules;
        LoadTuringRules(Options(), rules);
        return rules;
    }
    // The response dialog is answered by filling its fields and pressing OK (or not).
    std::function<void(CResponseDlg&)> FillResponse;
    DialogRunner Runner()
    {
        return [this](QDialog& dialog) {
            auto* response = qobject_cast<CResponseDlg*>(&dialog);
            if (!response || !FillResponse)
                return static_cast<int>(QDialog::Rejected);
            FillResponse(*response);
            response->accept();
            return response->result();
        };
    }
};

QStringList Texts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// The response list's entries, their columns joined by tabs as the stored entry text.
QStringList Texts(const QTreeWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        QStringList columns;
        for (int column = 0; column < item->columnCount(); ++column)
            columns << item->text(column);
        texts << columns.join(QLatin1Char('\t'));
    }
    return texts;
}

void SelectRow(QTreeWidget* list, int row)
{
    list->setCurrentItem(list->topLevelItem(row));
}

int ResponseIndexOfCurrent(const QTreeWidget* list)
{
    return list->currentItem() ? list->currentItem()->data(0, Qt::UserRole).toInt() : -1;
}

TEST(TuringDlgTest, RulesSortedWhileStoredOrderStays)
{
    TuringRig rig({TuringRule{{Response(50, "b")}, "Zebra", "z*"},
                   TuringRule{{Response(50, "a")}, "apple", "a*"},
                   TuringRule{{Response(50, "c")}, "Zebra", "y*"}});
    CTuringDlg dialog(rig.Options(), rig.prompt, rig.Runner());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Zib Tam Turing Technology"));
    EXPECT_EQ(
        Texts(dialog.RuleList()),
        (QStringList{QStringLiteral("apple"), QStringLiteral("Zebra"), QStringLiteral("Zebra")}));
    // The first entry in display order is shown, reached through its index.
    EXPECT_EQ(dialog.ConditionEdit()->toPlainText(), QStringLiteral("a*"));
    dialog.RuleList()->setCurrentRow(2);
    EXPECT_EQ(dialog.ConditionEdit()->toPlainText(), QStringLiteral("y*"));
    dialog.ConditionEdit()->setPlainText(QStringLiteral("line one\nline two"));
    EXPECT_EQ(dialog.Rules()[2].Condition, "line one\r\nline two");
    dialog.accept();
    auto stored = rig.Stored();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].Name, "Zebra");
    EXPECT_EQ(stored[2].Condition, "line one\r\nline two");
}

TEST(TuringDlgTest, WithoutRulesTheRuleControlsAreOff)
{
    TuringRig rig;
    CTuringDlg dialog(rig.Options(), rig.prompt, rig.Runner());
    EXPECT_FALSE(dialog.ConditionEdit()->isEnabled());
    EXPECT_FALSE(dialog.ResponseList()->isEnabled());
}

TEST(TuringDlgTest, NewRuleThenOkPointsAtWhatIsMissing)
{
    TuringRig rig;
    CTuringDlg dialog(rig.Options(), rig.prompt, rig.Runner());
    rig.prompt.Inputs.push_back({true, "Greeting"});
    dialog.OnNewRule();
    ASSERT_EQ(rig.prompt.InputsAsked.size(), 1u);
    EXPECT_EQ(rig.prompt.InputsAsked[0].Caption, "New Rule Name");
    EXPECT_EQ(rig.prompt.InputsAsked[0].Text, "Please enter a concise, descriptive name");
    EXPECT_EQ(rig.prompt.InputLimits[0], 25);
    EXPECT_EQ(Texts(dialog.RuleList()), QStringList{QStringLiteral("Greeting")});
    EXPECT_TRUE(dialog.ConditionEdit()->isEnabled());

    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(rig.prompt.Messages.back().Text, "Please specify a condition.");

    dialog.ConditionEdit()->setPlainText(QStringLiteral("hello"));
    dialog.accept();
    EXPECT_EQ(rig.prompt.Messages.back().Text,
              "You must have at least one response for each rule.");
    EXPECT_TRUE(rig.Stored().empty()); // nothing stored while a check fails

    // A cancelled name prompt adds nothing.
    rig.prompt.Inputs.push_back({false, "Other"});
    dialog.OnNewRule();
    EXPECT_EQ(dialog.Rules().size(), 1u);
}

TEST(TuringDlgTest, ResponsesAddEditAndTheLastCannotGo)
{
    TuringRig rig({TuringRule{{Response(60, "Hi")}, "Hello", "hello"}});
    CTuringDlg dialog(rig.Options(), rig.prompt, rig.Runner());
    ASSERT_EQ(Texts(dialog.ResponseList()), QStringList{QStringLiteral("60%\t0\tHi")});

    // The last response cannot be deleted.
    SelectRow(dialog.ResponseList(), 0);
    dialog.OnDeleteResponse();
    EXPECT_EQ(rig.prompt.Messages.back().Text,
              "You must have at least one response for each rule.");
    EXPECT_EQ(dialog.Rules()[0].Responses.size(), 1u);

    rig.FillResponse = [](CResponseDlg& response) {
        EXPECT_EQ(response.windowTitle(), QStringLiteral("New Response"));
        response.MinDelayEdit()->SetText(QStringLiteral("30"));
        response.MaxDelayEdit()->SetText(QStringLiteral("10"));
        response.ProbabilityEdit()->SetText(QStringLiteral("41"));
        response.MessageEdit()->setPlainText(QStringLiteral("Later\n\n"));
    };
    dialog.OnNewResponse();
    ASSERT_EQ(dialog.Rules()[0].Responses.size(), 2u);
    EXPECT_EQ(dialog.Rules()[0].Responses[1], Response(41, "Later", 10, 30));
    EXPECT_EQ(Texts(dialog.ResponseList()),
              (QStringList{QStringLiteral("41%\t10 - 30\tLater"), QStringLiteral("60%\t0\tHi")}));

    // 60 + 41: refused at the rule's first response, the response list in focus.
    dialog.accept();
    EXPECT_EQ(rig.prompt.Messages.back().Text,
              "The total probability of a rule cannot exceed 100.");
    EXPECT_EQ(ResponseIndexOfCurrent(dialog.ResponseList()), 0);

    // Edit the selected entry through its index, not its position.
    SelectRow(dialog.ResponseList(), 0); // "41%..." is response 1
    rig.FillResponse = [](CResponseDlg& response) {
        EXPECT_EQ(response.windowTitle(), QStringLiteral("Edit Response"));
        EXPECT_EQ(response.ProbabilityEdit()->text(), QStringLiteral("41"));
        response.ProbabilityEdit()->SetText(QStringLiteral("40"));
    };
    dialog.OnEditResponse();
    EXPECT_EQ(dialog.Rules()[0].Responses[1].Probability, 40);
    EXPECT_EQ(ResponseIndexOfCurrent(dialog.ResponseList()), 1);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(rig.Stored()[0].Responses.size(), 2u);

    // Deleting asks first; No keeps it.
    SelectRow(dialog.ResponseList(), 1);
    rig.prompt.Answers.push_back(PromptAnswer::No);
    dialog.OnDeleteResponse();
    EXPECT_EQ(dialog.Rules()[0].Responses.size(), 2u);
    dialog.OnDeleteResponse();
    EXPECT_EQ(rig.prompt.Messages.back().Text,
              "Are you sure you want to delete the selected response?");
    ASSERT_EQ(dialog.Rules()[0].Responses.size(), 1u);
    EXPECT_EQ(dialog.Rules()[0].Responses[0].Message, "Later");
    // The one before the deleted place.
    EXPECT_EQ(dialog.ResponseList()->currentItem(), dialog.ResponseList()->topLevelItem(0));
}

TEST(TuringDlgTest, ResponseDialogChecksFieldsInOrder)
{
    struct Case
    {
        const char *low, *high, *percent, *message, *text;
    } cases[] = {
        {"1000", "0", "100", "Hi", "Please specify a delay between 0 and 900."},
        {"0", "abc", "100", "Hi", "Please specify a delay between 0 and 900."},
        {"0", "0", "150", "Hi", "Please specify a probability between 0 and 100."},
        {"0", "0", "100", "\n\n", "Please specify a message."},
    };
    for (const auto& c : cases) {
        FakePrompt prompt;
        TuringResponse response = Response(100, "kept");
        CResponseDlg dialog(response, false, prompt);
        dialog.MinDelayEdit()->SetText(QString::fromLatin1(c.low));
        dialog.MaxDelayEdit()->SetText(QString::fromLatin1(c.high));
        dialog.ProbabilityEdit()->SetText(QString::fromLatin1(c.percent));
        dialog.MessageEdit()->setPlainText(QString::fromLatin1(c.message));
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted) << c.text;
        ASSERT_EQ(prompt.Messages.size(), 1u);
        EXPECT_EQ(prompt.Messages[0].Text, c.text);
        EXPECT_EQ(response, Response(100, "kept")); // untouched until OK succeeds
    }
}

TEST(TuringDlgTest, DelayArrowsKeepTheMinimumBelowTheMaximum)
{
    FakePrompt prompt;
    TuringResponse response = Response(100, "Hi", 5, 10);
    CResponseDlg dialog(response, false, prompt);
    dialog.MinDelayEdit()->SetText(QStringLiteral("10"));
    dialog.MinDelayEdit()->stepBy(1);
    EXPECT_EQ(dialog.MaxDelayEdit()->text(), QStringLiteral("11"));
    dialog.MaxDelayEdit()->SetText(QStringLiteral("3")); // typed: not adjusted
    EXPECT_EQ(dialog.MinDelayEdit()->text(), QStringLiteral("11"));
    dialog.MaxDelayEdit()->stepBy(-1);
    EXPECT_EQ(dialog.MinDelayEdit()->text(), QStringLiteral("2"));
    dialog.ProbabilityEdit()->SetText(QStringLiteral("100"));
    dialog.ProbabilityEdit()->stepBy(5);
    EXPECT_EQ(dialog.ProbabilityEdit()->text(), QStringLiteral("100"));
}

TEST(TuringDlgTest, DeleteRuleSelectsItsNeighbourAndCancelStoresNothing)
{
    TuringRig rig(
        {TuringRule{{Response(50, "a")}, "A", "a"}, TuringRule{{Response(50, "b")}, "B", "b"}});
    {
        CTuringDlg dialog(rig.Options(), rig.prompt, rig.Runner());
        dialog.RuleList()->setCurrentRow(1);
        dialog.OnDeleteRule();
        EXPECT_EQ(rig.prompt.Messages.back().Text, "Are you sure you want to delete this rule?");
        EXPECT_EQ(Texts(dialog.RuleList()), QStringList{QStringLiteral("A")});
        EXPECT_EQ(dialog.RuleList()->currentRow(), 0);
        dialog.OnDeleteRule();
        EXPECT_EQ(dialog.RuleList()->count(), 0);
        EXPECT_FALSE(dialog.ConditionEdit()->isEnabled());
        dialog.reject();
    }
    EXPECT_EQ(rig.Stored().size(), 2u);
}

TEST(TuringDlgTest, EveryControlHasAnAccessibleName)
{
    TuringRig rig({TuringRule{{Response(50, "a")}, "A", "a"}});
    CTuringDlg editor(rig.Options(), rig.prompt, rig.Runner());
    int checked = 0;
    EXPECT_EQ(UnnamedControls(&editor, checked), QStringList());
    EXPECT_GE(checked, 10);
    EXPECT_EQ(editor.ConditionEdit()->accessibleName(), QStringLiteral("Condition:"));

    TuringResponse response;
    CResponseDlg dialog(response, true, rig.prompt);
    EXPECT_EQ(UnnamedControls(&dialog, checked), QStringList());
    EXPECT_GE(checked, 6);
}

// The box counts a line break as the two characters it is stored as, and what comes in
// past the limit is cut from what came in: OK then never refuses what the box took.
TEST(TuringDlgTest, MessageBoxLimitCountsLineBreaksAsStored)
{
    const QString full2999 = QString(2999, QLatin1Char('a'));
    const QString withBreak = QString(1000, QLatin1Char('a')) + QLatin1Char('\n') +
                              QString(1998, QLatin1Char('b')); // 3,000 as stored
    struct Case
    {
        const char* name;
        QString start;
        int caret; // -1: at the end
        QString typed;
        QString expected;
    } cases[] = {
        {"line break at 2,999", full2999, -1, QStringLiteral("\n"), full2999},
        {"letter after a line break", withBreak, -1, QStringLiteral("c"), withBreak},
        {"typing into a full box keeps its end", withBreak, 0, QStringLiteral("c"), withBreak},
        {"paste cut to what fits", QString(2996, QLatin1Char('a')), -1, QStringLiteral("1\n234"),
         QString(2996, QLatin1Char('a')) + QStringLiteral("1\n2")},
        {"line break that fits", QString(2998, QLatin1Char('a')), 1, QStringLiteral("\n"),
         QStringLiteral("a\n") + QString(2997, QLatin1Char('a'))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePrompt prompt;
        TuringResponse response = Response(100, "kept");
        CResponseDlg dialog(response, false, prompt);
        dialog.MessageEdit()->setPlainText(c.start);
        QTextCursor cursor = dialog.MessageEdit()->textCursor();
        cursor.setPosition(c.caret < 0 ? static_cast<int>(c.start.size()) : c.caret);
        dialog.MessageEdit()->setTextCursor(cursor);
        dialog.MessageEdit()->insertPlainText(c.typed);
        EXPECT_EQ(dialog.MessageEdit()->toPlainText(), c.expected);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(prompt.Messages.empty())
            << (prompt.Messages.empty() ? "" : prompt.Messages[0].Text);
    }
}

// A screen reader names the response list after its label and reads the column heads from
// the list itself: every label of the editor and the response dialog names a control, none
// stands loose.
TEST(TuringDlgTest, ResponseListIsLabelledAndCarriesItsHeads)
{
    TuringRig rig({TuringRule{{Response(50, "Hi", 0, 5)}, "A", "a"}});
    CTuringDlg editor(rig.Options(), rig.prompt, rig.Runner());
    QTreeWidget* list = editor.ResponseList();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Responses"));
    // The label says which control it labels (item views do not report it themselves).
    QLabel* label = nullptr;
    for (QLabel* candidate : editor.findChildren<QLabel*>()) {
        if (candidate->buddy() == list)
            label = candidate;
    }
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), QStringLiteral("&Responses"));
    auto labelled = QAccessible::queryAccessibleInterface(label)->relations(QAccessible::Labelled);
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled[0].first->object(), list);
    ASSERT_TRUE(accessible->tableInterface());
    QStringList heads;
    for (int column = 0; column < accessible->tableInterface()->columnCount(); ++column)
        heads << accessible->tableInterface()->columnDescription(column);
    EXPECT_EQ(heads, (QStringList{QStringLiteral("Probability"), QStringLiteral("Delay"),
                                  QStringLiteral("Message")}));
    EXPECT_EQ(Texts(list), QStringList{QStringLiteral("50%\t0 - 5\tHi")});
    TuringResponse response;
    CResponseDlg dialog(response, true, rig.prompt);
    QStringList loose;
    for (QWidget* window : std::initializer_list<QWidget*>{&editor, &dialog}) {
        for (QLabel* each : window->findChildren<QLabel*>()) {
            if (!each->buddy())
                loose << each->text();
        }
    }
    EXPECT_TRUE(loose.isEmpty()) << loose.join(QLatin1Char(',')).toStdString();
}

// The editor is a window of its own, not a dialog over the options: panels give it a
// task-bar button (checked on a real desktop in the desktop test).
TEST(TuringDlgTest, EditorIsAWindowOfItsOwn)
{
    TuringRig rig;
    QWidget options;
    CTuringDlg editor(rig.Options(), rig.prompt, rig.Runner(), &options);
    EXPECT_EQ(editor.windowType(), Qt::Window);
    EXPECT_FALSE(editor.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(editor.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(TuringDlgTest, SortedOrderIgnoresCaseAndKeepsTies)
{
    EXPECT_EQ(SortedOrder({QStringLiteral("b"), QStringLiteral("A"), QStringLiteral("a"),
                           QStringLiteral("B")}),
              (std::vector<int>{1, 2, 0, 3}));
}

} // namespace
