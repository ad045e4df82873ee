// The recipient picker as a screen reader meets it over the accessibility bus, on a desktop
// of its own (x11-desktop.sh; dbus-run-session for the bus): a combo box named by its label,
// its value the chosen names, its list named too and holding the entries, checked while
// chosen.
#include "AtSpiBus.h"
#include "EventWait.h"
#include "view/MultiSelComboBox.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

constexpr char kHelperVariable[] = "ZT_PICKER_WINDOW";
constexpr int kChecked = 4; // AT-SPI's state numbers
constexpr int kCollapsed = 5;

// The other program (this executable again, with the variable set): a window with the
// picker under its label, Owen chosen.
TEST(PickerWindow, Helper)
{
    if (!qEnvironmentVariableIsSet(kHelperVariable))
        return;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Picker"));
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral("&To:"), &window);
    auto* picker = new CMultiSelComboBox(&window);
    label->setBuddy(picker);
    layout->addWidget(label);
    layout->addWidget(picker);
    for (const char* name : {"Owen", "R.T.", "Ann"})
        picker->AddEntry(QString::fromLatin1(name), 1);
    picker->SetSelected(picker->FindEntry(QStringLiteral("Owen")), true);
    picker->UpdateText();
    window.show();
    QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
    QApplication::exec();
}

TEST(PickerScreenReaderTest, TheToPickerIsAComboBoxWithItsEntries)
{
    if (qEnvironmentVariableIsSet(kHelperVariable))
        return;
    AtSpiBus bus;
    ASSERT_TRUE(bus.Connect()) << "no accessibility bus on the session bus";

    QProcess helper;
    ASSERT_TRUE(StartAccessibleHelper(helper, kHelperVariable, "PickerWindow.Helper"));

    AtSpiObject picker;
    EXPECT_TRUE(WaitFor(
        [&] {
            return bus.Find(kAtSpiRoot, QStringLiteral("To:"), picker, QStringLiteral("combo box"));
        },
        15000))
        << "no combo box named \"To:\" on the accessibility bus";
    if (!picker.Path.isEmpty()) {
        EXPECT_TRUE(bus.States(picker) & (uint64_t{1} << kCollapsed));
        const std::vector<AtSpiObject> children = bus.Children(picker);
        ASSERT_EQ(children.size(), 1u);
        const AtSpiObject& list = children[0];
        EXPECT_EQ(bus.Role(list), QStringLiteral("list"));
        EXPECT_EQ(bus.Name(list), QStringLiteral("To:"));
        std::vector<std::pair<QString, bool>> entries;
        for (const AtSpiObject& entry : bus.Children(list))
            if (bus.Role(entry) == QStringLiteral("list item"))
                entries.emplace_back(bus.Name(entry),
                                     (bus.States(entry) & (uint64_t{1} << kChecked)) != 0);
        EXPECT_EQ(entries,
                  (std::vector<std::pair<QString, bool>>{{QStringLiteral("Ann"), false},
                                                         {QStringLiteral("Owen"), true},
                                                         {QStringLiteral("R.T."), false}}));
    }
    helper.kill();
    helper.waitForFinished();
}

} // namespace
