// The recipient picker offscreen: opening, its height and side, keys and clicks.
#include "view/MultiSelComboBox.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

void Wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

void Key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
         const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
}

void Click(QWidget* widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPoint global = widget->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      modifiers);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        modifiers);
    QApplication::sendEvent(widget, &release);
}

struct Picker
{
    QWidget window;
    CMultiSelComboBox* face = new CMultiSelComboBox(&window);
    QWidget* other = new QWidget(&window);
    uint32_t tick = 10000;

    explicit Picker(int entries = 5, int top = 20)
    {
        face->setGeometry(10, top, 200, 24);
        other->setGeometry(10, top + 40, 50, 20);
        window.resize(300, top + 80);
        window.move(0, 0);
        face->SetTickSource([this] { return tick; });
        const char* names[] = {"Owen", "R.T.", "Ann", "Bob", "Rita"};
        for (int i = 0; i < entries; ++i)
            face->AddEntry(i < 5 ? QString::fromLatin1(names[i])
                                 : QStringLiteral("User %1").arg(i, 2, 10, QLatin1Char('0')),
                           1);
        window.show();
        QApplication::processEvents();
    }
};

TEST(MultiSelComboBoxTest, SortedEntriesAndTheSentence)
{
    Picker p;
    EXPECT_EQ(p.face->EntryText(0), QStringLiteral("Ann"));
    EXPECT_EQ(p.face->EntryText(4), QStringLiteral("Rita"));
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"Owen"}, "Owen"},
        {{"Owen", "R.T."}, "Owen and R.T."},
        {{"Owen", "R.T.", "Ann"}, "Ann, Owen, and R.T."},
    };
    for (const auto& [names, text] : cases) {
        p.face->ClearSelection();
        for (const char* name : names)
            p.face->SetSelected(p.face->FindEntry(QString::fromLatin1(name)), true);
        p.face->UpdateText();
        EXPECT_EQ(p.face->DisplayedText(), QString::fromLatin1(text));
    }
}

TEST(MultiSelComboBoxTest, OpensBelowOrAboveWithItsHeight)
{
    const int screenBottom = QGuiApplication::primaryScreen()->geometry().bottom();
    struct Case
    {
        int Entries;
        int Top;
        bool Above;
    };
    const Case cases[] = {
        {30, 20, false}, {30, screenBottom - 60, true}, {3, 20, false}, {0, 20, false}};
    for (const Case& c : cases) {
        Picker p(c.Entries, c.Top);
        p.face->OpenList();
        ASSERT_TRUE(p.face->IsListOpen());
        QListWidget* list = p.face->List();
        const int row = c.Entries > 0 ? list->sizeHintForRow(0) : 0;
        EXPECT_EQ(list->height(), DropListHeight(c.Entries, row)) << c.Entries;
        if (c.Entries == 30 && row == 16) {
            EXPECT_EQ(list->height(), 210);
        }
        EXPECT_EQ(list->width(), p.face->width());
        const QPoint face = p.face->mapToGlobal(QPoint(0, 0));
        EXPECT_EQ(list->x(), face.x());
        if (c.Above)
            EXPECT_EQ(list->geometry().bottom() + 1, face.y());
        else
            EXPECT_EQ(list->y(), face.y() + p.face->height());
        EXPECT_TRUE(p.face->hasFocus() || !p.window.isActiveWindow());
        Key(p.face, Qt::Key_Escape);
        EXPECT_FALSE(p.face->IsListOpen());
    }
}

TEST(MultiSelComboBoxTest, KeyboardOnTheFace)
{
    Picker p;
    Key(p.face, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(p.face->IsListOpen());
    // Plain Down moves the caret and the selection, as a list does.
    Key(p.face, Qt::Key_Down);
    Key(p.face, Qt::Key_Down);
    EXPECT_EQ(p.face->SelectedIndexes(), std::vector<int>{1});
    // Ctrl+Down moves only the caret; Space then toggles the entry there.
    Key(p.face, Qt::Key_Down, Qt::ControlModifier);
    Key(p.face, Qt::Key_Right, Qt::ControlModifier);
    Key(p.face, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(p.face->SelectedIndexes(), (std::vector<int>{1, 3}));
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("Bob and R.T."));
    Key(p.face, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(p.face->SelectedIndexes(), std::vector<int>{1});
    Key(p.face, Qt::Key_Up, Qt::ControlModifier);
    Key(p.face, Qt::Key_Up, Qt::ControlModifier);
    Key(p.face, Qt::Key_Up, Qt::ControlModifier);
    Key(p.face, Qt::Key_Up, Qt::ControlModifier); // not past the top
    EXPECT_EQ(p.face->List()->currentRow(), 0);
    Key(p.face, Qt::Key_Return);
    EXPECT_FALSE(p.face->IsListOpen());
    Key(p.face, Qt::Key_F4);
    EXPECT_TRUE(p.face->IsListOpen());
    Key(p.face, Qt::Key_F4);
    EXPECT_FALSE(p.face->IsListOpen());
    Key(p.face, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_TRUE(p.face->IsListOpen());
    Key(p.face, Qt::Key_Escape);

    // Type-ahead: "r" then "i" within half a second finds "Rita"; "r" again slowly steps.
    Key(p.face, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("R.T."));
    p.tick += 200;
    Key(p.face, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"));
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("Rita"));
    p.tick += 1000;
    Key(p.face, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("R.T."));
}

TEST(MultiSelComboBoxTest, ClicksInTheListAndOutside)
{
    Picker p;
    // The wheel over a list never opened (scrolling past it) changes nothing.
    std::vector<int> before = p.face->SelectedIndexes();
    QWheelEvent passing(QPointF(100, 12), p.face->mapToGlobal(QPointF(100, 12)), QPoint(),
                        QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(p.face, &passing);
    EXPECT_EQ(p.face->SelectedIndexes(), before);

    Click(p.face, QPoint(100, 12));
    ASSERT_TRUE(p.face->IsListOpen());
    QListWidget* list = p.face->List();
    auto rowCenter = [&](int row) { return list->visualItemRect(list->item(row)).center(); };
    Click(list->viewport(), rowCenter(0));
    Wait(20);
    EXPECT_FALSE(p.face->IsListOpen()); // a plain click selects one entry and closes
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("Ann"));

    Click(p.face, QPoint(100, 12));
    Click(list->viewport(), rowCenter(2), Qt::ControlModifier);
    Wait(20);
    EXPECT_TRUE(p.face->IsListOpen()); // Ctrl+click adds and keeps it open
    EXPECT_EQ(p.face->DisplayedText(), QStringLiteral("Ann and Owen"));

    Click(p.other, QPoint(5, 5));
    EXPECT_FALSE(p.face->IsListOpen()); // a click elsewhere closes it

    // The wheel over the face: the next entry alone.
    QWheelEvent wheel(QPointF(100, 12), p.face->mapToGlobal(QPointF(100, 12)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(p.face, &wheel);
    EXPECT_EQ(p.face->SelectedIndexes(), std::vector<int>{3});
}

// A screen reader meets a combo box named by its label, whose list is named too and holds
// the entries, checked as they are selected.
TEST(MultiSelComboBoxTest, ScreenReadersSeeAComboBoxWithCheckedEntries)
{
    Picker p(3);
    auto* label = new QLabel(QStringLiteral("&To:"), &p.window);
    label->setBuddy(p.face);
    p.face->SetSelected(p.face->FindEntry(QStringLiteral("Owen")), true);
    p.face->UpdateText();

    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(p.face);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::ComboBox);
    EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("To:"));
    EXPECT_EQ(face->text(QAccessible::Value), QStringLiteral("Owen"));
    EXPECT_TRUE(face->state().collapsed);
    ASSERT_EQ(face->childCount(), 1);
    QAccessibleInterface* list = face->child(0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(face->indexOfChild(list), 0);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("To:"));

    auto entries = [&] {
        std::vector<std::pair<QString, bool>> seen;
        for (int i = 0; i < list->childCount(); ++i) {
            QAccessibleInterface* item = list->child(i);
            if (item && item->role() == QAccessible::ListItem)
                seen.emplace_back(item->text(QAccessible::Name), item->state().checked);
        }
        return seen;
    };
    using Entries = std::vector<std::pair<QString, bool>>;
    EXPECT_EQ(entries(), (Entries{{QStringLiteral("Ann"), false},
                                  {QStringLiteral("Owen"), true},
                                  {QStringLiteral("R.T."), false}}));

    // A change of the selection changes what is read out, and writes nothing into the list
    // (a write re-sorts it, even while an entry is being taken out).
    int writes = 0;
    QObject::connect(p.face->List()->model(), &QAbstractItemModel::dataChanged, [&] { ++writes; });
    p.face->OpenList();
    EXPECT_TRUE(face->state().expanded);
    p.face->SetSelected(p.face->FindEntry(QStringLiteral("R.T.")), true);
    EXPECT_EQ(entries(), (Entries{{QStringLiteral("Ann"), false},
                                  {QStringLiteral("Owen"), true},
                                  {QStringLiteral("R.T."), true}}));
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("To:"));
    p.face->ClearSelection();
    EXPECT_EQ(entries(), (Entries{{QStringLiteral("Ann"), false},
                                  {QStringLiteral("Owen"), false},
                                  {QStringLiteral("R.T."), false}}));
    EXPECT_EQ(writes, 0);
}

} // namespace
